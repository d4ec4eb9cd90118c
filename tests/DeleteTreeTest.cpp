// Permanent deletion on real folders: links, depth, mounts, permissions, races, cancel.

#include "shell/DeleteTree.h"

#include "TestTree.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qv {
namespace {

bool Exists(const std::string& Path) {
    struct stat st;
    return ::lstat(Path.c_str(), &st) == 0;
}

bool Reported(const TTreeDeleter& Deleter, const std::string& Path, int Error) {
    const auto& list = Deleter.Failures();
    return std::any_of(list.begin(), list.end(), [&](const TDeleteFailure& f) {
        return f.Path == Path && f.Error == Error && !f.Message.empty();
    });
}

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

void ChownTree(const std::string& Path, uid_t Uid) {
    ASSERT_EQ(::lchown(Path.c_str(), Uid, Uid), 0);
    for (const auto& e : fs::recursive_directory_iterator(Path))
        ASSERT_EQ(::lchown(e.path().c_str(), Uid, Uid), 0);
}

TEST(DeleteTree, LinksAreRemovedNeverFollowed) {
    test::TTempDir tmp;
    tmp.File("outside/keep", 10);
    tmp.File("tree/a/b/file", 100);
    tmp.File("tree/top", 5);
    tmp.Symlink(tmp / "outside", "tree/a/link");
    tmp.Symlink(tmp / "outside", "alone");

    TTreeDeleter deleter;
    EXPECT_TRUE(deleter.Delete(tmp / "tree", true));
    EXPECT_TRUE(deleter.Failures().empty());
    EXPECT_FALSE(Exists(tmp / "tree"));
    EXPECT_TRUE(Exists(tmp / "outside/keep"));
    // tree, a, b, file, top, link
    EXPECT_EQ(deleter.Progress().Items, 6);
    EXPECT_EQ(deleter.Progress().Bytes, 105 + std::int64_t((tmp / "outside").size()));

    // A link as the item itself goes as a link, even with a trailing slash.
    EXPECT_TRUE(deleter.Delete(tmp / "alone/", false));
    EXPECT_FALSE(Exists(tmp / "alone"));
    EXPECT_TRUE(Exists(tmp / "outside/keep"));
}

TEST(DeleteTree, DeepChainWithFewDescriptors) {
    test::TTempDir tmp;
    tmp.MkDir("deep");
    constexpr int Levels = 10000;
    test::MakeChain(tmp / "deep", Levels);

    const int before = OpenDescriptors();
    int most = before;
    TTreeDeleter deleter;
    deleter.ProgressInterval = std::chrono::milliseconds(0);
    deleter.OnProgress = [&](const TDeleteProgress& p) {
        if (p.Items % 250 == 0)
            most = std::max(most, OpenDescriptors());
    };
    EXPECT_TRUE(deleter.Delete(tmp / "deep", true));
    EXPECT_TRUE(deleter.Failures().empty());
    EXPECT_FALSE(Exists(tmp / "deep"));
    EXPECT_EQ(deleter.Progress().Items, 2 * Levels + 1);
    EXPECT_EQ(deleter.Progress().Bytes, Levels);
    EXPECT_LE(most - before, 64);
}

TEST(DeleteTree, MountPointInsideIsLeft) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    test::TTempDir tmp;
    tmp.File("tree/gone", 1);
    tmp.MkDir("tree/sub/mnt");
    const std::string tree = tmp / "tree";
    const std::string mnt = tmp / "tree/sub/mnt";

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=1m") != 0)
            ::_exit(77);
        if (FILE* f = std::fopen((mnt + "/keep").c_str(), "w"))
            std::fclose(f);
        else
            ::_exit(1);
        TTreeDeleter deleter;
        if (deleter.Delete(tree, true))
            ::_exit(2);
        if (!Exists(mnt + "/keep"))
            ::_exit(3);
        if (Exists(tree + "/gone"))
            ::_exit(4);
        if (!Reported(deleter, mnt, EXDEV))
            ::_exit(5);
        if (!Reported(deleter, tmp / "tree/sub", ENOTEMPTY) || !Reported(deleter, tree, ENOTEMPTY))
            ::_exit(6);
        if (deleter.Failures().size() != 3)
            ::_exit(7);
        // The mount point as the item itself is refused outright.
        if (deleter.Delete(mnt, true) || !Reported(deleter, mnt, EXDEV) || !Exists(mnt + "/keep"))
            ::_exit(8);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "this machine refuses a private mount namespace";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed check " << WEXITSTATUS(status);
}

TEST(DeleteTree, UnreadableSubdirectoryIsReportedAndTheRestGoes) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the tree is handed to another user";
    test::TTempDir tmp;
    tmp.File("p/tree/ok/f", 3);
    tmp.File("p/tree/locked/f", 3);
    tmp.File("p/tree/file", 3);
    ChownTree(tmp / "p", 65534);
    tmp.Chmod("p/tree/locked", 0);
    const std::string tree = tmp / "p/tree";

    const int status = test::RunUnprivileged([&] {
        TTreeDeleter deleter;
        if (deleter.Delete(tree, true))
            return 1;
        if (!Reported(deleter, tree + "/locked", EACCES))
            return 2;
        if (!Reported(deleter, tree, ENOTEMPTY))
            return 3;
        if (deleter.Failures().size() != 2)
            return 4;
        if (Exists(tree + "/ok") || Exists(tree + "/file"))
            return 5;
        return 0;
    });
    EXPECT_EQ(status, 0);
    tmp.Chmod("p/tree/locked", 0755);
    EXPECT_TRUE(Exists(tmp / "p/tree/locked/f"));
}

TEST(DeleteTree, ChangedKindIsRefused) {
    test::TTempDir tmp;
    tmp.File("other/keep", 1);
    // Scanned as a directory, then swapped for a link to another folder.
    tmp.Symlink(tmp / "other", "swapped");
    tmp.File("plain", 1);

    TTreeDeleter deleter;
    EXPECT_FALSE(deleter.Delete(tmp / "swapped", true));
    EXPECT_TRUE(Reported(deleter, tmp / "swapped", ENOTDIR));
    EXPECT_TRUE(Exists(tmp / "other/keep"));
    EXPECT_TRUE(Exists(tmp / "swapped"));

    EXPECT_FALSE(deleter.Delete(tmp / "plain", true));
    EXPECT_FALSE(deleter.Delete(tmp / "other", false));
    EXPECT_TRUE(Reported(deleter, tmp / "plain", ENOTDIR));
    EXPECT_TRUE(Reported(deleter, tmp / "other", EISDIR));
    EXPECT_TRUE(Exists(tmp / "plain"));
    EXPECT_TRUE(Exists(tmp / "other/keep"));
    EXPECT_EQ(deleter.Progress().Items, 0);
}

TEST(DeleteTree, CancelStopsWithoutFailures) {
    test::TTempDir tmp;
    for (int d = 0; d < 5; ++d)
        for (int f = 0; f < 40; ++f)
            tmp.File("tree/d" + std::to_string(d) + "/f" + std::to_string(f), 1);

    TTreeDeleter deleter;
    deleter.ProgressInterval = std::chrono::milliseconds(0);
    std::int64_t calls = 0;
    deleter.OnProgress = [&](const TDeleteProgress& p) {
        ++calls;
        EXPECT_FALSE(p.CurrentPath.empty());
        if (p.Items == 50)
            deleter.Cancel();
    };
    EXPECT_FALSE(deleter.Delete(tmp / "tree", true));
    EXPECT_TRUE(deleter.Failures().empty());
    EXPECT_EQ(deleter.Progress().Items, 50);
    EXPECT_EQ(calls, 50);
    EXPECT_TRUE(Exists(tmp / "tree"));
    int left = 0;
    for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(tmp / "tree"))
        ++left;
    EXPECT_EQ(left, 5 + 200 - 50);
    // Still cancelled: nothing more goes.
    EXPECT_FALSE(deleter.Delete(tmp / "tree", true));
    EXPECT_TRUE(deleter.Failures().empty());
}

} // namespace
} // namespace qv
