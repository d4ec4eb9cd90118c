// Moving items to the freedesktop.org Trash: the home trash, name collisions, the sizes of
// trashed directories, the trash at the top directory of another file system and a
// read-only file system, all on real folders.

#include "shell/Trash.h"

#include "TestTree.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qv {
namespace {

std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& Path) {
    struct stat st {};
    return ::lstat(Path.c_str(), &st) == 0;
}

// The decoded Path= value of a .trashinfo text, or "<bad>" when the text has not exactly
// the three lines with a well-formed date.
std::string InfoPath(const std::string& Info) {
    const std::string head = "[Trash Info]\nPath=";
    if (Info.rfind(head, 0) != 0)
        return "<bad>";
    auto eol = Info.find('\n', head.size());
    if (eol == std::string::npos)
        return "<bad>";
    std::string rest = Info.substr(eol + 1);
    // DeletionDate=YYYY-MM-DDThh:mm:ss
    if (rest.size() != 13 + 19 + 1 || rest.rfind("DeletionDate=", 0) != 0 || rest[17] != '-' ||
        rest[20] != '-' || rest[23] != 'T' || rest[26] != ':' || rest[29] != ':' ||
        rest.back() != '\n')
        return "<bad>";
    return TrashInfoPathDecode(Info.substr(head.size(), eol - head.size()));
}

// Points HOME and XDG_DATA_HOME at fresh folders for one test.
class TrashTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"HOME", "XDG_DATA_HOME"}) {
            const char* old = std::getenv(v);
            Saved.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
        ::setenv("HOME", Home.Path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", (Home / "data").c_str(), 1);
    }
    void TearDown() override {
        for (auto& [name, value] : Saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    std::string TrashDir() const { return Home / "data/Trash"; }

    test::TTempDir Home;
    test::TTempDir Work;
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

TEST_F(TrashTest, HomeTrashKeepsTheExactBytesOfOddNames) {
    for (const std::string& name :
         {std::string("plain.txt"), std::string("100% a b"), std::string("new\nline"),
          std::string("bad\xFFutf8"), std::string("dir with%25")}) {
        SCOPED_TRACE(name);
        const bool isDir = name.rfind("dir", 0) == 0;
        if (isDir) {
            Work.File(name + "/inner", 10);
        } else {
            Work.File(name, 3);
        }
        const std::string path = Work / name;
        TTrashResult r = MoveToTrash(path);
        ASSERT_TRUE(r.Moved) << r.Message;
        EXPECT_EQ(r.Error, 0);
        EXPECT_EQ(r.TrashedAs, TrashDir() + "/files/" + name);
        EXPECT_FALSE(Exists(path));
        struct stat st {};
        ASSERT_EQ(::lstat(r.TrashedAs.c_str(), &st), 0);
        EXPECT_EQ(S_ISDIR(st.st_mode), isDir);
        if (isDir) {
            EXPECT_TRUE(Exists(r.TrashedAs + "/inner"));
        }
        const std::string info = TrashDir() + "/info/" + name + ".trashinfo";
        ASSERT_EQ(::lstat(info.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const std::string text = ReadFile(info);
        EXPECT_EQ(InfoPath(text), path);
        // The Path= line is one line of plain ASCII, whatever the name holds.
        for (char c : text.substr(0, text.size() - 1))
            EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    }
    struct stat st {};
    for (const char* sub : {"", "/files", "/info"}) {
        ASSERT_EQ(::lstat((TrashDir() + sub).c_str(), &st), 0) << sub;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << sub;
    }
}

TEST_F(TrashTest, SymlinkItselfIsTrashedAndBadPathsAreRefused) {
    Work.File("target", 5);
    Work.Symlink(Work / "target", "link");
    TTrashResult r = MoveToTrash(Work / "link");
    ASSERT_TRUE(r.Moved) << r.Message;
    struct stat st {};
    ASSERT_EQ(::lstat(r.TrashedAs.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(Exists(Work / "target"));

    r = MoveToTrash(Work / "missing");
    EXPECT_FALSE(r.Moved);
    EXPECT_EQ(r.Error, ENOENT);
    EXPECT_FALSE(r.Message.empty());
    EXPECT_EQ(MoveToTrash("relative/name").Error, EINVAL);
    EXPECT_EQ(MoveToTrash("/").Error, EINVAL);
}

TEST_F(TrashTest, CollisionsGetNumberedNamesAndNothingIsOverwritten) {
    Work.File("a/same", 1);
    Work.File("b/same", 2);
    Work.File("c/same", 3);
    TTrashResult r1 = MoveToTrash(Work / "a/same");
    TTrashResult r2 = MoveToTrash(Work / "b/same");
    ASSERT_TRUE(r1.Moved && r2.Moved);
    EXPECT_EQ(r1.TrashedAs, TrashDir() + "/files/same");
    EXPECT_EQ(r2.TrashedAs, TrashDir() + "/files/same.2");
    EXPECT_EQ(InfoPath(ReadFile(TrashDir() + "/info/same.trashinfo")), Work / "a/same");
    EXPECT_EQ(InfoPath(ReadFile(TrashDir() + "/info/same.2.trashinfo")), Work / "b/same");

    // A stray files/same.3 without its .trashinfo is skipped, never replaced.
    Work.File("stray", 7);
    ASSERT_EQ(::rename((Work / "stray").c_str(), (TrashDir() + "/files/same.3").c_str()), 0);
    TTrashResult r3 = MoveToTrash(Work / "c/same");
    ASSERT_TRUE(r3.Moved) << r3.Message;
    EXPECT_EQ(r3.TrashedAs, TrashDir() + "/files/same.4");
    struct stat st {};
    ASSERT_EQ(::lstat((TrashDir() + "/files/same.3").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 7);
    EXPECT_FALSE(Exists(TrashDir() + "/info/same.3.trashinfo"));
    ASSERT_EQ(::lstat(r2.TrashedAs.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 2);
}

TEST_F(TrashTest, DirectorySizesListsTrashedDirectories) {
    Work.File("d 1/x", 1000);
    Work.File("d 1/sub/y", 234);
    Work.Symlink("/nonexistent/far/away", "d 1/sub/link"); // counted as a link, not followed
    Work.File("d2/z", 5);
    TTrashResult r1 = MoveToTrash(Work / "d 1");
    TTrashResult r2 = MoveToTrash(Work / "d2");
    Work.File("file", 9);
    TTrashResult r3 = MoveToTrash(Work / "file");
    ASSERT_TRUE(r1.Moved && r2.Moved && r3.Moved);

    const std::string sizes = ReadFile(TrashDir() + "/directorysizes");
    std::istringstream in(sizes);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u) << sizes;
    auto mtimeMs = [&](const std::string& Name) {
        struct stat st {};
        EXPECT_EQ(::stat((TrashDir() + "/info/" + Name + ".trashinfo").c_str(), &st), 0);
        return std::to_string(std::int64_t(st.st_mtim.tv_sec) * 1000 +
                              st.st_mtim.tv_nsec / 1000000);
    };
    const auto linkLen = std::string("/nonexistent/far/away").size();
    EXPECT_EQ(lines[0], std::to_string(1000 + 234 + linkLen) + " " + mtimeMs("d 1") + " d%201");
    EXPECT_EQ(lines[1], "5 " + mtimeMs("d2") + " d2");

    // Entries of directories gone from the trash are dropped on the next update.
    test::RemoveTree(r1.TrashedAs);
    Work.File("d3/q", 1);
    ASSERT_TRUE(MoveToTrash(Work / "d3").Moved);
    const std::string after = ReadFile(TrashDir() + "/directorysizes");
    EXPECT_EQ(after.find("d%201"), std::string::npos) << after;
    EXPECT_NE(after.find(" d2\n"), std::string::npos) << after;
    EXPECT_NE(after.find(" d3\n"), std::string::npos) << after;
}

TEST(TrashInfoPathTest, DecodeReversesEncodeAndKeepsBrokenEscapes) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += char(c);
    EXPECT_EQ(TrashInfoPathDecode(TrashInfoPathEncode(all)), all);
    EXPECT_EQ(TrashInfoPathEncode("/a b/%/~x"), "/a%20b/%25/~x");
    EXPECT_EQ(TrashInfoPathDecode("%41%zz%4"), "A%zz%4");
    EXPECT_EQ(TrashInfoPathDecode("%e2%82%ac"), "\xE2\x82\xAC");
}

// Runs Body in a forked child inside a private mount namespace with a tmpfs mounted on
// MountPoint. Returns the child's exit status; 77 means the system refused the namespace
// or the mount.
int InMountNamespace(const std::string& MountPoint, const std::function<int()>& Body) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("none", MountPoint.c_str(), "tmpfs", 0, "mode=0755") != 0)
            ::_exit(77);
        ::_exit(Body());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reports the first failed check of a child as its line number (mod 256, never 0 or 77).
#define CHILD_CHECK(cond)                                                                          \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "child check failed, line %d: %s\n", __LINE__, #cond);            \
            return __LINE__ % 200 + 1 == 77 ? 78 : __LINE__ % 200 + 1;                             \
        }                                                                                          \
    } while (0)

TEST_F(TrashTest, OtherFileSystemUsesTheTrashAtItsTopDirectory) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a private mount namespace";
    const std::string top = Work / "mnt";
    Work.MkDir("mnt");
    const std::string uid = std::to_string(::geteuid());
    int rc = InMountNamespace(top, [&]() -> int {
        // No .Trash: the per-user folder is made with 0700.
        Work.File("mnt/sub dir/a%b", 4);
        TTrashResult r = MoveToTrash(top + "/sub dir/a%b");
        CHILD_CHECK(r.Moved);
        const std::string own = top + "/.Trash-" + uid;
        CHILD_CHECK(r.TrashedAs == own + "/files/a%b");
        struct stat st {};
        CHILD_CHECK(::lstat(own.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
        CHILD_CHECK(InfoPath(ReadFile(own + "/info/a%b.trashinfo")) == "sub dir/a%b");
        CHILD_CHECK(ReadFile(own + "/info/a%b.trashinfo").find("Path=sub%20dir/a%25b\n") !=
                    std::string::npos);
        CHILD_CHECK(!Exists(TrashDir()));

        // A shared .Trash without the sticky bit is not used.
        Work.MkDir("mnt/.Trash");
        CHILD_CHECK(::chmod((top + "/.Trash").c_str(), 0777) == 0);
        Work.File("mnt/f1", 1);
        r = MoveToTrash(top + "/f1");
        CHILD_CHECK(r.Moved && r.TrashedAs == own + "/files/f1");

        // A sticky .Trash gets a 0700 folder of the user.
        CHILD_CHECK(::chmod((top + "/.Trash").c_str(), 01777) == 0);
        Work.MkDir("mnt/x/y");
        Work.File("mnt/x/y/d/f", 3);
        r = MoveToTrash(top + "/x/y/d");
        CHILD_CHECK(r.Moved);
        const std::string shared = top + "/.Trash/" + uid;
        CHILD_CHECK(r.TrashedAs == shared + "/files/d");
        CHILD_CHECK(::lstat(shared.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
        CHILD_CHECK(InfoPath(ReadFile(shared + "/info/d.trashinfo")) == "x/y/d");
        CHILD_CHECK(ReadFile(shared + "/directorysizes").find("3 ") == 0);

        // A per-user folder that is a symbolic link is refused, the item stays.
        Work.MkDir("mnt2");
        const std::string top2 = Work / "mnt2";
        CHILD_CHECK(::mount("none", top2.c_str(), "tmpfs", 0, "mode=0755") == 0);
        Work.MkDir("mnt2/elsewhere");
        Work.Symlink(top2 + "/elsewhere", "mnt2/.Trash-" + uid);
        Work.File("mnt2/keep", 6);
        r = MoveToTrash(top2 + "/keep");
        CHILD_CHECK(!r.Moved && r.Error != 0 && !r.Message.empty());
        CHILD_CHECK(Exists(top2 + "/keep"));
        CHILD_CHECK(!Exists(top2 + "/elsewhere/files"));
        return 0;
    });
    if (rc == 77)
        GTEST_SKIP() << "unshare or mount refused";
    EXPECT_EQ(rc, 0);
}

TEST_F(TrashTest, ReadOnlyFileSystemRefusesAndLeavesTheItem) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a private mount namespace";
    const std::string top = Work / "ro";
    Work.MkDir("ro");
    int rc = InMountNamespace(top, [&]() -> int {
        Work.File("ro/item", 12);
        Work.File("ro/d/inner", 1);
        CHILD_CHECK(::mount("none", top.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        for (const char* name : {"item", "d"}) {
            TTrashResult r = MoveToTrash(top + "/" + name);
            CHILD_CHECK(!r.Moved);
            CHILD_CHECK(r.Error == EROFS);
            CHILD_CHECK(!r.Message.empty());
            CHILD_CHECK(r.TrashedAs.empty());
        }
        struct stat st {};
        CHILD_CHECK(::lstat((top + "/item").c_str(), &st) == 0 && st.st_size == 12);
        CHILD_CHECK(Exists(top + "/d/inner"));
        CHILD_CHECK(!Exists(top + "/.Trash-" + std::to_string(::geteuid())));
        return 0;
    });
    if (rc == 77)
        GTEST_SKIP() << "unshare or mount refused";
    EXPECT_EQ(rc, 0);
}

} // namespace
} // namespace qv
