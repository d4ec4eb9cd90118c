// The size tree's own rules, on trees built by hand: paths, searches, totals, deletion.

#include "tree/TreeTypes.h"

#include <climits>
#include <gtest/gtest.h>
#include <memory>

namespace qv {
namespace {

// A root "/data" with sub-directories a and ab (with x), and a grouped file.
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

// What the scanner does for one file of Size bytes in Dir.
void AddFile(TDirNode& Dir, std::int64_t Size) {
    Dir.AddFileCount(1);
    Dir.AddFilesCount(1);
    Dir.AddSize(Size);
    Dir.AddFilesSize(Size);
    if (Size < Dir.GetRoot().GroupFileSize()) {
        Dir.GetFileGroup()->AddFileCount(1);
        Dir.GetFileGroup()->AddSize(Size);
    }
}

// A scan of Sizes into Dir, from start to end.
void ScanFiles(TDirNode& Dir, std::initializer_list<std::int64_t> Sizes) {
    Dir.SetScanning(true);
    for (std::int64_t size : Sizes)
        AddFile(Dir, size);
    Dir.SetScanning(false);
}

TEST(TreeTest, PathsJoinWithOneSlashAndSearchesCompareWholeComponents) {
    TSmallTree t;
    EXPECT_EQ(t.ABX->GetFullPath(), "/data/ab/x");
    EXPECT_EQ(t.Group->GetFullPath(), "/data/Grouped Files");
    EXPECT_EQ(t.Group->GetChild(0)->GetFullPath(), "/data/small.txt");
    // "/data/a" is a character prefix of "/data/ab/x" but not a component prefix.
    EXPECT_EQ(t.Root->FindNodeByPath("/data/ab/x"), t.ABX);
    EXPECT_EQ(t.Root->FindNodeByPath("/data/ab"), t.AB);
    EXPECT_EQ(t.Root->FindNodeByPath("/data/a"), t.A);
    for (const char* none : {"/data/AB/x", "/data/ab/y", "/data/abc"})
        EXPECT_EQ(t.Root->FindNodeByPath(none), nullptr) << none;
    EXPECT_EQ(t.Root->FindNodeByPath("/data/Grouped Files"), t.Group);
    EXPECT_EQ(t.Group->FindNodeByPath("/data/small.txt"), t.Group->GetChild(0));
    EXPECT_EQ(t.Root->FindNodeByPath("/data/small.txt"), t.Group->GetChild(0));

    TRootDirNode slash;
    slash.SetName("/");
    EXPECT_EQ(slash.AddDirectory("usr", faDirectory)->GetFullPath(), "/usr");
    EXPECT_EQ(JoinPath("/", "usr"), "/usr");
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");

    TFixedDrivesNode drives({"/", "/home"});
    auto* root = static_cast<TRootDirNode*>(drives.GetChild(0));
    auto& home = static_cast<TRootDirNode&>(*drives.GetChild(1));
    EXPECT_EQ(home.GetFullPath(), "/home");
    EXPECT_EQ(home.AddDirectory("u", 0)->GetFullPath(), "/home/u");
    TDirNode* etc = root->AddDirectory("etc", faDirectory);
    EXPECT_EQ(drives.FindNodeByPath("/etc"), etc);
    EXPECT_EQ(drives.FindNodeByPath("/"), root);
    EXPECT_EQ(drives.GetDisplayName(), "Local Drives");
    EXPECT_EQ(drives.GetNodeType(), ntFixedDrives);
    EXPECT_TRUE(drives.IsFilesLoaded());
    EXPECT_EQ(drives.LoadFiles(), -1);
    EXPECT_EQ(drives.ChildCount(), 2);

    // Deep trees are built beyond PATH_MAX and found again.
    TGroupNode* node = &slash;
    for (int i = 0; i < 5000; ++i)
        node = node->AddDirectory("level", faDirectory);
    const std::string path = node->GetFullPath();
    EXPECT_GT(path.size(), std::size_t(PATH_MAX));
    EXPECT_EQ(path.size(), 5000 * 6);
    EXPECT_EQ(slash.FindNodeByPath(path), node);

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

TEST(TreeTest, FilesSiblingsAndTheRoot) {
    TFileNode file;
    file.SetFileCount(42);
    EXPECT_EQ(file.GetFileCount(), 1);
    EXPECT_EQ(file.GetNodeType(), ntFile);
    file.SetScanError(70000);
    EXPECT_EQ(file.ScanError(), 1);
    file.SetScanError(-13);
    EXPECT_EQ(file.ScanError(), -13);

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
        EXPECT_STREQ(e.what(), "The root element has an invalid type: TDirNode");
    }
    EXPECT_THROW(child->LoadFiles(), ENodeError);
    loose.Delete(); // a top node stays
    EXPECT_EQ(loose.ChildCount(), 1);

    t.Root->SetScanError(13);
    t.Root->SetIncomplete(true);
    t.Root->Clear();
    EXPECT_EQ(t.Root->ChildCount(), 0);
    EXPECT_EQ(t.Root->Flags(), nfEmpty);
    EXPECT_EQ(t.Root->FileGroup(), nullptr);
    EXPECT_TRUE(t.Root->Name().empty());
    EXPECT_EQ(t.Root->ScanError(), 0);
}

TEST(TreeTest, TotalsCountGroupedFilesOnceThroughRescansAndDeletes) {
    // A directory with two big and three small (grouped) files, and a sub-directory with
    // one file.
    TRootDirNode root;
    root.SetName("/nowhere");
    root.SetGroupFileSize(100);
    root.SetScanning(true);
    TDirNode* sub = root.AddDirectory("sub", faDirectory);
    ScanFiles(*sub, {1000});
    root.AddSize(sub->GetSize());
    root.AddFileCount(sub->GetFileCount());
    for (std::int64_t size : {500, 700, 10, 20, 30})
        AddFile(root, size);

    // While scanning, the group reports nothing and the directory counts its own files.
    EXPECT_EQ(root.FileGroup()->GetSize(), 0);
    EXPECT_EQ(root.FileGroup()->GetFileCount(), 0);
    EXPECT_EQ(root.GetSize(), 2260);
    EXPECT_EQ(root.GetFileCount(), 6);
    root.SetIncomplete(true); // a stopped listing reports live totals after its scan
    root.SetScanning(false);
    EXPECT_EQ(root.FileGroup()->GetSize(), 60);
    EXPECT_EQ(root.FileGroup()->GetFileCount(), 3);
    EXPECT_EQ(root.GetSize(), 2260);
    EXPECT_EQ(root.GetFileCount(), 6);
    root.UpdateTotals();
    EXPECT_EQ(root.StoredSize(), 2260);
    EXPECT_EQ(root.StoredFileCount(), 6);

    // A rescan of sub keeps its name and Expanded.
    sub->SetExpanded(true);
    sub->AddDirectory("inner", faDirectory);
    sub->ClearForRescan();
    EXPECT_EQ(sub->Name(), "sub");
    EXPECT_EQ(sub->Flags(), nfEmpty | nfExpanded);
    EXPECT_FALSE(sub->HasChildren());

    // Deleting a sub-directory must not lose the directory's own unlisted files.
    sub->AddDirectory("inner", faDirectory);
    sub->Delete();
    EXPECT_EQ(root.GetSize(), 1260);
    EXPECT_EQ(root.GetFileCount(), 5);
    EXPECT_EQ(root.FindNodeByPath("/nowhere/sub"), nullptr);
}

TEST(TreeTest, FileGroupsOfOneDissolveAndLoadedGroupsIgnoreAdditions) {
    TRootDirNode one;
    one.SetName("/x");
    one.SetGroupFileSize(10);
    one.SetScanning(true);
    AddFile(one, 5);
    ASSERT_NE(one.FileGroup(), nullptr);
    one.SetScanning(false);
    EXPECT_EQ(one.FileGroup(), nullptr);
    EXPECT_FALSE(one.HasChildren());
    EXPECT_TRUE(one.IsUngrouped());
    EXPECT_TRUE(one.AcceptsFile(1));
    EXPECT_EQ(one.GetSize(), 5);

    TRootDirNode two;
    two.SetName("/y");
    two.SetGroupFileSize(10);
    ScanFiles(two, {5, 6});
    ASSERT_NE(two.FileGroup(), nullptr);
    EXPECT_EQ(two.FileGroup()->GetFileCount(), 2);
    EXPECT_FALSE(two.AcceptsFile(9));
    EXPECT_TRUE(two.AcceptsFile(10));
    EXPECT_TRUE(two.FileGroup()->AcceptsFile(9));
    EXPECT_FALSE(two.FileGroup()->AcceptsFile(10));

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

TEST(TreeTest, MemNodeListOwnsOrBorrows) {
    TMemNodeList borrowed(false);
    TFileNode b, a, c;
    for (auto [node, name] : {std::pair{&b, "b"}, {&a, "a"}, {&c, "c"}}) {
        node->SetName(name);
        borrowed.Add(node);
    }
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

} // namespace
} // namespace qv
