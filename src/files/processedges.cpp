#include "files/processedges.h"

#include <QtGlobal>

#include <cerrno>
#include <limits>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cueprune {

// A Windows GUI program has no standard descriptors and no such limit to raise.
#ifdef _WIN32

bool openClosedStandardDescriptors()
{
    return true;
}

void raiseDescriptorLimit() { }

int descriptorLimit()
{
    return std::numeric_limits<int>::max();
}

int descriptorsFree()
{
    return std::numeric_limits<int>::max();
}

#else

bool openClosedStandardDescriptors()
{
    for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
        if (::fcntl(standard, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free number is the closed one: those below it are open already.
        const int null = ::open("/dev/null", standard == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null != standard) {
            if (null >= 0)
                ::close(null);
            return false;
        }
    }
    return true;
}

void raiseDescriptorLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int descriptorLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<int>::max();
    return int(qMin<rlim_t>(limit.rlim_cur, std::numeric_limits<int>::max()));
}

int descriptorsFree()
{
    // Beyond a few thousand, what is open hardly matters: those are not counted one by one.
    constexpr int counted = 4096;
    const int limit = descriptorLimit();
    if (limit > counted)
        return limit - 64;
    int free = 0;
    for (int fd = 0; fd < limit; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            ++free;
    }
    return free;
}

#endif

bool allWritten(std::FILE *stream)
{
    return std::fflush(stream) == 0 && !std::ferror(stream);
}

bool writtenOut(int fd)
{
#ifdef _WIN32
    return _commit(fd) == 0 || errno == EBADF;
#else
    struct stat status = {};
    return ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || ::fdatasync(fd) == 0;
#endif
}

} // namespace cueprune
