#include "app/MessageBoxes.h"

#include "support/Translate.h"

#include <QMessageBox>
#include <QString>

namespace qv {

namespace {

QMessageBox::StandardButton Ask(QMessageBox::Icon Icon, const char* Caption, const std::string& Msg,
                                QMessageBox::StandardButtons Buttons,
                                QMessageBox::StandardButton Default) {
    QMessageBox box(Icon, QString::fromStdString(Tr(Caption)), QString::fromStdString(Msg),
                    Buttons);
    box.setDefaultButton(Default);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

void ShowError(const std::string& Msg) {
    Ask(QMessageBox::Critical, TrNoop("Error"), Msg, QMessageBox::Ok, QMessageBox::Ok);
}

void ShowExceptionMessage(const std::exception& E) {
    ShowError(E.what());
}

bool ConfirmYesNo(const std::string& Msg) {
    return Ask(QMessageBox::Question, TrNoop("Confirmation"), Msg,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

bool WarnYesNo(const std::string& Msg) {
    // A warning asks before something risky: No is the safe default.
    return Ask(QMessageBox::Warning, TrNoop("Warning"), Msg, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::No) == QMessageBox::Yes;
}

} // namespace qv
