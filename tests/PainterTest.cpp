// The bar painters drawn into images and checked pixel by pixel: bar lengths, end caps,
// the two-colour and the inverting captions, the selected variants, the plain painter's
// frames, the fallback of a missing skin, and the factory behind the registry. One test
// also writes the gallery of all styles (painter-gallery.png in the build folder) for a
// person to look at.

#include "settings/BarChartPainterRegistry.h"
#include "view/QvBarChartPainter.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace qv {
namespace {

constexpr QRgb White = 0xFFFFFFFFu;
constexpr QRgb Black = 0xFF000000u;
const QRgb Selection = QColor(Qt::darkBlue).rgb();
constexpr int CellHeight = 16;
// The row through the middle of the caption's glyphs.
constexpr int CaptionRow = 8;
// Full blocks: solid rectangles of glyph pixels, so that caption colours can be read at
// single pixels without anti-aliased edges in the way.
const QString Blocks = QString(12, QChar(0x2588));

QFont TestFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    return font;
}

// One cell drawn on white (on the selection colour when Selected); the canvas's brush is
// the selection colour, as in the grid.
QImage Draw(TQvBarChartPainter& BarPainter, int Width, double Percent, const QString& Text = {},
            bool Selected = false) {
    QImage image(Width, CellHeight, QImage::Format_RGB32);
    image.fill(Selected ? Selection : White);
    QPainter canvas(&image);
    canvas.setFont(TestFont());
    canvas.setBrush(QColor(Selection));
    const QRect cell(0, 0, Width, CellHeight);
    if (Selected)
        BarPainter.PaintSelected(canvas, cell, Percent, Text);
    else
        BarPainter.Paint(canvas, cell, Percent, Text);
    canvas.end();
    return image;
}

bool ColumnIsWhite(const QImage& Image, int X) {
    for (int y = 0; y < Image.height(); ++y)
        if (Image.pixel(X, y) != White)
            return false;
    return true;
}

// The number of leading columns that carry paint; -1 when a later column is not white.
int PaintedWidth(const QImage& Image) {
    int width = 0;
    while (width < Image.width() && !ColumnIsWhite(Image, width))
        ++width;
    for (int x = width; x < Image.width(); ++x)
        if (!ColumnIsWhite(Image, x))
            return -1;
    return width;
}

QRgb Inverted(QRgb Pixel) {
    return Pixel ^ 0x00FFFFFFu;
}

QImage Skin(const char* ResourceName) {
    return TBasicBarChartBitmapPainter::LoadSkin(ResourceName);
}

std::vector<const TBarChartPainterClass*> RegisteredClasses() {
    std::vector<const TBarChartPainterClass*> classes;
    for (int i = 0; i < BarChartPainterRegistry().Count(); ++i)
        classes.push_back(BarChartPainterRegistry().Items(i));
    return classes;
}

// Stretch and repeat painters over a skin of the test's choice.
class TTestStretchPainter : public TBarChartStretchBitmapPainter {
public:
    explicit TTestStretchPainter(QImage Skin) : TBarChartStretchBitmapPainter(std::move(Skin)) {
        BarTextColor = Qt::white;
    }
    const TBarChartPainterClass& GetClass() const noexcept override { return TSkinChromeRedClass; }
    const char* GetResourceName() const noexcept override { return "RES_TEST"; }
};

class TTestRepeatPainter : public TSkinCairoHelix {
public:
    explicit TTestRepeatPainter(QImage Skin) : TSkinCairoHelix(std::move(Skin)) {}
};

// The columns of the caption: where the drawing with text differs from the one without.
std::pair<int, int> CaptionSpan(const QImage& With, const QImage& Without) {
    int first = -1;
    int last = -1;
    for (int x = 0; x < With.width(); ++x)
        if (With.pixel(x, CaptionRow) != Without.pixel(x, CaptionRow)) {
            if (first < 0)
                first = x;
            last = x;
        }
    return {first, last};
}

// The columns of [From, To) in which the block caption of Painter covers CaptionRow fully
// (block glyphs leave an anti-aliased seam where two meet): there it is pure black on a
// white cell without a bar.
std::vector<int> FullCaptionColumns(TQvBarChartPainter& Painter, int Width, int From, int To) {
    const QImage noBar = Draw(Painter, Width, 0.0, Blocks);
    std::vector<int> columns;
    for (int x = From; x < To; ++x)
        if (noBar.pixel(x, CaptionRow) == Black)
            columns.push_back(x);
    return columns;
}

// --- bars ----------------------------------------------------------------------------------

TEST(PainterTest, EveryStyleDrawsTheLengthRoundedHalfToEven) {
    const struct {
        int Width;
        double Percent;
        int Expected;
    } cases[] = {{5, 0.5, 2},     {7, 0.5, 4},      {9, 0.5, 4},     {11, 0.5, 6},
                 {1, 0.5, 0},     {3, 0.5, 2},      {10, 0.25, 2},   {14, 0.25, 4},
                 {6, 0.75, 4},    {10, 0.75, 8},    {20, 0.125, 2},  {28, 0.125, 4},
                 {200, 1.0, 200}, {200, 0.0, 0},    {100, 0.01, 1},  {100, 0.015, 2},
                 {100, 0.025, 2}, {100, 0.334, 33}, {100, 0.336, 34}};
    for (const auto& c : cases)
        EXPECT_EQ(BarWidth(c.Width, c.Percent), c.Expected) << c.Width << " " << c.Percent;
    for (const TBarChartPainterClass* cls : RegisteredClasses()) {
        auto painter = CreatePainter(cls);
        for (const auto& c : cases)
            EXPECT_EQ(PaintedWidth(Draw(*painter, c.Width, c.Percent)), c.Expected)
                << cls->Name << " width " << c.Width << " percent " << c.Percent;
    }
}

TEST(PainterTest, StretchCapsFrameTheStretchedMiddleOfBarsFromFourPixels) {
    // Red caps, a green middle and blue caps on the right: 2 + 4 + 2 columns.
    const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255);
    QImage skin(8, CellHeight, QImage::Format_RGB32);
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < CellHeight; ++y)
            skin.setPixel(x, y, x < 2 ? red : x < 6 ? green : blue);
    TTestStretchPainter painter(skin);
    const QImage bar = Draw(painter, 10, 1.0);
    for (int x = 0; x < 10; ++x)
        for (int y = 0; y < CellHeight; ++y)
            ASSERT_EQ(bar.pixel(x, y), x < 2 ? red : x < 8 ? green : blue) << x << "," << y;
    // Four pixels are all caps; narrower bars have none.
    const QImage four = Draw(painter, 4, 1.0);
    EXPECT_EQ(four.pixel(1, 5), red);
    EXPECT_EQ(four.pixel(2, 5), blue);
    for (int width = 1; width <= 3; ++width) {
        const QImage narrow = Draw(painter, 10, width / 10.0);
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(narrow.pixel(x, 7), green) << width << " " << x;
        EXPECT_EQ(narrow.pixel(width, 7), White);
    }
}

TEST(PainterTest, SkinsLoadAtTheirSizesAndFullBarsShowThem) {
    EXPECT_EQ(Skin("res_skin_crystal").size(), QSize(128, 16)); // without regard to case
    EXPECT_TRUE(Skin("RES_SKIN_Nowhere").isNull());
    const struct {
        const TBarChartPainterClass* Class;
        const char* Resource;
        int Width;
    } stretch[] = {{&TSkinCrystalClass, TSkinCrystal::ResourceName, 128},
                   {&TSkinChromeRedClass, TSkinChromeRed::ResourceName, 32},
                   {&TSkinBlackIceClass, TSkinBlackIce::ResourceName, 32},
                   {&TSkinTrueBlueClass, TSkinTrueBlue::ResourceName, 32},
                   {&TSkinBronceAgeClass, TSkinBronceAge::ResourceName, 32},
                   {&TSkinCenterCourtClass, TSkinCenterCourt::ResourceName, 32}};
    for (const auto& s : stretch) {
        SCOPED_TRACE(s.Resource);
        const QImage skin = Skin(s.Resource);
        ASSERT_EQ(skin.size(), QSize(s.Width, CellHeight));
        const int w = skin.width();
        auto painter = CreatePainter(s.Class);
        const QImage bar = Draw(*painter, 300, 1.0);
        for (int y = 0; y < CellHeight; ++y) {
            EXPECT_EQ(bar.pixel(0, y), skin.pixel(0, y)) << y;
            EXPECT_EQ(bar.pixel(1, y), skin.pixel(1, y)) << y;
            EXPECT_EQ(bar.pixel(150, y), skin.pixel(w / 2, y)) << y;
            EXPECT_EQ(bar.pixel(298, y), skin.pixel(w - 2, y)) << y;
            EXPECT_EQ(bar.pixel(299, y), skin.pixel(w - 1, y)) << y;
        }
        // The caps differ from the middle, else the checks above would prove nothing.
        EXPECT_NE(skin.pixel(0, 8), skin.pixel(w / 2, 8));
    }

    // The repeat family tiles its skin.
    const QImage helixSkin = Skin(TSkinCairoHelix::ResourceName);
    ASSERT_EQ(helixSkin.size(), QSize(32, 16));
    TSkinCairoHelix helix;
    const QImage bar = Draw(helix, 100, 1.0);
    for (int x = 0; x < 100; ++x)
        for (int y = 0; y < CellHeight; ++y)
            ASSERT_EQ(bar.pixel(x, y), helixSkin.pixel(x % 32, y)) << x << "," << y;
}

TEST(PainterTest, MissingOrEmptySkinDrawsAPlainBar) {
    TTestStretchPainter missing{QImage()};
    TTestRepeatPainter zeroWidth{QImage(0, 16, QImage::Format_RGB32)};
    TTestStretchPainter tooNarrow{QImage(4, 16, QImage::Format_RGB32)};
    for (TBasicBarChartBitmapPainter* painter :
         std::initializer_list<TBasicBarChartBitmapPainter*>{&missing, &zeroWidth, &tooNarrow}) {
        EXPECT_FALSE(painter->IsSkinLoaded());
        const QImage bar = Draw(*painter, 50, 0.5, QStringLiteral("50 %"));
        EXPECT_NE(bar.pixel(0, 0), White);
        EXPECT_NE(bar.pixel(24, 0), White);
        EXPECT_EQ(bar.pixel(25, 0), White);
        const QImage selected = Draw(*painter, 50, 0.5, QStringLiteral("50 %"), true);
        EXPECT_NE(selected.pixel(0, 0), Selection);
    }
}

// --- captions ------------------------------------------------------------------------------

TEST(PainterTest, TwoColourCaptionSwitchesExactlyAtTheBarEdge) {
    TSkinChromeRed painter;
    const int width = 200;
    const auto columns = FullCaptionColumns(painter, width, 0, width);
    ASSERT_GT(columns.size(), 60u);
    std::vector<bool> full(width);
    for (const int x : columns)
        full[x] = true;
    int edgesChecked = 0;
    for (int edge = 60; edge < 140; ++edge) {
        if (!full[edge - 1] || !full[edge])
            continue;
        ++edgesChecked;
        const QImage bar = Draw(painter, width, edge / double(width), Blocks);
        for (const int x : columns)
            ASSERT_EQ(bar.pixel(x, CaptionRow), x < edge ? White : Black)
                << "edge " << edge << " x " << x;
    }
    EXPECT_GT(edgesChecked, 40);

    // Other styles' colours over the bar; beside it the caption is window text.
    const struct {
        const TBarChartPainterClass* Class;
        QRgb OverBar;
    } styles[] = {{&TSkinCenterCourtClass, qRgb(46, 92, 0)}, {&TSkinCrystalClass, Black}};
    for (const auto& s : styles) {
        SCOPED_TRACE(s.Class->Name);
        auto style = CreatePainter(s.Class);
        const QImage bar = Draw(*style, 200, 0.5, Blocks);
        const auto over = FullCaptionColumns(*style, 200, 80, 100);
        const auto beside = FullCaptionColumns(*style, 200, 100, 120);
        ASSERT_GT(over.size(), 10u);
        ASSERT_GT(beside.size(), 10u);
        for (const int x : over)
            EXPECT_EQ(bar.pixel(x, CaptionRow), s.OverBar) << x;
        for (const int x : beside)
            EXPECT_EQ(bar.pixel(x, CaptionRow), Black) << x;
    }
}

TEST(PainterTest, CaptionLeavesTheBarBetweenItsLettersAlone) {
    // Only the letters change colour: the background of the OR-ed text image and the space
    // between the letters must not touch the bar.
    const QString text = QStringLiteral("50 % i");
    for (const TBarChartPainterClass* cls : {&TSkinChromeRedClass, &TSkinCairoHelixClass,
                                             &TSkinCenterCourtClass, &TSkinSpectrumClass}) {
        auto painter = CreatePainter(cls);
        const QImage onWhite = Draw(*painter, 120, 0.0, text);
        const QImage bar = Draw(*painter, 120, 1.0, text);
        const QImage plain = Draw(*painter, 120, 1.0);
        int untouched = 0;
        for (int x = 0; x < 120; ++x)
            for (int y = 0; y < CellHeight; ++y)
                if (onWhite.pixel(x, y) == White) {
                    ASSERT_EQ(bar.pixel(x, y), plain.pixel(x, y))
                        << cls->Name << " " << x << "," << y;
                    ++untouched;
                }
        EXPECT_GT(untouched, 100 * CellHeight) << cls->Name;
        EXPECT_NE(bar, plain) << cls->Name;
    }
}

TEST(PainterTest, EmptyBarStillShowsTheCaptionInEveryStyle) {
    for (const TBarChartPainterClass* cls : RegisteredClasses()) {
        auto painter = CreatePainter(cls);
        const QImage bar = Draw(*painter, 120, 0.0, QStringLiteral("12.5 %"));
        int dark = 0;
        for (int x = 0; x < bar.width(); ++x)
            for (int y = 0; y < bar.height(); ++y)
                dark += qGray(bar.pixel(x, y)) < 64 ? 1 : 0;
        EXPECT_GT(dark, 10) << cls->Name;
        // Nothing but the caption: the left quarter of the cell stays white.
        for (int x = 0; x < 20; ++x)
            EXPECT_TRUE(ColumnIsWhite(bar, x)) << cls->Name << " " << x;
    }
}

// --- Spectrum and the plain painter --------------------------------------------------------

TEST(PainterTest, SpectrumClipsItsSkinInABlackFrameAndInvertsTheCaptionOverIt) {
    const QImage skin = Skin(TSkinSpectrum::ResourceName);
    ASSERT_EQ(skin.size(), QSize(320, 16));
    TSkinSpectrum painter;
    for (const double percent : {0.25, 0.5, 1.0}) {
        const QImage bar = Draw(painter, 320, percent);
        const int length = BarWidth(320, percent);
        for (int x = 0; x < 320; ++x)
            for (int y = 0; y < CellHeight; ++y) {
                QRgb expected = skin.pixel(x, y);
                if (x >= length)
                    expected = White;
                else if (x == 0 || x == length - 1 || y == 0 || y == CellHeight - 1)
                    expected = Black;
                ASSERT_EQ(bar.pixel(x, y), expected) << percent << " " << x << "," << y;
            }
    }
    // A short bar is red: the skin is cut, not squeezed.
    const QRgb inside = Draw(painter, 320, 0.1).pixel(16, 8);
    EXPECT_GT(qRed(inside), 150);
    EXPECT_LT(qBlue(inside), 150);

    // Over the bar the caption shows the skin XOR white; over the white cell, window text.
    const QImage bar = Draw(painter, 320, 0.5, Blocks);
    const auto [first, last] = CaptionSpan(bar, Draw(painter, 320, 0.5));
    ASSERT_LT(first, 155);
    ASSERT_GT(last, 165);
    EXPECT_EQ(bar.pixel(157, CaptionRow), Inverted(skin.pixel(157, CaptionRow)));
    EXPECT_EQ(bar.pixel(158, CaptionRow), Inverted(skin.pixel(158, CaptionRow)));
    EXPECT_EQ(bar.pixel(160, CaptionRow), Black);
    EXPECT_EQ(bar.pixel(162, CaptionRow), Black);

    // Selected: the skin inverted, its black frame kept.
    const QImage selected = Draw(painter, 320, 0.5, {}, true);
    EXPECT_EQ(selected.pixel(0, 8), Black);
    EXPECT_EQ(selected.pixel(159, 8), Black);
    EXPECT_EQ(selected.pixel(80, 0), Black);
    EXPECT_EQ(selected.pixel(80, 8), Inverted(skin.pixel(80, 8)));
    EXPECT_EQ(selected.pixel(160, 8), Selection);
}

TEST(PainterTest, PlainPainterFramesTheBarAndCentresABlackCaption) {
    TQuorvelOneBarChartPainter painter;
    const QRgb frame = qRgb(226, 194, 95);
    const QRgb fill = qRgb(246, 224, 123);
    const QImage bar = Draw(painter, 40, 0.5);
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < CellHeight; ++y) {
            QRgb expected = fill;
            if (x >= 20)
                expected = White;
            else if (x == 0 || x == 19 || y == 0 || y == CellHeight - 1)
                expected = frame;
            else if (x == 1 || x == 18 || y == 1 || y == CellHeight - 2)
                expected = White; // the inner frame
            ASSERT_EQ(bar.pixel(x, y), expected) << x << "," << y;
        }

    // Selected, the frame is outlined in the highlight text and filled with the brush.
    const QRgb highlightText = QGuiApplication::palette().color(QPalette::HighlightedText).rgb();
    const QImage selected = Draw(painter, 40, 0.5, {}, true);
    EXPECT_EQ(selected.pixel(0, 5), highlightText);
    EXPECT_EQ(selected.pixel(19, 5), highlightText);
    EXPECT_EQ(selected.pixel(10, 0), highlightText);
    EXPECT_EQ(selected.pixel(10, 5), Selection);
    EXPECT_EQ(selected.pixel(20, 5), Selection);

    // A one-pixel bar is a line of the frame colour.
    TQuorvelOneBarChartPainter grey(QColor(215, 215, 215), QColor(247, 247, 247));
    const QImage line = Draw(grey, 100, 0.01);
    for (int y = 0; y < CellHeight; ++y) {
        EXPECT_EQ(line.pixel(0, y), qRgb(215, 215, 215)) << y;
        EXPECT_EQ(line.pixel(1, y), White) << y;
    }

    // Percent 0: no bar, and still the caption, centred in the cell.
    const QString text = QString(4, QChar(0x2588));
    const int textWidth = QFontMetrics(TestFont()).horizontalAdvance(text);
    const QImage captioned = Draw(painter, 100, 0.0, text);
    const QImage empty = Draw(painter, 100, 0.0);
    EXPECT_EQ(PaintedWidth(empty), 0);
    const auto [first, last] = CaptionSpan(captioned, empty);
    ASSERT_GE(first, 0);
    EXPECT_NEAR(first, 50 - textWidth / 2, 1);
    EXPECT_NEAR(last + 1, 50 - textWidth / 2 + textWidth, 1);
    EXPECT_EQ(captioned.pixel((first + last) / 2, CaptionRow), Black);
}

TEST(PainterTest, SelectedSkinsAreInvertedWithCaptionsInTheHighlightText) {
    const QImage red = Skin(TSkinChromeRed::ResourceName);
    TSkinChromeRed chrome;
    const QImage normal = Draw(chrome, 64, 0.5);
    const QImage selected = Draw(chrome, 64, 0.5, {}, true);
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < CellHeight; ++y)
            ASSERT_EQ(selected.pixel(x, y), x < 32 ? Inverted(normal.pixel(x, y)) : Selection)
                << x << "," << y;
    EXPECT_EQ(selected.pixel(0, 8), Inverted(red.pixel(0, 8)));

    TSkinCairoHelix helix;
    const QImage helixNormal = Draw(helix, 40, 1.0);
    const QImage helixSelected = Draw(helix, 40, 1.0, {}, true);
    for (int x = 0; x < 40; ++x)
        ASSERT_EQ(helixSelected.pixel(x, 5), Inverted(helixNormal.pixel(x, 5))) << x;

    const QRgb highlightText = QGuiApplication::palette().color(QPalette::HighlightedText).rgb();
    ASSERT_NE(highlightText, Black);
    TQuorvelOneBarChartPainter plain;
    TSkinTrueBlue blue;
    TSkinSpectrum spectrum;
    for (TQvBarChartPainter* painter :
         std::initializer_list<TQvBarChartPainter*>{&plain, &blue, &spectrum}) {
        const auto columns = FullCaptionColumns(*painter, 200, 50, 150);
        ASSERT_GT(columns.size(), 40u) << painter->GetName();
        const QImage bar = Draw(*painter, 200, 0.3, Blocks, true);
        for (const int x : columns)
            EXPECT_EQ(bar.pixel(x, CaptionRow), highlightText) << painter->GetName() << " " << x;
    }
}

// --- the factory and the registry ----------------------------------------------------------

TEST(PainterTest, FactoryMakesEveryRegisteredStyleAndTheDefaultForTheRest) {
    for (const TBarChartPainterClass* cls : RegisteredClasses()) {
        auto painter = CreatePainter(cls);
        ASSERT_NE(painter, nullptr);
        EXPECT_EQ(&painter->GetClass(), cls);
        EXPECT_EQ(painter->GetName(), cls->Name);
        if (auto* skin = dynamic_cast<TBasicBarChartBitmapPainter*>(painter.get())) {
            EXPECT_TRUE(skin->IsSkinLoaded()) << cls->Name;
        }
    }

    // The unregistered default looks like Cairo Helix.
    const TBarChartPainterClass unknown{"TSkinNowhere", "Nowhere"};
    TSkinCairoHelix helix;
    const QImage expected = Draw(helix, 120, 0.66, QStringLiteral("66 %"));
    for (const TBarChartPainterClass* cls : {static_cast<const TBarChartPainterClass*>(nullptr),
                                             &TDefaultBarChartPainterClass, &unknown}) {
        auto painter = CreatePainter(cls);
        EXPECT_EQ(&painter->GetClass(), &TDefaultBarChartPainterClass);
        EXPECT_EQ(painter->GetName(), "Cairo Helix");
        EXPECT_EQ(Draw(*painter, 120, 0.66, QStringLiteral("66 %")), expected);
    }
}

// --- the gallery ---------------------------------------------------------------------------

TEST(PainterTest, Gallery) {
    const double percents[] = {0.0, 0.01, 0.33, 0.5, 0.99, 1.0};
    const int cellWidth = 120, nameWidth = 110, rowHeight = CellHeight + 4;
    const auto classes = RegisteredClasses();
    // The cell of a style's row, the selected ones right of the normal ones.
    const auto cell = [&](std::size_t Row, int Selected, int I) {
        return QRect(nameWidth + (Selected * 6 + I) * (cellWidth + 4), 24 + int(Row) * rowHeight,
                     cellWidth, CellHeight);
    };
    QImage gallery(nameWidth + 12 * (cellWidth + 4) + 10, 30 + int(classes.size()) * rowHeight,
                   QImage::Format_RGB32);
    gallery.fill(Qt::white);
    QPainter canvas(&gallery);
    canvas.setFont(TestFont());
    const QColor highlight = QGuiApplication::palette().color(QPalette::Highlight);
    canvas.setPen(Qt::black);
    canvas.drawText(QPoint(nameWidth, 14), QStringLiteral("normal"));
    canvas.drawText(QPoint(cell(0, 1, 0).left(), 14), QStringLiteral("selected"));
    for (std::size_t row = 0; row < classes.size(); ++row) {
        auto painter = CreatePainter(classes[row]);
        canvas.setPen(Qt::black);
        canvas.drawText(QPoint(4, cell(row, 0, 0).top() + 12),
                        QString::fromUtf8(classes[row]->Name));
        for (int i = 0; i < 6; ++i) {
            const QString text = QString::number(percents[i] * 100, 'f', 0) + " %";
            canvas.setBrush(Qt::white);
            painter->Paint(canvas, cell(row, 0, i), percents[i], text);
            canvas.fillRect(cell(row, 1, i), highlight);
            canvas.setBrush(highlight);
            painter->PaintSelected(canvas, cell(row, 1, i), percents[i], text);
        }
    }
    canvas.end();
    // Every style's full bar reaches the end of its cell, normal and selected.
    for (std::size_t row = 0; row < classes.size(); ++row)
        for (int selected = 0; selected < 2; ++selected) {
            const QRect full = cell(row, selected, 5);
            EXPECT_NE(gallery.pixel(full.right(), full.top() + 2),
                      selected != 0 ? highlight.rgb() : White)
                << classes[row]->Name << " selected " << selected;
        }
    EXPECT_TRUE(gallery.save(QStringLiteral(QV_GALLERY_PATH), "PNG")) << QV_GALLERY_PATH;
}

} // namespace
} // namespace qv
