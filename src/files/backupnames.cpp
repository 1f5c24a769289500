#include "files/backupnames.h"

#include <algorithm>

namespace cueprune {

QByteArray numberedBackupName(QByteArrayView name, int number)
{
    return name.toByteArray() + ".~" + QByteArray::number(number) + '~';
}

std::optional<int> backupNumber(QByteArrayView candidate, QByteArrayView name)
{
    const qsizetype prefix = name.size() + 2;
    if (candidate.size() <= prefix + 1 || !candidate.startsWith(name)
        || candidate.sliced(name.size(), 2) != QByteArrayView(".~") || !candidate.endsWith('~'))
        return std::nullopt;
    const QByteArrayView digits = candidate.sliced(prefix, candidate.size() - prefix - 1);
    bool number
        = std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int value = number ? digits.toInt(&number) : 0;
    return number ? std::optional<int>(value) : std::nullopt;
}

} // namespace cueprune
