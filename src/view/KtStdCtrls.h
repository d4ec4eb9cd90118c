#pragma once
// The small controls the preferences dialog and the info panel are built from: Qt's standard
// widgets with a few rules of their own. An edit box that can be held to integer or decimal
// numbers, the same with embedded up/down buttons and a range, a check box and a push button
// that size themselves to their captions, and a combo box whose list widens to its longest
// item and whose cut-off text shows as a tooltip. Apart from these rules each behaves exactly
// like the widget it extends.
//
// Numbers are shown with the current QLocale's decimal separator and a plain "-" sign, without
// digit grouping, as the user types them.
//
// Threading: GUI thread only.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QtGlobal>
#include <functional>

class QToolButton;

namespace qv {

enum TKtEditValueType : int {
    vtString = 0,
    vtInteger = 1,
    vtFloat = 2,
};

// A line edit whose text is always kept normalised for its value type: any change, typed or
// assigned, is replaced at once by its normal form (an emptied number field shows 0). For
// numbers, keys that cannot be part of one are refused with a beep.
class TKtEdit : public QLineEdit {
public:
    explicit TKtEdit(QWidget* Parent = nullptr);

    TKtEditValueType ValueType() const { return FValueType; }
    void SetValueType(TKtEditValueType Value);
    // When true the number may not be negative: minus signs are refused and dropped.
    bool UnsignedValue() const { return FUnsignedValue; }
    void SetUnsignedValue(bool Value);
    Qt::Alignment Alignment() const { return alignment(); }
    void SetAlignment(Qt::Alignment Value) { setAlignment(Value); }

    QString Text() const { return text(); }
    // Stores the normalised form of Value, and only when it differs from the current text.
    void SetText(const QString& Value);
    // The text as a number, 0 when it is not one.
    double AsFloat() const;
    // Shortest general form with the locale's decimal separator.
    void SetAsFloat(double Value);
    // The text as an integer, 0 when it is not one (a decimal fraction is not one).
    qint64 AsInteger() const;
    void SetAsInteger(qint64 Value);

    // Called once after every change of the text, typed or assigned, when the new text is
    // already normalised. An assignment that leaves the text as it was does not call it.
    std::function<void()> OnChange;

protected:
    virtual QString Normalize(const QString& Value) const;
    void keyPressEvent(QKeyEvent* Event) override;
    // A refused key; QApplication::beep().
    virtual void Beep();
    // Normalises the current text again, after a rule the normal form depends on changed.
    void Renormalize() { SetText(text()); }

private:
    TKtEditValueType FValueType = vtString;
    bool FUnsignedValue = false;
    bool FNormalizing = false;

    void TextChanged();
    bool FilterKey(const QString& Typed);
};

// A number edit with embedded up/down buttons at its trailing edge, a range that the text is
// clamped to (a text that is not a number counts as MinValue) and a step. The arrow keys step
// by Increment, Page Up and Page Down by ten times Increment.
class TKtSpinEdit : public TKtEdit {
public:
    // vtInteger, range 0..100, Increment 1, vertical buttons; the text starts as "0".
    explicit TKtSpinEdit(QWidget* Parent = nullptr);

    qint16 MinValue() const { return FMinValue; }
    // Also lowers MaxValue to Value when that is smaller.
    void SetMinValue(qint16 Value);
    qint16 MaxValue() const { return FMaxValue; }
    // Also lowers MinValue to Value when that is larger.
    void SetMaxValue(qint16 Value);
    int Increment() const { return FIncrement; }
    void SetIncrement(int Value) { FIncrement = Value; }
    // Vertical: increase above decrease; horizontal: decrease before increase.
    Qt::Orientation Orientation() const { return FOrientation; }
    void SetOrientation(Qt::Orientation Value);

    // The value plus Delta, MaxValue at most; nothing for vtString.
    void StepUp(double Delta);
    // The value minus Delta, MinValue at least; nothing for vtString.
    void StepDown(double Delta);

    QToolButton* UpButton() const { return FUpButton; }
    QToolButton* DownButton() const { return FDownButton; }

protected:
    QString Normalize(const QString& Value) const override;
    void keyPressEvent(QKeyEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    qint16 FMinValue = 0;
    qint16 FMaxValue = 100;
    int FIncrement = 1;
    Qt::Orientation FOrientation = Qt::Vertical;
    QToolButton* FUpButton;
    QToolButton* FDownButton;

    void LayoutButtons();
    void Step(double Delta);
};

// A check box whose size hint is its caption's width plus room for the box. Its size policy
// stays QCheckBox's: a wider check box looks the same, and QCheckBox toggles only on clicks on
// the box and the caption.
class TKtCheckBox : public QCheckBox {
public:
    explicit TKtCheckBox(QWidget* Parent = nullptr);
    explicit TKtCheckBox(const QString& Caption, QWidget* Parent = nullptr);

    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);

    // With AutoSize: the caption's width + 22 (or what the style needs for the box, when that
    // is more), and the larger of the caption's height and QCheckBox's.
    QSize sizeHint() const override;

private:
    bool FAutoSize = true;
};

// A push button that, with AutoSize, is as wide as its caption plus Padding on each side,
// narrower than the style's usual minimum button width. While AutoSize is on its horizontal
// size policy is Fixed, so layouts keep it at that width.
class TKtButton : public QPushButton {
public:
    explicit TKtButton(QWidget* Parent = nullptr);
    explicit TKtButton(const QString& Caption, QWidget* Parent = nullptr);

    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    int Padding() const { return FPadding; }
    // Negative values are stored as 0.
    void SetPadding(int Value);

    // With AutoSize: the caption's width + 2 * Padding + 4, but never less than the style
    // needs to show the caption uncut; the height is QPushButton's.
    // QPushButton's minimumSizeHint follows it.
    QSize sizeHint() const override;

private:
    bool FAutoSize = false;
    int FPadding = 10;
    QSizePolicy::Policy FSavedPolicy = QSizePolicy::Minimum;
};

// A combo box whose drop-down list is as wide as its widest item, and whose current text,
// when cut off, shows as the tooltip (unless the caller gave it a tooltip of its own).
class TKtComboBox : public QComboBox {
public:
    explicit TKtComboBox(QWidget* Parent = nullptr);

    bool DropDownAutoWidth() const { return FDropDownAutoWidth; }
    // Switching it on drops an explicit DropDownWidth.
    void SetDropDownAutoWidth(bool Value);
    // An explicit width of the list (never narrower than the combo box); 0 for none. Setting
    // a width switches DropDownAutoWidth off.
    int DropDownWidth() const { return FDropDownWidth; }
    void SetDropDownWidth(int Value);

    // With DropDownAutoWidth: the list is as wide as the widest item's text + 8, plus a
    // scroll bar when there are more than maxVisibleItems(); never narrower than the combo
    // box or than Qt would make it.
    void showPopup() override;

protected:
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    bool FDropDownAutoWidth = true;
    int FDropDownWidth = 0;
    // The tooltip this class set last; a different one was set by the caller and is kept.
    QString FAutoToolTip;

    int AutoDropDownWidth() const;
    void UpdateToolTip();
};

} // namespace qv
