// The scanner and the lazy file listing against real directories made for each test.

#include "TestTree.h"
#include "platform/DirReader.h"
#include "scan/DirScan.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qv {
namespace {

using test::TTempDir;

std::unique_ptr<TRootDirNode> ScanTree(const std::string& Path, std::int64_t Group,
                                       bool Cross = false) {
    auto root = std::make_unique<TRootDirNode>();
    root->SetName(Path);
    root->SetGroupFileSize(Group);
    TDirScanner scanner(*root);
    scanner.SetCrossFileSystems(Cross);
    scanner.Scan(Path, Group);
    EXPECT_FALSE(scanner.Busy());
    return root;
}

TDirNode* Dir(const TGroupNode& Root, const std::string& Path) {
    auto* node = Root.FindNodeByPath(Root.GetFullPath() + "/" + Path);
    return node && node->IsGroupNode() && !node->IsFileGroup() ? static_cast<TDirNode*>(node)
                                                               : nullptr;
}

std::vector<std::string> ChildNames(const TGroupNode& Node) {
    std::vector<std::string> names;
    TChildrenLock guard(Node);
    for (const TFileSystemNode* child : guard.Children().Items())
        names.emplace_back(child->Name());
    return names;
}

TEST(ScanTest, SizesCountsAndGrouping) {
    TTempDir t;
    t.File("big1", 1000);
    t.File("exact", 100); // equal to the threshold: not grouped
    t.File("under", 99);  // one byte less: grouped
    t.File("tiny", 0);
    t.File(".hidden", 5000);
    t.File("sub/one-small", 3);
    t.File("sub/large", 700);
    t.MkDir("sub/empty");
    auto root = ScanTree(t.Path(), 100);

    EXPECT_EQ(root->GetSize(), 1000 + 100 + 99 + 5000 + 3 + 700);
    EXPECT_EQ(root->GetFileCount(), 7);
    EXPECT_EQ(root->ScanError(), 0);
    EXPECT_FALSE(root->IsScanning() || root->IsIncomplete() || root->IsEmpty());

    TFileGroupNode* group = root->FileGroup();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->GetSize(), 99);
    EXPECT_EQ(group->GetFileCount(), 2);

    TDirNode* sub = Dir(*root, "sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->GetSize(), 703);
    // A single small file is no group: it is listed with the directory's other files.
    EXPECT_EQ(sub->FileGroup(), nullptr);
    EXPECT_TRUE(sub->IsUngrouped());
    EXPECT_EQ(sub->LoadFiles(), 2);
    EXPECT_EQ(ChildNames(*sub), (std::vector<std::string>{"empty", "large", "one-small"}));
    EXPECT_EQ(sub->GetSize(), 703);

    TDirNode* empty = Dir(*root, "sub/empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->IsEmpty());
    EXPECT_EQ(empty->ScanError(), 0);
    EXPECT_EQ(empty->GetSize(), 0);
    EXPECT_EQ(empty->Attributes() & faDirectory, faDirectory);

    // Opening the directory lists the files at or above the threshold after the children
    // it had, sorted; opening the group lists the small ones.
    EXPECT_EQ(root->LoadFiles(), 3);
    EXPECT_EQ(root->LoadFiles(), -1);
    const auto names = ChildNames(*root);
    ASSERT_EQ(names.size(), 5u);
    // The group goes after the sub-directories the scan had met before the first small file.
    EXPECT_TRUE((names[0] == "sub" && names[1] == "Grouped Files") ||
                (names[1] == "sub" && names[0] == "Grouped Files"));
    EXPECT_EQ((std::vector<std::string>(names.begin() + 2, names.end())),
              (std::vector<std::string>{".hidden", "big1", "exact"}));
    EXPECT_EQ(group->LoadFiles(), 2);
    EXPECT_EQ(ChildNames(*group), (std::vector<std::string>{"tiny", "under"}));
    root->UpdateTotals();
    EXPECT_EQ(root->GetSize(), 1000 + 100 + 99 + 5000 + 3 + 700);
    EXPECT_EQ(root->GetFileCount(), 7);

    auto* hidden = root->FindNodeByPath(t.Path() + "/.hidden");
    ASSERT_NE(hidden, nullptr);
    EXPECT_TRUE(hidden->IsHidden());
    EXPECT_EQ(hidden->Attributes() & faArchive, faArchive);
}

TEST(ScanTest, NoGroupingWithThresholdZero) {
    TTempDir t;
    t.File("a", 0);
    t.File("b", 1);
    auto root = ScanTree(t.Path(), 0);
    EXPECT_EQ(root->FileGroup(), nullptr);
    EXPECT_FALSE(root->HasChildren());
    EXPECT_EQ(root->GetFileCount(), 2);
    EXPECT_EQ(root->LoadFiles(), 2);
}

TEST(ScanTest, LinksSpecialFilesAndOddNamesAreCountedNotFollowed) {
    TTempDir t;
    t.File("target/data", 4096);
    t.Symlink("target", "link-to-dir");
    t.Symlink("..", "target/loop-up");
    t.Symlink("does/not/exist", "dangling");
    t.Fifo("pipe"); // opening it would block the scan
    const std::string odd[] = {"new\nline", "a,b", "quo\"te", " blank ", "\xff\xfe-latin1-\xe9",
                               "日本語"};
    for (const std::string& name : odd)
        t.File("names/" + name, 1);
    auto root = ScanTree(t.Path(), 0);

    // Each link counts with its own length: the length of the text it points to.
    const std::int64_t links = std::string("target").size() + std::string("..").size() +
                               std::string("does/not/exist").size();
    EXPECT_EQ(root->GetSize(), 4096 + links + 6);
    EXPECT_EQ(root->GetFileCount(), 1 + 3 + 1 + 6);
    auto dirs = ChildNames(*root);
    std::sort(dirs.begin(), dirs.end());
    EXPECT_EQ(dirs, (std::vector<std::string>{"names", "target"})); // links are no directories

    TDirNode* names = Dir(*root, "names");
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names->LoadFiles(), 6);
    std::vector<std::string> listed = ChildNames(*names);
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected(std::begin(odd), std::end(odd));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected); // byte for byte

    ASSERT_EQ(root->LoadFiles(), 3);
    auto* pipe = root->FindNodeByPath(t.Path() + "/pipe");
    ASSERT_NE(pipe, nullptr);
    EXPECT_TRUE(pipe->IsSystem());
    EXPECT_EQ(pipe->GetSize(), 0);
    auto* link = root->FindNodeByPath(t.Path() + "/link-to-dir");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Attributes() & faReparsePoint, faReparsePoint);
}

TEST(ScanTest, RootThatIsALinkIsFollowed) {
    TTempDir t;
    t.File("real/f", 10);
    t.Symlink(t / "real", "alias");
    auto root = ScanTree(t / "alias", 0);
    EXPECT_EQ(root->GetSize(), 10);
    EXPECT_EQ(root->LoadFiles(), 1);
}

TEST(ScanTest, RootsThatCannotBeScanned) {
    TTempDir t;
    t.File("file", 10);
    auto missing = ScanTree(t / "missing", 0);
    EXPECT_EQ(missing->ScanError(), ENOENT);
    EXPECT_TRUE(missing->IsEmpty());
    EXPECT_FALSE(missing->IsScanning());
    EXPECT_EQ(missing->GetSize(), 0);
    // Listing it later fails quietly and leaves it unloaded.
    EXPECT_EQ(missing->LoadFiles(), 0);
    EXPECT_FALSE(missing->IsFilesLoaded());

    auto file = ScanTree(t / "file", 0);
    EXPECT_EQ(file->ScanError(), ENOTDIR);
    EXPECT_EQ(file->GetFileCount(), 0);

    auto trailing = ScanTree(t.Path() + "///", 0);
    EXPECT_EQ(trailing->Name(), t.Path());
    EXPECT_EQ(trailing->GetFileCount(), 1);

    // A kernel pseudo file system is never entered, not even as the root.
    auto proc = ScanTree("/proc", 0);
    EXPECT_TRUE(proc->IsOtherFileSystem());
    EXPECT_FALSE(proc->HasChildren());
}

TEST(ScanTest, UnreadableDirectoriesKeepTheirErrorAndSiblingsAreScanned) {
    TTempDir t;
    t.File("a/f", 10);
    t.File("locked/secret", 1000);
    t.File("z/f", 20);
    t.Chmod("locked", 0);
    const int status = test::RunUnprivileged([&] {
        auto root = ScanTree(t.Path(), 0);
        TDirNode* locked = Dir(*root, "locked");
        if (!locked)
            return 10;
        if (locked->ScanError() != EACCES)
            return 11;
        if (!locked->IsEmpty() || locked->GetSize() != 0)
            return 12;
        if (root->GetSize() != 30 || root->GetFileCount() != 2)
            return 13;
        // Its files cannot be listed either: no nodes, and it stays unloaded.
        if (locked->LoadFiles() != 0 || locked->IsFilesLoaded())
            return 14;
        return 0;
    });
    t.Chmod("locked", 0755);
    EXPECT_EQ(status, 0);
}

TEST(ScanTest, TreesDeeperThanPathMaxAndTheDescriptorLimit) {
    TTempDir t;
    // 10 000 levels: far beyond PATH_MAX and beyond a 1024-descriptor limit.
    constexpr int Levels = 10000;
    {
        TFd dir(::open(t.Path().c_str(), O_RDONLY | O_DIRECTORY));
        for (int i = 0; i < Levels; ++i) {
            ASSERT_EQ(::mkdirat(dir.Get(), "d", 0755), 0);
            if (i % 100 == 0) {
                TFd f(::openat(dir.Get(), "f", O_WRONLY | O_CREAT, 0644));
                ASSERT_EQ(::ftruncate(f.Get(), 3), 0);
            }
            TFd next(OpenDirectoryAt(dir.Get(), "d"));
            ASSERT_TRUE(next.Valid());
            dir = std::move(next);
        }
        TFd f(::openat(dir.Get(), "deepest", O_WRONLY | O_CREAT, 0644));
        ASSERT_EQ(::ftruncate(f.Get(), 7), 0);
    }
    auto root = ScanTree(t.Path(), 0);
    EXPECT_EQ(root->GetFileCount(), Levels / 100 + 1);
    EXPECT_EQ(root->GetSize(), 3 * (Levels / 100) + 7);

    TDirNode* node = root.get();
    for (int i = 0; i < Levels; ++i) {
        ASSERT_EQ(node->ChildCount(), 1) << "level " << i;
        node = static_cast<TDirNode*>(node->GetChild(0));
        ASSERT_EQ(node->ScanError(), 0) << "level " << i;
        ASSERT_FALSE(node->IsIncomplete()) << "level " << i;
    }
    EXPECT_GT(node->GetFullPath().size(), std::size_t(PATH_MAX));
    EXPECT_EQ(node->LoadFiles(), 1);
    EXPECT_EQ(node->GetChild(0)->Name(), "deepest");
    EXPECT_EQ(root->FindNodeByPath(node->GetFullPath() + "/deepest"), node->GetChild(0));
}

// Four threads under a limit of 24 descriptors walk a chain of 400 levels and a fan of
// directories beside it: each walk keeps only a few levels open, and what the threads
// hand each other stays within the limit too. Runs in a child, whose limit it lowers.
TEST(ScanTest, ParallelWalkStaysWithinALowDescriptorLimit) {
    TTempDir t;
    t.MkDir("chain");
    test::MakeChain(t / "chain", 400);
    for (int i = 0; i < 30; ++i)
        t.File("fan/d" + std::to_string(i) + "/e/f", 2);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const struct rlimit low { 24, 24 };
        if (::setrlimit(RLIMIT_NOFILE, &low) != 0)
            ::_exit(3);
        TRootDirNode root;
        root.SetName(t.Path());
        TDirScanner scanner(root);
        scanner.SetThreadCount(4);
        scanner.Scan(t.Path(), 0);
        const bool right = root.GetFileCount() == 430 && root.GetSize() == 460 &&
                           !root.IsIncomplete() && root.ScanError() == 0;
        ::_exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong totals or an incomplete walk";
}

TEST(ScanTest, StopMarksEveryOpenDirectoryIncomplete) {
    TTempDir t;
    constexpr int Levels = 2000;
    test::MakeChain(t.Path(), Levels);
    {
        // A stop that arrives before the scan starts ends it at once.
        TRootDirNode root;
        root.SetName(t.Path());
        TDirScanner scanner(root);
        scanner.Stop();
        scanner.Scan(t.Path(), 0);
        EXPECT_FALSE(root.HasChildren());
        EXPECT_EQ(root.GetFileCount(), 0);
        // Nothing was counted, and the root says so rather than look empty.
        EXPECT_TRUE(root.IsIncomplete());
        // The stop was used up: the next scan runs.
        scanner.Scan(t.Path(), 0);
        EXPECT_EQ(root.GetFileCount(), Levels);
        EXPECT_FALSE(root.IsIncomplete());
    }

    // The stop comes from another thread once the walk is 100 levels down; should that
    // thread not get to run before the walk ends, the scan is tried again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        TRootDirNode root;
        root.SetName(t.Path());
        TDirScanner scanner(root);
        // Set once the walk has ended: a stopper that never saw it 100 levels down must not
        // wait for that for ever.
        std::atomic<bool> ended{false};
        std::thread stopper([&] {
            while (!ended.load() && scanner.GetCurrentPath().size() < t.Path().size() + 2 * 100)
                std::this_thread::yield();
            scanner.Stop();
        });
        scanner.Scan(t.Path(), 0);
        ended.store(true);
        stopper.join();
        if (!root.IsIncomplete())
            continue;

        // Every level that was open is Incomplete; each got its child's partial totals.
        int depth = 0;
        TDirNode* node = &root;
        std::int32_t below = root.GetFileCount();
        while (node->HasChildren()) {
            EXPECT_TRUE(node->IsIncomplete()) << "level " << depth;
            EXPECT_FALSE(node->IsScanning());
            auto* child = static_cast<TDirNode*>(node->GetChild(0));
            EXPECT_EQ(node->GetFileCount(), child->GetFileCount() + (depth > 0 ? 1 : 0));
            EXPECT_EQ(node->GetSize(), node->GetFileCount());
            node = child;
            ++depth;
            below = node->GetFileCount();
        }
        EXPECT_GE(depth, 100);
        EXPECT_LT(depth, Levels);
        EXPECT_LE(below, 1);
        EXPECT_EQ(root.GetFileCount(), depth - 1 + below);
        return;
    }
    FAIL() << "the stop never arrived while the walk ran";
}

TEST(ScanTest, RescanAndDeleteKeepEveryTotalRight) {
    TTempDir t;
    t.File("keep1", 500);
    t.File("keep2", 600);
    t.File("small1", 1);
    t.File("small2", 2);
    t.File("sub/a", 1000);
    t.File("sub/b", 5);
    t.File("sub/c", 6);
    t.File("other/x", 40);
    auto root = ScanTree(t.Path(), 10);
    ASSERT_EQ(root->GetFileCount(), 8);
    ASSERT_EQ(root->GetSize(), 2154);

    // The files change on disk; the sub-directory is scanned again, and its ancestors
    // recompute their totals without ever having listed their own files.
    t.File("sub/d", 100);
    TDirNode* sub = Dir(*root, "sub");
    ASSERT_NE(sub, nullptr);
    sub->ClearForRescan();
    sub->SetScanning(true);
    {
        TDirScanner scanner(*sub);
        scanner.Scan(sub->GetFullPath(), 10);
    }
    root->UpdateTotalsUpward();
    EXPECT_EQ(root->StoredFileCount(), 9);
    EXPECT_EQ(root->StoredSize(), 2254);

    TDirNode* other = Dir(*root, "other");
    ASSERT_NE(other, nullptr);
    other->Delete();
    EXPECT_EQ(root->GetFileCount(), 8);
    EXPECT_EQ(root->GetSize(), 2214);

    // A stopped listing reports live totals, and its group is not counted twice.
    root->SetIncomplete(true);
    EXPECT_EQ(root->GetSize(), 2214);
}

TEST(ScanTest, ListingsFollowTheDiskAfterTheScan) {
    TTempDir t;
    t.File("s1", 1);
    t.File("s2", 2);
    t.File("big", 500);
    t.File("becomes-dir", 600);
    auto root = ScanTree(t.Path(), 10);
    ASSERT_NE(root->FileGroup(), nullptr);

    ASSERT_EQ(::unlink((t / "s1").c_str()), 0);
    ASSERT_EQ(::unlink((t / "s2").c_str()), 0);
    ASSERT_EQ(::unlink((t / "becomes-dir").c_str()), 0);
    t.MkDir("becomes-dir");

    TFileGroupNode* group = root->FileGroup();
    EXPECT_EQ(group->LoadFiles(), 0);
    EXPECT_EQ(group->GetSize(), 0);
    EXPECT_EQ(group->GetFileCount(), 0);
    EXPECT_EQ(root->LoadFiles(), 1);     // the directory is no file any more
    EXPECT_EQ(root->StoredSize(), 1103); // stored totals stay as scanned
}

// The window lists a new root's files as soon as its row opens, which can be before the
// scan thread starts: the scan must keep those nodes (the grid holds them) and still count.
TEST(ScanTest, FilesListedBeforeTheScanStayAndCount) {
    TTempDir t;
    t.File("big", 5000);
    t.File("sub/inner", 700);
    TRootDirNode root;
    root.SetPath(t.Path());
    ASSERT_EQ(root.LoadFiles(), 1);
    const TFileSystemNode* listed = root.GetChild(0);
    TDirScanner scanner(root);
    scanner.Scan(t.Path(), 0);
    ASSERT_EQ(root.ChildCount(), 2);
    EXPECT_EQ(root.GetChild(0), listed);
    EXPECT_EQ(listed->Name(), "big");
    EXPECT_EQ(root.GetSize(), 5700);
    EXPECT_EQ(root.GetFileCount(), 2);
    // A second scan by the same scanner starts from a clean root.
    scanner.Scan(t.Path(), 0);
    EXPECT_EQ(root.ChildCount(), 1);
    EXPECT_EQ(root.GetSize(), 5700);
}

// A listing made on a worker: the node keeps its totals while it is listed, a second opening
// waits for it, a failed or dropped listing leaves the node to be listed again, and the
// scan's single small file gets its group instead of being lost to the grouped listing.
TEST(ScanTest, ListingsInThreeStepsKeepTheTotalsAndTheGrouping) {
    TTempDir t;
    t.File("a", 100);
    t.File("b", 200);
    t.File("tiny1", 1);
    t.File("tiny2", 2);
    auto root = ScanTree(t.Path(), 10);
    const std::int64_t size = root->GetSize();

    TFileListRequest request;
    ASSERT_TRUE(root->BeginListFiles(request));
    EXPECT_EQ(request.Dir, t.Path());
    EXPECT_TRUE(request.FollowLast);
    EXPECT_FALSE(request.Small);
    EXPECT_EQ(request.Threshold, 10);
    TFileListRequest again;
    EXPECT_FALSE(root->BeginListFiles(again));
    EXPECT_EQ(root->LoadFiles(), -1);

    TFileList list = ListFiles(request);
    ASSERT_EQ(list.Error, 0);
    ASSERT_EQ(list.Files.size(), 2u);
    EXPECT_EQ(list.Files[0]->Name(), "a");
    EXPECT_EQ(root->GetSize(), size); // nothing moved yet
    root->UpdateTotals();
    EXPECT_EQ(root->GetSize(), size);
    EXPECT_EQ(root->EndListFiles(list), 2);
    EXPECT_TRUE(root->IsFilesLoaded());
    EXPECT_FALSE(root->IsListingFiles());
    root->UpdateTotals();
    EXPECT_EQ(root->GetSize(), size);
    EXPECT_EQ(root->GetFileCount(), 4);

    // The group lists what its directory does not; a stop gives ECANCELED and no files.
    TFileGroupNode& group = *root->FileGroup();
    ASSERT_TRUE(group.BeginListFiles(request));
    EXPECT_TRUE(request.Small);
    const std::atomic<bool> stop{true};
    TFileList stopped = ListFiles(request, &stop);
    EXPECT_EQ(stopped.Error, ECANCELED);
    EXPECT_TRUE(stopped.Files.empty());
    EXPECT_EQ(group.EndListFiles(stopped), 0);
    EXPECT_FALSE(group.IsFilesLoaded());
    ASSERT_TRUE(group.BeginListFiles(request));
    group.CancelListFiles();
    EXPECT_EQ(group.LoadFiles(), 2);
    EXPECT_EQ(group.GetSize(), 3);

    // A directory of one small file, opened while the scan is in it: the file the listing
    // leaves to the group must get one.
    TRootDirNode one;
    one.SetName(t.Path());
    one.SetGroupFileSize(10);
    one.SetScanning(true);
    ASSERT_TRUE(one.BeginListFiles(request));
    one.SettleSingleSmallFile(1);
    one.SetScanning(false); // and a group of one is not dissolved under a listing
    ASSERT_NE(one.FileGroup(), nullptr);
    EXPECT_EQ(one.FileGroup()->GetFileCount(), 1);
    EXPECT_FALSE(one.IsUngrouped());
}

// Mounts a tmpfs inside the tree in a private mount namespace: a mount point is listed and
// not entered, unless crossing file systems was asked for.
TEST(ScanTest, OtherFileSystemsAreNotEntered) {
    TTempDir t;
    t.File("here", 10);
    t.MkDir("mnt");
    const int status = [&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", (t / "mnt").c_str(), "tmpfs", 0, "size=1m") != 0)
                ::_exit(77);
            t.File("mnt/inside", 100);
            auto same = ScanTree(t.Path(), 0);
            TDirNode* mnt = Dir(*same, "mnt");
            if (!mnt || !mnt->IsOtherFileSystem() || mnt->HasChildren() || same->GetSize() != 10)
                ::_exit(1);
            auto crossed = ScanTree(t.Path(), 0, true);
            if (crossed->GetSize() != 110 || Dir(*crossed, "mnt")->IsOtherFileSystem())
                ::_exit(2);
            ::_exit(0);
        }
        int s = 0;
        ::waitpid(pid, &s, 0);
        return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    }();
    if (status == 77)
        GTEST_SKIP() << "no private mount namespace here (needs root)";
    EXPECT_EQ(status, 0);
}

} // namespace
} // namespace qv
