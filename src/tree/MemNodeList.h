#pragma once
// TMemNodeList: the growable array of node references that every directory node keeps its
// children in. Small, because there is one per directory: the capacity is not stored but
// follows from the count.
//
// Threading: the list has no lock of its own; its owner's Lock guards every access except
// Count, which may be read without the lock as a hint.

#include <atomic>
#include <cstdint>
#include <span>

namespace qv {

class TFileSystemNode;

class TMemNodeList {
public:
    // An owning list frees an entry when it is deleted, cleared, or when the list is freed.
    explicit TMemNodeList(bool OwnsObjects) noexcept : CountWord(OwnsObjects ? OwnsBit : 0) {}
    TMemNodeList(const TMemNodeList&) = delete;
    TMemNodeList& operator=(const TMemNodeList&) = delete;
    ~TMemNodeList();

    // Appends Node and returns its index. Throws std::bad_alloc when the array cannot grow
    // (Node is then not added, and not freed).
    int Add(TFileSystemNode* Node);
    // Removes every entry (freeing them when owning).
    void Clear() noexcept;
    // Removes every entry without freeing any: the caller has taken them over.
    void Release() noexcept;
    [[nodiscard]] int Count() const noexcept {
        return int(CountWord.load(std::memory_order_relaxed) & ~OwnsBit);
    }
    // Removes the entry at Index (freeing it when owning); throws std::out_of_range.
    void Delete(int Index);
    // Removes the entry at Index without freeing it and returns it; throws std::out_of_range.
    TFileSystemNode* Extract(int Index);
    // The entry at Index; throws std::out_of_range.
    [[nodiscard]] TFileSystemNode* GetItem(int Index) const;
    // Linear search: the first index of Node, or -1.
    [[nodiscard]] int IndexOf(const TFileSystemNode* Node) const noexcept;
    // Sorts by Name with the locale's collation (strcoll); equal names have no defined order.
    void SortByName();

    [[nodiscard]] std::span<TFileSystemNode* const> Items() const noexcept {
        return {Data, std::size_t(Count())};
    }

private:
    static std::uint32_t CapacityFor(std::uint32_t count) noexcept;
    [[nodiscard]] bool OwnsObjects() const noexcept {
        return CountWord.load(std::memory_order_relaxed) & OwnsBit;
    }
    void SetCount(std::uint32_t Count) noexcept {
        CountWord.store((CountWord.load(std::memory_order_relaxed) & OwnsBit) | Count,
                        std::memory_order_relaxed);
    }

    // The ownership rides in the top bit of the count, so that the list ends after twelve
    // bytes and the owning directory node can put a field of its own behind it.
    static constexpr std::uint32_t OwnsBit = 0x80000000u;
    TFileSystemNode** Data = nullptr;
    std::atomic<std::uint32_t> CountWord;
};

} // namespace qv
