#include "app/InfoPanelFrame.h"

#include "support/QvUtils.h"
#include "view/KtStdCtrls.h"
#include "view/QtText.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVariantAnimation>
#include <algorithm>

namespace qv {

namespace {

// The height the bar has at least (its text may wrap to more), and how long it slides.
constexpr int PanelHeight = 40;
constexpr int SlideMs = 120;

} // namespace

TFrameInfoPanel::TFrameInfoPanel(QWidget* Parent) : QFrame(Parent) {
    setObjectName(QStringLiteral("InfoPanel"));
    // PanelEdgeBorders: a raised edge inside a sunken one.
    setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(1, 1, 1, 1);
    PanelSpaceBorders = new QFrame(this);
    PanelSpaceBorders->setObjectName(QStringLiteral("PanelSpaceBorders"));
    PanelSpaceBorders->setAutoFillBackground(true);
    outer->addWidget(PanelSpaceBorders);

    auto* row = new QHBoxLayout(PanelSpaceBorders);
    row->setContentsMargins(5, 5, 5, 5);
    row->setSpacing(0);
    LabelNotify = new QLabel(PanelSpaceBorders);
    LabelNotify->setObjectName(QStringLiteral("LabelNotify"));
    LabelNotify->setWordWrap(true);
    LabelNotify->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    LabelNotify->setTextFormat(Qt::PlainText);
    row->addWidget(LabelNotify, 1);
    ButtonInfoPanelRefresh = new TKtButton(PanelSpaceBorders);
    ButtonInfoPanelRefresh->setObjectName(QStringLiteral("ButtonInfoPanelRefresh"));
    ButtonInfoPanelRefresh->SetAutoSize(true);
    row->addWidget(ButtonInfoPanelRefresh);
    row->addSpacing(5); // BevelInfoPanelSpacer
    ButtonCloseInfoPanel = new TKtButton(PanelSpaceBorders);
    ButtonCloseInfoPanel->setObjectName(QStringLiteral("ButtonCloseInfoPanel"));
    ButtonCloseInfoPanel->SetAutoSize(true);
    row->addWidget(ButtonCloseInfoPanel);
    connect(ButtonInfoPanelRefresh, &QPushButton::clicked, this,
            [this] { ButtonInfoPanelRefreshClick(); });
    connect(ButtonCloseInfoPanel, &QPushButton::clicked, this,
            [this] { ButtonCloseInfoPanelClick(); });

    Slide = new QVariantAnimation(this);
    Slide->setDuration(SlideMs);
    connect(Slide, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& Value) { setFixedHeight(Value.toInt()); });
    connect(Slide, &QVariantAnimation::finished, this, [this] {
        if (Shown) {
            // The full height may be more than the animation aimed at: wrapped text.
            setMinimumHeight(0);
            setMaximumHeight(QWIDGETSIZE_MAX);
        } else {
            hide();
        }
    });

    ApplyColours();
    Retranslate();
    setAccessibleName(TrQ("Notification"));
    hide();
}

void TFrameInfoPanel::Retranslate() {
    ButtonInfoPanelRefresh->setText(TrQ("立即刷新"));
    ButtonCloseInfoPanel->setText(TrQ("关闭"));
    setAccessibleName(TrQ("Notification"));
}

void TFrameInfoPanel::ApplyColours() {
    // The colours of tool tips: a notice, not part of the work area.
    QPalette palette = PanelSpaceBorders->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::ToolTipText));
    PanelSpaceBorders->setPalette(palette);
    LabelNotify->setPalette(palette);
}

bool TFrameInfoPanel::event(QEvent* Event) {
    if (Event->type() == QEvent::PaletteChange || Event->type() == QEvent::ApplicationPaletteChange)
        ApplyColours();
    else if (Event->type() == QEvent::LanguageChange)
        Retranslate();
    return QFrame::event(Event);
}

void TFrameInfoPanel::SetPanelVisible(bool Value) {
    if (Value == Shown)
        return;
    Shown = Value;
    Slide->stop();
    const int full = std::max(PanelHeight, sizeHint().height());
    if (!parentWidget() || !parentWidget()->isVisible()) {
        // Nobody sees a slide: the bar simply is there, or not.
        setMinimumHeight(0);
        setMaximumHeight(QWIDGETSIZE_MAX);
        setVisible(Value);
        return;
    }
    const int from = isVisible() ? height() : 0;
    if (Value) {
        setFixedHeight(from);
        show();
    }
    Slide->setStartValue(from);
    Slide->setEndValue(Value ? full : 0);
    Slide->start();
}

void TFrameInfoPanel::Notify(const std::string& Path, const QString& Text) {
    if (std::find(Pending.begin(), Pending.end(), Path) == Pending.end())
        Pending.push_back(Path);
    LabelNotify->setText(Text);
    LabelNotify->setAccessibleName(Text);
    SetPanelVisible(true);
}

void TFrameInfoPanel::ButtonInfoPanelRefreshClick() {
    SetPanelVisible(false);
    // Let the window repaint without the bar before the scans start.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    std::vector<std::string> paths = std::move(Pending);
    Pending.clear();
    RemoveNestedPaths(paths);
    for (const std::string& path : paths)
        if (OnRefreshPath)
            OnRefreshPath(path);
}

void TFrameInfoPanel::ButtonCloseInfoPanelClick() {
    SetPanelVisible(false);
    Pending.clear();
}

} // namespace qv
