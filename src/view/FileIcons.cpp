#include "view/FileIcons.h"

#include "platform/Drives.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPixmapCache>
#include <QStandardPaths>
#include <QStyle>
#include <initializer_list>
#include <utility>

// Q_INIT_RESOURCE has to stand outside any namespace. The pictures live in a static library,
// so nothing would pull their resource object into the executable without this reference.
static void InitImageResources() {
    Q_INIT_RESOURCE(images);
}

namespace qv {

namespace {

// The picture Name from the resources, the @2x drawing on a high-density screen. Cached in
// Qt's pixmap cache, which Qt empties itself before the application goes away.
QPixmap LoadImage(const QString& Name) {
    if (qGuiApp == nullptr)
        return {};
    [[maybe_unused]] static const bool registered = [] {
        InitImageResources();
        return true;
    }();
    const bool doubleDensity = qGuiApp->devicePixelRatio() > 1.0;
    const QString key = QStringLiteral("qv-image:") + Name + (doubleDensity ? "@2x" : "");
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    const QString base = QStringLiteral(":/images/") + Name;
    if (doubleDensity && pixmap.load(base + QStringLiteral("@2x.png")))
        pixmap.setDevicePixelRatio(2.0);
    else
        pixmap.load(base + QStringLiteral(".png"));
    if (!pixmap.isNull())
        QPixmapCache::insert(key, pixmap);
    return pixmap;
}

// A standard icon of the widget style, or else our own picture OwnImage: with only a
// QGuiApplication there is no style to ask.
QIcon FallbackIcon(QStyle::StandardPixmap Which, const QString& OwnImage) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        QIcon icon = QApplication::style()->standardIcon(Which);
        if (!icon.isNull())
            return icon;
    }
    return QIcon(LoadImage(OwnImage));
}

// Without a desktop session nobody names an icon theme and Qt falls back to the bare
// hicolor theme, which has almost no file or folder icons. Adwaita is the theme installed
// with the program's dependencies.
void ChooseIconTheme() {
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QStringLiteral("hicolor"))
        return;
    QStringList paths = QIcon::themeSearchPaths();
    const QString system = QStringLiteral("/usr/share/icons");
    if (!paths.contains(system)) {
        paths.append(system);
        QIcon::setThemeSearchPaths(paths);
    }
    for (const QString& path : std::as_const(paths))
        if (QFileInfo::exists(path + QStringLiteral("/Adwaita/index.theme"))) {
            QIcon::setThemeName(QStringLiteral("Adwaita"));
            return;
        }
}

// Paths are compared as the tree spells them: bytes, without a trailing slash except for
// the root itself.
std::string PathKey(std::string Path) {
    while (Path.size() > 1 && Path.back() == '/')
        Path.pop_back();
    return Path;
}

std::string PathKey(const QString& Path) {
    return PathKey(QFile::encodeName(QDir::cleanPath(Path)).toStdString());
}

} // namespace

TFileIconTable::TFileIconTable() {
    ChooseIconTheme();
    ClosedFolder = AddThemed(QStringLiteral("folder"),
                             FallbackIcon(QStyle::SP_DirIcon, QStringLiteral("folder_closed")));
    OpenFolder = AddThemed(QStringLiteral("folder-open"),
                           FallbackIcon(QStyle::SP_DirOpenIcon, QStringLiteral("folder_open")));
    DefaultFile = AddThemed(QStringLiteral("text-x-generic"),
                            FallbackIcon(QStyle::SP_FileIcon, QStringLiteral("file")));

    const QIcon folder = Icons[std::size_t(ClosedFolder)];
    const QIcon hardDisk = FallbackIcon(QStyle::SP_DriveHDIcon, QStringLiteral("fixed_drives"));
    // Drives first, so that a home or user folder that is also a mount point shows as the
    // folder the user knows.
    struct TDriveIcon {
        TDriveType Type;
        const char* ThemeName;
        QIcon Fallback;
    };
    const TDriveIcon driveIcons[] = {
        {dtFixed, "drive-harddisk", hardDisk},
        {dtRAMDisk, "drive-harddisk", hardDisk},
        {dtRemovable, "drive-removable-media",
         FallbackIcon(QStyle::SP_DriveFDIcon, QStringLiteral("fixed_drives"))},
        {dtRemote, "folder-remote",
         FallbackIcon(QStyle::SP_DriveNetIcon, QStringLiteral("fixed_drives"))},
        {dtCDROM, "media-optical",
         FallbackIcon(QStyle::SP_DriveCDIcon, QStringLiteral("fixed_drives"))},
    };
    for (const TDriveIcon& drive : driveIcons) {
        std::vector<std::string> roots;
        GetDriveList(TDriveTypes{drive.Type}, roots);
        for (const std::string& root : roots)
            KnownFolders[PathKey(root)] = {QString::fromLatin1(drive.ThemeName), drive.Fallback};
    }
    KnownFolders["/"] = {QStringLiteral("drive-harddisk"), hardDisk};

    const QString home = QDir::homePath();
    const std::pair<QStandardPaths::StandardLocation, const char*> userFolders[] = {
        {QStandardPaths::DesktopLocation, "user-desktop"},
        {QStandardPaths::DocumentsLocation, "folder-documents"},
        {QStandardPaths::DownloadLocation, "folder-download"},
        {QStandardPaths::MusicLocation, "folder-music"},
        {QStandardPaths::PicturesLocation, "folder-pictures"},
        {QStandardPaths::MoviesLocation, "folder-videos"},
    };
    for (const auto& [location, themeName] : userFolders) {
        // user-dirs.dirs points a folder the user does not want at the home folder itself.
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && PathKey(path) != PathKey(home))
            KnownFolders[PathKey(path)] = {QString::fromLatin1(themeName), folder};
    }
    const TKnownFolder homeFolder{
        QStringLiteral("user-home"),
        FallbackIcon(QStyle::SP_DirHomeIcon, QStringLiteral("folder_closed"))};
    KnownFolders[PathKey(home)] = homeFolder;
    // A scan reports the real path, so a home reached through a symbolic link is known by
    // both names.
    const QString realHome = QFileInfo(home).canonicalFilePath();
    if (!realHome.isEmpty())
        KnownFolders[PathKey(realHome)] = homeFolder;
}

QIcon TFileIconTable::Icon(int Index) const {
    if (Index < 0 || Index >= Count())
        return {};
    return Icons[std::size_t(Index)];
}

int TFileIconTable::GetIconIndex(const std::string& Path) {
    const auto known = KnownFolders.find(PathKey(Path));
    if (known == KnownFolders.end())
        return -1;
    return AddThemed(known->second.ThemeName, known->second.Fallback);
}

int TFileIconTable::GetFileIconIndex(std::string_view Name) {
    const QMimeDatabase database;
    const QMimeType mime =
        database.mimeTypeForFile(QFile::decodeName(QByteArray(Name.data(), qsizetype(Name.size()))),
                                 QMimeDatabase::MatchExtension);
    // Names that say nothing get the plain file icon, not the theme's icon for binary data.
    if (!mime.isValid() || mime.isDefault())
        return DefaultFile;
    const std::string key = mime.name().toStdString();
    if (const auto found = ByMimeType.find(key); found != ByMimeType.end())
        return found->second;
    int index = DefaultFile;
    for (const QString& themeName : {mime.iconName(), mime.genericIconName()})
        if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName)) {
            index = AddThemed(themeName, Icons[std::size_t(DefaultFile)]);
            break;
        }
    ByMimeType.emplace(key, index);
    return index;
}

QPixmap TFileIconTable::TreeViewImage(int Index) {
    switch (Index) {
    case tviClosedFolder:
        return LoadImage(QStringLiteral("folder_closed"));
    case tviOpenFolder:
        return LoadImage(QStringLiteral("folder_open"));
    case tviFixedDrives:
        return LoadImage(QStringLiteral("fixed_drives"));
    default:
        return {};
    }
}

QPixmap TFileIconTable::OverlayImage(int Index) {
    switch (Index) {
    case oiGroupedFiles:
        return LoadImage(QStringLiteral("overlay_grouped"));
    case oiIncomplete:
        return LoadImage(QStringLiteral("overlay_incomplete"));
    default:
        return {};
    }
}

QPixmap TFileIconTable::AniSearchFrame(int Frame) {
    if (Frame < 0 || Frame > 7)
        return {};
    return LoadImage(QStringLiteral("search_%1").arg(Frame));
}

int TFileIconTable::Add(const QIcon& Icon) {
    Icons.push_back(Icon);
    return Count() - 1;
}

int TFileIconTable::AddThemed(const QString& Name, const QIcon& Fallback) {
    const std::string key = Name.toStdString();
    if (const auto found = ByThemeName.find(key); found != ByThemeName.end())
        return found->second;
    QIcon icon = QIcon::fromTheme(Name, Fallback);
    // Neither theme nor style had one (no QApplication): our own plain sheet.
    if (icon.isNull())
        icon = QIcon(LoadImage(QStringLiteral("file")));
    const int index = Add(icon);
    ByThemeName.emplace(key, index);
    return index;
}

} // namespace qv
