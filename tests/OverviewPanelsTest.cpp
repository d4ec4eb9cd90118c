// The treemap and the two lists in the real window against real folders: what they show
// after a scan, the selection passed between them and the grid, the map after a delete and
// after a re-scan under its zoom, and their place in the view state.

#include "app/OverviewPanels.h"

#include "TestTree.h"
#include "app/FormMain.h"
#include "app/ItemCommands.h"
#include "settings/QvSettings.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"
#include "view/SizeFormat.h"
#include "view/StatisticsViews.h"
#include "view/TreeMapView.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qv {
namespace {

using test::TTempDir;

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

class OverviewPanelsTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("HOME", Home.Path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (Home / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (Home / "data").c_str(), 1);
        ResetAppSettings();
        UseLanguage("en");
        SetNumberSeparators(".", ",");
        AppSettings().SetGroupSmallFiles(false);
        Data.File("a/big.iso", 400000);
        Data.File("a/b/movie.mkv", 300000);
        Data.File("a/b/clip.mkv", 50000);
        Data.File("c/photo.jpg", 100000);
        Data.File("c/notes.txt", 2000);
        Data.File(".profile", 500);
    }
    void TearDown() override { ResetAppSettings(); }

    // Scans Data with the map shown, and waits for the map of the whole result.
    void ScanWithMap(TFormMain& Window) {
        Window.resize(900, 700);
        Window.show();
        TOverviewPanels& panels = Window.Overview();
        if (!panels.ActShowTreeMap->isChecked())
            panels.ActShowTreeMap->trigger();
        Window.ScanPath(Data.Path());
        ASSERT_TRUE(WaitUntil([&] { return !Window.IsScanning(); }));
        WaitForMap(panels.TreeMap());
    }

    static void WaitForMap(TTreeMapView& Map) {
        ASSERT_TRUE(WaitUntil([&] { return Map.Result() && !Map.IsDrawing(); }));
    }

    // The centre of Node's rectangle in the map shown, in the view's coordinates.
    static std::optional<QPoint> CentreOf(const TTreeMapView& Map, const TFileSystemNode* Node) {
        for (const TMapItem& item : Map.Result()->Items)
            if (item.Node == Node && item.Kind != mkUnlistedFiles && item.Kind != mkLargeFile)
                return QPoint(item.X + item.W / 2, item.Y + item.H / 2);
        return std::nullopt;
    }

    TFileSystemNode* Node(TFormMain& Window, const std::string& Relative) const {
        return Window.RootNode()->FindNodeByPath(Data / Relative);
    }

    TTempDir Home;
    TTempDir Data;
};

TEST_F(OverviewPanelsTest, MapAndListsShowTheScanAndFollowTheSelection) {
    TFormMain window;
    TOverviewPanels& panels = window.Overview();
    panels.ActShowLargestFiles->trigger();
    ScanWithMap(window);
    TTreeMapView& map = panels.TreeMap();

    // The lists: the largest file first, and the types summing to the tree.
    const auto& files = panels.LargestFiles().Model().GetItems();
    ASSERT_EQ(files.size(), 6u);
    EXPECT_EQ(files.front().Path, Data / "a/big.iso");
    std::int64_t typed = 0;
    std::int64_t mkv = -1;
    for (const TFileTypeSum& sum : panels.FileTypes().Model().GetItems()) {
        typed += sum.Size;
        if (sum.Type == "mkv")
            mkv = sum.Size;
    }
    EXPECT_EQ(typed, window.RootNode()->GetSize());
    EXPECT_EQ(mkv, 350000);

    // A click on a folder's rectangle selects its row, opening the rows down to it.
    TFileSystemNode* b = Node(window, "a/b");
    ASSERT_NE(b, nullptr);
    const auto centre = CentreOf(map, b);
    ASSERT_TRUE(centre);
    QTest::mouseClick(&map, Qt::LeftButton, {}, *centre);
    EXPECT_EQ(window.VirtualFileTree().FocusedNode(), b);
    // The map shows what it is: the big file of an unopened folder is a rectangle of its own.
    const auto hit = map.HitAt(*centre);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->Path, Data / "a/b/movie.mkv");

    // Choosing a file in the list selects its row, or its folder's while its files are not
    // listed.
    TLargestFilesView& list = panels.LargestFiles();
    for (int row = 0; row < list.model()->rowCount(); ++row)
        if (list.Model().Item(row).Path == Data / "c/photo.jpg")
            list.setCurrentIndex(list.model()->index(row, 0));
    TFileSystemNode* chosen = window.VirtualFileTree().FocusedNode();
    ASSERT_NE(chosen, nullptr);
    EXPECT_TRUE(chosen == Node(window, "c/photo.jpg") || chosen == Node(window, "c"))
        << chosen->GetFullPath();

    // Double click zooms into a folder; the toolbar's action goes back out.
    const auto centreA = CentreOf(map, Node(window, "a"));
    ASSERT_TRUE(centreA);
    QTest::mouseDClick(&map, Qt::LeftButton, {}, *centreA);
    EXPECT_EQ(map.ZoomRootNode(), Node(window, "a"));
    EXPECT_TRUE(panels.ActTreeMapZoomOut->isEnabled());
    panels.ActTreeMapZoomOut->trigger();
    EXPECT_EQ(map.ZoomRootNode(), window.RootNode());
    EXPECT_FALSE(panels.ActTreeMapZoomOut->isEnabled());
}

TEST_F(OverviewPanelsTest, DeleteAndRescanBringTheMapAndListsInLine) {
    TFormMain window;
    ScanWithMap(window);
    TOverviewPanels& panels = window.Overview();
    TTreeMapView& map = panels.TreeMap();

    // Deleting the largest file: it leaves the list, its type and the map.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &answer, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            if (QAbstractButton* yes = box->button(QMessageBox::Yes))
                yes->click();
    });
    answer.start(10);
    const TTreeMapResult* before = map.Result();
    ASSERT_TRUE(window.ItemCommands().DeletePaths({Data / "a/big.iso"}, false));
    ASSERT_TRUE(WaitUntil([&] { return map.Result() != before && !map.IsDrawing(); }));
    for (const TMapItem& item : map.Result()->Items)
        EXPECT_NE(item.Size, 400000);
    for (const TLargeFile& file : panels.LargestFiles().Model().GetItems())
        EXPECT_NE(file.Path, Data / "a/big.iso");
    for (const TFileTypeSum& sum : panels.FileTypes().Model().GetItems())
        EXPECT_NE(sum.Type, "iso");
    EXPECT_FALSE(panels.Statistics().TypesOutdated());

    // A re-scan of a folder above the zoom root frees it: the map shows that folder then.
    auto* a = dynamic_cast<TDirNode*>(Node(window, "a"));
    auto* b = dynamic_cast<TGroupNode*>(Node(window, "a/b"));
    ASSERT_TRUE(a && b);
    map.ZoomIn(b);
    WaitForMap(map);
    Data.File("a/b/new.mkv", 70000);
    window.ScanSubDirNode(a);
    EXPECT_EQ(map.ZoomRootNode(), a);
    ASSERT_TRUE(WaitUntil([&] { return !window.IsScanning(); }));
    WaitForMap(map);
    std::int64_t shown = 0;
    for (const TMapItem& item : map.Result()->Items)
        if (item.Depth == 1)
            shown += item.Size;
    EXPECT_EQ(shown, a->GetSize());
    EXPECT_EQ(a->GetSize(), 420000);
    EXPECT_TRUE(panels.Statistics().TypesOutdated());
    EXPECT_EQ(panels.LargestFiles().Model().GetItems().front().Path, Data / "a/b/movie.mkv");
}

TEST_F(OverviewPanelsTest, PanelsKeepTheirPlaceInTheViewState) {
    {
        TFormMain window;
        window.show();
        TOverviewPanels& panels = window.Overview();
        EXPECT_FALSE(panels.TreeMap().isVisible());
        EXPECT_FALSE(panels.LargestFiles().isVisible());
        panels.ActShowTreeMap->trigger();
        panels.ActShowFileTypes->trigger();
        EXPECT_TRUE(panels.TreeMap().isVisible());
        EXPECT_TRUE(panels.FileTypes().isVisible());
        // One side tab at a time: the other entry follows.
        panels.ActShowLargestFiles->trigger();
        EXPECT_FALSE(panels.ActShowFileTypes->isChecked());
        panels.ActShowFileTypes->trigger();
    }
    TFormMain window;
    window.show();
    TOverviewPanels& panels = window.Overview();
    EXPECT_TRUE(panels.ActShowTreeMap->isChecked());
    EXPECT_TRUE(panels.TreeMap().isVisible());
    EXPECT_TRUE(panels.ActShowFileTypes->isChecked());
    EXPECT_TRUE(panels.FileTypes().isVisible());
    EXPECT_FALSE(panels.ActShowLargestFiles->isChecked());
    panels.ActShowFileTypes->trigger();
    EXPECT_FALSE(panels.FileTypes().isVisible());
}

} // namespace
} // namespace qv
