#include "app/ItemCommands.h"

#include "app/FormMain.h"
#include "app/FormProperties.h"
#include "app/MessageBoxes.h"
#include "app/OverviewPanels.h"
#include "scan/ScanThread.h"
#include "shell/ShellBrowseForFolder.h"
#include "shell/ShellUtils.h"
#include "support/QvLogger.h"
#include "support/QvUtils.h"
#include "tree/TreeTypes.h"
#include "view/QtText.h"
#include "view/SizeFormat.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QMenu>
#include <QShortcut>
#include <algorithm>
#include <cctype>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

bool HasSysExtension(std::string_view Name) {
    const auto Dot = Name.rfind('.');
    if (Dot == std::string_view::npos || Name.size() - Dot != 4) {
        return false;
    }
    std::string Extension(Name.substr(Dot));
    std::transform(Extension.begin(), Extension.end(), Extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return Extension == ".sys";
}

} // namespace

TItemCommands::TItemCommands(TFormMain& Form)
    : QObject(&Form), Form(Form), Report(std::make_unique<TDeleteReport>()) {
    PopupTree = new QMenu(&Form);
    PopupTree->setObjectName("PopupTree");
    PopupMenuItemSelectedPath = PopupTree->addAction(QString());
    PopupMenuItemSelectedPath->setEnabled(false);
    PopupTree->addSeparator();
    PopupTree->addAction(Form.ActOpenInExplorer);
    PopupTree->addAction(Form.ActRefreshNode);
    // The grid's own menu requests, by mouse on its viewport and by the keyboard on itself.
    Form.VirtualFileTree().installEventFilter(this);
    Form.VirtualFileTree().viewport()->installEventFilter(this);
    // The menu key comes as a context-menu event; Shift+F10 does not.
    auto* MenuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), &Form.VirtualFileTree());
    MenuKey->setContext(Qt::WidgetShortcut);
    connect(MenuKey, &QShortcut::activated, this, [this] { MenuForCurrentRow(); });
    Retranslate();
}

TItemCommands::~TItemCommands() = default;

void TItemCommands::Retranslate() {
    PopupTree->setAccessibleName(TrQ("Grouped files menu"));
}

bool TItemCommands::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() != QEvent::ContextMenu) {
        return QObject::eventFilter(Watched, Event);
    }
    auto* Menu = static_cast<QContextMenuEvent*>(Event);
    TVirtualFileTree& Tree = Form.VirtualFileTree();
    if (Menu->reason() != QContextMenuEvent::Mouse) {
        MenuForCurrentRow();
        return true;
    }
    QPoint At = Menu->pos();
    if (Watched != Tree.viewport()) {
        At = Tree.viewport()->mapFrom(&Tree, At);
    }
    VirtualFileTreeMouseUp(Qt::RightButton, Menu->modifiers(), At.x(), At.y());
    return true;
}

void TItemCommands::MenuForCurrentRow() {
    // Under the current row's name, as a menu opened from the keyboard should be.
    TVirtualFileTree& Tree = Form.VirtualFileTree();
    const QRect Row = Tree.visualRect(Tree.currentIndex().siblingAtColumn(0));
    const QPoint At = Row.isValid() ? Row.bottomLeft() + QPoint(16, 0) : QPoint(0, 0);
    VirtualFileTreeMouseUp(Qt::RightButton, Qt::NoModifier, At.x(), At.y());
}

void TItemCommands::VirtualFileTreeMouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers, int X,
                                           int Y) {
    TVirtualFileTree& Tree = Form.VirtualFileTree();
    TFileSystemNode* Node = Tree.FocusedNode();
    if (Button != Qt::RightButton || !Node) {
        return;
    }
    const QPoint ScreenPoint = Tree.viewport()->mapToGlobal(QPoint(X, Y));
    switch (Node->GetNodeType()) {
    case ntDrive:
    case ntFile:
    case ntDirectory: {
        LogDebug("start of DisplayContextMenu");
        bool Renamed = false;
        DisplayContextMenu(*this, Node->GetFullPath(), &Form, ScreenPoint, Renamed, false);
        LogDebug("end of DisplayContextMenu");
        break;
    }
    case ntFileGroup: {
        const QFontMetrics Metrics(Form.font());
        const std::string Dir = ShortenPathToWidth(
            DirectoryPart(Node->GetFullPath()),
            [&](std::string_view Text) {
                return Metrics.horizontalAdvance(PathText(std::string(Text)));
            },
            300);
        PopupMenuItemSelectedPath->setText(PathText(Dir));
        PopupTree->popup(ScreenPoint);
        break;
    }
    case ntFixedDrives:
        break;
    }
}

void TItemCommands::ActOpenInExplorerExecute() {
    TVirtualFileTree& Tree = Form.VirtualFileTree();
    TFileSystemNode* Node = Tree.Model().NodeOf(Tree.FirstSelectedIndex());
    if (!Node) {
        return;
    }
    const std::string Path = Node->GetFullPath();
    if (DirectoryExists(Path)) {
        ExploreFolder(Path);
    } else {
        // The file manager selects the item in its folder where it can, else opens the
        // folder.
        ShowItemInFolder(Path);
    }
}

void TItemCommands::ActShellOpenFileExecute() {
    TVirtualFileTree& Tree = Form.VirtualFileTree();
    TFileSystemNode* Node = Tree.Model().NodeOf(Tree.FirstSelectedIndex());
    if (!Node || Node->GetNodeType() != ntFile) {
        return;
    }
    OpenFile(Node->GetFullPath());
}

void TItemCommands::OpenFile(const std::string& Path) {
    const std::string Name = Path.substr(Path.rfind('/') + 1);
    if ((IsSystemFile(Path) || HasSysExtension(Name)) &&
        !WarnYesNo(FormatText(Tr("您正在尝试打开系统文件 (%s)。 你确定你要继续吗?"), Name))) {
        return;
    }
    LogDebug("open " + Name);
    // A failure is logged and shown by the shell layer, with its reason.
    if (ShellOpenFile(Path) == 0) {
        LogDebug(Name + " opened");
    }
}

bool TItemCommands::IsDeletable(const TFileSystemNode& Node) {
    const TNodeType Type = Node.GetNodeType();
    return Node.Parent() != nullptr && (Type == ntFile || Type == ntDirectory);
}

void TItemCommands::ActDeleteExecute(std::optional<bool> AllowUndo) {
    std::vector<TFileSystemNode*> Nodes = Form.VirtualFileTree().SelectedNodes();
    if (Nodes.empty()) {
        return;
    }
    // Shift as the input that ran the command had it (the key pressed with Delete, or held
    // at the click on the menu entry), not as it is by the time the command runs.
    const bool Undo =
        AllowUndo.value_or(!(QGuiApplication::keyboardModifiers() & Qt::ShiftModifier));
    try {
        DeleteNodes(Nodes, Undo);
    } catch (const std::exception& E) {
        ShowExceptionMessage(E);
    }
}

TFileSystemNode* TItemCommands::NodeOfPath(const std::string& Path) const {
    TRootNode* Root = Form.RootNode();
    if (!Root) {
        return nullptr;
    }
    if (Path == Root->GetFullPath()) {
        return Root;
    }
    return Root->FindNodeByPath(Path);
}

void TItemCommands::RemoveNode(TFileSystemNode* Node) {
    if (auto* Dir = dynamic_cast<TDirNode*>(Node)) {
        Form.ScanThreads().ForgetNodesInside(*Dir);
    }
    TVirtualFileTree& Tree = Form.VirtualFileTree();
    if (Form.GetDirViewStyle() == dvsFlat) {
        std::vector<TFileSystemNode*> Kept;
        for (TFileSystemNode* Flat : Form.GetFlatNodes()) {
            if (Flat != Node && !IsInside(*Flat, *Node)) {
                Kept.push_back(Flat);
            }
        }
        Tree.RebuildRows(dvsFlat, Kept);
    } else {
        Tree.Model().RemoveNodeRows(*Node);
    }
    Form.DiscardFlatNodes();
    // The treemap's worker reads the tree: it leaves these nodes first.
    Form.Overview().BeforeNodesFreed(Node, true);
    Node->Delete();
    Form.Overview().NodesFreed();
}

bool TItemCommands::DeleteNodes(const std::vector<TFileSystemNode*>& Nodes, bool AllowUndo) {
    if (Deleting) {
        return false;
    }
    // Paths inside another chosen path go with that one.
    std::vector<std::string> Paths;
    for (TFileSystemNode* Node : Nodes) {
        if (Node && IsDeletable(*Node)) {
            Paths.push_back(Node->GetFullPath());
        }
    }
    RemoveNestedPaths(Paths);
    std::vector<TDeleteItem> Items;
    std::vector<TFileSystemNode*> Chosen;
    for (const std::string& Path : Paths) {
        TFileSystemNode* Node = NodeOfPath(Path);
        if (!Node) {
            continue;
        }
        Chosen.push_back(Node);
        Items.push_back({Path, dynamic_cast<TDirNode*>(Node) != nullptr, Node->GetSize()});
    }
    if (Items.empty()) {
        return false;
    }
    // Where the selection goes afterwards: the nearest ancestor of the first chosen row
    // that stays.
    std::string KeepPath;
    for (const TFileSystemNode* Up = Nodes.front()->Parent(); Up; Up = Up->Parent()) {
        const bool Goes = std::any_of(Chosen.begin(), Chosen.end(), [&](const TFileSystemNode* C) {
            return C == Up || IsInside(*Up, *C);
        });
        if (!Goes && Up->GetNodeType() != ntFileGroup) {
            KeepPath = Up->GetFullPath();
            break;
        }
    }

    std::vector<std::string> StoppedAbove;
    Deleting = true;
    Form.UpdateActions();
    const bool AllGone = ShellDeleteFiles(Items, AllowUndo, &Form, *Report, [&] {
        // Nothing may write into what goes or count it while it goes: scans inside the
        // items, of the items, and above them stop first.
        for (TFileSystemNode* Node : Chosen) {
            for (TDirNode* Above : Form.ScanThreads().StopThreadsAround(*Node)) {
                StoppedAbove.push_back(Above->GetFullPath());
            }
        }
    });
    Deleting = false;
    if (!Report->Confirmed) {
        Form.UpdateActions();
        return false;
    }

    // The tree shows what is on disk now: what went is removed, a folder of which some
    // was deleted is scanned again.
    for (std::size_t i = 0; i < Items.size(); ++i) {
        TFileSystemNode* Node = NodeOfPath(Items[i].Path);
        if (!Node) {
            continue;
        }
        if (Report->Gone[i]) {
            const auto* File = dynamic_cast<const TFileNode*>(Node);
            if (OnItemDeleted && !(File && File->IsUncountedLink())) {
                OnItemDeleted(Items[i].Path, Items[i].IsDirectory, Node->GetSize(),
                              Node->GetSizeOnDisk());
            }
            RemoveNode(Node);
            continue;
        }
        const std::string Inside = Items[i].Path + "/";
        const bool Touched =
            Report->Cancelled || std::any_of(Report->Failures.begin(), Report->Failures.end(),
                                             [&](const TDeleteFailure& F) {
                                                 return F.Path == Items[i].Path ||
                                                        F.Path.starts_with(Inside);
                                             });
        if (auto* Dir = dynamic_cast<TDirNode*>(Node); Dir && Touched) {
            Form.ScanSubDirNode(Dir);
        }
    }
    // Scans stopped above the items go on from the start, without what went.
    std::sort(StoppedAbove.begin(), StoppedAbove.end());
    StoppedAbove.erase(std::unique(StoppedAbove.begin(), StoppedAbove.end()), StoppedAbove.end());
    for (const std::string& Path : StoppedAbove) {
        TFileSystemNode* Node = NodeOfPath(Path);
        if (auto* Dir = dynamic_cast<TDirNode*>(Node)) {
            Form.ScanSubDirNode(Dir);
        } else if (Node && Node->GetNodeType() == ntFixedDrives) {
            Form.ScanFixedDrives();
        }
    }

    TVirtualFileTree& Tree = Form.VirtualFileTree();
    if (TFileSystemNode* Keep = KeepPath.empty() ? nullptr : NodeOfPath(KeepPath)) {
        const QModelIndex Row = Tree.Model().IndexOf(Keep);
        if (Row.isValid()) {
            Tree.selectionModel()->setCurrentIndex(Row, QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
        }
    }
    Form.RefreshView();
    Form.UpdateActions();

    if (!Report->Failures.empty()) {
        std::vector<std::string> Lines;
        for (const TDeleteFailure& F : Report->Failures) {
            Lines.push_back(F.Path + ": " + F.Message);
        }
        ShowError(Tr("These items could not be deleted:") + "\n\n" + ListOfLines(Lines));
    }
    return AllGone;
}

void TItemCommands::OpenPath(const std::string& Path) {
    if (DirectoryExists(Path)) {
        ExploreFolder(Path);
    } else {
        OpenFile(Path);
    }
}

void TItemCommands::ShowPathsInFolder(const std::vector<std::string>& Paths) {
    // The file manager opens a window per request: one per folder is enough.
    std::vector<std::string> Folders;
    for (const std::string& Path : Paths) {
        std::string Folder = DirectoryPart(Path);
        if (std::find(Folders.begin(), Folders.end(), Folder) != Folders.end()) {
            continue;
        }
        Folders.push_back(std::move(Folder));
        ShowItemInFolder(Path);
    }
}

void TItemCommands::PopupMenuForPaths(const std::vector<std::string>& Paths, QPoint Global) {
    if (!Paths.empty()) {
        InvokeItemCommand(*this, {}, &Paths, iaContextMenu, {}, &Form, Global, false);
    }
}

bool TItemCommands::IsUnlistedFile(const std::string& Path) const {
    if (NodeOfPath(Path)) {
        return false;
    }
    struct stat St {};
    return dynamic_cast<TDirNode*>(NodeOfPath(WithoutTrailingDelimiter(DirectoryPart(Path)))) &&
           ::lstat(Path.c_str(), &St) == 0 && !S_ISDIR(St.st_mode);
}

TFileSystemNode* TItemCommands::LoadNodeOfPath(const std::string& Path) {
    if (TFileSystemNode* Node = NodeOfPath(Path)) {
        return Node;
    }
    const std::string Folder = WithoutTrailingDelimiter(DirectoryPart(Path));
    auto* Dir = dynamic_cast<TDirNode*>(NodeOfPath(Folder));
    if (!Dir) {
        return nullptr;
    }
    // The small files are listed in the folder's group; the group may only appear once the
    // folder's own files are.
    for (int Step = 0; Step < 2; ++Step) {
        TGroupNode* Group = Step == 0 ? static_cast<TGroupNode*>(Dir) : Dir->FileGroup();
        if (!Group) {
            return nullptr;
        }
        // The grid may be listing the same files on its worker: that listing ends first.
        QElapsedTimer Waited;
        Waited.start();
        while (Group->IsListingFiles() && Waited.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        // Events ran meanwhile: the folder may have been scanned again or removed.
        Dir = dynamic_cast<TDirNode*>(NodeOfPath(Folder));
        if (!Dir) {
            return nullptr;
        }
        if (Step == 0) {
            Dir->LoadFiles();
        } else if (TFileGroupNode* Small = Dir->FileGroup()) {
            Small->LoadFiles();
        }
        if (TFileSystemNode* Node = NodeOfPath(Path)) {
            return Node;
        }
    }
    return nullptr;
}

bool TItemCommands::DeletePaths(const std::vector<std::string>& Paths, bool AllowUndo) {
    if (Deleting) {
        return false;
    }
    // Every listing first, then the nodes: a listing may wait for events, and a node found
    // before them need not live through them.
    for (const std::string& Path : Paths) {
        LoadNodeOfPath(Path);
    }
    std::vector<TFileSystemNode*> Nodes;
    for (const std::string& Path : Paths) {
        if (TFileSystemNode* Node = NodeOfPath(Path)) {
            Nodes.push_back(Node);
        }
    }
    return !Nodes.empty() && DeleteNodes(Nodes, AllowUndo);
}

bool TItemCommands::CanRunVerb(std::string_view Verb, const std::vector<std::string>& Paths) {
    if (Verb == VerbOpen || Verb == VerbShowInFolder) {
        return true;
    }
    if (Verb == VerbProperties) {
        return Paths.size() == 1;
    }
    for (const std::string& Path : Paths) {
        TFileSystemNode* Node = NodeOfPath(Path);
        if (Verb == VerbRescan) {
            if (!dynamic_cast<TDirNode*>(Node)) {
                return false;
            }
        } else if (Verb == VerbTrash || Verb == VerbDelete) {
            // The parent folder decides whether an entry can go. A file of a folder whose
            // files were never listed gets its node when it is deleted.
            if (!(Node ? IsDeletable(*Node) : IsUnlistedFile(Path)) || Deleting ||
                ::access(DirectoryPart(Path).c_str(), W_OK | X_OK) != 0) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

bool TItemCommands::RunVerb(std::string_view Verb, const std::vector<std::string>& Paths) {
    if (Verb == VerbOpen) {
        for (const std::string& Path : Paths) {
            if (DirectoryExists(Path)) {
                ExploreFolder(Path);
            } else {
                OpenFile(Path);
            }
        }
        return true;
    }
    if (Verb == VerbShowInFolder) {
        return ShowItemInFolder(Paths.front()) == 0;
    }
    if (Verb == VerbRescan) {
        for (const std::string& Path : Paths) {
            Form.RefreshPath(Path);
        }
        return true;
    }
    if (Verb == VerbTrash || Verb == VerbDelete) {
        return DeletePaths(Paths, Verb == VerbTrash);
    }
    if (Verb == VerbProperties) {
        ShowItemProperties(Paths.front(), NodeOfPath(Paths.front()), &Form);
        return true;
    }
    return false;
}

} // namespace qv
