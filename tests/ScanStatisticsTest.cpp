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

} // namespace
} // namespace qv
