#pragma once
// The program's message boxes: parented to no window, captions translated.

#include <exception>
#include <string>

namespace qv {

// An error box ("Error") with an OK button.
void ShowError(const std::string& Msg);
// ShowError with the exception's message.
void ShowExceptionMessage(const std::exception& E);
// A question ("Confirmation") with Yes and No; true when Yes was chosen.
[[nodiscard]] bool ConfirmYesNo(const std::string& Msg);
// A warning ("Warning") with Yes and No; true when Yes was chosen.
[[nodiscard]] bool WarnYesNo(const std::string& Msg);

} // namespace qv
