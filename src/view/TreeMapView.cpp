#include "view/TreeMapView.h"

#include "tree/TreeTypes.h"
#include "view/QtText.h"
#include "view/SizeFormat.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <unordered_set>
#include <utility>

namespace qv {

namespace {

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Notes how long the enclosing GUI-thread call took, keeping the longest.
class TStopwatch {
public:
    explicit TStopwatch(double& Longest) : Longest(Longest), Start(NowNs()) {}
    ~TStopwatch() { Longest = std::max(Longest, double(NowNs() - Start) / 1e6); }
    TStopwatch(const TStopwatch&) = delete;
    TStopwatch& operator=(const TStopwatch&) = delete;

private:
    double& Longest;
    std::int64_t Start;
};

// Outlining more rectangles than this would cost the paint more than it tells the user:
// the dimmed picture says it already.
constexpr std::size_t MaxHighlightOutlines = 2000;
// How long a resize must rest before the map is drawn again for the new size.
constexpr int ResizeDelay = 150; // ms

} // namespace

TTreeMapView::TTreeMapView(QWidget* Parent) : QWidget(Parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(TrQ("Treemap"));
    setMinimumSize(16, 16);
    ResizeTimer.setSingleShot(true);
    ResizeTimer.setInterval(ResizeDelay);
    connect(&ResizeTimer, &QTimer::timeout, this, [this] { Redraw(); });
    CalmTimer.setInterval(CalmInterval);
    connect(&CalmTimer, &QTimer::timeout, this, [this] {
        if (!Thread->Busy())
            Redraw();
    });
    Thread = std::make_unique<TTreeMapThread>([this](std::shared_ptr<TTreeMapResult> Drawn) {
        // Addressed to the view: a result still queued when it goes dies with it.
        QMetaObject::invokeMethod(
            this, [this, Drawn = std::move(Drawn)]() mutable { Accept(std::move(Drawn)); },
            Qt::QueuedConnection);
    });
}

TTreeMapView::~TTreeMapView() {
    // The worker posts to this object: it goes before anything else does.
    Thread.reset();
}

void TTreeMapView::SetRoot(TGroupNode* Root) {
    Top = Root;
    SetZoom(Root);
}

void TTreeMapView::SetZoom(TGroupNode* Node) {
    Zoom = Node;
    setAccessibleDescription(Zoom == nullptr ? QString() : PathText(Zoom->GetFullPath()));
    Redraw();
    if (OnZoomChanged)
        OnZoomChanged();
}

void TTreeMapView::ZoomIn(TGroupNode* Node) {
    if (Node != nullptr && Node->IsFileGroup())
        Node = Node->Parent();
    if (Node == nullptr || Node == Zoom || Top == nullptr)
        return;
    if (Node != Top && !IsInside(*Node, *Top))
        return;
    SetZoom(Node);
}

void TTreeMapView::ZoomOut() {
    if (CanZoomOut() && Zoom->Parent() != nullptr)
        SetZoom(Zoom->Parent());
}

void TTreeMapView::ZoomRoot() {
    if (Zoom != Top)
        SetZoom(Top);
}

void TTreeMapView::SetLargestFiles(std::vector<TLargeFile> Files) {
    LargestFiles = std::make_shared<const std::vector<TLargeFile>>(std::move(Files));
}

void TTreeMapView::SetTypeColours(std::shared_ptr<const TFileTypeColours> Value) {
    Colours = std::move(Value);
}

void TTreeMapView::SetSelectedNodes(std::vector<const TFileSystemNode*> Nodes) {
    Selected = std::move(Nodes);
    UpdateSelection();
    update();
}

void TTreeMapView::SetHighlightedType(std::string Type) {
    if (Type == HighlightedType)
        return;
    HighlightedType = std::move(Type);
    UpdateHighlight();
    update();
}

void TTreeMapView::Redraw() {
    TStopwatch watch(GuiTimes.Request);
    ResizeTimer.stop();
    if (Zoom == nullptr || width() <= 0 || height() <= 0) {
        Thread->ReleaseNodes();
        Awaited = 0;
        if (Zoom == nullptr) {
            Current.reset();
            Hover = -1;
            UpdateSelection();
            UpdateHighlight();
            update();
        }
        return;
    }
    if (!isVisible()) {
        // A hidden map costs nothing: it is drawn when it shows.
        Thread->ReleaseNodes();
        Awaited = 0;
        Stale = true;
        return;
    }
    Stale = false;
    TTreeMapRequest request;
    request.Root = Zoom;
    request.RootPath = Zoom->GetFullPath();
    request.Width = width();
    request.Height = height();
    request.LargestFiles = LargestFiles;
    request.Colours = Colours;
    request.Ticket = ++NextTicket;
    Awaited = request.Ticket;
    RequestedAt = NowNs();
    Thread->Request(std::move(request));
}

void TTreeMapView::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (Stale)
        Redraw();
}

void TTreeMapView::SetCalmRedraw(bool Value) {
    if (Value == Calm)
        return;
    Calm = Value;
    if (Calm) {
        CalmTimer.start();
    } else {
        CalmTimer.stop();
        Redraw();
    }
}

void TTreeMapView::ReleaseNodes(const TFileSystemNode* Freed) {
    Thread->ReleaseNodes();
    // A result on its way holds nodes from before: it is never shown.
    Awaited = 0;
    ++NextTicket;
    if (Current) {
        Current->Items.clear();
        Current->Items.shrink_to_fit();
        Current->Root = nullptr;
    }
    if (Hover >= 0) {
        Hover = -1;
        if (OnHover)
            OnHover({}, 0);
    }
    SelectionRects.clear();
    HighlightRects.clear();
    update();
    if (Freed != nullptr && Zoom != nullptr && (Freed == Zoom || IsInside(*Zoom, *Freed))) {
        if (Freed == Top) {
            Top = nullptr;
            Zoom = nullptr;
            setAccessibleDescription({});
        } else {
            // The parent stays: what lies inside Freed goes with it, nothing above.
            Zoom = Freed->Parent();
            if (Zoom != nullptr && Zoom->IsFileGroup())
                Zoom = Zoom->Parent();
            setAccessibleDescription(PathText(Zoom->GetFullPath()));
        }
        if (OnZoomChanged)
            OnZoomChanged();
    }
}

void TTreeMapView::Accept(std::shared_ptr<TTreeMapResult> Drawn) {
    TStopwatch watch(GuiTimes.Handover);
    if (Drawn == nullptr || Drawn->Ticket != Awaited)
        return;
    Awaited = 0;
    GuiTimes.LastRequestToResult = double(NowNs() - RequestedAt) / 1e6;
    Current = std::move(Drawn);
    const bool hovered = Hover >= 0;
    Hover = -1;
    UpdateSelection();
    UpdateHighlight();
    update();
    // The mouse may rest over a rectangle that changed.
    const QPoint mouse = mapFromGlobal(QCursor::pos());
    const int index =
        underMouse() && rect().contains(mouse) ? Current->HitTest(mouse.x(), mouse.y()) : -1;
    if (index >= 0)
        SetHover(index);
    else if (hovered && OnHover)
        OnHover({}, 0);
    if (OnDrawn)
        OnDrawn();
}

QRect TTreeMapView::ItemRect(int Index) const {
    const TMapItem& item = Current->Items[std::size_t(Index)];
    return {item.X, item.Y, item.W, item.H};
}

TTreeMapHit TTreeMapView::HitOf(int Index) const {
    const TMapItem& item = Current->Items[std::size_t(Index)];
    TTreeMapHit hit;
    hit.Node = item.Node;
    hit.Size = item.Size;
    hit.Kind = item.Kind;
    if (item.Type < Current->Types.size())
        hit.Type = Current->Types[item.Type];
    if (item.Kind == mkLargeFile && Current->LargestFiles &&
        item.LargeFile < Current->LargestFiles->size())
        hit.Path = (*Current->LargestFiles)[item.LargeFile].Path;
    else if (item.Node != nullptr)
        hit.Path = item.Node->GetFullPath();
    return hit;
}

std::optional<TTreeMapHit> TTreeMapView::HitAt(QPoint Pos) const {
    if (!Current)
        return std::nullopt;
    const int index = Current->HitTest(Pos.x(), Pos.y());
    if (index < 0)
        return std::nullopt;
    return HitOf(index);
}

void TTreeMapView::SetHover(int Index) {
    if (Index == Hover)
        return;
    if (Hover >= 0)
        update(ItemRect(Hover));
    Hover = Index;
    if (Hover >= 0)
        update(ItemRect(Hover));
    if (!OnHover)
        return;
    if (Hover < 0) {
        OnHover({}, 0);
    } else {
        const TTreeMapHit hit = HitOf(Hover);
        OnHover(hit.Path, hit.Size);
    }
}

void TTreeMapView::UpdateSelection() {
    SelectionRects.clear();
    if (!Current || Selected.empty())
        return;
    const std::unordered_set<const TFileSystemNode*> wanted(Selected.begin(), Selected.end());
    for (const TMapItem& item : Current->Items)
        if ((item.Kind == mkDirectory || item.Kind == mkFile) && wanted.contains(item.Node))
            SelectionRects.emplace_back(item.X, item.Y, item.W, item.H);
}

void TTreeMapView::UpdateHighlight() {
    Highlighted = QImage();
    HighlightRects.clear();
    if (!Current || HighlightedType.empty() || Current->Image.isNull())
        return;
    const std::uint32_t type = Current->TypeIndex(HighlightedType);
    // Every other rectangle half as bright and half grey, so that the type's own stand out
    // whatever their colour.
    Highlighted = Current->Image.copy();
    const int width = Highlighted.width();
    for (int y = 0; y < Highlighted.height(); ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(Highlighted.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = line[x];
            const int grey = qGray(pixel);
            line[x] = qRgb((qRed(pixel) + grey) / 4, (qGreen(pixel) + grey) / 4,
                           (qBlue(pixel) + grey) / 4);
        }
    }
    if (type == TMapItem::NoType)
        return;
    for (const TMapItem& item : Current->Items) {
        if (item.Type != type)
            continue;
        for (int y = item.Y; y < item.Y + item.H; ++y)
            std::memcpy(Highlighted.scanLine(y) + std::size_t(item.X) * 4,
                        Current->Image.constScanLine(y) + std::size_t(item.X) * 4,
                        std::size_t(item.W) * 4);
        if (HighlightRects.size() < MaxHighlightOutlines)
            HighlightRects.emplace_back(item.X, item.Y, item.W, item.H);
    }
}

void TTreeMapView::paintEvent(QPaintEvent* Event) {
    TStopwatch watch(GuiTimes.Paint);
    QPainter painter(this);
    const QRect area = Event->rect();
    const QImage& image = !Highlighted.isNull() ? Highlighted : Current ? Current->Image : QImage();
    if (!image.isNull())
        painter.drawImage(area.topLeft(), image, area);
    // What the picture does not cover (a resize waiting for its drawing).
    const QRegion rest = QRegion(area) - QRegion(image.rect());
    for (const QRect& r : rest)
        painter.fillRect(r, palette().window());
    if (!HighlightRects.empty()) {
        painter.setPen(QPen(QColor(255, 255, 255), 1));
        for (const QRect& r : HighlightRects)
            if (r.intersects(area))
                painter.drawRect(r.adjusted(0, 0, -1, -1));
    }
    if (!SelectionRects.empty()) {
        const QColor outline = palette().color(QPalette::Highlight);
        for (const QRect& r : SelectionRects) {
            if (!r.intersects(area))
                continue;
            painter.setPen(QPen(Qt::white, 1));
            painter.drawRect(r.adjusted(0, 0, -1, -1));
            painter.setPen(QPen(outline, 2));
            painter.drawRect(r.adjusted(1, 1, -1, -1));
        }
    }
    if (Hover >= 0 && Current && std::size_t(Hover) < Current->Items.size()) {
        painter.setPen(QPen(QColor(255, 255, 255, 200), 1, Qt::DotLine));
        painter.drawRect(ItemRect(Hover).adjusted(0, 0, -1, -1));
    }
}

void TTreeMapView::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    if (Zoom != nullptr)
        ResizeTimer.start();
}

void TTreeMapView::mouseMoveEvent(QMouseEvent* Event) {
    QWidget::mouseMoveEvent(Event);
    if (!Current)
        return;
    const QPoint pos = Event->position().toPoint();
    SetHover(Current->HitTest(pos.x(), pos.y()));
}

void TTreeMapView::leaveEvent(QEvent* Event) {
    QWidget::leaveEvent(Event);
    SetHover(-1);
}

void TTreeMapView::mousePressEvent(QMouseEvent* Event) {
    QWidget::mousePressEvent(Event);
    if (Event->button() != Qt::LeftButton)
        return;
    if (const std::optional<TTreeMapHit> hit = HitAt(Event->position().toPoint()); hit && OnClicked)
        OnClicked(*hit);
}

void TTreeMapView::mouseDoubleClickEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton || !Current) {
        QWidget::mouseDoubleClickEvent(Event);
        return;
    }
    // A folder zooms in; a file or unlisted files zoom into the innermost folder around them.
    const QPoint pos = Event->position().toPoint();
    int folder = -1;
    const int index = Current->HitTest(pos.x(), pos.y(), &folder);
    if (index < 0)
        return;
    const TMapItem& item = Current->Items[std::size_t(index)];
    TFileSystemNode* target = nullptr;
    if (item.Kind == mkDirectory || item.Kind == mkUnlistedFiles || item.Kind == mkLargeFile)
        target = item.Node;
    else if (folder >= 0)
        target = Current->Items[std::size_t(folder)].Node;
    if (target != nullptr && target->IsGroupNode())
        ZoomIn(static_cast<TGroupNode*>(target));
}

void TTreeMapView::contextMenuEvent(QContextMenuEvent* Event) {
    std::optional<TTreeMapHit> hit = HitAt(Event->pos());
    if (!hit && Event->reason() == QContextMenuEvent::Keyboard && Zoom != nullptr && Current &&
        !Current->Items.empty())
        hit = HitOf(0); // the keyboard's menu is the zoom root's
    if (hit && OnContextMenu) {
        OnContextMenu(*hit, Event->globalPos());
        Event->accept();
    }
}

void TTreeMapView::keyPressEvent(QKeyEvent* Event) {
    switch (Event->key()) {
    case Qt::Key_Backspace:
        ZoomOut();
        return;
    case Qt::Key_Home:
        ZoomRoot();
        return;
    default:
        QWidget::keyPressEvent(Event);
    }
}

bool TTreeMapView::event(QEvent* Event) {
    if (Event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(Event);
        if (const std::optional<TTreeMapHit> hit = HitAt(help->pos())) {
            QToolTip::showText(help->globalPos(),
                               PathText(hit->Path) + QStringLiteral("\n") +
                                   ToQ(FormatSizeRoundDown(hit->Size)),
                               this, ItemRect(Current->HitTest(help->pos().x(), help->pos().y())));
        } else {
            QToolTip::hideText();
            Event->ignore();
        }
        return true;
    }
    return QWidget::event(Event);
}

} // namespace qv
