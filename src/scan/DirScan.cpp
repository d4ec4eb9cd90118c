#include "scan/DirScan.h"

#include "platform/DirReader.h"
#include "platform/Mounts.h"
#include "scan/ScanStatistics.h"
#include "support/QvUtils.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qv {

namespace {

// Directories kept open at once by one walk, at most. Deeper levels close the descriptors of
// their far ancestors and reopen them through ".." on the way back, so that any depth fits
// in the process's descriptor limit (see OpenLevelsPerWalk).
constexpr std::size_t MaxOpenLevels = 48;
// Scanners that may run at once in a window ("Local Drives" runs one per drive).
constexpr std::size_t MaxScanners = 9;
// The type a walk gives an entry it handed to another thread.
constexpr unsigned char DtHandedOff = 0xFF;

// Walk threads running in the process, over all scanners: helpers are started only while
// this stays below the machine's processors.
std::atomic<int> RunningWalkers{0};

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

// Open levels one walk may keep, so that every walk of every scanner stays within the soft
// descriptor limit with room left for the rest of the program. Never below 2: a walk needs
// its directory and, briefly, a child or a parent to reopen.
std::size_t OpenLevelsPerWalk(int Walkers) {
    struct rlimit rl {};
    std::uint64_t limit = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
        limit = rl.rlim_cur;
    const std::uint64_t spare = limit > 256 ? limit - 128 : limit / 2;
    // Each walk also holds one descriptor per subtree it queued for an idle thread.
    const std::uint64_t perWalk = spare / (MaxScanners * std::uint64_t(Walkers)) / 2;
    return std::clamp<std::size_t>(std::size_t(perWalk), 2, MaxOpenLevels);
}

// Claims a place for one more walk thread if the machine has a processor for it.
bool ClaimWalker(int Limit) noexcept {
    int running = RunningWalkers.load(std::memory_order_relaxed);
    while (running < Limit)
        if (RunningWalkers.compare_exchange_weak(running, running + 1, std::memory_order_relaxed))
            return true;
    return false;
}

} // namespace

// A directory whose subtree is walked by more than one thread: its own walk and every
// subdirectory handed to another thread are parts, and the sums of the handed parts gather
// here. The thread that ends the last part completes the directory: adds the sums to the
// node, clears Scanning, and reports the directory's totals to its parent's join. So every
// node has one writer at a time, and the parent's totals are final only when all of its
// subtree is.
struct TDirScanner::TJoin {
    explicit TJoin(TDirNode& Node) noexcept : Node(Node) {}
    TDirNode& Node;
    TJoin* Parent = nullptr; // the join the finished directory reports to; null at the root
    std::atomic<int> Pending{1};
    std::atomic<std::int64_t> Size{0};
    std::atomic<std::int32_t> Files{0};
    // A part was cut short by a stop: the directory, like every open one, is incomplete.
    std::atomic<bool> Stopped{false};
    bool Incomplete = false; // the own walk's verdict, written before its part ends
};

// A subdirectory waiting for a thread: already opened, so that it is the directory that
// was listed, and with its node already in the tree.
struct TDirScanner::TTask {
    TDirNode* Node = nullptr;
    TFd Fd;
    dev_t Dev = 0;
    ino_t Ino = 0;
    std::string Path;
    TJoin* Parent = nullptr;
};

// The threads of one Scan and the subtrees they pass each other. A walk hands a subtree to
// the queue only while a thread waits for one, and then the shallowest one it has not
// begun: large pieces, few hand-offs.
class TDirScanner::TPool {
public:
    // Threads walk from the start; with Automatic, more join, up to MaxThreads, while the
    // walk waits for the disk rather than for the processor (see Pace). Four per processor:
    // on a cold cache each one mostly waits for a block, and the more requests are in
    // flight, the fewer moments all processors sit idle (measured: 8 threads on 2 processors
    // beat 4).
    TPool(TDirScanner& Scanner, int Threads, bool Automatic)
        : Scanner(Scanner), Threads(Threads), Automatic(Automatic),
          MaxThreads(Automatic ? std::max(4, 4 * Threads) : Threads) {}
    ~TPool() { JoinHelpers(); }

    TDirScanner& Scanner;
    const int Threads;
    const bool Automatic;
    const int MaxThreads;
    std::size_t OpenLevels = MaxOpenLevels;
    // Mount points below the scanned path: whether a walk may enter each one. Read-only
    // once the walk has begun.
    std::unordered_map<std::string, bool> MountPoints;

    // How many more subtrees the waiting threads would take now; read without the lock.
    [[nodiscard]] bool Hungry() const noexcept {
        return Wanted.load(std::memory_order_relaxed) > 0;
    }
    void Push(TTask&& Task);
    // Runs queued subtrees until the scan is done.
    void Work(TWalk& Walk);
    // The root has been completed (or could not be walked): the waiting threads leave.
    void SetDone();
    void StartHelpers();
    // Called by the scan thread's walk every so often: on cold caches a walk spends most of
    // its time waiting for directory and inode blocks, and a thread per processor leaves
    // the disk idle between requests; more threads keep more requests in flight. A walk
    // that keeps waiting (voluntary context switches) gets one more thread, at most every
    // tenth of a second. Warm walks never wait, and so keep one thread per processor.
    void Pace();
    void JoinHelpers() noexcept;
    void KeepError(std::exception_ptr Error) noexcept;
    // A join that lives as long as the pool: a join is still read by the thread that ended
    // its last part after it was completed.
    TJoin& NewJoin(TDirNode& Node);
    [[nodiscard]] std::exception_ptr TakeError() noexcept { return std::move(Error); }

private:
    void UpdateWanted() noexcept {
        Wanted.store(Idle - int(Queue.size()), std::memory_order_relaxed);
    }

    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<TTask> Queue;
    int Idle = 0;
    bool Done = false;
    std::atomic<int> Wanted{0};
    std::exception_ptr Error;
    bool StartHelper(int Limit);

    std::vector<std::thread> Helpers;          // scan thread only
    std::vector<std::unique_ptr<TJoin>> Joins; // under Lock
    std::chrono::steady_clock::time_point LastPace{};
    long LastWaits = 0;
};

// One thread's walk: the stack of open directory levels of the subtree it works on. The
// levels are kept between siblings and between subtrees so that their entry buffers are
// reused: after the first few directories a walk allocates only the nodes of new
// directories.
class TDirScanner::TWalk {
public:
    TWalk(TDirScanner& Scanner, TPool& Pool, bool Main)
        : Scanner(Scanner), Pool(Pool), Main(Main),
          Statistics(Scanner.Statistics ? Scanner.Statistics->NewPart() : nullptr) {}

    // Walks the subtree of Task; its totals go to Task.Parent when it is done.
    void Run(TTask& Task);
    // Closes every open level as if its listing had been cut short.
    void Abandon() noexcept;

    // Reports the totals of a finished directory to Join, the last part of which may
    // complete it and so on upwards. Any thread; Join null: the root is done.
    static void Report(TPool& Pool, TJoin* Join, std::int64_t Size, std::int32_t Files,
                       bool Stopped) noexcept;
    // A queued subtree that will not be walked (the scan was stopped).
    static void Drop(TPool& Pool, TTask& Task) noexcept;

private:
    struct TLevel {
        TDirNode* Node = nullptr;
        TFd Fd;
        dev_t Dev = 0;
        ino_t Ino = 0;
        TEntryBuffer Entries;
        std::size_t Pos = 0;
        // Entries before this position hold no subdirectory that could still be handed off.
        std::size_t SearchPos = 0;
        std::size_t PathLen = 0;
        TJoin* Join = nullptr; // set once a part of this directory went to another thread
        // The first small file waits here: a group is made only for a second one.
        std::int64_t PendingSmallSize = 0;
        std::int64_t PendingSmallSizeOnDisk = 0;
        bool HasPendingSmall = false;
        bool SeenEntry = false;
        bool Cut = false;
    };
    // A subdirectory opened and checked, ready to be entered here or handed off.
    struct TChild {
        TDirNode* Node = nullptr;
        TFd Fd;
        struct statx Sx;
    };

    bool Enter(TDirNode& Node, TFd Fd, dev_t Dev, ino_t Ino);
    void Loop();
    void Finish(bool Incomplete) noexcept;
    // Adds the subdirectory Name of Level to the tree; true when it is to be walked (Child
    // then holds it open), false when it was only listed (another file system, an error).
    bool PrepareChild(TLevel& Level, const char* Name, const std::string& ChildPath, TChild& Child);
    void HandleDirectory(TLevel& Level, const char* Name);
    void HandleFile(TLevel& Level, const TDirEntryRef& Entry);
    // Adds a counted file of the deepest level to this thread's statistics.
    void Record(const char* Name, std::int64_t Size, std::int64_t SizeOnDisk,
                std::int64_t ModifiedTime);
    // Gives the shallowest subdirectory not yet begun to a waiting thread.
    void HandOff();
    void AppendPath(std::string_view Name);

    TDirScanner& Scanner;
    TPool& Pool;
    const bool Main; // the scan thread's own walk, which keeps Depth up to date
    std::vector<std::unique_ptr<TLevel>> Levels; // [0, Depth] are open
    std::size_t Depth = 0;                       // number of open levels
    // Levels below this index have no subdirectory left to hand off.
    std::size_t SearchLevel = 0;
    TJoin* TaskParent = nullptr;
    std::string Path;
    std::uint32_t Steps = 0;
    // This thread's share of the largest files and the sums per type; null: not kept.
    std::shared_ptr<TScanStatisticsPart> Statistics;
};

// --- TPool ------------------------------------------------------------------------------

void TDirScanner::TPool::Push(TTask&& Task) {
    {
        std::lock_guard guard(Lock);
        Queue.push_back(std::move(Task));
        UpdateWanted();
    }
    Wake.notify_one();
}

void TDirScanner::TPool::SetDone() {
    {
        std::lock_guard guard(Lock);
        Done = true;
    }
    Wake.notify_all();
}

void TDirScanner::TPool::KeepError(std::exception_ptr Failure) noexcept {
    std::lock_guard guard(Lock);
    if (!Error)
        Error = std::move(Failure);
}

TDirScanner::TJoin& TDirScanner::TPool::NewJoin(TDirNode& Node) {
    auto join = std::make_unique<TJoin>(Node);
    std::lock_guard guard(Lock);
    Joins.push_back(std::move(join));
    return *Joins.back();
}

void TDirScanner::TPool::Work(TWalk& Walk) {
    for (;;) {
        TTask task;
        {
            std::unique_lock lock(Lock);
            ++Idle;
            UpdateWanted();
            while (Queue.empty() && !Done)
                Wake.wait(lock);
            --Idle;
            if (Queue.empty()) {
                UpdateWanted();
                return;
            }
            task = std::move(Queue.front());
            Queue.pop_front();
            UpdateWanted();
        }
        if (Scanner.Stopped.load(std::memory_order_relaxed)) {
            TWalk::Drop(*this, task);
            continue;
        }
        try {
            Walk.Run(task);
        } catch (...) {
            // Out of memory: this thread's part ends as if stopped, and so does the scan.
            Walk.Abandon();
            KeepError(std::current_exception());
            Scanner.Stop();
        }
    }
}

bool TDirScanner::TPool::StartHelper(int Limit) {
    if (!ClaimWalker(Limit))
        return false;
    try {
        Helpers.emplace_back([this] {
            ::pthread_setname_np(::pthread_self(), "QvScanHelper");
            TWalk walk(Scanner, *this, false);
            Work(walk);
            RunningWalkers.fetch_sub(1, std::memory_order_relaxed);
        });
    } catch (...) {
        RunningWalkers.fetch_sub(1, std::memory_order_relaxed);
        return false; // no thread: the others do its share
    }
    Scanner.UsedThreads.store(int(Helpers.size()) + 1, std::memory_order_relaxed);
    return true;
}

void TDirScanner::TPool::StartHelpers() {
    const int limit = std::max(AutomaticThreadCount(), Threads);
    for (int i = 1; i < Threads; ++i)
        if (!StartHelper(limit))
            break;
}

void TDirScanner::TPool::Pace() {
    using namespace std::chrono;
    if (!Automatic || int(Helpers.size()) + 1 >= MaxThreads)
        return;
    const steady_clock::time_point now = steady_clock::now();
    if (now - LastPace < milliseconds(100))
        return;
    struct rusage usage {};
    if (::getrusage(RUSAGE_THREAD, &usage) != 0)
        return;
    const bool first = LastPace == steady_clock::time_point{};
    const long waits = usage.ru_nvcsw - LastWaits;
    LastPace = now;
    LastWaits = usage.ru_nvcsw;
    constexpr long ManyWaits = 20;
    if (first || waits < ManyWaits)
        return;
    // The threads double: a cold cache shows at the first checks, and the walk should not
    // spend its first second with too few requests in flight.
    const int running = int(Helpers.size()) + 1;
    for (int i = 0; i < running && int(Helpers.size()) + 1 < MaxThreads; ++i)
        if (!StartHelper(MaxThreads))
            break;
}

void TDirScanner::TPool::JoinHelpers() noexcept {
    for (std::thread& helper : Helpers)
        if (helper.joinable())
            helper.join();
    Helpers.clear();
}

// --- TWalk ------------------------------------------------------------------------------

void TDirScanner::TWalk::Report(TPool& Pool, TJoin* Join, std::int64_t Size, std::int32_t Files,
                                bool Stopped) noexcept {
    // A loop, not recursion: a chain of joins is as long as the tree is deep.
    while (Join) {
        Join->Size.fetch_add(Size, std::memory_order_relaxed);
        Join->Files.fetch_add(Files, std::memory_order_relaxed);
        if (Stopped)
            Join->Stopped.store(true, std::memory_order_relaxed);
        // Release: this part's writes to its nodes; acquire: everyone else's, for the
        // thread that completes the directory.
        if (Join->Pending.fetch_sub(1, std::memory_order_acq_rel) != 1)
            return;
        TDirNode& node = Join->Node;
        node.AddSize(Join->Size.load(std::memory_order_relaxed));
        node.AddFileCount(Join->Files.load(std::memory_order_relaxed));
        Stopped = Join->Stopped.load(std::memory_order_relaxed);
        node.SetIncomplete(Join->Incomplete || Stopped);
        node.SetScanning(false);
        Size = node.StoredSize();
        Files = node.StoredFileCount();
        Join = Join->Parent;
    }
    Pool.SetDone();
}

void TDirScanner::TWalk::Drop(TPool& Pool, TTask& Task) noexcept {
    Task.Node->SetIncomplete(true);
    Task.Node->SetScanning(false);
    Task.Fd.Reset();
    Report(Pool, Task.Parent, 0, 0, true);
}

void TDirScanner::TWalk::AppendPath(std::string_view Name) {
    if (Path.empty() || Path.back() != '/')
        Path += '/';
    Path.append(Name);
}

bool TDirScanner::TWalk::Enter(TDirNode& Node, TFd Fd, dev_t Dev, ino_t Ino) {
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
    level.Dev = Dev;
    level.Ino = Ino;
    level.Pos = 0;
    level.SearchPos = 0;
    level.PathLen = Path.size();
    level.Join = nullptr;
    level.HasPendingSmall = false;
    level.SeenEntry = false;
    level.Cut = false;
    SearchLevel = std::min(SearchLevel, Depth);
    ++Depth;
    if (Main)
        Scanner.CurrentDepth = int(Depth) - 1;
    if (Depth > Pool.OpenLevels)
        Levels[Depth - 1 - Pool.OpenLevels]->Fd.Reset();
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
    const bool incomplete = Incomplete || level.Cut;
    --Depth;
    if (Main)
        Scanner.CurrentDepth = int(Depth) - 1;
    SearchLevel = std::min(SearchLevel, Depth);
    TLevel* parent = Depth > 0 ? Levels[Depth - 1].get() : nullptr;
    if (level.Join) {
        // Parts of this directory are still walked elsewhere: its parent cannot be final
        // before they are, so the parent becomes a join too, and this directory reports to
        // it when its last part ends.
        TJoin* join = std::exchange(level.Join, nullptr);
        join->Incomplete = incomplete;
        if (parent) {
            if (!parent->Join)
                parent->Join = &Pool.NewJoin(*parent->Node);
            parent->Join->Pending.fetch_add(1, std::memory_order_relaxed);
            join->Parent = parent->Join;
        } else {
            join->Parent = TaskParent;
        }
        Report(Pool, join, 0, 0, Incomplete);
    } else {
        node.SetIncomplete(incomplete);
        node.SetScanning(false);
        if (parent) {
            // The stored totals: an Incomplete node's live ones would skip children whose
            // list the GUI holds locked at this moment.
            parent->Node->AddSize(node.StoredSize());
            parent->Node->AddFileCount(node.StoredFileCount());
        } else {
            Report(Pool, TaskParent, node.StoredSize(), node.StoredFileCount(), Incomplete);
        }
    }
    if (parent) {
        if (!parent->Fd.Valid() && level.Fd.Valid()) {
            // Reopen the parent closed for depth, and make sure it is still the same one.
            TFd up(OpenDirectoryAt(level.Fd.Get(), ".."));
            struct statx sx;
            if (up.Valid() && StatFd(up.Get(), sx) && DevOf(sx) == parent->Dev &&
                sx.stx_ino == parent->Ino)
                parent->Fd = std::move(up);
        }
        if (!parent->Fd.Valid()) {
            parent->Cut = true;
            parent->Pos = parent->Entries.Size();
        }
        Path.resize(parent->PathLen);
    }
    level.Fd.Reset();
    level.Node = nullptr;
}

void TDirScanner::TWalk::Abandon() noexcept {
    while (Depth > 0)
        Finish(true);
}

bool TDirScanner::TWalk::PrepareChild(TLevel& Level, const char* Name, const std::string& ChildPath,
                                      TChild& Child) {
    TDirNode& parent = *Level.Node;
    if (!Pool.MountPoints.empty()) {
        const auto mount = Pool.MountPoints.find(ChildPath);
        if (mount != Pool.MountPoints.end() && !mount->second) {
            // Another file system: listed, not entered, and not even opened, so that an
            // automount point stays unmounted.
            struct statx sx;
            std::uint16_t attrs = faDirectory;
            if (::statx(Level.Fd.Get(), Name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                        STATX_TYPE | STATX_MODE, &sx) == 0)
                attrs = AttributesOfStatx(sx, Name);
            TDirNode* child = parent.AddDirectory(Name, attrs);
            child->SetFlag(nfOtherFileSystem, true);
            return false;
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
        return false;
    }
    if (!StatFd(fd.Get(), Child.Sx)) {
        TDirNode* child = parent.AddDirectory(Name, faDirectory);
        child->SetScanError(errno);
        return false;
    }
    TDirNode* child = parent.AddDirectory(Name, AttributesOfStatx(Child.Sx, Name));
    if (DevOf(Child.Sx) != Level.Dev &&
        (!Scanner.CrossFileSystems || OnPseudoFileSystem(fd.Get()))) {
        // A mount that appeared after the scan started, or a file system inside a file
        // system (a btrfs subvolume): as a mount point.
        child->SetFlag(nfOtherFileSystem, true);
        return false;
    }
    Child.Node = child;
    Child.Fd = std::move(fd);
    return true;
}

void TDirScanner::TWalk::HandleDirectory(TLevel& Level, const char* Name) {
    AppendPath(Name);
    Scanner.SetCurrentPath(Path);
    TChild child;
    if (!PrepareChild(Level, Name, Path, child) ||
        !Enter(*child.Node, std::move(child.Fd), DevOf(child.Sx), child.Sx.stx_ino))
        Path.resize(Level.PathLen);
}

void TDirScanner::TWalk::HandOff() {
    for (std::size_t i = SearchLevel; i < Depth; ++i) {
        TLevel& level = *Levels[i];
        const bool deepest = i + 1 == Depth;
        if (!level.Fd.Valid())
            continue; // closed for depth: nothing of it can be opened now
        TDirEntryCursor cursor(level.Entries, std::max(level.SearchPos, level.Pos));
        TDirEntryRef entry;
        bool found = false;
        while (cursor.Next(entry))
            if (entry.Type == DT_DIR) {
                found = true;
                break;
            }
        level.SearchPos = cursor.Position();
        if (!found) {
            if (i == SearchLevel && !deepest)
                SearchLevel = i + 1;
            continue;
        }
        level.Entries.SetEntryType(entry.Record, DtHandedOff);
        if (!level.SeenEntry) {
            level.SeenEntry = true;
            level.Node->SetEmpty(false);
        }
        std::string path = Path.substr(0, level.PathLen);
        if (path.empty() || path.back() != '/')
            path += '/';
        path += entry.Name;
        TChild child;
        if (!PrepareChild(level, entry.Name, path, child))
            return;
        child.Node->SetScanning(true);
        if (!level.Join)
            level.Join = &Pool.NewJoin(*level.Node);
        level.Join->Pending.fetch_add(1, std::memory_order_relaxed);
        TTask task;
        task.Node = child.Node;
        task.Fd = std::move(child.Fd);
        task.Dev = DevOf(child.Sx);
        task.Ino = child.Sx.stx_ino;
        task.Path = std::move(path);
        task.Parent = level.Join;
        Scanner.HandOffs.fetch_add(1, std::memory_order_relaxed);
        try {
            Pool.Push(std::move(task));
        } catch (...) {
            Drop(Pool, task);
            throw;
        }
        return;
    }
}

void TDirScanner::TWalk::HandleFile(TLevel& Level, const TDirEntryRef& Entry) {
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
    std::int64_t modified = 0;
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
        modified = st.st_mtim.tv_sec;
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
    if (Statistics)
        Record(Entry.Name, size, onDisk, modified);
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

void TDirScanner::TWalk::Record(const char* Name, std::int64_t Size, std::int64_t SizeOnDisk,
                                std::int64_t ModifiedTime) {
    std::lock_guard guard(Statistics->Lock);
    Statistics->Types.Add(Name, Size, SizeOnDisk);
    if (Statistics->Largest.Wants(Size)) {
        TLargeFile file;
        file.Path.reserve(Path.size() + 1 + std::strlen(Name));
        file.Path = Path;
        if (file.Path.back() != '/')
            file.Path += '/';
        file.Path += Name;
        file.Size = Size;
        file.SizeOnDisk = SizeOnDisk;
        file.ModifiedTime = ModifiedTime;
        Statistics->Largest.Offer(std::move(file));
    }
}

void TDirScanner::TWalk::Run(TTask& Task) {
    TaskParent = Task.Parent;
    Path = std::move(Task.Path);
    SearchLevel = 0;
    TDirNode& node = *Task.Node;
    if (!Enter(node, std::move(Task.Fd), Task.Dev, Task.Ino)) {
        Report(Pool, TaskParent, 0, 0, false);
        return;
    }
    Loop();
}

void TDirScanner::TWalk::Loop() {
    while (Depth > 0) {
        if (Scanner.Stopped.load(std::memory_order_relaxed)) {
            Abandon();
            return;
        }
        if (Pool.Hungry())
            HandOff();
        if (Main && (++Steps & 1023) == 0)
            Pool.Pace();
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
        else if (entry.Type != DtHandedOff)
            HandleFile(level, entry);
    }
}

// --- TDirScanner -------------------------------------------------------------------------

TDirScanner::TDirScanner(TDirNode& RootNode) : Root(RootNode) {}

TDirScanner::~TDirScanner() = default;

int TDirScanner::AutomaticThreadCount() noexcept {
    // The processors this process may run on: a scan started under taskset stays on them.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? int(online) : 1;
}

std::string TDirScanner::GetCurrentPath() const {
    std::lock_guard guard(PathLock);
    return CurrentPath;
}

void TDirScanner::SetCurrentPath(const std::string& Path) {
    std::lock_guard guard(PathLock);
    CurrentPath.assign(Path);
}

void TDirScanner::LoadMountPoints(TPool& Pool, const std::string& Path) const {
    const std::vector<TMountEntry> table = ReadMountTable();
    const std::string prefix = Path == "/" ? Path : Path + "/";
    for (const TMountEntry& m : table) {
        if (!m.MountPoint.starts_with(prefix) || m.MountPoint.size() == prefix.size())
            continue;
        const bool enter = CrossFileSystems && !IsPseudoFileSystem(m.FsType) &&
                           DriveTypeOf(m, IsRemovableBlockDevice) != dtUnknown;
        Pool.MountPoints[WithoutTrailingDelimiter(m.MountPoint)] = enter;
    }
}

void TDirScanner::WalkRoot(TPool& Pool, TWalk& Walk, const std::string& Path) {
    if (Stopped.load(std::memory_order_relaxed)) {
        // Stopped before it began: an empty root must not pass for an empty folder.
        Root.SetIncomplete(true);
        Root.SetScanning(false);
        Pool.SetDone();
        return;
    }
    int error = 0;
    TFd fd = OpenDirectory(Path, true, error);
    struct statx sx;
    if (fd.Valid() && !StatFd(fd.Get(), sx)) {
        error = errno;
        fd.Reset();
    }
    if (!fd.Valid()) {
        Root.SetScanning(true);
        Root.SetScanError(error);
        Root.SetScanning(false);
        Pool.SetDone();
        return;
    }
    Root.SetAttributes(AttributesOfStatx(sx, Root.Name()));
    if (OnPseudoFileSystem(fd.Get())) {
        Root.SetFlag(nfOtherFileSystem, true);
        Pool.SetDone();
        return;
    }
    LoadMountPoints(Pool, Path);
    Pool.OpenLevels = OpenLevelsPerWalk(Pool.MaxThreads);
    TTask task;
    task.Node = &Root;
    task.Fd = std::move(fd);
    task.Dev = DevOf(sx);
    task.Ino = sx.stx_ino;
    task.Path = Path;
    Pool.StartHelpers();
    Walk.Run(task);
}

void TDirScanner::Scan(const std::string& Path, std::int64_t Threshold) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    IsBusy.store(true, std::memory_order_release);
    Elapsed.store(0.0, std::memory_order_relaxed);
    HandOffs.store(0, std::memory_order_relaxed);
    UsedThreads.store(1, std::memory_order_relaxed);
    GroupFileSize = Threshold;
    RunningWalkers.fetch_add(1, std::memory_order_relaxed);
    // A stop that arrived before this point is kept: it ends this scan (see Stop).
    std::exception_ptr failure;
    {
        TPool pool(*this, ThreadCount > 0 ? ThreadCount : AutomaticThreadCount(), ThreadCount == 0);
        TWalk walk(*this, pool, true);
        try {
            const std::string path = WithoutTrailingDelimiter(Path);
            // The caller hands in a prepared root, and the GUI may already be listing its
            // files: only the result of this scanner's own earlier scan is cleared here.
            if (std::exchange(HasScanned, true))
                Root.ClearForRescan();
            Root.SetPath(path);
            WalkRoot(pool, walk, path);
        } catch (...) {
            // Out of memory: every thread stops, and the open directories end incomplete.
            pool.KeepError(std::current_exception());
            Stop();
            walk.Abandon();
        }
        // The scan thread helps with what the others handed off until the root is complete
        // (when nothing was walked, the pool is already done).
        pool.Work(walk);
        pool.JoinHelpers();
        failure = pool.TakeError();
    }
    RunningWalkers.fetch_sub(1, std::memory_order_relaxed);
    Stopped.store(false, std::memory_order_relaxed);
    Elapsed.store(std::chrono::duration<double>(Clock::now() - start).count(),
                  std::memory_order_relaxed);
    IsBusy.store(false, std::memory_order_release);
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace qv
