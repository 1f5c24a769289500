#pragma once

#include <QMutex>
#include <QWaitCondition>

// Bounds the bytes of sheets held in memory at once, across threads: a sheet waits for room
// before it is read, so that a few of the largest sheets do not multiply by the number of
// workers. A sheet needs room for itself and its pruned copy; one larger than the whole
// budget waits until it has all of it.
class ByteBudget
{
public:
    explicit ByteBudget(qint64 total);
    // Blocks until bytes (at most the total) are free, then takes them.
    qint64 take(qint64 bytes);
    void giveBack(qint64 bytes);

private:
    QMutex mutex;
    QWaitCondition released;
    const qint64 total;
    qint64 available;
};
