#pragma once
// The application object of the window mode: an exception that escapes an event handler
// is logged and the program goes on, instead of Qt's abort.

#include <QApplication>

namespace qv {

class TQvApplication final : public QApplication {
public:
    TQvApplication(int& Argc, char** Argv);
    bool notify(QObject* Receiver, QEvent* Event) override;
};

} // namespace qv
