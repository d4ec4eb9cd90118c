#include "tree/MemNodeList.h"

#include "tree/TreeTypes.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace qv {

TMemNodeList::~TMemNodeList() {
    Clear();
    std::free(Data);
}

std::uint32_t TMemNodeList::CapacityFor(std::uint32_t count) noexcept {
    // 3, 7, 15, ... entries: arrays of 2^k - 8 bytes fill malloc's 2^k-byte chunks exactly.
    return count == 0 ? 0 : std::max<std::uint32_t>(3, std::bit_ceil(count + 1) - 1);
}

int TMemNodeList::Add(TFileSystemNode* Node) {
    const auto n = std::uint32_t(Count());
    if (n == OwnsBit - 1)
        throw std::bad_alloc();
    if (n == CapacityFor(n)) {
        // The array holds plain pointers, so realloc may grow it in place.
        auto* grown = static_cast<TFileSystemNode**>(
            std::realloc(Data, std::size_t(CapacityFor(n + 1)) * sizeof(TFileSystemNode*)));
        if (!grown)
            throw std::bad_alloc();
        Data = grown;
    }
    Data[n] = Node;
    SetCount(n + 1);
    return int(n);
}

void TMemNodeList::Clear() noexcept {
    const auto n = std::uint32_t(Count());
    SetCount(0);
    if (OwnsObjects())
        for (std::uint32_t i = 0; i < n; ++i)
            delete Data[i];
    std::free(Data);
    Data = nullptr;
}

void TMemNodeList::Release() noexcept {
    SetCount(0);
    std::free(Data);
    Data = nullptr;
}

TFileSystemNode* TMemNodeList::Extract(int Index) {
    const int n = Count();
    if (Index < 0 || Index >= n)
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
    TFileSystemNode* node = Data[Index];
    std::memmove(Data + Index, Data + Index + 1, std::size_t(n - Index - 1) * sizeof(*Data));
    SetCount(std::uint32_t(n - 1));
    return node;
}

void TMemNodeList::Delete(int Index) {
    TFileSystemNode* node = Extract(Index);
    if (OwnsObjects())
        delete node;
}

TFileSystemNode* TMemNodeList::GetItem(int Index) const {
    if (Index < 0 || Index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
    return Data[Index];
}

int TMemNodeList::IndexOf(const TFileSystemNode* Node) const noexcept {
    const int n = Count();
    for (int i = 0; i < n; ++i)
        if (Data[i] == Node)
            return i;
    return -1;
}

void TMemNodeList::SortByName() {
    std::sort(Data, Data + Count(), [](const TFileSystemNode* a, const TFileSystemNode* b) {
        return std::strcoll(a->NameCStr(), b->NameCStr()) < 0;
    });
}

} // namespace qv
