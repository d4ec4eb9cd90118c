// The largest-files and file-type lists over the statistics of real scans, clicked and typed
// at on the offscreen platform, with Qt's model tester watching.

#include "view/StatisticsViews.h"

#include "ModelChecker.h"
#include "TestTree.h"
#include "scan/DirScan.h"
#include "settings/QvSettings.h"
#include "tree/TreeTypes.h"
#include "view/QtText.h"
#include "view/SizeFormat.h"

#include <QHeaderView>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

namespace qv {
namespace {

using test::TTempDir;

TScanStatistics::TSnapshot ScanOf(const std::string& Path) {
    TRootDirNode root;
    root.SetName(Path);
    TDirScanner scanner(root);
    auto statistics = std::make_shared<TScanStatistics>();
    scanner.SetStatistics(statistics);
    scanner.Scan(Path, 0);
    return statistics->Snapshot();
}

// Column Column of every row, top to bottom, as the view shows it.
QStringList ColumnTexts(const QAbstractItemModel& Model, int Column, int Role = Qt::DisplayRole) {
    QStringList texts;
    for (int row = 0; row < Model.rowCount(); ++row)
        texts << Model.index(row, Column).data(Role).toString();
    return texts;
}

void ClickHeader(QTreeView& View, int Column) {
    QHeaderView& header = *View.header();
    const int x = header.sectionViewportPosition(Column) + header.sectionSize(Column) / 2;
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, QPoint(x, header.height() / 2));
}

class StatisticsViewsTest : public testing::Test {
protected:
    void SetUp() override {
        UseLanguage("en");
        SetNumberSeparators(".", ",");
        AppSettings().SetFileSizeRounding(fsrRoundDown);
    }
    TTempDir Data;
};

TEST_F(StatisticsViewsTest, LargestFilesSortUpdateAndKeys) {
    Data.File("a/nine.txt", 9);
    Data.File("a/ten.bin", 10);
    Data.File("b/hundred", 100);
    Data.File("b/big.iso", 3 << 20);
    TLargestFilesView view;
    test::TModelChecker checker(view.Model());
    view.resize(600, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.SetFiles(ScanOf(Data.Path()).Largest);
    TLargestFilesModel& model = view.Model();
    EXPECT_FALSE(view.accessibleName().isEmpty());
    EXPECT_FALSE(view.rootIsDecorated());

    // Largest first; sizes read as the grid writes them.
    EXPECT_EQ(ColumnTexts(model, TLargestFilesModel::lcName),
              QStringList({"big.iso", "hundred", "ten.bin", "nine.txt"}));
    EXPECT_EQ(model.index(0, TLargestFilesModel::lcSize).data().toString(),
              ToQ(FormatSizeRoundDown(3 << 20)));
    EXPECT_EQ(model.index(0, TLargestFilesModel::lcFolder).data().toString(), PathText(Data / "b"));
    EXPECT_EQ(ColumnTexts(model, TLargestFilesModel::lcModified),
              ColumnTexts(model, TLargestFilesModel::lcModified, Qt::AccessibleTextRole));
    // A click on Size turns the direction: by number, not by text ("10 Byte" < "9 Byte").
    ClickHeader(view, TLargestFilesModel::lcSize);
    EXPECT_EQ(ColumnTexts(model, TLargestFilesModel::lcName),
              QStringList({"nine.txt", "ten.bin", "hundred", "big.iso"}));
    // By name, then the other way.
    const QStringList byName({"big.iso", "hundred", "nine.txt", "ten.bin"});
    QStringList reversed = byName;
    std::reverse(reversed.begin(), reversed.end());
    ClickHeader(view, TLargestFilesModel::lcName);
    EXPECT_EQ(model.SortColumn(), TLargestFilesModel::lcName);
    const bool ascending = model.SortOrder() == Qt::AscendingOrder;
    EXPECT_EQ(ColumnTexts(model, TLargestFilesModel::lcName), ascending ? byName : reversed);
    ClickHeader(view, TLargestFilesModel::lcName);
    EXPECT_EQ(ColumnTexts(model, TLargestFilesModel::lcName), ascending ? reversed : byName);
    view.sortByColumn(TLargestFilesModel::lcSize, Qt::DescendingOrder);

    // Two rows selected, the second current; an update that keeps them keeps the selection
    // and the current row, though the rows move.
    std::vector<std::vector<std::string>> reported;
    view.OnSelectionChanged = [&](std::vector<std::string> Paths) {
        reported.push_back(std::move(Paths));
    };
    view.setFocus();
    view.setCurrentIndex(model.index(2, 0)); // ten.bin
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    ASSERT_EQ(view.SelectedPaths(),
              (std::vector<std::string>{Data / "a/ten.bin", Data / "a/nine.txt"}));
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), view.SelectedPaths());
    Data.File("a/nine.txt", 5 << 20);
    std::filesystem::remove(Data / "b/hundred");
    Data.File("c/new", 50);
    view.SetFiles(ScanOf(Data.Path()).Largest);
    EXPECT_EQ(ColumnTexts(model, TLargestFilesModel::lcName),
              QStringList({"nine.txt", "big.iso", "new", "ten.bin"}));
    EXPECT_EQ(view.SelectedPaths(),
              (std::vector<std::string>{Data / "a/nine.txt", Data / "a/ten.bin"}));
    EXPECT_EQ(model.Item(view.currentIndex().row()).Path, Data / "a/nine.txt");

    // The keys: Enter activates the current file, Delete and Shift+Delete hand on the
    // selection, the menu comes from Shift+F10 and the menu key.
    std::vector<std::string> activated, deleted, menu;
    bool shift = false;
    view.OnActivated = [&](const std::string& Path) { activated.push_back(Path); };
    view.OnDeleteKey = [&](std::vector<std::string> Paths, bool Shift) {
        deleted = std::move(Paths);
        shift = Shift;
    };
    int menus = 0;
    view.OnContextMenu = [&](std::vector<std::string> Paths, QPoint) {
        menu = std::move(Paths);
        ++menus;
    };
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(activated, std::vector<std::string>{Data / "a/nine.txt"});
    QTest::keyClick(&view, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(deleted, view.SelectedPaths());
    EXPECT_TRUE(shift);
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_FALSE(shift);
    QTest::keyClick(&view, Qt::Key_F10, Qt::ShiftModifier);
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5), QPoint(5, 5));
    QApplication::sendEvent(&view, &key);
    EXPECT_EQ(menus, 2);
    EXPECT_EQ(menu, view.SelectedPaths());
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_EQ(view.currentIndex().row(), model.rowCount() - 1);
}

TEST_F(StatisticsViewsTest, FileTypesNamesSharesAndTheOutdatedNote) {
    Data.File("README", 100);
    Data.File(".profile", 300);
    Data.File("a/photo.JPG", 2000);
    Data.File("a/b.jpg", 1000);
    Data.File("a/c.txt", 600);
    TFileTypesView view;
    test::TModelChecker checker(view.Model());
    view.resize(500, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.SetTypeColour(
        [](const std::string& Type) { return Type == "jpg" ? 0xFF0000u : 0x00FF00u; });
    auto types = ScanOf(Data.Path()).Types;
    types.push_back({std::string(TFileTypeSums::Other), 0, 0, 3});
    view.SetTypes(types, false);
    TFileTypesModel& model = view.Model();
    EXPECT_EQ(ColumnTexts(model, TFileTypesModel::tcType),
              QStringList({".jpg", ".txt", "(hidden files)", "(no extension)", "(other types)"}));
    EXPECT_EQ(ColumnTexts(model, TFileTypesModel::tcShare),
              QStringList({"75%", "15%", "7.5%", "2.5%", "0%"}));
    EXPECT_EQ(model.index(0, TFileTypesModel::tcFiles).data().toString(), "2");
    EXPECT_EQ(model.index(0, 0).data(Qt::DecorationRole).value<QColor>(), QColor(Qt::red));
    EXPECT_FALSE(view.accessibleName().isEmpty());
    EXPECT_TRUE(view.OutdatedNote()->isHidden());

    // Files, by number; the type of the chosen row is handed on.
    ClickHeader(view, TFileTypesModel::tcFiles);
    ClickHeader(view, TFileTypesModel::tcFiles);
    EXPECT_EQ(ColumnTexts(model, TFileTypesModel::tcFiles), QStringList({"3", "2", "1", "1", "1"}));
    std::vector<std::string> chosen;
    view.OnTypeSelected = [&](const std::string& Type) { chosen.push_back(Type); };
    view.setFocus();
    view.setCurrentIndex(model.index(1, 0));
    EXPECT_EQ(chosen, std::vector<std::string>{"jpg"});

    // Outdated: the note shows, below the rows; the chosen type stays chosen.
    types.erase(types.begin() + 1);
    view.SetTypes(types, true);
    EXPECT_TRUE(view.OutdatedNote()->isVisible());
    EXPECT_TRUE(view.OutdatedNote()->text().contains("scan the whole tree again"));
    EXPECT_GE(view.OutdatedNote()->geometry().top(), view.viewport()->geometry().bottom());
    EXPECT_EQ(view.SelectedType(), "jpg");
    // The type goes: the list chooses a neighbour, and says so; then none.
    std::erase_if(types, [](const TFileTypeSum& Sum) { return Sum.Type == "jpg"; });
    view.SetTypes(types, false);
    EXPECT_TRUE(view.OutdatedNote()->isHidden());
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen.back(), view.SelectedType());
    EXPECT_NE(chosen.back(), "jpg");
    view.clearSelection();
    EXPECT_EQ(chosen.back(), "");
    view.Retranslate();
    EXPECT_EQ(model.headerData(TFileTypesModel::tcShare, Qt::Horizontal, Qt::DisplayRole), "Share");
}

} // namespace
} // namespace qv
