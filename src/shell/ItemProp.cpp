#include "shell/ItemProp.h"

#include "support/QvLogger.h"
#include "view/QtText.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <algorithm>
#include <filesystem>
#include <fnmatch.h>
#include <memory>
#include <sys/stat.h>

namespace qv {

bool RenameRequested = false;

namespace {

struct TVerbEntry {
    std::string_view Verb;
    const char* Caption;
    const char* Icon;
};

// Menu order; a separator before the entries that change the disk and before properties.
constexpr TVerbEntry VerbEntries[] = {
    {VerbOpen, TrNoop("&Open"), "document-open"},
    {VerbShowInFolder, TrNoop("Show in &Folder"), "system-file-manager"},
    {VerbCopyPath, TrNoop("&Copy Path"), "edit-copy"},
    {VerbRescan, TrNoop("&Rescan"), "view-refresh"},
    {VerbTrash, TrNoop("Move to &Trash"), "user-trash"},
    {VerbDelete, TrNoop("&Delete Permanently"), "edit-delete"},
    {VerbProperties, TrNoop("&Properties"), "document-properties"},
};

// The entries of Path's folder whose names match the pattern of its name part, in the
// order the folder lists them; hidden entries too.
std::vector<std::string> MatchingItems(const std::string& Path) {
    std::vector<std::string> Items;
    const auto Slash = Path.rfind('/');
    if (Slash == std::string::npos) {
        return Items;
    }
    const std::string Dir = Path.substr(0, Slash + 1);
    const std::string Pattern = Path.substr(Slash + 1);
    std::error_code Error;
    for (std::filesystem::directory_iterator It(Dir, Error), End; !Error && It != End;
         It.increment(Error)) {
        const std::string Name = It->path().filename().native();
        if (::fnmatch(Pattern.c_str(), Name.c_str(), 0) == 0) {
            Items.push_back(Dir + Name);
        }
    }
    return Items;
}

void CopyPaths(const std::vector<std::string>& Paths) {
    auto Data = std::make_unique<QMimeData>();
    QStringList Lines;
    QList<QUrl> Urls;
    for (const std::string& Path : Paths) {
        Lines << PathText(Path);
        Urls << FileUrl(Path);
    }
    Data->setText(Lines.join('\n'));
    Data->setUrls(Urls);
    QGuiApplication::clipboard()->setMimeData(Data.release());
}

// Whether Verb can act on Items, every one of which exists (lstat).
bool CanRun(TItemVerbTarget& Target, std::string_view Verb, const std::vector<std::string>& Items) {
    if (Items.empty()) {
        return false;
    }
    if (Verb == VerbCopyPath) {
        return true;
    }
    struct stat St {};
    for (const std::string& Item : Items) {
        if (::lstat(Item.c_str(), &St) != 0) {
            return false;
        }
    }
    if (Verb == VerbProperties && Items.size() != 1) {
        return false;
    }
    return Target.CanRunVerb(Verb, Items);
}

bool Run(TItemVerbTarget& Target, std::string_view Verb, const std::vector<std::string>& Items) {
    LogDebug("item command " + std::string(Verb));
    if (Verb == VerbCopyPath) {
        CopyPaths(Items);
        return true;
    }
    return Target.RunVerb(Verb, Items);
}

// Shows the menu over Items at ScreenPoint and runs the entry chosen.
bool ShowMenu(TItemVerbTarget& Target, const std::vector<std::string>& Items, QWidget* Owner,
              QPoint ScreenPoint) {
    QMenu Menu(Owner);
    Menu.setObjectName(ItemMenuName);
    Menu.setAccessibleName(TrQ("Item menu"));
    for (const TVerbEntry& Entry : VerbEntries) {
        if (Entry.Verb == VerbTrash || Entry.Verb == VerbProperties) {
            Menu.addSeparator();
        }
        QAction* Action =
            Menu.addAction(QIcon::fromTheme(QString::fromLatin1(Entry.Icon)), TrQ(Entry.Caption));
        Action->setObjectName(QString::fromLatin1(Entry.Verb.data(), Entry.Verb.size()));
        Action->setData(Action->objectName());
        Action->setEnabled(CanRun(Target, Entry.Verb, Items));
        if (Entry.Verb == VerbOpen) {
            Menu.setDefaultAction(Action);
        }
    }
    // The window may go while the menu is open (a quit from elsewhere); nothing runs then.
    QPointer<QWidget> Guard(Owner);
    QAction* Chosen = Menu.exec(ScreenPoint);
    if (!Chosen || (Owner && !Guard)) {
        return true;
    }
    const std::string Verb = Chosen->data().toString().toStdString();
    return Run(Target, Verb, Items);
}

} // namespace

bool InvokeItemCommand(TItemVerbTarget& Target, const std::string& Path,
                       const std::vector<std::string>* Items, TItemAction Action,
                       std::string_view Verb, QWidget* OwnerWindow, QPoint ScreenPoint,
                       bool CanRename) {
    (void)CanRename; // nothing to rename with: the menu offers no rename
    RenameRequested = false;
    std::vector<std::string> Found;
    if (Items) {
        Found = *Items;
    } else {
        const auto Slash = Path.rfind('/');
        const std::string Name = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
        if (Name.find_first_of("*?") != std::string::npos) {
            Found = MatchingItems(Path);
        } else if (!Path.empty()) {
            Found.push_back(Path);
        }
    }
    if (Found.empty()) {
        return false;
    }
    switch (Action) {
    case iaContextMenu:
        return ShowMenu(Target, Found, OwnerWindow, ScreenPoint);
    case iaProperties:
        return CanRun(Target, VerbProperties, Found) && Run(Target, VerbProperties, Found);
    case iaDefaultCommand:
        return CanRun(Target, VerbOpen, Found) && Run(Target, VerbOpen, Found);
    case iaVerb: {
        const auto Known = std::find_if(std::begin(VerbEntries), std::end(VerbEntries),
                                        [&](const TVerbEntry& E) { return E.Verb == Verb; });
        return Known != std::end(VerbEntries) && CanRun(Target, Verb, Found) &&
               Run(Target, Verb, Found);
    }
    }
    return false;
}

bool DisplayContextMenu(TItemVerbTarget& Target, const std::string& Path, QWidget* OwnerWindow,
                        QPoint ScreenPoint, bool& Renamed, bool CanRename) {
    const bool Result = InvokeItemCommand(Target, Path, nullptr, iaContextMenu, {}, OwnerWindow,
                                          ScreenPoint, CanRename);
    Renamed = RenameRequested;
    return Result;
}

unsigned GetExplorerAltColor() {
    return 0xFF0000; // 0x00BBGGRR: pure blue
}

} // namespace qv
