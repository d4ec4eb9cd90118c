#include "view/KtStdCtrls.h"

#include "view/QtText.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLocale>
#include <QScopedValueRollback>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace qv {

namespace {

// The text is parsed strictly: no digit grouping, and in a locale whose decimal separator is
// not "." a full stop makes it no number at all, so "1.500" cannot silently mean 1500 or 1.5
// depending on who typed it.
bool ParseFloat(const QString& Text, double& Value) {
    QString Plain = Text.trimmed();
    const QString Point = QLocale().decimalPoint();
    if (Point != QStringLiteral(".")) {
        if (Plain.contains(u'.'))
            return false;
        Plain.replace(Point, QStringLiteral("."));
    }
    QLocale C = QLocale::c();
    C.setNumberOptions(QLocale::RejectGroupSeparator);
    bool Ok = false;
    const double Parsed = C.toDouble(Plain, &Ok);
    if (!Ok || !std::isfinite(Parsed))
        return false;
    Value = Parsed;
    return true;
}

bool ParseInteger(const QString& Text, qint64& Value) {
    bool Ok = false;
    const qint64 Parsed = Text.trimmed().toLongLong(&Ok, 10);
    if (!Ok)
        return false;
    Value = Parsed;
    return true;
}

QString FormatFloat(double Value, bool Unsigned) {
    if (Unsigned)
        Value = std::fabs(Value);
    // Adding +0.0 turns a -0 into 0.
    QString Text = QString::number(Value + 0.0, 'g', 15);
    const QString Point = QLocale().decimalPoint();
    if (Point != QStringLiteral("."))
        Text.replace(u'.', Point);
    return Text;
}

QString FormatInteger(qint64 Value, bool Unsigned) {
    QString Text = QString::number(Value);
    // Dropping the sign instead of negating: the most negative value has no positive twin.
    if (Unsigned)
        Text.remove(u'-');
    return Text;
}

// The caption's width on one line, "&" mnemonics not counted, tabs expanded. The plain advance
// rather than QFontMetrics::size, which rounds up and adds the last glyph's overhang, so that
// a caption W pixels wide with Padding P makes a button exactly W + 2 * P + 4 wide.
int CaptionWidth(const QWidget& Widget, const QString& Caption) {
    const QFontMetrics Metrics(Widget.font());
    if (Caption.contains(u'\t'))
        return Metrics.size(Qt::TextSingleLine | Qt::TextExpandTabs | Qt::TextShowMnemonic, Caption)
            .width();
    QString Shown;
    Shown.reserve(Caption.size());
    for (qsizetype Index = 0; Index < Caption.size(); ++Index) {
        // "&&" shows one "&", "&x" an underlined x.
        if (Caption[Index] == u'&' && Index + 1 < Caption.size())
            ++Index;
        Shown += Caption[Index];
    }
    return Metrics.horizontalAdvance(Shown);
}

bool IsAsciiDigits(const QString& Text) {
    return !Text.isEmpty() &&
           std::all_of(Text.begin(), Text.end(), [](QChar C) { return C >= u'0' && C <= u'9'; });
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TKtEdit

TKtEdit::TKtEdit(QWidget* Parent) : QLineEdit(Parent) {
    // textChanged rather than textEdited: a plain setText from outside is normalised too.
    connect(this, &QLineEdit::textChanged, this, [this] { TextChanged(); });
}

void TKtEdit::SetValueType(TKtEditValueType Value) {
    if (FValueType == Value)
        return;
    FValueType = Value;
    Renormalize();
}

void TKtEdit::SetUnsignedValue(bool Value) {
    if (FUnsignedValue == Value)
        return;
    FUnsignedValue = Value;
    Renormalize();
}

void TKtEdit::SetText(const QString& Value) {
    const QString Normal = Normalize(Value);
    if (Normal != text())
        setText(Normal);
}

double TKtEdit::AsFloat() const {
    double Value = 0;
    return ParseFloat(text(), Value) ? Value : 0.0;
}

void TKtEdit::SetAsFloat(double Value) {
    SetText(FormatFloat(Value, false));
}

qint64 TKtEdit::AsInteger() const {
    qint64 Value = 0;
    return ParseInteger(text(), Value) ? Value : 0;
}

void TKtEdit::SetAsInteger(qint64 Value) {
    SetText(FormatInteger(Value, false));
}

QString TKtEdit::Normalize(const QString& Value) const {
    switch (FValueType) {
    case vtInteger: {
        qint64 Number = 0;
        ParseInteger(Value, Number);
        return FormatInteger(Number, FUnsignedValue);
    }
    case vtFloat: {
        double Number = 0;
        ParseFloat(Value, Number);
        return FormatFloat(Number, FUnsignedValue);
    }
    case vtString:
        break;
    }
    return Value;
}

void TKtEdit::TextChanged() {
    // Replacing the text below changes it again; that inner change is part of this one.
    if (FNormalizing)
        return;
    {
        QScopedValueRollback Guard(FNormalizing, true);
        const QString Current = text();
        const QString Normal = Normalize(Current);
        if (Normal != Current) {
            // The caret keeps its distance from the end: "042" typed as a leading 0 leaves it
            // before the 4, not after the 2.
            const int FromEnd = int(Current.size()) - cursorPosition();
            setText(Normal);
            setCursorPosition(std::max(0, int(Normal.size()) - FromEnd));
        }
    }
    if (OnChange)
        OnChange();
}

void TKtEdit::Beep() {
    QApplication::beep();
}

bool TKtEdit::FilterKey(const QString& Typed) {
    // Navigation and deletion pass: whatever they leave behind is normalised anyway.
    if (Typed.isEmpty() ||
        std::none_of(Typed.begin(), Typed.end(), [](QChar C) { return C.isPrint(); }))
        return false;
    if (IsAsciiDigits(Typed))
        return false;
    if (Typed == QStringLiteral("-")) {
        // A minus sign belongs at the front wherever the caret is.
        if (!FUnsignedValue && !text().contains(u'-')) {
            const int FromEnd = int(text().size()) - cursorPosition();
            deselect();
            setCursorPosition(0);
            insert(QStringLiteral("-"));
            setCursorPosition(std::max(0, int(text().size()) - FromEnd));
            return true;
        }
    } else if (FValueType == vtFloat &&
               (Typed == QStringLiteral(",") || Typed == QStringLiteral("."))) {
        // Either key gives the locale's separator; the selection is about to be replaced, so a
        // separator inside it does not count.
        const QString Point = QLocale().decimalPoint();
        QString Remaining = text();
        if (hasSelectedText())
            Remaining.remove(selectionStart(), selectedText().size());
        if (!Remaining.contains(Point)) {
            insert(Point);
            return true;
        }
    }
    Beep();
    return true;
}

void TKtEdit::keyPressEvent(QKeyEvent* Event) {
    // Shortcuts (Ctrl+V and friends) carry a letter as their text on some platforms. A
    // read-only field is left to QLineEdit, as the filter itself edits the text.
    const bool Shortcut =
        Event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (FValueType == vtString || isReadOnly() || Shortcut || !FilterKey(Event->text())) {
        QLineEdit::keyPressEvent(Event);
        return;
    }
    Event->accept();
}

// ---------------------------------------------------------------------------------------------
// TKtSpinEdit

TKtSpinEdit::TKtSpinEdit(QWidget* Parent)
    : TKtEdit(Parent), FUpButton(new QToolButton(this)), FDownButton(new QToolButton(this)) {
    FUpButton->setAccessibleName(TrQ("Increase"));
    FDownButton->setAccessibleName(TrQ("Decrease"));
    for (QToolButton* Button : {FUpButton, FDownButton}) {
        // The caret stays in the edit while the buttons are clicked.
        Button->setFocusPolicy(Qt::NoFocus);
        Button->setAutoRepeat(true);
        Button->setCursor(Qt::ArrowCursor);
    }
    connect(FUpButton, &QToolButton::clicked, this, [this] {
        if (!isReadOnly())
            StepUp(FIncrement);
    });
    connect(FDownButton, &QToolButton::clicked, this, [this] {
        if (!isReadOnly())
            StepDown(FIncrement);
    });
    SetValueType(vtInteger);
    LayoutButtons();
}

void TKtSpinEdit::SetMinValue(qint16 Value) {
    FMinValue = Value;
    FMaxValue = std::max(FMaxValue, Value);
    Renormalize();
}

void TKtSpinEdit::SetMaxValue(qint16 Value) {
    FMaxValue = Value;
    FMinValue = std::min(FMinValue, Value);
    Renormalize();
}

void TKtSpinEdit::SetOrientation(Qt::Orientation Value) {
    if (FOrientation == Value)
        return;
    FOrientation = Value;
    LayoutButtons();
}

QString TKtSpinEdit::Normalize(const QString& Value) const {
    switch (ValueType()) {
    case vtInteger: {
        qint64 Number = FMinValue;
        ParseInteger(Value, Number);
        return FormatInteger(std::clamp<qint64>(Number, FMinValue, FMaxValue), UnsignedValue());
    }
    case vtFloat: {
        double Number = FMinValue;
        ParseFloat(Value, Number);
        return FormatFloat(std::clamp<double>(Number, FMinValue, FMaxValue), UnsignedValue());
    }
    case vtString:
        break;
    }
    return Value;
}

void TKtSpinEdit::Step(double Delta) {
    double Value = (ValueType() == vtInteger ? double(AsInteger()) : AsFloat()) + Delta;
    if (std::isnan(Value))
        return;
    Value = std::clamp<double>(Value, FMinValue, FMaxValue);
    if (ValueType() == vtInteger)
        SetAsInteger(qRound64(Value));
    else if (ValueType() == vtFloat)
        SetAsFloat(Value);
}

void TKtSpinEdit::StepUp(double Delta) {
    Step(Delta);
}

void TKtSpinEdit::StepDown(double Delta) {
    Step(-Delta);
}

void TKtSpinEdit::keyPressEvent(QKeyEvent* Event) {
    int Steps = 0;
    switch (Event->key()) {
    case Qt::Key_Up:
        Steps = 1;
        break;
    case Qt::Key_Down:
        Steps = -1;
        break;
    case Qt::Key_PageUp:
        Steps = 10;
        break;
    case Qt::Key_PageDown:
        Steps = -10;
        break;
    default:
        TKtEdit::keyPressEvent(Event);
        return;
    }
    if (!isReadOnly()) {
        if (Steps > 0)
            StepUp(double(Steps) * FIncrement);
        else
            StepDown(double(-Steps) * FIncrement);
    }
    Event->accept();
}

void TKtSpinEdit::focusInEvent(QFocusEvent* Event) {
    TKtEdit::focusInEvent(Event);
    // Coming back from another window or a popup keeps the user's caret and selection.
    if (Event->reason() != Qt::ActiveWindowFocusReason && Event->reason() != Qt::PopupFocusReason)
        selectAll();
}

void TKtSpinEdit::resizeEvent(QResizeEvent* Event) {
    TKtEdit::resizeEvent(Event);
    LayoutButtons();
}

void TKtSpinEdit::changeEvent(QEvent* Event) {
    TKtEdit::changeEvent(Event);
    switch (Event->type()) {
    case QEvent::LayoutDirectionChange:
    case QEvent::StyleChange:
        LayoutButtons();
        break;
    default:
        break;
    }
}

void TKtSpinEdit::LayoutButtons() {
    int Frame = 0;
    if (hasFrame()) {
        QStyleOptionFrame Option;
        initStyleOption(&Option);
        Frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &Option, this);
    }
    const int ButtonWidth =
        std::max(12, style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this));
    const bool Vertical = FOrientation == Qt::Vertical;
    const int Area = Vertical ? ButtonWidth : 2 * ButtonWidth;
    const int Inner = std::max(0, height() - 2 * Frame);
    const bool RightToLeft = layoutDirection() == Qt::RightToLeft;
    const int Left = RightToLeft ? Frame : width() - Frame - Area;
    if (Vertical) {
        FUpButton->setArrowType(Qt::UpArrow);
        FDownButton->setArrowType(Qt::DownArrow);
        FUpButton->setGeometry(Left, Frame, Area, Inner / 2);
        FDownButton->setGeometry(Left, Frame + Inner / 2, Area, Inner - Inner / 2);
    } else {
        // Increasing points in the reading direction.
        QToolButton* First = RightToLeft ? FUpButton : FDownButton;
        QToolButton* Second = RightToLeft ? FDownButton : FUpButton;
        First->setArrowType(Qt::LeftArrow);
        Second->setArrowType(Qt::RightArrow);
        First->setGeometry(Left, Frame, ButtonWidth, Inner);
        Second->setGeometry(Left + ButtonWidth, Frame, ButtonWidth, Inner);
    }
    if (RightToLeft)
        setTextMargins(Area, 0, 0, 0);
    else
        setTextMargins(0, 0, Area, 0);
}

// ---------------------------------------------------------------------------------------------
// TKtCheckBox

TKtCheckBox::TKtCheckBox(QWidget* Parent) : QCheckBox(Parent) {}

TKtCheckBox::TKtCheckBox(const QString& Caption, QWidget* Parent) : QCheckBox(Caption, Parent) {}

void TKtCheckBox::SetAutoSize(bool Value) {
    if (FAutoSize == Value)
        return;
    FAutoSize = Value;
    updateGeometry();
}

QSize TKtCheckBox::sizeHint() const {
    const QSize Standard = QCheckBox::sizeHint();
    if (!FAutoSize)
        return Standard;
    // QCheckBox's hint is the caption plus what the style needs for the box and the gap; a
    // style that needs more than 22 pixels gets them.
    return {std::max(CaptionWidth(*this, text()) + 22, Standard.width()),
            std::max(fontMetrics().height(), Standard.height())};
}

// ---------------------------------------------------------------------------------------------
// TKtButton

TKtButton::TKtButton(QWidget* Parent) : QPushButton(Parent) {}

TKtButton::TKtButton(const QString& Caption, QWidget* Parent) : QPushButton(Caption, Parent) {}

void TKtButton::SetAutoSize(bool Value) {
    if (FAutoSize == Value)
        return;
    FAutoSize = Value;
    QSizePolicy Policy = sizePolicy();
    if (Value) {
        FSavedPolicy = Policy.horizontalPolicy();
        Policy.setHorizontalPolicy(QSizePolicy::Fixed);
    } else {
        Policy.setHorizontalPolicy(FSavedPolicy);
    }
    setSizePolicy(Policy);
    updateGeometry();
}

void TKtButton::SetPadding(int Value) {
    Value = std::max(0, Value);
    if (FPadding == Value)
        return;
    FPadding = Value;
    updateGeometry();
}

QSize TKtButton::sizeHint() const {
    const QSize Standard = QPushButton::sizeHint();
    if (!FAutoSize)
        return Standard;
    const int TextWidth = CaptionWidth(*this, text());
    // The style's usual minimum width of a button is what AutoSize is there to avoid; only the
    // frame it draws the caption inside counts.
    QStyleOptionButton Option;
    initStyleOption(&Option);
    int Frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &Option, this);
    if (Option.features & QStyleOptionButton::AutoDefaultButton)
        Frame += style()->pixelMetric(QStyle::PM_ButtonDefaultIndicator, &Option, this);
    int Needed = fontMetrics().size(Qt::TextShowMnemonic, text()).width() + 2 * Frame;
    if (!icon().isNull())
        Needed += iconSize().width() + 4;
    if (menu())
        Needed += style()->pixelMetric(QStyle::PM_MenuButtonIndicator, &Option, this);
    return {std::max(TextWidth + 2 * FPadding + 4, Needed), Standard.height()};
}

// ---------------------------------------------------------------------------------------------
// TKtComboBox

TKtComboBox::TKtComboBox(QWidget* Parent) : QComboBox(Parent) {
    connect(this, &QComboBox::currentTextChanged, this, [this] { UpdateToolTip(); });
}

void TKtComboBox::SetDropDownAutoWidth(bool Value) {
    FDropDownAutoWidth = Value;
    if (Value)
        FDropDownWidth = 0;
}

void TKtComboBox::SetDropDownWidth(int Value) {
    FDropDownWidth = std::max(0, Value);
    if (FDropDownWidth > 0)
        FDropDownAutoWidth = false;
}

int TKtComboBox::AutoDropDownWidth() const {
    const QFontMetrics Metrics(font());
    int Widest = 0;
    for (int Index = 0; Index < count(); ++Index) {
        int Width = Metrics.horizontalAdvance(itemText(Index));
        if (!itemIcon(Index).isNull())
            Width += iconSize().width() + 4;
        Widest = std::max(Widest, Width);
    }
    int Width = Widest + 8;
    if (count() > maxVisibleItems())
        Width += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return Width;
}

void TKtComboBox::showPopup() {
    // QComboBox makes the list at least as wide as the combo box and as its container's minimum
    // width; giving the container that minimum leaves placing the list on the screen to Qt.
    const int Wanted = FDropDownAutoWidth ? AutoDropDownWidth() : FDropDownWidth;
    if (QWidget* Container = view()->parentWidget())
        Container->setMinimumWidth(Wanted);
    QComboBox::showPopup();
}

void TKtComboBox::resizeEvent(QResizeEvent* Event) {
    QComboBox::resizeEvent(Event);
    UpdateToolTip();
}

void TKtComboBox::changeEvent(QEvent* Event) {
    QComboBox::changeEvent(Event);
    if (Event->type() == QEvent::FontChange || Event->type() == QEvent::StyleChange)
        UpdateToolTip();
}

void TKtComboBox::UpdateToolTip() {
    if (toolTip() != FAutoToolTip)
        return;
    const QString Text = currentText();
    QStyleOptionComboBox Option;
    initStyleOption(&Option);
    const int Edge = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &Option, this);
    const int ScrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    // Styles differ in how much of the width the arrow takes; whichever leaves less room
    // decides.
    const int Room = std::min(
        width() - ScrollBar - 2 * Edge - 5,
        style()
            ->subControlRect(QStyle::CC_ComboBox, &Option, QStyle::SC_ComboBoxEditField, this)
            .width());
    FAutoToolTip = fontMetrics().horizontalAdvance(Text) > Room ? Text : QString();
    setToolTip(FAutoToolTip);
}

} // namespace qv
