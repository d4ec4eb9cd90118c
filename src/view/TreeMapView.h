#pragma once
// The treemap panel: shows the picture TTreeMapThread drew of the zoom root, one pixel for
// one pixel, and answers the mouse and the keyboard from the rectangles that came with it.
// Selection outlines, the hover outline and the highlight of one file type are drawn over
// the picture here, never by drawing the map again.
//
// The view never owns nodes. Whoever frees nodes calls ReleaseNodes first (which waits until
// the worker has left the tree) and, when the top or the zoom root went, SetRoot before the
// event loop runs again; afterwards Redraw brings the picture up to date.
//
// Threading: GUI thread only. No tree walk and no layout run here: a request copies a few
// pointers, a result is handed over by a queued call.

#include "scan/ScanStatistics.h"
#include "view/FileTypeColours.h"
#include "view/TreeMapThread.h"

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class TFileSystemNode;
class TGroupNode;

// What lies under a point of the map.
struct TTreeMapHit {
    // The folder or file; for a folder's unlisted files and the largest files cut out of
    // them, that folder.
    TFileSystemNode* Node = nullptr;
    // The file's or folder's path (for unlisted files, their folder's).
    std::string Path;
    std::int64_t Size = 0;
    TMapItemKind Kind = mkDirectory;
    // The file type; empty for folders and unlisted files.
    std::string Type;
};

// The longest time each kind of GUI-thread call of the view took, in milliseconds.
struct TTreeMapViewTimes {
    double Request = 0;  // Redraw: taking the request to the worker
    double Handover = 0; // taking a result in
    double Paint = 0;    // paintEvent
    // From the last request to its result being shown.
    double LastRequestToResult = 0;
};

class TTreeMapView final : public QWidget {
public:
    explicit TTreeMapView(QWidget* Parent = nullptr);
    ~TTreeMapView() override;

    // The tree's top (a directory node, or null for none); the zoom goes back to it.
    void SetRoot(TGroupNode* Root);
    [[nodiscard]] TGroupNode* Root() const noexcept { return Top; }
    // The folder the map shows.
    [[nodiscard]] TGroupNode* ZoomRootNode() const noexcept { return Zoom; }
    // Shows the folder Node (a "Grouped Files" node: its folder). Node must lie in the tree.
    void ZoomIn(TGroupNode* Node);
    // Back to the zoom root's parent, stopping at the top.
    void ZoomOut();
    void ZoomRoot();
    [[nodiscard]] bool CanZoomOut() const noexcept { return Zoom != nullptr && Zoom != Top; }

    // The largest files of the scan: cut out of their folders' unlisted files at the next
    // drawing.
    void SetLargestFiles(std::vector<TLargeFile> Files);
    // The colours of the file types; at the next drawing.
    void SetTypeColours(std::shared_ptr<const TFileTypeColours> Colours);
    // Outlined at once (folders and file nodes; only compared, never read).
    void SetSelectedNodes(std::vector<const TFileSystemNode*> Nodes);
    // Every other rectangle is dimmed; empty: none.
    void SetHighlightedType(std::string Type);
    // Asks for a new drawing now (the picture shown stays until it is done).
    void Redraw();
    // While a scan runs: a new drawing at most every CalmInterval, and never while one is
    // under way; switching it off draws once more.
    void SetCalmRedraw(bool Value);
    static constexpr int CalmInterval = 2000; // ms
    // Call before freeing nodes: stops the drawing under way, waits until the worker has
    // left the tree and forgets every node of the picture shown (it stays, without hit
    // tests, until the next drawing). Freed, when given, is the node about to be freed: a
    // zoom root at or below it goes to Freed's parent (with the top, the view is empty).
    void ReleaseNodes(const TFileSystemNode* Freed = nullptr);

    // The rectangle under Pos (widget coordinates); none outside the map or after
    // ReleaseNodes.
    [[nodiscard]] std::optional<TTreeMapHit> HitAt(QPoint Pos) const;
    // The picture shown and its rectangles; null before the first drawing.
    [[nodiscard]] const TTreeMapResult* Result() const noexcept { return Current.get(); }
    // Whether a drawing was asked for and has not been shown yet.
    [[nodiscard]] bool IsDrawing() const noexcept { return Awaited != 0; }
    [[nodiscard]] const TTreeMapViewTimes& Times() const noexcept { return GuiTimes; }
    void ResetTimes() noexcept { GuiTimes = {}; }

    // The rectangle under the mouse changed: its path and size; an empty path when the mouse
    // left the map.
    std::function<void(const std::string& Path, std::int64_t Size)> OnHover;
    std::function<void(const TTreeMapHit& Hit)> OnClicked;
    std::function<void(const TTreeMapHit& Hit, QPoint GlobalPos)> OnContextMenu;
    std::function<void()> OnZoomChanged;
    // A new picture is shown.
    std::function<void()> OnDrawn;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void leaveEvent(QEvent* Event) override;
    bool event(QEvent* Event) override;

private:
    void Accept(std::shared_ptr<TTreeMapResult> Drawn);
    void SetZoom(TGroupNode* Node);
    [[nodiscard]] TTreeMapHit HitOf(int Index) const;
    [[nodiscard]] QRect ItemRect(int Index) const;
    void SetHover(int Index);
    void UpdateSelection();
    void UpdateHighlight();

    TGroupNode* Top = nullptr;
    TGroupNode* Zoom = nullptr;
    std::shared_ptr<const std::vector<TLargeFile>> LargestFiles;
    std::shared_ptr<const TFileTypeColours> Colours;
    std::vector<const TFileSystemNode*> Selected;
    std::string HighlightedType;
    std::shared_ptr<TTreeMapResult> Current;
    // Drawn over the picture: the selected items' rectangles, the picture with every other
    // type dimmed (null: no highlight), the outlines of the highlighted items (when few).
    std::vector<QRect> SelectionRects;
    QImage Highlighted;
    std::vector<QRect> HighlightRects;
    int Hover = -1;
    std::uint64_t NextTicket = 0;
    // The ticket of the drawing to show next; 0 when none is awaited.
    std::uint64_t Awaited = 0;
    std::int64_t RequestedAt = 0; // ns, steady clock
    bool Calm = false;
    // A drawing was asked for while the map was hidden.
    bool Stale = false;
    TTreeMapViewTimes GuiTimes;
    QTimer ResizeTimer;
    QTimer CalmTimer;
    // Last: joined first, before anything its results are handed to goes.
    std::unique_ptr<TTreeMapThread> Thread;
};

} // namespace qv
