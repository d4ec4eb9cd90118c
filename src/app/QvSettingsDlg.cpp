#include "app/QvSettingsDlg.h"

#include "app/MessageBoxes.h"
#include "app/QvApplication.h"
#include "settings/BarChartPainterRegistry.h"
#include "settings/QvSettings.h"
#include "support/LangUtils.h"
#include "support/QvUtils.h"
#include "view/KtStdCtrls.h"
#include "view/QtText.h"
#include "view/QvBarChartPainter.h"
#include "view/SizeFormat.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <cmath>
#include <exception>

namespace qv {

namespace {

constexpr double MegaByte = 1048576.0;
// The design sizes of the dialog: at least this large, larger when captions need it.
constexpr int DialogWidth = 392;
constexpr int DialogHeight = 284;

// Each style drawn as a full bar with its own name as caption, through an RGB32 image: the
// painters blit with raster operations only such an image supports.
void PaintStyleItem(QPainter& Painter, const QRect& Rect, const QString& Name, bool Selected,
                    const QPalette& Palette) {
    const TBarChartPainterClass* painterClass =
        BarChartPainterRegistry().FindByName(Name.toStdString());
    if (!painterClass || Rect.isEmpty())
        return;
    const std::unique_ptr<TQvBarChartPainter> painter = CreatePainter(painterClass);
    const QColor back = Palette.color(Selected ? QPalette::Highlight : QPalette::Base);
    QImage image(Rect.size(), QImage::Format_RGB32);
    image.fill(back);
    {
        QPainter canvas(&image);
        canvas.setFont(Painter.font());
        canvas.setBrush(back);
        const QRect local(QPoint(0, 0), Rect.size());
        if (Selected)
            painter->PaintSelected(canvas, local, 1.0, Name);
        else
            painter->Paint(canvas, local, 1.0, Name);
    }
    Painter.drawImage(Rect.topLeft(), image);
}

class TBarStyleDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
               const QModelIndex& Index) const override {
        PaintStyleItem(*Painter, Option.rect, Index.data().toString(),
                       Option.state & QStyle::State_Selected, Option.palette);
    }
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& Option,
                                 const QModelIndex& Index) const override {
        QSize size = QStyledItemDelegate::sizeHint(Option, Index);
        size.setHeight(std::max(16, Option.fontMetrics.height() + 4));
        return size;
    }
};

// The closed list shows the chosen style as its items do.
class TBarStyleComboBox final : public TKtComboBox {
public:
    using TKtComboBox::TKtComboBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        option.currentText.clear();
        option.currentIcon = QIcon();
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                    QStyle::SC_ComboBoxEditField, this);
        PaintStyleItem(painter, field.adjusted(1, 1, -1, -1), currentText(), false, palette());
    }
};

double RoundHalfEven(double Value) {
    return std::nearbyint(Value); // the default rounding mode: ties to even
}

} // namespace

TDlgSettings::TDlgSettings(QWidget* Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("DlgSettings"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto* main = new QVBoxLayout(this);

    GroupBoxAnalysis = new QGroupBox(this);
    auto* analysis = new QHBoxLayout(GroupBoxAnalysis);
    CheckBoxGroupFiles = new TKtCheckBox(GroupBoxAnalysis);
    EditGroupFileSize = new TKtSpinEdit(GroupBoxAnalysis);
    EditGroupFileSize->SetValueType(vtFloat);
    EditGroupFileSize->SetUnsignedValue(true);
    EditGroupFileSize->SetIncrement(1);
    EditGroupFileSize->SetAlignment(Qt::AlignRight | Qt::AlignVCenter);
    EditGroupFileSize->setMinimumWidth(
        EditGroupFileSize->fontMetrics().horizontalAdvance(QStringLiteral("000.00")) + 40);
    LabelMegaByte = new QLabel(GroupBoxAnalysis);
    LabelMegaByte->setBuddy(EditGroupFileSize);
    analysis->addWidget(CheckBoxGroupFiles);
    analysis->addWidget(EditGroupFileSize);
    analysis->addWidget(LabelMegaByte);
    analysis->addStretch(1);
    main->addWidget(GroupBoxAnalysis);

    GroupBoxPaintOptions = new QGroupBox(this);
    auto* paint = new QGridLayout(GroupBoxPaintOptions);
    LabelBarChartPaintStyle = new QLabel(GroupBoxPaintOptions);
    CmbBoxBarChartPaintStyle = new TBarStyleComboBox(GroupBoxPaintOptions);
    CmbBoxBarChartPaintStyle->setItemDelegate(new TBarStyleDelegate(CmbBoxBarChartPaintStyle));
    CmbBoxBarChartPaintStyle->setMaxVisibleItems(10);
    CmbBoxBarChartPaintStyle->setMinimumWidth(200);
    LabelBarChartPaintStyle->setBuddy(CmbBoxBarChartPaintStyle);
    CheckBoxDrawChildBar = new TKtCheckBox(GroupBoxPaintOptions);
    LabelFileSizeRounding = new QLabel(GroupBoxPaintOptions);
    CmbBoxRoundingStyle = new TKtComboBox(GroupBoxPaintOptions);
    CmbBoxRoundingStyle->setMinimumWidth(175);
    CmbBoxRoundingStyle->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    LabelFileSizeRounding->setBuddy(CmbBoxRoundingStyle);
    paint->addWidget(LabelBarChartPaintStyle, 0, 0);
    paint->addWidget(CmbBoxBarChartPaintStyle, 0, 1);
    paint->addWidget(CheckBoxDrawChildBar, 1, 0, 1, 3);
    paint->addWidget(LabelFileSizeRounding, 2, 0);
    paint->addWidget(CmbBoxRoundingStyle, 2, 1);
    paint->setColumnStretch(2, 1);
    main->addWidget(GroupBoxPaintOptions);

    GroupBoxUserInterface = new QGroupBox(this);
    auto* language = new QHBoxLayout(GroupBoxUserInterface);
    Label1 = new QLabel(GroupBoxUserInterface);
    ComboBoxLanguage = new TKtComboBox(GroupBoxUserInterface);
    ComboBoxLanguage->setMinimumWidth(145);
    Label1->setBuddy(ComboBoxLanguage);
    language->addWidget(Label1);
    language->addWidget(ComboBoxLanguage);
    language->addStretch(1);
    main->addWidget(GroupBoxUserInterface);
    main->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    BtnOK = new QPushButton(this);
    BtnCancel = new QPushButton(this);
    BtnApply = new QPushButton(this);
    for (QPushButton* button : {BtnOK, BtnCancel, BtnApply}) {
        button->setMinimumSize(85, 25);
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    BtnOK->setDefault(true);
    main->addLayout(buttons);

    // Names for the window's own code, the tests and assistive technology.
    const auto name = [](QObject* Object, const char* Name) {
        Object->setObjectName(QString::fromLatin1(Name));
    };
    name(GroupBoxAnalysis, "GroupBoxAnalysis");
    name(CheckBoxGroupFiles, "CheckBoxGroupFiles");
    name(EditGroupFileSize, "EditGroupFileSize");
    name(LabelMegaByte, "LabelMegaByte");
    name(GroupBoxPaintOptions, "GroupBoxPaintOptions");
    name(LabelBarChartPaintStyle, "LabelBarChartPaintStyle");
    name(CmbBoxBarChartPaintStyle, "CmbBoxBarChartPaintStyle");
    name(CheckBoxDrawChildBar, "CheckBoxDrawChildBar");
    name(LabelFileSizeRounding, "LabelFileSizeRounding");
    name(CmbBoxRoundingStyle, "CmbBoxRoundingStyle");
    name(GroupBoxUserInterface, "GroupBoxUserInterface");
    name(Label1, "Label1");
    name(ComboBoxLanguage, "ComboBoxLanguage");
    name(BtnOK, "BtnOK");
    name(BtnCancel, "BtnCancel");
    name(BtnApply, "BtnApply");

    connect(CheckBoxGroupFiles, &QCheckBox::toggled, this, [this] {
        if (!Filling)
            CheckBoxGroupFilesClick();
    });
    EditGroupFileSize->OnChange = [this] {
        if (!Filling)
            EditGroupFileSizeChange();
    };
    connect(CheckBoxDrawChildBar, &QCheckBox::toggled, this, [this] {
        if (!Filling)
            CheckBoxDrawChildBarClick();
    });
    connect(CmbBoxBarChartPaintStyle, &QComboBox::currentIndexChanged, this, [this] {
        if (!Filling)
            CmbBoxBarChartPaintStyleChange();
    });
    connect(CmbBoxRoundingStyle, &QComboBox::currentIndexChanged, this, [this] {
        if (!Filling)
            CmbBoxRoundingStyleChange();
    });
    connect(ComboBoxLanguage, &QComboBox::currentIndexChanged, this, [this] {
        if (!Filling)
            ComboBoxLanguageChange();
    });
    connect(BtnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(BtnApply, &QPushButton::clicked, this, [this] { BtnApplyClick(); });

    Retranslate();
    resize(sizeHint().expandedTo(QSize(DialogWidth, DialogHeight)));
    RestorePosition();
}

TDlgSettings::~TDlgSettings() {
    StorePosition();
}

void TDlgSettings::Retranslate() {
    setWindowTitle(TrQ("Preferences"));
    GroupBoxAnalysis->setTitle(TrQ("分析"));
    CheckBoxGroupFiles->setText(TrQ("分组文件小于："));
    LabelMegaByte->setText(TrQ("MB"));
    EditGroupFileSize->setAccessibleName(TrQ("分组文件小于："));
    GroupBoxPaintOptions->setTitle(TrQ("演示模式"));
    LabelBarChartPaintStyle->setText(TrQ("百分比条样式："));
    CheckBoxDrawChildBar->setText(TrQ("显示子目录的额外百分比栏"));
    LabelFileSizeRounding->setText(TrQ("文件大小的舍入规则："));
    GroupBoxUserInterface->setTitle(TrQ("语言"));
    Label1->setText(TrQ("语言："));
    BtnOK->setText(TrQ("确定(&O)"));
    BtnCancel->setText(TrQ("取消(&C)"));
    BtnApply->setText(TrQ("应用"));
    // The combo boxes are named by their labels.
    CmbBoxBarChartPaintStyle->setAccessibleName(LabelBarChartPaintStyle->text().remove('&'));
    CmbBoxRoundingStyle->setAccessibleName(LabelFileSizeRounding->text().remove('&'));
    ComboBoxLanguage->setAccessibleName(Label1->text().remove('&'));
}

void TDlgSettings::RetranslateKeepingWorkCopy() {
    Retranslate();
    if (!Work)
        return;
    // Filling the lists anew runs handlers that would change the copy: it is put back.
    const std::unique_ptr<TSettings> kept = Work->Clone();
    FillControls();
    Work->Assign(*kept);
    FillControls();
}

void TDlgSettings::changeEvent(QEvent* Event) {
    if (Event->type() == QEvent::LanguageChange)
        RetranslateKeepingWorkCopy();
    QDialog::changeEvent(Event);
}

bool TDlgSettings::Execute(TSettings& Settings) {
    Work = Settings.Clone();
    FillControls();
    const bool ok = exec() == QDialog::Accepted;
    if (ok)
        Settings.Assign(*Work);
    if (OnApply)
        OnApply(Settings);
    return ok;
}

void TDlgSettings::FillControls() {
    Filling = true;
    CheckBoxGroupFiles->setChecked(Work->GroupSmallFiles());
    EditGroupFileSize->SetAsFloat(RoundHalfEven(double(Work->GroupFileSize()) / MegaByte * 100) /
                                  100);
    CheckBoxDrawChildBar->setChecked(HasPaintOption(Work->PaintOptions(), poDrawChildPercentBars));

    CmbBoxBarChartPaintStyle->clear();
    for (const std::string& name : BarChartPainterRegistry().GetNames(true))
        CmbBoxBarChartPaintStyle->addItem(ToQ(name));
    CmbBoxBarChartPaintStyle->setCurrentIndex(
        CmbBoxBarChartPaintStyle->findText(ToQ(Work->BarChartPainterClass()->Name)));

    CmbBoxRoundingStyle->clear();
    std::vector<std::string> roundings;
    GetRoundingStyleNames(roundings);
    for (const std::string& name : roundings)
        CmbBoxRoundingStyle->addItem(ToQ(name));
    CmbBoxRoundingStyle->setCurrentIndex(
        CmbBoxRoundingStyle->findText(ToQ(RoundingStyleName(Work->FileSizeRounding()))));

    ComboBoxLanguage->clear();
    for (const std::string& text : GetLanguageList())
        ComboBoxLanguage->addItem(ToQ(text));
    int language = ComboBoxLanguage->findText(ToQ(LanguageDisplayText(Work->Language())));
    if (language < 0)
        language = ComboBoxLanguage->findText(ToQ(LanguageBaseDisplayText(Work->Language())));
    ComboBoxLanguage->setCurrentIndex(language);
    Filling = false;

    // The check boxes and the size field report their new values as a user's change would:
    // a size that is not a whole hundredth of a megabyte becomes the rounded one.
    CheckBoxGroupFilesClick();
    EditGroupFileSizeChange();
    CheckBoxDrawChildBarClick();
}

void TDlgSettings::CheckBoxGroupFilesClick() {
    const bool checked = CheckBoxGroupFiles->isChecked();
    // Disabled widgets take the greyed colours of the style.
    EditGroupFileSize->setEnabled(checked);
    LabelMegaByte->setEnabled(checked);
    if (Work)
        Work->SetGroupSmallFiles(checked);
}

void TDlgSettings::EditGroupFileSizeChange() {
    if (Work)
        Work->SetGroupFileSize(
            std::int64_t(RoundHalfEven(EditGroupFileSize->AsFloat() * MegaByte)));
}

void TDlgSettings::CheckBoxDrawChildBarClick() {
    if (Work)
        Work->SetPaintOption(poDrawChildPercentBars, CheckBoxDrawChildBar->isChecked());
}

void TDlgSettings::CmbBoxBarChartPaintStyleChange() {
    if (!Work)
        return;
    if (const TBarChartPainterClass* painterClass = BarChartPainterRegistry().FindByName(
            CmbBoxBarChartPaintStyle->currentText().toStdString()))
        Work->SetBarChartPainterClass(painterClass);
    CmbBoxBarChartPaintStyle->update();
}

void TDlgSettings::CmbBoxRoundingStyleChange() {
    if (Work)
        Work->SetFileSizeRounding(
            RoundingStyleFromName(CmbBoxRoundingStyle->currentText().toStdString()));
}

void TDlgSettings::ComboBoxLanguageChange() {
    if (Work)
        Work->SetLanguage(LanguageCodeOfText(ComboBoxLanguage->currentText().toStdString()));
}

void TDlgSettings::BtnApplyClick() {
    if (!Work)
        return;
    ChangeLanguage(Work->Language());
    RetranslateKeepingWorkCopy();
    if (OnApply)
        OnApply(*Work);
}

void TDlgSettings::RestorePosition() {
    try {
        const TScreenSize screen = ScreenSize();
        const TRect centred = CenteredRect(width(), height(), screen.Width, screen.Height);
        const TRect bounds =
            StrToRect(AppSettings().ReadResolutionString("SettingsDlgBounds", ""), centred);
        // Only the place: the size is what the captions need.
        move(bounds.Left, bounds.Top);
    } catch (const std::exception& E) {
        ShowExceptionMessage(E);
    }
}

void TDlgSettings::StorePosition() {
    try {
        const QRect bounds = geometry();
        AppSettings().WriteResolutionString(
            "SettingsDlgBounds",
            RectToStr({bounds.left(), bounds.top(), bounds.left() + bounds.width(),
                       bounds.top() + bounds.height()}));
    } catch (const std::exception& E) {
        ShowExceptionMessage(E);
    }
}

} // namespace qv
