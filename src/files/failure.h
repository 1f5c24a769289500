#pragma once

#include <optional>
#include <utility>

namespace cueprune {

// Why a sheet or a folder could not be handled, kept from the call that failed up to the
// program that shows it.
struct Failure
{
    enum class Reason {
        Missing, // nothing at the path, or the entry went away
        NotRegularFile, // a folder, device, FIFO or socket named like a sheet
        TooLarge, // over maxSheetSize, so never read
        ReadRefused, // no permission to read
        WriteRefused, // no permission to replace the sheet in its folder
        OwnerOrModeNotKept, // the new file could not be given the sheet's owner, group or mode
        AttributesNotKept, // nor its extended attributes or ACLs
        DiskFull, // no space or quota left, or past the file-size limit
        FlushFailed, // the disk did not confirm the new text
        ChangedWhileRead, // the sheet grew or shrank while being read
        ChangedBeforeReplace, // someone else wrote or replaced the sheet since it was read
        StaleCache, // a FUSE or network file system's cache and its server disagree on the sheet
        SwappedDuringWalk, // the entry is no longer what the listing saw (a link, another file)
        FolderUnreadable, // a folder that cannot be opened or listed
        BackupFailed, // the sheet could not be kept under its backup name
        WayBackNotWritten, // the change's diff or record could not be written out before it
        SystemError, // anything else: systemError holds errno
    };

    Reason reason = Reason::SystemError;
    int systemError = 0;

    // The failure a system call's errno means: whenRefused for a permission error.
    [[nodiscard]] static Failure fromErrno(int error, Reason whenRefused);
};

// A value, or the failure that kept it from being made.
template <typename T> class Result
{
public:
    Result(T value)
        : content(std::move(value))
    {
    }
    Result(Failure failure)
        : why(failure)
    {
    }

    explicit operator bool() const { return content.has_value(); }
    T &operator*() { return *content; }
    const T &operator*() const { return *content; }
    T *operator->() { return &*content; }
    const T *operator->() const { return &*content; }
    const Failure &failure() const { return why; }

private:
    std::optional<T> content;
    Failure why;
};

// Whether error is what a file system that keeps no second link to a file (FAT, exFAT, some
// shares) gives for a link: a backup is then a copy, and a failed one says so.
[[nodiscard]] bool linksRefused(int error);

} // namespace cueprune
