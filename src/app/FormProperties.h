#pragma once
// TFormProperties: the properties of one item: what the file system says about it now
// (ReadItemInfo) next to what the scan found below it (size, files, folders).
//
// Lifetime: the dialog copies what it needs of the node when it is made and keeps no
// pointer into the tree, so a re-scan, a deletion or a new tree may free the node while
// the dialog stays open. It is made on the GUI thread, which the tree's rule for walking
// child lists requires.

#include "platform/ItemInfo.h"

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

class QDialogButtonBox;
class QFormLayout;
class QLabel;

namespace qv {

class TFileSystemNode;

class TFormProperties final : public QDialog {
public:
    // Reads the information of Path and copies the totals of Node, which may be null (the
    // item is then shown from the file system alone). When Path cannot be read, the dialog
    // shows the path and the system's message instead of the file system's fields.
    TFormProperties(const std::string& Path, const TFileSystemNode* Node,
                    QWidget* Parent = nullptr);

    // Sets every caption and value text in the current language.
    void Retranslate();

private:
    enum TField : std::uint8_t {
        pfPath,
        pfError,
        pfKind,
        pfLinkTarget,
        pfSize,
        pfAllocated,
        pfFiles,
        pfFolders,
        pfModified,
        pfChanged,
        pfAccessed,
        pfOwner,
        pfGroup,
        pfPermissions,
        pfFileSystem,
        pfMountPoint,
    };
    struct TRow {
        TField Field;
        QLabel* Caption;
        QLabel* Value;
    };

    void AddRow(QFormLayout& Form, TField Field);
    [[nodiscard]] QString CaptionText(TField Field) const;
    [[nodiscard]] QString ValueText(TField Field) const;

    TItemInfo Info;
    // Copied from the node; HasNode is false when there was none.
    bool HasNode = false;
    bool HasCounts = false; // a directory or group node: files and folders below it
    std::int64_t TreeSize = 0;
    std::int32_t FileCount = 0;
    std::int32_t FolderCount = 0;

    std::vector<TRow> Rows;
    QDialogButtonBox* Buttons = nullptr;
};

// Opens a non-modal properties dialog for Path and Node (see TFormProperties), which frees
// itself when closed.
void ShowItemProperties(const std::string& Path, const TFileSystemNode* Node, QWidget* Parent);

} // namespace qv
