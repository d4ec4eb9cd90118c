#include "view/VirtualFileTree.h"

#include "platform/SysError.h"
#include "shell/ItemProp.h"
#include "shell/ShellTypes.h"
#include "support/Collation.h"
#include "support/Translate.h"
#include "tree/FileListThread.h"
#include "tree/TreeTypes.h"
#include "view/FileIcons.h"
#include "view/QvBarChartPainter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cerrno>
#include <numeric>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace qv {

namespace {

constexpr const char* ColumnCaptions[fcColumnCount] = {
    TrNoop("名称"), TrNoop("大小"), TrNoop("百分比"), TrNoop("文件"), TrNoop("Size on disk"),
};
constexpr int DefaultColumnWidths[fcColumnCount] = {196, 75, 113, 75, 75};
constexpr int MinimumColumnWidth = 50;

const QColor GreyText(128, 128, 128);
const QColor ErrorText(255, 0, 0);
// The colour comes as 0x00BBGGRR.
const QColor CompressedText(GetExplorerAltColor() & 0xFF, (GetExplorerAltColor() >> 8) & 0xFF,
                            (GetExplorerAltColor() >> 16) & 0xFF);

QString ToQString(const std::string& Text) {
    return QString::fromStdString(Text);
}

TFileSystemNode* NodeFromVariant(const QVariant& Value) {
    return reinterpret_cast<TFileSystemNode*>(Value.value<quintptr>());
}

int Sign(std::int64_t Value) {
    return Value < 0 ? -1 : Value > 0 ? 1 : 0;
}

// A line feed in a name would draw a second line over the next row, and other control
// characters draw nothing at all: the grid shows their Unicode pictures instead. Only the
// texts shown change; names, sorting and exports keep the bytes.
QString WithControlPictures(QString Text) {
    for (QChar& c : Text) {
        const char16_t code = c.unicode();
        if (code < 0x20)
            c = QChar(char16_t(0x2400 + code));
        else if (code == 0x7F)
            c = QChar(char16_t(0x2421));
    }
    return Text;
}

// Puts a listing's files (in name order) in the grid's order of a tree level, as the model's
// stable sort would: by collation key, by size, or (all counts are 1) as they are. Runs on
// the listing worker.
void ArrangeFiles(std::vector<std::unique_ptr<TFileNode>>& Files, int Column, Qt::SortOrder Order) {
    if (Column == fcFiles || Files.size() < 2)
        return;
    const auto arrange = [&](auto KeyOf) {
        using TKey = decltype(KeyOf(*Files.front()));
        std::vector<std::pair<TKey, TFileNode*>> keyed;
        keyed.reserve(Files.size());
        for (auto& file : Files) {
            TKey key = KeyOf(*file);
            keyed.emplace_back(std::move(key), file.release());
        }
        if (Order == Qt::AscendingOrder)
            std::stable_sort(keyed.begin(), keyed.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        else
            std::stable_sort(keyed.begin(), keyed.end(),
                             [](const auto& a, const auto& b) { return b.first < a.first; });
        for (std::size_t i = 0; i < keyed.size(); ++i)
            Files[i].reset(keyed[i].second);
    };
    if (Column == fcName)
        arrange([](const TFileNode& File) { return CollationKey(File.NameCStr()); });
    else if (Column == fcSizeOnDisk)
        arrange([](const TFileNode& File) { return File.GetSizeOnDisk(); });
    else
        arrange([](const TFileNode& File) { return File.GetSize(); });
}

} // namespace

// --- the model ---------------------------------------------------------------------------

struct TFileTreeModel::TRow {
    TFileSystemNode* Node = nullptr; // null: the placeholder
    TRow* Parent = nullptr;
    std::vector<std::unique_ptr<TRow>> Children;
    int Index = 0;         // position among the parent's rows
    int KnownChildren = 0; // leading entries of the node's child list that have rows
    // The node's files are being listed on the worker under this ticket; 0 for none.
    std::uint64_t ListingTicket = 0;
    bool ChildrenMade = false;
    // Node->IsGroupNode(), kept here: the view asks for every row's flags on each layout,
    // and reading the row alone keeps that fast for a folder of many thousand files.
    bool IsGroup = false;
    std::int32_t Count = 0;
    std::int64_t Size = 0;
    std::int64_t SizeOnDisk = 0;
    std::int64_t ParentSize = 0;
};

struct TFileTreeModel::TImpl {
    using TOrder = std::vector<int>;

    TFileTreeModel& Model;
    TFileTreeSource& Source;
    TRow Top; // the invisible root; its children are the top rows
    int Style = dvsTree;
    int SortColumn = fcPercent;
    Qt::SortOrder SortOrder = Qt::DescendingOrder;
    std::int64_t RootSize = 0;

    // The listings under way, by ticket. A row leaves this map before it is destroyed, so a
    // listing that arrives for a ticket still here finds its row, and so its node, alive.
    // The worker puts the files in the order the grid had when the row opened.
    using TRows = std::vector<std::unique_ptr<TRow>>;
    struct TListing {
        TRow* Row = nullptr;
        int Column = fcPercent;
        Qt::SortOrder Order = Qt::DescendingOrder;
        // The files' rows, made on the worker: a hundred thousand fresh rows cost the GUI
        // thread tens of milliseconds in page faults alone. Read only once delivered.
        std::shared_ptr<TRows> Prepared;
    };
    std::unordered_map<std::uint64_t, TListing> Listings;
    std::uint64_t NextTicket = 1;
    // Last, so that it is joined first: its worker posts to the model.
    std::unique_ptr<TFileListThread> Lister;

    TImpl(TFileTreeModel& Model, TFileTreeSource& Source) : Model(Model), Source(Source) {
        Top.ChildrenMade = true;
        Lister = std::make_unique<TFileListThread>(
            [this](std::uint64_t Ticket, std::shared_ptr<TFileList> List) {
                // Addressed to the model: a listing still queued dies with it.
                QMetaObject::invokeMethod(
                    &this->Model, [this, Ticket, List] { Listed(Ticket, *List); },
                    Qt::QueuedConnection);
            });
    }

    // Starts listing the files of Row's node on the worker; false when they are loaded or
    // being listed already.
    bool StartListing(TRow& Row) {
        auto& group = static_cast<TGroupNode&>(*Row.Node);
        TFileListRequest request;
        try {
            if (!group.BeginListFiles(request))
                return false;
        } catch (const ENodeError&) {
            // A tree without a root node has no grouping threshold: it is shown without files.
            return false;
        }
        Row.ListingTicket = NextTicket++;
        auto prepared = std::make_shared<TRows>();
        Listings.emplace(Row.ListingTicket, TListing{&Row, SortColumn, SortOrder, prepared});
        Lister->Add(
            Row.ListingTicket, std::move(request),
            [Column = SortColumn, Order = SortOrder, Parent = &Row, prepared](TFileList& List) {
                // On the worker: Parent is only stored, never read, here.
                ArrangeFiles(List.Files, Column, Order);
                prepared->reserve(List.Files.size());
                for (const auto& file : List.Files) {
                    prepared->push_back(MakeRow(file.get(), Parent));
                    prepared->back()->Size = file->GetSize();
                    prepared->back()->SizeOnDisk = file->GetSizeOnDisk();
                    prepared->back()->Count = 1;
                }
            });
        return true;
    }

    // Gives up the listings of Row and of the rows below it. With TouchNodes their nodes are
    // told (they must be alive: the rows are removed before their nodes are freed); without,
    // the nodes may be gone already and are left alone.
    void CancelListings(const TRow& Row, bool TouchNodes = true) {
        if (Listings.empty())
            return;
        for (auto it = Listings.begin(); it != Listings.end();) {
            TRow* listing = it->second.Row;
            const TRow* up = listing;
            while (up && up != &Row)
                up = up->Parent;
            if (!up) {
                ++it;
                continue;
            }
            Lister->Cancel(it->first);
            if (TouchNodes && listing->Node)
                static_cast<TGroupNode*>(listing->Node)->CancelListFiles();
            listing->ListingTicket = 0;
            it = Listings.erase(it);
        }
    }

    // A listing arrived: the files join the node, then their rows join the row's, each in
    // its place among the rows there are (the worker has put the files in order).
    void Listed(std::uint64_t Ticket, TFileList& List) {
        const auto found = Listings.find(Ticket);
        if (found == Listings.end())
            return;
        const TListing listing = found->second;
        Listings.erase(found);
        TRow& row = *listing.Row;
        row.ListingTicket = 0;
        auto& group = static_cast<TGroupNode&>(*row.Node);
        // Rows first for what a running scan added since, so that the files' entries follow
        // the known ones.
        if (AppendNewChildren(row))
            SortLevels({&row});
        const int known = row.KnownChildren;
        const TFileSystemNode* first = List.Files.empty() ? nullptr : List.Files.front().get();
        const std::int32_t added = group.EndListFiles(List);
        TRows fresh;
        bool inPlace = false;
        if (added > 0) {
            TChildrenLock lock(group);
            inPlace =
                lock.Children().Count() >= known + added && lock.Children().GetItem(known) == first;
        }
        if (inPlace) {
            // The files are the entries right after the known ones, in the worker's order.
            row.KnownChildren = known + added;
            TRows& prepared = *listing.Prepared;
            if (prepared.size() == std::size_t(added) && prepared.front()->Node == first) {
                fresh = std::move(prepared);
                for (const auto& child : fresh)
                    child->ParentSize = row.Size;
            } else {
                TChildrenLock lock(group);
                for (int i = known; i < known + added; ++i)
                    fresh.push_back(MakeRow(lock.Children().GetItem(i), &row));
                TParentSizes parentSizes;
                for (const auto& child : fresh)
                    Snapshot(*child, parentSizes);
            }
            if (listing.Column != SortColumn || listing.Order != SortOrder) {
                // The user sorted meanwhile: the worker's order is not the grid's.
                TRow staging;
                staging.Children = std::move(fresh);
                SortFresh(staging);
                fresh = std::move(staging.Children);
            }
            MergeRows(row, fresh);
        } else if (AppendNewChildren(row)) {
            SortLevels({&row});
        }
        // The row's note that it is being listed goes.
        emit Model.dataChanged(IndexOf(row), IndexOf(row, fcColumnCount - 1));
    }

    // Whether row A sorts before row B in the current order (B's place is after A's).
    bool SortsBefore(const TRow& A, const TRow& B) const {
        int order = 0;
        switch (SortColumn) {
        case fcName:
            order = A.Node && B.Node
                        ? CollateCompare(NameOf(*A.Node).c_str(), NameOf(*B.Node).c_str())
                        : 0;
            break;
        case fcFiles:
            order = A.Count < B.Count ? -1 : A.Count > B.Count ? 1 : 0;
            break;
        case fcSizeOnDisk:
            order = A.SizeOnDisk < B.SizeOnDisk ? -1 : A.SizeOnDisk > B.SizeOnDisk ? 1 : 0;
            break;
        default:
            order = A.Size < B.Size ? -1 : A.Size > B.Size ? 1 : 0;
        }
        return SortOrder == Qt::AscendingOrder ? order < 0 : order > 0;
    }

    // Inserts Fresh (sorted) among Parent's rows (sorted) as a stable sort of both would
    // place them: each run of fresh rows in one insertion, so the view keeps its state and
    // nothing is sorted again. A row with many rows takes the fresh ones at its end and is
    // sorted once.
    void MergeRows(TRow& Parent, std::vector<std::unique_ptr<TRow>>& Fresh) {
        constexpr std::size_t MaxRuns = 64;
        if (Parent.Children.empty() || Parent.Children.size() > MaxRuns) {
            const bool sort = !Parent.Children.empty();
            InsertRows(Parent, Fresh);
            if (sort)
                SortLevels({&Parent});
            return;
        }
        std::size_t taken = 0;
        for (std::size_t i = 0; i < Parent.Children.size() && taken < Fresh.size(); ++i) {
            const TRow& here = *Parent.Children[i];
            const auto end =
                std::partition_point(Fresh.begin() + std::ptrdiff_t(taken), Fresh.end(),
                                     [&](const auto& row) { return SortsBefore(*row, here); });
            const auto until = std::size_t(end - Fresh.begin());
            if (until > taken) {
                InsertRowsAt(Parent, i, Fresh, taken, until);
                i += until - taken;
                taken = until;
            }
        }
        InsertRowsAt(Parent, Parent.Children.size(), Fresh, taken, Fresh.size());
    }

    static TRow* RowOf(const QModelIndex& Index) {
        return static_cast<TRow*>(Index.internalPointer());
    }

    QModelIndex IndexOf(const TRow& Row, int Column = 0) const {
        if (&Row == &Top)
            return {};
        return Model.createIndex(Row.Index, Column, const_cast<TRow*>(&Row));
    }

    // Column 0's text.
    std::string DisplayNameOf(const TFileSystemNode& Node) const {
        return Style == dvsFlat ? Node.GetFullPath() : Node.GetDisplayName();
    }

    // Column 0's sort key: a drive sorts by its mount point, not by the label shown with it,
    // so the order does not change when a label arrives with the scan.
    std::string NameOf(const TFileSystemNode& Node) const {
        return Style == dvsFlat ? Node.GetFullPath() : std::string(Node.Name());
    }

    static std::unique_ptr<TRow> MakeRow(TFileSystemNode* Node, TRow* Parent) {
        auto row = std::make_unique<TRow>();
        row->Node = Node;
        row->Parent = Parent;
        row->IsGroup = Node && Node->IsGroupNode();
        return row;
    }

    // Rows for every child of Row's node, sorted, inserted at once; Row had none.
    void AddChildRows(TRow& Row) {
        const auto& group = static_cast<const TGroupNode&>(*Row.Node);
        TRow staging;
        {
            TChildrenLock lock(group);
            staging.Children.reserve(std::size_t(lock.Children().Count()));
            for (TFileSystemNode* child : lock.Children().Items())
                staging.Children.push_back(MakeRow(child, &Row));
        }
        Row.KnownChildren = int(staging.Children.size());
        if (staging.Children.empty())
            return;
        TParentSizes parentSizes;
        for (const auto& child : staging.Children)
            Snapshot(*child, parentSizes);
        SortFresh(staging);
        InsertRows(Row, staging.Children);
    }

    // The size of a flat row's parent directory; one GetSize per directory and snapshot.
    using TParentSizes = std::unordered_map<const TGroupNode*, std::int64_t>;

    // Reads size and count of Row's node; whether they changed.
    bool Snapshot(TRow& Row, TParentSizes& ParentSizes) const {
        if (!Row.Node)
            return false;
        const std::int64_t size = Row.Node->GetSize();
        const std::int64_t onDisk = Row.Node->GetSizeOnDisk();
        const std::int32_t count = Row.Node->GetFileCount();
        std::int64_t parentSize = 0;
        if (Style == dvsTree) {
            parentSize = Row.Parent->Size;
        } else if (const TGroupNode* parent = Row.Node->Parent()) {
            auto [it, added] = ParentSizes.try_emplace(parent, 0);
            if (added)
                it->second = parent->GetSize();
            parentSize = it->second;
        }
        const bool changed = size != Row.Size || onDisk != Row.SizeOnDisk || count != Row.Count ||
                             parentSize != Row.ParentSize;
        Row.Size = size;
        Row.SizeOnDisk = onDisk;
        Row.Count = count;
        Row.ParentSize = parentSize;
        return changed;
    }

    void UpdateRootSize() {
        if (Style == dvsTree && !Top.Children.empty() && Top.Children[0]->Node &&
            Top.Children[0]->Node == Source.RootNode)
            RootSize = Top.Children[0]->Size;
        else
            RootSize = Source.RootNode ? Source.RootNode->GetSize() : 0;
    }

    // The stable order of Rows under the current sort; false when it is the present one.
    // Keys are taken once per row: names and paths are costly, sizes are the snapshot.
    template <class TKey, class TKeyOf>
    bool StableOrder(const std::vector<std::unique_ptr<TRow>>& Rows, TKeyOf KeyOf,
                     TOrder& Order) const {
        std::vector<TKey> keys;
        keys.reserve(Rows.size());
        for (const auto& row : Rows)
            keys.push_back(KeyOf(*row));
        // Most levels are in order already (every refresh tick asks).
        const bool sorted = SortOrder == Qt::AscendingOrder
                                ? std::is_sorted(keys.begin(), keys.end())
                                : std::is_sorted(keys.rbegin(), keys.rend());
        if (sorted)
            return false;
        Order.resize(Rows.size());
        std::iota(Order.begin(), Order.end(), 0);
        if (SortOrder == Qt::AscendingOrder)
            std::stable_sort(Order.begin(), Order.end(),
                             [&](int a, int b) { return keys[a] < keys[b]; });
        else
            std::stable_sort(Order.begin(), Order.end(),
                             [&](int a, int b) { return keys[b] < keys[a]; });
        return !std::is_sorted(Order.begin(), Order.end());
    }

    bool ComputeOrder(const std::vector<std::unique_ptr<TRow>>& Rows, TOrder& Order) const {
        if (Rows.size() < 2)
            return false;
        switch (SortColumn) {
        case fcName:
            return StableOrder<std::string>(
                Rows,
                [this](const TRow& r) {
                    return r.Node ? CollationKey(NameOf(*r.Node).c_str()) : std::string();
                },
                Order);
        case fcFiles:
            return StableOrder<std::int32_t>(
                Rows, [](const TRow& r) { return r.Count; }, Order);
        case fcSizeOnDisk:
            return StableOrder<std::int64_t>(
                Rows, [](const TRow& r) { return r.SizeOnDisk; }, Order);
        default:
            return StableOrder<std::int64_t>(
                Rows, [](const TRow& r) { return r.Size; }, Order);
        }
    }

    static void ApplyOrder(TRow& Parent, const TOrder& Order) {
        std::vector<std::unique_ptr<TRow>> sorted;
        sorted.reserve(Order.size());
        for (int from : Order)
            sorted.push_back(std::move(Parent.Children[from]));
        Parent.Children = std::move(sorted);
        Reindex(Parent, 0);
    }

    static void Reindex(TRow& Parent, std::size_t From) {
        for (std::size_t i = From; i < Parent.Children.size(); ++i)
            Parent.Children[i]->Index = int(i);
    }

    // Rows not yet shown to anyone: sorted without a signal.
    void SortFresh(TRow& Parent) const {
        TOrder order;
        if (ComputeOrder(Parent.Children, order))
            ApplyOrder(Parent, order);
    }

    // Every row whose children were made, the invisible root first, parents before children.
    void CollectMade(TRow& Row, std::vector<TRow*>& Levels) const {
        if (!Row.ChildrenMade)
            return;
        Levels.push_back(&Row);
        for (const auto& child : Row.Children)
            CollectMade(*child, Levels);
    }

    // Re-sorts Levels; one layout change for all of them when any order changed.
    void SortLevels(const std::vector<TRow*>& Levels) {
        std::vector<std::pair<TRow*, TOrder>> changes;
        TOrder order;
        for (TRow* level : Levels)
            if (ComputeOrder(level->Children, order))
                changes.emplace_back(level, std::move(order));
        if (changes.empty())
            return;
        emit Model.layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        for (auto& [level, levelOrder] : changes)
            ApplyOrder(*level, levelOrder);
        // Rows keep their objects, so every persistent index just follows its row.
        const QModelIndexList from = Model.persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from) {
            TRow* row = RowOf(index);
            to.push_back(Model.createIndex(row->Index, index.column(), row));
        }
        Model.changePersistentIndexList(from, to);
        emit Model.layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    // Removes Parent's rows First..Last.
    void RemoveRows(TRow& Parent, int First, int Last, bool TouchNodes = true) {
        for (int i = First; i <= Last; ++i)
            CancelListings(*Parent.Children[std::size_t(i)], TouchNodes);
        Model.beginRemoveRows(IndexOf(Parent), First, Last);
        Parent.Children.erase(Parent.Children.begin() + First, Parent.Children.begin() + Last + 1);
        Reindex(Parent, std::size_t(First));
        Model.endRemoveRows();
    }

    // Forgets Row's children; they are made again on demand. The made flag falls only after
    // the removal was announced: a listener that fetches at once would bind rows to nodes
    // the caller is about to free.
    void ReleaseRows(TRow& Row, bool TouchNodes = true) {
        // Row's own listing too: its children are made again, and listed again, on demand.
        CancelListings(Row, TouchNodes);
        if (!Row.Children.empty())
            RemoveRows(Row, 0, int(Row.Children.size()) - 1, TouchNodes);
        Row.ChildrenMade = false;
        Row.KnownChildren = 0;
    }

    // Moves Rows[From, To) into Parent's rows at Position.
    void InsertRowsAt(TRow& Parent, std::size_t Position, std::vector<std::unique_ptr<TRow>>& Rows,
                      std::size_t From, std::size_t To) {
        if (From >= To)
            return;
        Model.beginInsertRows(IndexOf(Parent), int(Position), int(Position + (To - From)) - 1);
        Parent.Children.insert(Parent.Children.begin() + std::ptrdiff_t(Position),
                               std::make_move_iterator(Rows.begin() + std::ptrdiff_t(From)),
                               std::make_move_iterator(Rows.begin() + std::ptrdiff_t(To)));
        Reindex(Parent, Position);
        Model.endInsertRows();
    }

    void InsertRows(TRow& Parent, std::vector<std::unique_ptr<TRow>>& Rows) {
        if (Rows.empty())
            return;
        const std::size_t first = Parent.Children.size();
        Model.beginInsertRows(IndexOf(Parent), int(first), int(first + Rows.size()) - 1);
        for (auto& row : Rows)
            Parent.Children.push_back(std::move(row));
        Reindex(Parent, first);
        Model.endInsertRows();
    }

    // Rows for the children a scan appended to Row's node since the last look.
    bool AppendNewChildren(TRow& Row) {
        if (!Row.Node || !Row.Node->IsGroupNode())
            return false;
        const auto& group = static_cast<const TGroupNode&>(*Row.Node);
        std::vector<std::unique_ptr<TRow>> fresh;
        int count = 0;
        {
            TChildrenLock lock(group);
            count = lock.Children().Count();
            for (int i = Row.KnownChildren; i < count; ++i)
                fresh.push_back(MakeRow(lock.Children().GetItem(i), &Row));
        }
        if (count < Row.KnownChildren) {
            // The list shrank without anyone telling the grid: the known rows can no longer
            // be matched to entries, so this level starts afresh (its nodes may be gone).
            ReleaseRows(Row, false);
            return false;
        }
        Row.KnownChildren = count;
        InsertRows(Row, fresh);
        return !fresh.empty();
    }

    void MakeTopRows(int NewStyle, const std::vector<TFileSystemNode*>& FlatNodes) {
        Style = NewStyle == dvsFlat ? dvsFlat : dvsTree;
        CancelListings(Top);
        Top.Children.clear();
        if (Style == dvsTree) {
            Top.Children.push_back(MakeRow(Source.RootNode, &Top));
        } else {
            for (TFileSystemNode* node : FlatNodes)
                if (node)
                    Top.Children.push_back(MakeRow(node, &Top));
            if (Top.Children.empty())
                Top.Children.push_back(MakeRow(nullptr, &Top));
        }
        TParentSizes parentSizes;
        for (const auto& row : Top.Children)
            Snapshot(*row, parentSizes);
        UpdateRootSize();
        SortFresh(Top);
        Reindex(Top, 0);
    }

    // The rows of Node: at most one in the tree style (found along Node's ancestors), any
    // number in the flat style. With Subtree, the flat style adds the rows of descendants.
    std::vector<TRow*> FindRows(const TFileSystemNode* Node, bool Subtree) {
        std::vector<TRow*> found;
        if (!Node)
            return found;
        if (Style == dvsFlat) {
            for (const auto& row : Top.Children) {
                const TFileSystemNode* n = row->Node;
                if (n == Node) {
                    found.push_back(row.get());
                    continue;
                }
                if (Subtree)
                    for (const TFileSystemNode* p = n ? n->Parent() : nullptr; p; p = p->Parent())
                        if (p == Node) {
                            found.push_back(row.get());
                            break;
                        }
            }
            return found;
        }
        std::vector<const TFileSystemNode*> chain; // Node up to the top of its tree
        for (const TFileSystemNode* n = Node; n; n = n->Parent())
            chain.push_back(n);
        TRow* level = &Top;
        // The top row may stand for any ancestor (a drive scanned on its own).
        std::size_t depth = chain.size();
        while (depth > 0 && level) {
            TRow* next = nullptr;
            for (const auto& row : level->Children) {
                if (level == &Top) {
                    const auto it = std::find(chain.begin(), chain.end(), row->Node);
                    if (it != chain.end()) {
                        depth = std::size_t(it - chain.begin());
                        next = row.get();
                        break;
                    }
                } else if (row->Node == chain[depth - 1]) {
                    --depth;
                    next = row.get();
                    break;
                }
            }
            if (!next)
                return found;
            if (depth == 0 || next->Node == Node) {
                found.push_back(next);
                return found;
            }
            level = next->ChildrenMade ? next : nullptr;
        }
        return found;
    }

    void EnsurePlaceholder() {
        if (!Top.Children.empty())
            return;
        std::vector<std::unique_ptr<TRow>> rows;
        rows.push_back(MakeRow(nullptr, &Top));
        InsertRows(Top, rows);
    }
};

TFileTreeModel::TFileTreeModel(TFileTreeSource& Source, QObject* Parent)
    : QAbstractItemModel(Parent), Impl(std::make_unique<TImpl>(*this, Source)) {
    Impl->MakeTopRows(dvsTree, {});
}

TFileTreeModel::~TFileTreeModel() {
    Impl->CancelListings(Impl->Top);
    // Joined before the rows go; a listing it had posted dies with the model.
    Impl->Lister.reset();
}

void TFileTreeModel::Rebuild(int Style, const std::vector<TFileSystemNode*>& FlatNodes) {
    beginResetModel();
    Impl->MakeTopRows(Style, FlatNodes);
    endResetModel();
}

int TFileTreeModel::Style() const noexcept {
    return Impl->Style;
}

void TFileTreeModel::Refresh() {
    TImpl& d = *Impl;
    std::unordered_set<const TRow*> grown;
    if (d.Style == dvsTree) {
        std::vector<TRow*> levels;
        d.CollectMade(d.Top, levels);
        for (TRow* level : levels)
            if (d.AppendNewChildren(*level))
                grown.insert(level);
    }

    // The snapshot, top down so that a row's parent size is the parent row's own.
    std::vector<TRow*> levels;
    d.CollectMade(d.Top, levels);
    std::vector<const TRow*> changedLevels;
    TImpl::TParentSizes parentSizes;
    for (TRow* level : levels) {
        bool changed = false;
        for (const auto& row : level->Children)
            changed = d.Snapshot(*row, parentSizes) || changed;
        if (changed)
            changedLevels.push_back(level);
    }
    const std::int64_t oldRootSize = d.RootSize;
    d.UpdateRootSize();

    // Names do not change while a scan runs, so a level sorted by name needs a new order
    // only when it grew.
    if (d.SortColumn == fcName)
        std::erase_if(levels, [&](const TRow* level) { return !grown.contains(level); });
    d.SortLevels(levels);

    // Every share changes with the root's size.
    if (oldRootSize != d.RootSize) {
        changedLevels.clear();
        d.CollectMade(d.Top, levels);
        changedLevels.assign(levels.begin(), levels.end());
    }
    for (const TRow* level : changedLevels)
        if (!level->Children.empty())
            emit dataChanged(d.IndexOf(*level->Children.front(), fcName),
                             d.IndexOf(*level->Children.back(), fcColumnCount - 1));
}

void TFileTreeModel::ReleaseChildren(const TGroupNode& Node) {
    TImpl& d = *Impl;
    if (d.Style == dvsFlat) {
        // Flat rows of nodes below Node would outlive them.
        for (TRow* row : d.FindRows(&Node, true))
            if (row->Node != &Node)
                d.RemoveRows(d.Top, row->Index, row->Index);
        d.EnsurePlaceholder();
        return;
    }
    for (TRow* row : d.FindRows(&Node, false))
        if (row->ChildrenMade)
            d.ReleaseRows(*row);
}

void TFileTreeModel::RemoveNodeRows(const TFileSystemNode& Node) {
    TImpl& d = *Impl;
    std::vector<TRow*> rows = d.FindRows(&Node, true);
    // From the bottom up, so that the indexes of the rows still to go stay right.
    std::sort(rows.begin(), rows.end(),
              [](const TRow* a, const TRow* b) { return a->Index > b->Index; });
    for (TRow* row : rows) {
        TRow& parent = *row->Parent;
        // The node leaves its parent's list next: the entries with rows are one fewer.
        if (d.Style == dvsTree && parent.Node && parent.KnownChildren > 0)
            --parent.KnownChildren;
        d.RemoveRows(parent, row->Index, row->Index);
    }
    d.EnsurePlaceholder();
}

int TFileTreeModel::SortColumn() const noexcept {
    return Impl->SortColumn;
}

Qt::SortOrder TFileTreeModel::SortOrder() const noexcept {
    return Impl->SortOrder;
}

void TFileTreeModel::sort(int Column, Qt::SortOrder Order) {
    if (Column < 0 || Column >= fcColumnCount)
        return;
    Impl->SortColumn = Column;
    Impl->SortOrder = Order;
    std::vector<TRow*> levels;
    Impl->CollectMade(Impl->Top, levels);
    Impl->SortLevels(levels);
}

int TFileTreeModel::CompareNodes(const TFileSystemNode& A, const TFileSystemNode& B,
                                 int Column) const {
    switch (Column) {
    case fcName: {
        const int order = CollateCompare(Impl->NameOf(A).c_str(), Impl->NameOf(B).c_str());
        return order < 0 ? -1 : order > 0 ? 1 : 0;
    }
    case fcFiles:
        return Sign(std::int64_t(A.GetFileCount()) - B.GetFileCount());
    case fcSizeOnDisk:
        return Sign(A.GetSizeOnDisk() - B.GetSizeOnDisk());
    default: {
        const std::int64_t a = A.GetSize();
        const std::int64_t b = B.GetSize();
        return a < b ? -1 : a > b ? 1 : 0;
    }
    }
}

TFileSystemNode* TFileTreeModel::NodeOf(const QModelIndex& Index) const {
    return Index.isValid() ? TImpl::RowOf(Index)->Node : nullptr;
}

QModelIndex TFileTreeModel::IndexOf(const TFileSystemNode* Node) const {
    const std::vector<TRow*> rows = Impl->FindRows(Node, false);
    return rows.empty() ? QModelIndex() : Impl->IndexOf(*rows.front());
}

bool TFileTreeModel::ChildrenMade(const QModelIndex& Index) const {
    return Index.isValid() ? TImpl::RowOf(Index)->ChildrenMade : true;
}

QModelIndex TFileTreeModel::index(int Row, int Column, const QModelIndex& Parent) const {
    if (Column < 0 || Column >= fcColumnCount || Row < 0 ||
        (Parent.isValid() && Parent.column() != 0))
        return {};
    const TRow* parent = Parent.isValid() ? TImpl::RowOf(Parent) : &Impl->Top;
    if (std::size_t(Row) >= parent->Children.size())
        return {};
    return createIndex(Row, Column, parent->Children[std::size_t(Row)].get());
}

QModelIndex TFileTreeModel::parent(const QModelIndex& Index) const {
    if (!Index.isValid())
        return {};
    return Impl->IndexOf(*TImpl::RowOf(Index)->Parent);
}

int TFileTreeModel::rowCount(const QModelIndex& Parent) const {
    if (!Parent.isValid())
        return int(Impl->Top.Children.size());
    if (Parent.column() != 0)
        return 0;
    return int(TImpl::RowOf(Parent)->Children.size());
}

int TFileTreeModel::columnCount(const QModelIndex&) const {
    return fcColumnCount;
}

bool TFileTreeModel::hasChildren(const QModelIndex& Parent) const {
    if (!Parent.isValid())
        return !Impl->Top.Children.empty();
    if (Parent.column() != 0 || Impl->Style == dvsFlat)
        return false;
    const TRow& row = *TImpl::RowOf(Parent);
    if (row.ChildrenMade)
        return !row.Children.empty() || row.ListingTicket != 0;
    if (!row.Node || !row.IsGroup)
        return false;
    // A directory whose entries are not known yet stays expandable.
    const auto& group = static_cast<const TGroupNode&>(*row.Node);
    return group.HasChildren() || !group.IsEmpty();
}

bool TFileTreeModel::canFetchMore(const QModelIndex& Parent) const {
    if (!Parent.isValid() || Parent.column() != 0 || Impl->Style == dvsFlat)
        return false;
    const TRow& row = *TImpl::RowOf(Parent);
    return !row.ChildrenMade && row.Node && row.IsGroup;
}

void TFileTreeModel::fetchMore(const QModelIndex& Parent) {
    if (!canFetchMore(Parent))
        return;
    TImpl& d = *Impl;
    TRow& row = *TImpl::RowOf(Parent);
    // The files come from the worker; the folders (and a "Grouped Files" row) are shown now.
    const bool listing = d.StartListing(row);
    row.ChildrenMade = true;
    d.AddChildRows(row);
    if (listing)
        emit dataChanged(Parent, d.IndexOf(row, fcColumnCount - 1));
}

int TFileTreeModel::ListingCount() const noexcept {
    return int(Impl->Listings.size());
}

QVariant TFileTreeModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid())
        return {};
    const TImpl& d = *Impl;
    const TRow& row = *TImpl::RowOf(Index);
    TFileSystemNode* const node = row.Node;
    const int column = Index.column();
    const bool error = node && node->ScanError() != 0;
    switch (Role) {
    case Qt::DisplayRole:
        if (column == fcName)
            return node ? WithControlPictures(ToQString(d.DisplayNameOf(*node)))
                        : ToQString(Tr("请选择一个目录"));
        if (!node || error)
            return QString();
        if (column == fcSize || column == fcSizeOnDisk) {
            const std::int64_t size = column == fcSize ? row.Size : row.SizeOnDisk;
            return ToQString(d.Source.SizeFormatter ? d.Source.SizeFormatter(size)
                                                    : FormatSizeRoundDown(size));
        }
        if (column == fcFiles)
            return ToQString(FormatCount(row.Count));
        return QString();
    case Qt::TextAlignmentRole:
        if (column == fcSize || column == fcSizeOnDisk)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::FontRole:
        if (!node || (column == fcName && node->GetNodeType() == ntFileGroup)) {
            QFont font;
            font.setItalic(true);
            return font;
        }
        return {};
    case Qt::ForegroundRole:
        if (!node)
            return GreyText;
        if (column == fcName && node->IsCompressed())
            return CompressedText;
        return {};
    case Qt::AccessibleTextRole:
        // The percent cell shows its share only as the bar's painted caption; a screen
        // reader gets the same text here. Other cells are read from their display text.
        if (column != fcPercent || !node || error || !d.Source.RootNode || d.RootSize <= 0)
            return {};
        return ToQString(
            FormatPercent(std::clamp(double(row.Size) / double(d.RootSize), 0.0, 1.0)));
    case NodeRole:
        return QVariant::fromValue(quintptr(node));
    case StaticTextRole:
        if (column != fcName || !node)
            return {};
        if (error)
            return ToQString(SysErrorMessage(node->ScanError()));
        if (row.ListingTicket != 0)
            return ToQString(Tr("listing files…"));
        if (node->GetNodeType() == ntDrive)
            return ToQString(FormatFreeSpace(d.Source.SizeFormatter,
                                             static_cast<const TRootDirNode&>(*node).FreeSpace()));
        return {};
    case StaticTextIsErrorRole:
        return error;
    case SizeRole:
        return qint64(row.Size);
    case PercentRole:
        if (!node || !d.Source.RootNode || !d.Source.BarPainter || d.RootSize <= 0)
            return -1.0;
        return std::clamp(double(row.Size) / double(d.RootSize), 0.0, 1.0);
    case ChildPercentRole: {
        const TGroupNode* parent = node ? node->Parent() : nullptr;
        if (!parent || parent == d.Source.RootNode || !d.Source.DrawChildBar ||
            !d.Source.ChildBarPainter || row.ParentSize <= 0)
            return -1.0;
        return std::clamp(double(row.Size) / double(row.ParentSize), 0.0, 1.0);
    }
    case ScanningRole:
        return row.ListingTicket != 0 ||
               (node && row.IsGroup && static_cast<const TGroupNode&>(*node).IsScanning());
    case OverlayRole:
        if (node && node->IsFileGroup())
            return int(oiGroupedFiles);
        if (node && node->IsGroupNode() && static_cast<const TGroupNode&>(*node).IsIncomplete())
            return int(oiIncomplete);
        return -1;
    case GhostedRole:
        return node && node->IsHidden();
    default:
        return {};
    }
}

QVariant TFileTreeModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation == Qt::Horizontal && Role == Qt::DisplayRole && Section >= 0 &&
        Section < fcColumnCount)
        return ToQString(Tr(ColumnCaptions[Section]));
    return QAbstractItemModel::headerData(Section, Orientation, Role);
}

Qt::ItemFlags TFileTreeModel::flags(const QModelIndex& Index) const {
    if (!Index.isValid())
        return Qt::NoItemFlags;
    const TRow& row = *TImpl::RowOf(Index);
    Qt::ItemFlags result = Qt::ItemIsEnabled;
    if (row.Node)
        result |= Qt::ItemIsSelectable;
    if (!row.IsGroup || Impl->Style == dvsFlat)
        result |= Qt::ItemNeverHasChildren;
    return result;
}

void TFileTreeModel::Retranslate() {
    emit headerDataChanged(Qt::Horizontal, 0, fcColumnCount - 1);
    // The placeholder's prompt and the free-space texts are translated too.
    const auto& top = Impl->Top.Children;
    if (!top.empty())
        emit dataChanged(Impl->IndexOf(*top.front(), fcName),
                         Impl->IndexOf(*top.back(), fcColumnCount - 1));
}

// --- the delegate ------------------------------------------------------------------------

namespace {

QPalette::ColorGroup ColorGroupOf(const QStyleOptionViewItem& Option) {
    if (!(Option.state & QStyle::State_Enabled))
        return QPalette::Disabled;
    return Option.state & QStyle::State_Active ? QPalette::Normal : QPalette::Inactive;
}

int TextMargin(const QStyleOptionViewItem& Option) {
    const QStyle* style = Option.widget ? Option.widget->style() : QApplication::style();
    return style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, Option.widget) + 1;
}

// The cell's background and focus frame as the style draws them, without text or icon.
void DrawCellBackground(QPainter& Painter, const QStyleOptionViewItem& Option) {
    QStyleOptionViewItem background = Option;
    background.text.clear();
    background.icon = QIcon();
    background.features &=
        ~(QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration);
    const QStyle* style = Option.widget ? Option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, &Painter, Option.widget);
}

// The icon of Node; looks its index up once and keeps it in the node. It is decided from
// what the tree knows, never by asking the disk: this runs on every repaint, and a dead
// network mount would freeze the window.
QIcon NodeIcon(const TFileTreeSource& Source, TFileSystemNode& Node, bool Expanded) {
    TFileIconTable& Icons = *Source.Icons;
    const TNodeType type = Node.GetNodeType();
    if (type == ntFixedDrives)
        return QIcon(TFileIconTable::TreeViewImage(tviFixedDrives));
    int index = Node.ImageIndex();
    if (type == ntDirectory || type == ntDrive) {
        // The scan found no directory there: a file icon, until a re-scan finds one again.
        const int error = Node.ScanError();
        if (error == ENOENT || error == ENOTDIR)
            return Icons.Icon(Icons.DefaultFileIcon());
        if (index < 0) {
            index = Icons.GetIconIndex(Node.GetFullPath());
            if (index < 0)
                index = Icons.ClosedFolderIcon();
            if (index >= 0)
                Node.SetImageIndex(std::int16_t(index));
        }
        if (type == ntDirectory &&
            (index == Icons.OpenFolderIcon() || index == Icons.ClosedFolderIcon()))
            index = Expanded ? Icons.OpenFolderIcon() : Icons.ClosedFolderIcon();
        return Icons.Icon(index);
    }
    if (index < 0) {
        if (Source.IconThread && Source.IconRequests) {
            // The type is found on the worker; until it answers, the plain file icon.
            index = RequestFileIcon(Node.GetFullPath(), *Source.IconRequests, *Source.IconThread);
            if (index < 0)
                return Icons.Icon(Icons.DefaultFileIcon());
        } else {
            index = Icons.GetFileIconIndex(Node.Name());
        }
        if (index >= 0)
            Node.SetImageIndex(std::int16_t(index));
    }
    return Icons.Icon(index);
}

QRect IconRect(const QStyleOptionViewItem& Option) {
    const QSize size = Option.decorationSize;
    const QRect& cell = Option.rect;
    return QRect(
        QPoint(cell.left() + TextMargin(Option), cell.top() + (cell.height() - size.height()) / 2),
        size);
}

void PaintNameCell(const TFileTreeSource& Source, QPainter& Painter,
                   const QStyleOptionViewItem& Option, const QModelIndex& Index) {
    DrawCellBackground(Painter, Option);
    TFileSystemNode* node = NodeFromVariant(Index.data(TFileTreeModel::NodeRole));
    const bool selected = Option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = ColorGroupOf(Option);
    const int margin = TextMargin(Option);
    QRect textRect = Option.rect.adjusted(margin, 0, -margin, 0);

    if (node && Source.Icons) {
        const QRect iconRect = IconRect(Option);
        const auto* view = qobject_cast<const QTreeView*>(Option.widget);
        const bool expanded = view && view->isExpanded(Index);
        const QIcon icon = NodeIcon(Source, *node, expanded);
        Painter.save();
        if (Index.data(TFileTreeModel::GhostedRole).toBool())
            Painter.setOpacity(0.5);
        icon.paint(&Painter, iconRect);
        Painter.restore();
        const int overlay = Index.data(TFileTreeModel::OverlayRole).toInt();
        if (overlay >= 0) {
            const QPixmap mark = TFileIconTable::OverlayImage(overlay);
            if (!mark.isNull()) {
                const QSize size = mark.deviceIndependentSize().toSize().boundedTo(iconRect.size());
                Painter.drawPixmap(
                    QRect(QPoint(iconRect.left(), iconRect.bottom() + 1 - size.height()), size),
                    mark);
            }
        }
        textRect.setLeft(iconRect.right() + 1 + 2 * margin);
    }

    Painter.save();
    Painter.setFont(Option.font);
    Painter.setPen(
        Option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    const QFontMetrics metrics(Option.font);
    const QString name = metrics.elidedText(Option.text, Qt::ElideRight, textRect.width());
    Painter.drawText(textRect, int(Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine), name);

    const QString staticText = Index.data(TFileTreeModel::StaticTextRole).toString();
    if (!staticText.isEmpty()) {
        const bool isError = Index.data(TFileTreeModel::StaticTextIsErrorRole).toBool();
        QFont font = Option.font;
        font.setItalic(isError);
        const QFontMetrics staticMetrics(font);
        QRect staticRect = textRect;
        staticRect.setLeft(textRect.left() + metrics.horizontalAdvance(name) +
                           2 * metrics.horizontalAdvance(QLatin1Char(' ')));
        if (staticRect.width() > 0) {
            Painter.setFont(font);
            Painter.setPen(selected  ? Option.palette.color(group, QPalette::HighlightedText)
                           : isError ? ErrorText
                                     : GreyText);
            Painter.drawText(
                staticRect, int(Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine),
                staticMetrics.elidedText(staticText, Qt::ElideRight, staticRect.width()));
        }
    }
    Painter.restore();
}

// The bars go through an RGB32 image: the painters blit with raster operations that only
// a raster image supports, and the widget may paint to any device (grab, print).
void PaintBarCell(const TFileTreeSource& Source, QPainter& Painter,
                  const QStyleOptionViewItem& Option, const QModelIndex& Index) {
    DrawCellBackground(Painter, Option);
    const double childRatio = Index.data(TFileTreeModel::ChildPercentRole).toDouble();
    const double ratio = Index.data(TFileTreeModel::PercentRole).toDouble();
    const bool childBar = childRatio >= 0 && Source.ChildBarPainter;
    const bool mainBar = ratio >= 0 && Source.BarPainter;
    const QRect barRect = Option.rect.adjusted(1, 1, -1, -1);
    if ((!childBar && !mainBar) || barRect.isEmpty())
        return;
    const bool selected = Option.state & QStyle::State_Selected;

    QImage image(barRect.size(), QImage::Format_RGB32);
    const QPalette::ColorGroup group = ColorGroupOf(Option);
    image.fill(Option.palette.color(group, Option.features & QStyleOptionViewItem::Alternate
                                               ? QPalette::AlternateBase
                                               : QPalette::Base));
    {
        QPainter canvas(&image);
        QStyleOptionViewItem cell = Option;
        cell.rect = QRect(QPoint(-1, -1), Option.rect.size());
        cell.state &= ~QStyle::State_HasFocus;
        const QStyle* style = Option.widget ? Option.widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, &canvas, Option.widget);
        canvas.setFont(Option.font);
        // The painters fill the inside of a selected bar with the canvas brush.
        canvas.setBrush(
            Option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base));
        const QRect local(QPoint(0, 0), barRect.size());
        if (childBar) {
            if (selected)
                Source.ChildBarPainter->PaintSelected(canvas, local, childRatio, QString());
            else
                Source.ChildBarPainter->Paint(canvas, local, childRatio, QString());
        }
        if (mainBar) {
            const QString text = ToQString(FormatPercent(ratio));
            if (selected)
                Source.BarPainter->PaintSelected(canvas, local, ratio, text);
            else
                Source.BarPainter->Paint(canvas, local, ratio, text);
        }
    }
    Painter.drawImage(barRect.topLeft(), image);
}

} // namespace

TFileTreeDelegate::TFileTreeDelegate(TFileTreeSource& Source, QObject* Parent)
    : QStyledItemDelegate(Parent), Source(Source) {}

void TFileTreeDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                              const QModelIndex& Index) const {
    QStyleOptionViewItem option = Option;
    initStyleOption(&option, Index);
    switch (Index.column()) {
    case fcName:
        PaintNameCell(Source, *Painter, option, Index);
        return;
    case fcPercent:
        PaintBarCell(Source, *Painter, option, Index);
        return;
    case fcSize:
        QStyledItemDelegate::paint(Painter, Option, Index);
        if (Index.data(TFileTreeModel::ScanningRole).toBool()) {
            const QPixmap frame = TFileIconTable::AniSearchFrame(Source.AniFrame);
            if (!frame.isNull()) {
                const QSize size = frame.deviceIndependentSize().toSize();
                const QRect& cell = Option.rect;
                Painter->drawPixmap(QRect(QPoint(cell.left() + TextMargin(option),
                                                 cell.top() + (cell.height() - size.height()) / 2),
                                          size),
                                    frame);
            }
        }
        return;
    default:
        QStyledItemDelegate::paint(Painter, Option, Index);
    }
}

QSize TFileTreeDelegate::sizeHint(const QStyleOptionViewItem& Option,
                                  const QModelIndex& Index) const {
    QSize size = QStyledItemDelegate::sizeHint(Option, Index);
    // Every row is as high as one with an icon: the view takes one height for all rows.
    size.setHeight(std::max(size.height(), Option.decorationSize.height() + 2));
    if (Index.column() == fcName) {
        QStyleOptionViewItem option = Option;
        initStyleOption(&option, Index);
        size.rwidth() += Option.decorationSize.width() + 2 * TextMargin(option);
        const QString staticText = Index.data(TFileTreeModel::StaticTextRole).toString();
        if (!staticText.isEmpty())
            size.rwidth() +=
                QFontMetrics(option.font).horizontalAdvance(QStringLiteral("  ") + staticText);
    }
    return size;
}

bool TFileTreeDelegate::helpEvent(QHelpEvent* Event, QAbstractItemView* View,
                                  const QStyleOptionViewItem& Option, const QModelIndex& Index) {
    if (!Event || Event->type() != QEvent::ToolTip || !Index.isValid())
        return QStyledItemDelegate::helpEvent(Event, View, Option, Index);
    QStyleOptionViewItem option = Option;
    initStyleOption(&option, Index);
    QString text = option.text;
    int available = Option.rect.width() - 2 * TextMargin(option);
    if (Index.column() == fcName) {
        const QString staticText = Index.data(TFileTreeModel::StaticTextRole).toString();
        if (!staticText.isEmpty())
            text += QStringLiteral("  ") + staticText;
        if (Source.Icons && Index.data(TFileTreeModel::NodeRole).value<quintptr>() != 0)
            available -= Option.decorationSize.width() + 2 * TextMargin(option);
    }
    if (!text.isEmpty() && QFontMetrics(option.font).horizontalAdvance(text) > available)
        QToolTip::showText(Event->globalPos(), text, View, Option.rect);
    else
        QToolTip::hideText();
    return true;
}

// --- the view ----------------------------------------------------------------------------

struct TVirtualFileTree::TImpl {
    TFileTreeSource& Source;
    bool SpanUpdatePending = false;
    // The node OnChange was last told about; compared, never dereferenced.
    const TFileSystemNode* ReportedNode = nullptr;
    QString SearchText;
    QElapsedTimer SearchTimer;
    // Rows made with their node's Expanded flag set, to be opened once the insertion is over.
    std::vector<QPersistentModelIndex> PendingExpansions;
    bool SpansDirty = false;
    bool FlushScheduled = false;
    // Set while a refresh tick brings the rows up to date (see dataChanged).
    bool Refreshing = false;
    // The widths of the columns other than fcPercent as the user (or the saved settings)
    // chose them; a narrow viewport only borrows from them, so they come back when it widens.
    std::array<int, fcColumnCount> ChosenWidths{};
    // Set while FitColumns resizes sections itself.
    bool Fitting = false;
    // Widths changed while the grid was hidden: the next layout fits them.
    bool FitPending = false;

    explicit TImpl(TFileTreeSource& Source) : Source(Source) {
        std::copy(std::begin(DefaultColumnWidths), std::end(DefaultColumnWidths),
                  ChosenWidths.begin());
    }

    // Opens the pending rows (making their children, which may add more) and updates the
    // spans.
    static void Flush(TVirtualFileTree& View);

    // Lays the visible columns out in the viewport: fcPercent takes whatever width the others
    // leave, down to its minimum; below that the others give way too, the widest first, so
    // that no column hides behind a horizontal scroll bar while there is room for all of
    // them at their minimum. Resized, a column the user just resized, stops where the others
    // leave no room. With Adopt, the widths shown become the chosen ones.
    static void FitColumns(TVirtualFileTree& View, int Resized, bool Adopt);
    // Another width for a section, from the user or the window.
    static void SectionResized(TVirtualFileTree& View, int Column, int NewSize);
};

namespace {

// The rows from the top down to Index: their order is the display order.
std::vector<int> RowPath(QModelIndex Index) {
    std::vector<int> path;
    for (; Index.isValid(); Index = Index.parent())
        path.push_back(Index.row());
    std::reverse(path.begin(), path.end());
    return path;
}

} // namespace

namespace {

// Error rows and the placeholder use the whole width for their texts.
void UpdateSpans(TVirtualFileTree& View) {
    const TFileTreeModel& model = View.Model();
    std::vector<QModelIndex> parents{QModelIndex()};
    while (!parents.empty()) {
        const QModelIndex parent = parents.back();
        parents.pop_back();
        const int rows = model.rowCount(parent);
        for (int row = 0; row < rows; ++row) {
            const QModelIndex index = model.index(row, 0, parent);
            const TFileSystemNode* node = model.NodeOf(index);
            const bool span = !node || node->ScanError() != 0;
            if (span != View.isFirstColumnSpanned(row, parent))
                View.setFirstColumnSpanned(row, parent, span);
            if (node && node->IsGroupNode() && model.rowCount(index) > 0)
                parents.push_back(index);
        }
    }
}

} // namespace

void TVirtualFileTree::TImpl::Flush(TVirtualFileTree& View) {
    TImpl& d = *View.Impl;
    TFileTreeModel& model = *View.FileModel;
    d.FlushScheduled = false;
    while (!d.PendingExpansions.empty()) {
        const std::vector<QPersistentModelIndex> pending = std::move(d.PendingExpansions);
        d.PendingExpansions.clear();
        for (const QPersistentModelIndex& row : pending) {
            const QModelIndex index = row;
            if (!index.isValid() || View.isExpanded(index))
                continue;
            if (model.canFetchMore(index))
                model.fetchMore(index);
            View.expand(index);
        }
    }
    if (d.SpansDirty) {
        d.SpansDirty = false;
        UpdateSpans(View);
    }
}

namespace {

// Narrows the widest of Columns first until their Widths add up to Budget at most; none
// goes below the minimum width.
void GiveWay(std::array<int, fcColumnCount>& Widths, const std::vector<int>& Columns, int Budget) {
    int total = 0;
    for (int column : Columns)
        total += Widths[column];
    while (total > Budget) {
        int widest = 0;
        for (int column : Columns)
            widest = std::max(widest, Widths[column]);
        if (widest <= MinimumColumnWidth)
            return;
        int next = MinimumColumnWidth;
        int count = 0;
        for (int column : Columns)
            if (Widths[column] == widest)
                ++count;
            else
                next = std::max(next, Widths[column]);
        // The widest ones come down together, at most to the next width.
        const int cut = std::min(total - Budget, (widest - next) * count);
        int nth = 0;
        for (int column : Columns)
            if (Widths[column] == widest) {
                Widths[column] -= cut / count + (nth < cut % count ? 1 : 0);
                ++nth;
            }
        total -= cut;
    }
}

} // namespace

void TVirtualFileTree::TImpl::FitColumns(TVirtualFileTree& View, int Resized, bool Adopt) {
    TImpl& d = *View.Impl;
    QHeaderView& columns = *View.header();
    d.FitPending = false;
    std::vector<int> others; // visible, without fcPercent
    for (int column = 0; column < fcColumnCount && column < columns.count(); ++column)
        if (column != fcPercent && !columns.isSectionHidden(column))
            others.push_back(column);
    const bool percent = fcPercent < columns.count() && !columns.isSectionHidden(fcPercent);
    const int available = View.viewport()->width();
    const int budget = available - (percent ? MinimumColumnWidth : 0);

    std::array<int, fcColumnCount> widths = d.ChosenWidths;
    if (Resized >= 0 && Resized != fcPercent && !columns.isSectionHidden(Resized)) {
        int rest = 0;
        for (int column : others)
            if (column != Resized)
                rest += widths[column];
        widths[Resized] = std::max(std::min(widths[Resized], budget - rest),
                                   std::min(widths[Resized], MinimumColumnWidth));
    }
    GiveWay(widths, others, budget);
    if (Adopt)
        for (int column : others)
            d.ChosenWidths[column] = widths[column];

    int used = 0;
    d.Fitting = true;
    for (int column : others) {
        used += widths[column];
        if (columns.sectionSize(column) != widths[column])
            columns.resizeSection(column, widths[column]);
    }
    if (percent)
        columns.resizeSection(fcPercent, std::max(MinimumColumnWidth, available - used));
    d.Fitting = false;
}

void TVirtualFileTree::TImpl::SectionResized(TVirtualFileTree& View, int Column, int NewSize) {
    TImpl& d = *View.Impl;
    if (d.Fitting || Column < 0 || Column >= fcColumnCount)
        return;
    const bool chosen = Column != fcPercent && NewSize > 0;
    if (chosen)
        d.ChosenWidths[Column] = NewSize;
    if (!View.isVisible()) {
        d.FitPending = true;
        return;
    }
    if (!chosen) {
        // A column was hidden, or fcPercent was given a width of its own: it fills again.
        FitColumns(View, -1, false);
        return;
    }
    // The layout on screen is what the user now arranges: narrowed columns stay so.
    const QHeaderView& columns = *View.header();
    for (int column = 0; column < fcColumnCount; ++column)
        if (column != fcPercent && column != Column && !columns.isSectionHidden(column))
            d.ChosenWidths[column] = columns.sectionSize(column);
    FitColumns(View, Column, true);
}

TVirtualFileTree::TVirtualFileTree(TFileTreeSource& Source, QWidget* Parent)
    : QTreeView(Parent), Impl(std::make_unique<TImpl>(Source)),
      FileModel(new TFileTreeModel(Source, this)) {
    setItemDelegate(new TFileTreeDelegate(Source, this));
    setModel(FileModel);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAllColumnsShowFocus(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setRootIsDecorated(true);
    setSortingEnabled(false);

    QHeaderView* columns = header();
    columns->setVisible(true);
    columns->setSectionsClickable(true);
    columns->setSectionsMovable(true);
    columns->setSortIndicatorShown(true);
    columns->setStretchLastSection(false);
    columns->setMinimumSectionSize(MinimumColumnWidth);
    for (int column = 0; column < fcColumnCount; ++column)
        columns->resizeSection(column, DefaultColumnWidths[column]);
    SetColumnVisible(fcSizeOnDisk, false);
    // Its width is whatever the others leave: a divider to drag would only snap back.
    columns->setSectionResizeMode(fcPercent, QHeaderView::Fixed);
    // The header's own menu shows and hides the columns; the name always stays.
    columns->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(columns, &QHeaderView::customContextMenuRequested, this,
            [this, columns](const QPoint& At) {
                MakeColumnsMenu()->exec(columns->viewport()->mapToGlobal(At));
            });
    connect(columns, &QHeaderView::sectionResized, this, [this](int Column, int, int NewSize) {
        TImpl::SectionResized(*this, Column, NewSize);
    });
    columns->setSortIndicator(FileModel->SortColumn(), FileModel->SortOrder());
    connect(columns, &QHeaderView::sectionClicked, this,
            [this](int Column) { HeaderClick(Column); });

    const auto expansion = [this](const QModelIndex& Index, bool Expanded) {
        if (TFileSystemNode* node = FileModel->NodeOf(Index); node && node->IsGroupNode())
            static_cast<TGroupNode*>(node)->SetExpanded(Expanded);
        if (OnExpansionChanged)
            OnExpansionChanged();
    };
    connect(this, &QTreeView::expanded, this,
            [expansion](const QModelIndex& Index) { expansion(Index, true); });
    connect(this, &QTreeView::collapsed, this,
            [expansion](const QModelIndex& Index) { expansion(Index, false); });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& Current) {
                TFileSystemNode* node = FileModel->NodeOf(Current);
                Impl->ReportedNode = node;
                if (OnChange)
                    OnChange(node);
            });
    // New rows whose node was open before open again, however they were made: a level
    // the user opens brings back the remembered state below it too. Not from inside the
    // insertion: that would nest model changes, and the view may be fetching rows for its
    // layout right then.
    connect(FileModel, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& Parent, int First, int Last) {
                if (FileModel->Style() != dvsTree)
                    return;
                bool pending = false;
                for (int row = First; row <= Last; ++row) {
                    const QModelIndex index = FileModel->index(row, 0, Parent);
                    const TFileSystemNode* node = FileModel->NodeOf(index);
                    if (!node || node->ScanError() != 0)
                        pending = Impl->SpansDirty = true;
                    if (node && node->IsGroupNode() &&
                        static_cast<const TGroupNode*>(node)->IsExpanded()) {
                        Impl->PendingExpansions.emplace_back(index);
                        pending = true;
                    }
                }
                if (pending && !Impl->FlushScheduled) {
                    Impl->FlushScheduled = true;
                    QMetaObject::invokeMethod(
                        this, [this] { TImpl::Flush(*this); }, Qt::QueuedConnection);
                }
            });
    UpdateSpans(*this);
}

TVirtualFileTree::~TVirtualFileTree() = default;

int TVirtualFileTree::GetDirViewStyle() const noexcept {
    return FileModel->Style();
}

void TVirtualFileTree::RebuildRows(int Style, const std::vector<TFileSystemNode*>& FlatNodes) {
    const TFileSystemNode* focused = FocusedNode();
    std::unordered_set<const TFileSystemNode*> selected;
    for (const TFileSystemNode* node : SelectedNodes())
        selected.insert(node);

    FileModel->Rebuild(Style, FlatNodes);
    const bool tree = FileModel->Style() == dvsTree;
    setRootIsDecorated(tree);
    setItemsExpandable(tree);
    if (tree) {
        const QModelIndex top = FileModel->index(0, 0);
        if (FileModel->NodeOf(top)) {
            if (FileModel->canFetchMore(top))
                FileModel->fetchMore(top);
            expand(top);
        }
    }
    TImpl::Flush(*this);
    UpdateSpans(*this);

    QItemSelection selection;
    QModelIndex current;
    std::vector<QModelIndex> parents{QModelIndex()};
    while (!parents.empty()) {
        const QModelIndex parent = parents.back();
        parents.pop_back();
        const int rows = FileModel->rowCount(parent);
        for (int row = 0; row < rows; ++row) {
            const QModelIndex index = FileModel->index(row, 0, parent);
            const TFileSystemNode* node = FileModel->NodeOf(index);
            if (node && selected.contains(node))
                selection.select(index, FileModel->index(row, fcColumnCount - 1, parent));
            if (node && node == focused && !current.isValid())
                current = index;
            if (FileModel->rowCount(index) > 0)
                parents.push_back(index);
        }
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (current.isValid())
        selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    // A reset leaves the current row without a signal: tell the window when it changed.
    TFileSystemNode* now = FocusedNode();
    if (now != Impl->ReportedNode) {
        Impl->ReportedNode = now;
        if (OnChange)
            OnChange(now);
    }
}

void TVirtualFileTree::RefreshRows() {
    Impl->Refreshing = true;
    FileModel->Refresh();
    Impl->Refreshing = false;
    TImpl::Flush(*this);
    UpdateSpans(*this);
    viewport()->update();
}

void TVirtualFileTree::dataChanged(const QModelIndex& TopLeft, const QModelIndex& BottomRight,
                                   const QList<int>& Roles) {
    // A tick changes the shares of every row made, one range per level: QTreeView looks
    // each range up among its rows and asks every row for its size hint, thousands of times
    // over. Rows here are all of one height, so one repaint after the tick does the same.
    if (Impl->Refreshing)
        return;
    QTreeView::dataChanged(TopLeft, BottomRight, Roles);
}

void TVirtualFileTree::HeaderClick(int Column) {
    Qt::SortOrder order = FileModel->SortOrder();
    if (Column == FileModel->SortColumn())
        order = order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    SetSort(Column, order);
}

void TVirtualFileTree::SetSort(int Column, Qt::SortOrder Order) {
    header()->setSortIndicator(Column, Order);
    FileModel->sort(Column, Order);
}

std::vector<TFileSystemNode*> TVirtualFileTree::SelectedNodes() const {
    QModelIndexList rows = selectionModel()->selectedRows(0);
    std::vector<std::pair<std::vector<int>, TFileSystemNode*>> ordered;
    ordered.reserve(std::size_t(rows.size()));
    for (const QModelIndex& index : rows)
        if (TFileSystemNode* node = FileModel->NodeOf(index))
            ordered.emplace_back(RowPath(index), node);
    std::sort(ordered.begin(), ordered.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TFileSystemNode*> nodes;
    nodes.reserve(ordered.size());
    for (const auto& entry : ordered)
        nodes.push_back(entry.second);
    return nodes;
}

QModelIndex TVirtualFileTree::FirstSelectedIndex() const {
    QModelIndex first;
    std::vector<int> firstPath;
    for (const QModelIndex& index : selectionModel()->selectedRows(0)) {
        std::vector<int> path = RowPath(index);
        if (!first.isValid() || path < firstPath) {
            first = index;
            firstPath = std::move(path);
        }
    }
    return first;
}

TFileSystemNode* TVirtualFileTree::FocusedNode() const {
    return FileModel->NodeOf(currentIndex());
}

QModelIndex TVirtualFileTree::NearestVisibleAncestor(const QModelIndex& Index) const {
    std::vector<QModelIndex> ancestors; // the parent first, the top row last
    for (QModelIndex parent = Index.parent(); parent.isValid(); parent = parent.parent())
        ancestors.push_back(parent);
    // From the top down, the first closed ancestor is the lowest one that can be seen.
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it)
        if (!isExpanded(*it))
            return *it;
    return ancestors.empty() ? QModelIndex() : ancestors.front();
}

void TVirtualFileTree::ShowNodeRow(const TFileSystemNode* Node) {
    const QModelIndex index = FileModel->IndexOf(Node);
    if (!index.isValid())
        return;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        if (!isExpanded(parent))
            return;
    const QRect row = visualRect(index);
    viewport()->update(QRect(0, row.top(), viewport()->width(), row.height()));
    scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void TVirtualFileTree::SetColumnVisible(int Column, bool Visible) {
    QHeaderView& columns = *header();
    if (Column <= fcName || Column >= fcColumnCount || columns.isSectionHidden(Column) != Visible)
        return;
    if (!Visible) {
        QVariantMap widths = columns.property(HiddenColumnWidthsProperty).toMap();
        widths.insert(QString::number(Column), columns.sectionSize(Column));
        columns.setProperty(HiddenColumnWidthsProperty, widths);
    }
    columns.setSectionHidden(Column, !Visible);
    if (Visible) {
        const QVariantMap widths = columns.property(HiddenColumnWidthsProperty).toMap();
        const int width =
            widths.value(QString::number(Column), DefaultColumnWidths[Column]).toInt();
        columns.resizeSection(Column, std::max(width, MinimumColumnWidth));
    }
}

std::unique_ptr<QMenu> TVirtualFileTree::MakeColumnsMenu() {
    auto menu = std::make_unique<QMenu>(this);
    for (int column = fcName + 1; column < fcColumnCount; ++column) {
        QAction* action = menu->addAction(ToQString(Tr(ColumnCaptions[column])));
        action->setCheckable(true);
        action->setChecked(!header()->isSectionHidden(column));
        connect(action, &QAction::toggled, this,
                [this, column](bool Checked) { SetColumnVisible(column, Checked); });
    }
    return menu;
}

void TVirtualFileTree::keyboardSearch(const QString& Search) {
    const bool fresh = Search.isEmpty() || !Impl->SearchTimer.isValid() ||
                       Impl->SearchTimer.elapsed() > QApplication::keyboardInputInterval();
    Impl->SearchText = fresh ? Search : Impl->SearchText + Search;
    Impl->SearchTimer.start();
    const QString& typed = Impl->SearchText;
    if (typed.isEmpty() || FileModel->rowCount() == 0)
        return;
    // Pressing one letter again and again walks through the names that start with it.
    const bool sameKey = typed.size() > 1 && typed.count(typed.back()) == typed.size();
    const QString wanted = sameKey ? QString(typed.front()) : typed;

    const QModelIndex first = FileModel->index(0, 0);
    const QModelIndex current = currentIndex();
    const QModelIndex from = current.isValid() ? current.sibling(current.row(), 0) : first;
    QModelIndex index = (fresh || sameKey) && current.isValid() ? indexBelow(from) : from;
    for (int wraps = 0; wraps < 2;) {
        if (!index.isValid()) {
            index = first;
            ++wraps;
        }
        if ((FileModel->flags(index) & Qt::ItemIsSelectable) &&
            FileModel->data(index, Qt::DisplayRole)
                .toString()
                .startsWith(wanted, Qt::CaseInsensitive)) {
            setCurrentIndex(index);
            scrollTo(index);
            return;
        }
        index = indexBelow(index);
        if (index == from)
            return;
    }
}

void TVirtualFileTree::resizeEvent(QResizeEvent* Event) {
    QTreeView::resizeEvent(Event);
    // The first size the grid gets corrects the widths it was given before (saved ones may
    // not fit this window); later sizes only borrow from them.
    const bool first = Event->oldSize().width() < 0;
    TImpl::FitColumns(*this, -1, first || Impl->FitPending);
}

void TVirtualFileTree::showEvent(QShowEvent* Event) {
    QTreeView::showEvent(Event);
    if (Impl->FitPending)
        TImpl::FitColumns(*this, -1, true);
}

} // namespace qv
