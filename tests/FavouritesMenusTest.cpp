// The drive and favourites menus of the real window: their order after two scans, and the
// entry that drops recent folders which are gone.

#include "app/FavouritesMenus.h"

#include "TestTree.h"
#include "app/FormMain.h"
#include "platform/Drives.h"
#include "settings/QvSettings.h"
#include "support/QvUtils.h"
#include "support/Translate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

namespace qv {
namespace {

using test::TTempDir;

// Entered before main, while the program has one thread: tests may mount file systems.
const bool PrivateMounts = test::EnterPrivateMountNamespace();

void WaitForScan(TFormMain& Window) {
    QElapsedTimer timer;
    timer.start();
    while (Window.IsScanning() && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(Window.IsScanning());
}

// The captions of Menu's entries, "-" for a separator.
QStringList Captions(const QMenu& Menu) {
    QStringList captions;
    for (const QAction* action : Menu.actions())
        captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return captions;
}

TEST(FavouritesMenusTest, DrivesThenRecentFoldersNewestFirstAndDroppingTheGoneOnes) {
    TTempDir home, data;
    ::setenv("HOME", home.Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ResetAppSettings();
    UseLanguage("en");
    data.MkDir("first");
    data.MkDir("second & more");
    TFormMain window;
    window.ScanPath(data / "first");
    WaitForScan(window);
    window.ScanPath(data / "second & more");
    WaitForScan(window);

    std::vector<std::string> drives;
    GetDriveList(TDriveTypes{dtRemovable, dtFixed, dtRemote, dtCDROM, dtRAMDisk}, drives);
    for (const char* name : {"PopupMRUDirList", "MenuItemMRUDirList"}) {
        auto* menu = window.findChild<QMenu*>(name);
        ASSERT_NE(menu, nullptr) << name;
        const QStringList captions = Captions(*menu);
        ASSERT_GE(captions.size(), int(drives.size()) + 5) << captions.join('|').toStdString();
        EXPECT_EQ(captions.mid(int(drives.size()), 3),
                  QStringList({"-", QString::fromStdString("&1 " + data / "second && more"),
                               QString::fromStdString("&2 " + data / "first")}));
        EXPECT_EQ(menu->findChild<QAction*>("MenuItem_RemoveInvalidItems"), nullptr);
        // An entry scans its folder.
        auto* entry = dynamic_cast<TFileMenuItem*>(menu->actions()[int(drives.size()) + 2]);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->Path(), data / "first");
    }

    // A recent folder that is gone offers the removal; No keeps it, Yes drops it.
    std::filesystem::remove(data / "first");
    window.Favourites().AddDir(data / "second & more");
    auto* menu = window.findChild<QMenu*>("PopupMRUDirList");
    QAction* remove = menu->findChild<QAction*>("MenuItem_RemoveInvalidItems");
    ASSERT_NE(remove, nullptr);
    for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        QString asked;
        QTimer::singleShot(50, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked = box->text();
                box->button(answer)->click();
            }
        });
        menu->findChild<QAction*>("MenuItem_RemoveInvalidItems")->trigger();
        EXPECT_TRUE(asked.contains(QString::fromStdString(data / "first")));
        EXPECT_EQ(window.Favourites().Entries().size(), answer == QMessageBox::No ? 2u : 1u);
    }
    EXPECT_EQ(menu->findChild<QAction*>("MenuItem_RemoveInvalidItems"), nullptr);
    ResetAppSettings();
}

TEST(FavouritesMenusTest, ADriveMountedWhileTheWindowRunsComesAndGoes) {
    if (!PrivateMounts)
        GTEST_SKIP() << "no private mount namespace";
    TTempDir home, mnt;
    ::setenv("HOME", home.Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ResetAppSettings();
    TFormMain window;
    auto* menu = window.findChild<QMenu*>("MenuItemMRUDirList");
    ASSERT_NE(menu, nullptr);
    const auto listed = [&] {
        for (QAction* action : menu->actions())
            if (auto* item = dynamic_cast<TFileMenuItem*>(action);
                item && WithoutTrailingDelimiter(item->Path()) == mnt.Path())
                return true;
        return false;
    };
    EXPECT_FALSE(listed());
    // The special folders arrive from a worker and rebuild the menus from a fresh read of the
    // mount table: a rebuild between the mount and the watch's reading of it would show a
    // drive whose coming and going the watch then sees as no change at all.
    EXPECT_TRUE(QTest::qWaitFor([] { return test::LiveThreads("QvShellFolders") == 0; }, 10000));
    QTest::qWait(50);
    ASSERT_EQ(::mount("none", mnt.Path().c_str(), "tmpfs", 0, "size=1m"), 0);
    EXPECT_TRUE(QTest::qWaitFor(listed, 10000));
    ASSERT_EQ(::umount2(mnt.Path().c_str(), 0), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !listed(); }, 10000));
    ResetAppSettings();
}

} // namespace
} // namespace qv
