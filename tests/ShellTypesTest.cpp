// The desktop's folders, drives and file icons as the window gets them: special folders
// from XDG user directories in a temporary home, the drive list against the real mount
// table, and both workers as real threads reporting into the GUI thread.

#include "shell/ShellTypes.h"

#include "TestTree.h"
#include "platform/Drives.h"
#include "support/QvUtils.h"
#include "view/FileIcons.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace qv {
namespace {

using namespace std::chrono_literals;

// Points HOME and XDG_CONFIG_HOME at Home for one test; set while no worker runs.
class TTempHome {
public:
    explicit TTempHome(const std::string& Home)
        : OldHome(qgetenv("HOME")), OldConfig(qgetenv("XDG_CONFIG_HOME")) {
        qputenv("HOME", QByteArray::fromStdString(Home));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Home + "/.config"));
    }
    ~TTempHome() {
        qputenv("HOME", OldHome);
        qputenv("XDG_CONFIG_HOME", OldConfig);
    }

private:
    QByteArray OldHome;
    QByteArray OldConfig;
};

TEST(ShellTypesTest, PendingIconRequestRules) {
    TSHGetFileInfoPropertiesList pending;
    EXPECT_EQ(pending.TakeResult("/d/x.txt"), -2);

    TSHGetFileInfoProperties first{.Path = "/d/x.txt"};
    TSHGetFileInfoProperties second{.Path = "/d/x.txt", .Id = first.Id == 0 ? 1 : 0};
    EXPECT_GE(first.Id, 0);
    EXPECT_LE(first.Id, 0x7FFFFFFE);
    pending.Add(first);
    pending.Add(second);
    EXPECT_EQ(pending.TakeResult("/d/x.txt"), -1);
    EXPECT_EQ(pending.TakeResult("/d/X.txt"), -2); // names differ in case
    pending.SetResult(second.Id, 9);
    EXPECT_EQ(pending.TakeResult("/d/x.txt"), -1); // the first request counts
    pending.SetResult(first.Id, 7);
    pending.SetResult(-5, 3); // no longer pending: nothing changes
    EXPECT_EQ(pending.TakeResult("/d/x.txt"), 7);
    EXPECT_EQ(pending.TakeResult("/d/x.txt"), 9);
    EXPECT_EQ(pending.TakeResult("/d/x.txt"), -2);

    const auto now = TIconRequestClock::now();
    pending.Add({.Path = "/exact", .Created = now});
    pending.Add({.Path = "/earlier", .Created = now - 1ns});
    pending.PurgeOlderThan(now);
    EXPECT_EQ(pending.TakeResult("/earlier"), -2);
    EXPECT_EQ(pending.TakeResult("/exact"), -1);
    pending.Clear();
    EXPECT_EQ(pending.Count(), 0);

    // The housekeeping timer on the event loop leaves the fresh request alone.
    pending.Add({.Path = "/stale", .Created = now - 2min});
    pending.Add({.Path = "/fresh"});
    TIconRequestHousekeeping housekeeping(pending, 10ms, 1min);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pending.Count() == 1; }, 5000));
    EXPECT_EQ(pending.TakeResult("/fresh"), -1);
}

TEST(ShellTypesTest, FileIconThreadAnswersNewestFirstOnTheGuiThread) {
    TFileIconTable icons;
    TQueuedDispatcher dispatcher;
    TSHGetFileInfoPropertiesList pending;
    std::vector<std::int32_t> answered;
    std::map<std::int32_t, int> indexOf;
    bool offGuiThread = false;
    auto thread = std::make_unique<TShellFileIconThread>(
        dispatcher, icons, [&](int IconIndex, std::int32_t Id) {
            offGuiThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            answered.push_back(Id);
            indexOf[Id] = IconIndex;
            pending.SetResult(Id, IconIndex);
        });

    // Queued before the worker runs, so that the whole order is the worker's choice.
    const char* const names[] = {"a.txt", "b.png", "c.mp3", "plain", "e.tar.gz"};
    constexpr int Requests = 200;
    for (int i = 0; i < Requests; ++i)
        thread->AddRequest({.Path = "/d/" + std::to_string(i) + names[i % 5], .Id = i});
    thread->Resume();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered.size() == Requests; }, 10000));
    EXPECT_FALSE(offGuiThread);
    for (int i = 0; i < Requests; ++i)
        EXPECT_EQ(answered[std::size_t(i)], Requests - 1 - i);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(indexOf[i], icons.GetFileIconIndex(std::to_string(i) + names[i])) << names[i];
    EXPECT_EQ(indexOf[3], icons.DefaultFileIcon());

    // The window's round trip: one request per path until its answer is collected.
    EXPECT_EQ(RequestFileIcon("/d/song.mp3", pending, *thread), -1);
    EXPECT_EQ(RequestFileIcon("/d/song.mp3", pending, *thread), -1);
    EXPECT_EQ(pending.Count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered.size() == Requests + 1; }, 10000));
    EXPECT_EQ(RequestFileIcon("/d/song.mp3", pending, *thread), icons.GetFileIconIndex("s.mp3"));
    EXPECT_EQ(pending.Count(), 0);

    // Ended with a full queue: no answer arrives afterwards and the worker is gone.
    for (int i = 0; i < 1000; ++i)
        thread->AddRequest({.Path = "/d/" + std::to_string(i) + ".txt"});
    thread.reset();
    QTest::qWait(50);
    EXPECT_EQ(answered.size(), Requests + 1);
    EXPECT_EQ(test::LiveThreads("QvFileIcons"), 0);
}

TEST(ShellTypesTest, SpecialFoldersFromXdgUserDirectories) {
    test::TTempDir home;
    const TTempHome environment(home.Path());
    home.MkDir(".config");
    home.MkDir("Arbeitsfläche");
    home.MkDir("Dokumente");
    home.MkDir("Musik");
    std::ofstream(home / ".config/user-dirs.dirs")
        << "XDG_DESKTOP_DIR=\"$HOME/Arbeitsfläche\"\n"
        << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
        << "XDG_MUSIC_DIR=\"" << home / "Musik"
        << "\"\n"
        << "XDG_VIDEOS_DIR=\"$HOME/\"\n"          // turned off
        << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"; // never created
    const std::string root = home.Path() + "/";
    EXPECT_EQ(GetSpecialFolderPath(sfDesktop), root + "Arbeitsfläche/");
    EXPECT_EQ(GetSpecialFolderPath(sfMusic), root + "Musik/");
    EXPECT_EQ(GetSpecialFolderPath(sfProfile), root);
    EXPECT_EQ(GetSpecialFolderPath(sfVideos), "");
    EXPECT_EQ(GetSpecialFolderPath(sfPictures), "");
    EXPECT_EQ(GetSpecialFolderPath(sfAppData), ""); // no special folder here
    EXPECT_EQ(GetSpecialFolderPath(19), "");        // no counterpart at all

    TFileIconTable icons;
    TShellFolderList list(icons);
    int changes = 0;
    list.OnChanged = [&](TShellFolderList& Sender) {
        EXPECT_EQ(&Sender, &list);
        ++changes;
    };
    TQueuedDispatcher dispatcher;
    const auto joiner = std::make_shared<TThreadJoiner>();
    list.StartSpecialFolderThread(
        dispatcher, {"/", home / "gone"},
        {sfDesktop, sfPersonal, sfMusic, sfVideos, sfPictures, sfProfile, 19}, joiner);
    ASSERT_EQ(dispatcher.WaitAndPump(10s), 1);
    joiner->JoinAll();
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(list.Count(), 9);

    struct TExpected {
        int Id;
        std::string Path;
        const char* IconName;
    };
    const TExpected expected[] = {
        {-1, "/", nullptr},
        {-1, root + "gone/", ""},
        {sfDesktop, root + "Arbeitsfläche/", "user-desktop"},
        {sfPersonal, root + "Dokumente/", "folder-documents"},
        {sfMusic, root + "Musik/", "folder-music"},
        {sfVideos, "", ""},
        {sfPictures, "", ""},
        {sfProfile, root, "user-home"},
        {19, "", ""},
    };
    for (int i = 0; i < list.Count(); ++i) {
        const auto& folder = list.Items(i);
        const TExpected& want = expected[i];
        EXPECT_EQ(folder.SpecialFolderId, want.Id) << i;
        EXPECT_EQ(folder.Path, want.Path) << i;
        if (want.IconName != nullptr) {
            EXPECT_EQ(folder.IconName.toStdString(), want.IconName) << i;
        }
        // Found folders have an icon of the table; the others none.
        EXPECT_EQ(folder.IconIndex >= 0, !folder.IconName.isEmpty()) << i;
        EXPECT_LT(folder.IconIndex, icons.Count()) << i;
    }
    EXPECT_FALSE(list.Items(0).IconName.isEmpty());
    EXPECT_EQ(list.GetIconIndex("/"), list.Items(0).IconIndex);
    EXPECT_EQ(list.GetIconIndex(home / "Dokumente"), list.Items(3).IconIndex);
    EXPECT_EQ(list.GetIconIndex(root + "Dokumente/"), list.Items(3).IconIndex);
    EXPECT_EQ(list.GetIconIndex(home / "dokumente"), -1);
    EXPECT_EQ(list.GetIconIndex(home / "Bilder"), -1);
    EXPECT_EQ(list.ClosedFolderIcon().Index, icons.ClosedFolderIcon());
    EXPECT_EQ(list.OpenFolderIcon().Index, icons.OpenFolderIcon());
}

TEST(ShellTypesTest, SpecialFolderResultsDroppedWhenTheListDiesFirst) {
    TFileIconTable icons;
    TQueuedDispatcher dispatcher;
    const auto joiner = std::make_shared<TThreadJoiner>();
    bool doomedChanged = false;
    auto doomed = std::make_unique<TShellFolderList>(icons);
    doomed->OnChanged = [&](TShellFolderList&) { doomedChanged = true; };
    // Two threads on one list: the second must not make the list forget the first.
    doomed->StartSpecialFolderThread(dispatcher, {"/"}, {sfProfile}, joiner);
    doomed->StartSpecialFolderThread(dispatcher, {"/"}, {sfProfile}, joiner);
    TShellFolderList survivor(icons);
    survivor.StartSpecialFolderThread(dispatcher, {"/"}, {sfProfile}, joiner);
    // The results can only arrive through the pump below, so the list is surely gone first.
    doomed.reset();
    int delivered = 0;
    while (delivered < 3) {
        const int ran = dispatcher.WaitAndPump(10s);
        ASSERT_GT(ran, 0);
        delivered += ran;
    }
    joiner->JoinAll();
    EXPECT_FALSE(doomedChanged);
    EXPECT_EQ(survivor.Count(), 2);
}

TEST(ShellTypesTest, DriveListFollowsTheMountTable) {
    std::vector<std::string> roots;
    GetDriveList(TDriveTypes{dtRemovable, dtFixed, dtRemote, dtCDROM, dtRAMDisk}, roots);
    TShellDriveList drives;
    ASSERT_EQ(drives.Refresh(), int(roots.size()));
    for (int i = 0; i < drives.Count(); ++i) {
        const TShellDrive& drive = drives.Items(i);
        EXPECT_EQ(drive.Root, roots[std::size_t(i)]);
        EXPECT_NE(drive.Type, dtUnknown);
        EXPECT_EQ(drive.DisplayName, GetDisplayNameOfPath(drive.Root + "/"));
        EXPECT_NE(drive.DisplayName.find(drive.Root), std::string::npos) << drive.DisplayName;
        if (drive.Root == "/") {
            const std::string label = GetVolumeInfo("/").VolumeName;
            EXPECT_EQ(drive.DisplayName, label.empty() ? "Root File System (/)" : label + " (/)");
        }
    }
    EXPECT_EQ(drives.Refresh(), int(roots.size())); // refreshing does not pile up

    EXPECT_EQ(DriveDisplayName("USBSTICK", "/media/u/USBSTICK"), "USBSTICK (/media/u/USBSTICK)");
    EXPECT_EQ(DriveDisplayName("", "/mnt/data"), "/mnt/data");
    EXPECT_EQ(DriveDisplayName("", "/"), "Root File System (/)");

    test::TTempDir dir;
    dir.MkDir("Fotos 2024");
    EXPECT_EQ(GetDisplayNameOfPath(dir / "Fotos 2024/"), "Fotos 2024");
    EXPECT_EQ(GetDisplayNameOfPath(""), "");
    const TTempHome environment(dir / "Fotos 2024");
    EXPECT_EQ(GetDisplayNameOfPath(dir / "Fotos 2024"), "Home");
}

} // namespace
} // namespace qv
