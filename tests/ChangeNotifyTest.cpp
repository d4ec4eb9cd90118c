// Drive notifications from real mounts in a private mount namespace, raised by a real Qt
// event loop.

#include "TestTree.h"
#include "shell/SHChangeNotify.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <chrono>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <thread>
#include <vector>

namespace qv {
namespace {

using test::TTempDir;

// Entered before Qt starts its threads: unshare refuses a process that has several.
const bool PrivateMounts = test::EnterPrivateMountNamespace();

struct TEvent {
    std::uint32_t Flags;
    std::string Path;
    bool OnGuiThread;
    bool operator==(const TEvent&) const = default;
};

void PrintTo(const TEvent& E, std::ostream* Out) {
    *Out << std::hex << E.Flags << " " << E.Path << (E.OnGuiThread ? "" : " (worker)");
}

class ChangeNotifyTest : public testing::Test {
protected:
    void SetUp() override {
        if (!PrivateMounts)
            GTEST_SKIP() << "no private mount namespace (needs root)";
        // A tmpfs of our own to mount on: the mount points go away with it.
        Dir.MkDir("top");
        ASSERT_TRUE(Mount(Top));
    }
    void TearDown() override {
        if (PrivateMounts)
            ::umount2(Top.c_str(), MNT_DETACH);
    }

    static bool Mount(const std::string& Path) {
        std::filesystem::create_directories(Path);
        return ::mount("none", Path.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    TOneParmEvent Recorder() {
        return [this](TSHChangeNotify*, std::uint32_t Flags, const std::string& Path) {
            Events.push_back({Flags, Path, QThread::currentThread() == qApp->thread()});
        };
    }
    bool WaitForEvents(std::size_t Count) {
        return QTest::qWaitFor([&] { return Events.size() >= Count; }, 10000);
    }

    TTempDir Dir;
    const std::string Top = Dir / "top";
    std::vector<TEvent> Events;
};

TEST_F(ChangeNotifyTest, DriveEventsArriveOnTheGuiThreadWithTheMountPoint) {
    TSHChangeNotify notify;
    // Top, a RAM disk, is no fixed drive.
    notify.HardDriveOnly = false;
    notify.OnDriveAdd = notify.OnDriveRemoved = Recorder();
    notify.Execute();
    ASSERT_TRUE(notify.Registered());
    const std::string a = Top + "/a";
    ASSERT_TRUE(Mount(a));
    ASSERT_TRUE(WaitForEvents(1));
    ASSERT_EQ(::umount(a.c_str()), 0);
    ASSERT_TRUE(WaitForEvents(2));
    // The same event again, but not in a row.
    ASSERT_TRUE(Mount(a));
    ASSERT_TRUE(WaitForEvents(3));
    const std::vector<TEvent> expected{
        {seDriveAdd, a, true}, {seDriveRemoved, a, true}, {seDriveAdd, a, true}};
    EXPECT_EQ(Events, expected);
}

TEST_F(ChangeNotifyTest, TextCaseChangesOnlyAsciiLetters) {
    TSHChangeNotify asIs, upper, lower;
    upper.TextCase = tcUppercase;
    lower.TextCase = tcLowercase;
    std::string paths[3];
    for (TSHChangeNotify* n : {&asIs, &upper, &lower}) {
        n->HardDriveOnly = false;
        n->OnDriveAdd = [&, n](TSHChangeNotify* Sender, std::uint32_t, const std::string& Path) {
            EXPECT_EQ(Sender, n);
            paths[n == &asIs ? 0 : n == &upper ? 1 : 2] = Path;
        };
        n->Execute();
    }
    const std::string name = "/Mnt-\xC3\xA4\xC3\x84z";
    ASSERT_TRUE(Mount(Top + name));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !paths[0].empty() && !paths[1].empty() && !paths[2].empty(); }, 10000));
    EXPECT_EQ(paths[0], Top + name);
    ASSERT_TRUE(paths[1].ends_with("/TOP/MNT-\xC3\xA4\xC3\x84Z")) << paths[1];
    ASSERT_TRUE(paths[2].ends_with("/top/mnt-\xC3\xA4\xC3\x84z")) << paths[2];
}

TEST_F(ChangeNotifyTest, HardDriveOnlyWatchesFixedDrivesOnly) {
    TSHChangeNotify notify;
    ASSERT_TRUE(notify.HardDriveOnly);
    notify.OnDriveAdd = Recorder();
    notify.Execute();
    // A RAM disk first: had it counted, its event would come before the overlay's.
    const std::string ram = Top + "/ram";
    ASSERT_TRUE(Mount(ram));
    for (const char* dir : {"/l", "/u", "/w", "/m"})
        std::filesystem::create_directory(ram + dir);
    const std::string overlay = ram + "/m";
    const std::string options =
        "lowerdir=" + ram + "/l,upperdir=" + ram + "/u,workdir=" + ram + "/w";
    if (::mount("overlay", overlay.c_str(), "overlay", 0, options.c_str()) != 0)
        GTEST_SKIP() << "no overlay file system";
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(Events, (std::vector<TEvent>{{seDriveAdd, overlay, true}}));
}

TEST_F(ChangeNotifyTest, SameNotificationTwiceInARowGivesOneEvent) {
    TSHChangeNotify notify;
    notify.HardDriveOnly = false;
    // Without a handler the removal is no notification, so the second mount repeats the
    // first; a path that differs in case only is another drive.
    notify.OnDriveAdd = Recorder();
    notify.Execute();
    const std::string a = Top + "/a", upperA = Top + "/A";
    ASSERT_TRUE(Mount(a));
    ASSERT_TRUE(WaitForEvents(1));
    ASSERT_EQ(::umount(a.c_str()), 0);
    ASSERT_TRUE(Mount(a));
    ASSERT_TRUE(Mount(upperA));
    ASSERT_TRUE(WaitForEvents(2));
    QTest::qWait(200);
    EXPECT_EQ(Events, (std::vector<TEvent>{{seDriveAdd, a, true}, {seDriveAdd, upperA, true}}));
}

TEST_F(ChangeNotifyTest, DeregisterAndEndOfSessionStopEvents) {
    TSHChangeNotify notify;
    notify.HardDriveOnly = false;
    notify.OnDriveAdd = Recorder();
    notify.Execute();
    // Queued by the watch but not yet raised when Deregister comes: dropped, even though a
    // new Execute follows before the event loop runs.
    ASSERT_TRUE(Mount(Top + "/a"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    notify.Deregister();
    EXPECT_FALSE(notify.Registered());
    notify.Execute();
    notify.OnEndSessionQuery = [](TSHChangeNotify*, bool& CanEndSession) {
        EXPECT_TRUE(CanEndSession);
        CanEndSession = false;
    };
    EXPECT_FALSE(notify.QueryEndSession());
    ASSERT_TRUE(notify.Registered());
    ASSERT_TRUE(Mount(Top + "/b"));
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(Events, (std::vector<TEvent>{{seDriveAdd, Top + "/b", true}}));

    notify.OnEndSessionQuery = nullptr;
    EXPECT_TRUE(notify.QueryEndSession());
    EXPECT_FALSE(notify.Registered());
    ASSERT_TRUE(Mount(Top + "/c"));
    QTest::qWait(300);
    EXPECT_EQ(Events.size(), 1u);
}

TEST(ChangeNotifyPropertiesTest, MessageNoRangeAndExecuteWithoutHandlers) {
    TSHChangeNotify notify;
    EXPECT_EQ(notify.MessageNo(), 1024u);
    EXPECT_EQ(notify.TextCase, tcAsIs);
    EXPECT_THROW(notify.SetMessageNo(1023), EChangeNotifyError);
    EXPECT_EQ(notify.MessageNo(), 1024u);
    notify.SetMessageNo(4096);
    EXPECT_EQ(notify.MessageNo(), 4096u);
    EXPECT_NO_THROW(notify.Execute());
    EXPECT_FALSE(notify.Registered());
    // Events that nothing raises still register.
    notify.OnRenameItem = [](TSHChangeNotify*, std::uint32_t, const std::string&,
                             const std::string&) {};
    notify.Execute();
    EXPECT_TRUE(notify.Registered());
}

} // namespace
} // namespace qv
