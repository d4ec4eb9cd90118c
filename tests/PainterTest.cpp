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
constexpr int CellHeight = 16;
// A full block: one solid rectangle of glyph pixels, so that caption colours can be read
// at single pixels without anti-aliased edges in the way.
const QString Blocks = QString(12, QChar(0x2588));

QFont TestFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    return font;
}

// A white canvas with the test font.
struct TCanvas {
    QImage Image;
    QPainter Painter;
    TCanvas(int Width, int Height, QColor Background = Qt::white)
        : Image(Width, Height, QImage::Format_RGB32) {
        Image.fill(Background);
        Painter.begin(&Image);
        Painter.setFont(TestFont());
    }
    QImage Finish() {
        Painter.end();
        return Image;
    }
};

QImage Draw(TQvBarChartPainter& BarPainter, int Width, double Percent, const QString& Text = {},
            bool Selected = false, int Height = CellHeight) {
    TCanvas canvas(Width, Height, Selected ? QColor(Qt::darkBlue) : QColor(Qt::white));
    canvas.Painter.setBrush(QColor(Qt::darkBlue));
    if (Selected)
        BarPainter.PaintSelected(canvas.Painter, QRect(0, 0, Width, Height), Percent, Text);
    else
        BarPainter.Paint(canvas.Painter, QRect(0, 0, Width, Height), Percent, Text);
    return canvas.Finish();
}

bool ColumnIsWhite(const QImage& Image, int X) {
    for (int y = 0; y < Image.height(); ++y)
        if (Image.pixel(X, y) != White)
            return false;
    return true;
}

// The number of leading columns that carry paint; every column after them must be white.
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

std::vector<const TBarChartPainterClass*> RegisteredClasses() {
    std::vector<const TBarChartPainterClass*> classes;
    const auto& registry = BarChartPainterRegistry();
    for (int i = 0; i < registry.Count(); ++i)
        classes.push_back(registry.Items(i));
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

// Red caps, a green middle and blue caps on the right: 2 + 4 + 2 columns.
QImage CapSkin() {
    QImage skin(8, CellHeight, QImage::Format_RGB32);
    for (int x = 0; x < 8; ++x) {
        const QRgb c = x < 2 ? qRgb(255, 0, 0) : x < 6 ? qRgb(0, 255, 0) : qRgb(0, 0, 255);
        for (int y = 0; y < CellHeight; ++y)
            skin.setPixel(x, y, c);
    }
    return skin;
}

// --- bar lengths ---------------------------------------------------------------------------

TEST(PainterTest, BarWidthRoundsHalvesToEven) {
    EXPECT_EQ(BarWidth(5, 0.5), 2);
    EXPECT_EQ(BarWidth(7, 0.5), 4);
    EXPECT_EQ(BarWidth(9, 0.5), 4);
    EXPECT_EQ(BarWidth(11, 0.5), 6);
    EXPECT_EQ(BarWidth(1, 0.5), 0);
    EXPECT_EQ(BarWidth(3, 0.5), 2);
    EXPECT_EQ(BarWidth(100, 0.334), 33);
    EXPECT_EQ(BarWidth(100, 0.336), 34);
    EXPECT_EQ(BarWidth(100, 0.0), 0);
    EXPECT_EQ(BarWidth(100, 1.0), 100);
}

TEST(PainterTest, EveryStyleDrawsTheRoundedLength) {
    struct TCase {
        int Width;
        double Percent;
        int Expected;
    };
    const TCase cases[] = {{5, 0.5, 2},    {7, 0.5, 4},    {9, 0.5, 4},     {11, 0.5, 6},
                           {10, 0.25, 2},  {14, 0.25, 4},  {6, 0.75, 4},    {10, 0.75, 8},
                           {20, 0.125, 2}, {28, 0.125, 4}, {3, 0.5, 2},     {200, 1.0, 200},
                           {200, 0.0, 0},  {100, 0.01, 1}, {100, 0.015, 2}, {100, 0.025, 2}};
    for (const TBarChartPainterClass* cls : RegisteredClasses()) {
        auto painter = CreatePainter(cls);
        for (const TCase& c : cases) {
            EXPECT_EQ(PaintedWidth(Draw(*painter, c.Width, c.Percent)), c.Expected)
                << cls->Name << " width " << c.Width << " percent " << c.Percent;
        }
    }
}

// --- end caps ------------------------------------------------------------------------------

TEST(PainterTest, StretchCapsFrameTheStretchedMiddle) {
    TTestStretchPainter painter(CapSkin());
    const QImage bar = Draw(painter, 10, 1.0);
    for (int y = 0; y < CellHeight; ++y) {
        EXPECT_EQ(bar.pixel(0, y), qRgb(255, 0, 0));
        EXPECT_EQ(bar.pixel(1, y), qRgb(255, 0, 0));
        for (int x = 2; x < 8; ++x)
            EXPECT_EQ(bar.pixel(x, y), qRgb(0, 255, 0)) << x;
        EXPECT_EQ(bar.pixel(8, y), qRgb(0, 0, 255));
        EXPECT_EQ(bar.pixel(9, y), qRgb(0, 0, 255));
    }
}

TEST(PainterTest, StretchBarOfFourPixelsIsAllCaps) {
    TTestStretchPainter painter(CapSkin());
    const QImage bar = Draw(painter, 4, 1.0);
    EXPECT_EQ(bar.pixel(1, 5), qRgb(255, 0, 0));
    EXPECT_EQ(bar.pixel(2, 5), qRgb(0, 0, 255));
}

TEST(PainterTest, StretchBarNarrowerThanFourPixelsHasNoCaps) {
    TTestStretchPainter painter(CapSkin());
    for (int width = 1; width <= 3; ++width) {
        const QImage bar = Draw(painter, 10, width / 10.0);
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(bar.pixel(x, 7), qRgb(0, 255, 0)) << width << " " << x;
        EXPECT_EQ(bar.pixel(width, 7), White);
    }
}

TEST(PainterTest, FullStretchBarsShowBothCapsOfTheirSkin) {
    const TBarChartPainterClass* stretch[] = {&TSkinCrystalClass,   &TSkinChromeRedClass,
                                              &TSkinBlackIceClass,  &TSkinTrueBlueClass,
                                              &TSkinBronceAgeClass, &TSkinCenterCourtClass};
    const char* resources[] = {TSkinCrystal::ResourceName,   TSkinChromeRed::ResourceName,
                               TSkinBlackIce::ResourceName,  TSkinTrueBlue::ResourceName,
                               TSkinBronceAge::ResourceName, TSkinCenterCourt::ResourceName};
    for (int i = 0; i < 6; ++i) {
        const QImage skin = TBasicBarChartBitmapPainter::LoadSkin(resources[i]);
        ASSERT_FALSE(skin.isNull()) << resources[i];
        const int w = skin.width();
        auto painter = CreatePainter(stretch[i]);
        const QImage bar = Draw(*painter, 300, 1.0);
        for (int y = 0; y < CellHeight; ++y) {
            EXPECT_EQ(bar.pixel(0, y), skin.pixel(0, y)) << resources[i] << " y " << y;
            EXPECT_EQ(bar.pixel(1, y), skin.pixel(1, y)) << resources[i];
            EXPECT_EQ(bar.pixel(150, y), skin.pixel(w / 2, y)) << resources[i];
            EXPECT_EQ(bar.pixel(298, y), skin.pixel(w - 2, y)) << resources[i];
            EXPECT_EQ(bar.pixel(299, y), skin.pixel(w - 1, y)) << resources[i];
        }
        // The caps differ from the middle, else the checks above would prove nothing.
        EXPECT_NE(skin.pixel(0, 8), skin.pixel(w / 2, 8)) << resources[i];
    }
}

TEST(PainterTest, RepeatPainterTilesTheSkin) {
    const QImage skin = TBasicBarChartBitmapPainter::LoadSkin(TSkinCairoHelix::ResourceName);
    ASSERT_EQ(skin.size(), QSize(32, 16));
    TSkinCairoHelix painter;
    const QImage bar = Draw(painter, 100, 1.0);
    for (int x = 0; x < 100; ++x)
        for (int y = 0; y < CellHeight; ++y)
            ASSERT_EQ(bar.pixel(x, y), skin.pixel(x % 32, y)) << x << "," << y;
}

// --- captions ------------------------------------------------------------------------------

// The row through the middle of the caption's block glyphs.
constexpr int CaptionRow = 8;

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

// The columns of [From, To) in which the caption of Painter covers CaptionRow fully: there
// it is pure black on a white cell without a bar.
std::vector<int> FullCaptionColumns(TQvBarChartPainter& Painter, int Width, int From, int To) {
    const QImage noBar = Draw(Painter, Width, 0.0, Blocks);
    std::vector<int> columns;
    for (int x = From; x < To; ++x)
        if (noBar.pixel(x, CaptionRow) == Black)
            columns.push_back(x);
    return columns;
}

TEST(PainterTest, TwoColourCaptionSwitchesExactlyAtTheBarEdge) {
    TSkinChromeRed painter;
    const int width = 200;
    // Block glyphs leave an anti-aliased seam where two of them meet; the caption without a
    // bar tells which columns the glyphs cover fully (pure window text).
    const QImage noBar = Draw(painter, width, 0.0, Blocks);
    std::vector<bool> full(width);
    int fullColumns = 0;
    for (int x = 0; x < width; ++x) {
        full[x] = noBar.pixel(x, CaptionRow) == Black;
        fullColumns += full[x] ? 1 : 0;
    }
    ASSERT_GT(fullColumns, 60);
    int edgesChecked = 0;
    for (int edge = 60; edge < 140; ++edge) {
        if (!full[edge - 1] || !full[edge])
            continue;
        ++edgesChecked;
        const QImage bar = Draw(painter, width, edge / double(width), Blocks);
        for (int x = 0; x < width; ++x)
            if (full[x]) {
                ASSERT_EQ(bar.pixel(x, CaptionRow), x < edge ? White : Black)
                    << "edge " << edge << " x " << x;
            }
    }
    EXPECT_GT(edgesChecked, 40);
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

TEST(PainterTest, CenterCourtCaptionIsDarkGreenOverTheBar) {
    TSkinCenterCourt painter;
    const QImage bar = Draw(painter, 200, 0.5, Blocks);
    const auto over = FullCaptionColumns(painter, 200, 80, 100);
    const auto beside = FullCaptionColumns(painter, 200, 100, 120);
    ASSERT_GT(over.size(), 10u);
    ASSERT_GT(beside.size(), 10u);
    for (const int x : over)
        EXPECT_EQ(bar.pixel(x, CaptionRow), qRgb(46, 92, 0)) << x;
    for (const int x : beside)
        EXPECT_EQ(bar.pixel(x, CaptionRow), Black) << x;
}

TEST(PainterTest, CrystalCaptionIsWindowTextEverywhere) {
    TSkinCrystal painter;
    const QImage bar = Draw(painter, 200, 0.5, Blocks);
    EXPECT_EQ(bar.pixel(95, CaptionRow), Black);
    EXPECT_EQ(bar.pixel(105, CaptionRow), Black);
}

TEST(PainterTest, SpectrumCaptionInvertsOverTheBar) {
    const QImage skin = TBasicBarChartBitmapPainter::LoadSkin(TSkinSpectrum::ResourceName);
    TSkinSpectrum painter;
    // 320 pixels at one half: the bar shows the skin's left half at its own scale.
    const QImage bar = Draw(painter, 320, 0.5, Blocks);
    const QImage plain = Draw(painter, 320, 0.5);
    const auto [first, last] = CaptionSpan(bar, plain);
    ASSERT_LT(first, 155);
    ASSERT_GT(last, 165);
    // Over the bar, the caption shows the skin XOR white; over the white cell, window text.
    EXPECT_EQ(bar.pixel(157, CaptionRow), Inverted(skin.pixel(157, CaptionRow)));
    EXPECT_EQ(bar.pixel(158, CaptionRow), Inverted(skin.pixel(158, CaptionRow)));
    EXPECT_EQ(bar.pixel(160, CaptionRow), Black);
    EXPECT_EQ(bar.pixel(162, CaptionRow), Black);
}

// --- Spectrum ------------------------------------------------------------------------------

TEST(PainterTest, SpectrumShowsTheClippedSkinInABlackFrame) {
    const QImage skin = TBasicBarChartBitmapPainter::LoadSkin(TSkinSpectrum::ResourceName);
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
    const QImage shortBar = Draw(painter, 320, 0.1);
    const QRgb inside = shortBar.pixel(16, 8);
    EXPECT_GT(qRed(inside), 150);
    EXPECT_LT(qBlue(inside), 150);
}

// --- the plain painter ---------------------------------------------------------------------

TEST(PainterTest, PlainPainterFramesTheBarWithAWhiteInnerFrame) {
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
                expected = White;
            ASSERT_EQ(bar.pixel(x, y), expected) << x << "," << y;
        }
}

TEST(PainterTest, PlainPainterDrawsAOnePixelBarAsALine) {
    TQuorvelOneBarChartPainter painter(QColor(215, 215, 215), QColor(247, 247, 247));
    const QImage bar = Draw(painter, 100, 0.01);
    for (int y = 0; y < CellHeight; ++y) {
        EXPECT_EQ(bar.pixel(0, y), qRgb(215, 215, 215)) << y;
        EXPECT_EQ(bar.pixel(1, y), White) << y;
    }
}

TEST(PainterTest, PlainCaptionIsBlackAndCentredInTheCell) {
    TQuorvelOneBarChartPainter painter;
    const QString text = QStringLiteral("\u2588\u2588\u2588\u2588");
    const int textWidth = QFontMetrics(TestFont()).horizontalAdvance(text);
    // Percent 0: no bar, and still the caption.
    const QImage bar = Draw(painter, 100, 0.0, text);
    const QImage plain = Draw(painter, 100, 0.0);
    EXPECT_EQ(PaintedWidth(plain), 0);
    const auto [first, last] = CaptionSpan(bar, plain);
    ASSERT_GE(first, 0);
    EXPECT_NEAR(first, 50 - textWidth / 2, 1);
    EXPECT_NEAR(last + 1, 50 - textWidth / 2 + textWidth, 1);
    EXPECT_EQ(bar.pixel((first + last) / 2, CaptionRow), Black);
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

// --- selected variants ---------------------------------------------------------------------

TEST(PainterTest, SelectedSkinsAreInverted) {
    const QImage red = TBasicBarChartBitmapPainter::LoadSkin(TSkinChromeRed::ResourceName);
    TSkinChromeRed chrome;
    const QImage normal = Draw(chrome, 64, 0.5);
    const QImage selected = Draw(chrome, 64, 0.5, {}, true);
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < CellHeight; ++y) {
            const QRgb expected =
                x < 32 ? Inverted(normal.pixel(x, y)) : QColor(Qt::darkBlue).rgb();
            ASSERT_EQ(selected.pixel(x, y), expected) << x << "," << y;
        }
    EXPECT_EQ(selected.pixel(0, 8), Inverted(red.pixel(0, 8)));

    TSkinCairoHelix helix;
    const QImage helixNormal = Draw(helix, 40, 1.0);
    const QImage helixSelected = Draw(helix, 40, 1.0, {}, true);
    for (int x = 0; x < 40; ++x)
        ASSERT_EQ(helixSelected.pixel(x, 5), Inverted(helixNormal.pixel(x, 5))) << x;
}

TEST(PainterTest, SelectedSpectrumInvertsTheSkinButKeepsItsBlackFrame) {
    const QImage skin = TBasicBarChartBitmapPainter::LoadSkin(TSkinSpectrum::ResourceName);
    TSkinSpectrum painter;
    const QImage selected = Draw(painter, 320, 0.5, {}, true);
    EXPECT_EQ(selected.pixel(0, 8), Black);
    EXPECT_EQ(selected.pixel(159, 8), Black);
    EXPECT_EQ(selected.pixel(80, 0), Black);
    EXPECT_EQ(selected.pixel(80, 8), Inverted(skin.pixel(80, 8)));
    EXPECT_EQ(selected.pixel(160, 8), QColor(Qt::darkBlue).rgb());
}

TEST(PainterTest, SelectedCaptionsUseTheHighlightText) {
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

TEST(PainterTest, SelectedPlainBarIsOutlinedInHighlightText) {
    const QRgb highlightText = QGuiApplication::palette().color(QPalette::HighlightedText).rgb();
    TQuorvelOneBarChartPainter painter;
    const QImage bar = Draw(painter, 40, 0.5, {}, true);
    EXPECT_EQ(bar.pixel(0, 5), highlightText);
    EXPECT_EQ(bar.pixel(19, 5), highlightText);
    EXPECT_EQ(bar.pixel(10, 0), highlightText);
    EXPECT_EQ(bar.pixel(10, 5), QColor(Qt::darkBlue).rgb()); // the canvas's brush
    EXPECT_EQ(bar.pixel(20, 5), QColor(Qt::darkBlue).rgb());
}

// --- missing skins -------------------------------------------------------------------------

TEST(PainterTest, SkinsLoadWithTheirSizesAndWithoutRegardToCase) {
    EXPECT_EQ(TBasicBarChartBitmapPainter::LoadSkin("res_skin_crystal").size(), QSize(128, 16));
    EXPECT_EQ(TBasicBarChartBitmapPainter::LoadSkin("RES_SKIN_Spectrum").size(), QSize(320, 16));
    for (const char* name : {"RES_CHARTBAR_SKIN_CAIRO", "RES_SKIN_RedGlass", "RES_SKIN_BlackIce",
                             "RES_SKIN_BlueChip", "RES_SKIN_BrownBrick", "RES_SKIN_CenterCourt"})
        EXPECT_EQ(TBasicBarChartBitmapPainter::LoadSkin(name).size(), QSize(32, 16)) << name;
    EXPECT_TRUE(TBasicBarChartBitmapPainter::LoadSkin("RES_SKIN_Nowhere").isNull());
    for (const TBarChartPainterClass* cls : RegisteredClasses()) {
        auto painter = CreatePainter(cls);
        if (auto* skin = dynamic_cast<TBasicBarChartBitmapPainter*>(painter.get())) {
            EXPECT_TRUE(skin->IsSkinLoaded()) << cls->Name;
        }
    }
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
        EXPECT_NE(selected.pixel(0, 0), QColor(Qt::darkBlue).rgb());
    }
}

// --- the factory and the registry ----------------------------------------------------------

TEST(PainterTest, FactoryMakesThePainterOfEveryRegisteredClass) {
    for (const TBarChartPainterClass* cls : RegisteredClasses()) {
        auto painter = CreatePainter(cls);
        ASSERT_NE(painter, nullptr);
        EXPECT_EQ(&painter->GetClass(), cls);
        EXPECT_EQ(painter->GetName(), cls->Name);
    }
}

TEST(PainterTest, UnregisteredDefaultClassLooksLikeCairoHelix) {
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
    EXPECT_EQ(BarChartPainterRegistry().FindByClassName("TDefaultBarChartPainter"), nullptr);
    EXPECT_EQ(BarChartPainterRegistry().FindByClassName("tskincrystal"), &TSkinCrystalClass);
    auto crystal = CreatePainter(BarChartPainterRegistry().FindByClassName("tskincrystal"));
    EXPECT_NE(dynamic_cast<TSkinCrystal*>(crystal.get()), nullptr);
}

TEST(PainterTest, SortedStyleNames) {
    const std::vector<std::string> expected{"Black Ice",       "Bronze Age", "Cairo Helix",
                                            "Center Court",    "Chrome Red", "Crystal",
                                            "Quorvel Classic", "Spectrum",   "True Blue"};
    EXPECT_EQ(BarChartPainterRegistry().GetNames(true), expected);
}

// --- the gallery ---------------------------------------------------------------------------

TEST(PainterTest, Gallery) {
    const double percents[] = {0.0, 0.01, 0.33, 0.5, 0.99, 1.0};
    const int cellWidth = 120;
    const int nameWidth = 110;
    const int rowHeight = CellHeight + 4;
    const auto classes = RegisteredClasses();
    const int width = nameWidth + 2 * 6 * (cellWidth + 4) + 10;
    const int height = 24 + int(classes.size()) * rowHeight + 6;
    QImage gallery(width, height, QImage::Format_RGB32);
    gallery.fill(Qt::white);
    QPainter canvas(&gallery);
    canvas.setFont(TestFont());
    const QColor highlight = QGuiApplication::palette().color(QPalette::Highlight);
    canvas.setPen(Qt::black);
    canvas.drawText(QPoint(nameWidth, 14), QStringLiteral("normal"));
    canvas.drawText(QPoint(nameWidth + 6 * (cellWidth + 4), 14), QStringLiteral("selected"));
    for (std::size_t row = 0; row < classes.size(); ++row) {
        auto painter = CreatePainter(classes[row]);
        const int top = 24 + int(row) * rowHeight;
        canvas.setPen(Qt::black);
        canvas.drawText(QPoint(4, top + 12), QString::fromUtf8(classes[row]->Name));
        for (int selected = 0; selected < 2; ++selected)
            for (int i = 0; i < 6; ++i) {
                const QRect cell(nameWidth + (selected * 6 + i) * (cellWidth + 4), top, cellWidth,
                                 CellHeight);
                const QString text = QString::number(percents[i] * 100, 'f', 0) + " %";
                if (selected != 0) {
                    canvas.fillRect(cell, highlight);
                    canvas.setBrush(highlight);
                    painter->PaintSelected(canvas, cell, percents[i], text);
                } else {
                    canvas.setBrush(Qt::white);
                    painter->Paint(canvas, cell, percents[i], text);
                }
            }
    }
    canvas.end();
    // Every style's full bar reaches the end of its cell, normal and selected.
    for (std::size_t row = 0; row < classes.size(); ++row)
        for (int selected = 0; selected < 2; ++selected) {
            const int lastColumn = nameWidth + (selected * 6 + 5) * (cellWidth + 4) + cellWidth - 1;
            const QRgb background = selected != 0 ? highlight.rgb() : White;
            EXPECT_NE(gallery.pixel(lastColumn, 24 + int(row) * rowHeight + 2), background)
                << classes[row]->Name << " selected " << selected;
        }
    EXPECT_TRUE(gallery.save(QStringLiteral(QV_GALLERY_PATH), "PNG")) << QV_GALLERY_PATH;
}

} // namespace
} // namespace qv
