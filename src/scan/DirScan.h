#pragma once
// TDirScanner walks one directory subtree into the size tree below one directory node.
//
// Threading: Scan runs on one scan thread, which may call in helper threads of its own to
// walk parts of the subtree (see DirScan.cpp for how the work and the totals are shared).
// Every directory node is written by one thread at a time. Stop, GetCurrentPath, Busy and
// ElapsedSeconds may be called from any thread. CurrentPath is guarded by PathLock;
// Stopped, Busy and ElapsedSeconds are atomics. The nodes are shared with the GUI thread as
// described in tree/TreeTypes.h.

#include "tree/TreeTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace qv {

class TDirNode;
class TScanStatistics;
struct TScanStatisticsPart;

class TDirScanner {
public:
    // The scanner fills RootNode, which it does not own.
    explicit TDirScanner(TDirNode& RootNode);
    ~TDirScanner();
    TDirScanner(const TDirScanner&) = delete;
    TDirScanner& operator=(const TDirScanner&) = delete;

    // Walks Path into RootNode, grouping files smaller than GroupFileSize (0: no grouping).
    // RootNode must be empty for the first Scan (a new node, or ClearForRescan on the GUI
    // thread): the scan never frees a node the GUI may show. A second Scan of the same
    // scanner clears the result of the first.
    // Returns when the subtree is done or a stop was seen. Symbolic links inside the tree
    // are never followed (Path itself may be one), and the walk stays on the file system
    // Path lies on unless CrossFileSystems is set; kernel pseudo file systems are never
    // entered. A Path that cannot be opened leaves its errno in RootNode's ScanError.
    // Exceptions (out of memory) pass to the caller after the open directories were closed.
    void Scan(const std::string& Path, std::int64_t GroupFileSize);
    // Asks the running scan to end soon; a stop that arrives before Scan starts ends that
    // scan at once. Returns immediately.
    void Stop() noexcept { Stopped.store(true, std::memory_order_relaxed); }
    // The directory most recently entered; empty before the first subdirectory.
    [[nodiscard]] std::string GetCurrentPath() const;
    [[nodiscard]] bool Busy() const noexcept { return IsBusy.load(std::memory_order_acquire); }
    // Duration of the last Scan in seconds; 0 before the first.
    [[nodiscard]] double ElapsedSeconds() const noexcept {
        return Elapsed.load(std::memory_order_relaxed);
    }
    [[nodiscard]] TDirNode& RootNode() const noexcept { return Root; }
    // Whether mount points of other listed file systems are entered (default false).
    void SetCrossFileSystems(bool Value) noexcept { CrossFileSystems = Value; }
    // Number of threads that walk one Scan: 0 (the default) picks one per processor this
    // process may run on; 1 walks on the calling thread alone. Threads of all scanners of the
    // process together never exceed what the machine runs at once (see Scan).
    void SetThreadCount(int Value) noexcept { ThreadCount = Value < 0 ? 0 : Value; }
    // Where the walks record the largest files and the sums per file type (none: they are
    // not recorded). Each thread of a Scan adds a part of its own.
    void SetStatistics(std::shared_ptr<TScanStatistics> Value) { Statistics = std::move(Value); }
    // Whether a regular file with more than one name counts only at the first name the scan
    // meets (default false: every name counts). The names are remembered in the set of the
    // tree RootNode belongs to (HardLinkSetOf), unless SetHardLinkSet gave another; the
    // tree's set is told, so that listings of its folders count the same names.
    void SetCountHardLinksOnce(bool Value) {
        if (const std::shared_ptr<THardLinkSet> tree = HardLinkSetOf(Root))
            tree->SetCountsOnce(Value);
        if (!Value)
            HardLinks.reset();
        else if (!HardLinks)
            HardLinks = HardLinkSetOf(Root);
    }
    // Counts linked files once in Set instead of the tree's set; null counts every name.
    void SetHardLinkSet(std::shared_ptr<THardLinkSet> Set) noexcept { HardLinks = std::move(Set); }
    // Number of directory levels below the root currently open on the scan thread's own walk
    // (scan thread only).
    [[nodiscard]] int Depth() const noexcept { return CurrentDepth; }
    // How many subtrees the last Scan handed to another of its threads (for the benchmarks).
    [[nodiscard]] std::int64_t HandOffCount() const noexcept {
        return HandOffs.load(std::memory_order_relaxed);
    }

    // How many threads walked the last Scan, at most at once.
    [[nodiscard]] int ThreadsUsed() const noexcept {
        return UsedThreads.load(std::memory_order_relaxed);
    }
    // The number of threads ThreadCount 0 starts with on this machine.
    [[nodiscard]] static int AutomaticThreadCount() noexcept;

private:
    class TWalk;
    class TPool;
    struct TJoin;
    struct TTask;
    friend class TWalk;
    friend class TPool;
    void SetCurrentPath(const std::string& Path);
    void LoadMountPoints(TPool& Pool, const std::string& Path) const;
    // Opens the root and walks it with the pool's threads; the pool is done afterwards
    // unless parts are still walked by the helpers.
    void WalkRoot(TPool& Pool, TWalk& Walk, const std::string& Path);

    TDirNode& Root;
    // The set of the linked files met; null while every name counts.
    std::shared_ptr<THardLinkSet> HardLinks;
    mutable std::mutex PathLock;
    std::string CurrentPath;
    std::int64_t GroupFileSize = 0;
    int CurrentDepth = 0;
    bool CrossFileSystems = false;
    int ThreadCount = 0;
    std::shared_ptr<TScanStatistics> Statistics;
    bool HasScanned = false; // scan thread only
    std::atomic<std::int64_t> HandOffs{0};
    std::atomic<int> UsedThreads{0};
    std::atomic<bool> IsBusy{false};
    std::atomic<bool> Stopped{false};
    std::atomic<double> Elapsed{0.0};
};

} // namespace qv
