#include "view/TreeMapThread.h"

#include "tree/TreeTypes.h"
#include "view/TreeMapLayout.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <pthread.h>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace qv {

namespace {

// The cushions: every rectangle adds a parabolic ridge of this height to the surface of its
// area, each level a little lower than the one above, so that nesting shows as shading.
constexpr double RidgeHeight = 0.4;
constexpr double RidgeFalloff = 0.7;
// Light from the upper left, mostly from the front.
const double LightNorm = std::sqrt(1.0 + 4.0 + 100.0);
const double LightX = -1.0 / LightNorm;
const double LightY = -2.0 / LightNorm;
const double LightZ = 10.0 / LightNorm;
constexpr double Ambient = 0.3;
constexpr double Diffuse = 0.74;

// A folder gets a frame from this size on, and an inset inside the frame from PadMin on.
constexpr int FrameMin = 8;
constexpr int PadMin = 48;
constexpr std::uint32_t FrameColour = 0x686868;
constexpr std::uint32_t InsetColour = 0xD0D0D0;
constexpr std::uint32_t EmptyColour = 0xF4F4F4;
// Rectangles below this size in either direction are drawn but not listed for hit tests,
// and a folder below it inside its frame is drawn as one cushion without its contents.
constexpr int HitMin = 2;
// How many nodes the walk reads between two looks at the cancel flag.
constexpr unsigned CancelCheckMask = 255;

struct TCushion {
    double S1X = 0, S2X = 0, S1Y = 0, S2Y = 0;

    void AddRidge(int X0, int Y0, int X1, int Y1, double H) noexcept {
        Add(X0, X1, H, S1X, S2X);
        Add(Y0, Y1, H, S1Y, S2Y);
    }

private:
    static void Add(double A, double B, double H, double& S1, double& S2) noexcept {
        if (B <= A)
            return;
        S1 += 4 * H * (B + A) / (B - A);
        S2 -= 4 * H / (B - A);
    }
};

struct TIntRect {
    int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
    [[nodiscard]] int W() const noexcept { return X1 - X0; }
    [[nodiscard]] int H() const noexcept { return Y1 - Y0; }
    [[nodiscard]] bool Empty() const noexcept { return X1 <= X0 || Y1 <= Y0; }
    [[nodiscard]] TIntRect Shrunk(int By) const noexcept {
        return {X0 + By, Y0 + By, X1 - By, Y1 - By};
    }
};

// What the walk copies of a child under its parent's lock.
struct TChild {
    TFileSystemNode* Node = nullptr;
    std::int64_t Size = 0;
    std::uint32_t NameOffset = 0; // files: their name in the walk's name arena
    std::uint32_t NameLength = 0;
    std::uint32_t LargeFile = 0;
    TMapItemKind Kind = mkFile;
};

struct TStringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view S) const noexcept {
        return std::hash<std::string_view>{}(S);
    }
};

std::string_view FileNameOf(std::string_view Path) noexcept {
    const std::size_t slash = Path.rfind('/');
    return slash == std::string_view::npos ? Path : Path.substr(slash + 1);
}

std::string_view ParentPathOf(std::string_view Path) noexcept {
    const std::size_t slash = Path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    return slash == 0 ? Path.substr(0, 1) : Path.substr(0, slash);
}

bool IsBelow(std::string_view Path, std::string_view Dir) noexcept {
    if (Dir.empty())
        return true;
    if (Path.size() <= Dir.size() || Path.substr(0, Dir.size()) != Dir)
        return false;
    return Dir.back() == '/' || Path[Dir.size()] == '/';
}

class TMapPainter {
public:
    TMapPainter(const TTreeMapRequest& Request, const std::atomic<bool>* Cancel,
                TTreeMapResult& Result)
        : Request(Request), Cancel(Cancel), Result(Result) {
        Bits = reinterpret_cast<std::uint32_t*>(Result.Image.bits());
        Stride = int(Result.Image.bytesPerLine() / 4);
        MaxItems = std::max<std::size_t>(4096, std::size_t(Request.Width) * Request.Height / 2);
        if (Request.LargestFiles)
            for (std::size_t i = 0; i < Request.LargestFiles->size(); ++i) {
                const std::string& path = (*Request.LargestFiles)[i].Path;
                if (IsBelow(path, Request.RootPath))
                    LargeByDir[std::string(ParentPathOf(path))].push_back(std::uint32_t(i));
            }
    }

    // False when cancelled.
    bool Draw() {
        Path = Request.RootPath;
        const TIntRect all{0, 0, Request.Width, Request.Height};
        DrawFolder(*Request.Root, all, 0, TCushion{}, RidgeHeight, -1);
        return !Cancelled;
    }

private:
    bool CheckCancel() noexcept {
        if ((++Result.NodesVisited & CancelCheckMask) == 0 && Cancel &&
            Cancel->load(std::memory_order_relaxed))
            Cancelled = true;
        return Cancelled;
    }

    std::size_t AddItem(TFileSystemNode* Node, TMapItemKind Kind, std::int64_t Size,
                        const TIntRect& R, int Depth) {
        if (R.W() < HitMin || R.H() < HitMin || Result.Items.size() >= MaxItems)
            return std::size_t(-1);
        TMapItem item;
        item.Node = Node;
        item.Kind = Kind;
        item.Size = Size;
        item.X = std::int16_t(R.X0);
        item.Y = std::int16_t(R.Y0);
        item.W = std::int16_t(R.W());
        item.H = std::int16_t(R.H());
        item.Depth = std::uint16_t(std::min(Depth, 0xFFFF));
        item.Next = std::uint32_t(Result.Items.size() + 1);
        Result.Items.push_back(item);
        return Result.Items.size() - 1;
    }

    void Fill(const TIntRect& R, std::uint32_t Colour) noexcept {
        for (int y = R.Y0; y < R.Y1; ++y)
            std::fill(Bits + std::ptrdiff_t(y) * Stride + R.X0,
                      Bits + std::ptrdiff_t(y) * Stride + R.X1, 0xFF000000u | Colour);
    }

    void Frame(const TIntRect& R, std::uint32_t Colour) noexcept {
        Fill({R.X0, R.Y0, R.X1, R.Y0 + 1}, Colour);
        Fill({R.X0, R.Y1 - 1, R.X1, R.Y1}, Colour);
        Fill({R.X0, R.Y0 + 1, R.X0 + 1, R.Y1 - 1}, Colour);
        Fill({R.X1 - 1, R.Y0 + 1, R.X1, R.Y1 - 1}, Colour);
    }

    // Shades R as a cushion of colour Colour: each pixel by the angle between the surface
    // normal and the light. The normal's x part depends on the column alone and its y part
    // on the row alone, so each is computed once per rectangle.
    void Shade(const TIntRect& R, const TCushion& C, std::uint32_t Colour) {
        const float red = float((Colour >> 16) & 0xFF);
        const float green = float((Colour >> 8) & 0xFF);
        const float blue = float(Colour & 0xFF);
        Normals.resize(std::size_t(R.W()));
        for (int x = R.X0; x < R.X1; ++x)
            Normals[std::size_t(x - R.X0)] = -(2 * C.S2X * (x + 0.5) + C.S1X);
        for (int y = R.Y0; y < R.Y1; ++y) {
            // A large rectangle takes a while: a new request must not wait for it.
            if (Cancel && (y & 15) == 15 && Cancel->load(std::memory_order_relaxed)) {
                Cancelled = true;
                return;
            }
            const double ny = -(2 * C.S2Y * (y + 0.5) + C.S1Y);
            const double lightY = ny * LightY + LightZ;
            const double ny2 = ny * ny + 1;
            std::uint32_t* line = Bits + std::ptrdiff_t(y) * Stride;
            for (int x = R.X0; x < R.X1; ++x) {
                const double nx = Normals[std::size_t(x - R.X0)];
                const double cosa = (nx * LightX + lightY) / std::sqrt(nx * nx + ny2);
                const float light = float(Ambient + Diffuse * std::max(0.0, cosa));
                const auto channel = [light](float V) {
                    return std::uint32_t(std::min(255.0f, V * light));
                };
                line[x] = 0xFF000000u | channel(red) << 16 | channel(green) << 8 | channel(blue);
            }
        }
    }

    std::uint32_t TypeOfName(std::string_view Name) {
        std::string type = TFileTypeSums::TypeOf(Name);
        if (const auto found = TypeIndex.find(type); found != TypeIndex.end())
            return found->second;
        const auto index = std::uint32_t(Result.Types.size());
        TypeColours.push_back(Request.Colours ? Request.Colours->Colour(type)
                                              : TFileTypeColours::OtherColour);
        TypeIndex.emplace(type, index);
        Result.Types.push_back(std::move(type));
        return index;
    }

    // Copies Dir's children (and the files of its listed "Grouped Files" node) to the end of
    // Kids under the locks; returns the bytes of its files that are not nodes.
    std::int64_t CopyChildren(const TGroupNode& Dir) {
        std::int64_t unlisted = 0;
        const std::size_t first = Kids.size();
        {
            TChildrenLock guard(Dir);
            if (!Dir.IsFilesLoaded())
                unlisted += Dir.GetFilesSize();
            for (TFileSystemNode* child : guard.Children().Items()) {
                if (CheckCancel())
                    break;
                if (Dir.SkipsInTotals(*child))
                    continue;
                if (child->IsFileGroup()) {
                    // Read only while Dir's lock keeps it from being dissolved.
                    const auto& group = static_cast<const TGroupNode&>(*child);
                    if (!group.IsFilesLoaded()) {
                        unlisted += group.StoredSize();
                        continue;
                    }
                    TChildrenLock files(group);
                    for (TFileSystemNode* file : files.Children().Items())
                        if (!file->IsGroupNode() && !group.SkipsInTotals(*file))
                            CopyFile(*file);
                } else if (child->IsGroupNode()) {
                    Kids.push_back({child, 0, 0, 0, 0, mkDirectory});
                } else {
                    CopyFile(*child);
                }
            }
        }
        // A folder's size may be summed from its whole subtree while it is scanned or
        // incomplete: never under Dir's lock, which the grid's own live sums only try to
        // take (they would read low while it is held).
        for (std::size_t k = first; k < Kids.size(); ++k)
            if (Kids[k].Kind == mkDirectory)
                Kids[k].Size = Kids[k].Node->GetSize();
        return unlisted;
    }

    void CopyFile(TFileSystemNode& File) {
        const std::string_view name = File.Name();
        Kids.push_back({&File, File.GetSize(), std::uint32_t(Names.size()),
                        std::uint32_t(name.size()), 0, mkFile});
        Names.append(name);
    }

    // Adds the largest files directly in the current folder to Kids, as far as Unlisted
    // bytes hold them, leaving out names that are file nodes already (from FirstKid on);
    // returns the bytes left.
    std::int64_t CarveLargeFiles(TGroupNode& Dir, std::int64_t Unlisted, std::size_t FirstKid) {
        const auto found = LargeByDir.find(std::string_view(Path));
        if (found == LargeByDir.end())
            return Unlisted;
        std::unordered_set<std::string_view> listed;
        for (std::size_t k = FirstKid; k < Kids.size(); ++k)
            if (Kids[k].Kind == mkFile)
                listed.insert(
                    std::string_view(Names).substr(Kids[k].NameOffset, Kids[k].NameLength));
        for (const std::uint32_t index : found->second) {
            const TLargeFile& file = (*Request.LargestFiles)[index];
            if (file.Size <= 0 || file.Size > Unlisted || listed.contains(FileNameOf(file.Path)))
                continue;
            Kids.push_back({&Dir, file.Size, 0, 0, index, mkLargeFile});
            Unlisted -= file.Size;
        }
        return Unlisted;
    }

    // Size: the folder's bytes as its parent saw them; negative for the zoom root, which
    // takes the sum of what it holds.
    void DrawFolder(TGroupNode& Dir, const TIntRect& R, int Depth, TCushion Cushion, double H,
                    std::int64_t Size) {
        const std::size_t self = AddItem(&Dir, mkDirectory, Size, R, Depth);
        Cushion.AddRidge(R.X0, R.Y0, R.X1, R.Y1, H);
        TIntRect inner = R;
        if (R.W() >= FrameMin && R.H() >= FrameMin) {
            Frame(R, FrameColour);
            inner = R.Shrunk(1);
            if (R.W() >= PadMin && R.H() >= PadMin) {
                Frame(inner, InsetColour);
                inner = inner.Shrunk(1);
            }
        }
        if (inner.W() < HitMin || inner.H() < HitMin) {
            // Too small to show what it holds.
            if (!inner.Empty())
                Shade(inner, Cushion, TFileTypeColours::UnlistedColour);
        } else {
            const std::int64_t total = DrawContents(Dir, inner, Depth, Cushion, H * RidgeFalloff);
            if (Size < 0 && self != std::size_t(-1))
                Result.Items[self].Size = total;
        }
        if (self != std::size_t(-1))
            Result.Items[self].Next = std::uint32_t(Result.Items.size());
    }

    // Returns the bytes laid out.
    std::int64_t DrawContents(TGroupNode& Dir, const TIntRect& R, int Depth,
                              const TCushion& Cushion, double H) {
        const std::size_t first = Kids.size();
        const std::size_t names = Names.size();
        const std::int64_t unlisted = CopyChildren(Dir);
        if (Cancelled) {
            Kids.resize(first);
            Names.resize(names);
            return 0;
        }
        if (unlisted > 0) {
            const std::int64_t rest = CarveLargeFiles(Dir, unlisted, first);
            if (rest > 0)
                Kids.push_back({&Dir, rest, 0, 0, 0, mkUnlistedFiles});
        }
        const std::size_t count = Kids.size() - first;
        std::vector<std::int64_t> sizes(count);
        std::int64_t total = 0;
        for (std::size_t k = 0; k < count; ++k) {
            sizes[k] = std::max<std::int64_t>(0, Kids[first + k].Size);
            total += sizes[k];
        }
        if (total <= 0) {
            Fill(R, EmptyColour);
        } else {
            const std::vector<TMapRect> rects =
                SquarifyLayout(sizes, {double(R.X0), double(R.Y0), double(R.W()), double(R.H())});
            for (std::size_t k = 0; k < count && !Cancelled; ++k) {
                const TMapRect& r = rects[k];
                const TIntRect box{int(std::lround(r.X)), int(std::lround(r.Y)),
                                   int(std::lround(r.X + r.W)), int(std::lround(r.Y + r.H))};
                if (box.Empty())
                    continue;
                DrawChild(first + k, box, Depth + 1, Cushion, H);
            }
        }
        Kids.resize(first);
        Names.resize(names);
        return total;
    }

    void DrawChild(std::size_t Index, const TIntRect& Box, int Depth, const TCushion& Cushion,
                   double H) {
        // Kids grows below this level while a folder is walked: copy, never refer.
        const TChild kid = Kids[Index];
        if (CheckCancel())
            return;
        if (kid.Kind == mkDirectory) {
            const std::string_view name = kid.Node->Name();
            // A drive below "Local Drives" is named by its whole path.
            if (dynamic_cast<const TRootNode*>(kid.Node) != nullptr) {
                std::string outer = std::exchange(Path, std::string(name));
                DrawFolder(*static_cast<TGroupNode*>(kid.Node), Box, Depth, Cushion, H, kid.Size);
                Path = std::move(outer);
                return;
            }
            const std::size_t length = Path.size();
            if (Path.empty() || Path.back() != '/')
                Path += '/';
            Path.append(name);
            DrawFolder(*static_cast<TGroupNode*>(kid.Node), Box, Depth, Cushion, H, kid.Size);
            Path.resize(length);
            return;
        }
        std::uint32_t type = TMapItem::NoType;
        std::uint32_t colour = TFileTypeColours::UnlistedColour;
        if (kid.Kind == mkFile)
            type = TypeOfName(std::string_view(Names).substr(kid.NameOffset, kid.NameLength));
        else if (kid.Kind == mkLargeFile)
            type = TypeOfName(FileNameOf((*Request.LargestFiles)[kid.LargeFile].Path));
        if (type != TMapItem::NoType)
            colour = TypeColours[type];
        TCushion cushion = Cushion;
        cushion.AddRidge(Box.X0, Box.Y0, Box.X1, Box.Y1, H);
        Shade(Box, cushion, colour);
        const std::size_t item = AddItem(kid.Node, kid.Kind, kid.Size, Box, Depth);
        if (item != std::size_t(-1)) {
            Result.Items[item].Type = type;
            Result.Items[item].LargeFile = kid.LargeFile;
        }
    }

    const TTreeMapRequest& Request;
    const std::atomic<bool>* Cancel;
    TTreeMapResult& Result;
    std::uint32_t* Bits = nullptr;
    int Stride = 0;
    std::size_t MaxItems = 0;
    bool Cancelled = false;
    // The path of the folder being drawn; kept while walking instead of asking every node.
    std::string Path;
    std::unordered_map<std::string, std::vector<std::uint32_t>, TStringHash, std::equal_to<>>
        LargeByDir;
    std::unordered_map<std::string, std::uint32_t, TStringHash, std::equal_to<>> TypeIndex;
    std::vector<std::uint32_t> TypeColours;
    // The children copied for every folder on the current walk path, one level after the
    // other, and the names of the files among them.
    std::vector<TChild> Kids;
    std::string Names;
    std::vector<double> Normals;
};

} // namespace

int TTreeMapResult::HitTest(int PX, int PY, int* Folder) const noexcept {
    int found = -1;
    if (Folder != nullptr)
        *Folder = -1;
    std::size_t i = 0;
    std::size_t end = Items.size();
    while (i < end) {
        const TMapItem& item = Items[i];
        if (item.Contains(PX, PY)) {
            found = int(i);
            if (Folder != nullptr && item.Kind == mkDirectory)
                *Folder = found;
            end = item.Next;
            ++i;
        } else {
            i = std::max<std::size_t>(item.Next, i + 1);
        }
    }
    return found;
}

std::uint32_t TTreeMapResult::TypeIndex(std::string_view Type) const noexcept {
    for (std::size_t i = 0; i < Types.size(); ++i)
        if (Types[i] == Type)
            return std::uint32_t(i);
    return TMapItem::NoType;
}

std::shared_ptr<TTreeMapResult> DrawTreeMap(const TTreeMapRequest& Request,
                                            const std::atomic<bool>* Cancel) {
    const auto start = std::chrono::steady_clock::now();
    auto result = std::make_shared<TTreeMapResult>();
    result->Ticket = Request.Ticket;
    result->Root = Request.Root;
    result->RootPath = Request.RootPath;
    result->LargestFiles = Request.LargestFiles;
    const int width = std::clamp(Request.Width, 0, 0x7FFF);
    const int height = std::clamp(Request.Height, 0, 0x7FFF);
    result->Image = QImage(width, height, QImage::Format_RGB32);
    if (width > 0 && height > 0 && result->Image.isNull())
        throw std::bad_alloc();
    result->Image.fill(QColor::fromRgb(EmptyColour));
    if (Request.Root != nullptr && width > 0 && height > 0) {
        TTreeMapRequest clamped = Request;
        clamped.Width = width;
        clamped.Height = height;
        TMapPainter painter(clamped, Cancel, *result);
        if (!painter.Draw())
            return nullptr;
    }
    result->Items.shrink_to_fit();
    result->Milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return result;
}

// --- TTreeMapThread ------------------------------------------------------------------------

TTreeMapThread::TTreeMapThread(TDrawnEvent OnDrawn) : OnDrawn(std::move(OnDrawn)) {
    Worker = std::thread([this] { Execute(); });
}

TTreeMapThread::~TTreeMapThread() {
    {
        std::lock_guard guard(Lock);
        Stopping = true;
        Pending.reset();
        Cancel.store(true, std::memory_order_relaxed);
    }
    Changed.notify_all();
    Worker.join();
}

void TTreeMapThread::Request(TTreeMapRequest Value) {
    {
        std::lock_guard guard(Lock);
        Pending = std::make_unique<TTreeMapRequest>(std::move(Value));
        if (Drawing)
            Cancel.store(true, std::memory_order_relaxed);
    }
    Changed.notify_all();
}

void TTreeMapThread::ReleaseNodes() {
    std::unique_lock guard(Lock);
    Pending.reset();
    if (Drawing)
        Cancel.store(true, std::memory_order_relaxed);
    Changed.wait(guard, [this] { return !Drawing; });
}

bool TTreeMapThread::Busy() const {
    std::lock_guard guard(Lock);
    return Drawing || Pending != nullptr;
}

void TTreeMapThread::Execute() {
    ::pthread_setname_np(::pthread_self(), "QvTreeMap");
    for (;;) {
        std::unique_ptr<TTreeMapRequest> request;
        {
            std::unique_lock guard(Lock);
            Changed.wait(guard, [this] { return Stopping || Pending != nullptr; });
            if (Stopping)
                return;
            request = std::move(Pending);
            Drawing = true;
            Cancel.store(false, std::memory_order_relaxed);
        }
        std::shared_ptr<TTreeMapResult> result;
        try {
            result = DrawTreeMap(*request, &Cancel);
        } catch (const std::bad_alloc&) {
            // A map too large for the memory left: nothing is shown rather than the program
            // ending; the next request tries again.
        }
        bool report = false;
        {
            std::lock_guard guard(Lock);
            Drawing = false;
            report = result != nullptr && !Cancel.load(std::memory_order_relaxed);
        }
        Changed.notify_all();
        if (report)
            OnDrawn(std::move(result));
    }
}

} // namespace qv
