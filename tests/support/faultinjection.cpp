// Preloaded into a child to make chosen system calls fail as a dying drive or a file system
// without unnamed files would, take long as on a slow disk, or to swap a directory entry as
// another user could while a run goes on. FAULTS lists them, separated by commas: "fsync",
// "tmpfile", "slowfsync" (5 ms a flush), "killatrename" (SIGKILL just before a temporary's rename).
// Two more end the child at once when it opens what it must never open: "lowdescriptor" (exit 97)
// when a file other than /dev/null gets descriptor 0, 1 or 2; "device" (exit 98) when a device or
// FIFO outside /dev is opened for real. SWAP_ENTRY names an entry: the first time it is opened with
// openat, it is renamed to "<entry>.away" and replaced, just before the open, by a symbolic link to
// SWAP_LINK or by the file or folder at SWAP_MOVE. As on file systems that lack what Linux's have:
// "openunlink" refuses, as SMB does, to remove a file that this process holds open (EBUSY);
// LISTXATTR_FILE and LISTXATTR_FOLDER give an errno number with which listing the extended
// attributes of a regular file, or of a folder, fails. A test may also link these calls into
// itself and set the variables as it goes.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
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

// Once for each swap asked: a test that preloads the library into itself asks for several.
void swapOnce(int folder, const char *name)
{
    const char *entry = std::getenv("SWAP_ENTRY");
    if (!entry || std::strcmp(entry, name) != 0)
        return;
    const char *link = std::getenv("SWAP_LINK");
    const char *moved = std::getenv("SWAP_MOVE");
    const std::string swap
        = std::string(entry) + '\0' + (link ? link : "") + '\0' + (moved ? moved : "");
    static std::mutex mutex;
    static std::string done;
    const std::lock_guard lock(mutex);
    if (done == swap)
        return;
    done = swap;
    const int saved = errno;
    renameat(folder, name, folder, (std::string(name) + ".away").c_str());
    if (link)
        symlinkat(link, folder, name);
    else if (moved)
        renameat(AT_FDCWD, moved, folder, name);
    errno = saved;
}

// Checks what an open gave, for the "lowdescriptor" and "device" faults.
int checkOpened(const char *path, int flags, int fd)
{
    if (fd < 0)
        return fd;
    const bool inDev = std::strncmp(path, "/dev/", 5) == 0;
    if (fd <= 2 && std::strcmp(path, "/dev/null") != 0 && failing("lowdescriptor"))
        _exit(97);
    struct stat status = {};
    if (!(flags & O_PATH) && !inDev && failing("device") && fstat(fd, &status) == 0
        && (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) || S_ISFIFO(status.st_mode)))
        _exit(98);
    return fd;
}

// Whether name in folder is a file that this process holds open.
bool heldOpen(int folder, const char *name)
{
    struct stat target = {};
    DIR *descriptors = opendir("/proc/self/fd");
    if (!descriptors || fstatat(folder, name, &target, AT_SYMLINK_NOFOLLOW) != 0) {
        if (descriptors)
            closedir(descriptors);
        return false;
    }
    bool held = false;
    while (const dirent *entry = readdir(descriptors)) {
        struct stat open = {};
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd != dirfd(descriptors) && fstat(fd, &open) == 0
            && open.st_dev == target.st_dev && open.st_ino == target.st_ino)
            held = true;
    }
    closedir(descriptors);
    return held;
}

mode_t modeArgument(int flags, va_list arguments)
{
    const bool created = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
    return created ? va_arg(arguments, mode_t) : 0;
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

extern "C" int renameat(int fromFolder, const char *from, int toFolder, const char *to)
{
    if (failing("killatrename") && std::strncmp(from, ".cueprune-", 10) == 0)
        raise(SIGKILL);
    static const auto next = real<int (*)(int, const char *, int, const char *)>("renameat");
    return next(fromFolder, from, toFolder, to);
}

extern "C" int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    static const auto next = real<int (*)(const char *, int, ...)>("open");
    return checkOpened(path, flags, next(path, flags, mode));
}

extern "C" int openat(int folder, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    if ((flags & O_TMPFILE) == O_TMPFILE && failing("tmpfile")) {
        errno = EOPNOTSUPP;
        return -1;
    }
    swapOnce(folder, path);
    static const auto next = real<int (*)(int, const char *, int, ...)>("openat");
    return checkOpened(path, flags, next(folder, path, flags, mode));
}

extern "C" int unlinkat(int folder, const char *name, int flags)
{
    if (failing("openunlink") && heldOpen(folder, name)) {
        errno = EBUSY;
        return -1;
    }
    static const auto next = real<int (*)(int, const char *, int)>("unlinkat");
    return next(folder, name, flags);
}

extern "C" ssize_t flistxattr(int fd, char *list, size_t size)
{
    struct stat status = {};
    const char *error = fstat(fd, &status) == 0
        ? std::getenv(S_ISDIR(status.st_mode) ? "LISTXATTR_FOLDER" : "LISTXATTR_FILE")
        : nullptr;
    if (error && std::atoi(error) != 0) {
        errno = std::atoi(error);
        return -1;
    }
    static const auto next = real<ssize_t (*)(int, char *, size_t)>("flistxattr");
    return next(fd, list, size);
}
