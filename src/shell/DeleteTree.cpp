#include "shell/DeleteTree.h"

#include "platform/DirReader.h"
#include "platform/SysError.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

// Directories kept open at once. Deeper levels close the descriptors of their far
// ancestors and reopen them through ".." on the way back, so that any depth fits in the
// descriptor limit of a process that runs other walks too.
constexpr std::size_t MaxOpenLevels = 48;

bool SameFile(const struct stat& A, const struct stat& B) {
    return A.st_dev == B.st_dev && A.st_ino == B.st_ino;
}

int UnlinkAt(int DirFd, const char* Name, int Flags) {
    int result;
    do
        result = ::unlinkat(DirFd, Name, Flags);
    while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

} // namespace

// The walk that empties and removes one directory: a stack of levels instead of recursion.
class TTreeDeleter::TWalk {
public:
    explicit TWalk(TTreeDeleter& Owner) : Owner(Owner) {}

    // Deletes the directory Name inside ParentFd, whose lstat gave Item; Path is its path.
    bool Run(int ParentFd, const char* Name, const struct stat& Item, const std::string& Path);

private:
    struct TLevel {
        TFd Fd;
        dev_t Dev = 0;
        ino_t Ino = 0;
        // The names read from the directory, each ending with a NUL: copied out of the
        // shared read buffer so that a deep chain keeps only the bytes of its names.
        std::string Names;
        std::size_t Pos = 0;
        std::size_t PathLen = 0; // length of Path up to this directory
        std::size_t NameLen = 0; // length of this directory's name at the end of that
    };

    void Push(TFd Fd, const struct stat& St);
    // Leaves the top level and removes its directory; false when the walk cannot go on.
    bool Pop(int RootParentFd);
    void Entry(TLevel& Level, const char* Name);
    void AppendPath(const char* Name);
    std::string PathOf(const char* Name) const;

    TTreeDeleter& Owner;
    std::vector<std::unique_ptr<TLevel>> Levels; // [0, Depth) are in use
    std::size_t Depth = 0;
    std::string Path;
    TEntryBuffer Buffer;
    dev_t RootDev = 0;
    bool RootRemoved = false;
};

void TTreeDeleter::TWalk::AppendPath(const char* Name) {
    if (Path.empty() || Path.back() != '/')
        Path += '/';
    Path += Name;
}

std::string TTreeDeleter::TWalk::PathOf(const char* Name) const {
    std::string result = Path;
    if (result.empty() || result.back() != '/')
        result += '/';
    result += Name;
    return result;
}

void TTreeDeleter::TWalk::Push(TFd Fd, const struct stat& St) {
    if (Depth == Levels.size())
        Levels.push_back(std::make_unique<TLevel>());
    TLevel& level = *Levels[Depth];
    const int error = ReadDirectoryEntries(Fd.Get(), Buffer);
    if (error != 0)
        Owner.AddFailure(Path, error); // what was read is still deleted
    level.Names.clear();
    TDirEntryCursor cursor(Buffer);
    TDirEntryRef entry;
    while (cursor.Next(entry)) {
        level.Names += entry.Name;
        level.Names += '\0';
    }
    level.Fd = std::move(Fd);
    level.Dev = St.st_dev;
    level.Ino = St.st_ino;
    level.Pos = 0;
    ++Depth;
    if (Depth > MaxOpenLevels)
        Levels[Depth - 1 - MaxOpenLevels]->Fd.Reset();
}

bool TTreeDeleter::TWalk::Pop(int RootParentFd) {
    TLevel& level = *Levels[Depth - 1];
    --Depth;
    int parentFd = RootParentFd;
    if (Depth > 0) {
        TLevel& parent = *Levels[Depth - 1];
        if (!parent.Fd.Valid()) {
            // Closed for depth: reopen it and make sure it is still the same directory, or
            // a rename meanwhile could make this walk delete somewhere else.
            TFd up(OpenDirectoryAt(level.Fd.Get(), ".."));
            struct stat st;
            int error = 0;
            if (!up.Valid())
                error = errno;
            else if (::fstat(up.Get(), &st) != 0)
                error = errno;
            else if (st.st_dev != parent.Dev || st.st_ino != parent.Ino)
                error = ESTALE;
            if (error != 0) {
                Owner.AddFailure(Path.substr(0, parent.PathLen), error);
                return false;
            }
            parent.Fd = std::move(up);
        }
        parentFd = parent.Fd.Get();
    }
    level.Fd.Reset();
    const std::string name = Path.substr(level.PathLen - level.NameLen, level.NameLen);
    const int error = UnlinkAt(parentFd, name.c_str(), AT_REMOVEDIR);
    if (error == 0)
        Owner.Count(0, Path);
    else
        Owner.AddFailure(Path, error);
    if (Depth == 0)
        RootRemoved = error == 0;
    else
        Path.resize(Levels[Depth - 1]->PathLen);
    return true;
}

void TTreeDeleter::TWalk::Entry(TLevel& Level, const char* Name) {
    struct stat st;
    if (::fstatat(Level.Fd.Get(), Name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) // gone since it was listed: nothing to do
            Owner.AddFailure(PathOf(Name), errno);
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        // Symbolic links included: unlinkat removes the link, never its target.
        const int error = UnlinkAt(Level.Fd.Get(), Name, 0);
        if (error == 0)
            Owner.Count(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? st.st_size : 0, PathOf(Name));
        else if (error != ENOENT)
            Owner.AddFailure(PathOf(Name), error);
        return;
    }
    if (st.st_dev != RootDev) {
        // Another file system mounted here: its content is not part of this tree.
        Owner.AddFailure(PathOf(Name), EXDEV);
        return;
    }
    TFd fd(OpenDirectoryAt(Level.Fd.Get(), Name));
    if (!fd.Valid()) {
        const int error = errno;
        if (error == ENOENT)
            return;
        // An unreadable directory can still be removed when it is empty.
        if (UnlinkAt(Level.Fd.Get(), Name, AT_REMOVEDIR) == 0)
            Owner.Count(0, PathOf(Name));
        else
            Owner.AddFailure(PathOf(Name), error);
        return;
    }
    struct stat opened;
    if (::fstat(fd.Get(), &opened) != 0 || !SameFile(opened, st)) {
        // Replaced between the lstat and the open.
        Owner.AddFailure(PathOf(Name), ESTALE);
        return;
    }
    AppendPath(Name);
    const std::size_t nameLen = std::strlen(Name);
    Push(std::move(fd), opened);
    Levels[Depth - 1]->PathLen = Path.size();
    Levels[Depth - 1]->NameLen = nameLen;
}

bool TTreeDeleter::TWalk::Run(int ParentFd, const char* Name, const struct stat& Item,
                              const std::string& ItemPath) {
    TFd fd(OpenDirectoryAt(ParentFd, Name));
    if (!fd.Valid()) {
        const int error = errno;
        if (UnlinkAt(ParentFd, Name, AT_REMOVEDIR) == 0) {
            Owner.Count(0, ItemPath);
            return true;
        }
        Owner.AddFailure(ItemPath, error);
        return false;
    }
    struct stat opened;
    if (::fstat(fd.Get(), &opened) != 0 || !SameFile(opened, Item)) {
        Owner.AddFailure(ItemPath, ESTALE);
        return false;
    }
    RootDev = opened.st_dev;
    Path = ItemPath;
    Push(std::move(fd), opened);
    Levels[0]->PathLen = Path.size();
    Levels[0]->NameLen = std::strlen(Name);
    while (Depth > 0) {
        if (Owner.IsCancelled())
            return false;
        TLevel& level = *Levels[Depth - 1];
        if (level.Pos >= level.Names.size()) {
            if (!Pop(ParentFd))
                return false;
            continue;
        }
        const char* name = level.Names.c_str() + level.Pos;
        level.Pos += std::strlen(name) + 1;
        Entry(level, name);
    }
    return RootRemoved;
}

// --- TTreeDeleter --------------------------------------------------------------------------

void TTreeDeleter::AddFailure(const std::string& Path, int Error) {
    FailureList.push_back({Path, Error, SysErrorMessage(Error)});
}

void TTreeDeleter::Count(std::int64_t Bytes, const std::string& Path) {
    ++Done.Items;
    Done.Bytes += Bytes;
    if (!OnProgress)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - LastReport < ProgressInterval)
        return;
    LastReport = now;
    Done.CurrentPath = Path;
    OnProgress(Done);
}

bool TTreeDeleter::Delete(const std::string& ItemPath, bool ExpectDirectory) {
    if (IsCancelled())
        return false;
    std::string path = ItemPath;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || path == "/") {
        // Relative paths would depend on the working directory; "/" has no parent.
        AddFailure(ItemPath, path == "/" ? EBUSY : EINVAL);
        return false;
    }
    const std::string name = path.substr(slash + 1);
    if (name == "." || name == "..") {
        AddFailure(ItemPath, EINVAL);
        return false;
    }
    // The parent is the folder the user chose: a symbolic link on the way there is
    // followed, the item itself never.
    int error = 0;
    const TFd parent =
        OpenDirectory(slash == 0 ? std::string("/") : path.substr(0, slash), true, error);
    if (!parent.Valid()) {
        AddFailure(path, error);
        return false;
    }
    struct stat st;
    if (::fstatat(parent.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        AddFailure(path, errno);
        return false;
    }
    const bool isDirectory = S_ISDIR(st.st_mode);
    if (isDirectory != ExpectDirectory) {
        // Changed since the caller looked: above all, a directory replaced by a link to
        // another one must not lead the walk there.
        AddFailure(path, ExpectDirectory ? ENOTDIR : EISDIR);
        return false;
    }
    if (!isDirectory) {
        error = UnlinkAt(parent.Get(), name.c_str(), 0);
        if (error != 0) {
            AddFailure(path, error);
            return false;
        }
        Count(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? st.st_size : 0, path);
        return true;
    }
    struct stat parentSt;
    if (::fstat(parent.Get(), &parentSt) == 0 && parentSt.st_dev != st.st_dev) {
        // The item is itself a mount point: deleting it would empty a whole file system.
        AddFailure(path, EXDEV);
        return false;
    }
    TWalk walk(*this);
    return walk.Run(parent.Get(), name.c_str(), st, path);
}

} // namespace qv
