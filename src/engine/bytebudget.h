#pragma once

#include <QMutex>
#include <QWaitCondition>

namespace cueprune {

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

    // What one sheet takes of a budget (if any), given back when it is destroyed.
    class Share
    {
    public:
        explicit Share(ByteBudget *budget)
            : budget(budget)
        {
        }
        ~Share() { giveBack(); }
        Share(const Share &) = delete;
        Share &operator=(const Share &) = delete;

        void take(qint64 bytes)
        {
            if (budget)
                taken += budget->take(bytes);
        }
        // Gives back early what was taken, before a wait that others' room may depend on.
        void giveBack()
        {
            if (budget && taken > 0)
                budget->giveBack(taken);
            taken = 0;
        }

    private:
        ByteBudget *const budget;
        qint64 taken = 0;
    };

private:
    QMutex mutex;
    QWaitCondition released;
    const qint64 total;
    qint64 available;
};

} // namespace cueprune
