#include "files/newfile.h"

namespace cueprune {

std::optional<Failure> writeAll(int descriptor, const QByteArray &bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t count
            = ::write(descriptor, bytes.constData() + written, std::size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return Failure::fromErrno(errno, Failure::Reason::WriteRefused);
        if (count == 0)
            return Failure { Failure::Reason::DiskFull, ENOSPC };
        written += count;
    }
    return std::nullopt;
}

} // namespace cueprune
