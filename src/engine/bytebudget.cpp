#include "engine/bytebudget.h"

namespace cueprune {

ByteBudget::ByteBudget(qint64 total)
    : total(total)
    , available(total)
{
}

qint64 ByteBudget::take(qint64 bytes)
{
    const qint64 needed = qMin(bytes, total);
    QMutexLocker lock(&mutex);
    while (available < needed)
        released.wait(&mutex);
    available -= needed;
    return needed;
}

void ByteBudget::giveBack(qint64 bytes)
{
    QMutexLocker lock(&mutex);
    available += bytes;
    released.wakeAll();
}

} // namespace cueprune
