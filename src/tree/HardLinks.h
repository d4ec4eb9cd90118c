#pragma once
// THardLinkSet: the files with more than one name (hard links) that a scan has met, so that
// such a file counts once, at the first of its names met, and not once per name.
//
// For each (device, inode) it remembers the directory node and a hash of the name where the
// file was first met; only files with more than one link are entered, so the set grows
// with the linked files, not with all files. The directory pointers are only compared,
// never followed: whoever frees directory nodes calls Forget for them first (a re-scan of
// a folder, Delete), so that a later node at the same address is not taken for the old one.
//
// Threading: every function may be called from any thread at once (scan threads, the
// listing worker, the GUI thread). The entries are spread over several shards with a lock
// each, so scan threads that meet linked files at the same time seldom wait for each other.
// Forget takes the child locks of the subtree it is given, one at a time, and holds no
// shard lock meanwhile.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace qv {

class TGroupNode;
class TFileSystemNode;

class THardLinkSet {
public:
    THardLinkSet() = default;
    THardLinkSet(const THardLinkSet&) = delete;
    THardLinkSet& operator=(const THardLinkSet&) = delete;

    // Whether the name Name in directory Dir counts the file (Dev, Ino): true when the file
    // is new to the set (it is then entered with this name) or when this is the name it was
    // entered with; false for every other name.
    bool CountFirst(std::uint64_t Dev, std::uint64_t Ino, const TGroupNode* Dir,
                    std::string_view Name);
    // The same question without entering anything: true also when the file is not known.
    [[nodiscard]] bool IsCounted(std::uint64_t Dev, std::uint64_t Ino, const TGroupNode* Dir,
                                 std::string_view Name) const;
    // Drops the files first met in Subtree or in a directory below it. Call before the
    // directories below Subtree are freed (or Subtree itself is cleared for a re-scan).
    void Forget(const TGroupNode& Subtree);
    // Drops the file that was first met as Name in Dir, if there is one (that name is gone).
    void ForgetName(const TGroupNode* Dir, std::string_view Name);
    void Clear();
    // Number of files entered.
    [[nodiscard]] std::size_t Count() const;

    // Whether the tree's last scan counted linked files once: its listings must then do the
    // same, or a folder's total would change when it is opened.
    [[nodiscard]] bool CountsOnce() const noexcept {
        return CountOnce.load(std::memory_order_relaxed);
    }
    void SetCountsOnce(bool Value) noexcept { CountOnce.store(Value, std::memory_order_relaxed); }

private:
    struct TKey {
        std::uint64_t Dev;
        std::uint64_t Ino;
        bool operator==(const TKey&) const = default;
    };
    struct TKeyHash {
        std::size_t operator()(const TKey& Key) const noexcept {
            // Inode numbers of one device are dense: mix them so that the shards and the
            // buckets fill evenly.
            std::uint64_t h = Key.Ino * 0x9E3779B97F4A7C15ull ^ (Key.Dev + 0x632BE59BD9B4E019ull);
            h ^= h >> 29;
            return std::size_t(h * 0xBF58476D1CE4E5B9ull);
        }
    };
    struct TFirstName {
        const TGroupNode* Dir;
        std::uint64_t NameHash;
    };
    // One cache line each, so that two scan threads on different shards do not share one.
    struct alignas(64) TShard {
        mutable std::mutex Lock;
        std::unordered_map<TKey, TFirstName, TKeyHash> Files;
    };
    static constexpr std::size_t ShardCount = 16;

    [[nodiscard]] TShard& ShardOf(const TKey& Key) noexcept;
    [[nodiscard]] const TShard& ShardOf(const TKey& Key) const noexcept;
    [[nodiscard]] static std::uint64_t HashName(std::string_view Name) noexcept;

    std::array<TShard, ShardCount> Shards;
    std::atomic<bool> CountOnce{false};
};

// The set of the tree Node belongs to: that of the nearest TRootDirNode at or above Node
// ("Local Drives" has one per drive: links never cross devices); null when there is none.
[[nodiscard]] std::shared_ptr<THardLinkSet> HardLinkSetOf(const TFileSystemNode& Node);

} // namespace qv
