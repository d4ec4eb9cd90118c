// The dialogs' small controls, offscreen, driven by real key and mouse events: the normal
// form of number texts and the key filter, the spin edit's range, steps and buttons, the
// sizes of the self-sizing check box and button in a layout, and the combo box's list width
// and tooltip.

#include "view/KtStdCtrls.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLocale>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

namespace qv {
namespace {

// Counts the refused keys instead of beeping.
class TTestEdit : public TKtEdit {
public:
    int Beeps = 0;

protected:
    void Beep() override { ++Beeps; }
};

// Switches the default locale for one test.
class TLocaleScope {
public:
    explicit TLocaleScope(QLocale::Language Language) { QLocale::setDefault(QLocale(Language)); }
    ~TLocaleScope() { QLocale::setDefault(Saved); }

private:
    QLocale Saved;
};

// A check box indicator of any width, with a 2-pixel gap to the caption.
class TIndicatorStyle : public QProxyStyle {
public:
    explicit TIndicatorStyle(int Width)
        : QProxyStyle(QStyleFactory::create("Fusion")), Width(Width) {}
    int pixelMetric(PixelMetric Metric, const QStyleOption* Option,
                    const QWidget* Widget) const override {
        if (Metric == PM_IndicatorWidth)
            return Width;
        if (Metric == PM_CheckBoxLabelSpacing)
            return 2;
        return QProxyStyle::pixelMetric(Metric, Option, Widget);
    }

private:
    int Width;
};

void TypeAt(QLineEdit& Edit, int Position, char Key) {
    Edit.setCursorPosition(Position);
    QTest::keyClick(&Edit, Key);
}

TEST(KtStdCtrlsTest, IntegerEditNormalisesAndFiltersKeys) {
    TTestEdit Edit;
    int Changes = 0;
    Edit.OnChange = [&] { ++Changes; };
    Edit.SetValueType(vtInteger);
    EXPECT_EQ(Edit.Text(), "0"); // the empty text was normalised at once
    Edit.SetText("12abc");
    EXPECT_EQ(Edit.Text(), "0");
    EXPECT_EQ(Changes, 1); // only the switch of the type changed anything
    Edit.SetText("042");
    EXPECT_EQ(Edit.Text(), "42");
    EXPECT_EQ(Edit.AsInteger(), 42);
    // Typed text is normalised as it is typed, with the caret where the user left it.
    TypeAt(Edit, 0, '0');
    EXPECT_EQ(Edit.Text(), "42");
    EXPECT_EQ(Edit.cursorPosition(), 0);
    Edit.end(false);
    QTest::keyClick(&Edit, Qt::Key_Backspace);
    QTest::keyClick(&Edit, Qt::Key_Backspace);
    EXPECT_EQ(Edit.Text(), "0");
    EXPECT_EQ(Changes, 5);

    // A minus sign goes to the front wherever it is typed, once.
    Edit.SetText("25");
    TypeAt(Edit, 1, '-');
    EXPECT_EQ(Edit.Text(), "-25");
    EXPECT_EQ(Edit.cursorPosition(), 2);
    EXPECT_EQ(Edit.Beeps, 0);
    TypeAt(Edit, 3, '-');
    EXPECT_EQ(Edit.Text(), "-25");
    EXPECT_EQ(Edit.Beeps, 1);
    QTest::keyClicks(&Edit, "a.");
    EXPECT_EQ(Edit.Text(), "-25");
    EXPECT_EQ(Edit.Beeps, 3);
    Edit.SetUnsignedValue(true);
    EXPECT_EQ(Edit.Text(), "25");
    TypeAt(Edit, 0, '-');
    EXPECT_EQ(Edit.Text(), "25");
    EXPECT_EQ(Edit.Beeps, 4);
    Edit.setReadOnly(true);
    TypeAt(Edit, 0, '-');
    EXPECT_EQ(Edit.Text(), "25");
    Edit.setReadOnly(false);
    // Shortcuts are no typed characters.
    Edit.selectAll();
    QTest::keyClick(&Edit, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Edit.Beeps, 4);

    // A text field takes everything.
    TTestEdit Plain;
    QTest::keyClicks(&Plain, "a-b-.");
    EXPECT_EQ(Plain.Text(), "a-b-.");
    EXPECT_EQ(Plain.Beeps, 0);
}

TEST(KtStdCtrlsTest, FloatEditUsesTheLocaleSeparator) {
    TLocaleScope German(QLocale::German);
    TTestEdit Edit;
    Edit.SetValueType(vtFloat);
    Edit.SetUnsignedValue(true);
    Edit.SetText("15");
    TypeAt(Edit, 1, '-');
    EXPECT_EQ(Edit.Text(), "15");
    EXPECT_EQ(Edit.Beeps, 1);
    TypeAt(Edit, 1, '.');
    EXPECT_EQ(Edit.Text(), "1,5");
    EXPECT_DOUBLE_EQ(Edit.AsFloat(), 1.5);
    EXPECT_EQ(Edit.AsInteger(), 0); // a fraction is no integer
    TypeAt(Edit, 3, ',');           // a second separator
    EXPECT_EQ(Edit.Text(), "1,5");
    EXPECT_EQ(Edit.Beeps, 2);
    // Over a selection that holds the separator it is a replacement, not a second one.
    Edit.selectAll();
    QTest::keyClick(&Edit, ',');
    EXPECT_EQ(Edit.Text(), "0");
    // A separator at the end formats away at once.
    Edit.SetText("15");
    TypeAt(Edit, 2, ',');
    EXPECT_EQ(Edit.Text(), "15");
    // Group separators and the C locale's point make no number here.
    Edit.SetText("1.5");
    EXPECT_EQ(Edit.Text(), "0");
    Edit.SetAsFloat(0.1 + 0.2);
    EXPECT_EQ(Edit.Text(), "0,3");
    Edit.SetAsFloat(-2.5);
    EXPECT_EQ(Edit.Text(), "2,5");
}

TEST(KtStdCtrlsTest, SpinEditStepsWithinItsRange) {
    QWidget Window;
    auto* Other = new QLineEdit(&Window);
    auto* Spin = new TKtSpinEdit(&Window);
    auto* Layout = new QHBoxLayout(&Window);
    Layout->addWidget(Other);
    Layout->addWidget(Spin);
    Window.resize(300, 40);
    Window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window));
    EXPECT_EQ(Spin->Text(), "0");
    EXPECT_EQ(Spin->UpButton()->accessibleName(), "Increase");
    EXPECT_EQ(Spin->DownButton()->accessibleName(), "Decrease");

    QTest::keyClick(Spin, Qt::Key_Down);
    EXPECT_EQ(Spin->Text(), "0");
    Spin->SetAsInteger(95);
    QTest::keyClick(Spin, Qt::Key_PageUp);
    EXPECT_EQ(Spin->Text(), "100");
    QTest::keyClick(Spin, Qt::Key_PageDown);
    QTest::keyClick(Spin, Qt::Key_Up);
    EXPECT_EQ(Spin->Text(), "91");
    Spin->SetIncrement(5);
    QTest::mouseClick(Spin->UpButton(), Qt::LeftButton);
    EXPECT_EQ(Spin->Text(), "96");
    QTest::mouseClick(Spin->DownButton(), Qt::LeftButton);
    EXPECT_EQ(Spin->Text(), "91");
    // A text that is no number, or out of range, becomes the nearest end of the range.
    Spin->SetText("x");
    EXPECT_EQ(Spin->Text(), "0");
    Spin->SetText("250");
    EXPECT_EQ(Spin->Text(), "100");
    Spin->SetMaxValue(-5);
    EXPECT_EQ(Spin->MinValue(), -5);
    EXPECT_EQ(Spin->Text(), "-5");
    Spin->SetMinValue(20);
    EXPECT_EQ(Spin->MaxValue(), 20);
    EXPECT_EQ(Spin->Text(), "20");

    // Decimal steps in a float field.
    Spin->SetMinValue(0);
    Spin->SetValueType(vtFloat);
    Spin->SetAsFloat(19.5);
    Spin->StepUp(0.25);
    EXPECT_EQ(Spin->AsFloat(), 19.75);
    Spin->StepUp(1);
    EXPECT_EQ(Spin->AsFloat(), 20);

    // The buttons sit inside the trailing edge, beside the text, also after a resize.
    Window.resize(400, 60);
    QTest::qWait(0);
    const QRect Up = Spin->UpButton()->geometry();
    const QRect Down = Spin->DownButton()->geometry();
    EXPECT_LE(Up.right(), Spin->width() - 1);
    EXPECT_GT(Up.left(), Spin->width() / 2);
    EXPECT_EQ(Up.left(), Down.left());
    EXPECT_LT(Up.bottom(), Down.top());
    EXPECT_GE(Up.height() + Down.height(), Spin->height() - 6);
    EXPECT_EQ(Spin->textMargins().right(), Up.width());

    // Entering the control selects its text; disabling reaches the buttons.
    Window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
    Other->setFocus(Qt::OtherFocusReason);
    Spin->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(Spin->selectedText(), "20");
    Spin->setEnabled(false);
    EXPECT_FALSE(Spin->UpButton()->isEnabled());
}

TEST(KtStdCtrlsTest, CheckBoxAndButtonFitTheirCaptions) {
    TIndicatorStyle SmallBox(8); // outlives the widgets that use it
    TIndicatorStyle LargeBox(40);
    QWidget Window;
    auto* Button = new TKtButton("Refresh", &Window);
    auto* Box = new TKtCheckBox("Show the bars of the children", &Window);
    auto* Layout = new QHBoxLayout(&Window);
    Layout->addWidget(Box);
    Layout->addWidget(Button); // no stretch: a Minimum button would grow
    Window.resize(800, 50);
    Button->SetAutoSize(true);
    Window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window));

    const int Caption = QFontMetrics(Button->font()).horizontalAdvance("Refresh");
    EXPECT_EQ(Button->width(), Caption + 24);
    EXPECT_EQ(Button->height(), Button->QPushButton::sizeHint().height());
    Button->SetPadding(-3);
    EXPECT_EQ(Button->Padding(), 0);
    EXPECT_GE(Button->sizeHint().width(), Caption + 4);
    Button->SetPadding(20);
    QFont Large = Button->font();
    Large.setPointSize(Large.pointSize() * 2);
    Button->setFont(Large);
    QTest::qWait(0);
    EXPECT_EQ(Button->width(), QFontMetrics(Large).horizontalAdvance("Refresh") + 44);
    Button->SetAutoSize(false);
    EXPECT_EQ(Button->sizeHint(), Button->QPushButton::sizeHint());

    // 22 pixels for the box unless the style needs more.
    const int Text = QFontMetrics(Box->font()).horizontalAdvance("On");
    Box->setText("&On");
    Box->setStyle(&SmallBox);
    EXPECT_EQ(Box->sizeHint().width(), Text + 22);
    Box->setStyle(&LargeBox);
    EXPECT_GE(Box->sizeHint().width(), Text + 42);
    EXPECT_EQ(Box->sizeHint().width(), Box->QCheckBox::sizeHint().width());
    Box->SetAutoSize(false);
    Box->setStyle(&SmallBox);
    EXPECT_EQ(Box->sizeHint(), Box->QCheckBox::sizeHint());
}

TEST(KtStdCtrlsTest, ComboBoxListWidthAndToolTip) {
    // A style whose list is a plain list box: Qt itself leaves that as wide as the combo box.
    const std::unique_ptr<QStyle> ListStyle(QStyleFactory::create("Windows"));
    QWidget Window;
    auto* Combo = new TKtComboBox(&Window);
    Combo->setStyle(ListStyle.get());
    Combo->setGeometry(10, 10, 100, 26);
    const QString Long = "A long entry, much wider than the combo box itself";
    Combo->addItems({"One", Long});
    Window.resize(600, 200);
    Window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window));
    const int Widest = QFontMetrics(Combo->font()).horizontalAdvance(Long);
    const int ScrollBar = Combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent);

    QWidget* List = Combo->view()->window();
    Combo->showPopup();
    EXPECT_EQ(List->width(), Widest + 8);
    Combo->hidePopup();
    Combo->setMaxVisibleItems(1);
    Combo->showPopup();
    EXPECT_EQ(List->width(), Widest + 8 + ScrollBar);
    Combo->hidePopup();
    Combo->setMaxVisibleItems(10);
    Combo->SetDropDownWidth(Widest * 2);
    EXPECT_FALSE(Combo->DropDownAutoWidth());
    Combo->showPopup();
    EXPECT_EQ(List->width(), Widest * 2);
    Combo->hidePopup();
    Combo->SetDropDownAutoWidth(true);
    EXPECT_EQ(Combo->DropDownWidth(), 0);
    // Never narrower than the combo box.
    Combo->setItemText(1, "Two");
    Combo->showPopup();
    EXPECT_EQ(List->width(), 100);
    Combo->hidePopup();
    Combo->setItemText(1, Long);

    // The tooltip shows the current text while it is cut off.
    EXPECT_EQ(Combo->toolTip(), "");
    Combo->setCurrentIndex(1);
    EXPECT_EQ(Combo->toolTip(), Long);
    Combo->resize(Widest + 200, Combo->height());
    EXPECT_EQ(Combo->toolTip(), "");
    Combo->resize(100, Combo->height());
    EXPECT_EQ(Combo->toolTip(), Long);
    Combo->setCurrentIndex(0);
    EXPECT_EQ(Combo->toolTip(), "");
    // A tooltip of the caller's own stays.
    Combo->setToolTip("Language");
    Combo->setCurrentIndex(1);
    EXPECT_EQ(Combo->toolTip(), "Language");
}

} // namespace
} // namespace qv
