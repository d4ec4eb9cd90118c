// The message boxes, answered by a timer as a user would click.

#include "app/MessageBoxes.h"
#include "support/Translate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

namespace qv {
namespace {

struct TSeen {
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButton Default = QMessageBox::NoButton;
};

// Answers the next message box with Button and records what it showed.
TSeen AnswerNextBox(QMessageBox::StandardButton Button, const std::function<void()>& Show) {
    TSeen seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.Caption = box->windowTitle();
        seen.Text = box->text();
        seen.Icon = box->icon();
        seen.Default = box->standardButton(box->defaultButton());
        box->button(Button)->click();
    });
    Show();
    return seen;
}

TEST(MessageBoxTest, CaptionsIconsAndAnswers) {
    UseLanguage("en");
    bool yes = false;
    TSeen seen = AnswerNextBox(QMessageBox::Yes, [&] { yes = ConfirmYesNo("Delete it?"); });
    EXPECT_TRUE(yes);
    EXPECT_EQ(seen.Caption, "Confirmation");
    EXPECT_EQ(seen.Text, "Delete it?");
    EXPECT_EQ(seen.Icon, QMessageBox::Question);

    seen = AnswerNextBox(QMessageBox::No, [&] { yes = ConfirmYesNo("Again?"); });
    EXPECT_FALSE(yes);

    seen = AnswerNextBox(QMessageBox::Yes, [&] { yes = WarnYesNo("Open a system file?"); });
    EXPECT_TRUE(yes);
    EXPECT_EQ(seen.Caption, "Warning");
    EXPECT_EQ(seen.Icon, QMessageBox::Warning);
    EXPECT_EQ(seen.Default, QMessageBox::No); // the safe answer is the default

    seen = AnswerNextBox(QMessageBox::Ok,
                         [&] { ShowExceptionMessage(std::runtime_error("disk on fire")); });
    EXPECT_EQ(seen.Caption, "Error");
    EXPECT_EQ(seen.Text, "disk on fire");
    EXPECT_EQ(seen.Icon, QMessageBox::Critical);

    // Captions follow the language.
    ASSERT_TRUE(UseLanguage("de"));
    seen = AnswerNextBox(QMessageBox::Ok, [&] { ShowError("x"); });
    EXPECT_EQ(seen.Caption, QString::fromStdString(Tr("Error")));
    EXPECT_NE(seen.Caption, "Error");
    UseLanguage("en");
}

} // namespace
} // namespace qv
