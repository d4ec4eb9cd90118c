#pragma once
// TFormMain: the program's main window and the owner of every long-lived object of a run:
// the scan threads, the current size tree, the favourites, the bar painters and the grid.
//
// Scanning: ScanPath and ScanFixedDrives start a new tree; ScanSubDirNode re-scans one
// directory in place. A scan asked for while threads run is queued in PendingScanPath, all
// threads are stopped, and it starts through a queued call once the last thread has ended
// (never from inside a termination event, whose thread is waiting for it).
//
// Threading: everything here runs on the GUI thread. Scan threads reach the window only
// through their termination events, which the dispatcher delivers on the GUI thread after
// the thread has unregistered itself.

#include "shell/MRUDirList.h"
#include "view/SizeFormat.h"
#include "view/VirtualFileTree.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QHeaderView;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;
class QToolButton;

namespace qv {

class TDirNode;
class TDirScanThread;
class TDirScanThreadList;
class TFileIconTable;
class TFrameInfoPanel;
class TIconRequestHousekeeping;
class TItemCommands;
class TOverviewPanels;
struct TMenuDrive;
class TFileSystemNode;
class TQtDispatcher;
class TQvBarChartPainter;
class TRootNode;
class TSettings;
class TSHGetFileInfoPropertiesList;
class TShellFileIconThread;
class TThread;
class TThreadJoiner;
class TShellFolderList;

// Column widths and positions as the settings keep them: one entry per column in index
// order, joined by ","; a width is negative for a hidden column, a position is the
// column's place from the left.
[[nodiscard]] std::string ColumnWidthsToString(const QHeaderView& Columns);
void StringToColumnWidths(std::string_view Text, QHeaderView& Columns);
[[nodiscard]] std::string ColumnPositionsToString(const QHeaderView& Columns);
void StringToColumnPositions(std::string_view Text, QHeaderView& Columns);

class TFormMain final : public QMainWindow {
public:
    // Builds the window, reads the settings and the view state, and scans the directory
    // named by the first of Args (the parameters after the program name), if it is one.
    explicit TFormMain(const std::vector<std::string>& Args = {});
    // Saves the settings and the view state, stops the scan threads without letting them
    // call back, and frees everything in order.
    ~TFormMain() override;

    // --- scan control ---------------------------------------------------------------------
    void ScanPath(const std::string& Path);
    void ScanFixedDrives();
    void ScanSubDirNode(TDirNode* Node);
    void RefreshPath(const std::string& Path);
    void RebuildView(int Style);
    void RefreshView();
    [[nodiscard]] int GetDirViewStyle() const;
    void SetDirViewStyle(int Style);
    // The flat view's nodes: the root, then every leaf of at least a thousandth of the
    // root's size; built on first use after each discard.
    [[nodiscard]] const std::vector<TFileSystemNode*>& GetFlatNodes();
    void ShowScanTime(double Seconds);

    // A drive appeared or went (the mount table changed): the menus follow.
    void DriveAdded(const std::string& Path);
    void DriveRemoved(const std::string& Path);

    // --- what tests and the other parts of the window look at ---------------------------
    [[nodiscard]] TVirtualFileTree& VirtualFileTree() const noexcept { return *FileTree; }
    [[nodiscard]] TRootNode* RootNode() const noexcept { return Root.get(); }
    [[nodiscard]] TDirScanThreadList& ScanThreads() const noexcept { return *Threads; }
    [[nodiscard]] const std::string& PendingScanPath() const noexcept { return PendingPath; }
    [[nodiscard]] const std::string& LastScanPath() const noexcept { return LastPath; }
    [[nodiscard]] TMRUDirList& Favourites() noexcept { return FavouriteDirs; }
    [[nodiscard]] QString StatusText(int Panel) const;
    // Whether scan threads run or the end of the last one has not been shown yet.
    [[nodiscard]] bool IsScanning() const;
    // The save dialog, answered by the user or a test; the chosen file and the one-based
    // filter index, nothing when cancelled.
    struct TSaveChoice {
        std::string FileName;
        int FilterIndex = 1;
    };
    std::function<std::optional<TSaveChoice>(const std::string& Dir, const std::string& Name,
                                             const std::string& Filter, int FilterIndex)>
        SaveDialog;
    // The drives "Local Drives" scans; unset: the fixed drives of the mount table.
    std::function<std::vector<std::string>()> FixedDriveRoots;
    // Whether the last scan was stopped by the user (said in the status bar until the next).
    [[nodiscard]] bool ScanStoppedShown() const noexcept { return ScanWasStopped; }

    // --- actions (named as the commands they run) --------------------------------------
    QAction* ActDirSelect = nullptr;
    QAction* ActShowTreeView = nullptr;
    QAction* ActShowFlatView = nullptr;
    QAction* ActRefresh = nullptr;
    QAction* ActStopScan = nullptr;
    QAction* ActOpenInExplorer = nullptr;
    QAction* ActSaveScanResult = nullptr;
    QAction* ActRefreshNode = nullptr;
    QAction* ActConfig = nullptr;
    QAction* ActDelete = nullptr;
    QAction* ActShellOpenFile = nullptr;
    QAction* ActScanFixedDrives = nullptr;
    QAction* MenuItemExit = nullptr;
    QAction* Info1 = nullptr;

    void ActDirSelectExecute();
    void ActRefreshExecute();
    void ActStopScanExecute();
    void ActRefreshNodeExecute();
    void ActSaveScanResultExecute();
    void ActOpenInExplorerExecute();
    void ActShellOpenFileExecute();
    void ActShowTreeViewExecute();
    void ActShowFlatViewExecute();
    // Del moves to the trash, Shift+Del (Shift held when the command runs) deletes
    // permanently.
    void ActDeleteExecute();
    // The item commands: open, show in folder, the item menus, deleting.
    [[nodiscard]] TItemCommands& ItemCommands() const noexcept { return *Commands; }
    // Clicked: the row double-clicked.
    void VirtualFileTreeDblClick(const QModelIndex& Clicked);
    // Re-evaluates every action's enabling rule.
    void UpdateActions();

    // Applies the preferences: refresh rate, rounding style, bar painter, child bars.
    void ApplySettings(const TSettings& Settings);
    // Puts every text of the window into the current language.
    void Retranslate();

    // The preferences dialog on the settings store.
    void ActConfigExecute();
    // The dialog applied Settings: the window shows them, in their language, and says when
    // a change takes effect only with the next scan.
    void SettingsApplied(TSettings& Settings);
    // The info panel's refresh of Path.
    void InfoPanelRefreshPath(const std::string& Path);
    [[nodiscard]] TFrameInfoPanel& InfoPanel() const noexcept { return *FInfoPanel; }
    // The treemap, the largest files and the file types.
    [[nodiscard]] TOverviewPanels& Overview() const noexcept { return *Panels; }
    // An item's path and size in the status bar (the grid's current row, the map's hover).
    void ShowItemInStatusBar(const std::string& Path, std::int64_t Size);

protected:
    void changeEvent(QEvent* Event) override;

private:
    friend class TItemCommands;

    void CreateActions();
    void CreateMenus();
    void CreateStatusBar();
    void CreateTimers();
    void ProcessCommandLine(const std::vector<std::string>& Args);
    void SetDefaultSort();
    void LoadViewState();
    void SaveViewState(bool ShowErrors = true);
    void RebuildFavouritesMenus();
    void SpecialFoldersLoaded();
    // The drives the menus offer, in the mount table's order.
    [[nodiscard]] std::vector<TMenuDrive> MenuDrives() const;

    void ScanTerminated(TThread& Thread);
    void SubDirScanTerminated(TThread& Thread);
    void ScanFinished(TDirScanThread& Thread);
    void StartPendingScan();
    void StartProgressTimers();
    void ShowScanStopped(bool Stopped);
    // Shows NewRoot and frees the old tree once no row refers to it.
    void ReplaceRoot(std::unique_ptr<TRootNode> NewRoot);
    void DiscardFlatNodes() { FlatNodes.reset(); }
    void BuildFlatList();
    void VirtualFileTreeChange(TFileSystemNode* Node);
    void TimerAniSearchTimer();
    void TimerTreeRefreshTimer();
    void TimerStatusBarTimer();

    // Declared first so that it is destroyed last: the threads report through it.
    std::unique_ptr<TQtDispatcher> Dispatcher;
    std::unique_ptr<TDirScanThreadList> Threads;
    std::unique_ptr<TRootNode> Root;
    std::optional<std::vector<TFileSystemNode*>> FlatNodes;
    TDirScanThread* MainScanThread = nullptr;
    double LastScanSeconds = -1; // of the last thread that scanned the current tree
    bool ScanWasStopped = false;
    std::string PendingPath;
    std::string LastPath;
    TMRUDirList FavouriteDirs;
    std::unique_ptr<TFileIconTable> Icons;
    // The drive roots and well-known folders with their icons, resolved once on a worker;
    // after Icons, which it refers to. The worker's handle is joined at the end.
    std::shared_ptr<TThreadJoiner> Workers;
    std::unique_ptr<TShellFolderList> SpecialFolders;
    // File icons found on a worker for the grid (after Icons, which the worker answers into).
    std::unique_ptr<TSHGetFileInfoPropertiesList> IconRequests;
    std::unique_ptr<TShellFileIconThread> IconThread;
    std::unique_ptr<TIconRequestHousekeeping> IconHousekeeping;
    std::unique_ptr<TQvBarChartPainter> BarPainter;
    std::unique_ptr<TQvBarChartPainter> ChildBarPainter;
    TFileTreeSource Source;
    std::string ColWidthsTree;
    std::string ColWidthsFlat;
    QString Caption;

    TVirtualFileTree* FileTree = nullptr;
    TFrameInfoPanel* FInfoPanel = nullptr;
    TItemCommands* Commands = nullptr;
    TOverviewPanels* Panels = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* StatusStopped = nullptr;
    QMenu* MenuFile = nullptr;
    QMenu* MenuItemMRUDirList = nullptr;
    QMenu* Bearbeiten1 = nullptr;
    QMenu* MenuView = nullptr;
    QMenu* Hilfe1 = nullptr;
    QMenu* PopupMRUDirList = nullptr;
    QToolBar* ToolBarMain = nullptr;
    QToolButton* ToolBtnFavorites = nullptr;
    QActionGroup* ViewStyleGroup = nullptr;
    QTimer* TimerAniSearch = nullptr;
    QTimer* TimerTreeRefresh = nullptr;
    QTimer* TimerStatusBar = nullptr;
};

} // namespace qv
