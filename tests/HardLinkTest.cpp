// Files with several names (hard links) counted once or at every name, against sums made
// here with lstat and a set of (device, inode): after the scan, after every folder was
// opened, after a linked name was deleted and after a folder was scanned again.

#include "TestTree.h"
#include "scan/DirScan.h"
#include "tree/HardLinks.h"
#include "tree/TreeTypes.h"

#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace qv {
namespace {

using test::DiskSums;
using test::TTempDir;

constexpr std::int64_t Threshold = 100;

// One thread by default: which name of a file a walk meets first, and so which folder counts
// it, is then the order of the listings that DiskSums follows.
std::unique_ptr<TRootDirNode> ScanTree(const std::string& Path, bool Once, int Threads = 1) {
    auto root = std::make_unique<TRootDirNode>();
    root->SetName(Path);
    root->SetGroupFileSize(Threshold);
    TDirScanner scanner(*root);
    scanner.SetThreadCount(Threads);
    scanner.SetCountHardLinksOnce(Once);
    scanner.Scan(Path, Threshold);
    return root;
}

TDirNode* Dir(const TRootDirNode& Root, const std::string& Path) {
    if (Path == Root.GetFullPath())
        return const_cast<TRootDirNode*>(&Root);
    return dynamic_cast<TDirNode*>(Root.FindNodeByPath(Path));
}

void ExpectSums(const TRootDirNode& Root, bool Once, const std::string& When) {
    for (const auto& [path, want] : DiskSums(Root.GetFullPath(), Once)) {
        const TDirNode* dir = Dir(Root, path);
        ASSERT_NE(dir, nullptr) << When << ": " << path;
        EXPECT_EQ(dir->GetSize(), want.Size) << When << ": " << path;
        EXPECT_EQ(dir->GetSizeOnDisk(), want.OnDisk) << When << ": " << path;
        EXPECT_EQ(dir->GetFileCount(), want.Files) << When << ": " << path;
    }
}

using test::Groups;

// Opens every folder and group, as a user clicking through the whole tree, and has every
// total recounted from the nodes.
void OpenEverything(TRootDirNode& Root) {
    for (TGroupNode* group : Groups(Root))
        group->LoadFiles();
    std::vector<TGroupNode*> all = Groups(Root);
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        (*it)->UpdateTotals();
}

std::vector<TFileNode*> UncountedNames(TRootDirNode& Root) {
    std::vector<TFileNode*> found;
    for (TGroupNode* group : Groups(Root)) {
        TChildrenLock guard(*group);
        for (TFileSystemNode* child : guard.Children().Items())
            if (auto* file = dynamic_cast<TFileNode*>(child); file && file->IsUncountedLink())
                found.push_back(file);
    }
    return found;
}

// Three files with three, two and two names, in one folder and across folders; one of them
// small enough to be grouped.
void MakeTree(const TTempDir& T) {
    T.Data("a/big", 20000);
    T.HardLink("a/big", "a/big-again");
    T.HardLink("a/big", "b/big-elsewhere");
    T.Data("b/mid", 3000);
    T.HardLink("b/mid", "c/deeper/mid-too");
    T.Data("a/small", 50);
    T.HardLink("a/small", "b/small-too");
    T.Data("b/tiny", 10); // b's second small file: grouped when every name counts
    T.Data("c/plain", 700);
}

TEST(HardLinkTest, CountedOnceOrAtEveryNameThroughOpeningAndDeleting) {
    TTempDir t;
    MakeTree(t);
    for (const bool once : {false, true}) {
        const std::string mode = once ? "once" : "every name";
        auto root = ScanTree(t.Path(), once);
        ExpectSums(*root, once, mode + ", scanned");
        EXPECT_EQ(root->GetFileCount(), once ? 5 : 9) << mode;
        EXPECT_EQ(root->HardLinks()->Count(), once ? 3u : 0u) << mode;

        // Opened folders show every name, and their totals do not grow.
        OpenEverything(*root);
        ExpectSums(*root, once, mode + ", opened");
        const std::vector<TFileNode*> uncounted = UncountedNames(*root);
        ASSERT_EQ(uncounted.size(), once ? 4u : 0u) << mode;
        if (!once)
            continue;
        EXPECT_NE(root->FindNodeByPath(t / "a/big-again"), nullptr);
        EXPECT_GT(uncounted.front()->GetSize(), 0); // shown with its size

        // A name that did not count goes: no total changes.
        const std::int64_t before = root->GetSizeOnDisk();
        TFileNode* gone = uncounted.front();
        const std::string path = gone->GetFullPath();
        ASSERT_EQ(::unlink(path.c_str()), 0);
        gone->Delete();
        EXPECT_EQ(root->GetSizeOnDisk(), before) << path;
        ExpectSums(*root, once, "deleted " + path);
    }
}

// Several threads meet the names in no fixed order: another folder may count a file, but
// the whole tree counts each file once, also once every folder is opened.
TEST(HardLinkTest, ParallelWalksCountEachFileOnce) {
    TTempDir t;
    MakeTree(t);
    const test::TDiskSums want = DiskSums(t.Path(), true)[t.Path()];
    for (int round = 0; round < 5; ++round) {
        auto root = ScanTree(t.Path(), true, 4);
        EXPECT_EQ(root->GetSize(), want.Size);
        EXPECT_EQ(root->GetSizeOnDisk(), want.OnDisk);
        EXPECT_EQ(root->GetFileCount(), want.Files);
        OpenEverything(*root);
        EXPECT_EQ(root->GetSize(), want.Size);
        EXPECT_EQ(root->GetSizeOnDisk(), want.OnDisk);
        EXPECT_EQ(root->GetFileCount(), want.Files);
        EXPECT_EQ(UncountedNames(*root).size(), 4u);
    }
}

// A folder scanned again forgets the names first met in it and meets them anew, while the
// names first met elsewhere stay uncounted there.
TEST(HardLinkTest, RescanningAFolderKeepsEveryTotal) {
    TTempDir t;
    MakeTree(t);
    auto root = ScanTree(t.Path(), true);
    const std::size_t known = root->HardLinks()->Count();
    for (const char* folder : {"b", "c/deeper", "a"}) {
        TDirNode* dir = Dir(*root, t / folder);
        ASSERT_NE(dir, nullptr) << folder;
        dir->ClearForRescan();
        dir->SetScanning(true);
        TDirScanner scanner(*dir);
        scanner.SetThreadCount(1);
        scanner.SetCountHardLinksOnce(true);
        scanner.Scan(dir->GetFullPath(), Threshold);
        root->UpdateTotalsUpward();
        EXPECT_EQ(root->HardLinks()->Count(), known) << folder;
        ExpectSums(*root, true, std::string("rescanned ") + folder);
    }
    OpenEverything(*root);
    ExpectSums(*root, true, "opened after the re-scans");
}

TEST(HardLinkTest, TheSetRemembersTheFirstNameOnly) {
    THardLinkSet set;
    TRootDirNode root;
    TDirNode* one = root.AddDirectory("one", faDirectory);
    TDirNode* two = one->AddDirectory("two", faDirectory);
    EXPECT_TRUE(set.IsCounted(1, 10, one, "x")); // unknown: counts
    EXPECT_TRUE(set.CountFirst(1, 10, one, "x"));
    EXPECT_TRUE(set.CountFirst(1, 10, one, "x")); // the same name again
    EXPECT_FALSE(set.CountFirst(1, 10, one, "y"));
    EXPECT_FALSE(set.CountFirst(1, 10, two, "x"));
    EXPECT_TRUE(set.CountFirst(2, 10, two, "x")); // another device
    EXPECT_FALSE(set.IsCounted(2, 10, one, "x"));
    EXPECT_EQ(set.Count(), 2u);
    set.Forget(*two);
    EXPECT_EQ(set.Count(), 1u);
    EXPECT_TRUE(set.IsCounted(2, 10, one, "x"));
    set.ForgetName(one, "y"); // not the first name: nothing goes
    EXPECT_EQ(set.Count(), 1u);
    set.ForgetName(one, "x");
    EXPECT_EQ(set.Count(), 0u);
    EXPECT_EQ(HardLinkSetOf(*two), root.HardLinks());
}

} // namespace
} // namespace qv
