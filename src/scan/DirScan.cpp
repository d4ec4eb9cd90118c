#include "scan/DirScan.h"

#include "platform/DirReader.h"
#include "platform/Mounts.h"
#include "support/QvUtils.h"
#include "tree/TreeTypes.h"

#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qv {

namespace {

// Directories kept open at once by one scanner. Deeper levels close the descriptors of
// their far ancestors and reopen them through ".." on the way back, so that any depth fits
// in the process's descriptor limit even with nine scanners at work.
constexpr std::size_t MaxOpenLevels = 48;

bool StatFd(int Fd, struct statx& Sx) {
    return ::statx(Fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_INO, &Sx) == 0;
}

dev_t DevOf(const struct statx& Sx) {
    return makedev(Sx.stx_dev_major, Sx.stx_dev_minor);
}

std::uint16_t AttributesOfStatx(const struct statx& Sx, std::string_view Name) {
    return AttributesOf(Sx.stx_mode, Sx.stx_attributes & Sx.stx_attributes_mask, Name);
}

bool OnPseudoFileSystem(int Fd) {
    struct statfs fs;
    return ::fstatfs(Fd, &fs) == 0 && IsPseudoFileSystemMagic(long(fs.f_type));
}

} // namespace

// One walk: the stack of open directory levels. The levels are kept between siblings so
// that their entry buffers are reused: after the first few directories a scan allocates
// only the nodes of new directories.
class TDirScanner::TWalk {
public:
    TWalk(TDirScanner& Scanner) : Scanner(Scanner) {}

    void Run(const std::string& Path);
    // Closes every open level as if its listing had been cut short.
    void Abandon() noexcept;

private:
    struct TLevel {
        TDirNode* Node = nullptr;
        TFd Fd;
        dev_t Dev = 0;
        ino_t Ino = 0;
        TEntryBuffer Entries;
        std::size_t Pos = 0;
        std::size_t PathLen = 0;
        // The first small file waits here: a group is made only for a second one.
        std::int64_t PendingSmallSize = 0;
        std::int64_t PendingSmallSizeOnDisk = 0;
        bool HasPendingSmall = false;
        bool SeenEntry = false;
        bool Cut = false;
    };

    void LoadMountPoints(const std::string& Root);
    bool Enter(TDirNode& Node, TFd Fd, const struct statx& Sx);
    void HandleDirectory(TLevel& Level, const char* Name);
    void HandleFile(TLevel& Level, const TDirEntryRef& Entry);
    void Finish(bool Incomplete) noexcept;
    void AppendPath(std::string_view Name);

    TDirScanner& Scanner;
    std::vector<std::unique_ptr<TLevel>> Levels; // [0, Depth] are open
    std::size_t Depth = 0;                       // number of open levels
    std::string Path;
    // Mount points below the scanned path: whether a walk may enter each one.
    std::unordered_map<std::string, bool> MountPoints;
};

void TDirScanner::TWalk::LoadMountPoints(const std::string& Root) {
    const std::vector<TMountEntry> table = ReadMountTable();
    const std::string prefix = Root == "/" ? Root : Root + "/";
    for (const TMountEntry& m : table) {
        if (!m.MountPoint.starts_with(prefix) || m.MountPoint.size() == prefix.size())
            continue;
        const bool enter = Scanner.CrossFileSystems && !IsPseudoFileSystem(m.FsType) &&
                           DriveTypeOf(m, IsRemovableBlockDevice) != dtUnknown;
        MountPoints[WithoutTrailingDelimiter(m.MountPoint)] = enter;
    }
}

void TDirScanner::TWalk::AppendPath(std::string_view Name) {
    if (Path.empty() || Path.back() != '/')
        Path += '/';
    Path.append(Name);
}

bool TDirScanner::TWalk::Enter(TDirNode& Node, TFd Fd, const struct statx& Sx) {
    Node.SetScanning(true);
    if (Depth == Levels.size())
        Levels.push_back(std::make_unique<TLevel>());
    TLevel& level = *Levels[Depth];
    const int error = ReadDirectoryEntries(Fd.Get(), level.Entries);
    Node.SetScanError(error);
    if (error != 0 && level.Entries.Empty()) {
        Node.SetScanning(false);
        return false;
    }
    level.Node = &Node;
    level.Fd = std::move(Fd);
    level.Dev = DevOf(Sx);
    level.Ino = Sx.stx_ino;
    level.Pos = 0;
    level.PathLen = Path.size();
    level.HasPendingSmall = false;
    level.SeenEntry = false;
    level.Cut = false;
    ++Depth;
    Scanner.CurrentDepth = int(Depth) - 1;
    if (Depth > MaxOpenLevels)
        Levels[Depth - 1 - MaxOpenLevels]->Fd.Reset();
    return true;
}

void TDirScanner::TWalk::Finish(bool Incomplete) noexcept {
    TLevel& level = *Levels[Depth - 1];
    TDirNode& node = *level.Node;
    if (level.HasPendingSmall) {
        try {
            node.SettleSingleSmallFile(level.PendingSmallSize, level.PendingSmallSizeOnDisk);
        } catch (...) {
            // Out of memory for the group: the file is still in the directory's totals.
        }
        level.HasPendingSmall = false;
    }
    node.SetIncomplete(Incomplete || level.Cut);
    node.SetScanning(false);
    --Depth;
    Scanner.CurrentDepth = int(Depth) - 1;
    if (Depth > 0) {
        TLevel& parent = *Levels[Depth - 1];
        // The stored totals: an Incomplete node's live ones would skip children whose list
        // the GUI holds locked at this moment.
        parent.Node->AddSize(node.StoredSize());
        parent.Node->AddFileCount(node.StoredFileCount());
        if (!parent.Fd.Valid() && level.Fd.Valid()) {
            // Reopen the parent closed for depth, and make sure it is still the same one.
            TFd up(OpenDirectoryAt(level.Fd.Get(), ".."));
            struct statx sx;
            if (up.Valid() && StatFd(up.Get(), sx) && DevOf(sx) == parent.Dev &&
                sx.stx_ino == parent.Ino)
                parent.Fd = std::move(up);
        }
        if (!parent.Fd.Valid()) {
            parent.Cut = true;
            parent.Pos = parent.Entries.Size();
        }
        Path.resize(parent.PathLen);
    }
    level.Fd.Reset();
    level.Node = nullptr;
}

void TDirScanner::TWalk::Abandon() noexcept {
    while (Depth > 0)
        Finish(true);
}

void TDirScanner::TWalk::HandleDirectory(TLevel& Level, const char* Name) {
    AppendPath(Name);
    Scanner.SetCurrentPath(Path);
    TDirNode& parent = *Level.Node;

    if (!MountPoints.empty()) {
        const auto mount = MountPoints.find(Path);
        if (mount != MountPoints.end() && !mount->second) {
            // Another file system: listed, not entered, and not even opened, so that an
            // automount point stays unmounted.
            struct statx sx;
            std::uint16_t attrs = faDirectory;
            if (::statx(Level.Fd.Get(), Name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                        STATX_TYPE | STATX_MODE, &sx) == 0)
                attrs = AttributesOfStatx(sx, Name);
            TDirNode* child = parent.AddDirectory(Name, attrs);
            child->SetFlag(nfOtherFileSystem, true);
            Path.resize(Level.PathLen);
            return;
        }
    }

    TFd fd(OpenDirectoryAt(Level.Fd.Get(), Name));
    if (!fd.Valid()) {
        const int error = errno;
        struct statx sx;
        std::uint16_t attrs = faDirectory;
        if (::statx(Level.Fd.Get(), Name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                    STATX_TYPE | STATX_MODE, &sx) == 0)
            attrs = AttributesOfStatx(sx, Name);
        TDirNode* child = parent.AddDirectory(Name, attrs);
        child->SetScanError(error);
        Path.resize(Level.PathLen);
        return;
    }
    struct statx sx;
    if (!StatFd(fd.Get(), sx)) {
        TDirNode* child = parent.AddDirectory(Name, faDirectory);
        child->SetScanError(errno);
        Path.resize(Level.PathLen);
        return;
    }
    TDirNode* child = parent.AddDirectory(Name, AttributesOfStatx(sx, Name));
    if (DevOf(sx) != Level.Dev && (!Scanner.CrossFileSystems || OnPseudoFileSystem(fd.Get()))) {
        // A mount that appeared after the scan started, or a file system inside a file
        // system (a btrfs subvolume): as a mount point.
        child->SetFlag(nfOtherFileSystem, true);
        Path.resize(Level.PathLen);
        return;
    }
    if (!Enter(*child, std::move(fd), sx))
        Path.resize(Level.PathLen);
}

void TDirScanner::TWalk::HandleFile(TLevel& Level, const TDirEntryRef& Entry) {
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
    const unsigned char type = Entry.Type;
    if (type == DT_REG || type == DT_LNK || type == DT_UNKNOWN) {
        struct stat st;
        if (::fstatat(Level.Fd.Get(), Entry.Name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return; // gone since it was listed
        if (S_ISDIR(st.st_mode)) {
            HandleDirectory(Level, Entry.Name);
            return;
        }
        if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            size = st.st_size;
            onDisk = std::int64_t(st.st_blocks) * 512;
        }
        // A file with several names counts at the first one met, wherever that was.
        if (S_ISREG(st.st_mode) && st.st_nlink > 1 && Scanner.HardLinks &&
            !Scanner.HardLinks->CountFirst(st.st_dev, st.st_ino, Level.Node, Entry.Name))
            return;
    }
    // FIFOs, sockets and devices count as files of length 0 and are never opened.
    TDirNode& node = *Level.Node;
    node.AddFileCount(1);
    node.AddFilesCount(1);
    node.AddSize(size);
    node.AddFilesSize(size);
    node.AddSizeOnDisk(onDisk);
    if (size < Scanner.GroupFileSize) {
        TFileGroupNode* group = node.FileGroup();
        if (!group) {
            if (!Level.HasPendingSmall) {
                Level.HasPendingSmall = true;
                Level.PendingSmallSize = size;
                Level.PendingSmallSizeOnDisk = onDisk;
                return;
            }
            group = node.GetFileGroup();
            group->AddFileCount(1);
            group->AddSize(Level.PendingSmallSize);
            group->AddSizeOnDisk(Level.PendingSmallSizeOnDisk);
            Level.HasPendingSmall = false;
        }
        group->AddFileCount(1);
        group->AddSize(size);
        group->AddSizeOnDisk(onDisk);
    }
}

void TDirScanner::TWalk::Run(const std::string& RootPath) {
    TDirNode& root = Scanner.Root;
    if (Scanner.Stopped.load(std::memory_order_relaxed)) {
        // Stopped before it began: an empty root must not pass for an empty folder.
        root.SetIncomplete(true);
        root.SetScanning(false);
        return;
    }
    Path = RootPath;
    int error = 0;
    TFd fd = OpenDirectory(RootPath, true, error);
    struct statx sx;
    if (fd.Valid() && !StatFd(fd.Get(), sx)) {
        error = errno;
        fd.Reset();
    }
    if (!fd.Valid()) {
        root.SetScanning(true);
        root.SetScanError(error);
        root.SetScanning(false);
        return;
    }
    root.SetAttributes(AttributesOfStatx(sx, root.Name()));
    if (OnPseudoFileSystem(fd.Get())) {
        root.SetFlag(nfOtherFileSystem, true);
        return;
    }
    LoadMountPoints(RootPath);
    if (!Enter(root, std::move(fd), sx))
        return;

    while (Depth > 0) {
        if (Scanner.Stopped.load(std::memory_order_relaxed)) {
            Abandon();
            return;
        }
        TLevel& level = *Levels[Depth - 1];
        TDirEntryCursor cursor(level.Entries, level.Pos);
        TDirEntryRef entry;
        if (!cursor.Next(entry)) {
            Finish(false);
            continue;
        }
        level.Pos = cursor.Position();
        if (!level.SeenEntry) {
            level.SeenEntry = true;
            level.Node->SetEmpty(false);
        }
        if (entry.Type == DT_DIR)
            HandleDirectory(level, entry.Name);
        else
            HandleFile(level, entry);
    }
}

// --- TDirScanner -------------------------------------------------------------------------

TDirScanner::TDirScanner(TDirNode& RootNode) : Root(RootNode) {}

TDirScanner::~TDirScanner() = default;

std::string TDirScanner::GetCurrentPath() const {
    std::lock_guard guard(PathLock);
    return CurrentPath;
}

void TDirScanner::SetCurrentPath(const std::string& Path) {
    std::lock_guard guard(PathLock);
    CurrentPath.assign(Path);
}

void TDirScanner::Scan(const std::string& Path, std::int64_t Threshold) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    IsBusy.store(true, std::memory_order_release);
    Elapsed.store(0.0, std::memory_order_relaxed);
    GroupFileSize = Threshold;
    // A stop that arrived before this point is kept: it ends this scan (see Stop).
    TWalk walk(*this);
    auto finish = [&] {
        Stopped.store(false, std::memory_order_relaxed);
        Elapsed.store(std::chrono::duration<double>(Clock::now() - start).count(),
                      std::memory_order_relaxed);
        IsBusy.store(false, std::memory_order_release);
    };
    try {
        const std::string path = WithoutTrailingDelimiter(Path);
        // The caller hands in a prepared root, and the GUI may already be listing its
        // files: only the result of this scanner's own earlier scan is cleared here.
        if (std::exchange(HasScanned, true))
            Root.ClearForRescan();
        Root.SetPath(path);
        walk.Run(path);
    } catch (...) {
        walk.Abandon();
        finish();
        throw;
    }
    finish();
}

} // namespace qv
