#include "files/failure.h"

#include <cerrno>

namespace cueprune {

Failure Failure::fromErrno(int error, Reason whenRefused)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return { Reason::Missing, error };
    case EACCES:
    case EPERM:
    case EROFS:
        return { whenRefused, error };
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return { Reason::DiskFull, error };
    default:
        return { Reason::SystemError, error };
    }
}

bool linksRefused(int error)
{
    return error == EPERM || error == EMLINK || error == EXDEV || error == ENOTSUP
        || error == EOPNOTSUPP;
}

} // namespace cueprune
