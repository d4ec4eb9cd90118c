#include "scan/ScanStatistics.h"

#include <algorithm>
#include <tuple>
#include <unordered_set>

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

std::size_t TLargestFiles::RemoveIf(const std::function<bool(const std::string& Path)>& Gone) {
    const std::size_t removed =
        std::erase_if(Heap, [&](const TLargeFile& File) { return Gone(File.Path); });
    if (removed > 0)
        std::make_heap(Heap.begin(), Heap.end(), HeapLess);
    return removed;
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

void TFileTypeSums::Remove(std::string_view Name, std::int64_t Size, std::int64_t SizeOnDisk) {
    auto it = Sums.find(TypeOf(Name));
    // A type that found no room was summed with the others.
    if (it == Sums.end())
        it = Sums.find(std::string(Other));
    if (it == Sums.end())
        return;
    it->second.Size -= Size;
    it->second.SizeOnDisk -= SizeOnDisk;
    if (--it->second.Files <= 0)
        Sums.erase(it);
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

// --- TTreeStatistics ---------------------------------------------------------------------

bool IsAtOrBelow(std::string_view Path, std::string_view Dir) noexcept {
    if (!Path.starts_with(Dir))
        return false;
    return Path.size() == Dir.size() || Dir.empty() || Dir.back() == '/' || Path[Dir.size()] == '/';
}

namespace {

bool IsGone(const std::vector<std::string>& Gone, const std::string& Path) {
    return std::any_of(Gone.begin(), Gone.end(),
                       [&](const std::string& G) { return IsAtOrBelow(Path, G); });
}

} // namespace

void TTreeStatistics::BeginScan(std::shared_ptr<TScanStatistics> Scan, std::string SubtreePath) {
    std::erase_if(Running, [&](const TRunning& R) { return IsAtOrBelow(R.Path, SubtreePath); });
    const auto below = [&](const std::string& C) { return IsAtOrBelow(C, SubtreePath); };
    if (std::all_of(Covered.begin(), Covered.end(), below)) {
        // Everything known is scanned again: the sums start afresh, and are right again.
        Base.Clear();
        BaseTypes.Clear();
        Outdated = false;
    } else if (std::any_of(Covered.begin(), Covered.end(),
                           [&](const std::string& C) { return IsAtOrBelow(SubtreePath, C); })) {
        DropLargestBelow(SubtreePath);
        Outdated = true;
    }
    std::erase_if(Covered, below);
    if (std::none_of(Covered.begin(), Covered.end(),
                     [&](const std::string& C) { return IsAtOrBelow(SubtreePath, C); }))
        Covered.push_back(SubtreePath);
    Running.push_back({std::move(Scan), std::move(SubtreePath), {}});
}

void TTreeStatistics::EndScan(const std::shared_ptr<TScanStatistics>& Scan) {
    const auto found = std::find_if(Running.begin(), Running.end(),
                                    [&](const TRunning& R) { return R.Scan == Scan; });
    if (found == Running.end())
        return;
    TScanStatistics::TSnapshot snapshot = Scan->Snapshot();
    std::erase_if(snapshot.Largest,
                  [&](const TLargeFile& File) { return IsGone(found->Gone, File.Path); });
    // A file met by two scans (one inside the other) is listed once, as the later saw it.
    if (!snapshot.Largest.empty() && Base.Count() > 0) {
        std::unordered_set<std::string_view> fresh;
        for (const TLargeFile& file : snapshot.Largest)
            fresh.insert(file.Path);
        Base.RemoveIf([&](const std::string& Path) { return fresh.contains(Path); });
    }
    for (TLargeFile& file : snapshot.Largest)
        if (Base.Wants(file.Size))
            Base.Offer(std::move(file));
    for (const TFileTypeSum& sum : snapshot.Types)
        BaseTypes.AddType(sum.Type, sum.Size, sum.SizeOnDisk, sum.Files);
    Running.erase(found);
}

TScanStatistics::TSnapshot TTreeStatistics::Snapshot() const {
    TScanStatistics::TSnapshot result;
    TFileTypeSums types = BaseTypes;
    std::unordered_set<std::string> seen;
    // The latest scans first: of a file listed twice, the newest figures stay.
    for (auto r = Running.rbegin(); r != Running.rend(); ++r) {
        TScanStatistics::TSnapshot part = r->Scan->Snapshot();
        for (TLargeFile& file : part.Largest)
            if (!IsGone(r->Gone, file.Path) && seen.insert(file.Path).second)
                result.Largest.push_back(std::move(file));
        for (const TFileTypeSum& sum : part.Types)
            types.AddType(sum.Type, sum.Size, sum.SizeOnDisk, sum.Files);
    }
    for (TLargeFile& file : Base.Sorted())
        if (Running.empty() || seen.insert(file.Path).second)
            result.Largest.push_back(std::move(file));
    std::sort(result.Largest.begin(), result.Largest.end(),
              [](const TLargeFile& A, const TLargeFile& B) {
                  return std::tie(B.Size, A.Path) < std::tie(A.Size, B.Path);
              });
    if (result.Largest.size() > Base.GetCapacity())
        result.Largest.resize(Base.GetCapacity());
    result.Types = types.Sorted();
    return result;
}

void TTreeStatistics::FileDeleted(const std::string& Path, std::int64_t Size,
                                  std::int64_t SizeOnDisk) {
    Base.RemoveIf([&](const std::string& P) { return P == Path; });
    bool scanning = false;
    for (TRunning& r : Running)
        if (IsAtOrBelow(Path, r.Path)) {
            r.Gone.push_back(Path);
            scanning = true;
        }
    if (scanning) {
        // The scan may have counted the file or not yet.
        Outdated = true;
        return;
    }
    if (std::any_of(Covered.begin(), Covered.end(),
                    [&](const std::string& C) { return IsAtOrBelow(Path, C); }))
        BaseTypes.Remove(std::string_view(Path).substr(Path.rfind('/') + 1), Size, SizeOnDisk);
}

void TTreeStatistics::SubtreeDeleted(const std::string& Path) {
    DropLargestBelow(Path);
    std::erase_if(Running, [&](const TRunning& R) { return IsAtOrBelow(R.Path, Path); });
    for (TRunning& r : Running)
        if (IsAtOrBelow(Path, r.Path))
            r.Gone.push_back(Path);
    std::erase_if(Covered, [&](const std::string& C) { return IsAtOrBelow(C, Path); });
    Outdated = true;
}

void TTreeStatistics::Clear() {
    Base.Clear();
    BaseTypes.Clear();
    Running.clear();
    Covered.clear();
    Outdated = false;
}

void TTreeStatistics::DropLargestBelow(const std::string& Path) {
    Base.RemoveIf([&](const std::string& P) { return IsAtOrBelow(P, Path); });
}

} // namespace qv
