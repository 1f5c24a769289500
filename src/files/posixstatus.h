#pragma once

#include "files/filekey.h"

#include <sys/stat.h>

namespace cueprune {

inline FileKey keyOf(const struct stat &status)
{
    return { quint64(status.st_dev), quint64(status.st_ino) };
}

inline qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace cueprune
