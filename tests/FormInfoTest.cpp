// The about box on the offscreen platform, clicked and typed at as a user would.

#include "app/FormInfo.h"

#include "support/AppInfo.h"
#include "support/FileVersion.h"
#include "view/QtText.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <utility>

namespace qv {
namespace {

template <class T = QLabel> T& Child(const TFormInfo& Form, const char* Name) {
    if (auto* Widget = Form.findChild<T*>(QLatin1String(Name)))
        return *Widget;
    throw std::runtime_error(std::string("no widget ") + Name);
}

// Stands in for the desktop's browser: QDesktopServices calls a slot by name, and this test
// is built without moc, so it borrows QTextBrowser's setSource slot.
class TBrowser final : public QTextBrowser {
public:
    QList<QUrl> Opened;
    void doSetSource(const QUrl& Url, QTextDocument::ResourceType) override { Opened << Url; }
};

TEST(FormInfoTest, ContentsFitAndSpeak) {
    UseLanguage("en");
    TFormInfo Form;
    EXPECT_EQ(Form.windowTitle(), TrQ("关于 Quorvel"));
    EXPECT_TRUE(Child(Form, "LabelProductName").font().bold());
    // The test binary carries no version note: the empty case, which hides the line.
    const QString Version = ToQ(VersionText(PathBytes(QCoreApplication::applicationFilePath())));
    EXPECT_EQ(Child(Form, "LabelVersion").text(), Version);
    EXPECT_EQ(Child(Form, "LabelVersion").isHidden(), Version.isEmpty());
    QLabel& Copyright = Child(Form, "LabelCopyright");
    Copyright.clear();
    Form.Retranslate();
    EXPECT_TRUE(Copyright.text().startsWith("Copyright © 2026 "));
    EXPECT_TRUE(Copyright.text().endsWith(TrQ(" All rights reserved.")));
    QLabel& Site = Child(Form, "LabelWebsite");
    EXPECT_EQ(Site.toolTip(), TrQ("访问网站"));
    EXPECT_TRUE(Site.font().underline());
    EXPECT_EQ(Site.cursor().shape(), Qt::PointingHandCursor);
    const std::pair<const char*, QString> Spoken[] = {{"ImageAppIcon", "Quorvel"},
                                                      {"LabelProductName", "Quorvel"},
                                                      {"LabelCopyright", Copyright.text()},
                                                      {"LabelWebsite", MakerWebAddress},
                                                      {"BtnOK", TrQ("确定")}};
    for (const auto& [Name, Text] : Spoken) {
        QWidget* Widget = &Child<QWidget>(Form, Name);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(Widget)->text(QAccessible::Name), Text);
    }
    for (const int Size : {16, 24, 32, 48, 64, 128, 256}) {
        const QImage Image = AppIcon().pixmap(QSize(Size, Size), 1.0).toImage();
        ASSERT_EQ(Image.size(), QSize(Size, Size));
        EXPECT_EQ(qAlpha(Image.pixel(Size / 2, Size / 2)), 255) << Size;
    }
    EXPECT_EQ(Child(Form, "ImageAppIcon").pixmap().deviceIndependentSize(), QSizeF(32, 32));
    // A translation longer than ours must widen the box, not be cut off.
    Copyright.setText(Copyright.text() + " Alle Rechte vorbehalten, auch die der Übersetzung.");
    Form.show();
    EXPECT_EQ(Form.grab().deviceIndependentSize().toSize(), Form.sizeHint());
    EXPECT_EQ(Form.minimumSize(), Form.maximumSize());
    for (const QWidget* Widget : Form.findChildren<QWidget*>()) {
        EXPECT_TRUE(Form.rect().contains(Widget->geometry()) || Widget->isHidden());
        EXPECT_GE(Widget->width(), Widget->sizeHint().width());
    }
}

TEST(FormInfoTest, OkCloses) {
    TFormInfo Form;
    QPushButton& Ok = Child<QPushButton>(Form, "BtnOK");
    EXPECT_TRUE(Ok.isDefault());
    QTimer::singleShot(0, &Form, [&Ok] { QTest::mouseClick(&Ok, Qt::LeftButton); });
    QTimer::singleShot(5000, &Form, &QDialog::reject); // fail rather than hang
    EXPECT_EQ(Form.exec(), QDialog::Accepted);
}

TEST(FormInfoTest, SiteOpensByMouseAndKeyboard) {
    TBrowser Browser;
    QDesktopServices::setUrlHandler("https", &Browser, "setSource");
    TFormInfo Form;
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
    QLabel& Site = Child(Form, "LabelWebsite");
    QTest::keyClick(&Child<QPushButton>(Form, "BtnOK"), Qt::Key_Tab);
    EXPECT_TRUE(Site.hasFocus());
    EXPECT_EQ(Site.foregroundRole(), QPalette::HighlightedText);
    QTest::mouseClick(&Site, Qt::LeftButton);
    QTest::keyClick(&Site, Qt::Key_Return);
    QTest::keyClick(&Site, Qt::Key_Space);
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(Browser.Opened, QList<QUrl>(3, QUrl(MakerWebAddress)));
    EXPECT_TRUE(Form.isVisible()); // Enter on the address is not the OK button's
}

} // namespace
} // namespace qv
