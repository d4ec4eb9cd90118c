#include "TestTree.h"

#include "platform/DirReader.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <memory>
#include <sched.h>
#include <set>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qv::test {

bool EnterPrivateMountNamespace() {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

int InMountNamespace(const std::function<int()>& Body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        ::_exit(EnterPrivateMountNamespace() ? Body() : 77);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

[[noreturn]] void Fail(const std::string& What) {
    throw std::runtime_error(What + ": " + std::strerror(errno));
}

void MakeDirs(const std::string& Path) {
    for (std::size_t i = 1; i <= Path.size(); ++i)
        if (i == Path.size() || Path[i] == '/') {
            const std::string part = Path.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                Fail("mkdir " + part);
        }
}

std::string DirOf(const std::string& Path) {
    return Path.substr(0, Path.rfind('/'));
}

// Removes the contents of the open directory Fd; works level by level without recursion
// into the C++ stack per level beyond what fits (test trees go 10 000 levels deep).
void RemoveContents(int Fd) {
    struct TItem {
        TFd Dir;
        std::string NameInParent;
    };
    std::vector<TItem> stack;
    stack.push_back({TFd(::dup(Fd)), {}});
    while (!stack.empty()) {
        TItem& top = stack.back();
        TEntryBuffer buffer;
        ReadDirectoryEntries(top.Dir.Get(), buffer);
        ::lseek(top.Dir.Get(), 0, SEEK_SET);
        TDirEntryCursor cursor(buffer);
        TDirEntryRef entry;
        bool descended = false;
        while (cursor.Next(entry)) {
            if (::unlinkat(top.Dir.Get(), entry.Name, 0) == 0)
                continue;
            if (errno != EISDIR && errno != EPERM)
                continue;
            if (::unlinkat(top.Dir.Get(), entry.Name, AT_REMOVEDIR) == 0)
                continue;
            ::fchmodat(top.Dir.Get(), entry.Name, 0755, 0);
            int child = OpenDirectoryAt(top.Dir.Get(), entry.Name);
            if (child < 0)
                continue;
            stack.push_back({TFd(child), entry.Name});
            descended = true;
            break;
        }
        if (descended)
            continue;
        const std::string name = top.NameInParent;
        stack.pop_back();
        if (!stack.empty())
            ::unlinkat(stack.back().Dir.Get(), name.c_str(), AT_REMOVEDIR);
    }
}

} // namespace

void MakeChain(const std::string& Dir, int Levels) {
    int error = 0;
    TFd dir = OpenDirectory(Dir, true, error);
    for (int i = 0; i < Levels && dir.Valid(); ++i) {
        if (::mkdirat(dir.Get(), "d", 0755) != 0 && errno != EEXIST)
            Fail("mkdir in chain");
        TFd next(OpenDirectoryAt(dir.Get(), "d"));
        TFd file(::openat(next.Get(), "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        if (!next.Valid() || !file.Valid() || ::ftruncate(file.Get(), 1) != 0)
            Fail("file in chain");
        dir = std::move(next);
    }
}

std::vector<TGroupNode*> Groups(TGroupNode& Root) {
    std::vector<TGroupNode*> all{&Root};
    for (std::size_t i = 0; i < all.size(); ++i) {
        TChildrenLock guard(*all[i]);
        for (TFileSystemNode* child : guard.Children().Items())
            if (child->IsGroupNode())
                all.push_back(static_cast<TGroupNode*>(child));
    }
    return all;
}

void RemoveTree(const std::string& Path) {
    int error = 0;
    ::chmod(Path.c_str(), 0755);
    TFd fd = OpenDirectory(Path, false, error);
    if (fd.Valid())
        RemoveContents(fd.Get());
    ::rmdir(Path.c_str());
}

TTempDir::TTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qvtest-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        Fail("mkdtemp");
    Root = buf.data();
    // Reachable by the unprivileged user of RunUnprivileged.
    ::chmod(Root.c_str(), 0755);
}

TTempDir::~TTempDir() {
    RemoveTree(Root);
}

void TTempDir::MkDir(const std::string& Rel) const {
    MakeDirs(*this / Rel);
}

void TTempDir::File(const std::string& Rel, std::int64_t Size) const {
    const std::string path = *this / Rel;
    MakeDirs(DirOf(path));
    TFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid())
        Fail("create " + path);
    if (::ftruncate(fd.Get(), Size) != 0)
        Fail("truncate " + path);
}

void TTempDir::Data(const std::string& Rel, std::int64_t Size) const {
    const std::string path = *this / Rel;
    MakeDirs(DirOf(path));
    TFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid())
        Fail("create " + path);
    const std::string chunk(65536, 'q');
    for (std::int64_t left = Size; left > 0;) {
        const auto n =
            ::write(fd.Get(), chunk.data(), std::size_t(std::min<std::int64_t>(left, 65536)));
        if (n <= 0)
            Fail("write " + path);
        left -= n;
    }
    if (::fsync(fd.Get()) != 0)
        Fail("fsync " + path);
}

void TTempDir::HardLink(const std::string& Target, const std::string& Rel) const {
    const std::string path = *this / Rel;
    MakeDirs(DirOf(path));
    if (::link((*this / Target).c_str(), path.c_str()) != 0)
        Fail("link " + path);
}

std::map<std::string, TDiskSums> DiskSums(const std::string& Root, bool Once) {
    std::map<std::string, TDiskSums> sums;
    std::set<std::pair<dev_t, ino_t>> met;
    std::function<TDiskSums(const std::string&)> walk = [&](const std::string& Dir) {
        TDiskSums total;
        if (DIR* d = ::opendir(Dir.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name == "." || name == "..")
                    continue;
                const std::string path = Dir + "/" + name;
                struct stat st {};
                if (::lstat(path.c_str(), &st) != 0)
                    continue;
                if (S_ISDIR(st.st_mode)) {
                    const TDiskSums sub = walk(path);
                    total.Size += sub.Size;
                    total.OnDisk += sub.OnDisk;
                    total.Files += sub.Files;
                    continue;
                }
                if (Once && S_ISREG(st.st_mode) && st.st_nlink > 1 &&
                    !met.insert({st.st_dev, st.st_ino}).second)
                    continue;
                ++total.Files;
                if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
                    total.Size += st.st_size;
                    total.OnDisk += std::int64_t(st.st_blocks) * 512;
                }
            }
            ::closedir(d);
        }
        sums[Dir] = total;
        return total;
    };
    walk(Root);
    return sums;
}

void TTempDir::Symlink(const std::string& Target, const std::string& Rel) const {
    const std::string path = *this / Rel;
    MakeDirs(DirOf(path));
    if (::symlink(Target.c_str(), path.c_str()) != 0)
        Fail("symlink " + path);
}

void TTempDir::Fifo(const std::string& Rel) const {
    const std::string path = *this / Rel;
    MakeDirs(DirOf(path));
    if (::mkfifo(path.c_str(), 0644) != 0)
        Fail("mkfifo " + path);
}

void TTempDir::Chmod(const std::string& Rel, unsigned Mode) const {
    if (::chmod((*this / Rel).c_str(), Mode) != 0)
        Fail("chmod " + Rel);
}

int RunUnprivileged(const std::function<int()>& Body) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::geteuid() == 0) {
            const uid_t nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
                ::setresuid(nobody, nobody, nobody) != 0)
                ::_exit(254);
        }
        int status = 255;
        try {
            status = Body();
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

class TPrivateConfigHome : public ::testing::Environment {
public:
    void SetUp() override {
        Folder = std::make_unique<TTempDir>();
        ::setenv("XDG_CONFIG_HOME", Folder->Path().c_str(), 1);
    }
    void TearDown() override { Folder.reset(); }

private:
    std::unique_ptr<TTempDir> Folder;
};

} // namespace

bool UsePrivateConfigHome() {
    ::testing::AddGlobalTestEnvironment(new TPrivateConfigHome);
    return true;
}

int LiveThreads(const std::string& Name) {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        count += name == Name ? 1 : 0;
    }
    return count;
}

} // namespace qv::test
