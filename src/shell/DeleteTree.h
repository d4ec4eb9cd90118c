#pragma once
// Permanent deletion of files and directory trees. Works relative to directory
// descriptors, never follows a symbolic link, never enters another file system, and goes
// to any depth with a bounded number of open descriptors. No global state: one deleter per
// worker thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qv {

// One entry that could not be deleted: its path, the errno and the system's message.
struct TDeleteFailure {
    std::string Path;
    int Error = 0;
    std::string Message;
};

// What has been deleted so far by one deleter.
struct TDeleteProgress {
    std::int64_t Items = 0;
    std::int64_t Bytes = 0;
    std::string CurrentPath;
};

// Deletes items one at a time; failures and progress add up over every Delete call of the
// same deleter, so that a selection of several items shares one report and one cancel.
class TTreeDeleter {
public:
    // Called on the deleting thread, at most once per ProgressInterval.
    std::function<void(const TDeleteProgress&)> OnProgress;
    std::chrono::milliseconds ProgressInterval{50};

    // Deletes the item at the absolute Path. ExpectDirectory is what the caller saw
    // earlier: when the item's kind no longer matches (a directory replaced by a symbolic
    // link, say), nothing is deleted and a failure (ENOTDIR or EISDIR) is reported. A
    // symbolic link is deleted as a link. Entries that cannot be deleted are reported in
    // Failures() while the rest goes on. A directory that is itself the mount point of
    // another file system is refused (EXDEV); so are one inside it, whose parents then stay
    // (ENOTEMPTY). An item that no longer exists is reported (ENOENT). Returns true only when
    // this call removed the item.
    bool Delete(const std::string& Path, bool ExpectDirectory);

    // Asks a running Delete to stop after the current entry (from any thread). The deleter
    // stays cancelled: every later Delete returns false at once, without a failure.
    void Cancel() noexcept { Cancelled.store(true, std::memory_order_relaxed); }
    [[nodiscard]] bool IsCancelled() const noexcept {
        return Cancelled.load(std::memory_order_relaxed);
    }

    // The entries that could not be deleted, in the order met. Like Progress, read it on
    // the deleting thread or after Delete has returned.
    [[nodiscard]] const std::vector<TDeleteFailure>& Failures() const noexcept {
        return FailureList;
    }
    // The totals so far (CurrentPath: the last entry reported).
    [[nodiscard]] const TDeleteProgress& Progress() const noexcept { return Done; }

private:
    class TWalk;

    void AddFailure(const std::string& Path, int Error);
    void Count(std::int64_t Bytes, const std::string& Path);

    std::atomic<bool> Cancelled{false};
    std::vector<TDeleteFailure> FailureList;
    TDeleteProgress Done;
    std::chrono::steady_clock::time_point LastReport{};
};

} // namespace qv
