// Draws the grid's own pictures into resources/images/: the folders, the all-drives root,
// the two overlay marks, the scan animation and a plain sheet that stands in for a file icon
// when neither the theme nor the style has one. Run it by hand after changing a look and
// commit the PNGs; the build only compiles them in.
//
//     make_images <folder>          (usually resources/images)
//
// Every picture is drawn once in a 16-unit square and written at 16×16 and, as name@2x, at
// 32×32. Outlines sit on half units so that their one-unit pens cover whole pixels at both
// sizes. The overlays keep to the lower-left 10×10 units on a transparent background, so
// that they can be laid over any icon.

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>

namespace {

constexpr int BaseSize = 16;

using TDrawing = std::function<void(QPainter&)>;

const QColor FolderEdge(150, 100, 20);
const QColor FolderBack(222, 168, 52);

QLinearGradient VerticalGradient(double Top, double Bottom, const QColor& A, const QColor& B) {
    QLinearGradient gradient(0, Top, 0, Bottom);
    gradient.setColorAt(0, A);
    gradient.setColorAt(1, B);
    return gradient;
}

// The back wall of a folder with its tab, shared by the closed and the open folder.
void FolderBackWall(QPainter& P) {
    QPainterPath back;
    back.moveTo(1.5, 2.5);
    back.lineTo(6.0, 2.5);
    back.lineTo(7.5, 4.0);
    back.lineTo(14.5, 4.0);
    back.lineTo(14.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    P.setPen(QPen(FolderEdge, 1.0));
    P.setBrush(FolderBack);
    P.drawPath(back);
}

void ClosedFolder(QPainter& P) {
    FolderBackWall(P);
    P.setPen(QPen(FolderEdge, 1.0));
    P.setBrush(VerticalGradient(5.5, 13.5, QColor(255, 228, 130), QColor(238, 186, 66)));
    P.drawRect(QRectF(1.5, 5.5, 13.0, 8.0));
    // A highlight under the front's upper edge gives the folder some depth.
    P.setPen(QPen(QColor(255, 250, 220, 200), 1.0));
    P.drawLine(QPointF(2.5, 6.5), QPointF(13.5, 6.5));
}

void OpenFolder(QPainter& P) {
    FolderBackWall(P);
    // A sheet of paper inside.
    P.setPen(QPen(QColor(140, 140, 140), 1.0));
    P.setBrush(Qt::white);
    P.drawRect(QRectF(3.5, 3.5, 9.0, 6.0));
    // The front flap, folded down and forward.
    QPolygonF flap;
    flap << QPointF(4.0, 7.5) << QPointF(15.5, 7.5) << QPointF(13.0, 13.5) << QPointF(1.5, 13.5);
    P.setPen(QPen(FolderEdge, 1.0));
    P.setBrush(VerticalGradient(7.5, 13.5, QColor(255, 232, 145), QColor(240, 190, 70)));
    P.drawPolygon(flap);
}

// Two drives in a stack, each with its slot and a green activity light.
void FixedDrives(QPainter& P) {
    for (const double top : {2.5, 8.5}) {
        P.setPen(QPen(QColor(70, 75, 85), 1.0));
        P.setBrush(VerticalGradient(top, top + 5, QColor(235, 238, 242), QColor(150, 155, 165)));
        P.drawRoundedRect(QRectF(1.5, top, 13.0, 5.0), 1.2, 1.2);
        P.setPen(QPen(QColor(90, 95, 105), 1.0));
        P.drawLine(QPointF(3.5, top + 2.5), QPointF(8.5, top + 2.5));
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(40, 200, 60));
        P.drawEllipse(QPointF(12.0, top + 2.5), 1.1, 1.1);
    }
}

// Three stacked sheets: dark edges and light faces keep the mark readable on light and
// dark icons alike.
void GroupedFilesOverlay(QPainter& P) {
    const QColor faces[] = {QColor(200, 200, 200), QColor(228, 228, 228), QColor(255, 255, 255)};
    for (int i = 0; i < 3; ++i) {
        P.setPen(QPen(QColor(30, 30, 40), 1.0));
        P.setBrush(faces[i]);
        P.drawRect(QRectF(4.5 - 2 * i, 6.5 + 1.5 * i, 5.0, 6.0));
    }
}

// An exclamation mark on an orange disc with a dark rim.
void IncompleteOverlay(QPainter& P) {
    P.setPen(QPen(QColor(120, 25, 0), 1.0));
    P.setBrush(VerticalGradient(6.5, 15.5, QColor(255, 140, 40), QColor(215, 50, 10)));
    P.drawEllipse(QPointF(5.0, 11.0), 4.5, 4.5);
    P.setPen(Qt::NoPen);
    P.setBrush(Qt::white);
    P.drawRect(QRectF(4.0, 7.5, 2.0, 4.0));
    P.drawRect(QRectF(4.0, 12.5, 2.0, 1.5));
}

// A spinner of eight dots whose leading dot moves on by 45° per frame; the trail behind it
// fades and shrinks.
void SearchFrame(QPainter& P, int Frame) {
    P.setPen(Qt::NoPen);
    for (int j = 0; j < 8; ++j) {
        const double degrees = -90.0 + 45.0 * (Frame - j);
        const double radians = degrees * std::numbers::pi / 180.0;
        const QPointF centre(8.0 + 5.5 * std::cos(radians), 8.0 + 5.5 * std::sin(radians));
        QColor colour(30, 90, 200);
        colour.setAlphaF(float(std::max(0.15, 1.0 - 0.2 * j)));
        P.setBrush(colour);
        const double radius = 1.9 - 0.13 * j;
        P.drawEllipse(centre, radius, radius);
    }
}

// A plain sheet with a dog-ear.
void PlainFile(QPainter& P) {
    QPainterPath sheet;
    sheet.moveTo(3.5, 1.5);
    sheet.lineTo(9.5, 1.5);
    sheet.lineTo(12.5, 4.5);
    sheet.lineTo(12.5, 14.5);
    sheet.lineTo(3.5, 14.5);
    sheet.closeSubpath();
    P.setPen(QPen(QColor(110, 110, 120), 1.0));
    P.setBrush(VerticalGradient(1.5, 14.5, Qt::white, QColor(225, 228, 235)));
    P.drawPath(sheet);
    QPainterPath ear;
    ear.moveTo(9.5, 1.5);
    ear.lineTo(9.5, 4.5);
    ear.lineTo(12.5, 4.5);
    P.setBrush(QColor(200, 204, 212));
    P.drawPath(ear);
}

QImage Render(const TDrawing& Drawing, int Scale) {
    QImage image(BaseSize * Scale, BaseSize * Scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(Scale, Scale);
    Drawing(painter);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool Save(const QDir& Folder, const QString& Name, const TDrawing& Drawing) {
    bool ok = true;
    for (const int scale : {1, 2}) {
        const QString file = Name + (scale == 1 ? QString() : QStringLiteral("@2x")) + ".png";
        const QString path = Folder.filePath(file);
        if (!Render(Drawing, scale).save(path, "PNG")) {
            std::fprintf(stderr, "make_images: cannot write %s\n", qPrintable(path));
            ok = false;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_images <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "make_images: cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = Save(folder, QStringLiteral("folder_closed"), ClosedFolder);
    ok = Save(folder, QStringLiteral("folder_open"), OpenFolder) && ok;
    ok = Save(folder, QStringLiteral("fixed_drives"), FixedDrives) && ok;
    ok = Save(folder, QStringLiteral("overlay_grouped"), GroupedFilesOverlay) && ok;
    ok = Save(folder, QStringLiteral("overlay_incomplete"), IncompleteOverlay) && ok;
    ok = Save(folder, QStringLiteral("file"), PlainFile) && ok;
    for (int frame = 0; frame < 8; ++frame)
        ok = Save(folder, QStringLiteral("search_%1").arg(frame),
                  [frame](QPainter& P) { SearchFrame(P, frame); }) &&
             ok;
    return ok ? 0 : 1;
}
