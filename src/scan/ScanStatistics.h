#pragma once
// What a scan learns beside the tree: the largest files it met, and the space taken per
// kind of file. Neither needs a node per file, so both cost memory bounded by their own
// size, not by the number of files.
//
// Threading: each walking thread fills its own TScanStatisticsPart (its lock is taken only
// by that thread and by a Snapshot); Snapshot may be called from any thread at any time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv {

struct TLargeFile {
    std::string Path;
    std::int64_t Size = 0;
    std::int64_t SizeOnDisk = 0;
    std::int64_t ModifiedTime = 0; // seconds since the epoch
};

// The Capacity largest files offered; among files of one size, those whose paths sort
// first. So the set kept does not depend on the order of the offers, nor on how they were
// split between several lists later merged.
class TLargestFiles {
public:
    explicit TLargestFiles(std::size_t Capacity = DefaultCapacity) : Capacity(Capacity) {}
    static constexpr std::size_t DefaultCapacity = 1000;

    // False when a file of Size would certainly not be kept: lets a walk skip making the
    // path of every small file.
    [[nodiscard]] bool Wants(std::int64_t Size) const noexcept {
        return Capacity > 0 && (Heap.size() < Capacity || Size >= Heap.front().Size);
    }
    void Offer(TLargeFile File);
    void Merge(const TLargestFiles& Other);
    // Largest first; equal sizes by path.
    [[nodiscard]] std::vector<TLargeFile> Sorted() const;
    [[nodiscard]] std::size_t Count() const noexcept { return Heap.size(); }
    [[nodiscard]] std::size_t GetCapacity() const noexcept { return Capacity; }
    void Clear() noexcept { Heap.clear(); }
    // Drops the files whose path Gone accepts; returns how many went.
    std::size_t RemoveIf(const std::function<bool(const std::string& Path)>& Gone);

private:
    std::size_t Capacity;
    std::vector<TLargeFile> Heap; // a heap whose front is the file to drop first
};

// Sums per file type: the file name's extension after its last dot, in lower case
// (ASCII letters), or one of the two kinds below.
struct TFileTypeSum {
    std::string Type;
    std::int64_t Size = 0;
    std::int64_t SizeOnDisk = 0;
    std::int64_t Files = 0;
};

class TFileTypeSums {
public:
    // The types of files with no extension and of hidden files (names beginning with a dot,
    // whatever follows). No extension can contain "/", so these cannot be mistaken for one.
    static constexpr std::string_view NoExtension = "/none";
    static constexpr std::string_view Hidden = "/hidden";
    // Types beyond MaxTypes distinct ones are summed here: a tree of random names must
    // not make the sums grow without bound.
    static constexpr std::string_view Other = "/other";
    static constexpr std::size_t MaxTypes = 4096;

    [[nodiscard]] static std::string TypeOf(std::string_view Name);
    void Add(std::string_view Name, std::int64_t Size, std::int64_t SizeOnDisk);
    void AddType(const std::string& Type, std::int64_t Size, std::int64_t SizeOnDisk,
                 std::int64_t Files);
    void Merge(const TFileTypeSums& Other);
    // Takes one file of Name back out (a deleted file); a type left without files goes.
    void Remove(std::string_view Name, std::int64_t Size, std::int64_t SizeOnDisk);
    // Largest size first; equal sizes by type.
    [[nodiscard]] std::vector<TFileTypeSum> Sorted() const;
    [[nodiscard]] std::size_t Count() const noexcept { return Sums.size(); }
    void Clear() noexcept { Sums.clear(); }

private:
    struct TSum {
        std::int64_t Size = 0;
        std::int64_t SizeOnDisk = 0;
        std::int64_t Files = 0;
    };
    std::unordered_map<std::string, TSum> Sums;
    std::string Key; // reused, so that a lookup of a known type allocates nothing
};

// One walking thread's share.
struct TScanStatisticsPart {
    std::mutex Lock;
    TLargestFiles Largest;
    TFileTypeSums Types;
    explicit TScanStatisticsPart(std::size_t Capacity) : Largest(Capacity) {}
};

class TScanStatistics {
public:
    explicit TScanStatistics(std::size_t Capacity = TLargestFiles::DefaultCapacity)
        : Capacity(Capacity) {}

    // A new part for one thread of a walk; it stays in the statistics until Clear.
    std::shared_ptr<TScanStatisticsPart> NewPart();
    struct TSnapshot {
        std::vector<TLargeFile> Largest;
        std::vector<TFileTypeSum> Types;
    };
    // The merged state of every part at this moment.
    [[nodiscard]] TSnapshot Snapshot() const;
    void Clear();

private:
    const std::size_t Capacity;
    mutable std::mutex Lock; // guards Parts
    std::vector<std::shared_ptr<TScanStatisticsPart>> Parts;
};

// What the window knows of the files of its whole tree: the statistics of the scans that
// ended (the base) and of those still running. A re-scan of a folder replaces that folder's
// largest files. The sums per type hold nothing per folder, so what a re-scan or a deleted
// folder changes in them cannot be taken out again: they are kept, marked outdated, until a
// scan covers everything scanned before.
//
// Threading: GUI thread only; the scans fill their own TScanStatistics meanwhile.
class TTreeStatistics {
public:
    explicit TTreeStatistics(std::size_t Capacity = TLargestFiles::DefaultCapacity)
        : Base(Capacity) {}

    // A scan of SubtreePath starts (a first scan, or a re-scan), filling Scan. Running
    // scans at or below SubtreePath are forgotten: this one counts their files again, and
    // their EndScan, should it come, is ignored.
    void BeginScan(std::shared_ptr<TScanStatistics> Scan, std::string SubtreePath);
    // Folds a scan that finished or was stopped into the base. Unknown scans are ignored.
    void EndScan(const std::shared_ptr<TScanStatistics>& Scan);
    // The base merged with every running scan.
    [[nodiscard]] TScanStatistics::TSnapshot Snapshot() const;
    // Whether the sums per type may still count files that a re-scan or a deletion changed.
    [[nodiscard]] bool TypesOutdated() const noexcept { return Outdated; }
    [[nodiscard]] bool IsScanning() const noexcept { return !Running.empty(); }

    // A file the user deleted, with the sizes the scan counted for it.
    void FileDeleted(const std::string& Path, std::int64_t Size, std::int64_t SizeOnDisk);
    // A folder the user deleted.
    void SubtreeDeleted(const std::string& Path);
    // A new tree: nothing known.
    void Clear();

private:
    struct TRunning {
        std::shared_ptr<TScanStatistics> Scan;
        std::string Path;
        // Paths deleted while the scan ran: its lists may hold them.
        std::vector<std::string> Gone;
    };
    void DropLargestBelow(const std::string& Path);

    TLargestFiles Base;
    TFileTypeSums BaseTypes;
    std::vector<TRunning> Running;
    // The folders whose scans (ended or running) the base and the running scans hold,
    // none inside another.
    std::vector<std::string> Covered;
    bool Outdated = false;
};

// Whether Path is Dir or lies below it.
[[nodiscard]] bool IsAtOrBelow(std::string_view Path, std::string_view Dir) noexcept;

} // namespace qv
