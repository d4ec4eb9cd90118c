#include "view/StatisticsViews.h"

#include "settings/QvSettings.h"
#include "support/Collation.h"
#include "view/QtText.h"
#include "view/SizeFormat.h"

#include <QColor>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace qv {

namespace {

QString SizeText(std::int64_t Size) {
    // The grid's rounding, as the preferences set it now.
    return ToQ(SizeFormatterForStyle(AppSettings().FileSizeRounding())(Size));
}

QString TimeText(std::int64_t Seconds) {
    const QLocale locale;
    return locale.toString(QDateTime::fromSecsSinceEpoch(Seconds), QLocale::ShortFormat);
}

std::string NamePart(const std::string& Path) {
    const std::size_t slash = Path.rfind('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

std::string FolderPart(const std::string& Path) {
    const std::size_t slash = Path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : Path.substr(0, slash);
}

template <class T> int ThreeWay(const T& A, const T& B) {
    return A < B ? -1 : (B < A ? 1 : 0);
}

int Signum(int Value) {
    return (Value > 0) - (Value < 0);
}

} // namespace

// --- TStatisticsTableModel -----------------------------------------------------------------

template <class TItem>
void TStatisticsTableModel<TItem>::SortItems(std::vector<TItem>& List) const {
    if (Column < 0)
        return;
    std::stable_sort(List.begin(), List.end(), [this](const TItem& A, const TItem& B) {
        int order = Compare(A, B, Column);
        if (Order == Qt::DescendingOrder)
            order = -order;
        // Equal values in one order whatever the direction: by key.
        return order != 0 ? order < 0 : KeyOf(A) < KeyOf(B);
    });
}

template <class TItem>
void TStatisticsTableModel<TItem>::sort(int SortColumn, Qt::SortOrder SortOrder) {
    if (SortColumn < 0 || SortColumn >= columnCount())
        return;
    Column = SortColumn;
    Order = SortOrder;
    std::vector<int> order(Items.size());
    std::iota(order.begin(), order.end(), 0);
    std::vector<TItem> sorted = Items;
    SortItems(sorted);
    // Where each row goes: by key, the keys being unique.
    std::unordered_map<std::string, int> newRow;
    for (std::size_t i = 0; i < sorted.size(); ++i)
        newRow.emplace(KeyOf(sorted[i]), int(i));
    bool moved = false;
    for (std::size_t i = 0; i < Items.size(); ++i) {
        order[i] = newRow.at(KeyOf(Items[i]));
        moved = moved || order[i] != int(i);
    }
    if (!moved)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    Items = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(index.isValid() ? this->index(order[std::size_t(index.row())], index.column())
                                     : QModelIndex());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

template <class TItem> void TStatisticsTableModel<TItem>::Replace(std::vector<TItem> NewItems) {
    std::unordered_map<std::string, std::size_t> fresh;
    for (std::size_t i = 0; i < NewItems.size(); ++i)
        fresh.emplace(KeyOf(NewItems[i]), i);
    // The rows that go, in runs from the bottom so that the row numbers above stay right.
    for (int row = int(Items.size()) - 1; row >= 0;) {
        if (fresh.contains(KeyOf(Items[std::size_t(row)]))) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !fresh.contains(KeyOf(Items[std::size_t(first - 1)])))
            --first;
        beginRemoveRows({}, first, row);
        Items.erase(Items.begin() + first, Items.begin() + row + 1);
        endRemoveRows();
        row = first - 1;
    }
    // The rows that stay take their new figures.
    std::vector<bool> known(NewItems.size(), false);
    for (TItem& item : Items) {
        const std::size_t at = fresh.at(KeyOf(item));
        known[at] = true;
        item = std::move(NewItems[at]);
    }
    if (!Items.empty())
        emit dataChanged(index(0, 0), index(int(Items.size()) - 1, columnCount() - 1));
    // The new ones at the end, then everything in its place.
    std::vector<TItem> added;
    for (std::size_t i = 0; i < NewItems.size(); ++i)
        if (!known[i])
            added.push_back(std::move(NewItems[i]));
    if (!added.empty()) {
        beginInsertRows({}, int(Items.size()), int(Items.size() + added.size()) - 1);
        std::move(added.begin(), added.end(), std::back_inserter(Items));
        endInsertRows();
    }
    sort(Column, Order);
}

template <class TItem> void TStatisticsTableModel<TItem>::AllChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
    if (!Items.empty())
        emit dataChanged(index(0, 0), index(int(Items.size()) - 1, columnCount() - 1));
}

template class TStatisticsTableModel<TLargeFile>;
template class TStatisticsTableModel<TFileTypeSum>;

// --- TLargestFilesModel ----------------------------------------------------------------------

int TLargestFilesModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : lcColumnCount;
}

int TLargestFilesModel::Compare(const TLargeFile& A, const TLargeFile& B, int Column) const {
    switch (Column) {
    case lcName:
        return Signum(CollateCompare(NamePart(A.Path).c_str(), NamePart(B.Path).c_str()));
    case lcFolder:
        return Signum(CollateCompare(FolderPart(A.Path).c_str(), FolderPart(B.Path).c_str()));
    case lcSize:
        return ThreeWay(A.Size, B.Size);
    case lcSizeOnDisk:
        return ThreeWay(A.SizeOnDisk, B.SizeOnDisk);
    case lcModified:
        return ThreeWay(A.ModifiedTime, B.ModifiedTime);
    default:
        return 0;
    }
}

QVariant TLargestFilesModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid() || Index.row() >= rowCount())
        return {};
    const TLargeFile& file = Item(Index.row());
    switch (Role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        switch (Index.column()) {
        case lcName:
            return PathText(NamePart(file.Path));
        case lcFolder:
            return PathText(FolderPart(file.Path));
        case lcSize:
            return SizeText(file.Size);
        case lcSizeOnDisk:
            return SizeText(file.SizeOnDisk);
        case lcModified:
            return TimeText(file.ModifiedTime);
        }
        break;
    case Qt::ToolTipRole:
        return PathText(file.Path);
    case Qt::TextAlignmentRole:
        if (Index.column() == lcSize || Index.column() == lcSizeOnDisk)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case SortRole:
        switch (Index.column()) {
        case lcName:
            return PathText(NamePart(file.Path));
        case lcFolder:
            return PathText(FolderPart(file.Path));
        case lcSize:
            return qint64(file.Size);
        case lcSizeOnDisk:
            return qint64(file.SizeOnDisk);
        case lcModified:
            return qint64(file.ModifiedTime);
        }
        break;
    case KeyRole:
        return PathText(file.Path);
    }
    return {};
}

QVariant TLargestFilesModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal ||
        (Role != Qt::DisplayRole && Role != Qt::AccessibleTextRole))
        return QAbstractTableModel::headerData(Section, Orientation, Role);
    switch (Section) {
    case lcName:
        return TrQ("Name");
    case lcFolder:
        return TrQ("Folder");
    case lcSize:
        return TrQ("Size");
    case lcSizeOnDisk:
        return TrQ("Size on disk");
    case lcModified:
        return TrQ("Modified");
    }
    return {};
}

void TLargestFilesModel::Retranslate() {
    AllChanged();
}

// --- TFileTypesModel -------------------------------------------------------------------------

QString TFileTypesModel::TypeText(const std::string& Type) {
    if (Type == TFileTypeSums::NoExtension)
        return TrQ("(no extension)");
    if (Type == TFileTypeSums::Hidden)
        return TrQ("(hidden files)");
    if (Type == TFileTypeSums::Other)
        return TrQ("(other types)");
    return QLatin1Char('.') + PathText(Type);
}

void TFileTypesModel::SetTypes(std::vector<TFileTypeSum> Types) {
    // Replace tells the view of every row that stays: their shares follow the new total.
    Total = 0;
    for (const TFileTypeSum& sum : Types)
        Total += sum.Size;
    Replace(std::move(Types));
}

int TFileTypesModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : tcColumnCount;
}

int TFileTypesModel::Compare(const TFileTypeSum& A, const TFileTypeSum& B, int Column) const {
    switch (Column) {
    case tcType:
        return Signum(QString::localeAwareCompare(TypeText(A.Type), TypeText(B.Type)));
    case tcSize:
    case tcShare:
        return ThreeWay(A.Size, B.Size);
    case tcSizeOnDisk:
        return ThreeWay(A.SizeOnDisk, B.SizeOnDisk);
    case tcFiles:
        return ThreeWay(A.Files, B.Files);
    default:
        return 0;
    }
}

QVariant TFileTypesModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid() || Index.row() >= rowCount())
        return {};
    const TFileTypeSum& sum = Item(Index.row());
    const double share = Total > 0 ? double(sum.Size) / double(Total) : 0.0;
    switch (Role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        switch (Index.column()) {
        case tcType:
            return TypeText(sum.Type);
        case tcSize:
            return SizeText(sum.Size);
        case tcShare:
            return ToQ(FormatPercent(share));
        case tcSizeOnDisk:
            return SizeText(sum.SizeOnDisk);
        case tcFiles:
            return ToQ(FormatNumber(double(sum.Files), 0));
        }
        break;
    case Qt::DecorationRole:
        if (Index.column() == tcType && TypeColour)
            return QColor::fromRgb(QRgb(TypeColour(sum.Type) & 0xFFFFFFu));
        break;
    case Qt::TextAlignmentRole:
        if (Index.column() != tcType)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case SortRole:
        switch (Index.column()) {
        case tcType:
            return TypeText(sum.Type);
        case tcSize:
            return qint64(sum.Size);
        case tcShare:
            return share;
        case tcSizeOnDisk:
            return qint64(sum.SizeOnDisk);
        case tcFiles:
            return qint64(sum.Files);
        }
        break;
    case KeyRole:
        return ToQ(sum.Type);
    }
    return {};
}

QVariant TFileTypesModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal ||
        (Role != Qt::DisplayRole && Role != Qt::AccessibleTextRole))
        return QAbstractTableModel::headerData(Section, Orientation, Role);
    switch (Section) {
    case tcType:
        return TrQ("Type");
    case tcSize:
        return TrQ("Size");
    case tcShare:
        return TrQ("Share");
    case tcSizeOnDisk:
        return TrQ("Size on disk");
    case tcFiles:
        return TrQ("Files");
    }
    return {};
}

void TFileTypesModel::Retranslate() {
    // The special types' names change with the language, and so may their order.
    AllChanged();
    sort(SortColumn(), SortOrder());
}

// --- the views -------------------------------------------------------------------------------

namespace {

// The share column: a thin bar of the share under the percent text.
class TShareDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
               const QModelIndex& Index) const override {
        QStyledItemDelegate::paint(Painter, Option, Index);
        const double share = std::clamp(Index.data(TFileTypesModel::SortRole).toDouble(), 0.0, 1.0);
        const QRect cell = Option.rect.adjusted(2, 0, -2, -2);
        const int width = int(share * cell.width() + 0.5);
        if (width <= 0)
            return;
        QColor colour = Option.palette.color(QPalette::Highlight);
        colour.setAlpha(160);
        Painter->fillRect(QRect(cell.left(), cell.bottom() - 2, width, 3), colour);
    }
};

void SetUpFlatView(QTreeView& View, QAbstractItemModel& Model, int SortColumn) {
    View.setModel(&Model);
    View.setRootIsDecorated(false);
    View.setItemsExpandable(false);
    View.setUniformRowHeights(true);
    View.setAllColumnsShowFocus(true);
    View.setSortingEnabled(true);
    View.sortByColumn(SortColumn, Qt::DescendingOrder);
    View.header()->setSortIndicatorShown(true);
    View.header()->setSectionsClickable(true);
}

} // namespace

TLargestFilesView::TLargestFilesView(QWidget* Parent) : QTreeView(Parent), FilesModel(this) {
    setObjectName("LargestFilesView");
    SetUpFlatView(*this, FilesModel, TLargestFilesModel::lcSize);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    connect(this, &QAbstractItemView::activated, this, [this](const QModelIndex& Index) {
        if (OnActivated && Index.isValid())
            OnActivated(FilesModel.Item(Index.row()).Path);
    });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (OnSelectionChanged)
            OnSelectionChanged(SelectedPaths());
    });
    Retranslate();
}

void TLargestFilesView::SetFiles(std::vector<TLargeFile> Files) {
    FilesModel.SetFiles(std::move(Files));
}

std::vector<std::string> TLargestFilesView::SelectedPaths() const {
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& A, const QModelIndex& B) { return A.row() < B.row(); });
    std::vector<std::string> paths;
    for (const QModelIndex& row : rows)
        paths.push_back(FilesModel.Item(row.row()).Path);
    return paths;
}

void TLargestFilesView::Retranslate() {
    setAccessibleName(TrQ("Largest files"));
    FilesModel.Retranslate();
}

void TLargestFilesView::keyPressEvent(QKeyEvent* Event) {
    const bool shift = Event->modifiers() & Qt::ShiftModifier;
    if (Event->key() == Qt::Key_Delete) {
        const std::vector<std::string> paths = SelectedPaths();
        if (OnDeleteKey && !paths.empty())
            OnDeleteKey(paths, shift);
        Event->accept();
        return;
    }
    if (Event->key() == Qt::Key_F10 && shift) {
        // Under the current row's name, as a menu opened from the keyboard should be.
        const QRect row = visualRect(currentIndex().siblingAtColumn(0));
        MenuAt(viewport()->mapToGlobal(row.isValid() ? row.bottomLeft() + QPoint(16, 0)
                                                     : QPoint(0, 0)));
        Event->accept();
        return;
    }
    QTreeView::keyPressEvent(Event);
}

void TLargestFilesView::contextMenuEvent(QContextMenuEvent* Event) {
    if (Event->reason() == QContextMenuEvent::Mouse) {
        // A right click on a row that is not selected acts on that row alone.
        const QModelIndex at = indexAt(viewport()->mapFrom(this, Event->pos()));
        if (at.isValid() && !selectionModel()->isRowSelected(at.row(), {}))
            selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);
        MenuAt(Event->globalPos());
    } else {
        const QRect row = visualRect(currentIndex().siblingAtColumn(0));
        MenuAt(viewport()->mapToGlobal(row.isValid() ? row.bottomLeft() + QPoint(16, 0)
                                                     : QPoint(0, 0)));
    }
    Event->accept();
}

void TLargestFilesView::MenuAt(QPoint Global) {
    const std::vector<std::string> paths = SelectedPaths();
    if (OnContextMenu && !paths.empty())
        OnContextMenu(paths, Global);
}

TFileTypesView::TFileTypesView(QWidget* Parent) : QTreeView(Parent), TypesModel(this) {
    setObjectName("FileTypesView");
    SetUpFlatView(*this, TypesModel, TFileTypesModel::tcSize);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setItemDelegateForColumn(TFileTypesModel::tcShare, new TShareDelegate(this));
    Note = new QLabel(this);
    Note->setObjectName("FileTypesOutdatedNote");
    Note->setWordWrap(true);
    Note->setAutoFillBackground(true);
    Note->setContentsMargins(4, 2, 4, 2);
    Note->hide();
    const auto changed = [this] {
        const std::string type = SelectedType();
        if (type == LastType)
            return;
        LastType = type;
        if (OnTypeSelected)
            OnTypeSelected(type);
    };
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, changed);
    // A row that goes while selected takes the selection with it.
    connect(&TypesModel, &QAbstractItemModel::rowsRemoved, this, changed);
    Retranslate();
}

void TFileTypesView::SetTypes(std::vector<TFileTypeSum> Types, bool Outdated) {
    TypesModel.SetTypes(std::move(Types));
    if (Note->isHidden() == Outdated) {
        Note->setVisible(Outdated);
        updateGeometries();
    }
}

void TFileTypesView::SetTypeColour(std::function<std::uint32_t(const std::string& Type)> Colour) {
    TypesModel.TypeColour = std::move(Colour);
    viewport()->update();
}

std::string TFileTypesView::SelectedType() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return {};
    return TypesModel.Item(rows.front().row()).Type;
}

void TFileTypesView::Retranslate() {
    setAccessibleName(TrQ("File types"));
    Note->setText(
        TrQ("Changed since the scan: scan the whole tree again to update the file types."));
    Note->setAccessibleName(Note->text());
    TypesModel.Retranslate();
    updateGeometries();
}

void TFileTypesView::updateGeometries() {
    QTreeView::updateGeometries();
    if (!Note || Note->isHidden())
        return;
    // The note takes the bottom of the area the rows had, above any scroll bar.
    const int top = header()->isHidden() ? 0 : header()->sizeHint().height();
    const QRect area = contentsRect();
    const int height =
        std::min(Note->heightForWidth(area.width()), std::max(area.height() - top, 0) / 2);
    setViewportMargins(0, top, 0, height);
    const QRect rows = viewport()->geometry();
    Note->setGeometry(rows.left(), rows.bottom() + 1, rows.width(), height);
}

} // namespace qv
