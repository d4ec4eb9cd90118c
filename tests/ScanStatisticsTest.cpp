// The largest files and the sums per file type that a scan records, against what lstat
// says of the same real files.

#include "scan/ScanStatistics.h"

#include "TestTree.h"
#include "scan/DirScan.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sys/stat.h>
#include <tuple>

namespace qv {
namespace {

using test::TTempDir;

TScanStatistics::TSnapshot ScanWithStatistics(const std::string& Path, int Threads,
                                              std::size_t Capacity) {
    TRootDirNode root;
    root.SetName(Path);
    TDirScanner scanner(root);
    scanner.SetThreadCount(Threads);
    auto statistics = std::make_shared<TScanStatistics>(Capacity);
    scanner.SetStatistics(statistics);
    scanner.Scan(Path, 0);
    return statistics->Snapshot();
}

// Every file below Dir with its lstat figures, largest first and equal sizes by path.
std::vector<TLargeFile> ListedByLstat(const std::string& Dir) {
    std::vector<TLargeFile> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Dir)) {
        struct stat st;
        EXPECT_EQ(::lstat(entry.path().c_str(), &st), 0);
        if (S_ISDIR(st.st_mode))
            continue;
        files.push_back({entry.path().string(), st.st_size, std::int64_t(st.st_blocks) * 512,
                         st.st_mtim.tv_sec});
    }
    std::sort(files.begin(), files.end(), [](const TLargeFile& A, const TLargeFile& B) {
        return std::tie(B.Size, A.Path) < std::tie(A.Size, B.Path);
    });
    return files;
}

TEST(ScanStatisticsTest, LargestFilesAreTheTopOfWhatLstatSays) {
    TTempDir t;
    std::mt19937 random(17);
    for (int d = 0; d < 40; ++d)
        for (int f = 0; f < 25; ++f)
            // Few distinct sizes: many ties, and many empty files.
            t.File("d" + std::to_string(d) + "/s" + std::to_string(d % 7) + "/f" +
                       std::to_string(f),
                   std::int64_t(random() % 12) * 4096);
    t.File("big/dense", 0);
    {
        std::FILE* dense = std::fopen((t / "big/dense").c_str(), "w");
        ASSERT_NE(dense, nullptr);
        const std::string block(200000, 'x');
        std::fwrite(block.data(), 1, block.size(), dense);
        std::fclose(dense);
    }
    t.Symlink("d1", "link");
    const std::vector<TLargeFile> all = ListedByLstat(t.Path());

    for (const int threads : {1, 4})
        for (const std::size_t capacity : {std::size_t(1), std::size_t(37), all.size() + 5}) {
            const auto snapshot = ScanWithStatistics(t.Path(), threads, capacity);
            const std::size_t want = std::min(capacity, all.size());
            ASSERT_EQ(snapshot.Largest.size(), want) << threads << " threads";
            for (std::size_t i = 0; i < want; ++i) {
                const TLargeFile& have = snapshot.Largest[i];
                EXPECT_EQ(have.Path, all[i].Path) << i;
                EXPECT_EQ(have.Size, all[i].Size) << have.Path;
                EXPECT_EQ(have.SizeOnDisk, all[i].SizeOnDisk) << have.Path;
                EXPECT_EQ(have.ModifiedTime, all[i].ModifiedTime) << have.Path;
            }
        }
}

TEST(ScanStatisticsTest, SumsPerTypeFoldCaseAndKeepOddNamesApart) {
    TTempDir t;
    t.File("a/photo.JPG", 1000);
    t.File("a/b/photo.jpg", 24);
    t.File("a/archive.tar.gz", 300);
    t.File("README", 7);
    t.File("a/trailing.", 5);
    t.File("a/.bashrc", 11);
    t.File("a/.config.json", 13);
    t.File("b/many.dots.in.NAME.Txt", 0);
    t.File("b/empty.txt", 0);
    t.Symlink("a", "b/link.lnk");
    const auto snapshot = ScanWithStatistics(t.Path(), 4, 10);

    std::map<std::string, std::pair<std::int64_t, std::int64_t>> got;
    for (const TFileTypeSum& sum : snapshot.Types)
        got[sum.Type] = {sum.Size, sum.Files};
    const std::map<std::string, std::pair<std::int64_t, std::int64_t>> want{
        {"jpg", {1024, 2}},
        {"gz", {300, 1}},
        {std::string(TFileTypeSums::NoExtension), {12, 2}},
        {std::string(TFileTypeSums::Hidden), {24, 2}},
        {"txt", {0, 2}},
        {"lnk", {1, 1}}};
    EXPECT_EQ(got, want);
    // Sorted by size, largest first.
    ASSERT_FALSE(snapshot.Types.empty());
    EXPECT_EQ(snapshot.Types.front().Type, "jpg");
    EXPECT_TRUE(std::is_sorted(
        snapshot.Types.begin(), snapshot.Types.end(),
        [](const TFileTypeSum& A, const TFileTypeSum& B) { return A.Size > B.Size; }));

    // Beyond the bound on distinct types, the rest is summed as one.
    TFileTypeSums sums;
    for (std::size_t i = 0; i < TFileTypeSums::MaxTypes + 10; ++i)
        sums.Add("f.x" + std::to_string(i), 1, 0);
    EXPECT_EQ(sums.Count(), TFileTypeSums::MaxTypes + 1);
    EXPECT_EQ(sums.Sorted().front().Type, TFileTypeSums::Other);
    EXPECT_EQ(sums.Sorted().front().Files, 10);
}

// A synchronous scan of Path into Tree, as the window's scan of that folder would be.
std::shared_ptr<TScanStatistics> ScanInto(TTreeStatistics& Tree, const std::string& Path,
                                          bool End = true) {
    auto statistics = std::make_shared<TScanStatistics>(5);
    Tree.BeginScan(statistics, Path);
    TRootDirNode root;
    root.SetName(Path);
    TDirScanner scanner(root);
    scanner.SetThreadCount(2);
    scanner.SetStatistics(statistics);
    scanner.Scan(Path, 0);
    if (End)
        Tree.EndScan(statistics);
    return statistics;
}

std::vector<std::string> PathsOf(const std::vector<TLargeFile>& Files) {
    std::vector<std::string> paths;
    for (const TLargeFile& file : Files)
        paths.push_back(file.Path);
    return paths;
}

std::map<std::string, std::tuple<std::int64_t, std::int64_t, std::int64_t>>
TypesOf(const std::vector<TFileTypeSum>& Sums) {
    std::map<std::string, std::tuple<std::int64_t, std::int64_t, std::int64_t>> types;
    for (const TFileTypeSum& sum : Sums)
        types[sum.Type] = {sum.Size, sum.SizeOnDisk, sum.Files};
    return types;
}

// What a fresh scan of the whole tree says now.
TScanStatistics::TSnapshot Fresh(const std::string& Path) {
    TTreeStatistics tree(5);
    ScanInto(tree, Path);
    return tree.Snapshot();
}

TEST(TreeStatisticsTest, RescanOfAFolderReplacesItsLargestFiles) {
    TTempDir t;
    t.Data("a/f1", 50000);
    t.Data("a/f2.bin", 40000);
    t.Data("b/g1.bin", 30000);
    t.Data("b/small.txt", 100);
    t.Data("c.jpg", 20000);
    t.Data("d.jpg", 10000);
    TTreeStatistics tree(5);
    ScanInto(tree, t.Path());
    std::vector<std::string> all = PathsOf(ListedByLstat(t.Path()));
    all.resize(5);
    EXPECT_EQ(PathsOf(tree.Snapshot().Largest), all);
    EXPECT_FALSE(tree.TypesOutdated());

    // The folder changes on disk, and so does another one that is not scanned again.
    std::filesystem::remove(t / "a/f1");
    t.Data("a/f3", 60000);
    t.Data("b/g1.bin", 35000);
    ScanInto(tree, t / "a");
    const auto after = tree.Snapshot();
    EXPECT_EQ(PathsOf(after.Largest),
              (std::vector<std::string>{t / "a/f3", t / "a/f2.bin", t / "b/g1.bin", t / "c.jpg",
                                        t / "d.jpg"}));
    EXPECT_EQ(after.Largest[2].Size, 30000); // as the first scan saw it
    EXPECT_TRUE(tree.TypesOutdated());

    // A re-scan of a folder whose scan was forgotten by a wider one: its end counts nothing.
    auto inner = ScanInto(tree, t / "b", false);
    EXPECT_TRUE(tree.IsScanning());
    ScanInto(tree, t.Path());
    tree.EndScan(inner);
    EXPECT_FALSE(tree.IsScanning());
    // The whole tree scanned again: everything is right again.
    EXPECT_FALSE(tree.TypesOutdated());
    const auto fresh = Fresh(t.Path());
    EXPECT_EQ(PathsOf(tree.Snapshot().Largest), PathsOf(fresh.Largest));
    EXPECT_EQ(TypesOf(tree.Snapshot().Types), TypesOf(fresh.Types));

    tree.Clear();
    EXPECT_TRUE(tree.Snapshot().Largest.empty());
    EXPECT_TRUE(tree.Snapshot().Types.empty());
}

TEST(TreeStatisticsTest, DeletedFileIsExactADeletedFolderOutdatesTheTypes) {
    TTempDir t;
    t.Data("a/f1.bin", 50000);
    t.Data("a/f2.bin", 40000);
    t.Data("a/only.iso", 1000);
    t.Data("b/g1.txt", 30000);
    t.Data(".hidden", 700);
    TTreeStatistics tree(5);
    ScanInto(tree, t.Path());
    for (const char* name : {"a/f1.bin", "a/only.iso"}) {
        struct stat st;
        ASSERT_EQ(::lstat((t / name).c_str(), &st), 0);
        std::filesystem::remove(t / name);
        tree.FileDeleted(t / name, st.st_size, std::int64_t(st.st_blocks) * 512);
    }
    // Exactly what a scan of the disk now says; a type without files is gone.
    const auto fresh = Fresh(t.Path());
    EXPECT_EQ(PathsOf(tree.Snapshot().Largest), PathsOf(fresh.Largest));
    EXPECT_EQ(TypesOf(tree.Snapshot().Types), TypesOf(fresh.Types));
    EXPECT_FALSE(TypesOf(tree.Snapshot().Types).contains("iso"));
    EXPECT_FALSE(tree.TypesOutdated());

    // A folder: its files leave the list, the sums cannot follow.
    const auto before = TypesOf(tree.Snapshot().Types);
    test::RemoveTree(t / "b");
    tree.SubtreeDeleted(t / "b");
    EXPECT_EQ(PathsOf(tree.Snapshot().Largest),
              (std::vector<std::string>{t / "a/f2.bin", t / ".hidden"}));
    EXPECT_TRUE(tree.TypesOutdated());
    EXPECT_EQ(TypesOf(tree.Snapshot().Types), before);
    // A name like the folder's but beside it is not inside it.
    EXPECT_TRUE(IsAtOrBelow(t / "b/x", t / "b"));
    EXPECT_FALSE(IsAtOrBelow(t / "bb", t / "b"));
    EXPECT_TRUE(IsAtOrBelow("/x", "/"));

    ScanInto(tree, t.Path());
    EXPECT_FALSE(tree.TypesOutdated());
    EXPECT_EQ(TypesOf(tree.Snapshot().Types), TypesOf(Fresh(t.Path()).Types));
}

} // namespace
} // namespace qv
