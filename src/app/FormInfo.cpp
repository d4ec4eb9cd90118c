#include "app/FormInfo.h"

#include "support/AppInfo.h"
#include "support/FileVersion.h"
#include "support/Translate.h"
#include "view/QtText.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QUrl>

// Q_INIT_RESOURCE has to stand outside any namespace. The icon lives in a static library,
// so nothing would pull its resource object into the executable without this reference.
static void InitIconResources() {
    Q_INIT_RESOURCE(images);
}

namespace qv {

namespace {

// The holder's part of the copyright line; the sentence after it is translated.
constexpr const char* CopyrightNotice = "Copyright © 2026 The Quorvel developers.";

constexpr int IconSize = 32;

} // namespace

QIcon AppIcon() {
    [[maybe_unused]] static const bool Registered = [] {
        InitIconResources();
        return true;
    }();
    QIcon Icon;
    for (const int Size : {16, 24, 32, 48, 64, 128, 256}) {
        Icon.addFile(QStringLiteral(":/images/quorvel-%1.png").arg(Size), QSize(Size, Size));
    }
    return Icon;
}

TFormInfo::TFormInfo(QWidget* Parent) : QDialog(Parent) {
    FormCreate();
}

void TFormInfo::FormCreate() {
    setObjectName(QStringLiteral("FormInfo"));

    ImageAppIcon = new QLabel(this);
    ImageAppIcon->setObjectName(QStringLiteral("ImageAppIcon"));
    ImageAppIcon->setFixedSize(IconSize, IconSize);

    LabelProductName = new QLabel(this);
    LabelProductName->setObjectName(QStringLiteral("LabelProductName"));
    QFont Bold = LabelProductName->font();
    Bold.setBold(true);
    LabelProductName->setFont(Bold);

    LabelVersion = new QLabel(this);
    LabelVersion->setObjectName(QStringLiteral("LabelVersion"));
    LabelCopyright = new QLabel(this);
    LabelCopyright->setObjectName(QStringLiteral("LabelCopyright"));

    LabelWebsite = new QLabel(this);
    LabelWebsite->setObjectName(QStringLiteral("LabelWebsite"));
    QFont Underlined = LabelWebsite->font();
    Underlined.setUnderline(true);
    LabelWebsite->setFont(Underlined);
    LabelWebsite->setCursor(Qt::PointingHandCursor);
    LabelWebsite->setFocusPolicy(Qt::StrongFocus);
    LabelWebsite->setBackgroundRole(QPalette::Highlight);
    ShowWebsiteFocus(false);
    LabelWebsite->installEventFilter(this);

    // Translations come from catalogs we do not write ourselves: never let one turn into
    // markup.
    for (QLabel* Label : {LabelProductName, LabelVersion, LabelCopyright, LabelWebsite}) {
        Label->setTextFormat(Qt::PlainText);
    }

    auto* Bevel = new QFrame(this);
    Bevel->setObjectName(QStringLiteral("Bevel"));
    Bevel->setFrameShape(QFrame::HLine);
    Bevel->setFrameShadow(QFrame::Sunken);

    BtnOK = new QPushButton(this);
    BtnOK->setObjectName(QStringLiteral("BtnOK"));
    BtnOK->setDefault(true);
    connect(BtnOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* Grid = new QGridLayout(this);
    Grid->addWidget(ImageAppIcon, 0, 0, 4, 1, Qt::AlignTop);
    Grid->addWidget(LabelProductName, 0, 1);
    Grid->addWidget(LabelVersion, 1, 1);
    Grid->addWidget(LabelCopyright, 2, 1);
    Grid->addWidget(LabelWebsite, 3, 1, Qt::AlignLeft);
    Grid->addWidget(Bevel, 4, 0, 1, 2);
    Grid->addWidget(BtnOK, 5, 0, 1, 2, Qt::AlignHCenter);
    // The style's spacing (which may be unset) leaves the icon crowding the texts; two
    // average characters grow with the font.
    Grid->setHorizontalSpacing(2 * fontMetrics().averageCharWidth());
    // The size follows the texts of whatever language is in use, then stays fixed.
    Grid->setSizeConstraint(QLayout::SetFixedSize);

    BtnOK->setFocus();
    Retranslate();
    ShowIcon();
}

void TFormInfo::Retranslate() {
    setWindowTitle(TrQ("关于 Quorvel"));
    ImageAppIcon->setAccessibleName(ToQ(AppName));
    LabelProductName->setText(ToQ(AppName));
    const QString Version = ToQ(VersionText(PathBytes(QCoreApplication::applicationFilePath())));
    LabelVersion->setText(Version);
    // A blank line would only leave a gap between the name and the copyright.
    LabelVersion->setHidden(Version.isEmpty());
    LabelCopyright->setText(QString::fromUtf8(CopyrightNotice) + TrQ(" All rights reserved."));
    LabelWebsite->setText(ToQ(MakerWebAddress));
    LabelWebsite->setToolTip(TrQ("访问网站"));
    LabelWebsite->setAccessibleDescription(LabelWebsite->toolTip());
    for (QLabel* Label : {LabelProductName, LabelVersion, LabelCopyright, LabelWebsite}) {
        Label->setAccessibleName(Label->text());
    }
    BtnOK->setText(TrQ("确定"));
    BtnOK->setAccessibleName(BtnOK->text());
}

void TFormInfo::LabelWebsiteClick() {
    QDesktopServices::openUrl(QUrl(LabelWebsite->text()));
}

void TFormInfo::ShowIcon() {
    ImageAppIcon->setPixmap(AppIcon().pixmap(QSize(IconSize, IconSize), devicePixelRatioF()));
}

void TFormInfo::ShowWebsiteFocus(bool HasFocus) {
    LabelWebsite->setAutoFillBackground(HasFocus);
    LabelWebsite->setForegroundRole(HasFocus ? QPalette::HighlightedText : QPalette::Link);
}

bool TFormInfo::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched != LabelWebsite)
        return QDialog::eventFilter(Watched, Event);
    switch (Event->type()) {
    case QEvent::MouseButtonRelease: {
        const auto* Mouse = static_cast<QMouseEvent*>(Event);
        // Pressing and then leaving the label before letting go takes the click back.
        if (Mouse->button() == Qt::LeftButton &&
            LabelWebsite->rect().contains(Mouse->position().toPoint())) {
            LabelWebsiteClick();
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        const auto* Key = static_cast<QKeyEvent*>(Event);
        const bool Plain = (Key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        // Taken here so that Enter opens the site rather than pressing the default button.
        if (Plain && (Key->key() == Qt::Key_Return || Key->key() == Qt::Key_Enter ||
                      Key->key() == Qt::Key_Space)) {
            LabelWebsiteClick();
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        ShowWebsiteFocus(Event->type() == QEvent::FocusIn);
        break;
    default:
        break;
    }
    return QDialog::eventFilter(Watched, Event);
}

void TFormInfo::showEvent(QShowEvent* Event) {
    // The screen is only known for sure now; a high-density one wants the larger drawing.
    ShowIcon();
    QDialog::showEvent(Event);
}

void TFormInfo::changeEvent(QEvent* Event) {
    if (Event->type() == QEvent::LanguageChange)
        Retranslate();
    QDialog::changeEvent(Event);
}

} // namespace qv
