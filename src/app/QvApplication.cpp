#include "app/QvApplication.h"

#include "app/FormInfo.h"
#include "support/QvLogger.h"
#include "support/Translate.h"

#include <QEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWidget>
#include <exception>
#include <memory>
#include <string>

namespace qv {

TQvApplication::TQvApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {
    setApplicationName(QStringLiteral("Quorvel"));
    // Lets Wayland shells match the window with the installed desktop entry and its icon.
    setDesktopFileName(QStringLiteral("org.quorvel.Quorvel"));
    setWindowIcon(AppIcon());
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

bool ChangeLanguage(const std::string& Code) {
    const bool found = UseLanguage(Code);
    // Qt's own texts follow the catalog actually in use ("de" for de_AT, "en" without one).
    static std::unique_ptr<QTranslator> QtTexts;
    const std::string language = CurrentLanguage().empty() ? "en" : CurrentLanguage();
    auto next = std::make_unique<QTranslator>();
    const bool loaded =
        next->load(QLocale(QString::fromStdString(language)), QStringLiteral("qtbase"),
                   QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    const bool changed = QtTexts || loaded;
    if (QtTexts)
        QCoreApplication::removeTranslator(QtTexts.get());
    QtTexts.reset();
    if (loaded) {
        QCoreApplication::installTranslator(next.get());
        QtTexts = std::move(next);
    } else if (language != "en") {
        LogInfo("No translations of Qt's own texts for " + language);
    }
    // Installing or removing a translator tells every widget; otherwise it is done here.
    if (!changed) {
        for (QWidget* widget : QApplication::allWidgets()) {
            QEvent event(QEvent::LanguageChange);
            QCoreApplication::sendEvent(widget, &event);
        }
    }
    return found;
}

} // namespace qv
