// The tree-grid over real scanned folders, offscreen: the model checked by Qt's model tester
// through rebuilds, lazy rows, refreshes during a threaded scan, removals and sorts; the
// texts, icons, spans and bars of the cells and what a screen reader gets of them; the header
// rules and the column layout; the flat style; and what the view keeps across rebuilds and
// refresh ticks.

#include "ModelChecker.h"
#include "TestTree.h"
#include "app/QtDispatcher.h"
#include "platform/SysError.h"
#include "scan/DirScan.h"
#include "scan/ScanThread.h"
#include "shell/ShellTypes.h"
#include "support/Collation.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"
#include "view/FileIcons.h"
#include "view/QvBarChartPainter.h"
#include "view/VirtualFileTree.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qv {
namespace {

using test::TModelChecker;
using test::TTempDir;

// The settings the scan threads read live in a private folder.
[[maybe_unused]] const bool PrivateConfig = test::UsePrivateConfigHome();

const QRgb Fill = qRgb(0, 200, 0);
const QRgb ChildFill = qRgb(200, 0, 0);

// big (4000 bytes, 2 files), top (a 2000-byte file), mid (500, 1 file), void (empty):
// 6500 bytes in 4 files, scanned without grouping.
class FileTreeTest : public ::testing::Test {
protected:
    TTempDir Dir;
    TRootDirNode Root;
    TFileTreeSource Source;
    TQuorvelOneBarChartPainter Bars{Qt::black, QColor(Fill)};
    TQuorvelOneBarChartPainter ChildBars{Qt::black, QColor(ChildFill)};
    std::unique_ptr<TVirtualFileTree> View;
    std::unique_ptr<TModelChecker> Checker;

    void SetUp() override {
        Dir.File("big/x", 3000);
        Dir.File("big/y", 1000);
        Dir.File("mid/z", 500);
        Dir.MkDir("void");
        Dir.File("top", 2000);
        Root.SetPath(Dir.Path());
        TDirScanner(Root).Scan(Dir.Path(), 0);
        Source.RootNode = &Root;
        Source.BarPainter = &Bars;
        Source.ChildBarPainter = &ChildBars;
        View = std::make_unique<TVirtualFileTree>(Source);
        View->resize(600, 300);
        Checker = std::make_unique<TModelChecker>(Model());
        test::WaitForListings(Model());
    }

    TFileTreeModel& Model() const { return View->Model(); }
    TDirNode& Dir_(const char* Name) const {
        return *static_cast<TDirNode*>(Root.FindNodeByPath(Dir / Name));
    }
    QModelIndex Row(const char* Name) const {
        return Model().IndexOf(Root.FindNodeByPath(Dir / Name));
    }
    QModelIndex Top() const { return Model().index(0, 0); }

    std::vector<std::string> Names(const QModelIndex& Parent = {}) const {
        std::vector<std::string> names;
        for (int row = 0; row < Model().rowCount(Parent); ++row)
            names.push_back(Model().index(row, 0, Parent).data().toString().toStdString());
        return names;
    }
    QString Text(const QModelIndex& Index, int Column, int Role = Qt::DisplayRole) const {
        return Index.siblingAtColumn(Column).data(Role).toString();
    }
};

using TNames = std::vector<std::string>;

TEST(FileTreePlaceholder, AloneInBothStylesUntilThereIsARoot) {
    TFileTreeSource source;
    TVirtualFileTree view(source);
    TModelChecker checker(view.Model());
    for (int style : {dvsTree, dvsFlat}) {
        view.RebuildRows(style);
        test::WaitForListings(view.Model());
        ASSERT_EQ(view.Model().rowCount(), 1);
        const QModelIndex row = view.Model().index(0, 0);
        EXPECT_EQ(row.data().toString().toStdString(), Tr("请选择一个目录"));
        EXPECT_EQ(view.Model().NodeOf(row), nullptr);
        EXPECT_EQ(row.data(TFileTreeModel::NodeRole).value<quintptr>(), 0u);
        EXPECT_TRUE(view.isFirstColumnSpanned(0, {}));
        EXPECT_TRUE(row.data(Qt::FontRole).value<QFont>().italic());
        EXPECT_EQ(row.data(Qt::ForegroundRole).value<QColor>(), QColor(128, 128, 128));
        EXPECT_FALSE(view.Model().hasChildren(row));
        EXPECT_FALSE(view.Model().flags(row) & Qt::ItemIsSelectable);
        EXPECT_TRUE(row.siblingAtColumn(fcSize).data().toString().isEmpty());
        EXPECT_EQ(view.FocusedNode(), nullptr);
    }
}

TEST_F(FileTreeTest, RowsTextsAndShares) {
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    EXPECT_EQ(Model().NodeOf(Top()), &Root);
    EXPECT_TRUE(View->isExpanded(Top()));
    EXPECT_EQ(Names(Top()), (TNames{"big", "top", "mid", "void"})); // by percent, descending
    EXPECT_EQ(Text(Top(), fcName).toStdString(), Root.GetDisplayName());

    const QModelIndex big = Row("big");
    EXPECT_EQ(Text(big, fcSize).toStdString(), FormatSizeRoundDown(4000));
    EXPECT_EQ(Text(big, fcFiles).toStdString(), FormatCount(2));
    EXPECT_TRUE(Text(big, fcPercent).isEmpty());
    EXPECT_EQ(big.siblingAtColumn(fcSize).data(Qt::TextAlignmentRole).toInt(),
              int(Qt::AlignRight | Qt::AlignVCenter));
    EXPECT_EQ(big.siblingAtColumn(fcFiles).data(Qt::TextAlignmentRole).toInt() & Qt::AlignLeft,
              int(Qt::AlignLeft));
    EXPECT_EQ(big.data(TFileTreeModel::SizeRole).toLongLong(), 4000);
    EXPECT_DOUBLE_EQ(big.data(TFileTreeModel::PercentRole).toDouble(), 4000.0 / 6500);
    EXPECT_DOUBLE_EQ(Top().data(TFileTreeModel::PercentRole).toDouble(), 1.0);
    // The root's children get no child bar: it would repeat the main bar.
    EXPECT_EQ(big.data(TFileTreeModel::ChildPercentRole).toDouble(), -1.0);
    EXPECT_TRUE(Model().hasChildren(Row("void")) == false || Model().canFetchMore(Row("void")));

    View->expand(big);
    test::WaitForListings(Model());
    const QModelIndex x = Row("big/x");
    ASSERT_TRUE(x.isValid());
    EXPECT_EQ(Names(big), (TNames{"x", "y"}));
    EXPECT_DOUBLE_EQ(x.data(TFileTreeModel::ChildPercentRole).toDouble(), 0.75);
    EXPECT_FALSE(Model().hasChildren(x));
    EXPECT_TRUE(Model().flags(x) & Qt::ItemNeverHasChildren);

    Source.DrawChildBar = false;
    Source.BarPainter = nullptr;
    EXPECT_EQ(x.data(TFileTreeModel::ChildPercentRole).toDouble(), -1.0);
    EXPECT_EQ(x.data(TFileTreeModel::PercentRole).toDouble(), -1.0);
}

TEST_F(FileTreeTest, ErrorRowsSpanTheirColumnsWhileTheErrorLasts) {
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    TDirNode& empty = Dir_("void");
    empty.SetScanError(EACCES);
    View->RefreshRows();
    test::WaitForListings(Model());
    const QModelIndex row = Row("void");
    EXPECT_EQ(Text(row, fcName, TFileTreeModel::StaticTextRole).toStdString(),
              SysErrorMessage(EACCES));
    EXPECT_TRUE(row.data(TFileTreeModel::StaticTextIsErrorRole).toBool());
    EXPECT_TRUE(Text(row, fcSize).isEmpty());
    EXPECT_TRUE(Text(row, fcFiles).isEmpty());
    EXPECT_TRUE(View->isFirstColumnSpanned(row.row(), Top()));
    EXPECT_FALSE(View->isFirstColumnSpanned(Row("big").row(), Top()));

    empty.SetScanError(0);
    View->RefreshRows();
    test::WaitForListings(Model());
    EXPECT_FALSE(View->isFirstColumnSpanned(Row("void").row(), Top()));
    EXPECT_TRUE(Text(Row("void"), fcName, TFileTreeModel::StaticTextRole).isEmpty());
}

TEST_F(FileTreeTest, HeaderRulesSortEveryLevelStably) {
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    View->expand(Row("big"));
    test::WaitForListings(Model());
    QHeaderView& header = *View->header();
    EXPECT_EQ(header.sortIndicatorSection(), fcPercent);
    EXPECT_EQ(header.sortIndicatorOrder(), Qt::DescendingOrder);

    // Clicked for real: the view's own indicator flip must not get in the way.
    View->show();
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {},
                      QPoint(header.sectionViewportPosition(fcSize) + 5, header.height() / 2));
    EXPECT_EQ(Model().SortColumn(), fcSize);
    EXPECT_EQ(Model().SortOrder(), Qt::DescendingOrder);
    EXPECT_EQ(Names(Top()), (TNames{"big", "top", "mid", "void"}));
    View->HeaderClick(fcSize);
    EXPECT_EQ(header.sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_EQ(Names(Top()), (TNames{"void", "mid", "top", "big"}));
    EXPECT_EQ(Names(Row("big")), (TNames{"y", "x"}));
    View->HeaderClick(fcPercent);
    EXPECT_EQ(header.sortIndicatorSection(), fcPercent);
    EXPECT_EQ(Model().SortOrder(), Qt::AscendingOrder);
    EXPECT_EQ(Names(Top()), (TNames{"void", "mid", "top", "big"}));

    // mid and top have one file each and keep the order they had.
    View->HeaderClick(fcFiles);
    EXPECT_EQ(Names(Top()), (TNames{"void", "mid", "top", "big"}));
    View->RefreshRows();
    test::WaitForListings(Model());
    EXPECT_EQ(Names(Top()), (TNames{"void", "mid", "top", "big"}));

    View->HeaderClick(fcName);
    const TNames ascending = Names(Top());
    EXPECT_TRUE(std::is_sorted(ascending.begin(), ascending.end(), [](auto& a, auto& b) {
        return CollateCompare(a.c_str(), b.c_str()) < 0;
    }));
    View->HeaderClick(fcName);
    EXPECT_EQ(Names(Top()), TNames(ascending.rbegin(), ascending.rend()));

    EXPECT_EQ(Model().CompareNodes(Dir_("big"), Dir_("mid"), fcSize), 1);
    EXPECT_EQ(Model().CompareNodes(Dir_("big"), Dir_("mid"), fcPercent), 1);
    EXPECT_EQ(Model().CompareNodes(Dir_("void"), Dir_("mid"), fcFiles), -1);
    EXPECT_EQ(Model().CompareNodes(Dir_("mid"), Dir_("mid"), fcName), 0);
    EXPECT_LT(Model().CompareNodes(Dir_("big"), Dir_("mid"), fcName), 0);
}

// The size-on-disk column: hidden until chosen from the header's menu, then formatted like
// the sizes and sortable; a sparse file's folder sorts by what it takes, not by its length.
TEST(FileTreeColumns, SizeOnDiskIsOfferedShownAndSorted) {
    TTempDir dir;
    dir.Data("dense/d", 40000);
    dir.File("sparse/s", 1 << 20);
    TRootDirNode root;
    root.SetPath(dir.Path());
    TDirScanner(root).Scan(dir.Path(), 0);
    TFileTreeSource source;
    source.RootNode = &root;
    TVirtualFileTree view(source);
    view.resize(700, 300);
    TModelChecker checker(view.Model());
    view.RebuildRows(dvsTree);
    test::WaitForListings(view.Model());
    QHeaderView& header = *view.header();
    EXPECT_TRUE(header.isSectionHidden(fcSizeOnDisk));

    const std::unique_ptr<QMenu> menu = view.MakeColumnsMenu();
    QAction* offered = nullptr;
    for (QAction* action : menu->actions()) {
        EXPECT_NE(action->text().toStdString(), Tr("名称")) << "the name always shows";
        if (action->text().toStdString() == Tr("Size on disk"))
            offered = action;
    }
    ASSERT_NE(offered, nullptr);
    EXPECT_EQ(menu->actions().size(), fcColumnCount - 1);
    EXPECT_FALSE(offered->isChecked());
    offered->trigger();
    EXPECT_FALSE(header.isSectionHidden(fcSizeOnDisk));
    EXPECT_EQ(header.sectionSize(fcSizeOnDisk), 75);
    EXPECT_EQ(view.Model().headerData(fcSizeOnDisk, Qt::Horizontal, Qt::DisplayRole).toString(),
              QString::fromStdString(Tr("Size on disk")));

    const QPersistentModelIndex dense = view.Model().IndexOf(root.FindNodeByPath(dir / "dense"));
    const QPersistentModelIndex sparse = view.Model().IndexOf(root.FindNodeByPath(dir / "sparse"));
    const std::int64_t onDisk = test::DiskSums(dir / "dense", true)[dir / "dense"].OnDisk;
    ASSERT_GT(onDisk, 0);
    const QModelIndex cell = QModelIndex(dense).siblingAtColumn(fcSizeOnDisk);
    EXPECT_EQ(cell.data().toString().toStdString(), FormatSizeRoundDown(onDisk));
    EXPECT_TRUE(cell.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
    EXPECT_EQ(view.Model().CompareNodes(*root.FindNodeByPath(dir / "dense"),
                                        *root.FindNodeByPath(dir / "sparse"), fcSizeOnDisk),
              1);
    view.SetSort(fcSizeOnDisk, Qt::DescendingOrder);
    EXPECT_LT(dense.row(), sparse.row());
    view.SetSort(fcSize, Qt::DescendingOrder);
    EXPECT_GT(dense.row(), sparse.row());

    // Hidden again from the menu, it keeps its width for the saved state.
    header.resizeSection(fcSizeOnDisk, 88);
    view.MakeColumnsMenu()->actions().at(fcSizeOnDisk - 1)->trigger();
    EXPECT_TRUE(header.isSectionHidden(fcSizeOnDisk));
    EXPECT_EQ(header.property(HiddenColumnWidthsProperty).toMap().value("4").toInt(), 88);
}

// A drive as the grid sees it: named by its mount point, shown with its label.
class TLabelledDrive final : public TDirNode {
public:
    TLabelledDrive(std::string_view MountPoint, std::string Label) : Label(std::move(Label)) {
        SetName(MountPoint);
    }
    std::string GetDisplayName() const override { return Label + " (" + std::string(Name()) + ")"; }

private:
    std::string Label;
};

TEST_F(FileTreeTest, NamesSortByNameNotByTheLabelShown) {
    auto* a = new TLabelledDrive("disk-a", "Zulu");
    auto* z = new TLabelledDrive("disk-z", "Alpha");
    Root.AddChild(a);
    Root.AddChild(z);
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    View->SetSort(fcName, Qt::AscendingOrder);
    EXPECT_EQ(Names(Top()),
              (TNames{"big", "Zulu (disk-a)", "Alpha (disk-z)", "mid", "top", "void"}));
    EXPECT_LT(Model().CompareNodes(*a, *z, fcName), 0);
}

// Painting decides a directory's icon from the tree, not the disk, which may hang.
TEST_F(FileTreeTest, DirectoryIconsComeFromTheTree) {
    TFileIconTable icons;
    Source.Icons = &icons;
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    View->show();
    test::RemoveTree(Dir / "void"); // gone since the scan: the tree still knows a folder
    Dir_("mid").SetScanError(ENOENT);
    View->viewport()->grab();
    EXPECT_EQ(Dir_("void").ImageIndex(), icons.ClosedFolderIcon());
    EXPECT_EQ(Dir_("mid").ImageIndex(), -1); // a file icon, not kept
    Dir_("mid").SetScanError(0);
    View->viewport()->grab();
    EXPECT_EQ(Dir_("mid").ImageIndex(), icons.ClosedFolderIcon());
}

// File icons come from the icon worker: the plain file icon until the answer is in, then the
// icon of the type the name suggests, kept in the node.
TEST_F(FileTreeTest, FileIconsArriveFromTheWorker) {
    Dir.File("big/notes.txt", 10);
    Dir_("big").ClearForRescan();
    Model().ReleaseChildren(Dir_("big"));
    TFileIconTable icons;
    TQtDispatcher dispatcher;
    TSHGetFileInfoPropertiesList requests;
    TShellFileIconThread thread(dispatcher, icons, [&](int Index, std::int32_t Id) {
        requests.SetResult(Id, Index);
        View->viewport()->update();
    });
    Source.Icons = &icons;
    Source.IconThread = &thread;
    Source.IconRequests = &requests;
    thread.Resume();
    View->RebuildRows(dvsTree);
    View->show();
    View->expand(Row("big"));
    test::WaitForListings(Model());
    auto* notes = Root.FindNodeByPath(Dir / "big/notes.txt");
    ASSERT_NE(notes, nullptr);
    View->viewport()->grab();
    EXPECT_EQ(notes->ImageIndex(), -1); // asked for, shown with the plain icon meanwhile
    EXPECT_GE(requests.Count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        View->viewport()->grab();
        return notes->ImageIndex() >= 0;
    }));
    EXPECT_EQ(notes->ImageIndex(), icons.GetFileIconIndex("notes.txt"));
    Source.IconThread = nullptr;
    dispatcher.Close();
}

// Files are listed on a worker: the row shows its folders at once and its files when they
// arrive, each in its sorted place; collapsing, sorting, re-scanning, restyling or closing
// meanwhile is safe and leaves the folder to be listed again.
TEST_F(FileTreeTest, FilesArriveAfterTheRowOpensWhateverHappensMeanwhile) {
    // The model tester would open every row before the test can.
    Checker = std::make_unique<TModelChecker>(Model(), false);
    for (int i = 0; i < 300; ++i)
        Dir.File("many/f" + std::to_string(i), 1000 + i % 7 * 100);
    Dir.File("many/sub1/x", 1300); // a folder as large as some files: those come after it
    Dir.File("many/sub2/y", 50);
    TRootDirNode root;
    root.SetPath(Dir.Path());
    TDirScanner(root).Scan(Dir.Path(), 0);
    Source.RootNode = &root;
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    const auto many = [&] { return Model().IndexOf(root.FindNodeByPath(Dir / "many")); };
    auto& node = *static_cast<TDirNode*>(root.FindNodeByPath(Dir / "many"));
    // As the view does on its next layout.
    const auto open = [&] {
        View->expand(many());
        if (Model().canFetchMore(many()))
            Model().fetchMore(many());
    };

    open();
    EXPECT_EQ(Model().ListingCount(), 1);
    EXPECT_EQ(Model().rowCount(many()), 2); // the folders
    EXPECT_EQ(Text(many(), fcName, TFileTreeModel::StaticTextRole).toStdString(),
              Tr("listing files…"));
    test::WaitForListings(Model());
    ASSERT_EQ(Model().rowCount(many()), 302);
    EXPECT_TRUE(Text(many(), fcName, TFileTreeModel::StaticTextRole).isEmpty());
    std::vector<std::pair<std::int64_t, std::string>> shown;
    for (int i = 0; i < 302; ++i) {
        const QModelIndex row = Model().index(i, 0, many());
        shown.emplace_back(row.data(TFileTreeModel::SizeRole).toLongLong(),
                           row.data().toString().toStdString());
    }
    // As a stable sort by size, descending, of the folders followed by the files by name.
    auto expected = shown;
    std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first > b.first;
        const bool aFile = a.second[0] == 'f', bFile = b.second[0] == 'f';
        if (aFile != bFile)
            return bFile;
        return CollateCompare(a.second.c_str(), b.second.c_str()) < 0;
    });
    EXPECT_EQ(shown, expected);

    // Collapsed and sorted by name before the files arrive.
    Model().ReleaseChildren(node);
    node.ClearForRescan();
    TDirScanner(node).Scan(node.GetFullPath(), 0);
    open();
    View->collapse(many());
    View->SetSort(fcName, Qt::AscendingOrder);
    test::WaitForListings(Model());
    ASSERT_EQ(Model().rowCount(many()), 302);
    for (int i = 1; i < 302; ++i)
        EXPECT_LT(CollateCompare(Model().index(i - 1, 0, many()).data().toString().toUtf8(),
                                 Model().index(i, 0, many()).data().toString().toUtf8()),
                  0);

    // Re-scanned, restyled and destroyed while listing: nothing arrives, nothing stays stuck.
    for (int round = 0; round < 3; ++round) {
        Model().ReleaseChildren(node);
        node.ClearForRescan();
        TDirScanner(node).Scan(node.GetFullPath(), 0);
        open();
        ASSERT_EQ(Model().ListingCount(), 1);
        if (round == 0) {
            Model().ReleaseChildren(node);
        } else if (round == 1) {
            View->RebuildRows(dvsFlat, {&node});
        } else {
            Checker.reset();
            View.reset();
        }
        EXPECT_FALSE(node.IsListingFiles());
        QTest::qWait(50);
        if (View) {
            EXPECT_EQ(Model().ListingCount(), 0);
        }
        EXPECT_FALSE(node.IsFilesLoaded());
        if (View)
            View->RebuildRows(dvsTree);
    }
    EXPECT_EQ(node.LoadFiles(), 300);
}

TEST_F(FileTreeTest, CellTextsShowControlCharactersAndSpeakTheShare) {
    const std::string odd = "two\nlines\t\x01\x7f";
    Dir.MkDir(odd);
    TFileSystemNode* node = Root.AddDirectory(odd, faDirectory);
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    EXPECT_EQ(node->Name(), odd);
    const QString shown = QStringLiteral("two\u240Alines\u2409\u2401\u2421");
    EXPECT_EQ(Text(Model().IndexOf(node), fcName), shown);
    View->RebuildRows(dvsFlat, {node});
    test::WaitForListings(Model());
    EXPECT_EQ(Text(Model().index(0, 0), fcName), QString::fromStdString(Dir / "") + shown);

    // The percent cell has no display text (the bar is painted), yet is read out.
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    View->show();
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(View.get());
    ASSERT_TRUE(grid && grid->tableInterface());
    QAccessibleInterface* share = grid->tableInterface()->cellAt(Row("big").row() + 1, fcPercent);
    ASSERT_NE(share, nullptr);
    EXPECT_EQ(share->text(QAccessible::Name).toStdString(), FormatPercent(4000.0 / 6500));
    EXPECT_TRUE(Text(Row("big"), fcPercent).isEmpty());
}

TEST_F(FileTreeTest, ColumnsStayInViewWhateverTheWidths) {
    QHeaderView& header = *View->header();
    const auto fills = [&] { return header.length() == View->viewport()->width(); };
    View->show();
    EXPECT_TRUE(fills());
    View->resize(300, 300); // the percent column gives way first, then the widest one
    EXPECT_TRUE(fills());
    EXPECT_EQ(header.sectionSize(fcPercent), 50);
    EXPECT_EQ(header.sectionSize(fcFiles), 75);
    View->resize(600, 300); // and all of them take their widths back
    EXPECT_TRUE(fills());
    EXPECT_EQ(header.sectionSize(fcName), 196);

    header.resizeSection(fcName, 1000);
    EXPECT_TRUE(fills());
    EXPECT_EQ(header.sectionSize(fcPercent), 50);

    // Widths saved from such a layout are corrected when the grid is shown.
    TVirtualFileTree restored(Source);
    restored.resize(600, 300);
    restored.header()->resizeSection(fcName, 1000);
    restored.show();
    EXPECT_EQ(restored.header()->length(), restored.viewport()->width());
    const int name = restored.header()->sectionSize(fcName);
    restored.resize(700, 300);
    EXPECT_EQ(restored.header()->sectionSize(fcName), name);
    EXPECT_EQ(restored.header()->sectionSize(fcPercent), 150);
}

TEST_F(FileTreeTest, ReleasedAndRemovedRowsNeverOutliveTheirNodes) {
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    const QModelIndex big = Row("big");
    View->expand(big);
    test::WaitForListings(Model());
    ASSERT_EQ(Model().rowCount(big), 2);

    // A re-scan of big: its rows go first, then its nodes.
    Model().ReleaseChildren(Dir_("big"));
    EXPECT_EQ(Model().rowCount(big), 0);
    EXPECT_FALSE(Model().ChildrenMade(big));
    Dir.File("big/w", 100);
    Dir_("big").ClearForRescan();
    TDirScanner(Dir_("big")).Scan(Dir / "big", 0);
    Root.UpdateTotals();
    QApplication::processEvents();
    if (Model().canFetchMore(big))
        Model().fetchMore(big);
    test::WaitForListings(Model());
    EXPECT_EQ(Names(big), (TNames{"x", "y", "w"}));

    // The entries with rows are one fewer after a removal: a child appended right after it
    // still gets its row, and the other rows stay what they were.
    const QPersistentModelIndex bigRow(big);
    Model().RemoveNodeRows(Dir_("mid"));
    Dir_("mid").Delete();
    TDirNode* late = Root.AddDirectory("late", faDirectory);
    View->RefreshRows();
    test::WaitForListings(Model());
    EXPECT_EQ(Names(Top()), (TNames{"big", "top", "void", "late"}));
    EXPECT_EQ(Model().IndexOf(late).row(), 3);
    EXPECT_EQ(QModelIndex(bigRow), Row("big"));
    EXPECT_TRUE(View->isExpanded(bigRow));

    Model().RemoveNodeRows(Root);
    ASSERT_EQ(Model().rowCount(), 1);
    EXPECT_EQ(Model().NodeOf(Model().index(0, 0)), nullptr);
}

TEST_F(FileTreeTest, RebuildKeepsSelectionFocusAndExpansion) {
    std::vector<TFileSystemNode*> reported;
    View->OnChange = [&](TFileSystemNode* Node) { reported.push_back(Node); };
    int expansions = 0;
    View->OnExpansionChanged = [&] { ++expansions; };
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    EXPECT_GT(expansions, 0);
    View->expand(Row("big"));
    test::WaitForListings(Model());
    EXPECT_TRUE(Dir_("big").IsExpanded());
    auto* selection = View->selectionModel();
    selection->select(Row("mid"), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(Row("big/x"), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->setCurrentIndex(Row("top"), QItemSelectionModel::NoUpdate);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), Root.FindNodeByPath(Dir / "top"));
    const std::vector<TFileSystemNode*> selected = View->SelectedNodes();
    ASSERT_EQ(selected.size(), 2u);
    EXPECT_EQ(selected[0], Root.FindNodeByPath(Dir / "big/x")); // display order
    EXPECT_EQ(View->FirstSelectedIndex(), Row("big/x"));

    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    EXPECT_TRUE(View->isExpanded(Row("big")));
    EXPECT_EQ(View->SelectedNodes(), selected);
    EXPECT_EQ(View->FocusedNode(), Root.FindNodeByPath(Dir / "top"));
    EXPECT_EQ(View->NearestVisibleAncestor(Row("big/x")), Row("big"));
    View->collapse(Row("big"));
    EXPECT_FALSE(Dir_("big").IsExpanded());
    EXPECT_EQ(View->NearestVisibleAncestor(Row("big/x")), Row("big"));
    EXPECT_EQ(View->NearestVisibleAncestor(Top()), QModelIndex());

    // Remembered flags open new levels as they are made.
    TDirNode* later = Dir_("big").AddDirectory("later", faDirectory);
    later->SetExpanded(true);
    later->SetEmpty(false);
    View->RefreshRows();
    test::WaitForListings(Model());
    EXPECT_TRUE(View->isExpanded(Model().IndexOf(later)));
}

// Without the tester, which makes every row itself, the grid's own row making shows: a
// rebuild opens the remembered levels, each only after the insertion that made its row.
TEST_F(FileTreeTest, RememberedLevelsOpenWithoutNestedChanges) {
    Checker.reset();
    TModelChecker guard(Model(), false);
    Dir_("big").SetExpanded(true);
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    ASSERT_TRUE(Model().ChildrenMade(Row("big")));
    EXPECT_TRUE(View->isExpanded(Row("big")));
    EXPECT_EQ(Names(Row("big")), (TNames{"x", "y"}));
    EXPECT_FALSE(Model().ChildrenMade(Row("mid")));
    // A level the user opens brings back the remembered one below it (from the event loop).
    View->collapse(Top());
    Model().ReleaseChildren(Root);
    View->expand(Top());
    test::WaitForListings(Model());
    View->show();
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    EXPECT_TRUE(View->isExpanded(Row("big")));
    EXPECT_EQ(Model().rowCount(Row("big")), 2);
}

TEST_F(FileTreeTest, FlatRowsShowFullPathsAndNoTree) {
    std::vector<TFileSystemNode*> nodes = {Root.FindNodeByPath(Dir / "mid/z"), &Dir_("big")};
    Dir_("big").LoadFiles();
    nodes.push_back(Root.FindNodeByPath(Dir / "big/x"));
    View->RebuildRows(dvsFlat, nodes);
    test::WaitForListings(Model());
    EXPECT_EQ(View->GetDirViewStyle(), dvsFlat);
    EXPECT_FALSE(View->rootIsDecorated());
    EXPECT_FALSE(View->itemsExpandable());
    EXPECT_EQ(Names(), (TNames{Dir / "big", Dir / "big/x", Dir / "mid/z"}));
    for (int row = 0; row < 3; ++row)
        EXPECT_FALSE(Model().hasChildren(Model().index(row, 0)));
    EXPECT_DOUBLE_EQ(Model().index(1, 0).data(TFileTreeModel::ChildPercentRole).toDouble(), 0.75);
    View->SetSort(fcName, Qt::DescendingOrder);
    EXPECT_EQ(Names(), (TNames{Dir / "mid/z", Dir / "big/x", Dir / "big"}));
    View->RefreshRows();
    test::WaitForListings(Model());
    EXPECT_EQ(Model().rowCount(), 3);

    // big's re-scan takes its file rows with it, not the row of big itself.
    Model().ReleaseChildren(Dir_("big"));
    EXPECT_EQ(Names(), (TNames{Dir / "mid/z", Dir / "big"}));
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    EXPECT_TRUE(View->rootIsDecorated());
}

// Counts the columns of the bar cell of Index in which Colour appears.
int ColumnsWith(TVirtualFileTree& View, const QModelIndex& Index, QRgb Colour) {
    const QImage image = View.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect cell = View.visualRect(Index.siblingAtColumn(fcPercent));
    int columns = 0;
    for (int x = cell.left(); x <= cell.right(); ++x)
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            if (image.pixel(x, y) == Colour) {
                ++columns;
                break;
            }
    return columns;
}

TEST_F(FileTreeTest, BarsArePaintedToTheirShares) {
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    View->expand(Row("big"));
    test::WaitForListings(Model());
    View->show();
    // The current row carries the style's focus frame over its cells: it has no bar here.
    View->selectionModel()->setCurrentIndex(Row("void"), QItemSelectionModel::NoUpdate);
    QApplication::processEvents();
    const int width = View->header()->sectionSize(fcPercent) - 2;
    // A plain bar's fill lies inside a frame and a white line: 4 columns fewer than the bar.
    const auto fill = [width](double Ratio) { return BarWidth(width, Ratio) - 4; };
    EXPECT_EQ(ColumnsWith(*View, Top(), Fill), fill(1.0));
    EXPECT_EQ(ColumnsWith(*View, Row("big"), Fill), fill(4000.0 / 6500));
    EXPECT_EQ(ColumnsWith(*View, Row("big"), ChildFill), 0);
    EXPECT_EQ(ColumnsWith(*View, Row("void"), Fill), 0);
    // x: 75 % of big, seen right of its 46 % of the root drawn over it.
    EXPECT_EQ(ColumnsWith(*View, Row("big/x"), Fill), fill(3000.0 / 6500));
    EXPECT_NEAR(ColumnsWith(*View, Row("big/x"), ChildFill),
                BarWidth(width, 0.75) - 2 - BarWidth(width, 3000.0 / 6500), 1);
    // An empty root has no shares at all.
    Root.SetSize(0);
    View->RefreshRows();
    test::WaitForListings(Model());
    EXPECT_EQ(Top().data(TFileTreeModel::PercentRole).toDouble(), -1.0);
    EXPECT_EQ(ColumnsWith(*View, Top(), Fill), 0);
}

TEST_F(FileTreeTest, SearchAndResizeFollowTheUser) {
    View->RebuildRows(dvsTree);
    test::WaitForListings(Model());
    View->show();
    // The current cell sits in another column: the search still reads the names.
    View->setCurrentIndex(Top().siblingAtColumn(fcPercent));
    View->keyboardSearch(QStringLiteral("M"));
    EXPECT_EQ(View->FocusedNode(), &Dir_("mid"));
    View->keyboardSearch(QStringLiteral("i"));
    EXPECT_EQ(View->FocusedNode(), &Dir_("mid"));
    View->keyboardSearch({});
    View->keyboardSearch(QStringLiteral("x")); // inside big, which is closed
    EXPECT_EQ(View->FocusedNode(), &Dir_("mid"));
    View->expand(Row("big"));
    test::WaitForListings(Model());
    View->keyboardSearch({});
    View->keyboardSearch(QStringLiteral("X"));
    EXPECT_EQ(View->FocusedNode(), Root.FindNodeByPath(Dir / "big/x"));
    EXPECT_EQ(View->SelectedNodes(), std::vector{View->FocusedNode()});

    const int percent = View->header()->sectionSize(fcPercent);
    View->resize(View->width() + 100, View->height());
    EXPECT_EQ(View->header()->sectionSize(fcPercent), percent + 100);
    View->resize(120, View->height());
    EXPECT_EQ(View->header()->sectionSize(fcPercent), 50);
}

TEST(FileTreeScan, RefreshTicksKeepWhatTheUserOpenedAndChose) {
    TTempDir dir;
    for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 15; ++j)
            dir.File("d" + std::to_string(i) + "/s" + std::to_string(j) + "/f", 10 + i);
    TQtDispatcher dispatcher;
    TDirScanThreadList threads(9, dispatcher);
    TRootDirNode root;
    root.SetPath(dir.Path());
    TFileTreeSource source;
    source.RootNode = &root;
    TVirtualFileTree view(source);
    TModelChecker checker(view.Model());
    TDirScanThread* thread = threads.StartThread(root);
    ASSERT_NE(thread, nullptr);
    bool ended = false;
    thread->SetOnTerminate([&](TThread&) { ended = true; });
    view.RebuildRows(dvsTree); // before the scan: every directory row comes from a refresh
    thread->Resume();

    TFileSystemNode* chosen = nullptr;
    int ticks = 0;
    QElapsedTimer clock;
    clock.start();
    while (!ended && clock.elapsed() < 20000) {
        QApplication::processEvents();
        view.RefreshRows();
        ++ticks;
        const QModelIndex top = view.Model().index(0, 0);
        if (!chosen && view.Model().rowCount(top) > 0) {
            const QModelIndex first = view.Model().index(0, 0, top);
            chosen = view.Model().NodeOf(first);
            view.expand(first);
            view.setCurrentIndex(first);
        } else if (chosen) {
            const QModelIndex row = view.Model().IndexOf(chosen);
            ASSERT_TRUE(row.isValid());
            EXPECT_TRUE(view.isExpanded(row));
            EXPECT_EQ(view.SelectedNodes(), std::vector{chosen});
            EXPECT_EQ(view.FocusedNode(), chosen);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(ended);
    root.UpdateTotals();
    view.RefreshRows();
    test::WaitForListings(view.Model());
    ASSERT_NE(chosen, nullptr);
    EXPECT_GT(ticks, 1);
    const QModelIndex top = view.Model().index(0, 0);
    EXPECT_EQ(view.Model().rowCount(top), root.ChildCount());
    EXPECT_EQ(top.data(TFileTreeModel::SizeRole).toLongLong(), root.GetSize());
    const QModelIndex row = view.Model().IndexOf(chosen);
    EXPECT_TRUE(view.isExpanded(row));
    EXPECT_EQ(view.Model().rowCount(row), static_cast<TGroupNode*>(chosen)->ChildCount());
    // Sorted by size, descending, along the final snapshot.
    for (int i = 1; i < view.Model().rowCount(top); ++i)
        EXPECT_GE(view.Model().index(i - 1, 0, top).data(TFileTreeModel::SizeRole).toLongLong(),
                  view.Model().index(i, 0, top).data(TFileTreeModel::SizeRole).toLongLong());
}

} // namespace
} // namespace qv
