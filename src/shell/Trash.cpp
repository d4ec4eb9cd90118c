#include "shell/Trash.h"

#include "platform/DirReader.h"
#include "platform/SysError.h"
#include "support/QvUtils.h"
#include "tree/TreeTypes.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qv {

namespace {

constexpr std::size_t NameMax = 255;
constexpr std::string_view InfoSuffix = ".trashinfo";

TTrashResult Failure(int Code) {
    TTrashResult r;
    r.Error = Code;
    r.Message = SysErrorMessage(Code);
    return r;
}

// Closes a descriptor at the end of a scope.
std::string DirName(const std::string& Path) {
    auto pos = Path.rfind('/');
    if (pos == std::string::npos)
        return ".";
    return pos == 0 ? "/" : Path.substr(0, pos);
}

// Creates Path with mode 0700 and its missing parents (for $XDG_DATA_HOME). Returns 0 or the
// errno of the first failure.
int MakeDirs(const std::string& Path) {
    if (::mkdir(Path.c_str(), 0700) == 0)
        return 0;
    if (errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return errno;
    std::string parent = DirName(Path);
    if (parent == Path)
        return ENOENT;
    if (int e = MakeDirs(parent))
        return e;
    if (::mkdir(Path.c_str(), 0700) == 0 || errno == EEXIST)
        return 0;
    return errno;
}

// Makes sure Path is a real directory (not a symbolic link), creating it with 0700 when
// missing. With RequireOwner, a directory of another user is refused with EPERM: others
// could read or swap what we put there.
int EnsureDir(const std::string& Path, bool RequireOwner) {
    if (::mkdir(Path.c_str(), 0700) != 0 && errno != EEXIST)
        return errno;
    struct stat st {};
    if (::lstat(Path.c_str(), &st) != 0)
        return errno;
    if (S_ISLNK(st.st_mode))
        return ELOOP;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if (RequireOwner && st.st_uid != ::geteuid())
        return EPERM;
    return 0;
}

// The trash folder chosen for an item, and the Path= value its .trashinfo gets.
struct TTrashDir {
    std::string Dir;
    std::string InfoPath;
};

std::string DataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + "/.local/share";
}

// st_dev of Path, or of its nearest existing ancestor: a missing $XDG_DATA_HOME is made
// later on the file system that holds its parent.
std::optional<dev_t> DeviceOf(std::string Path) {
    for (;;) {
        struct stat st {};
        if (::stat(Path.c_str(), &st) == 0)
            return st.st_dev;
        if (errno != ENOENT && errno != ENOTDIR)
            return std::nullopt;
        std::string parent = DirName(Path);
        if (parent == Path)
            return std::nullopt;
        Path = parent;
    }
}

// The trash at the top directory TopDir for the user: $topdir/.Trash/$uid when .Trash is a
// sticky directory (not a link), else $topdir/.Trash-$uid. Returns the folder or an errno.
int TopDirTrash(const std::string& TopDir, std::string& Out) {
    const std::string uid = std::to_string(::geteuid());
    const std::string shared = JoinPath(TopDir, ".Trash");
    struct stat st {};
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        std::string dir = JoinPath(shared, uid);
        if (EnsureDir(dir, true) == 0) {
            Out = dir;
            return 0;
        }
        // A failed check of the shared trash must not stop the per-user one.
    }
    std::string dir = JoinPath(TopDir, ".Trash-" + uid);
    if (int e = EnsureDir(dir, true))
        return e;
    Out = dir;
    return 0;
}

// Chooses the trash for the item named ParentReal/Name whose parent lives on device Dev.
int ChooseTrash(const std::string& ParentReal, const std::string& Name, dev_t Dev, TTrashDir& Out) {
    const std::string full = JoinPath(ParentReal, Name);
    const std::string dataHome = DataHome();
    if (auto homeDev = DeviceOf(dataHome); homeDev && *homeDev == Dev) {
        if (int e = MakeDirs(dataHome))
            return e;
        Out.Dir = dataHome + "/Trash";
        if (int e = EnsureDir(Out.Dir, false))
            return e;
        Out.InfoPath = full;
        return 0;
    }
    std::string top = ParentReal;
    while (top != "/") {
        std::string up = DirName(top);
        struct stat st {};
        if (::stat(up.c_str(), &st) != 0 || st.st_dev != Dev)
            break;
        top = up;
    }
    if (int e = TopDirTrash(top, Out.Dir))
        return e;
    // Relative to the top directory, so that the trash still works when the file system is
    // mounted elsewhere.
    Out.InfoPath = top == "/" ? full.substr(1) : full.substr(top.size() + 1);
    return 0;
}

std::string DeletionDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
    return buf;
}

// The name for the N-th attempt (1 = the plain name), shortened so that NAME.trashinfo
// still fits into one directory entry.
std::string Candidate(const std::string& Base, int N) {
    std::string suffix = N == 1 ? std::string() : "." + std::to_string(N);
    std::size_t room = NameMax - InfoSuffix.size() - suffix.size();
    return (Base.size() > room ? Base.substr(0, room) : Base) + suffix;
}

// Total of the lstat sizes of everything below the directory Fd (taken over), without
// following symbolic links; unreadable parts count as nothing, as the result is only a hint.
std::uint64_t TreeSize(int Fd) {
    DIR* d = ::fdopendir(Fd);
    if (!d) {
        ::close(Fd);
        return 0;
    }
    std::uint64_t total = 0;
    while (dirent* e = ::readdir(d)) {
        std::string_view n = e->d_name;
        if (n == "." || n == "..")
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            int sub =
                ::openat(::dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                total += TreeSize(sub);
        } else {
            total += std::uint64_t(st.st_size);
        }
    }
    ::closedir(d);
    return total;
}

// Adds the line of a trashed directory to TrashDir/directorysizes, dropping the lines of
// items no longer in the trash. The file is replaced through a temporary file so that a
// reader never sees half of it. Failures are ignored: it is a cache that readers rebuild.
void UpdateDirectorySizes(const std::string& TrashDir, const std::string& Name,
                          const std::string& InfoFile) {
    const std::string filesDir = TrashDir + "/files";
    int dirFd =
        ::open(JoinPath(filesDir, Name).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return;
    std::uint64_t size = TreeSize(dirFd);
    struct stat ist {};
    if (::stat(InfoFile.c_str(), &ist) != 0)
        return;
    std::int64_t ms = std::int64_t(ist.st_mtim.tv_sec) * 1000 + ist.st_mtim.tv_nsec / 1000000;

    const std::string target = TrashDir + "/directorysizes";
    std::string kept;
    if (std::FILE* f = std::fopen(target.c_str(), "re")) {
        std::string line;
        int c;
        auto keep = [&] {
            auto first = line.find(' ');
            auto second = first == std::string::npos ? first : line.find(' ', first + 1);
            if (second == std::string::npos)
                return;
            std::string name = TrashInfoPathDecode(std::string_view(line).substr(second + 1));
            struct stat st {};
            if (name != Name && name.find('/') == std::string::npos &&
                ::lstat(JoinPath(filesDir, name).c_str(), &st) == 0)
                kept += line + '\n';
        };
        while ((c = std::fgetc(f)) != EOF) {
            if (c == '\n') {
                keep();
                line.clear();
            } else {
                line += char(c);
            }
        }
        if (!line.empty())
            keep();
        std::fclose(f);
    }
    kept +=
        std::to_string(size) + ' ' + std::to_string(ms) + ' ' + TrashInfoPathEncode(Name) + '\n';

    std::string tmp = TrashDir + "/directorysizes.XXXXXX";
    TFd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (fd.Get() < 0)
        return;
    bool ok = WriteAllBytes(fd.Get(), kept);
    ok = ::close(fd.Release()) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), target.c_str()) != 0)
        ::unlink(tmp.c_str());
}

} // namespace

std::string TrashInfoPathEncode(std::string_view Path) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(Path.size());
    for (char ch : Path) {
        auto c = static_cast<unsigned char>(ch);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

std::string TrashInfoPathDecode(std::string_view Encoded) {
    std::string out;
    out.reserve(Encoded.size());
    for (std::size_t i = 0; i < Encoded.size(); ++i) {
        if (Encoded[i] == '%' && i + 2 < Encoded.size()) {
            int hi = HexDigitValue(Encoded[i + 1]);
            int lo = HexDigitValue(Encoded[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += Encoded[i];
    }
    return out;
}

TTrashResult MoveToTrash(const std::string& Path) {
    std::string path = Path;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty() || path[0] != '/' || path == "/")
        return Failure(EINVAL);
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name == "." || name == "..")
        return Failure(EINVAL);

    struct stat item {};
    if (::lstat(path.c_str(), &item) != 0)
        return Failure(errno);
    // The parent's real path: the item is moved out of that directory, on that file system,
    // and the .trashinfo must name where it can be restored to.
    char* real = ::realpath(DirName(path).c_str(), nullptr);
    if (!real)
        return Failure(errno);
    const std::string parent = real;
    std::free(real);
    struct stat parentSt {};
    if (::stat(parent.c_str(), &parentSt) != 0)
        return Failure(errno);
    const std::string source = JoinPath(parent, name);

    TTrashDir trash;
    if (int e = ChooseTrash(parent, name, parentSt.st_dev, trash))
        return Failure(e);
    const std::string filesDir = trash.Dir + "/files";
    const std::string infoDir = trash.Dir + "/info";
    if (int e = EnsureDir(filesDir, false))
        return Failure(e);
    if (int e = EnsureDir(infoDir, false))
        return Failure(e);

    const std::string content = "[Trash Info]\nPath=" + TrashInfoPathEncode(trash.InfoPath) +
                                "\nDeletionDate=" + DeletionDate() + "\n";
    for (int n = 1; n < 100000; ++n) {
        const std::string candidate = Candidate(name, n);
        const std::string infoFile = infoDir + "/" + candidate + std::string(InfoSuffix);
        const std::string target = filesDir + "/" + candidate;
        TFd fd(
            ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.Get() < 0) {
            if (errno == EEXIST)
                continue;
            return Failure(errno);
        }
        bool written = WriteAllBytes(fd.Get(), content);
        int writeErr = errno;
        if (::close(fd.Release()) != 0 && written) {
            written = false;
            writeErr = errno;
        }
        if (!written) {
            ::unlink(infoFile.c_str());
            return Failure(writeErr);
        }
        // RENAME_NOREPLACE: an item left in files/ without its .trashinfo must never be
        // overwritten by the new one.
        int rc = ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && errno == EINVAL) {
            struct stat st {};
            if (::lstat(target.c_str(), &st) == 0)
                errno = EEXIST;
            else
                rc = ::rename(source.c_str(), target.c_str());
        }
        if (rc != 0) {
            int e = errno;
            ::unlink(infoFile.c_str());
            if (e == EEXIST)
                continue;
            return Failure(e);
        }
        if (S_ISDIR(item.st_mode))
            UpdateDirectorySizes(trash.Dir, candidate, infoFile);
        TTrashResult r;
        r.Moved = true;
        r.TrashedAs = target;
        return r;
    }
    return Failure(EEXIST);
}

} // namespace qv
