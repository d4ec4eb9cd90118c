#include "app/QvApplication.h"

#include "support/QvLogger.h"

#include <exception>
#include <string>

namespace qv {

TQvApplication::TQvApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {
    setApplicationName(QStringLiteral("Quorvel"));
}

bool TQvApplication::notify(QObject* Receiver, QEvent* Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (const std::exception& E) {
        LogError(std::string("Unhandled exception: ") + E.what());
    } catch (...) {
        LogError("Unhandled exception of unknown type");
    }
    return false;
}

} // namespace qv
