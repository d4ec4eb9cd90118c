#include "scan/ScanStatistics.h"

#include <algorithm>
#include <tuple>

namespace qv {

namespace {

// Orders the file to drop first before the others: the smaller, and of equal sizes the
// one whose path sorts last.
bool DropsBefore(const TLargeFile& A, const TLargeFile& B) noexcept {
    if (A.Size != B.Size)
        return A.Size < B.Size;
    return A.Path > B.Path;
}

// std::*_heap keep the greatest element in front; the greatest here is the one to drop.
bool HeapLess(const TLargeFile& A, const TLargeFile& B) noexcept {
    return DropsBefore(B, A);
}

} // namespace

void TLargestFiles::Offer(TLargeFile File) {
    if (Capacity == 0)
        return;
    if (Heap.size() < Capacity) {
        Heap.push_back(std::move(File));
        std::push_heap(Heap.begin(), Heap.end(), HeapLess);
        return;
    }
    if (!DropsBefore(Heap.front(), File))
        return;
    std::pop_heap(Heap.begin(), Heap.end(), HeapLess);
    Heap.back() = std::move(File);
    std::push_heap(Heap.begin(), Heap.end(), HeapLess);
}

void TLargestFiles::Merge(const TLargestFiles& Other) {
    for (const TLargeFile& file : Other.Heap)
        if (Wants(file.Size))
            Offer(file);
}

std::vector<TLargeFile> TLargestFiles::Sorted() const {
    std::vector<TLargeFile> files = Heap;
    std::sort(files.begin(), files.end(),
              [](const TLargeFile& A, const TLargeFile& B) { return DropsBefore(B, A); });
    return files;
}

std::string TFileTypeSums::TypeOf(std::string_view Name) {
    if (!Name.empty() && Name.front() == '.')
        return std::string(Hidden);
    const std::size_t dot = Name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == Name.size())
        return std::string(NoExtension);
    std::string type(Name.substr(dot + 1));
    for (char& c : type)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return type;
}

void TFileTypeSums::Add(std::string_view Name, std::int64_t Size, std::int64_t SizeOnDisk) {
    // TypeOf inlined into the reused key: this runs once per file of the scan.
    Key.clear();
    if (!Name.empty() && Name.front() == '.') {
        Key.assign(Hidden);
    } else if (const std::size_t dot = Name.rfind('.');
               dot == std::string_view::npos || dot + 1 == Name.size()) {
        Key.assign(NoExtension);
    } else {
        Key.assign(Name.substr(dot + 1));
        for (char& c : Key)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
    }
    AddType(Key, Size, SizeOnDisk, 1);
}

void TFileTypeSums::AddType(const std::string& Type, std::int64_t Size, std::int64_t SizeOnDisk,
                            std::int64_t Files) {
    auto it = Sums.find(Type);
    if (it == Sums.end()) {
        if (Sums.size() >= MaxTypes)
            it = Sums.try_emplace(std::string(Other)).first;
        else
            it = Sums.try_emplace(Type).first;
    }
    it->second.Size += Size;
    it->second.SizeOnDisk += SizeOnDisk;
    it->second.Files += Files;
}

void TFileTypeSums::Merge(const TFileTypeSums& Source) {
    for (const auto& [type, sum] : Source.Sums)
        AddType(type, sum.Size, sum.SizeOnDisk, sum.Files);
}

std::vector<TFileTypeSum> TFileTypeSums::Sorted() const {
    std::vector<TFileTypeSum> sums;
    sums.reserve(Sums.size());
    for (const auto& [type, sum] : Sums)
        sums.push_back({type, sum.Size, sum.SizeOnDisk, sum.Files});
    std::sort(sums.begin(), sums.end(), [](const TFileTypeSum& A, const TFileTypeSum& B) {
        return std::tie(B.Size, A.Type) < std::tie(A.Size, B.Type);
    });
    return sums;
}

std::shared_ptr<TScanStatisticsPart> TScanStatistics::NewPart() {
    auto part = std::make_shared<TScanStatisticsPart>(Capacity);
    std::lock_guard guard(Lock);
    Parts.push_back(part);
    return part;
}

TScanStatistics::TSnapshot TScanStatistics::Snapshot() const {
    std::vector<std::shared_ptr<TScanStatisticsPart>> parts;
    {
        std::lock_guard guard(Lock);
        parts = Parts;
    }
    TLargestFiles largest(Capacity);
    TFileTypeSums types;
    for (const auto& part : parts) {
        std::lock_guard guard(part->Lock);
        largest.Merge(part->Largest);
        types.Merge(part->Types);
    }
    return {largest.Sorted(), types.Sorted()};
}

void TScanStatistics::Clear() {
    std::lock_guard guard(Lock);
    Parts.clear();
}

} // namespace qv
