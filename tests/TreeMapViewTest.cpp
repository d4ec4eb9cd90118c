// The treemap panel offscreen with a real event loop over a scanned folder: the picture
// arrives from the worker, the mouse hovers, clicks and zooms, the keyboard zooms out, the
// selection and a file type are drawn over the picture without drawing it again, and nodes
// are freed while a drawing runs.

#include "view/TreeMapView.h"

#include "TestTree.h"
#include "scan/DirScan.h"
#include "tree/TreeTypes.h"

#include <QAccessible>
#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace qv {
namespace {

using test::TTempDir;

// big/ (x.bin 6000, y.txt 2000, listed), mid/ (3000 in one file), top.txt 1000.
class TreeMapViewTest : public ::testing::Test {
protected:
    TTempDir Dir;
    TRootDirNode Root;
    TTreeMapView View;

    void SetUp() override {
        Dir.File("big/x.bin", 6000);
        Dir.File("big/y.txt", 2000);
        Dir.File("mid/m.bin", 3000);
        Dir.File("top.txt", 1000);
        Root.SetPath(Dir.Path());
        TDirScanner(Root).Scan(Dir.Path(), 0);
        ASSERT_EQ(Big().LoadFiles(), 2);
        View.SetTypeColours(
            std::make_shared<const TFileTypeColours>(std::vector<std::string>{"bin", "txt"}));
        View.resize(320, 240);
        View.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&View));
        View.SetRoot(&Root);
        WaitDrawn();
    }

    void WaitDrawn() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !View.IsDrawing(); }, 10000));
        ASSERT_NE(View.Result(), nullptr);
    }
    TGroupNode& Big() { return *static_cast<TGroupNode*>(Root.FindNodeByPath(Dir / "big")); }
    TFileSystemNode* Node(const std::string& Rel) { return Root.FindNodeByPath(Dir / Rel); }
    const TMapItem* Item(const TFileSystemNode* Node) const {
        for (const TMapItem& item : View.Result()->Items)
            if (item.Node == Node && (item.Kind == mkDirectory || item.Kind == mkFile))
                return &item;
        return nullptr;
    }
    static QPoint Centre(const TMapItem& Item) {
        return {Item.X + Item.W / 2, Item.Y + Item.H / 2};
    }
};

TEST_F(TreeMapViewTest, TheMouseHoversClicksAndZoomsTheKeyboardZoomsOut) {
    EXPECT_EQ(View.Result()->Image.size(), QSize(320, 240));
    EXPECT_EQ(View.accessibleName(), QStringLiteral("Treemap"));
    EXPECT_EQ(View.accessibleDescription(), QString::fromStdString(Dir.Path()));
    EXPECT_EQ(View.focusPolicy(), Qt::StrongFocus);
    const TMapItem* x = Item(Node("big/x.bin"));
    ASSERT_NE(x, nullptr);

    std::vector<std::pair<std::string, std::int64_t>> hovers;
    View.OnHover = [&](const std::string& Path, std::int64_t Size) {
        hovers.emplace_back(Path, Size);
    };
    std::vector<TTreeMapHit> clicks;
    View.OnClicked = [&](const TTreeMapHit& Hit) { clicks.push_back(Hit); };
    int zooms = 0;
    View.OnZoomChanged = [&] { ++zooms; };

    // Sent directly: the offscreen platform moves no real pointer (and its pointer may rest
    // anywhere on the map when the picture arrives).
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&View, &leave);
    QMouseEvent move(QEvent::MouseMove, QPointF(Centre(*x)), View.mapToGlobal(QPointF(Centre(*x))),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&View, &move);
    ASSERT_FALSE(hovers.empty());
    EXPECT_EQ(hovers.back(), std::make_pair(Dir / "big/x.bin", std::int64_t(6000)));
    QTest::mouseClick(&View, Qt::LeftButton, {}, Centre(*x));
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].Node, Node("big/x.bin"));
    EXPECT_EQ(clicks[0].Kind, mkFile);
    EXPECT_EQ(clicks[0].Type, "bin");

    // A double click on a file zooms into its folder; the new picture shows only that.
    QTest::mouseDClick(&View, Qt::LeftButton, {}, Centre(*x));
    EXPECT_EQ(View.ZoomRootNode(), &Big());
    EXPECT_EQ(zooms, 1);
    EXPECT_TRUE(View.CanZoomOut());
    WaitDrawn();
    EXPECT_EQ(View.Result()->Items.front().Node, &Big());
    EXPECT_EQ(View.Result()->Items.front().Size, 8000);
    EXPECT_EQ(Item(Node("mid")), nullptr);
    EXPECT_EQ(View.accessibleDescription(), QString::fromStdString(Dir / "big"));

    QTest::keyClick(&View, Qt::Key_Backspace);
    EXPECT_EQ(View.ZoomRootNode(), &Root);
    EXPECT_FALSE(View.CanZoomOut());
    View.ZoomOut(); // at the top: stays
    EXPECT_EQ(View.ZoomRootNode(), &Root);
    EXPECT_EQ(zooms, 2);
    WaitDrawn();
    ASSERT_NE(Item(Node("mid")), nullptr);

    View.ZoomIn(static_cast<TGroupNode*>(Node("mid")));
    View.ZoomRoot();
    EXPECT_EQ(View.ZoomRootNode(), &Root);
    EXPECT_EQ(zooms, 4);

    QApplication::sendEvent(&View, &leave);
    EXPECT_EQ(hovers.back().first, "");
}

TEST_F(TreeMapViewTest, SelectionAndTypeAreDrawnOverThePicture) {
    const TMapItem* mid = Item(Node("mid"));
    const TMapItem* x = Item(Node("big/x.bin"));
    const TMapItem* y = Item(Node("big/y.txt"));
    ASSERT_NE(mid, nullptr);
    ASSERT_NE(x, nullptr);
    ASSERT_NE(y, nullptr);
    const TTreeMapResult* before = View.Result();
    const QImage picture = View.Result()->Image;

    View.SetSelectedNodes({Node("mid")});
    QImage shown = View.grab().toImage();
    const QColor outline = View.palette().color(QPalette::Highlight);
    const QPoint edge(mid->X + 1, mid->Y + mid->H / 2);
    EXPECT_EQ(shown.pixelColor(edge), outline);
    EXPECT_NE(picture.pixelColor(edge), outline);
    EXPECT_EQ(shown.pixel(Centre(*mid)), picture.pixel(Centre(*mid)));

    View.SetHighlightedType("bin");
    shown = View.grab().toImage();
    EXPECT_EQ(shown.pixel(Centre(*x)), picture.pixel(Centre(*x)));
    EXPECT_LT(qGray(shown.pixel(Centre(*y))), qGray(picture.pixel(Centre(*y))));
    View.SetHighlightedType({});
    View.SetSelectedNodes({});
    shown = View.grab().toImage();
    EXPECT_EQ(shown.pixel(Centre(*y)), picture.pixel(Centre(*y)));
    EXPECT_EQ(shown.pixel(edge), picture.pixel(edge));
    // None of it asked the worker for a new picture.
    EXPECT_FALSE(View.IsDrawing());
    EXPECT_EQ(View.Result(), before);
}

TEST_F(TreeMapViewTest, NodesFreedWhileADrawingRuns) {
    View.ZoomIn(&Big());
    WaitDrawn();
    View.Redraw();
    View.ReleaseNodes(&Big());
    // The zoom root goes up out of what is freed; the old picture stays without hit tests.
    EXPECT_EQ(View.ZoomRootNode(), &Root);
    EXPECT_FALSE(View.IsDrawing());
    EXPECT_TRUE(View.Result()->Items.empty());
    EXPECT_FALSE(View.HitAt({160, 120}).has_value());
    Big().Delete();
    View.Redraw();
    WaitDrawn();
    EXPECT_EQ(View.Result()->Items.front().Size, 4000);
    EXPECT_NE(Item(Node("mid")), nullptr);

    // Freeing the top empties the view.
    View.ReleaseNodes(&Root);
    EXPECT_EQ(View.ZoomRootNode(), nullptr);
    EXPECT_EQ(View.Root(), nullptr);
    View.Redraw();
    EXPECT_EQ(View.Result(), nullptr);
}

TEST_F(TreeMapViewTest, AResizeDrawsAgainForTheNewSize) {
    View.resize(200, 150);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return View.Result()->Image.size() == QSize(200, 150); }, 5000));
    View.SetCalmRedraw(true);
    View.SetCalmRedraw(false); // the scan ended: one more drawing
    EXPECT_TRUE(View.IsDrawing());
    WaitDrawn();
}

} // namespace
} // namespace qv
