// Preloaded into a child to make chosen system calls fail as a dying drive or a file system
// without unnamed files would, or take long as on a slow disk. FAULTS names them: "fsync",
// "tmpfile", "slowfsync" (5 ms a flush).
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

bool failing(const char *call)
{
    const char *faults = std::getenv("FAULTS");
    return faults && std::strstr(faults, call);
}

template <typename Function> Function real(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd)
{
    if (failing("slowfsync"))
        usleep(5000);
    else if (failing("fsync")) {
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
    static const auto next = real<int (*)(int, const char *, int, ...)>("openat");
    return next(folder, path, flags, mode);
}
