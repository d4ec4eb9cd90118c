// The size tree's own rules, on trees built by hand: paths, searches, totals, deletion.

#include "tree/TreeTypes.h"

#include <climits>
#include <gtest/gtest.h>
#include <memory>

namespace qv {
namespace {

// A root "/data" with sub-directories a and ab, a grouped file and two listed files.
struct TSmallTree {
    std::unique_ptr<TRootDirNode> Root = std::make_unique<TRootDirNode>();
    TDirNode* A;
    TDirNode* AB;
    TDirNode* ABX;
    TFileGroupNode* Group;

    TSmallTree() {
        Root->SetName("/data");
        Root->SetGroupFileSize(100);
        A = Root->AddDirectory("a", faDirectory);
        AB = Root->AddDirectory("ab", faDirectory);
        ABX = AB->AddDirectory("x", faDirectory);
        Group = Root->GetFileGroup();
        auto file = std::make_unique<TFileNode>();
        file->SetName("small.txt");
        file->SetSize(10);
        Group->AddChild(file.release());
    }
};

TEST(TreeTest, FileNodesCountOneAndIgnoreCounts) {
    TFileNode file;
    file.SetFileCount(42);
    EXPECT_EQ(file.GetFileCount(), 1);
    EXPECT_EQ(file.GetNodeType(), ntFile);
    EXPECT_EQ(file.ImageIndex(), -1);
    file.SetScanError(70000);
    EXPECT_EQ(file.ScanError(), 1);
    file.SetScanError(-13);
    EXPECT_EQ(file.ScanError(), -13);
}

TEST(TreeTest, PathsJoinWithOneSlashAndSkipGroupNodes) {
    TSmallTree t;
    EXPECT_EQ(t.ABX->GetFullPath(), "/data/ab/x");
    EXPECT_EQ(t.Group->GetFullPath(), "/data/Grouped Files");
    EXPECT_EQ(t.Group->GetChild(0)->GetFullPath(), "/data/small.txt");

    TRootDirNode slash;
    slash.SetName("/");
    TDirNode* usr = slash.AddDirectory("usr", faDirectory);
    EXPECT_EQ(usr->GetFullPath(), "/usr");
    EXPECT_EQ(JoinPath("/", "usr"), "/usr");
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");

    TFixedDrivesNode drives({"/", "/home"});
    auto& home = static_cast<TRootDirNode&>(*drives.GetChild(1));
    EXPECT_EQ(home.GetFullPath(), "/home");
    EXPECT_EQ(home.AddDirectory("u", 0)->GetFullPath(), "/home/u");
    EXPECT_EQ(drives.GetDisplayName(), "Local Drives");
    EXPECT_EQ(drives.GetNodeType(), ntFixedDrives);
    EXPECT_TRUE(drives.IsFilesLoaded());
    EXPECT_EQ(drives.LoadFiles(), -1);
    EXPECT_EQ(drives.ChildCount(), 2);
}

TEST(TreeTest, DeepPathsAreBuiltBeyondPathMax) {
    TRootDirNode root;
    root.SetName("/r");
    TGroupNode* node = &root;
    for (int i = 0; i < 5000; ++i)
        node = node->AddDirectory("level", faDirectory);
    const std::string path = node->GetFullPath();
    EXPECT_GT(path.size(), std::size_t(PATH_MAX));
    EXPECT_EQ(path.size(), 2 + 5000 * 6);
    EXPECT_EQ(root.FindNodeByPath(path), node);
}

TEST(TreeTest, FindNodeByPathComparesWholeComponentsWithCase) {
    TSmallTree t;
    // "/data/a" is a character prefix of "/data/ab/x" but not a component prefix.
    EXPECT_EQ(t.Root->FindNodeByPath("/data/ab/x"), t.ABX);
    EXPECT_EQ(t.Root->FindNodeByPath("/data/ab"), t.AB);
    EXPECT_EQ(t.Root->FindNodeByPath("/data/a"), t.A);
    EXPECT_EQ(t.Root->FindNodeByPath("/data/AB/x"), nullptr);
    EXPECT_EQ(t.Root->FindNodeByPath("/data/ab/y"), nullptr);
    EXPECT_EQ(t.Root->FindNodeByPath("/data/abc"), nullptr);
    EXPECT_EQ(t.Root->FindNodeByPath("/data/Grouped Files"), t.Group);
    EXPECT_EQ(t.Group->FindNodeByPath("/data/small.txt"), t.Group->GetChild(0));

    TFixedDrivesNode drives({"/", "/home"});
    auto* slash = static_cast<TRootDirNode*>(drives.GetChild(0));
    TDirNode* etc = slash->AddDirectory("etc", faDirectory);
    EXPECT_EQ(drives.FindNodeByPath("/etc"), etc);
    EXPECT_EQ(drives.FindNodeByPath("/"), slash);
}

TEST(TreeTest, NextSiblingAndRootType) {
    TSmallTree t;
    EXPECT_EQ(t.A->FindNextSibling<TDirNode>(), t.AB);
    EXPECT_EQ(t.A->FindNextSibling<TFileGroupNode>(), t.Group);
    EXPECT_EQ(t.Group->FindNextSibling<TDirNode>(), nullptr);
    EXPECT_EQ(t.Root->FindNextSibling<TDirNode>(), nullptr);

    EXPECT_EQ(&t.ABX->GetRoot(), t.Root.get());
    TDirNode loose;
    TDirNode* child = loose.AddDirectory("c", 0);
    try {
        (void)child->GetRoot();
        FAIL() << "a tree without a root node has no root";
    } catch (const ENodeError& e) {
        EXPECT_EQ(std::string(e.what()), "The root element has an invalid type: TDirNode");
    }
    EXPECT_THROW(child->LoadFiles(), ENodeError);
}

TEST(TreeTest, ClearFreesChildrenAndKeepsOnlyExpanded) {
    TSmallTree t;
    t.Root->SetScanError(13);
    t.Root->SetIncomplete(true);
    t.Root->Clear();
    EXPECT_EQ(t.Root->ChildCount(), 0);
    EXPECT_EQ(t.Root->Flags(), nfEmpty);
    EXPECT_EQ(t.Root->FileGroup(), nullptr);
    EXPECT_TRUE(t.Root->Name().empty());
    EXPECT_EQ(t.Root->ScanError(), 0);

    TDirNode dir;
    dir.SetName("keep");
    dir.SetExpanded(true);
    dir.AddDirectory("sub", 0);
    dir.ClearForRescan();
    EXPECT_EQ(dir.Name(), "keep");
    EXPECT_EQ(dir.Flags(), nfEmpty | nfExpanded);
    EXPECT_FALSE(dir.HasChildren());
}

// Builds the totals a scan would leave: a directory with two big and three small files
// (grouped), and a sub-directory with one file.
struct TScannedTree {
    std::unique_ptr<TRootDirNode> Root = std::make_unique<TRootDirNode>();
    TDirNode* Sub;

    TScannedTree() {
        Root->SetName("/nowhere");
        Root->SetGroupFileSize(100);
        Root->SetScanning(true);
        Sub = Root->AddDirectory("sub", faDirectory);
        Sub->SetScanning(true);
        AddFile(*Sub, 1000);
        Sub->SetScanning(false);
        Root->AddSize(Sub->GetSize());
        Root->AddFileCount(Sub->GetFileCount());
        for (std::int64_t size : {500, 700, 10, 20, 30})
            AddFile(*Root, size);
    }

    static void AddFile(TDirNode& Dir, std::int64_t Size) {
        Dir.AddFileCount(1);
        Dir.AddFilesCount(1);
        Dir.AddSize(Size);
        Dir.AddFilesSize(Size);
        if (Size < Dir.GetRoot().GroupFileSize()) {
            Dir.GetFileGroup()->AddFileCount(1);
            Dir.GetFileGroup()->AddSize(Size);
        }
    }
};

TEST(TreeTest, GroupedFilesAreCountedOnceInEveryTotal) {
    TScannedTree t;
    // While scanning, the group reports nothing and the directory counts its own files.
    EXPECT_EQ(t.Root->GetFileGroup()->GetSize(), 0);
    EXPECT_EQ(t.Root->GetFileGroup()->GetFileCount(), 0);
    EXPECT_EQ(t.Root->GetSize(), 2260);
    EXPECT_EQ(t.Root->GetFileCount(), 6);

    t.Root->SetIncomplete(true); // a stopped listing reports live totals after its scan
    t.Root->SetScanning(false);
    EXPECT_EQ(t.Root->GetFileGroup()->GetSize(), 60);
    EXPECT_EQ(t.Root->GetFileGroup()->GetFileCount(), 3);
    EXPECT_EQ(t.Root->GetSize(), 2260);
    EXPECT_EQ(t.Root->GetFileCount(), 6);

    t.Root->UpdateTotals();
    EXPECT_EQ(t.Root->StoredSize(), 2260);
    EXPECT_EQ(t.Root->StoredFileCount(), 6);
}

TEST(TreeTest, DeleteKeepsTheAncestorsTotalsRight) {
    TScannedTree t;
    t.Root->SetScanning(false);
    TDirNode* inner = t.Sub->AddDirectory("inner", faDirectory);
    (void)inner;
    // Deleting a sub-directory must not lose the directory's own unlisted files.
    t.Sub->Delete();
    EXPECT_EQ(t.Root->GetSize(), 1260);
    EXPECT_EQ(t.Root->GetFileCount(), 5);

    TDirNode loose;
    loose.Delete(); // a top node stays
    EXPECT_EQ(loose.Flags(), nfEmpty);
}

TEST(TreeTest, GroupNodesIgnoreAdditionsOnceLoaded) {
    TSmallTree t;
    t.Group->SetFlag(nfFilesLoaded, true);
    t.Group->AddSize(5);
    t.Group->AddFileCount(5);
    t.Group->AddFilesSize(5);
    EXPECT_EQ(t.Group->StoredSize(), 0);
    EXPECT_EQ(t.Group->StoredFileCount(), 0);
    EXPECT_EQ(t.Group->GetFilesSize(), 0);
    EXPECT_EQ(t.Group->LoadFiles(), -1);
    EXPECT_FALSE(t.Group->IsScanning());
}

TEST(TreeTest, OneFileGroupsDissolveUnlessOpened) {
    TRootDirNode root;
    root.SetName("/x");
    root.SetGroupFileSize(10);
    root.SetScanning(true);
    TScannedTree::AddFile(root, 5);
    ASSERT_NE(root.FileGroup(), nullptr);
    root.SetScanning(false);
    EXPECT_EQ(root.FileGroup(), nullptr);
    EXPECT_FALSE(root.HasChildren());
    EXPECT_TRUE(root.IsUngrouped());
    EXPECT_TRUE(root.AcceptsFile(1));
    EXPECT_EQ(root.GetSize(), 5);

    TRootDirNode two;
    two.SetName("/y");
    two.SetGroupFileSize(10);
    two.SetScanning(true);
    TScannedTree::AddFile(two, 5);
    TScannedTree::AddFile(two, 6);
    two.SetScanning(false);
    ASSERT_NE(two.FileGroup(), nullptr);
    EXPECT_EQ(two.FileGroup()->GetFileCount(), 2);
    EXPECT_FALSE(two.AcceptsFile(9));
    EXPECT_TRUE(two.AcceptsFile(10));
    EXPECT_TRUE(two.FileGroup()->AcceptsFile(9));
    EXPECT_FALSE(two.FileGroup()->AcceptsFile(10));
}

TEST(TreeTest, MemNodeListOwnsOrBorrows) {
    TMemNodeList borrowed(false);
    TFileNode b, a, c;
    b.SetName("b");
    a.SetName("a");
    c.SetName("c");
    for (TFileNode* n : {&b, &a, &c})
        borrowed.Add(n);
    borrowed.SortByName();
    EXPECT_EQ(borrowed.GetItem(0), &a);
    EXPECT_EQ(borrowed.GetItem(2), &c);
    EXPECT_EQ(borrowed.IndexOf(&b), 1);
    EXPECT_EQ(borrowed.IndexOf(nullptr), -1);
    EXPECT_THROW((void)borrowed.GetItem(3), std::out_of_range);
    EXPECT_THROW(borrowed.Delete(-1), std::out_of_range);
    borrowed.Delete(0);
    EXPECT_EQ(borrowed.Count(), 2);
    EXPECT_EQ(borrowed.GetItem(0), &b);
    borrowed.Clear(); // must not free the stack objects

    TMemNodeList owned(true); // freed entries are checked by the address sanitizer
    for (int i = 0; i < 1000; ++i)
        owned.Add(new TFileNode);
    owned.Delete(500);
    EXPECT_EQ(owned.Count(), 999);
}

TEST(TreeTest, RootNamesAndDriveTypes) {
    TRootDirNode dir;
    dir.SetPath("/definitely/not/a/mount/point");
    EXPECT_EQ(dir.Name(), "/definitely/not/a/mount/point");
    EXPECT_EQ(dir.GetDisplayName(), dir.Name());
    EXPECT_EQ(dir.GetNodeType(), ntDirectory);
    dir.Clear();
    EXPECT_TRUE(dir.VolumeName().empty());

    TDirNode plain;
    plain.SetPath("/a/b/c/");
    EXPECT_EQ(plain.Name(), "c");
    plain.SetPath("/");
    EXPECT_EQ(plain.Name(), "/");
}

} // namespace
} // namespace qv
