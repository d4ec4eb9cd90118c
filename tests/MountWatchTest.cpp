// The mount table watch against real mounts in a private mount namespace.

#include "platform/MountWatch.h"

#include "TestTree.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qv {
namespace {

using namespace std::chrono_literals;

// Collects the watch's reports from its worker thread.
class TReports {
public:
    TMountChangeEvent Handler() {
        return [this](const TMountChanges& Changes) {
            std::lock_guard guard(Lock);
            List.push_back(Changes);
            Changed.notify_all();
        };
    }
    // The Count-th report (from 1), once it has come; nullopt after 10 s without it.
    std::optional<TMountChanges> Wait(std::size_t Count) {
        std::unique_lock guard(Lock);
        if (!Changed.wait_for(guard, 10s, [&] { return List.size() >= Count; }))
            return std::nullopt;
        return List[Count - 1];
    }
    std::size_t Size() {
        std::lock_guard guard(Lock);
        return List.size();
    }

private:
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<TMountChanges> List;
};

// A child cannot use gtest's checks: it names the failed condition and exits with 1.
#define CHILD_CHECK(cond)                                                                          \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "child check failed, line %d: %s\n", __LINE__, #cond);            \
            return 1;                                                                              \
        }                                                                                          \
    } while (0)

bool MountTmpfs(const std::string& Dir) {
    return ::mount("none", Dir.c_str(), "tmpfs", 0, "size=1m") == 0;
}

bool Is(const std::vector<TDrive>& Drives, const std::string& Root, TDriveType Type) {
    return Drives.size() == 1 && Drives[0].Root == Root && Drives[0].Type == Type;
}

TEST(MountWatchTest, ReportsDrivesAddedReplacedAndRemoved) {
    test::TTempDir work;
    work.MkDir("top");
    const std::string top = work / "top";
    const int rc = test::InMountNamespace([&]() -> int {
        // Mounted before the watch starts: part of its first table, never reported.
        CHILD_CHECK(MountTmpfs(top));
        const std::string a = top + "/a", b = top + "/b", p = top + "/p";
        for (const std::string& dir : {a, b, p})
            CHILD_CHECK(::mkdir(dir.c_str(), 0755) == 0);
        TReports reports;
        TMountWatch watch(reports.Handler());

        CHILD_CHECK(MountTmpfs(a));
        auto r = reports.Wait(1);
        CHILD_CHECK(r && Is(r->Added, a, dtRAMDisk) && r->Removed.empty());

        // Neither a remount with other options nor a pseudo file system is a drive change:
        // the next report is about b alone.
        CHILD_CHECK(::mount("none", a.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        CHILD_CHECK(::mount("proc", p.c_str(), "proc", 0, nullptr) == 0);
        CHILD_CHECK(MountTmpfs(b));
        r = reports.Wait(2);
        CHILD_CHECK(r && Is(r->Added, b, dtRAMDisk) && r->Removed.empty());

        // Another file system over b is another drive at the same place.
        CHILD_CHECK(MountTmpfs(b));
        r = reports.Wait(3);
        CHILD_CHECK(r && Is(r->Added, b, dtRAMDisk) && Is(r->Removed, b, dtRAMDisk));
        CHILD_CHECK(r->Added[0].Mount.MountId != r->Removed[0].Mount.MountId);

        CHILD_CHECK(::umount(a.c_str()) == 0);
        r = reports.Wait(4);
        CHILD_CHECK(r && r->Added.empty() && Is(r->Removed, a, dtRAMDisk));
        watch.Stop();
        CHILD_CHECK(reports.Size() == 4);
        return 0;
    });
    if (rc == 77)
        GTEST_SKIP() << "no private mount namespace (needs root)";
    EXPECT_EQ(rc, 0);
}

TEST(MountWatchTest, StopsPromptlyWhileWaiting) {
    TReports reports;
    {
        TMountWatch watch(reports.Handler());
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(test::LiveThreads("QvMountWatch"), 1);
        const auto start = std::chrono::steady_clock::now();
        watch.Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_EQ(test::LiveThreads("QvMountWatch"), 0);
        watch.Stop();
    }
    EXPECT_EQ(reports.Size(), 0u);
}

} // namespace
} // namespace qv
