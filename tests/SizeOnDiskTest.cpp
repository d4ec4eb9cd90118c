// The size on disk (allocated blocks) against sums that lstat gives for real trees: after
// the scan, after every folder was opened, after deletes and after a re-scan of a folder;
// and the packing of the value beside the attributes.

#include "TestTree.h"
#include "scan/DirScan.h"
#include "tree/TreeTypes.h"

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {
namespace {

using test::DiskSums;
using test::TDiskSums;
using test::TTempDir;

constexpr std::int64_t Threshold = 100;

std::unique_ptr<TRootDirNode> ScanTree(const std::string& Path) {
    auto root = std::make_unique<TRootDirNode>();
    root->SetName(Path);
    root->SetGroupFileSize(Threshold);
    TDirScanner(*root).Scan(Path, Threshold);
    return root;
}

TDirNode* Dir(const TRootDirNode& Root, const std::string& Path) {
    if (Path == Root.GetFullPath())
        return const_cast<TRootDirNode*>(&Root);
    return dynamic_cast<TDirNode*>(Root.FindNodeByPath(Path));
}

// Every directory lstat sees has a node with the same three totals.
void ExpectSums(const TRootDirNode& Root, const char* When) {
    for (const auto& [path, want] : DiskSums(Root.GetFullPath(), true)) {
        const TDirNode* dir = Dir(Root, path);
        ASSERT_NE(dir, nullptr) << When << ": " << path;
        const TDiskSums got{dir->GetSize(), dir->GetSizeOnDisk(), dir->GetFileCount()};
        EXPECT_EQ(got.Size, want.Size) << When << ": " << path;
        EXPECT_EQ(got.OnDisk, want.OnDisk) << When << ": " << path;
        EXPECT_EQ(got.Files, want.Files) << When << ": " << path;
    }
}

using test::Groups;

// The node of a file, also inside a "Grouped Files" node (which a path search passes by).
TFileSystemNode* FileNode(const TRootDirNode& Root, const std::string& Path) {
    if (TFileSystemNode* node = Root.FindNodeByPath(Path))
        return node;
    const std::size_t slash = Path.rfind('/');
    const TDirNode* dir = Dir(Root, Path.substr(0, slash));
    if (!dir || !dir->FileGroup())
        return nullptr;
    TChildrenLock guard(*dir->FileGroup());
    for (TFileSystemNode* child : guard.Children().Items())
        if (child->Name() == Path.substr(slash + 1))
            return child;
    return nullptr;
}

std::int64_t OnDisk(const std::string& Path) {
    struct stat st {};
    EXPECT_EQ(::lstat(Path.c_str(), &st), 0) << Path;
    return std::int64_t(st.st_blocks) * 512;
}

void MakeTree(const TTempDir& T) {
    T.Data("data/a", 10000);
    T.Data("data/b", 5); // b and c are grouped
    T.Data("data/c", 7);
    T.File("sparse", std::int64_t(1) << 30);
    T.Data("sub/deep/x", 70000);
    T.Data("sub/y", 1); // alone below the threshold: no group
    T.Symlink("deep/x", "sub/link");
    T.MkDir("sub/empty");
}

TEST(SizeOnDiskTest, ScanListingsDeletesAndRescansAddUpAsLstatSays) {
    TTempDir t;
    MakeTree(t);
    auto root = ScanTree(t.Path());
    ExpectSums(*root, "scanned");
    EXPECT_GT(root->GetSizeOnDisk(), 0);
    // A sparse gigabyte takes (almost) nothing.
    EXPECT_LT(root->GetSizeOnDisk(), root->GetSize() / 1000);
    TDirNode* data = Dir(*root, t / "data");
    ASSERT_NE(data, nullptr);
    ASSERT_NE(data->FileGroup(), nullptr);
    EXPECT_EQ(data->FileGroup()->GetSizeOnDisk(), OnDisk(t / "data/b") + OnDisk(t / "data/c"));

    // Opening every folder and group changes no total, and each file shows its blocks.
    for (TGroupNode* group : Groups(*root))
        group->LoadFiles();
    ExpectSums(*root, "listed");
    const TFileSystemNode* sparse = root->FindNodeByPath(t / "sparse");
    ASSERT_NE(sparse, nullptr);
    EXPECT_EQ(sparse->GetSize(), std::int64_t(1) << 30);
    EXPECT_EQ(sparse->GetSizeOnDisk(), OnDisk(t / "sparse"));
    const TFileSystemNode* b = FileNode(*root, t / "data/b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetSizeOnDisk(), OnDisk(t / "data/b"));
    std::vector<TGroupNode*> all = Groups(*root);
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        (*it)->UpdateTotals();
    ExpectSums(*root, "recounted");

    // Deletes: a listed file, a grouped file, a folder.
    for (const char* name : {"data/a", "data/b"}) {
        TFileSystemNode* file = FileNode(*root, t / name);
        ASSERT_NE(file, nullptr) << name;
        ASSERT_EQ(::unlink((t / name).c_str()), 0);
        file->Delete();
    }
    test::RemoveTree(t / "sub/deep");
    ASSERT_NE(Dir(*root, t / "sub/deep"), nullptr);
    Dir(*root, t / "sub/deep")->Delete();
    ExpectSums(*root, "deleted");

    // A folder scanned again after it changed.
    t.Data("sub/z", 30000);
    TDirNode* sub = Dir(*root, t / "sub");
    sub->ClearForRescan();
    sub->SetScanning(true);
    TDirScanner(*sub).Scan(sub->GetFullPath(), Threshold);
    root->UpdateTotalsUpward();
    ExpectSums(*root, "rescanned");
}

// Folders whose files were never listed: their size on disk has no field of its own, so
// deletes below them and re-scans must still reach their totals.
TEST(SizeOnDiskTest, UnlistedFoldersKeepTheirTotalsThroughDeletesAndRescans) {
    TTempDir t;
    MakeTree(t);
    t.Data("sub/deep/more/w", 9000);
    auto root = ScanTree(t.Path());
    TDirNode* data = Dir(*root, t / "data");
    ASSERT_EQ(data->FileGroup()->LoadFiles(), 2); // the group only, not its folder
    TFileSystemNode* c = FileNode(*root, t / "data/c");
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(::unlink((t / "data/c").c_str()), 0);
    c->Delete();
    EXPECT_EQ(data->GetSizeOnDisk(), OnDisk(t / "data/a") + OnDisk(t / "data/b"));
    ExpectSums(*root, "grouped file deleted");

    t.Data("sub/deep/more/v", 40000);
    TDirNode* more = Dir(*root, t / "sub/deep/more");
    more->ClearForRescan();
    more->SetScanning(true);
    // Half-way, the ancestors count what is done: the folder itself is being scanned.
    EXPECT_EQ(root->GetSizeOnDisk(),
              DiskSums(t.Path(), true)[t.Path()].OnDisk -
                  DiskSums(t / "sub/deep/more", true)[t / "sub/deep/more"].OnDisk);
    TDirScanner(*more).Scan(more->GetFullPath(), Threshold);
    more->Parent()->UpdateTotalsUpward();
    ExpectSums(*root, "rescanned deep inside");
    // A second scan by the same scanner starts from nothing and lands on the same totals.
    TDirScanner again(*more);
    more->ClearForRescan();
    again.Scan(more->GetFullPath(), Threshold);
    again.Scan(more->GetFullPath(), Threshold);
    more->Parent()->UpdateTotalsUpward();
    ExpectSums(*root, "scanned twice");
}

// The size on disk shares its word with the attributes: neither may disturb the other, and
// a drop below zero reads as a negative value, not as a huge one.
TEST(SizeOnDiskTest, SharesAWordWithTheAttributes) {
    TFileNode file;
    file.SetAttributes(faHidden | faArchive);
    file.SetSizeOnDisk(std::int64_t(1) << 50);
    EXPECT_EQ(file.Attributes(), faHidden | faArchive);
    EXPECT_EQ(file.GetSizeOnDisk(), std::int64_t(1) << 50);
    file.SetAttributes(faReadOnly);
    EXPECT_EQ(file.StoredSizeOnDisk(), std::int64_t(1) << 50);
    file.AddSizeOnDisk(-(std::int64_t(1) << 50) - 1024);
    EXPECT_EQ(file.GetSizeOnDisk(), -1024);
    EXPECT_EQ(file.Attributes(), faReadOnly);
    file.AddSizeOnDisk(4096);
    EXPECT_EQ(file.GetSizeOnDisk(), 3072);
    file.SetAttributes(0xFFFF);
    EXPECT_EQ(file.GetSizeOnDisk(), 3072);
}

} // namespace
} // namespace qv
