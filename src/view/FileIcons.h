#pragma once
// The grid's icons, held by the program in integer-indexed tables as image lists were:
// the file and folder icons of the desktop's theme (chosen by MIME type from the name alone,
// never by reading the file), the grid's own pictures (folders, the all-drives root), the
// two overlay marks and the eight frames of the scan animation.
//
// Threading: GUI thread only (QIcon and QPixmap live there). An index handed out stays valid
// for the life of the table; the tree's nodes cache them (TFileSystemNode::ImageIndex).

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv {

// The grid's own pictures (ImgListTreeView).
enum TTreeViewImage : int {
    tviClosedFolder = 0,
    tviOpenFolder = 1,
    tviFixedDrives = 4,
};

// The overlay marks (ImgListOverlay).
enum TOverlayImage : int {
    oiGroupedFiles = 18,
    oiIncomplete = 19,
};

class TFileIconTable {
public:
    // Chooses the icon theme when the session names none (no desktop session: Adwaita from
    // /usr/share/icons), then fills the folder, drive and default file entries.
    TFileIconTable();
    TFileIconTable(const TFileIconTable&) = delete;
    TFileIconTable& operator=(const TFileIconTable&) = delete;

    // The theme icon at Index; a null icon for an index that was never handed out.
    [[nodiscard]] QIcon Icon(int Index) const;
    [[nodiscard]] int Count() const noexcept { return int(Icons.size()); }

    // The table's entries for closed and open folders.
    [[nodiscard]] int ClosedFolderIcon() const noexcept { return ClosedFolder; }
    [[nodiscard]] int OpenFolderIcon() const noexcept { return OpenFolder; }
    // The icon of a plain file of unknown type (the default file icon).
    [[nodiscard]] int DefaultFileIcon() const noexcept { return DefaultFile; }

    // The icon of a directory the desktop knows by its path: the home folder, the XDG user
    // directories (desktop, documents, downloads, music, pictures, videos...), the file
    // system root and the mount points of listed drives (by drive type). -1 for any other
    // path.
    [[nodiscard]] int GetIconIndex(const std::string& Path);
    // The icon of a file named Name, by the MIME type its name suggests; the default file
    // icon when the theme has none for it. One entry per MIME type.
    [[nodiscard]] int GetFileIconIndex(std::string_view Name);

    // A picture of the grid (TTreeViewImage), the overlay marks (TOverlayImage) and the scan
    // animation (frames 0 to 7), from the program's resources. Null pixmaps for other
    // indexes.
    [[nodiscard]] static QPixmap TreeViewImage(int Index);
    [[nodiscard]] static QPixmap OverlayImage(int Index);
    [[nodiscard]] static QPixmap AniSearchFrame(int Frame);

private:
    int Add(const QIcon& Icon);
    int AddThemed(const QString& Name, const QIcon& Fallback);

    std::vector<QIcon> Icons;
    std::unordered_map<std::string, int> ByMimeType;
    std::unordered_map<std::string, int> ByThemeName;
    // The directories GetIconIndex knows (home, user folders, root, drive mount points), by
    // path without a trailing slash, with their theme icon name and style fallback; filled
    // once by the constructor.
    struct TKnownFolder {
        QString ThemeName;
        QIcon Fallback;
    };
    std::unordered_map<std::string, TKnownFolder> KnownFolders;
    int ClosedFolder = -1;
    int OpenFolder = -1;
    int DefaultFile = -1;
};

} // namespace qv
