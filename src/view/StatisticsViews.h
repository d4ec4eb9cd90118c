#pragma once
// The two lists beside the grid: the largest files of the tree and the space per file type.
// Each is a flat QTreeView over its own table model. Both are refreshed while a scan runs
// (about once a second): an update keeps the rows of the items that stay, so the selection,
// the current row and the scroll position survive it.
//
// Threading: GUI thread only.

#include "scan/ScanStatistics.h"

#include <QAbstractTableModel>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QLabel;

namespace qv {

// Rows of Item kept in the user's sort order, each known by a key (a path, a type).
// Replace brings the rows in line with a new list by removing, changing and inserting rows,
// never by a reset, so that the view keeps what it shows of the rows that stay.
template <class TItem> class TStatisticsTableModel : public QAbstractTableModel {
public:
    // Data role of every cell: the value it sorts by (a number for the number columns).
    static constexpr int SortRole = Qt::UserRole + 1;
    // Data role of every cell: the row's key (path or type) as a QString.
    static constexpr int KeyRole = Qt::UserRole + 2;

    using QAbstractTableModel::QAbstractTableModel;

    [[nodiscard]] int rowCount(const QModelIndex& Parent = {}) const override {
        return Parent.isValid() ? 0 : int(Items.size());
    }
    [[nodiscard]] const std::vector<TItem>& GetItems() const noexcept { return Items; }
    [[nodiscard]] const TItem& Item(int Row) const { return Items.at(std::size_t(Row)); }
    [[nodiscard]] int SortColumn() const noexcept { return Column; }
    [[nodiscard]] Qt::SortOrder SortOrder() const noexcept { return Order; }
    void sort(int SortColumn, Qt::SortOrder SortOrder = Qt::AscendingOrder) override;

protected:
    [[nodiscard]] virtual const std::string& KeyOf(const TItem& Item) const = 0;
    // Negative, 0 or positive as A sorts before, with or after B by Column, ascending.
    [[nodiscard]] virtual int Compare(const TItem& A, const TItem& B, int Column) const = 0;
    void Replace(std::vector<TItem> NewItems);
    // Every cell may read differently (language, rounding): the view repaints them.
    void AllChanged();

private:
    void SortItems(std::vector<TItem>& List) const;

    std::vector<TItem> Items;
    int Column = -1; // -1: the order the list came in
    Qt::SortOrder Order = Qt::AscendingOrder;
};

class TLargestFilesModel final : public TStatisticsTableModel<TLargeFile> {
public:
    enum TColumn { lcName, lcFolder, lcSize, lcSizeOnDisk, lcModified, lcColumnCount };
    using TStatisticsTableModel::TStatisticsTableModel;

    void SetFiles(std::vector<TLargeFile> Files) { Replace(std::move(Files)); }
    void Retranslate();

    [[nodiscard]] int columnCount(const QModelIndex& Parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& Index, int Role) const override;
    [[nodiscard]] QVariant headerData(int Section, Qt::Orientation Orientation,
                                      int Role) const override;

protected:
    [[nodiscard]] const std::string& KeyOf(const TLargeFile& File) const override {
        return File.Path;
    }
    [[nodiscard]] int Compare(const TLargeFile& A, const TLargeFile& B, int Column) const override;
};

class TFileTypesModel final : public TStatisticsTableModel<TFileTypeSum> {
public:
    enum TColumn { tcType, tcSize, tcShare, tcSizeOnDisk, tcFiles, tcColumnCount };
    using TStatisticsTableModel::TStatisticsTableModel;

    void SetTypes(std::vector<TFileTypeSum> Types);
    void Retranslate();
    // The swatch colour of a type (0xRRGGBB); unset: no swatch.
    std::function<std::uint32_t(const std::string& Type)> TypeColour;
    // ".jpg" for an extension; the translated name of the kinds without one.
    [[nodiscard]] static QString TypeText(const std::string& Type);

    [[nodiscard]] int columnCount(const QModelIndex& Parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& Index, int Role) const override;
    [[nodiscard]] QVariant headerData(int Section, Qt::Orientation Orientation,
                                      int Role) const override;

protected:
    [[nodiscard]] const std::string& KeyOf(const TFileTypeSum& Sum) const override {
        return Sum.Type;
    }
    [[nodiscard]] int Compare(const TFileTypeSum& A, const TFileTypeSum& B,
                              int Column) const override;

private:
    std::int64_t Total = 0; // the size of every type, for the shares
};

class TLargestFilesView final : public QTreeView {
public:
    explicit TLargestFilesView(QWidget* Parent = nullptr);

    void SetFiles(std::vector<TLargeFile> Files);
    [[nodiscard]] TLargestFilesModel& Model() noexcept { return FilesModel; }
    // The paths of the selected rows in display order.
    [[nodiscard]] std::vector<std::string> SelectedPaths() const;
    void Retranslate();

    // Enter or a double click on a row.
    std::function<void(const std::string& Path)> OnActivated;
    std::function<void(std::vector<std::string> Paths)> OnSelectionChanged;
    // A right click, the menu key or Shift+F10, with the selected paths and where the menu
    // goes on the screen.
    std::function<void(std::vector<std::string> Paths, QPoint Global)> OnContextMenu;
    // Delete (Shift: permanently) with rows selected.
    std::function<void(std::vector<std::string> Paths, bool Shift)> OnDeleteKey;

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;

private:
    void MenuAt(QPoint Global);

    TLargestFilesModel FilesModel;
};

class TFileTypesView final : public QTreeView {
public:
    explicit TFileTypesView(QWidget* Parent = nullptr);

    // Outdated: the sums may still count what changed since (a note says so).
    void SetTypes(std::vector<TFileTypeSum> Types, bool Outdated);
    [[nodiscard]] TFileTypesModel& Model() noexcept { return TypesModel; }
    // The colours of the swatches; the rows repaint with them.
    void SetTypeColour(std::function<std::uint32_t(const std::string& Type)> Colour);
    // The note under the rows while the sums are outdated; hidden otherwise.
    [[nodiscard]] QLabel* OutdatedNote() const noexcept { return Note; }
    // The type of the current row; empty when there is none.
    [[nodiscard]] std::string SelectedType() const;
    void Retranslate();

    // The current type changed (empty: none).
    std::function<void(const std::string& Type)> OnTypeSelected;

protected:
    void updateGeometries() override;

private:
    TFileTypesModel TypesModel;
    QLabel* Note = nullptr;
    std::string LastType;
};

} // namespace qv
