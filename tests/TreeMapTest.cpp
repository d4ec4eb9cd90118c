// The treemap's drawing on real scanned folders, without a window: the colours of the file
// types, rectangles in proportion and found again by a hit test, the largest files cut out of
// folders whose files are no nodes, and the worker against the GUI thread freeing nodes and
// against a scan still filling the tree (run under ThreadSanitizer too).

#include "TestTree.h"
#include "scan/DirScan.h"
#include "scan/ScanStatistics.h"
#include "tree/TreeTypes.h"
#include "view/FileTypeColours.h"
#include "view/TreeMapThread.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace qv {
namespace {

using test::TTempDir;

int Distance(std::uint32_t A, std::uint32_t B) {
    const auto channel = [](std::uint32_t C, int Shift) { return int((C >> Shift) & 0xFF); };
    int sum = 0;
    for (int shift : {0, 8, 16})
        sum += std::abs(channel(A, shift) - channel(B, shift));
    return sum;
}

TEST(TreeMapTest, TheLargestTypesGetDistinctColoursTheRestOneNeutral) {
    std::vector<std::string> types;
    for (int i = 0; i < 20; ++i)
        types.push_back("t" + std::to_string(i));
    types.insert(types.begin() + 1, "t0"); // a repeat takes no second colour
    const TFileTypeColours colours(types);
    ASSERT_EQ(colours.Types().size(), TFileTypeColours::PaletteSize);
    std::vector<std::uint32_t> seen;
    for (int i = 0; i < 12; ++i) {
        const std::uint32_t c = colours.Colour("t" + std::to_string(i));
        for (std::uint32_t other : seen)
            EXPECT_GT(Distance(c, other), 90) << "t" << i;
        EXPECT_GT(Distance(c, TFileTypeColours::OtherColour), 90) << "t" << i;
        EXPECT_GT(Distance(c, TFileTypeColours::UnlistedColour), 90) << "t" << i;
        seen.push_back(c);
    }
    EXPECT_EQ(colours.Colour("t12"), TFileTypeColours::OtherColour);
    EXPECT_EQ(colours.Colour("unknown"), TFileTypeColours::OtherColour);
    EXPECT_EQ(TFileTypeColours().Colour("t0"), TFileTypeColours::OtherColour);
}

// top: its files listed as nodes (a.bin 4000, b.txt 2000, c.txt 1000), big/ unlisted
// (x.iso 3000, y.bin 1000, and 40 small files of 10 bytes), sub/deep/z.txt 600.
class TreeMapDrawTest : public ::testing::Test {
protected:
    TTempDir Dir;
    TRootDirNode Root;
    // The four largest: a.bin, x.iso, b.txt, y.bin.
    std::shared_ptr<TScanStatistics> Statistics = std::make_shared<TScanStatistics>(4);

    void SetUp() override {
        Dir.File("a.bin", 4000);
        Dir.File("b.txt", 2000);
        Dir.File("c.txt", 1000);
        Dir.File("big/x.iso", 3000);
        Dir.File("big/y.bin", 1000);
        for (int i = 0; i < 40; ++i)
            Dir.File("big/s" + std::to_string(i), 10);
        Dir.File("sub/deep/z.txt", 600);
        Root.SetPath(Dir.Path());
        TDirScanner scanner(Root);
        scanner.SetStatistics(Statistics);
        scanner.Scan(Dir.Path(), 0);
        ASSERT_EQ(Root.LoadFiles(), 3);
    }

    TTreeMapRequest Request(int Width, int Height) {
        TTreeMapRequest request;
        request.Root = &Root;
        request.RootPath = Root.GetFullPath();
        request.Width = Width;
        request.Height = Height;
        request.LargestFiles =
            std::make_shared<const std::vector<TLargeFile>>(Statistics->Snapshot().Largest);
        request.Colours =
            std::make_shared<const TFileTypeColours>(std::vector<std::string>{"bin", "iso", "txt"});
        return request;
    }

    TGroupNode& Folder(const std::string& Rel) {
        return *static_cast<TGroupNode*>(Root.FindNodeByPath(Dir / Rel));
    }
};

const TMapItem* Find(const TTreeMapResult& Result, const TFileSystemNode* Node, TMapItemKind Kind) {
    for (const TMapItem& item : Result.Items)
        if (item.Node == Node && item.Kind == Kind)
            return &item;
    return nullptr;
}

TEST_F(TreeMapDrawTest, RectanglesInProportionFoundAgainByTheirCentres) {
    const auto result = DrawTreeMap(Request(400, 300), nullptr);
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->Image.size(), QSize(400, 300));
    ASSERT_FALSE(result->Items.empty());
    const TMapItem& top = result->Items.front();
    EXPECT_EQ(top.Node, &Root);
    EXPECT_EQ(top.Size, Root.GetSize());
    EXPECT_EQ(top.Next, result->Items.size());
    // The children tile the frame's inside: 400 x 300 less the frame and the inset.
    const double inner = 396.0 * 296.0;
    std::int64_t laidOut = 0;
    for (std::size_t i = 1; i < result->Items.size(); i = result->Items[i].Next) {
        const TMapItem& item = result->Items[i];
        const double want = inner * double(item.Size) / double(Root.GetSize());
        EXPECT_NEAR(double(item.W) * item.H, want, item.W + item.H + 1.0) << i;
        laidOut += item.Size;
    }
    EXPECT_EQ(laidOut, Root.GetSize());
    // Every rectangle without anything inside is what its centre hits; a folder's frame
    // hits the folder.
    int files = 0;
    for (std::size_t i = 0; i < result->Items.size(); ++i) {
        const TMapItem& item = result->Items[i];
        if (item.Next == i + 1) {
            EXPECT_EQ(result->HitTest(item.X + item.W / 2, item.Y + item.H / 2), int(i)) << i;
            files += item.Kind == mkFile;
        } else {
            EXPECT_EQ(result->HitTest(item.X, item.Y), int(i)) << i;
        }
    }
    EXPECT_EQ(files, 3);
    EXPECT_EQ(result->HitTest(-1, 5), -1);
    EXPECT_EQ(result->HitTest(400, 5), -1);
    // Coloured by type: a.bin blue, b.txt green, both shaded but keeping their hue.
    const TMapItem* a = Find(*result, Root.FindNodeByPath(Dir / "a.bin"), mkFile);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(result->Types[a->Type], "bin");
    const QColor blue = result->Image.pixelColor(a->X + a->W / 2, a->Y + a->H / 2);
    EXPECT_GT(blue.blue(), blue.red() + 60);
    const TMapItem* b = Find(*result, Root.FindNodeByPath(Dir / "b.txt"), mkFile);
    ASSERT_NE(b, nullptr);
    const QColor other = result->Image.pixelColor(b->X + b->W / 2, b->Y + b->H / 2);
    EXPECT_GT(other.green(), other.blue() + 20);
    // The nested folder sits inside its parent's frame.
    const TMapItem* sub = Find(*result, &Folder("sub"), mkDirectory);
    const TMapItem* deep = Find(*result, &Folder("sub/deep"), mkDirectory);
    ASSERT_NE(sub, nullptr);
    ASSERT_NE(deep, nullptr);
    EXPECT_GT(deep->X, sub->X);
    EXPECT_LT(deep->X + deep->W, sub->X + sub->W);
    EXPECT_EQ(deep->Depth, sub->Depth + 1);
}

TEST_F(TreeMapDrawTest, LargestFilesAreCutOutOfTheirFolderOnce) {
    const auto result = DrawTreeMap(Request(400, 300), nullptr);
    ASSERT_NE(result, nullptr);
    const TGroupNode& big = Folder("big");
    const TMapItem* folder = Find(*result, &big, mkDirectory);
    ASSERT_NE(folder, nullptr);
    std::vector<std::string> cut;
    std::int64_t cutBytes = 0;
    for (std::size_t i = 0; i < result->Items.size(); ++i) {
        const TMapItem& item = result->Items[i];
        if (item.Kind != mkLargeFile)
            continue;
        const TLargeFile& file = (*result->LargestFiles)[item.LargeFile];
        cut.push_back(file.Path);
        EXPECT_EQ(item.Node, &big) << file.Path;
        EXPECT_EQ(item.Size, file.Size);
        cutBytes += item.Size;
        // Inside the folder, and the innermost thing at its centre.
        EXPECT_GE(item.X, folder->X);
        EXPECT_LE(item.X + item.W, folder->X + folder->W);
        EXPECT_EQ(result->HitTest(item.X + item.W / 2, item.Y + item.H / 2), int(i));
    }
    // The top's files are nodes, so its largest ones are not cut out again; the small files
    // of big/ stay in one block of what is left.
    std::sort(cut.begin(), cut.end());
    EXPECT_EQ(cut, (std::vector<std::string>{Dir / "big/x.iso", Dir / "big/y.bin"}));
    const TMapItem* rest = Find(*result, &big, mkUnlistedFiles);
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(rest->Size, 400);
    EXPECT_EQ(cutBytes + rest->Size, big.GetSize());
    EXPECT_EQ(rest->Type, TMapItem::NoType);
    const double ratio = double(rest->W) * rest->H / (double(folder->W - 4) * (folder->H - 4));
    EXPECT_NEAR(ratio, 400.0 / 4400.0, 0.03);
}

TEST_F(TreeMapDrawTest, TinyMapsListNoSpecksACancelledDrawingNothing) {
    const auto tiny = DrawTreeMap(Request(5, 5), nullptr);
    ASSERT_NE(tiny, nullptr);
    EXPECT_FALSE(tiny->Items.empty());
    for (const TMapItem& item : tiny->Items) {
        EXPECT_GE(item.W, 2);
        EXPECT_GE(item.H, 2);
    }
    const auto none = DrawTreeMap(Request(0, 0), nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->Items.empty());
    std::atomic<bool> cancelled{true};
    Dir.MkDir("many");
    for (int i = 0; i < 600; ++i)
        Dir.File("many/f" + std::to_string(i), 100 + i);
    TRootDirNode many;
    many.SetPath(Dir / "many");
    TDirScanner(many).Scan(Dir / "many", 0);
    ASSERT_EQ(many.LoadFiles(), 600);
    TTreeMapRequest request = Request(200, 100);
    request.Root = &many;
    request.RootPath = many.GetFullPath();
    EXPECT_EQ(DrawTreeMap(request, &cancelled), nullptr);
}

// A tree of Dirs folders with Files files each: big enough that a drawing takes a while.
void MakeWideTree(const TTempDir& Dir, int Dirs, int Files) {
    for (int d = 0; d < Dirs; ++d)
        for (int f = 0; f < Files; ++f)
            Dir.File("w" + std::to_string(d % 7) + "/d" + std::to_string(d) + "/f" +
                         std::to_string(f) + (f % 3 ? ".dat" : ""),
                     1 + f * 37 + d);
}

TEST(TreeMapThreadTest, ReleaseNodesStopsTheDrawingBeforeNodesAreFreed) {
    TTempDir dir;
    MakeWideTree(dir, 1500, 3);
    TRootDirNode root;
    root.SetPath(dir.Path());
    TDirScanner(root).Scan(dir.Path(), 0);

    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::shared_ptr<TTreeMapResult>> results;
    TTreeMapThread thread([&](std::shared_ptr<TTreeMapResult> Result) {
        std::lock_guard guard(lock);
        results.push_back(std::move(Result));
        changed.notify_all();
    });
    double longest = 0;
    for (int round = 0; round < 7; ++round) {
        thread.Request(
            {&root, root.GetFullPath(), 1600, 1200, nullptr, nullptr, std::uint64_t(round + 1)});
        std::this_thread::sleep_for(std::chrono::microseconds(300 * round));
        const auto start = std::chrono::steady_clock::now();
        thread.ReleaseNodes();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
        EXPECT_FALSE(thread.Busy());
        // What the sanitizers watch: the worker must be out of these nodes now.
        root.FindNodeByPath(dir / ("w" + std::to_string(round)))->Delete();
    }
    // Far less than a whole drawing; generous for a loaded machine under a sanitizer, where
    // the worker may wait for a core before it sees the flag.
    EXPECT_LT(longest, 250.0);
    {
        std::lock_guard guard(lock);
        EXPECT_LT(results.size(), 7u); // drawings were stopped (or dropped before they began)
    }
    // The next request draws the tree that is left, and is reported.
    thread.Request({&root, root.GetFullPath(), 300, 200, nullptr, nullptr, 99});
    std::unique_lock guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(20),
                                 [&] { return !results.empty() && results.back()->Ticket == 99; }));
    EXPECT_EQ(results.back()->Items.front().Size, root.GetSize());
    EXPECT_EQ(root.GetSize(), 0); // every top folder went
}

TEST(TreeMapThreadTest, DrawsWhileAScanFillsTheTree) {
    TTempDir dir;
    MakeWideTree(dir, 400, 6);
    for (int d = 0; d < 50; ++d) // one small file: its group is dissolved at the end
        dir.File("single/d" + std::to_string(d) + "/only", 5);
    TRootDirNode root;
    root.SetPath(dir.Path());
    root.SetGroupFileSize(100);
    TDirScanner scanner(root);
    scanner.SetThreadCount(2);
    std::atomic<bool> done{false};
    std::thread scan([&] {
        scanner.Scan(dir.Path(), 100);
        done.store(true);
    });
    int drawn = 0;
    do {
        const bool last = done.load();
        const auto result =
            DrawTreeMap({&root, dir.Path(), 500, 400, nullptr, nullptr, 1}, nullptr);
        ASSERT_NE(result, nullptr);
        ++drawn;
        if (last) {
            EXPECT_EQ(result->Items.front().Size, root.GetSize());
            break;
        }
    } while (true);
    scan.join();
    EXPECT_GE(drawn, 1);
}

} // namespace
} // namespace qv
