#pragma once
// The drive and favourites menus of the main window (the File menu's "Recent Folders" and
// the drop-down of the favourites button): the drives, a separator, the recent folders
// newest first and numbered 1 to 9, and, when some of those no longer exist, an entry that
// offers to drop them.
//
// Threading: GUI thread only.

#include <QAction>
#include <QIcon>
#include <functional>
#include <string>
#include <vector>

class QMenu;

namespace qv {

class TMRUDirList;

// A menu entry that scans its path when chosen.
class TFileMenuItem final : public QAction {
public:
    TFileMenuItem(const QIcon& Icon, const QString& Caption, std::string Path, QObject* Parent)
        : QAction(Icon, Caption, Parent), ItemPath(std::move(Path)) {}
    [[nodiscard]] const std::string& Path() const noexcept { return ItemPath; }

private:
    std::string ItemPath;
};

// A drive as the menus show it.
struct TMenuDrive {
    std::string Path;
    std::string DisplayName;
};

struct TFavouritesMenuSource {
    std::vector<TMenuDrive> Drives;
    // Recent folders, oldest first.
    std::vector<std::string> Favourites;
    // The icon of a path; a null icon means "none of its own".
    std::function<QIcon(const std::string& Path)> IconOf;
    QIcon FolderIcon;
    // Runs the scan of a chosen entry, and the removal of the entries that are gone.
    std::function<void(const std::string& Path)> OnClickFileMenuItem;
    std::function<void()> RemoveInvalidFavourites;
};

// Replaces the entries of Menu; actions in Keep (the window's own, such as "Local Drives")
// are appended after a separator.
void BuildFavouritesMenu(QMenu& Menu, const TFavouritesMenuSource& Source,
                         const std::vector<QAction*>& Keep = {});

// Asks, listing the recent folders that no longer exist, and drops them on Yes. Returns
// whether any was dropped.
bool RemoveInvalidFavourites(TMRUDirList& Favourites);

} // namespace qv
