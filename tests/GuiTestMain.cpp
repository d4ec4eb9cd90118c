// The main of the widget tests: a QApplication on the offscreen platform, with fixed system
// colours, so that pixels and widgets do not depend on a desktop or its theme.

#include <QApplication>
#include <QPalette>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (CTest does so at build time, in the sanitizer builds too) needs no
    // GUI; leaving Qt out keeps that step free of the sanitizers' reports about Qt itself.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(48, 96, 176));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    QApplication::setPalette(palette);
    return RUN_ALL_TESTS();
}
