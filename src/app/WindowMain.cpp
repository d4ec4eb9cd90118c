// The window's main, the one function exported by quorvel-window.so. The executable has
// handled every mode without a window and checked for a display; this copy of the core
// has seen nothing of that, so logging, the language and the rest are set up here.

#include "app/FormMain.h"
#include "app/QvApplication.h"
#include "app/WindowModule.h"
#include "platform/NamedMutex.h"
#include "settings/QvSettings.h"
#include "support/QvLogger.h"
#include "support/Translate.h"

#include <QScreen>
#include <clocale>
#include <string>
#include <vector>

extern "C" __attribute__((visibility("default"))) int QvWindowMain(int argc, char** argv) {
    // A mismatch between the loader's idea of the entry and this one fails to build.
    [[maybe_unused]] qv::TWindowEntry* const entry = &QvWindowMain;
    qv::ConfigureLogging();
    qv::UseLanguage(qv::DefaultLanguage());
    const qv::TNamedMutex running("Quorvel.Mutex");
    qv::TQvApplication app(argc, argv);
    // Qt resets LC_CTYPE from an unset LANG to "C"; the log needs UTF-8 to keep names.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    qv::SetScreenSizeProvider([] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? qv::TScreenSize{screen->size().width(), screen->size().height()}
                      : qv::TScreenSize{};
    });
    std::vector<std::string> params;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) != "--")
            params.emplace_back(argv[i]);
    qv::TFormMain window(params);
    window.show();
    return app.exec();
}
