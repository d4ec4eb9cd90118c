// The window's commands on items against real folders: enabling, the item menus, opening
// with a stand-in xdg-open, and deleting to the trash and permanently, with the tree
// compared to a fresh scan afterwards. The whole program runs in a private mount namespace
// (entered before main, while it has one thread) so that tests may mount file systems.

#include "app/ItemCommands.h"

#include "ModelChecker.h"
#include "TestTree.h"
#include "app/FormMain.h"
#include "scan/DirScan.h"
#include "scan/ScanThread.h"
#include "settings/QvSettings.h"
#include "shell/ShellUtils.h"
#include "support/Translate.h"
#include "tree/NodeLock.h"
#include "tree/TreeTypes.h"
#include "view/SizeFormat.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace qv {
namespace {

using test::TTempDir;

const bool PrivateMounts = test::EnterPrivateMountNamespace();

bool WaitUntil(const std::function<bool()>& Done, int Milliseconds = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!Done()) {
        if (timer.elapsed() > Milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

bool Exists(const std::string& Path) {
    struct stat st {};
    return ::lstat(Path.c_str(), &st) == 0;
}

// Answers message boxes in turn with the given buttons, keeping each text and default.
class TBoxAnswerer {
public:
    explicit TBoxAnswerer(std::deque<QMessageBox::StandardButton> Answers)
        : Answers(std::move(Answers)) {
        QObject::connect(&Timer, &QTimer::timeout, &Timer, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // A later box may live where an earlier one did: each is marked once answered.
            if (!box || box->property("answered").toBool())
                return;
            box->setProperty("answered", true);
            Texts << box->text();
            Defaults << box->standardButton(box->defaultButton());
            const auto answer = this->Answers.empty() ? QMessageBox::Ok : this->Answers.front();
            if (!this->Answers.empty())
                this->Answers.pop_front();
            if (QAbstractButton* button = box->button(answer))
                button->click();
            else
                box->reject();
        });
        Timer.start(10);
    }
    QStringList Texts;
    QList<QMessageBox::StandardButton> Defaults;

private:
    std::deque<QMessageBox::StandardButton> Answers;
    QTimer Timer;
};

// Asks the grid for its menu as the menu key does; returns the popup's entries (text and
// whether enabled, by object name where they have one), empty when none opened.
std::map<std::string, std::pair<QString, bool>> MenuByKey(TVirtualFileTree& Grid,
                                                          bool ShiftF10 = false) {
    std::map<std::string, std::pair<QString, bool>> entries;
    QTimer::singleShot(50, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            int i = 0;
            for (QAction* action : menu->actions()) {
                const std::string key = action->objectName().isEmpty()
                                            ? "#" + std::to_string(i)
                                            : action->objectName().toStdString();
                entries[key] = {action->text(), action->isEnabled()};
                ++i;
            }
            menu->close();
        }
    });
    if (ShiftF10) {
        QTest::keyClick(&Grid, Qt::Key_F10, Qt::ShiftModifier);
    } else {
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5), QPoint(5, 5));
        QApplication::sendEvent(&Grid, &key);
    }
    QTest::qWait(100);
    return entries;
}

class ItemCommandsTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("HOME", Home.Path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (Home / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (Home / "data").c_str(), 1);
        ResetAppSettings();
        UseLanguage("en");
        SetNumberSeparators(".", ",");
        AppSettings().SetGroupSmallFiles(false);
    }
    void TearDown() override { ResetAppSettings(); }

    void Scan(TFormMain& Window, const std::string& Path = {}) const {
        Window.ScanPath(Path.empty() ? Data.Path() : Path);
        ASSERT_TRUE(WaitUntil([&] { return !Window.IsScanning(); }));
        QCoreApplication::processEvents();
    }

    // Selects the rows of Paths, the first one current.
    void Select(TFormMain& Window, const std::vector<std::string>& Paths) {
        TVirtualFileTree& grid = Window.VirtualFileTree();
        grid.selectionModel()->clearSelection();
        for (const std::string& path : Paths) {
            // Rows, and the files of a folder, are made on demand: open the way down.
            TFileSystemNode* node = Window.RootNode();
            for (std::size_t at = Data.Path().size(); node && at < path.size();) {
                const QModelIndex row = grid.Model().IndexOf(node);
                grid.expand(row);
                if (grid.Model().canFetchMore(row))
                    grid.Model().fetchMore(row);
                test::WaitForListings(grid.Model());
                at = std::min(path.find('/', at + 1), path.size());
                node = Window.RootNode()->FindNodeByPath(path.substr(0, at));
            }
            ASSERT_NE(node, nullptr) << path;
            const QModelIndex row = grid.Model().IndexOf(node);
            ASSERT_TRUE(row.isValid()) << path;
            grid.selectionModel()->select(row,
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
            if (path == Paths.front())
                grid.selectionModel()->setCurrentIndex(row, QItemSelectionModel::NoUpdate);
        }
    }

    // The tree must say what a fresh scan of the disk says.
    void ExpectTreeMatchesDisk(TFormMain& Window) const {
        TRootDirNode fresh;
        fresh.SetPath(Data.Path());
        TDirScanner(fresh).Scan(Data.Path(), 0);
        EXPECT_EQ(Window.RootNode()->GetSize(), fresh.GetSize());
        EXPECT_EQ(Window.RootNode()->GetFileCount(), fresh.GetFileCount());
    }

    TTempDir Home;
    TTempDir Data;
};

TEST_F(ItemCommandsTest, EnablingAndTheItemMenus) {
    Data.File("a/one.txt", 100);
    Data.File("a/two.txt", 200);
    Data.File("a/three.bin", 300);
    TFormMain window;
    Scan(window);
    TVirtualFileTree& grid = window.VirtualFileTree();

    // The top of the tree is never deleted; a file can be, and opened.
    Select(window, {Data.Path()});
    EXPECT_FALSE(window.ActDelete->isEnabled());
    Select(window, {Data / "a/one.txt"});
    EXPECT_TRUE(window.ActDelete->isEnabled());
    EXPECT_TRUE(window.ActShellOpenFile->isEnabled());

    // The item menu on a file: Rescan only for folders.
    std::map<std::string, bool> enabled;
    for (const auto& [name, entry] : MenuByKey(grid))
        if (name[0] != '#')
            enabled[name] = entry.second;
    EXPECT_EQ(enabled, (std::map<std::string, bool>{{"open", true},
                                                    {"showinfolder", true},
                                                    {"copypath", true},
                                                    {"rescan", false},
                                                    {"trash", true},
                                                    {"delete", true},
                                                    {"properties", true}}));
    // Shift+F10 opens the same menu.
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    grid.setFocus();
    EXPECT_EQ(MenuByKey(grid, true).size(), 9u); // seven entries, two separators

    // A pattern: one command over every match; no match shows nothing and answers false.
    TItemCommands& commands = window.ItemCommands();
    EXPECT_TRUE(InvokeItemCommand(commands, Data / "a/*.txt", nullptr, iaVerb, VerbCopyPath,
                                  &window, {}, false));
    QStringList copied = QGuiApplication::clipboard()->text().split('\n');
    copied.sort();
    EXPECT_EQ(copied, QStringList({QString::fromStdString(Data / "a/one.txt"),
                                   QString::fromStdString(Data / "a/two.txt")}));
    EXPECT_FALSE(InvokeItemCommand(commands, Data / "a/*.none", nullptr, iaContextMenu, {}, &window,
                                   {}, false));
    EXPECT_FALSE(RenameRequested);
    EXPECT_EQ(GetExplorerAltColor(), 0xFF0000u);

    // "Local Drives" shows no menu and cannot be deleted; a drive row cannot be either.
    window.FixedDriveRoots = [&] { return std::vector<std::string>{Data / "a"}; };
    window.ScanFixedDrives();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsScanning(); }));
    grid.setCurrentIndex(grid.Model().index(0, 0));
    EXPECT_FALSE(window.ActDelete->isEnabled());
    EXPECT_TRUE(MenuByKey(grid).empty());
}

TEST_F(ItemCommandsTest, GroupedFilesRowShowsItsFolderMenu) {
    Data.File("g/s1", 10);
    Data.File("g/s2", 10);
    Data.File("g/big", 1 << 20);
    AppSettings().SetGroupSmallFiles(true);
    AppSettings().SetGroupFileSize(1000);
    TFormMain window;
    Scan(window);
    TVirtualFileTree& grid = window.VirtualFileTree();
    TFileSystemNode* group = nullptr;
    {
        auto* g = dynamic_cast<TGroupNode*>(window.RootNode()->FindNodeByPath(Data / "g"));
        ASSERT_NE(g, nullptr);
        TChildrenLock lock(*g);
        for (int i = 0; i < lock.Children().Count(); ++i)
            if (lock.Children().GetItem(i)->GetNodeType() == ntFileGroup)
                group = lock.Children().GetItem(i);
    }
    ASSERT_NE(group, nullptr);
    for (TFileSystemNode* row : {static_cast<TFileSystemNode*>(window.RootNode()),
                                 static_cast<TFileSystemNode*>(group->Parent())}) {
        grid.expand(grid.Model().IndexOf(row));
        if (grid.Model().canFetchMore(grid.Model().IndexOf(row)))
            grid.Model().fetchMore(grid.Model().IndexOf(row));
        test::WaitForListings(grid.Model());
    }
    grid.setCurrentIndex(grid.Model().IndexOf(group));
    // Deleting a group would take its whole folder: the row is not deletable.
    EXPECT_FALSE(window.ActDelete->isEnabled());
    const QString caption = MenuByKey(grid)["#0"].first;
    EXPECT_TRUE(caption.endsWith("/g/")) << caption.toStdString();
}

TEST_F(ItemCommandsTest, MovesToTheTrashAndTheTreeFollows) {
    Data.File("a/beta/big", 5000);
    Data.File("a/x", 10);
    Data.File("c/file", 3000);
    TFormMain window;
    Scan(window);
    // A folder and a file inside it: one item, the folder.
    Select(window, {Data / "a/beta/big", Data / "a"});
    TBoxAnswerer boxes({QMessageBox::Yes});
    window.ItemCommands().ActDeleteExecute(true);
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].startsWith("Move “" + QString::fromStdString(Data / "a") + "”"))
        << boxes.Texts[0].toStdString();
    EXPECT_EQ(boxes.Defaults[0], QMessageBox::Yes);
    EXPECT_FALSE(Exists(Data / "a"));
    EXPECT_TRUE(Exists(Home / "data/Trash/files/a/beta/big"));
    EXPECT_TRUE(Exists(Home / "data/Trash/info/a.trashinfo"));
    EXPECT_EQ(window.RootNode()->FindNodeByPath(Data / "a"), nullptr);
    ExpectTreeMatchesDisk(window);
    // The selection moves to the nearest row that stays.
    EXPECT_EQ(window.VirtualFileTree().FocusedNode(), window.RootNode());
}

TEST_F(ItemCommandsTest, ShiftDeleteAsksWithNoAsDefaultAndReportsWhatStays) {
    TTempDir outside;
    outside.File("keep", 77);
    Data.File("p/f1", 1000);
    Data.Symlink(outside.Path(), "p/link");
    Data.File("p/m/.placeholder", 0);
    Data.File("q", 500);
    const std::string mnt = Data / "p/m";
    const bool mounted = PrivateMounts && ::mount("none", mnt.c_str(), "tmpfs", 0, "size=1m") == 0;
    if (mounted) {
        std::ofstream(mnt + "/inside") << "data";
    }
    TFormMain window;
    Scan(window);
    Select(window, {Data / "p"});
    {
        // Shift+Del from the keyboard: the warning, No by default; No keeps everything.
        TBoxAnswerer boxes({QMessageBox::No});
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        window.VirtualFileTree().setFocus();
        QTest::keyClick(&window.VirtualFileTree(), Qt::Key_Delete, Qt::ShiftModifier);
        ASSERT_TRUE(WaitUntil([&] { return boxes.Texts.size() == 1; }, 5000));
        EXPECT_TRUE(boxes.Texts[0].contains("permanently")) << boxes.Texts[0].toStdString();
        EXPECT_TRUE(boxes.Texts[0].contains(QString::fromStdString(Data / "p")));
        EXPECT_EQ(boxes.Defaults[0], QMessageBox::No);
        EXPECT_TRUE(Exists(Data / "p/f1"));
    }
    TBoxAnswerer boxes({QMessageBox::Yes, QMessageBox::Ok});
    const bool gone =
        window.ItemCommands().DeleteNodes({window.RootNode()->FindNodeByPath(Data / "p")}, false);
    EXPECT_TRUE(Exists(outside / "keep")); // a link is deleted, never followed
    EXPECT_FALSE(Exists(Data / "p/f1"));
    EXPECT_FALSE(Exists(Data / "p/link"));
    if (mounted) {
        // The other file system is not entered: the folder stays, the user is told why,
        // and the tree shows what is left.
        EXPECT_FALSE(gone);
        EXPECT_TRUE(Exists(mnt + "/inside"));
        ASSERT_TRUE(WaitUntil([&] { return boxes.Texts.size() == 2; }, 5000));
        EXPECT_TRUE(boxes.Texts[1].contains(QString::fromStdString(mnt)))
            << boxes.Texts[1].toStdString();
        ASSERT_TRUE(WaitUntil([&] { return !window.IsScanning(); }));
        EXPECT_NE(window.RootNode()->FindNodeByPath(Data / "p"), nullptr);
        ExpectTreeMatchesDisk(window);
        ::umount2(mnt.c_str(), MNT_DETACH);
    } else {
        EXPECT_TRUE(gone);
        EXPECT_EQ(window.RootNode()->FindNodeByPath(Data / "p"), nullptr);
        ExpectTreeMatchesDisk(window);
    }
}

TEST_F(ItemCommandsTest, ReadOnlyFileSystemOffersPermanentDeletion) {
    if (!PrivateMounts)
        GTEST_SKIP() << "no private mount namespace";
    Data.MkDir("ro");
    const std::string ro = Data / "ro";
    ASSERT_EQ(::mount("none", ro.c_str(), "tmpfs", 0, "size=1m"), 0);
    std::filesystem::create_directory(ro + "/sub");
    std::ofstream(ro + "/sub/f") << "12345";
    ASSERT_EQ(::mount("none", ro.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
    TFormMain window;
    // Scans stay on their file system: the scan starts on the mounted one.
    Scan(window, ro);
    // No trash takes it; the user declines permanent deletion: nothing happens, and it is
    // not reported as a success.
    TBoxAnswerer boxes({QMessageBox::Yes, QMessageBox::No});
    EXPECT_FALSE(
        window.ItemCommands().DeleteNodes({window.RootNode()->FindNodeByPath(ro + "/sub")}, true));
    ASSERT_EQ(boxes.Texts.size(), 2);
    EXPECT_TRUE(boxes.Texts[1].contains("cannot be moved to the trash"));
    EXPECT_EQ(boxes.Defaults[1], QMessageBox::No);
    EXPECT_TRUE(Exists(ro + "/sub/f"));
    EXPECT_NE(window.RootNode()->FindNodeByPath(ro + "/sub"), nullptr);
    ::umount2(ro.c_str(), MNT_DETACH);
}

TEST_F(ItemCommandsTest, DeleteWhileAScanRunsInsideAndCancel) {
    Data.File("top", 10);
    test::MakeChain(Data.Path(), 3000);
    TFormMain window;
    Scan(window);
    // A re-scan runs in the chain while it is deleted: it is stopped first.
    auto* chain = dynamic_cast<TDirNode*>(window.RootNode()->FindNodeByPath(Data / "d"));
    ASSERT_NE(chain, nullptr);
    window.ScanSubDirNode(chain);
    {
        TBoxAnswerer boxes({QMessageBox::Yes});
        EXPECT_TRUE(window.ItemCommands().DeleteNodes({chain}, false));
    }
    EXPECT_FALSE(Exists(Data / "d"));
    ASSERT_TRUE(WaitUntil([&] { return !window.IsScanning(); }));
    EXPECT_EQ(window.RootNode()->FindNodeByPath(Data / "d"), nullptr);
    ExpectTreeMatchesDisk(window);

    // A scan of the whole tree runs while a folder in it goes: it stops, and starts again
    // once the folder is gone, so no total counts what went.
    Data.File("x/f", 1000);
    test::MakeChain(Data.Path(), 3000);
    window.ScanPath(Data.Path());
    ASSERT_TRUE(WaitUntil(
        [&] { return !window.IsScanning() || window.RootNode()->FindNodeByPath(Data / "x"); }));
    {
        TBoxAnswerer boxes({QMessageBox::Yes});
        EXPECT_TRUE(window.ItemCommands().DeleteNodes(
            {window.RootNode()->FindNodeByPath(Data / "x")}, false));
    }
    ASSERT_TRUE(WaitUntil([&] { return !window.IsScanning(); }));
    EXPECT_FALSE(window.RootNode()->IsIncomplete());
    EXPECT_EQ(window.RootNode()->FindNodeByPath(Data / "x"), nullptr);
    ExpectTreeMatchesDisk(window);

    // Cancel in the progress dialog: the rest stays, and the tree shows what is left.
    for (int i = 0; i < 8000; ++i) {
        if (i % 1000 == 0)
            Data.MkDir("w/" + std::to_string(i / 1000));
        std::ofstream(Data / ("w/" + std::to_string(i / 1000) + "/" + std::to_string(i)));
    }
    window.ScanSubDirNode(window.RootNode());
    ASSERT_TRUE(WaitUntil([&] { return !window.IsScanning(); }));
    bool cancelled = false;
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (auto* dialog = QApplication::activeModalWidget();
            dialog && dialog->objectName() == DeleteProgressName) {
            cancelled = true;
            QMetaObject::invokeMethod(dialog, "reject");
        } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes)->click() : box->accept();
        }
    });
    cancel.start(20);
    DeleteProgressDelayMs = 0;
    EXPECT_FALSE(
        window.ItemCommands().DeleteNodes({window.RootNode()->FindNodeByPath(Data / "w")}, false));
    DeleteProgressDelayMs = 500;
    ASSERT_TRUE(cancelled);
    {
        EXPECT_TRUE(window.ItemCommands().LastReport().Cancelled);
        EXPECT_TRUE(Exists(Data / "w"));
        ASSERT_TRUE(WaitUntil([&] { return !window.IsScanning(); }));
        ExpectTreeMatchesDisk(window);
    }
}

TEST_F(ItemCommandsTest, DeletePathsOfFilesWhoseFolderWasNeverListed) {
    Data.File("a/b/big", 5000);
    Data.File("a/b/small", 10);
    Data.File("a/b/keep", 20);
    Data.File("a/b/keep2", 30);
    Data.File("c", 100);
    AppSettings().SetGroupSmallFiles(true);
    AppSettings().SetGroupFileSize(1000);
    TFormMain window;
    Scan(window);
    TItemCommands& commands = window.ItemCommands();
    // Nobody opened the folder: its files have no nodes, yet the menu offers to delete them.
    ASSERT_EQ(window.RootNode()->FindNodeByPath(Data / "a/b/big"), nullptr);
    EXPECT_TRUE(commands.CanRunVerb(VerbTrash, {Data / "a/b/big", Data / "a/b/small"}));
    EXPECT_FALSE(commands.CanRunVerb(VerbDelete, {Data / "a/b/none"}));
    EXPECT_FALSE(commands.CanRunVerb(VerbDelete, {Data / "elsewhere/x"}));

    std::map<std::string, std::int64_t> deleted;
    commands.OnItemDeleted = [&](const std::string& Path, bool Folder, std::int64_t Size,
                                 std::int64_t) { deleted[Path] = Folder ? -1 : Size; };
    TBoxAnswerer boxes({QMessageBox::Yes});
    // A big file, a small one of the folder's group, and a path the tree does not hold.
    EXPECT_TRUE(
        commands.DeletePaths({Data / "a/b/big", Data / "a/b/small", Data / "a/b/none"}, false));
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].startsWith("Delete 2 items")) << boxes.Texts[0].toStdString();
    EXPECT_FALSE(Exists(Data / "a/b/big"));
    EXPECT_FALSE(Exists(Data / "a/b/small"));
    EXPECT_TRUE(Exists(Data / "a/b/keep"));
    EXPECT_EQ(deleted, (std::map<std::string, std::int64_t>{{Data / "a/b/big", 5000},
                                                            {Data / "a/b/small", 10}}));
    EXPECT_EQ(window.RootNode()->FindNodeByPath(Data / "a/b/big"), nullptr);
    auto* folder = dynamic_cast<TDirNode*>(window.RootNode()->FindNodeByPath(Data / "a/b"));
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->GetSize(), 50);
    EXPECT_EQ(folder->GetFileCount(), 2);
    ExpectTreeMatchesDisk(window);
    ASSERT_TRUE(WaitUntil([&] { return !window.IsScanning(); }));
    ExpectTreeMatchesDisk(window);
}

TEST_F(ItemCommandsTest, OpeningSystemFilesAsksFirst) {
    TTempDir bin;
    const std::string calls = bin / "calls";
    {
        std::ofstream script(bin / "xdg-open");
        script << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << calls << "'\n";
    }
    bin.Chmod("xdg-open", 0755);
    const std::string path = std::string(::getenv("PATH") ? ::getenv("PATH") : "");
    ::setenv("PATH", (bin.Path() + ":" + path).c_str(), 1);
    Data.Fifo("pipe");
    Data.File("DRIVER.SyS", 10);
    Data.File("plain.txt", 10);
    TFormMain window;
    Scan(window);
    TBoxAnswerer boxes({QMessageBox::No, QMessageBox::No, QMessageBox::Yes});
    for (const char* name : {"pipe", "DRIVER.SyS", "plain.txt", "DRIVER.SyS"}) {
        Select(window, {Data / name});
        window.ActShellOpenFileExecute();
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::ifstream in(calls);
            return std::count(std::istreambuf_iterator<char>(in), {}, '\n') == 2;
        },
        10000));
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(boxes.Texts.size(), 3);
    // The stand-ins run side by side: either may write first.
    std::ifstream in(calls);
    std::vector<std::string> opened(2);
    std::getline(in, opened[0]);
    std::getline(in, opened[1]);
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(opened, (std::vector<std::string>{Data / "DRIVER.SyS", Data / "plain.txt"}));
}

} // namespace
} // namespace qv
