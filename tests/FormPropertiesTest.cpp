// The properties dialog on a real folder scanned with the real scanner, offscreen: the
// tree's totals next to the file system's fields, items deleted after the scan, a tree
// freed while the dialog is open, and what a screen reader gets of each field.

#include "app/FormProperties.h"

#include "TestTree.h"
#include "platform/SysError.h"
#include "scan/DirScan.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"
#include "view/SizeFormat.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QTest>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <sys/stat.h>

// Readable failure messages for the texts compared below.
void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}

namespace qv {
namespace {

using test::TTempDir;

// The dialog reads the window's size rounding from the settings.
[[maybe_unused]] const bool PrivateConfig = test::UsePrivateConfigHome();

// a/beta/gamma/big 5000, a/c/file 3000, a/d/tiny 1, a/e empty: 8001 bytes in 3 files and 5
// folders below a; scanned without grouping.
class FormPropertiesTest : public testing::Test {
protected:
    void SetUp() override {
        UseLanguage("en");
        SetNumberSeparators(".", ",");
        Data.File("a/beta/gamma/big", 5000);
        Data.File("a/c/file", 3000);
        Data.File("a/d/tiny", 1);
        Data.MkDir("a/e");
        Root->SetPath(Data.Path());
        TDirScanner(*Root).Scan(Data.Path(), 0);
    }

    [[nodiscard]] TFileSystemNode* Node(const std::string& Rel) const {
        return Root->FindNodeByPath(Data / Rel);
    }

    static QLabel* Field(const QWidget& Form, const char* Name) {
        return Form.findChild<QLabel*>(QLatin1String(Name));
    }
    static QString Value(const QWidget& Form, const char* Name) {
        const QLabel* Label = Field(Form, Name);
        return Label ? Label->text() : QStringLiteral("<none>");
    }

    TTempDir Data;
    std::unique_ptr<TRootDirNode> Root = std::make_unique<TRootDirNode>();
};

TEST_F(FormPropertiesTest, FolderFileAndLinkWithTreeTotalsAndDiskFields) {
    TFileSystemNode* A = Node("a");
    ASSERT_NE(A, nullptr);
    const TFormProperties Folder(Data / "a", A, nullptr);
    EXPECT_EQ(Folder.windowTitle(), QStringLiteral("Properties of a"));
    EXPECT_EQ(Value(Folder, "ValuePath"), QString::fromStdString(Data / "a"));
    EXPECT_EQ(Value(Folder, "ValueKind"), QStringLiteral("Folder"));
    EXPECT_EQ(Value(Folder, "ValueSize"),
              QString::fromStdString(FormatSizeRoundDown(8001)) + " (8,001 bytes)");
    EXPECT_TRUE(Value(Folder, "ValueSizeOnDisk").endsWith(" for the folder itself"));
    EXPECT_EQ(Value(Folder, "ValueFiles"), QStringLiteral("3"));
    EXPECT_EQ(Value(Folder, "ValueFolders"), QStringLiteral("5"));
    EXPECT_EQ(Value(Folder, "ValuePermissions"), QStringLiteral("drwxr-xr-x (0755)"));
    EXPECT_EQ(Value(Folder, "ValueOwner"), QStringLiteral("root (0)"));
    EXPECT_EQ(Value(Folder, "ValueGroup"), QStringLiteral("root (0)"));
    EXPECT_FALSE(Value(Folder, "ValueFileSystem").isEmpty());
    EXPECT_EQ(Field(Folder, "ValueError"), nullptr);
    EXPECT_EQ(Field(Folder, "ValueLinkTarget"), nullptr);

    // Every caption and value has a name and its text for assistive technology.
    const auto Labels = Folder.findChildren<QLabel*>();
    ASSERT_EQ(Labels.size(), 28);
    for (QLabel* Label : Labels) {
        QAccessibleInterface* Accessible = QAccessible::queryAccessibleInterface(Label);
        ASSERT_NE(Accessible, nullptr);
        EXPECT_FALSE(Accessible->text(QAccessible::Name).isEmpty())
            << Label->objectName().toStdString();
        if (Label->objectName().startsWith("Value")) {
            EXPECT_EQ(Accessible->text(QAccessible::Description), Label->text());
        } else {
            EXPECT_TRUE(Label->buddy() && Label->buddy()->objectName().startsWith("Value"));
        }
    }

    // A file node has no counts below it; its modification time shows with the seconds.
    ASSERT_GT(static_cast<TDirNode*>(Node("a/c"))->LoadFiles(), 0);
    const timespec Times[2] = {{0, UTIME_OMIT}, {1577934037, 0}}; // 2020-01-02 03:00:37 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, (Data / "a/c/file").c_str(), Times, 0), 0);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const TFormProperties File(Data / "a/c/file", Node("a/c/file"));
    QLocale::setDefault(QLocale::system());
    EXPECT_EQ(Value(File, "ValueKind"), QStringLiteral("File"));
    EXPECT_EQ(Value(File, "ValueSize"),
              QString::fromStdString(FormatSizeRoundDown(3000)) + " (3,000 bytes)");
    EXPECT_EQ(Value(File, "ValuePermissions"), QStringLiteral("-rw-r--r-- (0644)"));
    EXPECT_EQ(Value(File, "ValueModified"), QStringLiteral("1/2/20 3:00:37 AM"));
    EXPECT_EQ(Field(File, "ValueFiles"), nullptr);
    EXPECT_EQ(Field(File, "ValueFolders"), nullptr);

    // Without a node the item is described from the file system alone, a link as a link.
    Data.Symlink("c", "a/link");
    const TFormProperties Link(Data / "a/link", nullptr);
    EXPECT_EQ(Value(Link, "ValueKind"), QStringLiteral("Symbolic link"));
    EXPECT_EQ(Value(Link, "ValueLinkTarget"), QStringLiteral("c"));
    EXPECT_EQ(Value(Link, "ValueSize"), QString::fromStdString(FormatSizeRoundDown(1)));
    EXPECT_EQ(Field(Link, "ValueFiles"), nullptr);
}

TEST_F(FormPropertiesTest, ItemDeletedAfterTheScanShowsTheSystemsMessage) {
    test::RemoveTree(Data / "a/beta");
    const TFormProperties Gone(Data / "a/beta", Node("a/beta"));
    const QString Message = QString::fromStdString(SysErrorMessage(ENOENT));
    EXPECT_EQ(Value(Gone, "ValuePath"), QString::fromStdString(Data / "a/beta"));
    EXPECT_EQ(Value(Gone, "ValueError"), Message);
    // What the scan found is still told; the file system's fields are not.
    EXPECT_TRUE(Value(Gone, "ValueSize").endsWith("(5,000 bytes)"));
    EXPECT_EQ(Value(Gone, "ValueFiles"), QStringLiteral("1"));
    EXPECT_EQ(Value(Gone, "ValueFolders"), QStringLiteral("1"));
    for (const char* Name : {"ValueKind", "ValueSizeOnDisk", "ValueModified", "ValueOwner",
                             "ValuePermissions", "ValueMountPoint"}) {
        EXPECT_EQ(Field(Gone, Name), nullptr) << Name;
    }

    const TFormProperties Unknown(Data / "never", nullptr);
    EXPECT_EQ(Value(Unknown, "ValueError"), Message);
    EXPECT_EQ(Unknown.findChildren<QLabel*>().size(), 4); // path and error
}

TEST_F(FormPropertiesTest, OpensNonModalAndOutlivesTheTree) {
    QWidget Window;
    ShowItemProperties(Data / "a", Node("a"), &Window);
    QPointer<TFormProperties> Form = Window.findChild<TFormProperties*>();
    ASSERT_FALSE(Form.isNull());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_FALSE(Form->isModal());
    EXPECT_TRUE(Form->testAttribute(Qt::WA_DeleteOnClose));

    // The tree goes as a new scan would replace it; the dialog still works from its copy.
    Root.reset();
    Form->Retranslate();
    QCoreApplication::processEvents();
    EXPECT_EQ(Value(*Form, "ValueFolders"), QStringLiteral("5"));
    EXPECT_EQ(Value(*Form, "ValueFiles"), QStringLiteral("3"));

    QTest::keyClick(Form, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Form.isNull());
}

} // namespace
} // namespace qv
