// quorvel: the program entry. With --export it scans and writes one export without a
// window; otherwise the main window starts, scanning the directory named first, if any.

#include "app/CommandLine.h"
#include "app/FormMain.h"
#include "app/QvApplication.h"
#include "platform/Display.h"
#include "platform/NamedMutex.h"
#include "settings/QvSettings.h"
#include "support/QvLogger.h"
#include "support/Translate.h"

#include <QScreen>
#include <clocale>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    qv::ConfigureLogging();
    qv::UseLanguage(qv::DefaultLanguage());
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = qv::RunCommandLine(args, std::cout, std::cerr);
    if (status >= 0) {
        return status;
    }

    if (const std::optional<std::string> message = qv::NoDisplayMessage()) {
        std::cerr << "quorvel: " << *message << '\n';
        return 1;
    }
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
    for (const std::string& arg : args) {
        if (arg != "--") {
            params.push_back(arg);
        }
    }
    qv::TFormMain window(params);
    window.show();
    return app.exec();
}
