#pragma once
// The application object of the window mode: an exception that escapes an event handler
// is logged and the program goes on, instead of Qt's abort.

#include <QApplication>
#include <string>

namespace qv {

class TQvApplication final : public QApplication {
public:
    TQvApplication(int& Argc, char** Argv);
    bool notify(QObject* Receiver, QEvent* Event) override;
};

// Switches the language of the program's texts (our catalogs) and of Qt's own (dialog
// buttons, file dialogs, shortcut names; Qt's translations for the language when they are
// installed) to Code. Every widget then gets a LanguageChange event, on which the program's
// windows translate themselves again. Returns whether our catalogs have the language.
// GUI thread.
bool ChangeLanguage(const std::string& Code);

} // namespace qv
