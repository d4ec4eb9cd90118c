#pragma once
// The tree-grid of the main window: a QTreeView over a model whose rows are the grid's own,
// as in a virtual tree control. Each row holds one reference to a size-tree node and, once
// its children were asked for, its children's rows in the current sort order. A node's
// child list is read only when a row makes its children (fetchMore) or when the rows are
// brought up to date (Refresh), always under the node's child lock; so the rows stay
// consistent while scan threads append to the lists.
//
// Sizes and counts are read once per refresh into the rows (a snapshot): the texts, the
// bars and the sort order of one tick agree with each other, and painting never walks a
// subtree that is still being scanned.
//
// The grid never owns nodes. Whoever frees nodes tells the model first (ReleaseChildren,
// RemoveNodeRows, Rebuild), so no row refers to a freed node.
//
// Threading: GUI thread only.

#include "view/SizeFormat.h"

#include <QAbstractItemModel>
#include <QMenu>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <functional>
#include <memory>
#include <vector>

namespace qv {

class TFileSystemNode;
class TGroupNode;
class TRootNode;
class TQvBarChartPainter;
class TFileIconTable;
class TShellFileIconThread;
class TSHGetFileInfoPropertiesList;

// GetDirViewStyle's values.
enum TDirViewStyle : int {
    dvsTree = 0,
    dvsFlat = 1,
};

enum TFileTreeColumn : int {
    fcName = 0,
    fcSize = 1,
    fcPercent = 2,
    fcFiles = 3,
    // The bytes allocated on disk; hidden until the user asks for it. Last, so that saved
    // column widths and positions from before it still apply to the others.
    fcSizeOnDisk = 4,
    fcColumnCount = 5,
};

// The header's property that keeps the widths hidden columns had ({"column": width}), so
// that a hidden column is saved with its width and comes back with it.
inline constexpr const char* HiddenColumnWidthsProperty = "qvHiddenWidths";

// What the grid reads from the window while it paints; the window owns all of it and
// changes it at will (a repaint follows).
struct TFileTreeSource {
    TRootNode* RootNode = nullptr;
    TSizeFormatFunc SizeFormatter = FormatSizeRoundDown;
    TQvBarChartPainter* BarPainter = nullptr;      // null: no main bar
    TQvBarChartPainter* ChildBarPainter = nullptr; // null: no child bar
    bool DrawChildBar = true;
    int AniFrame = 0;                // 0..7, the frame of the scan animation
    TFileIconTable* Icons = nullptr; // null: no icons
    // Where file icons are asked for, off the GUI thread (a file shows the generic icon until
    // its answer is in); both null: looked up while painting.
    TShellFileIconThread* IconThread = nullptr;
    TSHGetFileInfoPropertiesList* IconRequests = nullptr;
};

class TFileTreeModel final : public QAbstractItemModel {
public:
    // Extra data roles the delegate and the window read.
    enum TRole {
        NodeRole = Qt::UserRole + 1, // TFileSystemNode* as quintptr; 0 for the placeholder
        StaticTextRole,              // QString: the error message or the free-space text
        StaticTextIsErrorRole,       // bool: the static text is an error message
        SizeRole,                    // qint64: the snapshot size
        PercentRole,                 // double: share of the root; -1 without a main bar
        ChildPercentRole,            // double: share of the parent; -1 without a child bar
        ScanningRole,                // bool: a group node being scanned (animation)
        OverlayRole,                 // int: TOverlayImage, or -1
        GhostedRole,                 // bool: hidden file or directory
    };

    TFileTreeModel(TFileTreeSource& Source, QObject* Parent = nullptr);
    ~TFileTreeModel() override;

    // Throws every row away and makes the top rows again (a model reset): in the tree
    // style one row for Source.RootNode, or the placeholder row without one; in the flat
    // style one row per entry of FlatNodes (at least one: a placeholder when it is empty),
    // sorted at once. Children are made again on demand.
    void Rebuild(int Style, const std::vector<TFileSystemNode*>& FlatNodes = {});
    [[nodiscard]] int Style() const noexcept;

    // Brings the rows made so far up to date with the growing tree: rows for new children
    // of every row whose children were made, a new snapshot of sizes and counts, each
    // level re-sorted (stable: equal keys keep their order), announced as row insertions
    // and one layout change; so the view keeps expansion, selection, the current row and
    // its scroll position. In the flat style only the snapshot and the order are renewed.
    void Refresh();

    // Removes the rows of Node's children, to be made again on demand; Node's own rows
    // stay. Call before Node's children are freed (a re-scan of Node).
    void ReleaseChildren(const TGroupNode& Node);
    // Removes every row of Node (and so of its subtree). Call before Node is freed.
    void RemoveNodeRows(const TFileSystemNode& Node);

    // The sort column and direction; sort() applies them to every level made so far
    // without making new rows.
    [[nodiscard]] int SortColumn() const noexcept;
    [[nodiscard]] Qt::SortOrder SortOrder() const noexcept;
    void sort(int Column, Qt::SortOrder Order = Qt::AscendingOrder) override;

    // CompareNodes: negative, 0 or positive, before the direction is applied. Column 0
    // compares names (full paths in the flat style) with the user's collation, case
    // sensitive; 1 and 2 sizes; 3 file counts; 4 sizes on disk. No secondary key.
    [[nodiscard]] int CompareNodes(const TFileSystemNode& A, const TFileSystemNode& B,
                                   int Column) const;

    // The node of a row; nullptr for the placeholder and an invalid index.
    [[nodiscard]] TFileSystemNode* NodeOf(const QModelIndex& Index) const;
    // The first made row bound to Node, in display order; invalid when there is none.
    [[nodiscard]] QModelIndex IndexOf(const TFileSystemNode* Node) const;
    // Whether the children of Index's row have been made.
    [[nodiscard]] bool ChildrenMade(const QModelIndex& Index) const;
    // The rows whose files are being listed on the worker. A row that opens gets its
    // folders at once and its files when the listing arrives, in a later event.
    [[nodiscard]] int ListingCount() const noexcept;

    // QAbstractItemModel.
    [[nodiscard]] QModelIndex index(int Row, int Column,
                                    const QModelIndex& Parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& Index) const override;
    [[nodiscard]] int rowCount(const QModelIndex& Parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& Parent = {}) const override;
    [[nodiscard]] bool hasChildren(const QModelIndex& Parent = {}) const override;
    [[nodiscard]] bool canFetchMore(const QModelIndex& Parent) const override;
    void fetchMore(const QModelIndex& Parent) override;
    [[nodiscard]] QVariant data(const QModelIndex& Index, int Role) const override;
    [[nodiscard]] QVariant headerData(int Section, Qt::Orientation Orientation,
                                      int Role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& Index) const override;

    // The column captions changed language: the header is told.
    void Retranslate();

private:
    struct TRow;
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

// Paints the cells: icon, name and static text; size and the scan animation; the two bars
// through the window's painters; the file count.
class TFileTreeDelegate final : public QStyledItemDelegate {
public:
    TFileTreeDelegate(TFileTreeSource& Source, QObject* Parent = nullptr);
    void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
               const QModelIndex& Index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& Option,
                                 const QModelIndex& Index) const override;
    // Tool tips for texts cut off by their column.
    bool helpEvent(QHelpEvent* Event, QAbstractItemView* View, const QStyleOptionViewItem& Option,
                   const QModelIndex& Index) override;

private:
    TFileTreeSource& Source;
};

// The grid itself: the view, its header rules and the row bookkeeping across rebuilds.
class TVirtualFileTree final : public QTreeView {
public:
    explicit TVirtualFileTree(TFileTreeSource& Source, QWidget* Parent = nullptr);
    ~TVirtualFileTree() override;

    [[nodiscard]] TFileTreeModel& Model() const noexcept { return *FileModel; }
    [[nodiscard]] int GetDirViewStyle() const noexcept;

    // Makes the rows again in Style and restores what the user sees: the focused node
    // becomes the current row again, the selected nodes are selected again among the rows
    // made, rows whose node has its Expanded flag set (and the top row in the tree style)
    // are expanded. The scroll offsets are the caller's (RefreshView) to keep.
    void RebuildRows(int Style, const std::vector<TFileSystemNode*>& FlatNodes = {});
    // The tree style's refresh tick: Model().Refresh(), then new rows whose node has its
    // Expanded flag set are expanded, and the error rows span their columns.
    void RefreshRows();

    // The header click rule: the sort column toggles the direction, another column
    // becomes the sort column with the direction kept; then every level made is sorted.
    void HeaderClick(int Column);
    // Sets the sort column and direction (and the header's indicator) and sorts.
    void SetSort(int Column, Qt::SortOrder Order);

    // Nodes of the selected rows, in display order; rows without a node are left out.
    [[nodiscard]] std::vector<TFileSystemNode*> SelectedNodes() const;
    // The first selected row in display order; invalid when none is selected.
    [[nodiscard]] QModelIndex FirstSelectedIndex() const;
    // The node of the current (focused) row; nullptr when there is none.
    [[nodiscard]] TFileSystemNode* FocusedNode() const;
    // The nearest ancestor row of Index that is visible (all its ancestors expanded);
    // invalid for a top row.
    [[nodiscard]] QModelIndex NearestVisibleAncestor(const QModelIndex& Index) const;
    // If a visible row shows Node: repaints it and scrolls it to the vertical centre.
    void ShowNodeRow(const TFileSystemNode* Node);

    // Called with the current row's node whenever the current row changes (also to
    // nullptr); the window shows its path and size.
    std::function<void(TFileSystemNode*)> OnChange;
    // Called after a row was expanded or collapsed by the user or by a rebuild.
    std::function<void()> OnExpansionChanged;

    // Incremental search over the visible rows: the typed prefix against the names of
    // column 0 without regard to case, whichever column holds the current cell.
    void keyboardSearch(const QString& Search) override;

    // Shows Column, or hides it keeping its width (HiddenColumnWidthsProperty) for the
    // saved view state; the name column always shows.
    void SetColumnVisible(int Column, bool Visible);
    // The header's menu of columns: one checkable entry per column but the name, checked
    // while the column shows; choosing one shows or hides it.
    [[nodiscard]] std::unique_ptr<QMenu> MakeColumnsMenu();

protected:
    void resizeEvent(QResizeEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void dataChanged(const QModelIndex& TopLeft, const QModelIndex& BottomRight,
                     const QList<int>& Roles = QList<int>()) override;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
    TFileTreeModel* FileModel;
};

} // namespace qv
