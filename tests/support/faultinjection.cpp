// Preloaded into a child to make chosen system calls fail as a dying drive or a file system
// without unnamed files would, take long as on a slow disk, or to swap a directory entry as
// another user could while a run goes on. FAULTS lists them, separated by commas: "fsync",
// "tmpfile", "slowfsync" (5 ms a flush). SWAP_ENTRY names an entry: the first time it is
// opened with openat, it is renamed to "<entry>.away" and replaced, just before the open, by
// a symbolic link to SWAP_LINK or by the file or folder at SWAP_MOVE.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool failing(const char *call)
{
    const char *faults = std::getenv("FAULTS");
    if (!faults)
        return false;
    const std::string list = std::string(",") + faults + ",";
    return list.find(std::string(",") + call + ",") != std::string::npos;
}

template <typename Function> Function real(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void swapOnce(int folder, const char *name)
{
    static std::atomic<bool> swapped { false };
    const char *entry = std::getenv("SWAP_ENTRY");
    if (!entry || std::strcmp(entry, name) != 0 || swapped.exchange(true))
        return;
    const int saved = errno;
    renameat(folder, name, folder, (std::string(name) + ".away").c_str());
    if (const char *link = std::getenv("SWAP_LINK"))
        symlinkat(link, folder, name);
    else if (const char *moved = std::getenv("SWAP_MOVE"))
        renameat(AT_FDCWD, moved, folder, name);
    errno = saved;
}

} // namespace

extern "C" int fsync(int fd)
{
    if (failing("slowfsync"))
        usleep(5000);
    if (failing("fsync")) {
        errno = EIO;
        return -1;
    }
    static const auto next = real<int (*)(int)>("fsync");
    return next(fd);
}

extern "C" int openat(int folder, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if ((flags & O_TMPFILE) == O_TMPFILE && failing("tmpfile")) {
        errno = EOPNOTSUPP;
        return -1;
    }
    swapOnce(folder, path);
    static const auto next = real<int (*)(int, const char *, int, ...)>("openat");
    return next(folder, path, flags, mode);
}
