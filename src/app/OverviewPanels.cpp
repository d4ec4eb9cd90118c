#include "app/OverviewPanels.h"

#include "app/FormMain.h"
#include "app/ItemCommands.h"
#include "scan/ScanThread.h"
#include "settings/QvSettings.h"
#include "tree/TreeTypes.h"
#include "view/FileTypeColours.h"
#include "view/QtText.h"
#include "view/StatisticsViews.h"
#include "view/TreeMapView.h"
#include "view/VirtualFileTree.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <charconv>

namespace qv {

namespace {

enum TSideTab { stLargestFiles = 0, stFileTypes = 1 };

// "120,80" of a splitter's sizes; nothing when a part is not a number.
std::vector<int> SplitSizes(std::string_view Text) {
    std::vector<int> Sizes;
    while (!Text.empty()) {
        const std::size_t Comma = std::min(Text.find(','), Text.size());
        int Value = -1;
        const std::string_view Part = Text.substr(0, Comma);
        const auto [End, Error] = std::from_chars(Part.data(), Part.data() + Part.size(), Value);
        if (Error != std::errc() || End != Part.data() + Part.size() || Value < 0) {
            return {};
        }
        Sizes.push_back(Value);
        Text.remove_prefix(std::min(Comma + 1, Text.size()));
    }
    return Sizes;
}

std::string SizesText(const QList<int>& Sizes) {
    std::string Text;
    for (int Size : Sizes) {
        if (!Text.empty()) {
            Text += ',';
        }
        Text += std::to_string(Size);
    }
    return Text;
}

void RestoreSizes(QSplitter& Splitter, std::string_view Text) {
    const std::vector<int> Sizes = SplitSizes(Text);
    if (Sizes.size() == std::size_t(Splitter.count()) &&
        std::any_of(Sizes.begin(), Sizes.end(), [](int Size) { return Size > 0; })) {
        Splitter.setSizes(QList<int>(Sizes.begin(), Sizes.end()));
    }
}

// A part shown for the first time, or dragged down to a sliver, gets Share fifths of the
// room: a map a few pixels high shows nothing.
void GiveRoom(QSplitter& Splitter, int Share) {
    QList<int> Sizes = Splitter.sizes();
    const int Total = Sizes.value(0) + Sizes.value(1);
    if (Sizes.size() != 2 || Total <= 0 || Sizes[1] >= 120) {
        return;
    }
    Sizes[1] = Total * Share / 5;
    Sizes[0] = Total - Sizes[1];
    Splitter.setSizes(Sizes);
}

} // namespace

bool SelectNodeInGrid(TVirtualFileTree& Grid, const TFileSystemNode& Node) {
    TFileTreeModel& Model = Grid.Model();
    QModelIndex Found = Model.IndexOf(&Node);
    if (!Found.isValid() && Grid.GetDirViewStyle() == dvsTree) {
        // Down from the top: each folder's rows are made when it is reached.
        std::vector<const TFileSystemNode*> Chain;
        for (const TFileSystemNode* Up = &Node; Up; Up = Up->Parent()) {
            Chain.push_back(Up);
        }
        for (auto It = Chain.rbegin(); It != Chain.rend(); ++It) {
            const QModelIndex Index = Model.IndexOf(*It);
            if (!Index.isValid()) {
                continue; // "Local Drives" or a top without a row of its own
            }
            Found = Index;
            if (*It == &Node) {
                break;
            }
            if (!Model.ChildrenMade(Index)) {
                Model.fetchMore(Index);
            }
        }
    }
    if (!Found.isValid()) {
        return false;
    }
    for (QModelIndex Up = Found.parent(); Up.isValid(); Up = Up.parent()) {
        Grid.setExpanded(Up, true);
    }
    Grid.selectionModel()->setCurrentIndex(Found, QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);
    Grid.scrollTo(Found);
    return Model.NodeOf(Found) == &Node;
}

TOverviewPanels::TOverviewPanels(TFormMain& Form, TVirtualFileTree& Grid)
    : QObject(&Form), Form(Form), Grid(Grid) {
    Vertical = new QSplitter(Qt::Vertical, &Form);
    Vertical->setObjectName(QStringLiteral("OverviewSplitter"));
    Horizontal = new QSplitter(Qt::Horizontal, Vertical);
    Horizontal->setObjectName(QStringLiteral("SideSplitter"));
    Horizontal->addWidget(&Grid);
    Side = new QTabWidget(Horizontal);
    Side->setObjectName(QStringLiteral("SidePanel"));
    Largest = new TLargestFilesView(Side);
    Types = new TFileTypesView(Side);
    Side->addTab(Largest, QString());
    Side->addTab(Types, QString());
    Horizontal->addWidget(Side);
    Horizontal->setStretchFactor(0, 3);
    Horizontal->setStretchFactor(1, 2);
    Horizontal->setCollapsible(0, false);
    Side->setVisible(false);
    Map = new TTreeMapView(Vertical);
    Map->setObjectName(QStringLiteral("TreeMap"));
    Vertical->addWidget(Horizontal);
    Vertical->addWidget(Map);
    Vertical->setStretchFactor(0, 3);
    Vertical->setStretchFactor(1, 2);
    Vertical->setCollapsible(0, false);
    Map->setVisible(false);
    CreateActions();

    Map->OnHover = [this](const std::string& Path, std::int64_t Size) {
        if (!Path.empty()) {
            this->Form.ShowItemInStatusBar(Path, Size);
        }
    };
    Map->OnClicked = [this](const TTreeMapHit& Hit) { MapClicked(Hit); };
    Map->OnContextMenu = [this](const TTreeMapHit& Hit, QPoint Global) { MapMenu(Hit, Global); };
    Map->OnZoomChanged = [this] { ActTreeMapZoomOut->setEnabled(Map->CanZoomOut()); };

    Largest->OnActivated = [this](const std::string& Path) {
        this->Form.ItemCommands().OpenPath(Path);
    };
    Largest->OnSelectionChanged = [this](std::vector<std::string> Paths) {
        LargestSelected(Paths);
    };
    Largest->OnContextMenu = [this](std::vector<std::string> Paths, QPoint Global) {
        this->Form.ItemCommands().PopupMenuForPaths(Paths, Global);
    };
    Largest->OnDeleteKey = [this](std::vector<std::string> Paths, bool Shift) {
        this->Form.ItemCommands().DeletePaths(Paths, !Shift);
    };
    Types->OnTypeSelected = [this](const std::string& Type) { Map->SetHighlightedType(Type); };
    Types->SetTypeColour([this](const std::string& Type) -> std::uint32_t {
        return Colours ? Colours->Colour(Type) : TFileTypeColours::OtherColour;
    });
}

TOverviewPanels::~TOverviewPanels() = default;

QWidget* TOverviewPanels::Widget() const noexcept {
    return Vertical;
}

void TOverviewPanels::CreateActions() {
    auto Make = [this](QAction*& Action, const QKeySequence& Key, auto Handler) {
        Action = new QAction(&Form);
        Action->setShortcut(Key);
        connect(Action, &QAction::triggered, this, Handler);
        Form.addAction(Action);
    };
    Make(ActShowTreeMap, QKeySequence(Qt::CTRL | Qt::Key_M), [this](bool Checked) {
        Map->setVisible(Checked);
        if (Checked) {
            GiveRoom(*Vertical, 2);
        }
    });
    Make(ActShowLargestFiles, QKeySequence(Qt::CTRL | Qt::Key_L),
         [this](bool Checked) { ShowSide(stLargestFiles, Checked); });
    Make(ActShowFileTypes, QKeySequence(Qt::CTRL | Qt::Key_T),
         [this](bool Checked) { ShowSide(stFileTypes, Checked); });
    for (QAction* Action : {ActShowTreeMap, ActShowLargestFiles, ActShowFileTypes}) {
        Action->setCheckable(true);
    }
    Make(ActTreeMapZoomOut, QKeySequence(), [this] { Map->ZoomOut(); });
    ActTreeMapZoomOut->setIcon(QIcon::fromTheme(QStringLiteral("zoom-out"),
                                                Form.style()->standardIcon(QStyle::SP_ArrowUp)));
    ActTreeMapZoomOut->setEnabled(false);
    connect(Side, &QTabWidget::currentChanged, this, [this] { SideVisibilityChanged(); });
}

void TOverviewPanels::FillMenu(QMenu& Menu) {
    Menu.addAction(ActShowTreeMap);
    Menu.addAction(ActShowLargestFiles);
    Menu.addAction(ActShowFileTypes);
    Menu.addSeparator();
    Menu.addAction(ActTreeMapZoomOut);
}

void TOverviewPanels::ShowSide(int Tab, bool Visible) {
    if (Visible) {
        Side->setCurrentIndex(Tab);
        Side->setVisible(true);
        GiveRoom(*Horizontal, 2);
        UpdateLists();
        Side->currentWidget()->setFocus();
    } else if (Side->currentIndex() == Tab) {
        Side->setVisible(false);
    }
    SideVisibilityChanged();
}

void TOverviewPanels::SideVisibilityChanged() {
    // One tab shows at a time: its entry is the checked one.
    const bool Shown = !Side->isHidden();
    ActShowLargestFiles->setChecked(Shown && Side->currentIndex() == stLargestFiles);
    ActShowFileTypes->setChecked(Shown && Side->currentIndex() == stFileTypes);
}

void TOverviewPanels::Retranslate() {
    ActShowTreeMap->setText(TrQ("Tree&map"));
    ActShowLargestFiles->setText(TrQ("&Largest Files"));
    ActShowFileTypes->setText(TrQ("File T&ypes"));
    ActTreeMapZoomOut->setText(TrQ("Treemap &Zoom Out"));
    Side->setTabText(stLargestFiles, TrQ("Largest Files"));
    Side->setTabText(stFileTypes, TrQ("File Types"));
    Largest->Retranslate();
    Types->Retranslate();
    Map->setAccessibleName(TrQ("Treemap"));
}

// --- the tree ---------------------------------------------------------------------------

void TOverviewPanels::TreeReplaced(TGroupNode* NewRoot) {
    Stats.Clear();
    Running.clear();
    Colours.reset();
    Map->SetLargestFiles({});
    Map->SetTypeColours(nullptr);
    Map->SetHighlightedType({});
    Map->SetRoot(NewRoot);
    UpdateLists();
}

void TOverviewPanels::ScanStarted(TDirScanThread& Thread) {
    auto Scan = std::make_shared<TScanStatistics>();
    Stats.BeginScan(Scan, Thread.Scanner().RootNode().GetFullPath());
    Thread.SetStatistics(Scan);
    Running[&Thread] = std::move(Scan);
    Map->SetCalmRedraw(true);
}

void TOverviewPanels::ScanEnded(TDirScanThread& Thread) {
    const auto It = Running.find(&Thread);
    if (It == Running.end()) {
        return;
    }
    Stats.EndScan(It->second);
    Running.erase(It);
}

void TOverviewPanels::ScanFinished() {
    UpdateLists();
    // The calm redraws end with one drawing of the whole result.
    Map->SetCalmRedraw(false);
}

void TOverviewPanels::Tick() {
    // The tick runs while scans run: hidden panels cost it nothing, and catch up when shown.
    if (!Side->isHidden() || !Map->isHidden()) {
        UpdateLists();
    }
}

void TOverviewPanels::UpdateLists() {
    TScanStatistics::TSnapshot Now = Stats.Snapshot();
    // The palette follows the largest types; it changes only when they do, so that the
    // colours do not wander while a scan runs.
    std::vector<std::string> Top;
    for (const TFileTypeSum& Sum : Now.Types) {
        if (Top.size() == TFileTypeColours::PaletteSize) {
            break;
        }
        Top.push_back(Sum.Type);
    }
    if (!Colours || Colours->Types() != Top) {
        Colours = std::make_shared<const TFileTypeColours>(Top);
        Map->SetTypeColours(Colours);
        Types->viewport()->update();
    }
    Map->SetLargestFiles(Now.Largest);
    Largest->SetFiles(std::move(Now.Largest));
    Types->SetTypes(std::move(Now.Types), Stats.TypesOutdated());
}

void TOverviewPanels::BeforeNodesFreed(const TFileSystemNode* Node, bool Itself) {
    if (!Node) {
        Map->ReleaseNodes(Form.RootNode());
        return;
    }
    if (Itself) {
        Map->ReleaseNodes(Node);
        return;
    }
    // Only the children go: a zoom root below Node goes back to Node.
    const TGroupNode* Zoom = Map->ZoomRootNode();
    Map->ReleaseNodes(Zoom && IsInside(*Zoom, *Node) ? Zoom : nullptr);
    while (Map->ZoomRootNode() && IsInside(*Map->ZoomRootNode(), *Node)) {
        Map->ReleaseNodes(Map->ZoomRootNode());
    }
}

void TOverviewPanels::NodesFreed() {
    // After the caller's own work with the tree is done.
    QTimer::singleShot(0, Map, [this] {
        GridSelectionChanged();
        if (Map->isVisible()) {
            Map->Redraw();
        }
    });
}

void TOverviewPanels::ItemDeleted(const std::string& Path, bool Folder, std::int64_t Size,
                                  std::int64_t SizeOnDisk) {
    if (Folder) {
        Stats.SubtreeDeleted(Path);
    } else {
        Stats.FileDeleted(Path, Size, SizeOnDisk);
    }
    UpdateLists();
}

void TOverviewPanels::Shutdown() {
    Map->ReleaseNodes(Form.RootNode());
    Map->SetRoot(nullptr);
}

// --- selection --------------------------------------------------------------------------

void TOverviewPanels::GridSelectionChanged() {
    const std::vector<TFileSystemNode*> Nodes = Grid.SelectedNodes();
    Map->SetSelectedNodes({Nodes.begin(), Nodes.end()});
}

void TOverviewPanels::MapClicked(const TTreeMapHit& Hit) {
    if (!Hit.Node) {
        return;
    }
    TFileSystemNode* Node = Hit.Node;
    // A large file cut out of its folder's block: its own row when the folder's files are
    // listed, the folder's otherwise.
    if (Hit.Kind == mkLargeFile) {
        if (TFileSystemNode* File = Form.ItemCommands().NodeOfPath(Hit.Path)) {
            Node = File;
        }
    }
    SelectNodeInGrid(Grid, *Node);
}

void TOverviewPanels::MapMenu(const TTreeMapHit& Hit, QPoint Global) {
    MapClicked(Hit);
    if (!Hit.Path.empty()) {
        Form.ItemCommands().PopupMenuForPaths({Hit.Path}, Global);
    }
}

void TOverviewPanels::LargestSelected(const std::vector<std::string>& Paths) {
    // The grid follows when the file has a row to show; the map outlines what the grid
    // selects.
    if (Paths.size() != 1) {
        return;
    }
    const std::string& Path = Paths.front();
    TFileSystemNode* Node = Form.ItemCommands().NodeOfPath(Path);
    if (!Node) {
        Node = Form.ItemCommands().NodeOfPath(
            Path.substr(0, std::max<std::size_t>(Path.rfind('/'), 1)));
    }
    if (Node) {
        SelectNodeInGrid(Grid, *Node);
    }
}

// --- the view state ----------------------------------------------------------------------

void TOverviewPanels::LoadViewState(const TSettings& Settings) {
    const bool ShowMap = Settings.ReadSettingInteger("ShowTreeMap", 0) != 0;
    RestoreSizes(*Vertical, Settings.ReadResolutionString("TreeMapSplit", ""));
    RestoreSizes(*Horizontal, Settings.ReadResolutionString("SidePanelSplit", ""));
    Map->setVisible(ShowMap);
    ActShowTreeMap->setChecked(ShowMap);
    const int Tab = Settings.ReadSettingInteger("SidePanel", -1);
    if (Tab == stLargestFiles || Tab == stFileTypes) {
        Side->setCurrentIndex(Tab);
        Side->setVisible(true);
    } else {
        Side->setVisible(false);
    }
    SideVisibilityChanged();
}

void TOverviewPanels::SaveViewState(TSettings& Settings) const {
    Settings.WriteSettingInteger("ShowTreeMap", Map->isHidden() ? 0 : 1);
    Settings.WriteSettingInteger("SidePanel", Side->isHidden() ? -1 : Side->currentIndex());
    // Sizes of hidden parts read as 0: the last sizes shown are kept then.
    if (!Map->isHidden()) {
        Settings.WriteResolutionString("TreeMapSplit", SizesText(Vertical->sizes()));
    }
    if (!Side->isHidden()) {
        Settings.WriteResolutionString("SidePanelSplit", SizesText(Horizontal->sizes()));
    }
}

} // namespace qv
