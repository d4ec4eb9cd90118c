#pragma once
// Watches the mount table for drives that come and go.
//
// The kernel marks an open /proc/self/mountinfo with POLLPRI|POLLERR whenever the mount
// namespace changes. A worker thread waits for that with poll(), reads the table again and
// compares its drives (ListDrives of Mounts.h, the same set GetDriveList lists) with those
// of the previous reading, by mount point.
//
// What counts as a change: a mount point that is a drive now and was none before is added;
// one that was a drive and is none now is removed; a mount point whose mount was replaced
// (another file system stacked on it, or unmounted and mounted again between two readings)
// is reported removed and then added, since the drive there is a different one. A remount
// that only changes options (read-only, noexec, ...), and mounts that are no drive (kernel
// pseudo file systems, a second mount of a listed file system) give no report.
//
// Threading: the constructor reads the first table on the calling thread, so every change
// after it returns is reported. OnChange runs on the worker thread, one call at a time, and
// must not destroy the watch (the destructor joins the worker). Stop and the destructor may
// be called from any other thread, one at a time; Stop from inside OnChange only asks the
// worker to end. No lock is shared with the caller: after the constructor, the previous
// table belongs to the worker.

#include "platform/DirReader.h"
#include "platform/Mounts.h"

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace qv {

// One report: the drives added and removed since the previous one, each in the order of
// the mount table. A removed drive carries the type and mount it had while it was there,
// so dtRemovable still tells a removable drive from a fixed one.
struct TMountChanges {
    std::vector<TDrive> Added;
    std::vector<TDrive> Removed;
};

using TMountChangeEvent = std::function<void(const TMountChanges& Changes)>;

class TMountWatch {
public:
    // Starts watching. Removable answers whether a block device is removable (see
    // ListDrives); it runs on the worker. Throws std::system_error when the mount table
    // cannot be opened or the worker cannot be started.
    explicit TMountWatch(TMountChangeEvent OnChange,
                         TRemovableQuery Removable = IsRemovableBlockDevice);
    ~TMountWatch();
    TMountWatch(const TMountWatch&) = delete;
    TMountWatch& operator=(const TMountWatch&) = delete;

    // Ends the worker and, unless called from OnChange, waits for it; a report being
    // delivered is finished first. Idempotent.
    void Stop() noexcept;

    // True when this system has a mount table to watch (/proc is mounted).
    [[nodiscard]] static bool Supported() noexcept;

private:
    void Run() noexcept;
    void Reread();

    TMountChangeEvent OnChange;
    TRemovableQuery Removable;
    TFd MountInfo;
    TFd Wake; // an eventfd: the worker leaves as soon as it is readable
    std::vector<TDrive> Last;
    bool HaveTable = false;
    std::atomic<bool> Stopping{false};
    std::thread Worker;
};

} // namespace qv
