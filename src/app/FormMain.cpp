#include "app/FormMain.h"

#include "app/FavouritesMenus.h"
#include "app/FormInfo.h"
#include "app/InfoPanelFrame.h"
#include "app/ItemCommands.h"
#include "app/MessageBoxes.h"
#include "app/OverviewPanels.h"
#include "app/QtDispatcher.h"
#include "app/QvApplication.h"
#include "app/QvSettingsDlg.h"
#include "export/TreeTypesExport.h"
#include "platform/Drives.h"
#include "platform/SysError.h"
#include "scan/ScanThread.h"
#include "settings/QvSettings.h"
#include "shell/SHChangeNotify.h"
#include "shell/ShellBrowseForFolder.h"
#include "shell/ShellTypes.h"
#include "support/FileVersion.h"
#include "support/QvLogger.h"
#include "support/QvProfiler.h"
#include "support/QvThread.h"
#include "support/QvUtils.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"
#include "view/FileIcons.h"
#include "view/QtText.h"
#include "view/QvBarChartPainter.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <sys/stat.h>
#include <utility>

namespace qv {

namespace {

// The integer of Token, or nothing when Token is not exactly one.
std::optional<int> ParseInt(std::string_view Token) {
    while (!Token.empty() && Token.front() == ' ') {
        Token.remove_prefix(1);
    }
    while (!Token.empty() && Token.back() == ' ') {
        Token.remove_suffix(1);
    }
    int Value = 0;
    const char* First = Token.data();
    if (!Token.empty() && Token.front() == '+') {
        ++First;
    }
    const auto [End, Error] = std::from_chars(First, Token.data() + Token.size(), Value);
    if (Token.empty() || Error != std::errc() || End != Token.data() + Token.size()) {
        return std::nullopt;
    }
    return Value;
}

// Takes the text up to the next of Delimiters (the whole rest when there is none) out of
// Text, with its delimiter.
std::string_view TakeToken(std::string_view& Text, std::string_view Delimiters) {
    const auto End = Text.find_first_of(Delimiters);
    std::string_view Token = Text.substr(0, End);
    Text = End == std::string_view::npos ? std::string_view() : Text.substr(End + 1);
    return Token;
}

// A hidden section reports width 0; the width it had is kept here, so that a hidden column
// is saved with its width and shows with it again.
constexpr const char* HiddenWidthsProperty = HiddenColumnWidthsProperty;

int HiddenWidth(const QHeaderView& Columns, int Column) {
    const QVariantMap Widths = Columns.property(HiddenWidthsProperty).toMap();
    return Widths.value(QString::number(Column), Columns.defaultSectionSize()).toInt();
}

void SetHiddenWidth(QHeaderView& Columns, int Column, int Width) {
    QVariantMap Widths = Columns.property(HiddenWidthsProperty).toMap();
    Widths.insert(QString::number(Column), Width);
    Columns.setProperty(HiddenWidthsProperty, Widths);
}

QIcon ThemeIcon(const char* Name, QStyle::StandardPixmap Fallback) {
    return QIcon::fromTheme(QString::fromLatin1(Name),
                            QApplication::style()->standardIcon(Fallback));
}

constexpr const char* LocalDrivesCaption = TrNoop("Local Drives");

// The longest path the window title shows; longer ones lose leading folders.
constexpr int TitlePathLength = 60;

} // namespace

// --- column widths and positions ---------------------------------------------------------

std::string ColumnWidthsToString(const QHeaderView& Columns) {
    std::string Text;
    for (int i = 0; i < Columns.count(); ++i) {
        if (i > 0) {
            Text += ',';
        }
        const int Width =
            Columns.isSectionHidden(i) ? -HiddenWidth(Columns, i) : Columns.sectionSize(i);
        Text += std::to_string(Width);
    }
    return Text;
}

void StringToColumnWidths(std::string_view Text, QHeaderView& Columns) {
    for (int i = 0; i < Columns.count(); ++i) {
        const auto Token = TakeToken(Text, ",");
        const int Current =
            Columns.isSectionHidden(i) ? -HiddenWidth(Columns, i) : Columns.sectionSize(i);
        const int Value = ParseInt(Token).value_or(Current);
        const int Width = Value < 0 ? -Value : Value;
        if (Value > 0) {
            Columns.setSectionHidden(i, false);
            Columns.resizeSection(i, Width);
        } else {
            SetHiddenWidth(Columns, i, Width);
            Columns.setSectionHidden(i, true);
        }
    }
}

std::string ColumnPositionsToString(const QHeaderView& Columns) {
    std::string Text;
    for (int i = 0; i < Columns.count(); ++i) {
        if (i > 0) {
            Text += ',';
        }
        Text += std::to_string(Columns.visualIndex(i));
    }
    return Text;
}

void StringToColumnPositions(std::string_view Text, QHeaderView& Columns) {
    for (int i = 0; i < Columns.count(); ++i) {
        const auto Token = TakeToken(Text, ",");
        int Position = ParseInt(Token).value_or(Columns.visualIndex(i));
        Position = std::clamp(Position, 0, Columns.count() - 1);
        Columns.moveSection(Columns.visualIndex(i), Position);
    }
}

// --- start-up and shut-down ---------------------------------------------------------------

TFormMain::TFormMain(const std::vector<std::string>& Args)
    : Dispatcher(std::make_unique<TQtDispatcher>()) {
    StartTimer(-1);
    try {
        (void)AppSettings();
    } catch (const std::exception& E) {
        // No settings folder: the user hears it once, and the program runs on the
        // defaults; saving at the end reports the failure again.
        ShowExceptionMessage(E);
        const std::string AppData = GetAppDataFolder();
        ResetAppSettings(std::make_unique<TSettings>(
            AppData.empty() ? std::string() : AppData + "Quorvel/Quorvel.ini"));
    }
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [](Qt::ApplicationState State) {
        if (State == Qt::ApplicationActive) {
            LogDebug("application becomes active");
        } else if (State == Qt::ApplicationInactive) {
            LogDebug("application becomes inactive");
        }
    });

    // The icon table picks the icon theme, which the actions' icons need.
    Icons = std::make_unique<TFileIconTable>();
    Source.Icons = Icons.get();
    FileTree = new TVirtualFileTree(Source, this);
    IconRequests = std::make_unique<TSHGetFileInfoPropertiesList>();
    IconThread = std::make_unique<TShellFileIconThread>(*Dispatcher, *Icons,
                                                        [this](int IconIndex, std::int32_t Id) {
                                                            IconRequests->SetResult(Id, IconIndex);
                                                            // One repaint for a burst of answers:
                                                            // update() coalesces.
                                                            FileTree->viewport()->update();
                                                        });
    IconHousekeeping = std::make_unique<TIconRequestHousekeeping>(*IconRequests);
    Source.IconThread = IconThread.get();
    Source.IconRequests = IconRequests.get();
    IconThread->Resume();
    {
        // The info panel slides in above the grid, under the toolbar.
        auto* Centre = new QWidget(this);
        auto* Column = new QVBoxLayout(Centre);
        Column->setContentsMargins(0, 0, 0, 0);
        Column->setSpacing(0);
        FInfoPanel = new TFrameInfoPanel(Centre);
        FInfoPanel->OnRefreshPath = [this](const std::string& Path) { InfoPanelRefreshPath(Path); };
        Column->addWidget(FInfoPanel);
        Panels = new TOverviewPanels(*this, *FileTree);
        Column->addWidget(Panels->Widget(), 1);
        setCentralWidget(Centre);
    }
    CreateActions();
    Commands = new TItemCommands(*this);
    Commands->OnItemDeleted = [this](const std::string& Path, bool Folder, std::int64_t Size,
                                     std::int64_t SizeOnDisk) {
        Panels->ItemDeleted(Path, Folder, Size, SizeOnDisk);
    };
    CreateMenus();
    CreateStatusBar();
    CreateTimers();

    Threads = std::make_unique<TDirScanThreadList>(9, *Dispatcher);
    FavouriteDirs.SetMaxCount(9);
    FavouriteDirs.OnChange = [this] { RebuildFavouritesMenus(); };

    ChildBarPainter = std::make_unique<TQuorvelOneBarChartPainter>(QColor(0xD7, 0xD7, 0xD7),
                                                                   QColor(0xF7, 0xF7, 0xF7));
    Source.ChildBarPainter = ChildBarPainter.get();
    BarPainter = CreatePainter(nullptr);
    Source.BarPainter = BarPainter.get();

    FileTree->OnChange = [this](TFileSystemNode* Node) { VirtualFileTreeChange(Node); };
    connect(FileTree, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& Index) { VirtualFileTreeDblClick(Index); });
    connect(FileTree->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        Panels->GridSelectionChanged();
        UpdateActions();
    });
    connect(FileTree->header(), &QHeaderView::sectionClicked, this, [this] { UpdateActions(); });
    // A folder's files arrive after its row opened; a tree of files alone becomes savable then.
    // Only rows under the top row count: what the refresh tick adds deeper down changes nothing.
    connect(&FileTree->Model(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& Parent) {
                if (!Parent.parent().isValid()) {
                    UpdateActions();
                }
            });

    Caption = QStringLiteral("Quorvel");
    setWindowTitle(Caption);
    Retranslate();
    RebuildView(dvsTree);
    SetDefaultSort();
    LoadViewState();
    try {
        AppSettings().Load();
        ApplySettings(AppSettings());
        // A language chosen in the preferences wins over the environment's.
        if (!AppSettings().Language().empty() && AppSettings().Language() != CurrentLanguage()) {
            ChangeLanguage(AppSettings().Language());
            Retranslate();
        }
    } catch (const std::exception& E) {
        ShowExceptionMessage(E);
    }
    RebuildFavouritesMenus();
    Workers = std::make_shared<TThreadJoiner>();
    SpecialFolders = std::make_unique<TShellFolderList>(*Icons);
    SpecialFolders->OnChanged = [this](TShellFolderList&) { SpecialFoldersLoaded(); };
    {
        std::vector<std::string> Roots;
        for (const TMenuDrive& Drive : MenuDrives()) {
            Roots.push_back(Drive.Path);
        }
        SpecialFolders->StartSpecialFolderThread(
            *Dispatcher, Roots,
            {std::begin(StartupSpecialFolderIds), std::end(StartupSpecialFolderIds)}, Workers);
    }
    // Every listed drive, not only fixed ones: a USB stick plugged in belongs in the menus.
    auto* Notify = new TSHChangeNotify(this);
    Notify->HardDriveOnly = false;
    Notify->OnDriveAdd = [this](TSHChangeNotify*, std::uint32_t, const std::string& Path) {
        DriveAdded(Path);
    };
    Notify->OnDriveRemoved = [this](TSHChangeNotify*, std::uint32_t, const std::string& Path) {
        DriveRemoved(Path);
    };
    try {
        Notify->Execute();
    } catch (const std::exception& E) {
        // The menus then show the drives of the start, as they would without notifications.
        LogError(E.what());
    }
    UpdateActions();
    ProcessCommandLine(Args);
    LogTimer(-1, "OnCreate");
}

TFormMain::~TFormMain() {
    bool Saved = true;
    try {
        AppSettings().Save();
    } catch (const std::exception& E) {
        ShowExceptionMessage(E);
        Saved = false;
    }
    // After a failed save the user knows already; the same failure is only logged.
    SaveViewState(Saved);
    // No end event runs after Shutdown; closing the dispatcher releases the workers whose
    // event was already on its way, and then every worker can be joined, so none is still
    // ending while the program's static objects go.
    Threads->Shutdown();
    Dispatcher->Close();
    Threads->WaitForThreads();
    Workers->JoinAll();
    Threads.reset();
    // The map's worker reads the tree: it stops before the tree goes.
    Panels->Shutdown();
    // Its answers repaint the grid; it goes first.
    Source.IconThread = nullptr;
    IconThread.reset();
    // The grid reads Source and the tree while it exists; it goes before them.
    Source.RootNode = nullptr;
    delete std::exchange(FileTree, nullptr);
    Root.reset();
}

void TFormMain::CreateActions() {
    auto Make = [this](QAction*& Action, const QIcon& Icon, auto Handler) {
        Action = new QAction(Icon, QString(), this);
        connect(Action, &QAction::triggered, this, Handler);
        addAction(Action);
    };
    auto* Style = QApplication::style();
    Make(ActDirSelect, ThemeIcon("document-open", QStyle::SP_DialogOpenButton),
         [this] { ActDirSelectExecute(); });
    ActDirSelect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    Make(ActShowTreeView, QIcon(), [this] { ActShowTreeViewExecute(); });
    ActShowTreeView->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F1));
    Make(ActShowFlatView, QIcon(), [this] { ActShowFlatViewExecute(); });
    ActShowFlatView->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F2));
    ViewStyleGroup = new QActionGroup(this);
    for (QAction* Action : {ActShowTreeView, ActShowFlatView}) {
        Action->setCheckable(true);
        ViewStyleGroup->addAction(Action);
    }
    ActShowTreeView->setChecked(true);
    Make(ActRefresh, ThemeIcon("view-refresh", QStyle::SP_BrowserReload),
         [this] { ActRefreshExecute(); });
    ActRefresh->setShortcut(QKeySequence(Qt::Key_F5));
    Make(ActStopScan, ThemeIcon("process-stop", QStyle::SP_BrowserStop),
         [this] { ActStopScanExecute(); });
    Make(ActOpenInExplorer, ThemeIcon("system-file-manager", QStyle::SP_DirOpenIcon),
         [this] { ActOpenInExplorerExecute(); });
    ActOpenInExplorer->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    Make(ActSaveScanResult, ThemeIcon("document-save", QStyle::SP_DialogSaveButton),
         [this] { ActSaveScanResultExecute(); });
    ActSaveScanResult->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    Make(ActRefreshNode, QIcon(), [this] { ActRefreshNodeExecute(); });
    ActRefreshNode->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F5));
    // The preferences dialog comes with its own window; until then the action is there,
    // switched off.
    Make(ActConfig, ThemeIcon("preferences-system", QStyle::SP_FileDialogDetailedView),
         [this] { ActConfigExecute(); });
    Make(ActDelete, ThemeIcon("edit-delete", QStyle::SP_TrashIcon), [this] { ActDeleteExecute(); });
    ActDelete->setShortcuts(
        {QKeySequence(Qt::Key_Delete), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    Make(ActShellOpenFile, QIcon(), [this] { ActShellOpenFileExecute(); });
    ActShellOpenFile->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    // Enter opens the file only while the grid has the focus, not in every dialog field.
    ActShellOpenFile->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    FileTree->addAction(ActShellOpenFile);
    Make(ActScanFixedDrives, Style->standardIcon(QStyle::SP_DriveHDIcon),
         [this] { ScanFixedDrives(); });
    Make(MenuItemExit, ThemeIcon("application-exit", QStyle::SP_DialogCloseButton),
         [this] { close(); });
    MenuItemExit->setShortcut(QKeySequence::Quit);
    Make(Info1, ThemeIcon("help-about", QStyle::SP_MessageBoxInformation), [this] {
        TFormInfo Box(this);
        Box.exec();
    });
}

void TFormMain::CreateMenus() {
    MenuFile = menuBar()->addMenu(QString());
    MenuFile->addAction(ActDirSelect);
    MenuItemMRUDirList = MenuFile->addMenu(QString());
    MenuItemMRUDirList->setObjectName(QStringLiteral("MenuItemMRUDirList"));
    MenuItemMRUDirList->setIcon(ThemeIcon("user-bookmarks", QStyle::SP_DirHomeIcon));
    MenuFile->addAction(ActScanFixedDrives);
    MenuFile->addSeparator();
    MenuFile->addAction(ActRefresh);
    MenuFile->addAction(ActRefreshNode);
    MenuFile->addAction(ActStopScan);
    MenuFile->addSeparator();
    MenuFile->addAction(MenuItemExit);

    Bearbeiten1 = menuBar()->addMenu(QString());
    Bearbeiten1->addAction(ActShellOpenFile);
    Bearbeiten1->addAction(ActOpenInExplorer);
    Bearbeiten1->addAction(ActSaveScanResult);
    Bearbeiten1->addAction(ActDelete);
    Bearbeiten1->addSeparator();
    Bearbeiten1->addAction(ActShowTreeView);
    Bearbeiten1->addAction(ActShowFlatView);
    Bearbeiten1->addSeparator();
    Bearbeiten1->addAction(ActConfig);

    MenuView = menuBar()->addMenu(QString());
    Panels->FillMenu(*MenuView);

    Hilfe1 = menuBar()->addMenu(QString());
    Hilfe1->addAction(Info1);

    ToolBarMain = addToolBar(QString());
    ToolBarMain->setObjectName(QStringLiteral("ToolBarMain"));
    ToolBarMain->setMovable(false);
    PopupMRUDirList = new QMenu(this);
    PopupMRUDirList->setObjectName(QStringLiteral("PopupMRUDirList"));
    ToolBtnFavorites = new QToolButton(this);
    ToolBtnFavorites->setIcon(MenuItemMRUDirList->icon());
    ToolBtnFavorites->setMenu(PopupMRUDirList);
    ToolBtnFavorites->setPopupMode(QToolButton::InstantPopup);
    ToolBarMain->addWidget(ToolBtnFavorites);
    ToolBarMain->addAction(ActDirSelect);
    ToolBarMain->addSeparator();
    ToolBarMain->addAction(ActRefresh);
    ToolBarMain->addAction(ActStopScan);
    ToolBarMain->addSeparator();
    ToolBarMain->addAction(ActOpenInExplorer);
    ToolBarMain->addAction(ActSaveScanResult);
    ToolBarMain->addAction(ActConfig);
    ToolBarMain->addSeparator();
    ToolBarMain->addAction(Panels->ActTreeMapZoomOut);
}

void TFormMain::CreateStatusBar() {
    StatusPanel0 = new QLabel(this);
    StatusPanel0->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StatusPanel1 = new QLabel(this);
    StatusPanel1->setFixedWidth(150);
    StatusPanel1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Shown from a stopped scan's end to the next scan: the folders' marks alone are easy
    // to miss.
    StatusStopped = new QLabel(this);
    StatusStopped->setObjectName(QStringLiteral("StatusStopped"));
    StatusStopped->setVisible(false);
    // Panel 0 takes whatever panel 1 leaves.
    statusBar()->addWidget(StatusPanel0, 1);
    statusBar()->addPermanentWidget(StatusStopped);
    statusBar()->addPermanentWidget(StatusPanel1);
}

void TFormMain::CreateTimers() {
    auto Make = [this](QTimer*& Timer, const char* Name, int Interval, auto Handler) {
        Timer = new QTimer(this);
        Timer->setObjectName(QString::fromLatin1(Name));
        Timer->setInterval(Interval);
        connect(Timer, &QTimer::timeout, this, Handler);
    };
    Make(TimerAniSearch, "TimerAniSearch", 100, [this] { TimerAniSearchTimer(); });
    Make(TimerTreeRefresh, "TimerTreeRefresh", TSettings::DefaultTreeViewRefreshRate,
         [this] { TimerTreeRefreshTimer(); });
    Make(TimerStatusBar, "TimerStatusBar", 100, [this] { TimerStatusBarTimer(); });
}

void TFormMain::Retranslate() {
    Commands->Retranslate();
    MenuFile->setTitle(TrQ("&File"));
    MenuItemMRUDirList->setTitle(TrQ("Recent &Folders"));
    Bearbeiten1->setTitle(TrQ("&Edit"));
    MenuView->setTitle(TrQ("&View"));
    Hilfe1->setTitle(TrQ("&Help"));
    ToolBarMain->setWindowTitle(TrQ("Toolbar"));
    ToolBtnFavorites->setToolTip(TrQ("Recent Folders"));
    ActDirSelect->setText(TrQ("&Open Directory..."));
    ActShowTreeView->setText(TrQ("&Tree View"));
    ActShowFlatView->setText(TrQ("&Flat View"));
    ActRefresh->setText(TrQ("&Refresh"));
    ActStopScan->setText(TrQ("&Stop Scan"));
    ActOpenInExplorer->setText(TrQ("Open in &File Manager"));
    ActSaveScanResult->setText(TrQ("&Save Scan Result..."));
    ActRefreshNode->setText(TrQ("Rescan Selected &Folders"));
    ActConfig->setText(TrQ("&Preferences..."));
    ActDelete->setText(TrQ("&Delete"));
    ActShellOpenFile->setText(TrQ("&Open File"));
    ActScanFixedDrives->setText(TrQ(LocalDrivesCaption));
    MenuItemExit->setText(TrQ("E&xit"));
    Info1->setText(TrQ("&About Quorvel..."));
    StatusStopped->setText(TrQ("Scan stopped: the sizes are incomplete"));
    Panels->Retranslate();
    // A screen reader names a button by its text; these show only their icons.
    ToolBtnFavorites->setAccessibleName(TrQ("Recent Folders"));
    for (QAction* Action : ToolBarMain->actions()) {
        if (QWidget* Button = ToolBarMain->widgetForAction(Action);
            Button && !Action->isSeparator() && Button != ToolBtnFavorites) {
            Button->setAccessibleName(Action->iconText());
        }
    }
    FInfoPanel->Retranslate();
    RebuildFavouritesMenus();
    FileTree->Model().Retranslate();
    FileTree->viewport()->update();
}

void TFormMain::changeEvent(QEvent* Event) {
    // A language switch reaches every widget; the window's texts are set here.
    if (Event->type() == QEvent::LanguageChange && Commands) {
        Retranslate();
    }
    QMainWindow::changeEvent(Event);
}

void TFormMain::ActConfigExecute() {
    TDlgSettings Dialog(this);
    Dialog.OnApply = [this](TSettings& Settings) { SettingsApplied(Settings); };
    AppSettings().ClearRescanNeeded();
    Dialog.Execute(AppSettings());
}

void TFormMain::SettingsApplied(TSettings& Settings) {
    ApplySettings(Settings);
    if (Settings.Language() != CurrentLanguage()) {
        ChangeLanguage(Settings.Language());
    }
    Retranslate();
    if (Settings.RescanNeeded() && Root) {
        FInfoPanel->Notify(Root->GetFullPath(),
                           TrQ("在下一次分析之前，将不会使用您更改的某些设置。"));
    }
}

void TFormMain::InfoPanelRefreshPath(const std::string& Path) {
    RefreshPath(Path);
    FileTree->setFocus();
}

void TFormMain::ProcessCommandLine(const std::vector<std::string>& Args) {
    std::string Line = "CmdLine: " + ExecutableFileName();
    for (const auto& Arg : Args) {
        Line += ' ';
        Line += Arg;
    }
    LogInfo(Line);
    if (!Args.empty() && !DirectoryExists(Args.front())) {
        // The window still opens, empty; the user learns why nothing is scanned.
        struct stat Info {};
        const std::string Reason = ::stat(Args.front().c_str(), &Info) != 0
                                       ? SysErrorMessage(errno)
                                       : SysErrorMessage(ENOTDIR);
        const std::string Message =
            FormatText(Tr("“%s” cannot be scanned."), Args.front()) + "\n" + Reason;
        LogError(Message);
        ShowError(Message);
        return;
    }
    if (!Args.empty()) {
        // A relative path would name the root after the shell's working directory of the
        // moment, and the tree's paths would follow the program's.
        std::error_code Error;
        auto Absolute = std::filesystem::absolute(Args.front(), Error).lexically_normal();
        ScanPath(Error ? Args.front() : Absolute.string());
        QCoreApplication::processEvents();
    }
}

void TFormMain::ApplySettings(const TSettings& Settings) {
    TimerTreeRefresh->setInterval(std::max(1, Settings.TreeViewRefreshRate()));
    Source.SizeFormatter =
        Settings.FileSizeRounding() == fsrBankersRounding ? FormatSizeBankers : FormatSizeRoundDown;
    BarPainter = CreatePainter(Settings.BarChartPainterClass());
    Source.BarPainter = BarPainter.get();
    Source.DrawChildBar = HasPaintOption(Settings.PaintOptions(), poDrawChildPercentBars);
    FileTree->viewport()->update();
}

// --- view state ---------------------------------------------------------------------------

void TFormMain::SetDefaultSort() {
    FileTree->SetSort(fcPercent, Qt::DescendingOrder);
}

void TFormMain::LoadViewState() {
    try {
        TSettings& Settings = AppSettings();
        const TScreenSize Screen = ScreenSize();
        TRect Bounds = CenteredRect(700, 500, Screen.Width, Screen.Height);
        std::string_view Position;
        const std::string PositionText = Settings.ReadResolutionString("Position", "");
        Position = PositionText;
        int Parts[4];
        bool Valid = true;
        for (int& Part : Parts) {
            if (Position.empty()) {
                Valid = false;
                break;
            }
            const auto Value = ParseInt(TakeToken(Position, ",;"));
            Valid = Valid && Value.has_value();
            Part = Value.value_or(0);
        }
        if (Valid && Parts[2] > Parts[0] && Parts[3] > Parts[1]) {
            Bounds = {Parts[0], Parts[1], Parts[2], Parts[3]};
        }
        move(Bounds.Left, Bounds.Top);
        resize(Bounds.Right - Bounds.Left, Bounds.Bottom - Bounds.Top);

        ColWidthsTree = Settings.ReadResolutionString("ColWidthsTreeView", "");
        ColWidthsFlat = Settings.ReadResolutionString("ColWidthsFlatView", "");
        SetDirViewStyle(Settings.ReadSettingInteger("DirViewStyle", dvsTree));
        StringToColumnWidths(GetDirViewStyle() == dvsTree ? ColWidthsTree : ColWidthsFlat,
                             *FileTree->header());
        StringToColumnPositions(Settings.ReadSettingString("ColPositionsTreeView", ""),
                                *FileTree->header());
        FavouriteDirs.SetCommaText(Settings.ReadSettingString("MRUDirList", ""));
        FavouriteDirs.RemoveDriveRoots();
        const int Column =
            Settings.ReadSettingInteger("SortColumn", FileTree->Model().SortColumn());
        const int Direction = Settings.ReadSettingInteger(
            "SortDirection", FileTree->Model().SortOrder() == Qt::DescendingOrder ? 1 : 0);
        FileTree->SetSort(std::clamp(Column, 0, fcColumnCount - 1),
                          Direction == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
        if (GetDirViewStyle() != FileTree->GetDirViewStyle()) {
            RebuildView(GetDirViewStyle());
        }
        Panels->LoadViewState(Settings);
    } catch (const std::exception& E) {
        ShowExceptionMessage(E);
    }
}

void TFormMain::SaveViewState(bool ShowErrors) {
    try {
        TSettings& Settings = AppSettings();
        const QPoint Where = pos();
        Settings.WriteResolutionString(
            "Position",
            RectToStr({Where.x(), Where.y(), Where.x() + width(), Where.y() + height()}));
        (GetDirViewStyle() == dvsTree ? ColWidthsTree : ColWidthsFlat) =
            ColumnWidthsToString(*FileTree->header());
        Settings.WriteResolutionString("ColWidthsTreeView", ColWidthsTree);
        Settings.WriteSettingString("ColPositionsTreeView",
                                    ColumnPositionsToString(*FileTree->header()));
        Settings.WriteSettingInteger("DirViewStyle", GetDirViewStyle());
        Settings.WriteSettingString("MRUDirList", FavouriteDirs.CommaText());
        Settings.WriteSettingInteger("SortColumn", FileTree->Model().SortColumn());
        Settings.WriteSettingInteger("SortDirection",
                                     FileTree->Model().SortOrder() == Qt::DescendingOrder ? 1 : 0);
        Panels->SaveViewState(Settings);
    } catch (const std::exception& E) {
        if (ShowErrors) {
            ShowExceptionMessage(E);
        } else {
            LogError(E.what());
        }
    }
}

void TFormMain::SpecialFoldersLoaded() {
    RebuildFavouritesMenus();
}

void TFormMain::DriveAdded(const std::string& Path) {
    LogInfo("Drive added: " + Path);
    RebuildFavouritesMenus();
}

void TFormMain::DriveRemoved(const std::string& Path) {
    LogInfo("Drive removed: " + Path);
    RebuildFavouritesMenus();
}

std::vector<TMenuDrive> TFormMain::MenuDrives() const {
    // Read anew each time: the menus are rebuilt when a scan starts and when a drive comes
    // or goes, and the mount table is cheap to read.
    TShellDriveList Drives;
    Drives.Refresh();
    std::vector<TMenuDrive> Result;
    for (int i = 0; i < Drives.Count(); ++i) {
        Result.push_back({Drives.Items(i).Root, Drives.Items(i).DisplayName});
    }
    return Result;
}

void TFormMain::RebuildFavouritesMenus() {
    TFavouritesMenuSource Menus;
    Menus.Drives = MenuDrives();
    Menus.Favourites = FavouriteDirs.Entries();
    Menus.FolderIcon = Icons->Icon(Icons->ClosedFolderIcon());
    Menus.IconOf = [this](const std::string& Path) {
        int Index = SpecialFolders ? SpecialFolders->GetIconIndex(Path) : -1;
        if (Index < 0) {
            Index = Icons->GetIconIndex(WithoutTrailingDelimiter(Path));
        }
        return Index < 0 ? QIcon() : Icons->Icon(Index);
    };
    Menus.OnClickFileMenuItem = [this](const std::string& Path) { ScanPath(Path); };
    Menus.RemoveInvalidFavourites = [this] { RemoveInvalidFavourites(FavouriteDirs); };
    for (QMenu* Menu : {PopupMRUDirList, MenuItemMRUDirList}) {
        BuildFavouritesMenu(*Menu, Menus, {ActScanFixedDrives});
    }
    // What the menus offer, for a log that follows drives coming and going.
    QStringList Entries;
    for (const QAction* Action : PopupMRUDirList->actions()) {
        if (!Action->isSeparator()) {
            Entries << Action->text();
        }
    }
    LogDebug("Favourites menu: " + Entries.join(QStringLiteral(" | ")).toStdString());
}

// --- scan control -------------------------------------------------------------------------

bool TFormMain::IsScanning() const {
    // A thread unregisters before its end is delivered; the scan runs until the last end
    // has been handled (and ScanFinished has stopped the progress timers).
    return !Threads->IsSettled();
}

void TFormMain::ReplaceRoot(std::unique_ptr<TRootNode> NewRoot) {
    DiscardFlatNodes();
    // An end event still on its way must not reach into the old tree.
    Threads->ForgetAllNodes();
    Panels->BeforeNodesFreed(nullptr, true);
    // The rows move to the new tree before the old one is freed at the end of this scope.
    const std::unique_ptr<TRootNode> Old = std::exchange(Root, std::move(NewRoot));
    Source.RootNode = Root.get();
    Panels->TreeReplaced(Root.get());
    // Answers for the old tree's files would only wait for their purge.
    IconRequests->Clear();
    RebuildView(GetDirViewStyle());
}

void TFormMain::ScanPath(const std::string& Path) {
    if (!Threads->IsSettled()) {
        PendingPath = Path;
        Threads->StopAll();
        return;
    }
    const std::string Dir = WithoutTrailingDelimiter(Path);
    if (!IsDriveRoot(Dir)) {
        FavouriteDirs.AddDir(Dir);
    }
    LastPath = Dir;
    PendingPath.clear();
    // A new scan hides the notice; its folders stay for a later refresh.
    FInfoPanel->SetPanelVisible(false);
    ShowScanStopped(false);
    LastScanSeconds = -1;
    Caption = QStringLiteral("Quorvel - ") + PathText(Dir);
    setWindowTitle(Caption);
    ShowScanTime(-1);
    auto NewRoot = std::make_unique<TRootDirNode>();
    NewRoot->SetPath(Dir);
    NewRoot->SetGroupFileSize(AppSettings().GroupSmallFiles() ? AppSettings().GroupFileSize() : 0);
    ReplaceRoot(std::move(NewRoot));
    MainScanThread = Threads->StartThread(*Root);
    if (MainScanThread) {
        MainScanThread->SetOnTerminate([this](TThread& Thread) { ScanTerminated(Thread); });
        Panels->ScanStarted(*MainScanThread);
        MainScanThread->Resume();
        StartProgressTimers();
    }
    UpdateActions();
}

void TFormMain::ScanFixedDrives() {
    if (!Threads->IsSettled()) {
        PendingPath = Tr(LocalDrivesCaption);
        Threads->StopAll();
        return;
    }
    PendingPath.clear();
    ShowScanStopped(false);
    LastScanSeconds = -1;
    Caption = QStringLiteral("Quorvel - ") + TrQ(LocalDrivesCaption);
    setWindowTitle(Caption);
    ShowScanTime(-1);
    auto NewRoot = FixedDriveRoots ? std::make_unique<TFixedDrivesNode>(FixedDriveRoots())
                                   : std::make_unique<TFixedDrivesNode>();
    NewRoot->SetScanning(true);
    NewRoot->SetGroupFileSize(AppSettings().GroupSmallFiles() ? AppSettings().GroupFileSize() : 0);
    ReplaceRoot(std::move(NewRoot));
    std::vector<TDirScanThread*> Started;
    {
        TChildrenLock Lock(*Root);
        for (int i = 0; i < Lock.Children().Count(); ++i) {
            auto* Drive = dynamic_cast<TDirNode*>(Lock.Children().GetItem(i));
            if (!Drive) {
                continue;
            }
            if (TDirScanThread* Thread = Threads->StartThread(*Drive)) {
                Thread->SetOnTerminate([this](TThread& T) { SubDirScanTerminated(T); });
                Panels->ScanStarted(*Thread);
                Started.push_back(Thread);
            }
        }
    }
    // Resumed after the lock is released: the scans append to the drives' own lists only,
    // but a short first scan must not wait for the GUI thread's lock.
    for (TDirScanThread* Thread : Started) {
        Thread->Resume();
    }
    if (!Started.empty()) {
        StartProgressTimers();
    } else {
        Root->SetScanning(false);
    }
    UpdateActions();
}

void TFormMain::ScanSubDirNode(TDirNode* Node) {
    if (!Node || Threads->IsFull()) {
        LogDebug("exit ScanSubDirNode");
        return;
    }
    LogInfo("ScanSubDir: " + Node->GetFullPath());
    if (Node->IsScanning()) {
        LogDebug("already scanning");
        return;
    }
    if (Threads->StopThreadsInside(*Node) > 0) {
        LogDebug("children stopped");
    }
    // The stopped threads have left their nodes; their end events, and that of an earlier
    // scan of Node itself still on its way, must not come back to them.
    Threads->ForgetNodesInside(*Node);
    // Rows of the old children go before the children do.
    if (GetDirViewStyle() == dvsFlat) {
        // The rows are made again without the nodes about to go; the others keep their
        // selection and the focus, which the rebuild takes over from the rows.
        std::vector<TFileSystemNode*> Kept;
        for (TFileSystemNode* Flat : GetFlatNodes()) {
            if (!IsInside(*Flat, *Node)) {
                Kept.push_back(Flat);
            }
        }
        FileTree->RebuildRows(dvsFlat, Kept);
    } else {
        FileTree->Model().ReleaseChildren(*Node);
    }
    DiscardFlatNodes();
    // Sizes elsewhere stay as a stopped scan left them, unless the whole tree is scanned.
    if (Node == Root.get()) {
        ShowScanStopped(false);
    }
    // The map's worker leaves the children before they go.
    Panels->BeforeNodesFreed(Node, false);
    Node->ClearForRescan();
    Panels->NodesFreed();
    Node->SetScanning(true);
    // An open row stays open: its children are made again at once (none yet), so that the
    // refresh ticks add the rows the scan finds. Left to the view, a row that is already
    // open would never ask for them again.
    if (const QModelIndex Row = FileTree->Model().IndexOf(Node);
        Row.isValid() && FileTree->isExpanded(Row) && FileTree->Model().canFetchMore(Row)) {
        FileTree->Model().fetchMore(Row);
    }
    RefreshView();
    if (TDirScanThread* Thread = Threads->StartThread(*Node)) {
        Thread->SetOnTerminate([this](TThread& T) { SubDirScanTerminated(T); });
        Panels->ScanStarted(*Thread);
        Thread->Resume();
        StartProgressTimers();
    } else {
        Node->SetScanning(false);
    }
    UpdateActions();
}

void TFormMain::RefreshPath(const std::string& Path) {
    if (!Root) {
        return;
    }
    // Linux paths differ by case, so the comparison heeds it.
    if (WithoutTrailingDelimiter(Path) == Root->GetFullPath()) {
        ScanPath(Path);
        return;
    }
    if (auto* Dir = dynamic_cast<TDirNode*>(Root->FindNodeByPath(WithoutTrailingDelimiter(Path)))) {
        ScanSubDirNode(Dir);
    } else {
        LogDebug("RefreshPath: " + Path + " does not exists in current tree");
    }
}

void TFormMain::ScanTerminated(TThread& Thread) {
    auto& ScanThread = static_cast<TDirScanThread&>(Thread);
    // The end of an older scan may come after a new one started.
    if (MainScanThread == &ScanThread) {
        MainScanThread = nullptr;
    }
    Threads->Remove(&ScanThread);
    Panels->ScanEnded(ScanThread);
    if (!ScanThread.NodeReleased()) {
        LastScanSeconds = ScanThread.Scanner().ElapsedSeconds();
    }
    if (Threads->IsSettled()) {
        ScanFinished(ScanThread);
    }
    if (!PendingPath.empty()) {
        QMetaObject::invokeMethod(
            this, [this] { StartPendingScan(); }, Qt::QueuedConnection);
    }
    UpdateActions();
}

void TFormMain::SubDirScanTerminated(TThread& Thread) {
    auto& ScanThread = static_cast<TDirScanThread&>(Thread);
    Threads->Remove(&ScanThread);
    Panels->ScanEnded(ScanThread);
    const bool Last = Threads->IsSettled();
    // The root stops scanning before the totals are stored: UpdateTotals leaves a node
    // that is being scanned alone, and "Local Drives" would keep no total at all.
    if (Last && Root) {
        Root->SetScanning(false);
    }
    // A node that was cleared or freed since (a re-scan of a folder above it, a new tree)
    // is not touched.
    std::vector<TDirNode*> Shown;
    if (!ScanThread.NodeReleased()) {
        LastScanSeconds = ScanThread.Scanner().ElapsedSeconds();
        // The ancestors' totals before the refresh of ScanFinished: the grid reads sizes
        // once per refresh, and that one is the last when no other scan runs.
        TDirNode& Node = ScanThread.Scanner().RootNode();
        for (TGroupNode* Up = Node.Parent(); Up; Up = Up->Parent()) {
            auto* Dir = dynamic_cast<TDirNode*>(Up);
            if (!Dir) {
                break;
            }
            Dir->UpdateTotals();
            Shown.push_back(Dir);
        }
        Shown.push_back(&Node);
    }
    if (Last) {
        ScanFinished(ScanThread);
    }
    for (TDirNode* Dir : Shown) {
        FileTree->ShowNodeRow(Dir);
    }
    if (!PendingPath.empty()) {
        QMetaObject::invokeMethod(
            this, [this] { StartPendingScan(); }, Qt::QueuedConnection);
    }
    UpdateActions();
}

void TFormMain::StartPendingScan() {
    if (PendingPath.empty()) {
        return;
    }
    const std::string Path = PendingPath;
    if (Path == Tr(LocalDrivesCaption)) {
        ScanFixedDrives();
    } else {
        ScanPath(Path);
    }
}

void TFormMain::ScanFinished(TDirScanThread& Thread) {
    if (Root) {
        Root->SetScanning(false);
    }
    TimerAniSearch->stop();
    TimerTreeRefresh->stop();
    TimerStatusBar->stop();
    StatusPanel0->clear();
    // The duration of the last thread that scanned the current tree: a thread stopped for a
    // re-scan above it, or one of an older tree, says nothing about this one.
    ShowScanTime(Thread.NodeReleased() ? LastScanSeconds : Thread.Scanner().ElapsedSeconds());
    ShowScanStopped(ScanWasStopped);
    setWindowTitle(Caption);
    DiscardFlatNodes();
    RefreshView();
    Panels->ScanFinished();
}

void TFormMain::StartProgressTimers() {
    TimerAniSearch->start();
    TimerTreeRefresh->start();
    TimerStatusBar->start();
}

void TFormMain::ShowScanTime(double Seconds) {
    StatusPanel1->setText(Seconds >= 0 ? ToQ(FormatNumber(Seconds, 2) + " " + Tr("秒"))
                                       : QString());
}

QString TFormMain::StatusText(int Panel) const {
    return Panel == 0 ? StatusPanel0->text() : StatusPanel1->text();
}

void TFormMain::TimerAniSearchTimer() {
    Source.AniFrame = Source.AniFrame > 6 ? 0 : Source.AniFrame + 1;
    FileTree->viewport()->update();
}

void TFormMain::TimerTreeRefreshTimer() {
    DiscardFlatNodes();
    RefreshView();
    Panels->Tick();
}

void TFormMain::TimerStatusBarTimer() {
    const std::string Path = Threads->GetCurrentPath();
    StatusPanel0->setText(PathText(Path));
    // The title shows the walk in the task bar; before the first directory, the caption.
    // A title bar has no room for a deep path: it keeps the end, which says the most.
    const auto Characters = [](std::string_view Text) {
        return int(PathText(std::string(Text)).size());
    };
    QString Shown = PathText(ShortenPathToWidth(Path, Characters, TitlePathLength));
    if (Shown.size() > TitlePathLength) {
        // One name longer than the room: its middle goes.
        const int Half = (TitlePathLength - 1) / 2;
        Shown = Shown.left(Half) + QChar(0x2026) + Shown.right(Half);
    }
    setWindowTitle(Path.empty() ? Caption : QStringLiteral("Quorvel - ") + Shown);
    UpdateActions();
}

void TFormMain::ShowScanStopped(bool Stopped) {
    ScanWasStopped = Stopped;
    StatusStopped->setVisible(Stopped);
}

void TFormMain::VirtualFileTreeChange(TFileSystemNode* Node) {
    if (Node) {
        ShowItemInStatusBar(Node->GetFullPath(), Node->GetSize());
    }
    UpdateActions();
}

void TFormMain::ShowItemInStatusBar(const std::string& Path, std::int64_t Size) {
    StatusPanel0->setText(PathText(Path));
    StatusPanel1->setText(ToQ(FormatNumber(double(Size), 0) + " Bytes"));
}

// --- the view -------------------------------------------------------------------------------

int TFormMain::GetDirViewStyle() const {
    return ActShowFlatView->isChecked() ? dvsFlat : dvsTree;
}

void TFormMain::SetDirViewStyle(int Style) {
    (Style == dvsFlat ? ActShowFlatView : ActShowTreeView)->setChecked(true);
}

void TFormMain::RebuildView(int Style) {
    FileTree->RebuildRows(Style,
                          Style == dvsFlat ? GetFlatNodes() : std::vector<TFileSystemNode*>());
    UpdateActions();
}

void TFormMain::RefreshView() {
    const int Horizontal = FileTree->horizontalScrollBar()->value();
    const int Vertical = FileTree->verticalScrollBar()->value();
    if (GetDirViewStyle() == dvsTree && FileTree->GetDirViewStyle() == dvsTree) {
        FileTree->RefreshRows();
    } else {
        RebuildView(GetDirViewStyle());
    }
    FileTree->horizontalScrollBar()->setValue(Horizontal);
    FileTree->verticalScrollBar()->setValue(Vertical);
}

const std::vector<TFileSystemNode*>& TFormMain::GetFlatNodes() {
    if (!FlatNodes) {
        BuildFlatList();
    }
    return *FlatNodes;
}

void TFormMain::BuildFlatList() {
    FlatNodes.emplace();
    if (!Root) {
        return;
    }
    FlatNodes->push_back(Root.get());
    if (!Root->HasChildren()) {
        return;
    }
    const std::int64_t Threshold = std::llround(std::nearbyint(double(Root->GetSize()) / 1000));
    // Depth first, in child order, without recursion: trees can be very deep.
    struct TLevel {
        const TGroupNode* Node;
        int Next;
    };
    std::vector<TLevel> Stack{{Root.get(), 0}};
    while (!Stack.empty()) {
        TLevel& Level = Stack.back();
        TFileSystemNode* Child = nullptr;
        {
            TChildrenLock Lock(*Level.Node);
            if (Level.Next < Lock.Children().Count()) {
                Child = Lock.Children().GetItem(Level.Next++);
            }
        }
        if (!Child) {
            Stack.pop_back();
            continue;
        }
        auto* Dir = dynamic_cast<TDirNode*>(Child);
        if (Dir && Dir->HasChildren()) {
            Stack.push_back({Dir, 0});
        } else if (Child->GetSize() >= Threshold || (Dir && Dir->IsScanning())) {
            // A folder being scanned starts from nothing: its row stays, with the
            // selection and the focus on it, and shows the scan.
            FlatNodes->push_back(Child);
        }
    }
}

void TFormMain::ActShowTreeViewExecute() {
    ColWidthsFlat = ColumnWidthsToString(*FileTree->header());
    StringToColumnWidths(ColWidthsTree, *FileTree->header());
    SetDirViewStyle(dvsTree);
    RebuildView(dvsTree);
}

void TFormMain::ActShowFlatViewExecute() {
    ColWidthsTree = ColumnWidthsToString(*FileTree->header());
    StringToColumnWidths(ColWidthsFlat, *FileTree->header());
    SetDirViewStyle(dvsFlat);
    DiscardFlatNodes();
    RebuildView(dvsFlat);
}

// --- commands -----------------------------------------------------------------------------

void TFormMain::UpdateActions() {
    if (!ActStopScan) {
        return;
    }
    const QModelIndex First = FileTree->FirstSelectedIndex();
    TFileSystemNode* FirstNode = FileTree->Model().NodeOf(First);
    ActRefresh->setEnabled(Root != nullptr);
    ActStopScan->setEnabled(!Threads->IsIdle());
    ActOpenInExplorer->setEnabled(FirstNode != nullptr);
    ActSaveScanResult->setEnabled(MainScanThread == nullptr && Root && Root->HasChildren());
    ActRefreshNode->setEnabled(FirstNode != nullptr);
    ActConfig->setEnabled(true);
    const std::vector<TFileSystemNode*> Selected = FileTree->SelectedNodes();
    ActDelete->setEnabled(!Commands->IsDeleting() &&
                          std::any_of(Selected.begin(), Selected.end(), [](TFileSystemNode* Node) {
                              return TItemCommands::IsDeletable(*Node);
                          }));
    ActShellOpenFile->setEnabled(FirstNode && FirstNode->GetNodeType() == ntFile);
}

void TFormMain::ActDirSelectExecute() {
    try {
        std::string Chosen;
        if (BrowseForFolder(Tr("请选择您要分析的驱动器或目录："),
                            LastPath.empty() ? GetPersonalFolder() : LastPath, Chosen, this)) {
            ScanPath(Chosen);
        }
    } catch (const std::exception& E) {
        LogError(E.what());
        ShowError(E.what());
    }
}

void TFormMain::ActRefreshExecute() {
    if (dynamic_cast<TFixedDrivesNode*>(Root.get())) {
        ScanFixedDrives();
    } else if (Root) {
        ScanPath(std::string(Root->Name()));
    }
}

void TFormMain::ActStopScanExecute() {
    if (!Threads->IsIdle()) {
        ScanWasStopped = true;
    }
    Threads->StopAll();
}

void TFormMain::ActRefreshNodeExecute() {
    // Every directory to re-scan is chosen before the first one is cleared: clearing frees
    // the nodes below it, which later selected rows may refer to.
    std::vector<TDirNode*> Dirs;
    TFileSystemNode* Focused = FileTree->FocusedNode();
    const QModelIndex FocusedAncestor = FileTree->NearestVisibleAncestor(FileTree->currentIndex());
    for (TFileSystemNode* Node : FileTree->SelectedNodes()) {
        if (dynamic_cast<TFixedDrivesNode*>(Node)) {
            // "Local Drives" has no path of its own to scan: its drives are scanned anew.
            ScanFixedDrives();
            return;
        }
        if (auto* Dir = dynamic_cast<TDirNode*>(Node)) {
            Dirs.push_back(Dir);
        } else if (auto* Parent = dynamic_cast<TDirNode*>(Node->Parent())) {
            const QModelIndex Row = FileTree->Model().IndexOf(Node);
            const QModelIndex Ancestor = FileTree->NearestVisibleAncestor(Row);
            if (Ancestor.isValid()) {
                auto* Selection = FileTree->selectionModel();
                Selection->select(Row, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
                Selection->select(Ancestor,
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
                if (Node == Focused || Ancestor == FocusedAncestor) {
                    Selection->setCurrentIndex(Ancestor, QItemSelectionModel::NoUpdate);
                }
            }
            Dirs.push_back(Parent);
        }
    }
    std::vector<TDirNode*> Chosen;
    for (TDirNode* Dir : Dirs) {
        const bool Covered = std::any_of(Dirs.begin(), Dirs.end(), [&](const TDirNode* Other) {
            return Other != Dir && IsInside(*Dir, *Other);
        });
        if (!Covered && std::find(Chosen.begin(), Chosen.end(), Dir) == Chosen.end()) {
            Chosen.push_back(Dir);
        }
    }
    for (TDirNode* Dir : Chosen) {
        ScanSubDirNode(Dir);
    }
}

void TFormMain::ActSaveScanResultExecute() {
    if (!Root) {
        return;
    }
    TSettings& Settings = AppSettings();
    TExportRegistry& Registry = ExportRegistry();
    // A hand-edited index outside the list would otherwise pick no format at all.
    const int FilterIndex =
        std::clamp(Settings.ReadSettingInteger("LastFilterIndex", 1), 1, Registry.Count());
    std::string DefaultDir = GetPersonalFolder() + "Quorvel";
    std::error_code Error;
    std::filesystem::create_directories(DefaultDir, Error);
    if (Error) {
        DefaultDir.clear();
    } else {
        DefaultDir += '/';
    }
    const std::string Dir = Settings.ReadSettingString("LastSaveDir", DefaultDir);
    std::string Name = Root->GetDisplayName();
    RemoveChars(Name, ":");
    Name = SanitizeFileName(Name, '_', " ");
    // A Linux path starts with "/", which would give every proposal a leading "_".
    Name.erase(0, Name.find_first_not_of('_'));
    if (Name.empty()) {
        Name = "Quorvel";
    }
    std::optional<TSaveChoice> Choice;
    if (SaveDialog) {
        Choice = SaveDialog(Dir, Name, Registry.GetFilter(), FilterIndex);
    } else {
        QStringList Filters;
        const QStringList Parts = ToQ(Registry.GetFilter()).split('|');
        for (int i = 0; i + 1 < Parts.size(); i += 2) {
            Filters << Parts[i];
        }
        QFileDialog Dialog(this, TrQ("Save Scan Result"), PathText(Dir));
        Dialog.setAcceptMode(QFileDialog::AcceptSave);
        Dialog.setNameFilters(Filters);
        Dialog.selectNameFilter(Filters.value(FilterIndex - 1));
        Dialog.setDefaultSuffix(ToQ(Registry.GetFileExtension(FilterIndex - 1)));
        connect(&Dialog, &QFileDialog::filterSelected, &Dialog, [&](const QString& Filter) {
            const int Index = int(Filters.indexOf(Filter));
            if (Index >= 0) {
                Dialog.setDefaultSuffix(ToQ(Registry.GetFileExtension(Index)));
            }
        });
        Dialog.selectFile(PathText(Name));
        if (Dialog.exec() == QDialog::Accepted && !Dialog.selectedFiles().isEmpty()) {
            Choice = TSaveChoice{QFile::encodeName(Dialog.selectedFiles().front()).toStdString(),
                                 int(Filters.indexOf(Dialog.selectedNameFilter())) + 1};
        }
    }
    if (!Choice) {
        return;
    }
    const int Chosen = std::clamp(Choice->FilterIndex, 1, Registry.Count());
    try {
        Settings.WriteSettingString("LastSaveDir", DirectoryPart(Choice->FileName));
        Settings.WriteSettingInteger("LastFilterIndex", Chosen);
    } catch (const std::exception& E) {
        // The export does not depend on remembering the folder.
        LogError(E.what());
    }
    auto Exporter = Registry.GetItem(Chosen - 1)->Create(*Root);
    if (Exporter->GetClass().GetExportKind() == 2) {
        if (Settings.FileSizeRounding() == fsrBankersRounding) {
            Exporter->SizeFormatter = FormatSizeBankers;
        } else if (Settings.FileSizeRounding() == fsrRoundDown) {
            Exporter->SizeFormatter = FormatSizeRoundDown;
        }
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        Exporter->SaveToFile(Choice->FileName);
        QApplication::restoreOverrideCursor();
    } catch (const std::exception& E) {
        QApplication::restoreOverrideCursor();
        // Nothing was saved: the user has to learn that, and why.
        LogError(E.what());
        ShowError(E.what());
    }
}

void TFormMain::ActOpenInExplorerExecute() {
    Commands->ActOpenInExplorerExecute();
}

void TFormMain::ActShellOpenFileExecute() {
    Commands->ActShellOpenFileExecute();
}

void TFormMain::ActDeleteExecute() {
    Commands->ActDeleteExecute();
}

void TFormMain::VirtualFileTreeDblClick(const QModelIndex& Clicked) {
    if (FileTree->Model().NodeOf(FileTree->FirstSelectedIndex())) {
        ActShellOpenFileExecute();
    } else if (Clicked.isValid() && !FileTree->Model().NodeOf(Clicked)) {
        // The placeholder row before the first scan (it cannot be selected) asks for a
        // folder.
        ActDirSelectExecute();
    }
}

} // namespace qv
