#include "platform/MountWatch.h"

#include "platform/Drives.h"

#include "platform/SysError.h"
#include "support/QvLogger.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace qv {
namespace {

constexpr const char* MountInfoPath = "/proc/self/mountinfo";

// The mount id changes with every new mount and stays through a remount, so it tells a
// replaced drive from one whose options changed.
bool SameMount(const TDrive& A, const TDrive& B) {
    return A.Root == B.Root && A.Mount.MountId == B.Mount.MountId;
}

TMountChanges CompareDrives(const std::vector<TDrive>& Before, const std::vector<TDrive>& After) {
    TMountChanges changes;
    for (const TDrive& old : Before)
        if (std::none_of(After.begin(), After.end(),
                         [&](const TDrive& d) { return SameMount(d, old); }))
            changes.Removed.push_back(old);
    for (const TDrive& now : After)
        if (std::none_of(Before.begin(), Before.end(),
                         [&](const TDrive& d) { return SameMount(d, now); }))
            changes.Added.push_back(now);
    return changes;
}

} // namespace

TMountWatch::TMountWatch(TMountChangeEvent OnChange, TRemovableQuery Removable)
    : OnChange(std::move(OnChange)), Removable(std::move(Removable)) {
    // Opened before the first reading: the kernel compares each poll with the state at
    // open, so a change between the two is seen again rather than lost.
    MountInfo.Reset(::open(MountInfoPath, O_RDONLY | O_CLOEXEC));
    if (!MountInfo.Valid())
        throw std::system_error(errno, std::generic_category(), MountInfoPath);
    Wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!Wake.Valid())
        throw std::system_error(errno, std::generic_category(), "eventfd");
    const std::vector<TMountEntry> table = ReadMountTable();
    HaveTable = !table.empty();
    Last = ListedDrives(table, this->Removable);
    Worker = std::thread([this] { Run(); });
}

TMountWatch::~TMountWatch() {
    Stop();
}

void TMountWatch::Stop() noexcept {
    if (!Stopping.exchange(true)) {
        const std::uint64_t one = 1;
        // Cannot block: the counter of a fresh eventfd is far from its limit.
        while (::write(Wake.Get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    if (Worker.joinable() && Worker.get_id() != std::this_thread::get_id())
        Worker.join();
}

bool TMountWatch::Supported() noexcept {
    return ::access(MountInfoPath, R_OK) == 0;
}

void TMountWatch::Run() noexcept {
    // Named, so that a debugger, top and the tests can tell it from the scan threads.
    ::pthread_setname_np(::pthread_self(), "QvMountWatch");
    // Never POLLIN: the table is always readable.
    pollfd fds[2] = {{MountInfo.Get(), POLLPRI, 0}, {Wake.Get(), POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            LogError("Watching the mount table failed - " + SysErrorMessage(errno));
            return;
        }
        if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL) != 0)
            return;
        if ((fds[0].revents & (POLLPRI | POLLERR)) == 0)
            continue;
        try {
            Reread();
        } catch (const std::exception& e) {
            // Out of memory, most likely: the next change tries again.
            LogError(std::string("Reading the mount table failed: ") + e.what());
        }
    }
}

void TMountWatch::Reread() {
    std::vector<TMountEntry> table = ReadMountTable();
    // A namespace always has its root mounted: an empty table means that the read failed,
    // and reporting every drive as removed would be wrong.
    if (table.empty()) {
        LogDebug(std::string(MountInfoPath) + " could not be read");
        return;
    }
    std::vector<TDrive> drives = ListedDrives(table, Removable);
    // Without a first table every drive would look new.
    if (!HaveTable) {
        HaveTable = true;
        Last = std::move(drives);
        return;
    }
    TMountChanges changes = CompareDrives(Last, drives);
    Last = std::move(drives);
    if ((changes.Added.empty() && changes.Removed.empty()) || Stopping.load())
        return;
    try {
        OnChange(changes);
    } catch (const std::exception& e) {
        // The watch has to outlive a handler's failure, or no later change would arrive.
        LogError(std::string("A mount table change handler failed: ") + e.what());
    } catch (...) {
        LogError("A mount table change handler failed");
    }
}

} // namespace qv
