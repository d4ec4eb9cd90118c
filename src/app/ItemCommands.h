#pragma once
// The main window's commands on the items of the grid: open a file, show an item in the
// file manager, the item menus, and deleting to the trash or permanently with the size tree
// brought in line with the disk afterwards. The window owns one and wires its actions and
// the grid's context-menu events to it.
//
// Threading: GUI thread only.

#include "shell/ItemProp.h"

#include <QObject>
#include <QPoint>
#include <Qt>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;

namespace qv {

class TFileSystemNode;
class TFormMain;
struct TDeleteReport;

class TItemCommands final : public QObject, public TItemVerbTarget {
public:
    explicit TItemCommands(TFormMain& Form);
    ~TItemCommands() override;

    void ActOpenInExplorerExecute();
    void ActShellOpenFileExecute();
    // AllowUndo: move to the trash; unset: the trash unless Shift is held right now.
    void ActDeleteExecute(std::optional<bool> AllowUndo = {});
    // A right click (or the menu key) over the grid at (X, Y) of its viewport.
    void VirtualFileTreeMouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);

    // Whether the delete commands can act on Node: not "Local Drives", a drive, a "Grouped
    // Files" row (whose path is its folder's) or the top of the tree.
    [[nodiscard]] static bool IsDeletable(const TFileSystemNode& Node);
    // Deletes Nodes (their paths inside another's are left to that one) after asking; the
    // tree then shows what is on disk and the user learns what failed and why. Returns
    // whether every item is gone.
    bool DeleteNodes(const std::vector<TFileSystemNode*>& Nodes, bool AllowUndo);

    // The same commands on items named by their paths, for the lists that show files
    // without rows in the grid (the largest files). A file may have no node yet: its folder's
    // files were never listed.
    //
    // Opens a file with its program, a folder in the file manager.
    void OpenPath(const std::string& Path);
    // Shows the items in the file manager: one window per folder, its first item selected.
    void ShowPathsInFolder(const std::vector<std::string>& Paths);
    // The item menu the grid shows, acting on Paths, at Global (screen coordinates).
    void PopupMenuForPaths(const std::vector<std::string>& Paths, QPoint Global);
    // DeleteNodes on the nodes of Paths, listing the files of their folders where needed;
    // paths the tree does not hold are left alone. Returns whether every item is gone.
    bool DeletePaths(const std::vector<std::string>& Paths, bool AllowUndo);

    // Called for each item a delete removed from disk and from the tree, with the sizes
    // the tree counted for it (a second name of a linked file, counted nowhere, is left
    // out), before its node goes: the window's statistics follow.
    std::function<void(const std::string& Path, bool Folder, std::int64_t Size,
                       std::int64_t SizeOnDisk)>
        OnItemDeleted;

    // TItemVerbTarget
    bool CanRunVerb(std::string_view Verb, const std::vector<std::string>& Paths) override;
    bool RunVerb(std::string_view Verb, const std::vector<std::string>& Paths) override;

    // The small menu of "Grouped Files" rows: its folder (disabled), then the commands.
    QMenu* PopupTree = nullptr;
    QAction* PopupMenuItemSelectedPath = nullptr;
    // The last report of DeleteNodes, for tests.
    [[nodiscard]] const TDeleteReport& LastReport() const { return *Report; }
    // The node of Path in the window's tree (the top, a folder, a file, also one of a
    // "Grouped Files" row); nullptr when the tree has none. Starts no listing.
    [[nodiscard]] TFileSystemNode* NodeOfPath(const std::string& Path) const;
    // Whether a delete is under way (its event loop runs).
    [[nodiscard]] bool IsDeleting() const noexcept { return Deleting; }
    void Retranslate();

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void OpenFile(const std::string& Path);
    void MenuForCurrentRow();
    void RemoveNode(TFileSystemNode* Node);
    // The node of Path, after listing the files of its folder (and of the folder's group of
    // small files) if they were not; nullptr when the tree has no such item.
    TFileSystemNode* LoadNodeOfPath(const std::string& Path);
    // Whether Path is a file whose folder the tree holds, though the file has no node yet.
    [[nodiscard]] bool IsUnlistedFile(const std::string& Path) const;

    TFormMain& Form;
    std::unique_ptr<TDeleteReport> Report;
    bool Deleting = false;
};

} // namespace qv
