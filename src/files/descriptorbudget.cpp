#include "files/descriptorbudget.h"

#include "files/processedges.h"

#include <QtGlobal>

namespace cueprune {

namespace {

constexpr int keptFree = 16;
constexpr int ofTheWalk = 2;
// Reading ahead waits for the room of the sheets under way and of Qt itself.
constexpr int beforeReadingAhead = 64;
// A folder read ahead holds a descriptor until the walk reaches it, and so do its sheets then.
constexpr int perFolderAhead = 4;

} // namespace

DescriptorBudget::DescriptorBudget()
    : free(descriptorsFree())
{
}

int DescriptorBudget::workers(int wanted) const
{
    return qBound(1, (free - keptFree) / perSheet, qMax(1, wanted));
}

int DescriptorBudget::foldersAhead(int atMost, int atLeast) const
{
    const int room = (free - beforeReadingAhead) / perFolderAhead;
    return room < atLeast ? 0 : qMin(room, atMost);
}

bool DescriptorBudget::roomForAnother(int workers, int folders) const
{
    return folders + workers * perSheet + ofTheWalk < free;
}

} // namespace cueprune
