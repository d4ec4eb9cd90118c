// The main window against real folders: scans started from the command line, the status
// bar, rows, the flat view, queued and stopped scans, re-scans, view state in the settings
// file, and saving through an answered dialog.

#include "app/FormMain.h"

#include "ModelChecker.h"
#include "TestTree.h"
#include "scan/ScanThread.h"
#include "settings/QvSettings.h"
#include "support/FileVersion.h"
#include "support/QvLogger.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace qv {
namespace {

using test::TModelChecker;
using test::TTempDir;

std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Pumps the event loop until Done or a generous time limit.
bool WaitUntil(const std::function<bool()>& Done, int Milliseconds = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!Done()) {
        if (timer.elapsed() > Milliseconds) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Answers every message box as soon as it shows, keeping its text.
class TBoxAnswerer {
public:
    TBoxAnswerer() {
        QObject::connect(&Timer, &QTimer::timeout, &Timer, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Texts << box->text();
                box->accept();
            }
        });
        Timer.start(10);
    }
    QStringList Texts;

private:
    QTimer Timer;
};

class FormMainTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("HOME", Home.Path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (Home / "config").c_str(), 1);
        ResetAppSettings();
        SetScreenSize(1280, 1024);
        UseLanguage("en");
        SetNumberSeparators(".", ",");
        // Files are rows of their own, so that file rows can be chosen.
        AppSettings().SetGroupSmallFiles(false);
    }
    void TearDown() override { ResetAppSettings(); }

    [[nodiscard]] std::string Ini() const { return ReadFile(TSettings::GetIniFileName()); }

    // The standard folder: a/beta/big 5000, c/file 3000, d/tiny 1, e empty.
    void MakeTree() const {
        Data.File("a/beta/big", 5000);
        Data.File("c/file", 3000);
        Data.File("d/tiny", 1);
        Data.MkDir("e");
    }

    static void WaitForScan(TFormMain& Window) {
        ASSERT_TRUE(WaitUntil([&] { return !Window.IsScanning(); }));
        QCoreApplication::processEvents();
    }

    static QString Text(TFormMain& Window, const QModelIndex& Index, int Column = 0) {
        return Window.VirtualFileTree().model()->data(Index.siblingAtColumn(Column)).toString();
    }

    TTempDir Home;
    TTempDir Data;
};

TEST_F(FormMainTest, PlaceholderAndCommandLinesThatStartNoScan) {
    Data.File("plain", 10);
    TBoxAnswerer boxes;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {Data / "plain"}, {Data / "missing"}}) {
        boxes.Texts.clear();
        TFormMain window(args);
        // A path that cannot be scanned is named, with the reason; no path, no message.
        if (args.empty()) {
            EXPECT_TRUE(boxes.Texts.isEmpty());
        } else {
            ASSERT_EQ(boxes.Texts.size(), 1);
            EXPECT_TRUE(boxes.Texts[0].contains(QString::fromStdString(args[0])));
            EXPECT_TRUE(boxes.Texts[0].contains(
                args[0].ends_with("plain") ? "Not a directory" : "No such file or directory"))
                << boxes.Texts[0].toStdString();
        }
        EXPECT_EQ(window.RootNode(), nullptr);
        EXPECT_FALSE(window.IsScanning());
        auto& grid = window.VirtualFileTree();
        ASSERT_EQ(grid.model()->rowCount(), 1);
        const QModelIndex row = grid.model()->index(0, 0);
        EXPECT_EQ(grid.Model().NodeOf(row), nullptr);
        EXPECT_EQ(Text(window, row), QString::fromStdString(Tr("请选择一个目录")));
        EXPECT_EQ(Text(window, row, fcSize), "");
        EXPECT_EQ(window.windowTitle(), "Quorvel");
        EXPECT_FALSE(window.ActRefresh->isEnabled());
        EXPECT_FALSE(window.ActSaveScanResult->isEnabled());
        EXPECT_FALSE(window.ActStopScan->isEnabled());
        EXPECT_TRUE(window.ActDirSelect->isEnabled());
    }
}

TEST_F(FormMainTest, DoubleClickOnThePlaceholderAsksForAFolder) {
    MakeTree();
    TFormMain window;
    // Answers the folder dialog as soon as it shows.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            answer.stop();
            // Accepted with nothing typed, a folder dialog chooses the folder it shows.
            dialog->setDirectory(QString::fromStdString(Data.Path()));
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    answer.start(10);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto& grid = window.VirtualFileTree();
    const QPoint row = grid.visualRect(grid.model()->index(0, 0)).center();
    // As a mouse does it: press and release, then the second press as a double click.
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, row);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, row);
    WaitForScan(window);
    ASSERT_NE(window.RootNode(), nullptr);
    EXPECT_EQ(window.RootNode()->GetFullPath(), Data.Path());
    EXPECT_EQ(window.RootNode()->GetSize(), 8001);
}

TEST_F(FormMainTest, WithoutASettingsFolderItScansOnTheDefaults) {
    MakeTree();
    ResetAppSettings();
    test::RemoveTree(Home / "config");
    Home.File("config", 0); // a file where the settings folder would go
    // Every message box is answered; their texts are kept.
    QStringList boxes;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->accept();
        }
    });
    answer.start(10);
    {
        TFormMain window({Data.Path()});
        WaitForScan(window);
        ASSERT_NE(window.RootNode(), nullptr);
        EXPECT_EQ(window.RootNode()->GetSize(), 8001);
        EXPECT_EQ(window.RootNode()->GetFileCount(), 3);
        EXPECT_EQ(boxes.size(), 1) << boxes.join('|').toStdString();
    }
    // Told once at the start and once when nothing could be saved.
    ASSERT_EQ(boxes.size(), 2) << boxes.join('|').toStdString();
    EXPECT_TRUE(boxes[0].contains(QString::fromStdString(Home / "config")));
}

TEST_F(FormMainTest, ScansTheCommandLineFolderAndShowsTheResult) {
    MakeTree();
    TFormMain window({Data.Path()});
    TModelChecker checker(window.VirtualFileTree().Model());
    WaitForScan(window);
    ASSERT_NE(window.RootNode(), nullptr);
    EXPECT_EQ(window.windowTitle(), QString::fromStdString("Quorvel - " + Data.Path()));
    EXPECT_EQ(window.StatusText(0), "");
    EXPECT_TRUE(window.StatusText(1).endsWith(" " + QString::fromStdString(Tr("秒"))))
        << window.StatusText(1).toStdString();
    EXPECT_EQ(window.LastScanPath(), Data.Path());
    EXPECT_EQ(window.Favourites().Entries(), std::vector<std::string>{Data.Path()});

    auto& grid = window.VirtualFileTree();
    const QModelIndex root = grid.model()->index(0, 0);
    EXPECT_EQ(grid.Model().NodeOf(root), window.RootNode());
    EXPECT_TRUE(grid.isExpanded(root));
    EXPECT_EQ(Text(window, root, fcFiles), "3");
    ASSERT_EQ(grid.model()->rowCount(root), 4);
    // Percent, descending: a, c, d, e.
    EXPECT_EQ(Text(window, grid.model()->index(0, 0, root)), "a");
    EXPECT_EQ(Text(window, grid.model()->index(1, 0, root)), "c");
    EXPECT_TRUE(window.ActSaveScanResult->isEnabled());
    EXPECT_TRUE(window.ActRefresh->isEnabled());
    EXPECT_FALSE(window.ActStopScan->isEnabled());

    // Choosing a row shows its path and its size in bytes.
    const QModelIndex a = grid.model()->index(0, 0, root);
    grid.setCurrentIndex(a);
    EXPECT_EQ(window.StatusText(0), QString::fromStdString(Data / "a"));
    EXPECT_EQ(window.StatusText(1), "5,000 Bytes");
    EXPECT_TRUE(window.ActRefreshNode->isEnabled());
    EXPECT_TRUE(window.ActOpenInExplorer->isEnabled());
}

TEST_F(FormMainTest, FlatViewListsTheRootAndEveryLeafOfAThousandth) {
    MakeTree();
    TFormMain window({Data.Path()});
    WaitForScan(window);
    window.ActShowFlatView->trigger();
    EXPECT_EQ(window.GetDirViewStyle(), dvsFlat);
    // 8001 bytes: the threshold is 8, so d (1 byte) is left out; e (0) too.
    const auto& flat = window.GetFlatNodes();
    std::vector<std::string> paths;
    for (const TFileSystemNode* node : flat) {
        paths.push_back(node->GetFullPath());
    }
    // The root first, then the leaves in the order the folder listed them.
    ASSERT_EQ(paths.size(), 3U);
    EXPECT_EQ(paths[0], Data.Path());
    std::sort(paths.begin() + 1, paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{Data.Path(), Data / "a/beta", Data / "c"}));
    auto& grid = window.VirtualFileTree();
    ASSERT_EQ(grid.model()->rowCount(), 3);
    // Sorted by percent, descending.
    EXPECT_EQ(Text(window, grid.model()->index(0, 0)), QString::fromStdString(Data.Path()));
    EXPECT_EQ(Text(window, grid.model()->index(1, 0)), QString::fromStdString(Data / "a/beta"));
    EXPECT_EQ(Text(window, grid.model()->index(2, 0)), QString::fromStdString(Data / "c"));
    EXPECT_FALSE(grid.model()->hasChildren(grid.model()->index(1, 0)));

    window.ActShowTreeView->trigger();
    EXPECT_EQ(window.GetDirViewStyle(), dvsTree);
    EXPECT_EQ(grid.model()->rowCount(), 1);
    EXPECT_EQ(grid.Model().NodeOf(grid.model()->index(0, 0)), window.RootNode());
}

TEST_F(FormMainTest, NewScanWhileOneRunsIsQueuedThenStarted) {
    // Enough directories that the first scan is still running when the second is asked for.
    for (int i = 0; i < 3000; ++i) {
        Data.MkDir("big/" + std::to_string(i % 30) + "/" + std::to_string(i));
    }
    Data.File("other/x", 42);
    TFormMain window({Data / "big"});
    window.ScanPath(Data / "other");
    if (window.IsScanning()) {
        EXPECT_EQ(window.PendingScanPath(), Data / "other");
    }
    ASSERT_TRUE(WaitUntil([&] {
        return window.PendingScanPath().empty() && !window.IsScanning() && window.RootNode() &&
               window.RootNode()->GetFullPath() == Data / "other";
    }));
    EXPECT_EQ(window.RootNode()->GetSize(), 42);
    EXPECT_EQ(window.windowTitle(), QString::fromStdString("Quorvel - " + Data / "other"));
    // The most recent favourite comes last.
    EXPECT_EQ(window.Favourites().Entries(),
              (std::vector<std::string>{Data / "big", Data / "other"}));
}

TEST_F(FormMainTest, RescansThatCannotStartAreRefusedAndLogged) {
    for (int i = 0; i < 3000; ++i) {
        Data.MkDir("big/" + std::to_string(i % 30) + "/" + std::to_string(i));
    }
    std::vector<std::string> lines;
    SetLogSink([&](TLogLevel, std::string_view Line) { lines.emplace_back(Line); });
    {
        TFormMain window({Data / "big"});
        // The root is being walked: a second scan of it is refused.
        if (window.RootNode()->IsScanning()) {
            window.ScanSubDirNode(window.RootNode());
            EXPECT_NE(std::find(lines.begin(), lines.end(), "already scanning"), lines.end());
        }
        window.ScanSubDirNode(nullptr);
        EXPECT_EQ(lines.back(), "exit ScanSubDirNode");
        WaitForScan(window);
        window.RefreshPath(Data / "nowhere");
        EXPECT_EQ(lines.back(),
                  "RefreshPath: " + Data / "nowhere" + " does not exists in current tree");
    }
    SetLogSink({});
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "CmdLine: " + ExecutableFileName() + " " + Data / "big"),
              lines.end());
}

TEST_F(FormMainTest, AllDrivesScanIsQueuedWhileAScanRunsAndCanBeStopped) {
    for (int i = 0; i < 3000; ++i) {
        Data.MkDir("big/" + std::to_string(i % 30) + "/" + std::to_string(i));
    }
    TFormMain window({Data / "big"});
    window.ScanFixedDrives();
    if (window.IsScanning() && window.RootNode()->GetNodeType() != ntFixedDrives) {
        EXPECT_EQ(window.PendingScanPath(), Tr("Local Drives"));
    }
    ASSERT_TRUE(WaitUntil(
        [&] { return window.RootNode() && window.RootNode()->GetNodeType() == ntFixedDrives; }));
    EXPECT_EQ(window.windowTitle().left(10), "Quorvel - ");
    window.ActStopScan->trigger();
    WaitForScan(window);
    EXPECT_TRUE(window.PendingScanPath().empty());
    EXPECT_EQ(window.LastScanPath(), Data / "big"); // the drives scan leaves it alone
    // Rescanning the "Local Drives" row scans the drives again.
    auto& grid = window.VirtualFileTree();
    const QModelIndex top = grid.model()->index(0, 0);
    grid.selectionModel()->select(top,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    window.ActRefreshNodeExecute();
    EXPECT_EQ(window.RootNode()->GetNodeType(), ntFixedDrives);
    window.ActStopScan->trigger();
    WaitForScan(window);
}

TEST_F(FormMainTest, StopLeavesIncompleteMarksAndEnds) {
    Data.MkDir("deep");
    test::MakeChain(Data / "deep", 3000);
    TFormMain window({Data / "deep"});
    window.ActStopScan->trigger();
    WaitForScan(window);
    ASSERT_NE(window.RootNode(), nullptr);
    EXPECT_TRUE(window.PendingScanPath().empty());
    // Either the stop came in time and marked the open directories, or the scan was done.
    bool incomplete = false;
    for (const TGroupNode* node = window.RootNode(); node;) {
        incomplete = incomplete || node->IsIncomplete();
        TChildrenLock lock(*node);
        const TGroupNode* next = nullptr;
        for (int i = 0; i < lock.Children().Count(); ++i) {
            if (auto* dir = dynamic_cast<const TDirNode*>(lock.Children().GetItem(i))) {
                next = dir;
            }
        }
        node = next;
    }
    EXPECT_TRUE(incomplete || window.RootNode()->GetFileCount() == 3000)
        << window.RootNode()->GetFileCount();
    EXPECT_FALSE(window.StatusText(1).isEmpty());
    // The status bar says that the result is incomplete, until the next scan.
    auto* stopped = window.findChild<QLabel*>("StatusStopped");
    ASSERT_NE(stopped, nullptr);
    EXPECT_EQ(window.ScanStoppedShown(), incomplete);
    EXPECT_EQ(stopped->isVisibleTo(&window), incomplete);
    EXPECT_FALSE(stopped->text().isEmpty());
    window.ActRefresh->trigger();
    WaitForScan(window);
    EXPECT_FALSE(window.ScanStoppedShown());
    EXPECT_FALSE(stopped->isVisibleTo(&window));
}

TEST_F(FormMainTest, RescanOfASubfolderAndOfAFilesFolder) {
    MakeTree();
    TFormMain window({Data.Path()});
    WaitForScan(window);
    auto& grid = window.VirtualFileTree();
    const QModelIndex root = grid.model()->index(0, 0);
    QModelIndex c;
    for (int i = 0; i < grid.model()->rowCount(root); ++i) {
        if (Text(window, grid.model()->index(i, 0, root)) == "c") {
            c = grid.model()->index(i, 0, root);
        }
    }
    ASSERT_TRUE(c.isValid());
    Data.File("c/new", 7000);
    grid.setCurrentIndex(c);
    grid.selectionModel()->select(c,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    window.ActRefreshNode->trigger();
    WaitForScan(window);
    EXPECT_EQ(window.RootNode()->GetSize(), 15001);
    EXPECT_EQ(window.RootNode()->GetFileCount(), 4);
    // The rows show the new totals, up to the root.
    EXPECT_EQ(Text(window, root, fcSize), QString::fromStdString(FormatSizeRoundDown(15001)));
    EXPECT_EQ(Text(window, root, fcFiles), "4");

    // A file row: its folder is scanned again and the selection moves to the folder.
    c = grid.Model().IndexOf(window.RootNode()->FindNodeByPath(Data / "c"));
    ASSERT_TRUE(c.isValid());
    grid.expand(c);
    ASSERT_TRUE(WaitUntil([&] { return grid.model()->rowCount(c) == 2; }));
    const QModelIndex file = grid.model()->index(0, 0, c);
    EXPECT_EQ(grid.Model().NodeOf(file)->GetNodeType(), ntFile);
    grid.setCurrentIndex(file);
    grid.selectionModel()->select(file,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Data.File("c/third", 1000);
    window.ActRefreshNodeExecute();
    WaitForScan(window);
    EXPECT_EQ(window.RootNode()->GetSize(), 16001);
    const auto selected = grid.SelectedNodes();
    ASSERT_EQ(selected.size(), 1U);
    EXPECT_EQ(selected[0]->GetFullPath(), Data / "c");
}

TEST_F(FormMainTest, ExpansionAndSelectionSurviveRefreshTicksWhileScanning) {
    for (int i = 0; i < 4000; ++i) {
        Data.MkDir("t/" + std::to_string(i % 4) + "/" + std::to_string(i));
    }
    TFormMain window({Data / "t"});
    auto& grid = window.VirtualFileTree();
    TModelChecker checker(grid.Model());
    const QModelIndex root = grid.model()->index(0, 0);
    ASSERT_TRUE(WaitUntil([&] { return grid.model()->rowCount(root) > 0; }));
    QPersistentModelIndex first = grid.model()->index(0, 0, root);
    TFileSystemNode* node = grid.Model().NodeOf(first);
    grid.expand(first);
    grid.setCurrentIndex(first);
    grid.selectionModel()->select(first,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    for (int tick = 0; tick < 5 && window.IsScanning(); ++tick) {
        window.RefreshView();
        QCoreApplication::processEvents();
    }
    WaitForScan(window);
    const QModelIndex again = grid.Model().IndexOf(node);
    ASSERT_TRUE(again.isValid());
    EXPECT_TRUE(grid.isExpanded(again));
    EXPECT_EQ(grid.SelectedNodes(), std::vector<TFileSystemNode*>{node});
    EXPECT_EQ(grid.FocusedNode(), node);
    EXPECT_EQ(window.RootNode()->GetFileCount(), 0);
    EXPECT_EQ(grid.model()->rowCount(root), 4);
}

TEST_F(FormMainTest, ViewStateIsWrittenAndReadBackPerResolution) {
    MakeTree();
    {
        TFormMain window;
        EXPECT_EQ(window.pos(), QPoint(290, 262));
        EXPECT_EQ(window.size(), QSize(700, 500));
        auto& header = *window.VirtualFileTree().header();
        EXPECT_EQ(ColumnWidthsToString(header), "196,75,113,75,-75");
        EXPECT_EQ(ColumnPositionsToString(header), "0,1,2,3,4");
        header.resizeSection(0, 250);
        header.moveSection(3, 1);
        window.VirtualFileTree().HeaderClick(fcSize);
        window.Favourites().AddDir(Data / "c");
        window.ActShowFlatView->trigger();
    }
    const std::string ini = Ini();
    EXPECT_NE(ini.find("[1280x1024]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Position=290,262,990,762"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ColWidthsTreeView=250,75,113,75,-75"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ColPositionsTreeView=0,2,3,1,4"), std::string::npos) << ini;
    EXPECT_NE(ini.find("DirViewStyle=1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("SortColumn=1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("SortDirection=1"), std::string::npos) << ini;
    {
        ResetAppSettings();
        TFormMain window;
        EXPECT_EQ(window.GetDirViewStyle(), dvsFlat);
        EXPECT_EQ(window.VirtualFileTree().Model().SortColumn(), fcSize);
        EXPECT_EQ(ColumnPositionsToString(*window.VirtualFileTree().header()), "0,2,3,1,4");
        ASSERT_EQ(window.Favourites().Entries().size(), 1U);
        window.ActShowTreeView->trigger();
        EXPECT_EQ(ColumnWidthsToString(*window.VirtualFileTree().header()), "250,75,113,75,-75");
    }
    // Another screen: layout widths and the centred rectangle, the rest carries over.
    SetScreenSize(1024, 768);
    ResetAppSettings();
    {
        TFormMain window;
        EXPECT_EQ(window.pos(), QPoint(162, 134));
        EXPECT_EQ(ColumnWidthsToString(*window.VirtualFileTree().header()), "196,75,113,75,-75");
        EXPECT_EQ(window.VirtualFileTree().Model().SortColumn(), fcSize);
        EXPECT_EQ(ColumnPositionsToString(*window.VirtualFileTree().header()), "0,2,3,1,4");
    }
    ResetAppSettings();
    AppSettings().WriteResolutionString("Position", "10,20,30");
    AppSettings().WriteResolutionString("ColWidthsTreeView", "-196,75");
    TFormMain window;
    EXPECT_EQ(window.pos(), QPoint(162, 134));
    auto& header = *window.VirtualFileTree().header();
    EXPECT_TRUE(header.isSectionHidden(0));
    EXPECT_FALSE(header.isSectionHidden(1));
    EXPECT_EQ(ColumnWidthsToString(header), "-196,75,113,75,-75");
    StringToColumnWidths("0,x,,80", header);
    EXPECT_TRUE(header.isSectionHidden(0));
    EXPECT_EQ(ColumnWidthsToString(header), "0,75,113,80,-75");
    // States saved before the size-on-disk column existed keep it hidden; once shown from
    // the header's menu it is saved with its width, and a hidden one keeps its width.
    StringToColumnWidths("196,75,113,75", header);
    StringToColumnPositions("0,2,3,1", header);
    EXPECT_TRUE(header.isSectionHidden(fcSizeOnDisk));
    EXPECT_EQ(ColumnPositionsToString(header), "0,2,3,1,4");
    window.VirtualFileTree().SetColumnVisible(fcSizeOnDisk, true);
    header.resizeSection(fcSizeOnDisk, 90);
    EXPECT_EQ(ColumnWidthsToString(header), "196,75,113,75,90");
    window.VirtualFileTree().SetColumnVisible(fcSizeOnDisk, false);
    EXPECT_EQ(ColumnWidthsToString(header), "196,75,113,75,-90");
    StringToColumnWidths("196,75,113,75,120", header);
    EXPECT_FALSE(header.isSectionHidden(fcSizeOnDisk));
}

TEST_F(FormMainTest, SavesEveryFormatThroughTheDialog) {
    MakeTree();
    TFormMain window({Data.Path()});
    WaitForScan(window);
    TTempDir out;
    std::string proposed;
    int offeredIndex = 0;
    int chosenIndex = 1;
    window.SaveDialog = [&](const std::string& Dir, const std::string& Name,
                            const std::string& Filter, int FilterIndex) {
        EXPECT_NE(Filter.find("*.csv"), std::string::npos);
        EXPECT_EQ(Dir, chosenIndex == 1 ? Home / "Documents/Quorvel/" : out.Path() + "/");
        proposed = Name;
        offeredIndex = FilterIndex;
        return std::optional<TFormMain::TSaveChoice>(
            {out / ("result" + std::to_string(chosenIndex)), chosenIndex});
    };
    // The default folder is made inside the documents folder.
    ::mkdir((Home / "Documents").c_str(), 0700);
    for (chosenIndex = 1; chosenIndex <= 5; ++chosenIndex) {
        window.ActSaveScanResult->trigger();
        const std::string text = ReadFile(out / ("result" + std::to_string(chosenIndex)));
        EXPECT_NE(text.find("beta"), std::string::npos) << chosenIndex;
        EXPECT_EQ(offeredIndex, chosenIndex == 1 ? 1 : chosenIndex - 1);
    }
    std::string expectedName = Data.Path().substr(1);
    std::replace(expectedName.begin(), expectedName.end(), '/', '_');
    EXPECT_EQ(proposed, expectedName);
    EXPECT_NE(Ini().find("LastFilterIndex=5"), std::string::npos);
    // A hand-edited index outside the list offers the nearest format.
    AppSettings().WriteSettingInteger("LastFilterIndex", 99);
    window.ActSaveScanResult->trigger();
    EXPECT_EQ(offeredIndex, 5);

    // A folder that cannot be written: the user is told why nothing was saved.
    window.SaveDialog = [&](auto&&...) {
        return std::optional<TFormMain::TSaveChoice>({out / "missing/result.csv", 1});
    };
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->text();
        box->accept();
    });
    window.ActSaveScanResult->trigger();
    EXPECT_TRUE(shown.contains("missing")) << shown.toStdString();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The real dialog, answered as a user would.
    window.SaveDialog = nullptr;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(QString::fromStdString(out / "answered"));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    window.ActSaveScanResult->trigger();
    EXPECT_NE(ReadFile(out / "answered.csv").find("beta"), std::string::npos);
}

TEST_F(FormMainTest, LocalDrivesRootHoldsTheSumOfItsDrives) {
    MakeTree();
    Data.MkDir("deep");
    test::MakeChain(Data / "deep", 2000);
    TFormMain window;
    auto& grid = window.VirtualFileTree();
    for (const bool stop : {false, true}) {
        window.FixedDriveRoots = [&] {
            return std::vector<std::string>{Data / "a", Data / "c", Data / "deep"};
        };
        window.ScanFixedDrives();
        if (stop) {
            window.ActStopScan->trigger();
        }
        WaitForScan(window);
        ASSERT_EQ(window.RootNode()->GetNodeType(), ntFixedDrives);
        std::int64_t size = 0;
        std::int32_t files = 0;
        {
            TChildrenLock lock(*window.RootNode());
            ASSERT_EQ(lock.Children().Count(), 3);
            for (const TFileSystemNode* drive : lock.Children().Items()) {
                size += drive->GetSize();
                files += drive->GetFileCount();
            }
        }
        EXPECT_EQ(window.RootNode()->GetSize(), size) << stop;
        EXPECT_EQ(window.RootNode()->GetFileCount(), files) << stop;
        // The rows show it, and the bars are drawn against it.
        const QModelIndex top = grid.model()->index(0, 0);
        EXPECT_EQ(Text(window, top, fcSize), QString::fromStdString(FormatSizeRoundDown(size)));
        if (!stop) {
            EXPECT_EQ(size, 10000);
            EXPECT_EQ(grid.model()
                          ->data(top.siblingAtColumn(fcPercent), TFileTreeModel::PercentRole)
                          .toDouble(),
                      1.0);
        }
    }
}

TEST_F(FormMainTest, RescanOfAFolderWhileASubfolderRescanRunsAtEveryMoment) {
    // p/s holds a chain long enough that its walk is under way for a while.
    Data.File("p/own", 100);
    Data.MkDir("p/s");
    test::MakeChain(Data / "p/s", 300);
    TFormMain window({Data.Path()});
    WaitForScan(window);
    auto find = [&](const std::string& Path) {
        return dynamic_cast<TDirNode*>(window.RootNode()->FindNodeByPath(Path));
    };
    enum { BeforeItBegins, WhileItWalks, StoppedNotDelivered, Moments };
    for (int round = 0; round < 300; ++round) {
        const int moment = round % Moments;
        window.ScanSubDirNode(find(Data / "p/s"));
        if (moment == WhileItWalks) {
            std::this_thread::sleep_for(std::chrono::microseconds(round * 20 % 3000));
        } else if (moment == StoppedNotDelivered) {
            window.ActStopScan->trigger();
            // The inner thread ends and unregisters; its end waits for the event loop.
            ASSERT_TRUE(WaitUntil([&] { return window.ScanThreads().IsIdle(); }));
        }
        window.ScanSubDirNode(find(Data / "p"));
        WaitForScan(window);
        ASSERT_EQ(window.RootNode()->GetSize(), 400) << round;
        ASSERT_EQ(window.RootNode()->GetFileCount(), 301) << round;
    }
}

TEST_F(FormMainTest, ANewScanWaitsForTheEndOfTheLastThread) {
    MakeTree();
    Data.MkDir("a/deep");
    test::MakeChain(Data / "a/deep", 200);
    Data.File("other/x", 42);
    TFormMain window({Data.Path()});
    WaitForScan(window);
    window.ScanSubDirNode(
        dynamic_cast<TDirNode*>(window.RootNode()->FindNodeByPath(Data / "a/deep")));
    // The thread has left the list; its end is still to come through the event loop.
    QElapsedTimer timer;
    timer.start();
    while (!window.ScanThreads().IsIdle() && timer.elapsed() < 30000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(window.ScanThreads().IsIdle());
    window.ScanPath(Data / "other");
    EXPECT_EQ(window.PendingScanPath(), Data / "other");
    ASSERT_TRUE(WaitUntil([&] {
        return !window.IsScanning() && window.RootNode()->GetFullPath() == Data / "other";
    }));
    EXPECT_EQ(window.RootNode()->GetSize(), 42);
    EXPECT_TRUE(window.ActSaveScanResult->isEnabled());

    // The same moment with a main scan: its late end must not take the new scan's place.
    Data.MkDir("third");
    test::MakeChain(Data / "third", 2000);
    window.ScanPath(Data / "other");
    while (!window.ScanThreads().IsIdle()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    window.ScanPath(Data / "third");
    EXPECT_EQ(window.PendingScanPath(), Data / "third");
    ASSERT_TRUE(WaitUntil([&] { return window.RootNode()->GetFullPath() == Data / "third"; }));
    // While the new scan runs there is nothing whole to save yet.
    if (window.ScanThreads().Count() > 0) {
        EXPECT_FALSE(window.ActSaveScanResult->isEnabled());
    }
    WaitForScan(window);
    EXPECT_EQ(window.RootNode()->GetFileCount(), 2000);
}

TEST_F(FormMainTest, ShutDownJoinsThreadsInEveryState) {
    Data.MkDir("s");
    test::MakeChain(Data / "s", 300);
    // Each state many times: a worker left detached is gone soon after, but not at once.
    for (int round = 0; round < 15; ++round) {
        const int state = round % 3;
        {
            TFormMain window({Data.Path()});
            if (state > 0) {
                WaitForScan(window);
                window.ScanSubDirNode(
                    dynamic_cast<TDirNode*>(window.RootNode()->FindNodeByPath(Data / "s")));
            }
            if (state == 2) {
                // Ended and unregistered, its end event not yet run.
                while (!window.ScanThreads().IsIdle()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        }
        ASSERT_EQ(test::LiveThreads("QvScan"), 0) << state;
    }
}

TEST_F(FormMainTest, FlatViewRescanKeepsSelectionAndFocus) {
    MakeTree();
    TFormMain window({Data.Path()});
    WaitForScan(window);
    window.ActShowFlatView->trigger();
    auto& grid = window.VirtualFileTree();
    auto* beta = window.RootNode()->FindNodeByPath(Data / "a/beta");
    auto* c = window.RootNode()->FindNodeByPath(Data / "c");
    grid.selectionModel()->select(grid.Model().IndexOf(beta),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    grid.selectionModel()->select(grid.Model().IndexOf(c),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    grid.selectionModel()->setCurrentIndex(grid.Model().IndexOf(c), QItemSelectionModel::NoUpdate);
    Data.File("c/more", 500);
    window.ActRefreshNode->trigger();
    // While they are scanned, and afterwards.
    EXPECT_EQ(grid.SelectedNodes().size(), 2U);
    EXPECT_EQ(grid.FocusedNode(), c);
    WaitForScan(window);
    EXPECT_EQ(window.RootNode()->GetSize(), 8501);
    auto selected = grid.SelectedNodes();
    std::sort(selected.begin(), selected.end());
    std::vector<TFileSystemNode*> expected{beta, c};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(selected, expected);
    EXPECT_EQ(grid.FocusedNode(), c);
}

TEST_F(FormMainTest, RescanOfTheGroupedFilesUnderTheRoot) {
    AppSettings().SetGroupSmallFiles(true);
    AppSettings().SetGroupFileSize(1000);
    Data.File("x", 10);
    Data.File("y", 20);
    Data.File("sub/z", 5000);
    TFormMain window({Data.Path()});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    WaitForScan(window);
    auto& grid = window.VirtualFileTree();
    const QModelIndex root = grid.model()->index(0, 0);
    QModelIndex group;
    for (int i = 0; i < grid.model()->rowCount(root); ++i) {
        const QModelIndex row = grid.model()->index(i, 0, root);
        if (grid.Model().NodeOf(row)->GetNodeType() == ntFileGroup) {
            group = row;
        }
    }
    ASSERT_TRUE(group.isValid());
    grid.setCurrentIndex(group);
    grid.selectionModel()->select(group,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Data.File("w", 30);
    window.ActRefreshNode->trigger();
    WaitForScan(window);
    EXPECT_EQ(window.RootNode()->GetSize(), 5060);
    // The root row still opens onto its children: sub and the grouped files.
    const QModelIndex top = grid.model()->index(0, 0);
    QTest::qWait(50);
    EXPECT_TRUE(grid.model()->hasChildren(top));
    EXPECT_TRUE(grid.isExpanded(top));
    EXPECT_EQ(grid.model()->rowCount(top), 2);
    // As the view has it: the rows below the root are shown.
    EXPECT_TRUE(grid.indexBelow(top).isValid());
}

TEST_F(FormMainTest, TitleKeepsOneShortPathAndButtonsHaveNames) {
    std::string deep = "long";
    for (int i = 0; i < 30; ++i) {
        deep += "/" + std::string(100, char('a' + i % 26));
    }
    // Names longer than the title's room too, so that one name alone must be cut.
    for (int i = 0; i < 2000; ++i) {
        Data.MkDir(deep + "/" + std::string(90, 'x') + std::to_string(i));
    }
    TFormMain window;
    // The title follows the walk at every turn of the event loop.
    window.findChild<QTimer*>("TimerStatusBar")->setInterval(0);
    window.FixedDriveRoots = [&] { return std::vector<std::string>{Data / "long"}; };
    window.ScanFixedDrives();
    int longest = 0;
    bool sawPath = false;
    ASSERT_TRUE(WaitUntil([&] {
        longest = std::max(longest, int(window.windowTitle().size()));
        sawPath = sawPath || window.windowTitle().contains("xxx");
        return !window.IsScanning();
    }));
    EXPECT_LE(longest, 70); // "Quorvel - " and 60 characters of path
    EXPECT_TRUE(sawPath);

    // Every toolbar button has a name a screen reader can say.
    for (QAction* action : window.findChild<QToolBar*>("ToolBarMain")->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        QWidget* button = window.findChild<QToolBar*>("ToolBarMain")->widgetForAction(action);
        ASSERT_NE(button, nullptr);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
        ASSERT_NE(accessible, nullptr);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty())
            << button->metaObject()->className();
    }
}

} // namespace
} // namespace qv
