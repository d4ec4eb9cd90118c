// Draws the skin bitmaps of the percentage bars into resources/skins/. Run it by hand after
// changing a look and commit the PNGs; the build only compiles them in.
//
//     make_skins <folder>          (usually resources/skins)
//
// Every skin is a 24-bit horizontal bar image, 16 pixels high. The stretch skins keep two
// columns at each end as round caps and a horizontally uniform middle, because the painter
// stretches the middle to any length; the repeat skin tiles seamlessly; the clipping skin
// is shown from the left as far as the share reaches.

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr int SkinHeight = 16;

QColor Mix(const QColor& A, const QColor& B, double T) {
    return QColor::fromRgbF(float(A.redF() + (B.redF() - A.redF()) * T),
                            float(A.greenF() + (B.greenF() - A.greenF()) * T),
                            float(A.blueF() + (B.blueF() - A.blueF()) * T));
}

// The vertical profile of a glass tube in Base: a bright reflection in the upper half, a
// darker core below it and a little light bouncing back at the bottom edge.
QLinearGradient GlassGradient(const QColor& Base, double Gloss) {
    QLinearGradient gradient(0, 0, 0, SkinHeight);
    const QColor dark = Base.darker(150);
    gradient.setColorAt(0.00, Mix(Base, Qt::white, 0.35 * Gloss).darker(110));
    gradient.setColorAt(0.10, Mix(Base, Qt::white, 0.75 * Gloss));
    gradient.setColorAt(0.45, Mix(Base, Qt::white, 0.30 * Gloss));
    gradient.setColorAt(0.50, Base);
    gradient.setColorAt(0.80, dark);
    gradient.setColorAt(1.00, Mix(dark, Base, 0.6));
    return gradient;
}

// Darkens the two outer columns at each end and fades their corners into the white cell, so
// that the stretched bar gets rounded ends.
void RoundCaps(QImage& Skin) {
    const int w = Skin.width();
    for (int y = 0; y < SkinHeight; ++y) {
        const bool corner = y == 0 || y == SkinHeight - 1;
        const bool nearCorner = y == 1 || y == SkinHeight - 2;
        for (const int x : {0, w - 1}) {
            QColor c = QColor(Skin.pixel(x, y)).darker(135);
            if (corner)
                c = Mix(c, Qt::white, 0.85);
            else if (nearCorner)
                c = Mix(c, Qt::white, 0.35);
            Skin.setPixelColor(x, y, c);
        }
        for (const int x : {1, w - 2}) {
            QColor c = QColor(Skin.pixel(x, y)).darker(112);
            if (corner)
                c = Mix(c, Qt::white, 0.35);
            Skin.setPixelColor(x, y, c);
        }
    }
}

QImage StretchSkin(int Width, const QColor& Base, double Gloss) {
    QImage skin(Width, SkinHeight, QImage::Format_RGB32);
    QPainter painter(&skin);
    painter.fillRect(skin.rect(), GlassGradient(Base, Gloss));
    painter.end();
    RoundCaps(skin);
    return skin;
}

// A rainbow from red to violet under a glass reflection.
QImage SpectrumSkin() {
    QImage skin(320, SkinHeight, QImage::Format_RGB32);
    QPainter painter(&skin);
    QLinearGradient hues(0, 0, skin.width(), 0);
    for (int i = 0; i <= 10; ++i)
        hues.setColorAt(i / 10.0, QColor::fromHsvF(float(0.78 * i / 10.0), 0.95f, 0.95f));
    painter.fillRect(skin.rect(), hues);
    QLinearGradient gloss(0, 0, 0, SkinHeight);
    gloss.setColorAt(0.00, QColor(255, 255, 255, 90));
    gloss.setColorAt(0.15, QColor(255, 255, 255, 150));
    gloss.setColorAt(0.45, QColor(255, 255, 255, 50));
    gloss.setColorAt(0.50, QColor(0, 0, 0, 0));
    gloss.setColorAt(0.85, QColor(0, 0, 0, 60));
    gloss.setColorAt(1.00, QColor(0, 0, 0, 30));
    painter.fillRect(skin.rect(), gloss);
    return skin;
}

// A tile of two strands winding around each other on a deep amber tube. One period of the
// helix is exactly the tile's width, so that the tiles join without a seam.
QImage CairoSkin() {
    QImage skin(32, SkinHeight, QImage::Format_RGB32);
    QPainter painter(&skin);
    painter.fillRect(skin.rect(), GlassGradient(QColor(120, 50, 5), 0.45));
    painter.setRenderHint(QPainter::Antialiasing);
    const auto strand = [&](double Phase) {
        QPainterPath path;
        for (int x = -4; x <= 36; ++x) {
            const double y = 7.5 + 4.5 * std::sin(2 * std::numbers::pi * (x / 32.0) + Phase);
            if (x == -4)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
        }
        return path;
    };
    painter.setPen(QPen(QColor(70, 25, 0), 2.5));
    painter.drawPath(strand(std::numbers::pi));
    painter.setPen(QPen(QColor(215, 145, 45), 1.6));
    painter.drawPath(strand(0));
    QLinearGradient gloss(0, 0, 0, SkinHeight);
    gloss.setColorAt(0.0, QColor(255, 255, 255, 70));
    gloss.setColorAt(0.45, QColor(255, 255, 255, 20));
    gloss.setColorAt(0.5, QColor(0, 0, 0, 0));
    gloss.setColorAt(1.0, QColor(0, 0, 0, 50));
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(skin.rect(), gloss);
    return skin;
}

bool Save(const QDir& Folder, const char* Name, const QImage& Skin) {
    const QString path = Folder.filePath(QString::fromLatin1(Name) + QStringLiteral(".png"));
    if (!Skin.convertToFormat(QImage::Format_RGB888).save(path, "PNG")) {
        std::fprintf(stderr, "make_skins: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_skins <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "make_skins: cannot create %s\n", argv[1]);
        return 1;
    }
    // File names are the resource names in upper case, which is how the painters look
    // them up.
    bool ok = Save(folder, "RES_CHARTBAR_SKIN_CAIRO", CairoSkin());
    ok = Save(folder, "RES_SKIN_CRYSTAL", StretchSkin(128, QColor(170, 200, 230), 1.0)) && ok;
    ok = Save(folder, "RES_SKIN_REDGLASS", StretchSkin(32, QColor(200, 20, 20), 0.8)) && ok;
    ok = Save(folder, "RES_SKIN_BLACKICE", StretchSkin(32, QColor(45, 55, 70), 0.6)) && ok;
    ok = Save(folder, "RES_SKIN_BLUECHIP", StretchSkin(32, QColor(30, 80, 200), 0.8)) && ok;
    ok = Save(folder, "RES_SKIN_BROWNBRICK", StretchSkin(32, QColor(160, 100, 40), 0.7)) && ok;
    ok = Save(folder, "RES_SKIN_CENTERCOURT", StretchSkin(32, QColor(140, 215, 80), 0.8)) && ok;
    ok = Save(folder, "RES_SKIN_SPECTRUM", SpectrumSkin()) && ok;
    return ok ? 0 : 1;
}
