#pragma once
// The item menu: the commands the window offers on a file or directory of the grid (open,
// show in folder, copy path, rescan, move to the trash, delete permanently, properties),
// and running one of them without the menu. Everything that needs the size tree is done
// by the window through TItemVerbTarget; this unit finds the items, builds the menu and
// decides what each entry can act on.
//
// Threading: GUI thread only.

#include <QPoint>
#include <string>
#include <string_view>
#include <vector>

class QMenu;
class QWidget;

namespace qv {

enum TItemAction {
    iaContextMenu = 0,    // show the menu and run the chosen command
    iaProperties = 1,     // run "properties"
    iaDefaultCommand = 2, // run the menu's default command ("open")
    iaVerb = 3,           // run a named verb
};

// The verbs of the menu, in menu order.
inline constexpr std::string_view VerbOpen = "open";
inline constexpr std::string_view VerbShowInFolder = "showinfolder";
inline constexpr std::string_view VerbCopyPath = "copypath";
inline constexpr std::string_view VerbRescan = "rescan";
inline constexpr std::string_view VerbTrash = "trash";
inline constexpr std::string_view VerbDelete = "delete";
inline constexpr std::string_view VerbProperties = "properties";

// The window's side of the menu: runs the verbs on items given by their absolute paths.
class TItemVerbTarget {
public:
    virtual ~TItemVerbTarget() = default;
    // Whether Verb can act on all of Paths (which exist on disk). "copypath" is never asked.
    [[nodiscard]] virtual bool CanRunVerb(std::string_view Verb,
                                          const std::vector<std::string>& Paths) = 0;
    // Runs Verb; false when it failed or did nothing.
    virtual bool RunVerb(std::string_view Verb, const std::vector<std::string>& Paths) = 0;
};

// Set when the user chose to rename from the menu; reset by every InvokeItemCommand. The
// menu offers no rename, so it stays false.
extern bool RenameRequested;

// Runs Action on the item at Path, or on every entry matching Path when its name part
// holds "*" or "?" (one menu over all of them; no match: nothing is shown, false). Items,
// when not null, names the items directly (absolute paths) and Path is not used. The menu
// opens at ScreenPoint. Returns false when nothing could be offered or the command failed;
// true when it ran or the menu was dismissed.
bool InvokeItemCommand(TItemVerbTarget& Target, const std::string& Path,
                       const std::vector<std::string>* Items, TItemAction Action,
                       std::string_view Verb, QWidget* OwnerWindow, QPoint ScreenPoint,
                       bool CanRename);

// The menu for one item (or a wildcard pattern) at ScreenPoint.
bool DisplayContextMenu(TItemVerbTarget& Target, const std::string& Path, QWidget* OwnerWindow,
                        QPoint ScreenPoint, bool& Renamed, bool CanRename);

// Tests and the window look at the menu while it is open: it is the active popup, named
// "ItemMenu", its actions named after their verbs.
inline constexpr const char* ItemMenuName = "ItemMenu";

// The colour of compressed items in the grid; Linux has no such setting: blue.
[[nodiscard]] unsigned GetExplorerAltColor();

} // namespace qv
