// Item information read from real items in a temporary folder: every kind, sizes, times,
// owners, links that must not be followed, missing items, permission texts, and the file
// system an item lies on.

#include "platform/ItemInfo.h"

#include "TestTree.h"
#include "platform/SysError.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qv {
namespace {

using test::TTempDir;

bool StartsWithMountPoint(const std::string& Path, const std::string& MountPoint) {
    return MountPoint == "/" || Path == MountPoint || Path.rfind(MountPoint + "/", 0) == 0;
}

TEST(ItemInfo, RegularAndSparseFilesWithSizesTimesAndOwner) {
    TTempDir Dir;
    std::ofstream(Dir / "data") << std::string(10000, 'x');
    const timespec Times[2] = {{1000000000, 0}, {1234567890, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (Dir / "data").c_str(), Times, 0), 0);
    Dir.Chmod("data", 0640);

    const TItemInfo Data = ReadItemInfo(Dir / "data");
    EXPECT_EQ(Data.Error, 0);
    EXPECT_TRUE(Data.ErrorMessage.empty());
    EXPECT_EQ(Data.Path, Dir / "data");
    EXPECT_EQ(Data.Kind, ikRegularFile);
    EXPECT_EQ(Data.Size, 10000);
    EXPECT_GE(Data.AllocatedSize, 10000);
    EXPECT_EQ(Data.AllocatedSize % 512, 0);
    EXPECT_EQ(Data.Accessed.tv_sec, 1000000000);
    EXPECT_EQ(Data.Modified.tv_sec, 1234567890);
    EXPECT_EQ(Data.Modified.tv_nsec, 500);
    EXPECT_GT(Data.Changed.tv_sec, Data.Modified.tv_sec);
    EXPECT_EQ(Data.Mode & 07777, 0640u);
    EXPECT_EQ(PermissionText(Data.Mode), "-rw-r-----");
    EXPECT_TRUE(Data.LinkTarget.empty());
    // The tests run as root, so the file is root's.
    ASSERT_EQ(::geteuid(), 0u);
    EXPECT_EQ(Data.Uid, 0u);
    EXPECT_EQ(Data.OwnerName, "root");
    EXPECT_EQ(Data.GroupName, "root");

    Dir.File("sparse", 64 << 20);
    const TItemInfo Sparse = ReadItemInfo(Dir / "sparse");
    EXPECT_EQ(Sparse.Size, 64 << 20);
    EXPECT_LT(Sparse.AllocatedSize, Sparse.Size);
}

TEST(ItemInfo, DirectoryFifoAndUnknownOwner) {
    TTempDir Dir;
    Dir.MkDir("sub");
    Dir.Fifo("pipe");
    ASSERT_EQ(::chown((Dir / "pipe").c_str(), 4000123, 4000456), 0);

    const TItemInfo Sub = ReadItemInfo(Dir / "sub/");
    EXPECT_EQ(Sub.Kind, ikDirectory);
    EXPECT_EQ(PermissionText(Sub.Mode), "drwxr-xr-x");

    // Opening a FIFO would block; reading its information must not.
    const TItemInfo Pipe = ReadItemInfo(Dir / "pipe");
    EXPECT_EQ(Pipe.Kind, ikFifo);
    EXPECT_EQ(PermissionText(Pipe.Mode)[0], 'p');
    EXPECT_EQ(Pipe.Uid, 4000123u);
    EXPECT_EQ(Pipe.Gid, 4000456u);
    EXPECT_TRUE(Pipe.OwnerName.empty());
    EXPECT_TRUE(Pipe.GroupName.empty());
}

TEST(ItemInfo, SymbolicLinksAreDescribedNotFollowed) {
    TTempDir Dir;
    Dir.File("big", 1 << 20);
    Dir.Symlink("big", "link");
    Dir.Symlink("nowhere/at/all", "dangling");

    const TItemInfo Link = ReadItemInfo(Dir / "link");
    EXPECT_EQ(Link.Error, 0);
    EXPECT_EQ(Link.Kind, ikSymbolicLink);
    EXPECT_EQ(Link.LinkTarget, "big");
    EXPECT_EQ(Link.Size, 3); // the link's own length, not its target's
    EXPECT_EQ(PermissionText(Link.Mode)[0], 'l');

    const TItemInfo Dangling = ReadItemInfo(Dir / "dangling");
    EXPECT_EQ(Dangling.Error, 0);
    EXPECT_EQ(Dangling.LinkTarget, "nowhere/at/all");

    // Links in /proc report a length of 0; the target is read all the same.
    const TItemInfo Self = ReadItemInfo("/proc/self");
    EXPECT_EQ(Self.Kind, ikSymbolicLink);
    EXPECT_EQ(Self.LinkTarget, std::to_string(::getpid()));
    EXPECT_EQ(Self.FileSystemType, "proc");
    EXPECT_EQ(Self.MountPoint, "/proc");
}

TEST(ItemInfo, MissingItemGivesTheSystemsMessage) {
    TTempDir Dir;
    for (const std::string& Path : {Dir / "gone", Dir / "gone/deeper", std::string()}) {
        const TItemInfo Info = ReadItemInfo(Path);
        EXPECT_EQ(Info.Error, ENOENT) << Path;
        EXPECT_EQ(Info.ErrorMessage, SysErrorMessage(ENOENT));
        EXPECT_FALSE(Info.ErrorMessage.empty());
        EXPECT_TRUE(Info.MountPoint.empty());
    }
    Dir.File("file", 1);
    EXPECT_EQ(ReadItemInfo(Dir / "file/below").Error, ENOTDIR);
}

TEST(ItemInfo, PermissionTextFollowsLs) {
    EXPECT_EQ(PermissionText(S_IFREG | 0644), "-rw-r--r--");
    EXPECT_EQ(PermissionText(S_IFREG | 04755), "-rwsr-xr-x");
    EXPECT_EQ(PermissionText(S_IFREG | 04644), "-rwSr--r--");
    EXPECT_EQ(PermissionText(S_IFDIR | 02775), "drwxrwsr-x");
    EXPECT_EQ(PermissionText(S_IFDIR | 02745), "drwxr-Sr-x");
    EXPECT_EQ(PermissionText(S_IFDIR | 01777), "drwxrwxrwt");
    EXPECT_EQ(PermissionText(S_IFDIR | 01770), "drwxrwx--T");
    EXPECT_EQ(PermissionText(S_IFLNK | 0777), "lrwxrwxrwx");
    EXPECT_EQ(PermissionText(S_IFBLK | 0660), "brw-rw----");
    EXPECT_EQ(PermissionText(S_IFCHR | 0666), "crw-rw-rw-");
    EXPECT_EQ(PermissionText(S_IFSOCK | 0755), "srwxr-xr-x");
    EXPECT_EQ(PermissionText(07000), "?--S--S--T");
}

TEST(ItemInfo, FileSystemOfTheItem) {
    TTempDir Dir;
    Dir.File("f", 1);
    char* Real = ::realpath(Dir.Path().c_str(), nullptr);
    ASSERT_NE(Real, nullptr);
    const std::string RealDir = Real;
    std::free(Real);
    const TItemInfo Info = ReadItemInfo(Dir / "f");
    EXPECT_FALSE(Info.FileSystemType.empty());
    EXPECT_TRUE(StartsWithMountPoint(RealDir + "/f", Info.MountPoint)) << Info.MountPoint;
    EXPECT_EQ(ReadItemInfo("/").MountPoint, "/");
    // A relative path is found where it lies.
    const TItemInfo Relative = ReadItemInfo(".");
    EXPECT_EQ(Relative.Kind, ikDirectory);
    EXPECT_FALSE(Relative.MountPoint.empty());
}

// A mount point is matched by whole path components, also among mounts of the same file
// system (a bind mount), and an item on a file system mounted over a folder of another is
// found on the one mounted on top. Runs in a private mount namespace in a child; skipped
// where the machine does not allow one.
TEST(ItemInfo, MountPointMatchesWholeComponents) {
    TTempDir Dir;
    Dir.File("m/hidden", 1);
    Dir.File("src/f", 1);
    Dir.MkDir("b");
    Dir.File("bx/f", 1);
    char* Real = ::realpath(Dir.Path().c_str(), nullptr);
    ASSERT_NE(Real, nullptr);
    const std::string Root = Real;
    std::free(Real);
    const pid_t Child = ::fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("qvtest", (Root + "/m").c_str(), "tmpfs", 0, "size=1m") != 0 ||
            ::mount((Root + "/src").c_str(), (Root + "/b").c_str(), nullptr, MS_BIND, nullptr) != 0)
            ::_exit(77);
        std::ofstream(Root + "/m/f") << "x";
        const TItemInfo OnTmpfs = ReadItemInfo(Root + "/m/f");
        const TItemInfo Top = ReadItemInfo(Root + "/m");
        const TItemInfo Bound = ReadItemInfo(Root + "/b/f");
        const TItemInfo Beside = ReadItemInfo(Root + "/bx/f");
        int Failed = 0;
        Failed |= OnTmpfs.MountPoint != Root + "/m" || OnTmpfs.FileSystemType != "tmpfs" ? 1 : 0;
        Failed |= Top.MountPoint != Root + "/m" ? 2 : 0;
        Failed |= Bound.MountPoint != Root + "/b" ? 4 : 0;
        Failed |= Beside.MountPoint == Root + "/b" || Beside.FileSystemType.empty() ? 8 : 0;
        ::_exit(Failed);
    }
    int Status = 0;
    while (::waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(Status));
    if (WEXITSTATUS(Status) == 77)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(WEXITSTATUS(Status), 0) << "bits: 1 tmpfs, 2 its mount point, 4 bound, 8 beside";
}

} // namespace
} // namespace qv
