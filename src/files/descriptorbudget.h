#pragma once

namespace cueprune {

// The descriptors a run may hold, shared out from one count taken when the run is set up:
// some kept free for Qt and the standard streams, up to three for each sheet under way, two
// for the walk's own short needs (a subfolder, a leftover), one for each folder held, and the
// folders the walk reads ahead. A low limit slows a run rather than failing its sheets.
class DescriptorBudget
{
public:
    // From the descriptors free now.
    DescriptorBudget();
    explicit DescriptorBudget(int free)
        : free(free)
    {
    }

    // A sheet under way holds up to three at once: the entry or the sheet, its new text, and a
    // listing of its folder or a backup's copy.
    static constexpr int perSheet = 3;

    // The workers there is room for, at least one and at most wanted.
    [[nodiscard]] int workers(int wanted) const;
    // The folders the walk may hold read ahead of it; none when that leaves too little room.
    [[nodiscard]] int foldersAhead(int atMost, int atLeast) const;
    // Whether a batch with workers, whose items and walk hold folders open, may take one more.
    [[nodiscard]] bool roomForAnother(int workers, int folders) const;

private:
    int free;
};

} // namespace cueprune
