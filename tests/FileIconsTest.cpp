// The grid's icon table against the real MIME database, icon theme and home folder, and
// the pictures compiled in from resources/images: present, not blank, told apart, and the
// overlays confined to their corner.

#include "view/FileIcons.h"

#include "platform/Drives.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace qv {
namespace {

int OpaquePixels(const QPixmap& Pixmap) {
    const QImage image = Pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return count;
}

bool HasAdwaita() {
    return QFileInfo::exists(QStringLiteral("/usr/share/icons/Adwaita/index.theme"));
}

// Points $HOME and the XDG configuration at a temporary folder for one test.
class TTempHome {
public:
    TTempHome() : OldHome(qgetenv("HOME")), OldConfig(qgetenv("XDG_CONFIG_HOME")) {
        qputenv("HOME", QFile::encodeName(Dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(Dir.filePath(QStringLiteral(".config"))));
    }
    ~TTempHome() {
        qputenv("HOME", OldHome);
        if (OldConfig.isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", OldConfig);
    }
    QTemporaryDir Dir;

private:
    QByteArray OldHome;
    QByteArray OldConfig;
};

TEST(FileIconsTest, FileIndexesAreStableAndSharedPerMimeType) {
    TFileIconTable table;
    const int text = table.GetFileIconIndex("a.txt");
    ASSERT_GE(text, 0);
    EXPECT_EQ(table.GetFileIconIndex("b.txt"), text);
    const int count = table.Count();
    EXPECT_EQ(table.GetFileIconIndex("a.txt"), text);
    EXPECT_EQ(table.Count(), count);
    EXPECT_EQ(table.GetFileIconIndex("photo.png"), table.GetFileIconIndex("other.png"));
    // Unknown and missing extensions get the plain file icon.
    EXPECT_EQ(table.GetFileIconIndex("data.qvnosuchext"), table.DefaultFileIcon());
    EXPECT_EQ(table.GetFileIconIndex(""), table.DefaultFileIcon());
    EXPECT_NE(table.ClosedFolderIcon(), table.OpenFolderIcon());
    EXPECT_NE(table.ClosedFolderIcon(), table.DefaultFileIcon());
}

TEST(FileIconsTest, NoNullIconIsHandedOut) {
    TFileIconTable table;
    for (const char* name : {"a.txt", "a.png", "a.pdf", "a.mp3", "a.tar.gz", "a.cpp", "Makefile",
                             "a.html", "a.odt", "a.iso", "a.qvnosuchext"})
        (void)table.GetFileIconIndex(name);
    (void)table.GetIconIndex("/");
    ASSERT_GT(table.Count(), 3);
    for (int i = 0; i < table.Count(); ++i) {
        EXPECT_FALSE(table.Icon(i).isNull()) << i;
        EXPECT_FALSE(table.Icon(i).pixmap(16, 16).isNull()) << i;
    }
    EXPECT_TRUE(table.Icon(-1).isNull());
    EXPECT_TRUE(table.Icon(table.Count()).isNull());
}

TEST(FileIconsTest, KnownDirectories) {
    TTempHome home;
    ASSERT_TRUE(home.Dir.isValid());
    ASSERT_TRUE(QDir(home.Dir.path()).mkpath(QStringLiteral(".config")));
    QFile dirs(home.Dir.filePath(QStringLiteral(".config/user-dirs.dirs")));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/Desk\"\nXDG_MUSIC_DIR=\"$HOME/\"\n");
    dirs.close();
    ASSERT_TRUE(QDir(home.Dir.path()).mkpath(QStringLiteral("Desk")));

    TFileIconTable table;
    const std::string path = QFile::encodeName(home.Dir.path()).toStdString();
    const int homeIndex = table.GetIconIndex(path);
    ASSERT_GE(homeIndex, 0);
    EXPECT_EQ(table.GetIconIndex(path + "/"), homeIndex);
    const int desktop = table.GetIconIndex(path + "/Desk");
    EXPECT_GE(desktop, 0);
    EXPECT_NE(desktop, homeIndex);
    EXPECT_EQ(table.GetIconIndex(path + "/Other"), -1);
    EXPECT_GE(table.GetIconIndex("/"), 0);
    EXPECT_NE(table.GetIconIndex("/"), homeIndex);

    QTemporaryDir other;
    EXPECT_EQ(table.GetIconIndex(QFile::encodeName(other.path()).toStdString()), -1);
    std::vector<std::string> drives;
    GetDriveList(TDriveTypes{dtFixed, dtRemovable, dtRemote, dtCDROM}, drives);
    for (const std::string& drive : drives)
        EXPECT_GE(table.GetIconIndex(drive), 0) << drive;
    for (int i = 0; i < table.Count(); ++i)
        EXPECT_FALSE(table.Icon(i).isNull()) << i;
}

TEST(FileIconsTest, ThemeResolvesRealIcons) {
    if (!HasAdwaita())
        GTEST_SKIP() << "no Adwaita icon theme";
    TFileIconTable table;
    EXPECT_FALSE(QIcon::themeName().isEmpty());
    EXPECT_NE(QIcon::themeName(), QStringLiteral("hicolor"));
    EXPECT_FALSE(QIcon::fromTheme(QStringLiteral("folder")).isNull());
    EXPECT_EQ(table.Icon(table.ClosedFolderIcon()).name(), QStringLiteral("folder"));
    // An image gets the theme's image icon, not the plain sheet.
    const int png = table.GetFileIconIndex("a.png");
    EXPECT_NE(png, table.DefaultFileIcon());
    EXPECT_NE(png, table.GetFileIconIndex("a.txt"));
}

TEST(FileIconsTest, PicturesArePresentAndDistinct) {
    std::vector<QImage> pictures;
    for (int frame = 0; frame < 8; ++frame)
        pictures.push_back(TFileIconTable::AniSearchFrame(frame).toImage());
    pictures.push_back(TFileIconTable::OverlayImage(oiGroupedFiles).toImage());
    pictures.push_back(TFileIconTable::OverlayImage(oiIncomplete).toImage());
    for (const int index : {tviClosedFolder, tviOpenFolder, tviFixedDrives})
        pictures.push_back(TFileIconTable::TreeViewImage(index).toImage());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        ASSERT_EQ(pictures[i].size(), QSize(16, 16)) << i;
        EXPECT_GT(OpaquePixels(QPixmap::fromImage(pictures[i])), 20) << i;
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(pictures[i], pictures[j]) << i << " " << j;
    }
    // The overlays keep to the lower-left 10×10, so the icon under them stays visible.
    for (const int overlay : {oiGroupedFiles, oiIncomplete}) {
        const QImage image =
            TFileIconTable::OverlayImage(overlay).toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (x >= 10 || y < 6) {
                    ASSERT_EQ(qAlpha(image.pixel(x, y)), 0) << overlay << " " << x << "," << y;
                }
    }
}

TEST(FileIconsTest, OutOfRangePicturesAreNull) {
    for (const int index : {-1, 2, 3, 5, 18})
        EXPECT_TRUE(TFileIconTable::TreeViewImage(index).isNull()) << index;
    for (const int index : {-1, 0, 1, 17, 20})
        EXPECT_TRUE(TFileIconTable::OverlayImage(index).isNull()) << index;
    EXPECT_TRUE(TFileIconTable::AniSearchFrame(-1).isNull());
    EXPECT_TRUE(TFileIconTable::AniSearchFrame(8).isNull());
}

} // namespace
} // namespace qv
