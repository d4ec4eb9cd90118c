#pragma once
// Draws the treemap of a subtree on a worker thread ("QvTreeMap"): walks the size tree from
// the zoom root, lays each folder's children out squarified, shades every rectangle as a
// cushion and colours files by type, into a QImage; with it come the rectangles the view
// needs for hit-testing, the selection outline and the type highlight.
//
// The tree's files are nodes only in folders whose files were listed. The files of any
// other folder (and a "Grouped Files" node whose files were not listed) are one neutral
// block, except that the largest files of the scan that lie directly in that folder are cut
// out of it as rectangles of their own, found by path.
//
// Threading: Request and ReleaseNodes on the GUI thread (the thread that frees nodes).
// The worker reads the tree as tree/TreeTypes.h allows: a group node's children only under
// its lock, copying what it needs; a directory is followed outside its parent's lock (only
// the GUI thread frees directories, and it calls ReleaseNodes first); a "Grouped Files" node,
// which a scan thread may dissolve, is read only while its parent's lock is held. OnDrawn
// runs on the worker; the receiver passes the result on to the GUI thread.

#include "scan/ScanStatistics.h"
#include "view/FileTypeColours.h"

#include <QImage>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv {

class TFileSystemNode;
class TGroupNode;

enum TMapItemKind : std::uint8_t {
    // A folder; Node is the folder.
    mkDirectory,
    // A file node; Node is the file.
    mkFile,
    // A folder's files that are not nodes (its own unlisted files, or a "Grouped Files" node
    // whose files were not listed); Node is the folder.
    mkUnlistedFiles,
    // One of the largest files, cut out of its folder's unlisted files; Node is the folder,
    // LargeFile its index in the request's list.
    mkLargeFile,
};

// One rectangle of the map, in image pixels. Items are in drawing order, a folder before
// what lies in it; Next is the index after the folder's last descendant, so a hit test
// skips whole folders.
struct TMapItem {
    TFileSystemNode* Node = nullptr;
    std::int64_t Size = 0;
    std::int16_t X = 0;
    std::int16_t Y = 0;
    std::int16_t W = 0;
    std::int16_t H = 0;
    std::uint32_t Next = 0;
    // Index into TTreeMapResult::Types; NoType for folders and unlisted files.
    std::uint32_t Type = NoType;
    // mkLargeFile: index into the request's largest files.
    std::uint32_t LargeFile = 0;
    std::uint16_t Depth = 0;
    TMapItemKind Kind = mkDirectory;

    static constexpr std::uint32_t NoType = 0xFFFFFFFFu;
    [[nodiscard]] bool Contains(int PX, int PY) const noexcept {
        return PX >= X && PY >= Y && PX < X + W && PY < Y + H;
    }
};

struct TTreeMapRequest {
    // The zoom root: a directory node. The GUI thread keeps it alive until ReleaseNodes.
    TGroupNode* Root = nullptr;
    // Its full path, as GetFullPath gives it (taken on the GUI thread).
    std::string RootPath;
    int Width = 0;
    int Height = 0;
    std::shared_ptr<const std::vector<TLargeFile>> LargestFiles;
    std::shared_ptr<const TFileTypeColours> Colours;
    // The receiver's number for the request, handed back with the result.
    std::uint64_t Ticket = 0;
};

struct TTreeMapResult {
    std::uint64_t Ticket = 0;
    TGroupNode* Root = nullptr;
    std::string RootPath;
    QImage Image;
    std::vector<TMapItem> Items;
    // The file types of the items, each once.
    std::vector<std::string> Types;
    std::shared_ptr<const std::vector<TLargeFile>> LargestFiles;
    // Rectangles under the hit-list's size limit, or beyond its count limit, are drawn but
    // not listed.
    std::size_t NodesVisited = 0;
    double Milliseconds = 0;

    // The index of the innermost item at (PX, PY); -1 when there is none. Folder, when
    // given, receives the innermost folder there (-1 for none).
    [[nodiscard]] int HitTest(int PX, int PY, int* Folder = nullptr) const noexcept;
    // The index of Type in Types; TMapItem::NoType when no item has it.
    [[nodiscard]] std::uint32_t TypeIndex(std::string_view Type) const noexcept;
};

// Draws Request into a result on the calling thread; Cancel, when set, ends the walk early
// (the result is then incomplete, and null is returned). For the worker and for tests.
[[nodiscard]] std::shared_ptr<TTreeMapResult> DrawTreeMap(const TTreeMapRequest& Request,
                                                          const std::atomic<bool>* Cancel);

class TTreeMapThread {
public:
    using TDrawnEvent = std::function<void(std::shared_ptr<TTreeMapResult> Result)>;

    explicit TTreeMapThread(TDrawnEvent OnDrawn);
    // Stops the drawing under way at its next check and joins the worker.
    ~TTreeMapThread();
    TTreeMapThread(const TTreeMapThread&) = delete;
    TTreeMapThread& operator=(const TTreeMapThread&) = delete;

    // Draws Request next: a request still waiting is replaced, a drawing under way is
    // stopped (its result is never reported).
    void Request(TTreeMapRequest Value);
    // Drops the waiting request, stops the drawing under way and waits until the worker has
    // left the tree (within a millisecond or two: it checks every few hundred nodes). Call
    // before freeing nodes. A result reported before may still be on its way to the
    // receiver, which must drop it (its tickets tell).
    void ReleaseNodes();
    // Whether a request waits or a drawing is under way.
    [[nodiscard]] bool Busy() const;

private:
    void Execute();

    TDrawnEvent OnDrawn;
    mutable std::mutex Lock;
    std::condition_variable Changed;
    std::unique_ptr<TTreeMapRequest> Pending;
    bool Drawing = false; // the worker is inside the tree
    bool Stopping = false;
    std::atomic<bool> Cancel{false};
    std::thread Worker;
};

} // namespace qv
