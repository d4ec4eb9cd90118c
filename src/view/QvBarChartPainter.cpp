#include "view/QvBarChartPainter.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>

// Q_INIT_RESOURCE has to stand outside any namespace. The skins live in a static library,
// so nothing would pull their resource object into the executable without this reference.
static void InitSkinResources() {
    Q_INIT_RESOURCE(skins);
}

namespace qv {

namespace {

// The right edge of R as the bars count it: the first column after R.
int RightEdge(const QRect& R) {
    return R.x() + R.width();
}

QColor SystemColor(QPalette::ColorRole Role) {
    return QGuiApplication::palette().color(Role);
}

// The canvas's font as it renders on the canvas's device, so that a caption measured or
// drawn into a temporary image matches the one drawn on the canvas pixel for pixel.
QFont DeviceFont(const QPainter& Canvas) {
    return Canvas.device() != nullptr ? QFont(Canvas.font(), Canvas.device()) : Canvas.font();
}

// Text in Color on black, as large as the text: the source of the OR and XOR caption blits.
QImage RenderTextImage(const QPainter& Canvas, const QFontMetrics& Metrics, const QColor& Color,
                       const QString& Text) {
    QImage image(Metrics.horizontalAdvance(Text), Metrics.height(), QImage::Format_RGB32);
    if (const QPaintDevice* device = Canvas.device()) {
        image.setDotsPerMeterX(qRound(device->logicalDpiX() / 0.0254));
        image.setDotsPerMeterY(qRound(device->logicalDpiY() / 0.0254));
    }
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setFont(DeviceFont(Canvas));
    painter.setPen(Color);
    painter.drawText(QPoint(0, Metrics.ascent()), Text);
    return image;
}

// A framed bar as the plain painter draws it. Fills and lines ignore the canvas's copy
// mode, as the selected variants XOR only the bitmaps.
void DrawPlainBar(QPainter& Canvas, const QRect& BarRect, const QColor& FrameColor,
                  const QColor& FillColor) {
    if (BarRect.width() <= 0 || BarRect.height() <= 0)
        return;
    Canvas.save();
    Canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (BarRect.width() == 1) {
        Canvas.fillRect(BarRect, FrameColor);
    } else {
        Canvas.fillRect(BarRect, FrameColor);
        const QRect inner = BarRect.adjusted(1, 1, -1, -1);
        if (inner.width() > 0 && inner.height() > 0) {
            Canvas.fillRect(inner, Qt::white);
            const QRect fill = inner.adjusted(1, 1, -1, -1);
            if (fill.width() > 0 && fill.height() > 0)
                Canvas.fillRect(fill, FillColor);
        }
    }
    Canvas.restore();
}

} // namespace

int BarWidth(int Width, double Percent) noexcept {
    if (!(Percent > 0) || Width <= 0) // NaN included
        return 0;
    if (Percent >= 1)
        return Width;
    // nearbyint rounds in the default mode: to nearest, halves to the even neighbour.
    return int(std::nearbyint(double(Width) * Percent));
}

// --- the plain painter ---------------------------------------------------------------------

TQuorvelOneBarChartPainter::TQuorvelOneBarChartPainter()
    : TQuorvelOneBarChartPainter(QColor(226, 194, 95), QColor(246, 224, 123)) {}

TQuorvelOneBarChartPainter::TQuorvelOneBarChartPainter(QColor FrameColor, QColor FillColor)
    : FrameColor(FrameColor), FillColor(FillColor) {}

void TQuorvelOneBarChartPainter::DrawCenteredCaption(QPainter& Canvas, const QRect& Rect,
                                                     const QColor& Color, const QString& Text) {
    if (Text.isEmpty())
        return;
    const QFontMetrics metrics(DeviceFont(Canvas));
    const int width = metrics.horizontalAdvance(Text);
    // An even height keeps the caption on the same pixel row in cells of odd and even height.
    const int height = (metrics.height() + 1) & ~1;
    const int x = Rect.left() + Rect.width() / 2 - width / 2;
    const int y = Rect.top() + Rect.height() / 2 - height / 2;
    Canvas.save();
    Canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    Canvas.setClipRect(Rect, Qt::IntersectClip);
    Canvas.setPen(Color);
    Canvas.drawText(QPoint(x, y + metrics.ascent()), Text);
    Canvas.restore();
}

void TQuorvelOneBarChartPainter::Paint(QPainter& Canvas, const QRect& Rect, double Percent,
                                       const QString& Text) {
    const QRect barRect(Rect.x(), Rect.y(), BarWidth(Rect.width(), Percent), Rect.height());
    DrawPlainBar(Canvas, barRect, FrameColor, FillColor);
    DrawCenteredCaption(Canvas, Rect, Qt::black, Text);
}

void TQuorvelOneBarChartPainter::PaintSelected(QPainter& Canvas, const QRect& Rect, double Percent,
                                               const QString& Text) {
    const QRect barRect(Rect.x(), Rect.y(), BarWidth(Rect.width(), Percent), Rect.height());
    const QColor highlightText = SystemColor(QPalette::HighlightedText);
    if (barRect.width() > 0 && barRect.height() > 0) {
        Canvas.save();
        Canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
        Canvas.fillRect(barRect, highlightText);
        const QRect inner = barRect.adjusted(1, 1, -1, -1);
        if (inner.width() > 0 && inner.height() > 0)
            Canvas.fillRect(inner, Canvas.brush());
        Canvas.restore();
    }
    DrawCenteredCaption(Canvas, Rect, highlightText, Text);
}

// --- the skins -----------------------------------------------------------------------------

QImage TBasicBarChartBitmapPainter::LoadSkin(const char* ResourceName) {
    static std::once_flag initialised;
    std::call_once(initialised, InitSkinResources);
    // The resources are stored under upper-case names, so any case finds them.
    const QImage image(QStringLiteral(":/skins/") + QString::fromLatin1(ResourceName).toUpper());
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    return image.convertToFormat(QImage::Format_RGB32);
}

TBasicBarChartBitmapPainter::TBasicBarChartBitmapPainter(QImage Skin) {
    if (!Skin.isNull() && Skin.width() > 0 && Skin.height() > 0)
        Bitmap = Skin.convertToFormat(QImage::Format_RGB32);
}

QRect TBasicBarChartBitmapPainter::GetBarRect(const QRect& Rect, double Percent) const {
    return {Rect.x(), Rect.y(), BarWidth(Rect.width(), Percent), Rect.height()};
}

void TBasicBarChartBitmapPainter::DrawCaption(QPainter& Canvas, const QRect& Rect,
                                              const QColor& Color, const QString& Text) const {
    if (Text.isEmpty())
        return;
    const QFontMetrics metrics(DeviceFont(Canvas));
    const int x = Rect.left() + (Rect.width() - metrics.horizontalAdvance(Text)) / 2;
    Canvas.save();
    Canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    Canvas.setClipRect(Rect, Qt::IntersectClip);
    Canvas.setPen(Color);
    Canvas.drawText(QPoint(x, Rect.top() + 1 + metrics.ascent()), Text);
    Canvas.restore();
}

void TBasicBarChartBitmapPainter::DrawTwoColourCaption(QPainter& Canvas, const QRect& Rect,
                                                       int BarEdge, const QColor& TextColor,
                                                       const QColor& BarTextColor,
                                                       const QString& Text) const {
    if (TextColor == BarTextColor) {
        DrawCaption(Canvas, Rect, BarTextColor, Text);
        return;
    }
    DrawCaption(Canvas, Rect, TextColor, Text);
    if (Text.isEmpty())
        return;
    const QFontMetrics metrics(DeviceFont(Canvas));
    const int width = metrics.horizontalAdvance(Text);
    const int height = metrics.height();
    const int left = Rect.left() + (Rect.width() - width) / 2;
    if (left >= BarEdge || width <= 0 || height <= 0)
        return;
    // The letters over the bar are black from the caption above; OR-ing the caption in
    // BarTextColor onto them turns exactly those letters into BarTextColor, and the black
    // background of the text image leaves the bar itself untouched.
    const QImage text = RenderTextImage(Canvas, metrics, BarTextColor, Text);
    const int top = Rect.top() + (Rect.height() - height) / 2;
    Canvas.save();
    Canvas.setClipRect(Rect, Qt::IntersectClip);
    Canvas.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
    Canvas.drawImage(QPoint(left, top), text, QRect(0, 0, std::min(BarEdge - left, width), height));
    Canvas.restore();
}

void TBasicBarChartBitmapPainter::PaintFallbackBar(QPainter& Canvas, const QRect& BarRect) {
    DrawPlainBar(Canvas, BarRect, QColor(160, 160, 160), QColor(215, 215, 215));
}

void TBasicBarChartBitmapPainter::PaintSelected(QPainter& Canvas, const QRect& Rect, double Percent,
                                                const QString& Text) {
    const QRect barRect = GetBarRect(Rect, Percent);
    Canvas.save();
    Canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    Canvas.fillRect(barRect, Qt::white);
    Canvas.restore();
    // XOR onto white draws the skin inverted.
    Canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    Paint(Canvas, Rect, Percent, Text);
    Canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (SelectedCaption())
        DrawCaption(Canvas, Rect, SystemColor(QPalette::HighlightedText), Text);
}

TBarChartRepeatBitmapPainter::TBarChartRepeatBitmapPainter(QImage Skin)
    : TBasicBarChartBitmapPainter(std::move(Skin)), BarTextColor(SystemColor(QPalette::WindowText)),
      TextColor(BarTextColor) {}

void TBarChartRepeatBitmapPainter::Paint(QPainter& Canvas, const QRect& Rect, double Percent,
                                         const QString& Text) {
    const QRect barRect = GetBarRect(Rect, Percent);
    if (!IsSkinLoaded()) {
        PaintFallbackBar(Canvas, barRect);
    } else if (barRect.width() > 0 && barRect.height() > 0) {
        QImage tiles(barRect.width(), Bitmap.height(), QImage::Format_RGB32);
        {
            QPainter painter(&tiles);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            for (int x = 0; x < tiles.width(); x += Bitmap.width()) // width > 0 when loaded
                painter.drawImage(x, 0, Bitmap);
        }
        Canvas.drawImage(barRect, tiles);
    }
    DrawTwoColourCaption(Canvas, Rect, RightEdge(barRect), TextColor, BarTextColor, Text);
}

TBarChartStretchBitmapPainter::TBarChartStretchBitmapPainter(QImage Skin)
    : TBasicBarChartBitmapPainter(std::move(Skin)), BarTextColor(SystemColor(QPalette::WindowText)),
      TextColor(BarTextColor) {
    // Two columns per cap and at least one in the middle, else the plain stand-in bar.
    if (Bitmap.width() < 5) {
        Bitmap = QImage();
        return;
    }
    const int w = Bitmap.width();
    const int h = Bitmap.height();
    LeftCap = Bitmap.copy(0, 0, 2, h);
    RightCap = Bitmap.copy(w - 2, 0, 2, h);
    Bitmap = Bitmap.copy(2, 0, w - 4, h);
}

void TBarChartStretchBitmapPainter::Paint(QPainter& Canvas, const QRect& Rect, double Percent,
                                          const QString& Text) {
    const QRect barRect = GetBarRect(Rect, Percent);
    if (!IsSkinLoaded()) {
        PaintFallbackBar(Canvas, barRect);
    } else if (barRect.width() > 0 && barRect.height() > 0) {
        QRect middle = barRect;
        const bool caps = barRect.width() >= LeftCap.width() + RightCap.width();
        // The caps follow the bar's height like the middle, so that a cell of another
        // height than the skin still gets round ends and nothing spills out of the cell.
        if (caps) {
            Canvas.drawImage(QRect(barRect.x(), barRect.y(), LeftCap.width(), barRect.height()),
                             LeftCap);
            middle.setLeft(middle.left() + LeftCap.width());
            middle.setWidth(middle.width() - RightCap.width());
        }
        if (middle.width() > 0)
            Canvas.drawImage(middle, Bitmap);
        if (caps)
            Canvas.drawImage(
                QRect(RightEdge(middle), barRect.y(), RightCap.width(), barRect.height()),
                RightCap);
    }
    // The colour switches where the bar ends, caps or not.
    DrawTwoColourCaption(Canvas, Rect, RightEdge(barRect), TextColor, BarTextColor, Text);
}

TBarChartClippingBitmapPainter::TBarChartClippingBitmapPainter(QImage Skin)
    : TBasicBarChartBitmapPainter(std::move(Skin)), TextColor(SystemColor(QPalette::WindowText)) {}

void TBarChartClippingBitmapPainter::Paint(QPainter& Canvas, const QRect& Rect, double Percent,
                                           const QString& Text) {
    const QRect barRect = GetBarRect(Rect, Percent);
    if (!IsSkinLoaded()) {
        PaintFallbackBar(Canvas, barRect);
    } else if (barRect.width() > 0 && barRect.height() > 0) {
        // The bar shows as much of the skin as the share: a short bar is red, a full one
        // runs through the whole spectrum.
        const double share = std::clamp(Percent, 0.0, 1.0);
        const int sourceWidth = int(std::trunc(Bitmap.width() * share));
        if (sourceWidth > 0)
            Canvas.drawImage(barRect, Bitmap, QRect(0, 0, sourceWidth, Bitmap.height()));
    }
    if (Text.isEmpty())
        return;
    // XOR with TextColor ^ white: white turns into TextColor, the bar into its inverse mix.
    const QFontMetrics metrics(DeviceFont(Canvas));
    const QColor color(QRgb(TextColor.rgb() ^ 0x00FFFFFFu));
    const QImage text = RenderTextImage(Canvas, metrics, color, Text);
    Canvas.save();
    Canvas.setClipRect(Rect, Qt::IntersectClip);
    Canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    Canvas.drawImage(QPoint(Rect.left() + (Rect.width() - text.width()) / 2,
                            Rect.top() + (Rect.height() - text.height()) / 2),
                     text);
    Canvas.restore();
}

TSkinCairoHelix::TSkinCairoHelix() : TSkinCairoHelix(LoadSkin(ResourceName)) {}

TSkinCairoHelix::TSkinCairoHelix(QImage Skin) : TBarChartRepeatBitmapPainter(std::move(Skin)) {
    BarTextColor = Qt::white;
}

TSkinCrystal::TSkinCrystal() : TBarChartStretchBitmapPainter(LoadSkin(ResourceName)) {}

TSkinChromeRed::TSkinChromeRed() : TBarChartStretchBitmapPainter(LoadSkin(ResourceName)) {
    BarTextColor = Qt::white;
}

TSkinBlackIce::TSkinBlackIce() : TBarChartStretchBitmapPainter(LoadSkin(ResourceName)) {
    BarTextColor = Qt::white;
}

TSkinTrueBlue::TSkinTrueBlue() : TBarChartStretchBitmapPainter(LoadSkin(ResourceName)) {
    BarTextColor = Qt::white;
}

TSkinBronceAge::TSkinBronceAge() : TBarChartStretchBitmapPainter(LoadSkin(ResourceName)) {
    BarTextColor = Qt::white;
}

TSkinCenterCourt::TSkinCenterCourt() : TBarChartStretchBitmapPainter(LoadSkin(ResourceName)) {
    BarTextColor = QColor(46, 92, 0);
}

TSkinSpectrum::TSkinSpectrum() : TBarChartClippingBitmapPainter(LoadSkin(ResourceName)) {}

void TSkinSpectrum::Paint(QPainter& Canvas, const QRect& Rect, double Percent,
                          const QString& Text) {
    TBarChartClippingBitmapPainter::Paint(Canvas, Rect, Percent, Text);
    const QRect barRect = GetBarRect(Rect, Percent);
    if (barRect.width() <= 0 || barRect.height() <= 0)
        return;
    Canvas.save();
    Canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const int x = barRect.x();
    const int y = barRect.y();
    const int w = barRect.width();
    const int h = barRect.height();
    Canvas.fillRect(x, y, w, 1, Qt::black);
    Canvas.fillRect(x, y + h - 1, w, 1, Qt::black);
    Canvas.fillRect(x, y, 1, h, Qt::black);
    Canvas.fillRect(x + w - 1, y, 1, h, Qt::black);
    Canvas.restore();
}

// --- the factory ---------------------------------------------------------------------------

namespace {

using TPainterFactory = std::function<std::unique_ptr<TQvBarChartPainter>()>;

template <class T> TPainterFactory Factory() {
    return [] { return std::make_unique<T>(); };
}

const std::map<const TBarChartPainterClass*, TPainterFactory>& PainterFactories() {
    static const std::map<const TBarChartPainterClass*, TPainterFactory> factories{
        {&TQuorvelOneBarChartPainterClass, Factory<TQuorvelOneBarChartPainter>()},
        {&TSkinCairoHelixClass, Factory<TSkinCairoHelix>()},
        {&TSkinCrystalClass, Factory<TSkinCrystal>()},
        {&TSkinChromeRedClass, Factory<TSkinChromeRed>()},
        {&TSkinBlackIceClass, Factory<TSkinBlackIce>()},
        {&TSkinTrueBlueClass, Factory<TSkinTrueBlue>()},
        {&TSkinBronceAgeClass, Factory<TSkinBronceAge>()},
        {&TSkinCenterCourtClass, Factory<TSkinCenterCourt>()},
        {&TSkinSpectrumClass, Factory<TSkinSpectrum>()},
        {&TDefaultBarChartPainterClass, Factory<TDefaultBarChartPainter>()},
    };
    return factories;
}

} // namespace

std::unique_ptr<TQvBarChartPainter> CreatePainter(const TBarChartPainterClass* PainterClass) {
    const auto& factories = PainterFactories();
    const auto found = factories.find(PainterClass);
    if (found == factories.end())
        return std::make_unique<TDefaultBarChartPainter>();
    return found->second();
}

} // namespace qv
