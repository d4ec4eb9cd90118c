#pragma once
// The views that show the space at a glance, around the grid: the treemap under it, the
// largest files and the space per file type beside it. The window owns one and tells it what
// happens to its tree (a new tree, scans that start and end, nodes about to be freed, items
// deleted); the panels keep the map and the lists in step with the grid's selection and with
// each other, and act on their items through the window's item commands.
//
// Threading: GUI thread only. The treemap reads the tree on its own worker: every caller
// that frees nodes calls BeforeNodesFreed first, and NodesFreed once they are gone.

#include "scan/ScanStatistics.h"

#include <QObject>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QSplitter;
class QTabWidget;
class QWidget;

namespace qv {

class TDirScanThread;
class TFileSystemNode;
class TFileTypeColours;
class TFileTypesView;
class TFormMain;
class TGroupNode;
class TLargestFilesView;
class TSettings;
class TTreeMapView;
class TVirtualFileTree;
struct TTreeMapHit;

// Selects Node's row in Grid, opening the rows down to it (folders' rows are made on the
// way). A node that has no row yet (a file whose folder was never listed) leaves the nearest
// folder selected. Returns whether Node's own row was selected.
bool SelectNodeInGrid(TVirtualFileTree& Grid, const TFileSystemNode& Node);

class TOverviewPanels final : public QObject {
public:
    TOverviewPanels(TFormMain& Form, TVirtualFileTree& Grid);
    ~TOverviewPanels() override;

    // The grid with the lists beside it and the map under both: the window's centre.
    [[nodiscard]] QWidget* Widget() const noexcept;
    // The View menu's entries (the window puts the menu in its menu bar).
    void FillMenu(QMenu& Menu);
    QAction* ActShowTreeMap = nullptr;
    QAction* ActShowLargestFiles = nullptr;
    QAction* ActShowFileTypes = nullptr;
    QAction* ActTreeMapZoomOut = nullptr;

    // --- what the window tells ---------------------------------------------------------
    // A new tree (or none): what was known of the old one goes.
    void TreeReplaced(TGroupNode* Root);
    // Thread is about to be resumed: its scan fills statistics of its own.
    void ScanStarted(TDirScanThread& Thread);
    // Thread's scan ended (stopped or not); its node may be gone.
    void ScanEnded(TDirScanThread& Thread);
    // No scan runs any longer.
    void ScanFinished();
    // The refresh tick while scans run.
    void Tick();
    // Nodes are about to be freed: Node itself (Itself) or only what lies below it; nullptr:
    // the whole tree. The map's worker has left the tree when this returns.
    void BeforeNodesFreed(const TFileSystemNode* Node, bool Itself);
    // The freed nodes are gone: the map is drawn again.
    void NodesFreed();
    // The user deleted Path (a folder or a file of these sizes).
    void ItemDeleted(const std::string& Path, bool Folder, std::int64_t Size,
                     std::int64_t SizeOnDisk);
    // The grid's selection changed.
    void GridSelectionChanged();

    void LoadViewState(const TSettings& Settings);
    void SaveViewState(TSettings& Settings) const;
    void Retranslate();
    // Stops the map's worker for good: before the window frees its tree.
    void Shutdown();

    // --- what tests look at --------------------------------------------------------------
    [[nodiscard]] TTreeMapView& TreeMap() const noexcept { return *Map; }
    [[nodiscard]] TLargestFilesView& LargestFiles() const noexcept { return *Largest; }
    [[nodiscard]] TFileTypesView& FileTypes() const noexcept { return *Types; }
    [[nodiscard]] const TTreeStatistics& Statistics() const noexcept { return Stats; }

private:
    void CreateActions();
    // The lists and the map's inputs from the statistics as they are now.
    void UpdateLists();
    void ShowSide(int Tab, bool Visible);
    void SideVisibilityChanged();
    void MapClicked(const TTreeMapHit& Hit);
    void MapMenu(const TTreeMapHit& Hit, QPoint Global);
    void LargestSelected(const std::vector<std::string>& Paths);

    TFormMain& Form;
    TVirtualFileTree& Grid;
    QSplitter* Vertical = nullptr;
    QSplitter* Horizontal = nullptr;
    QTabWidget* Side = nullptr;
    TTreeMapView* Map = nullptr;
    TLargestFilesView* Largest = nullptr;
    TFileTypesView* Types = nullptr;
    TTreeStatistics Stats;
    std::map<const TDirScanThread*, std::shared_ptr<TScanStatistics>> Running;
    std::shared_ptr<const TFileTypeColours> Colours;
};

} // namespace qv
