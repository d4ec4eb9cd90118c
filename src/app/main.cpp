// quorvel: the program entry. With --export it scans and writes one export without a
// window; otherwise the main window starts, scanning the directory named first, if any.
// The window is loaded from its own module (see WindowModule.h), so that nothing else
// maps the GUI libraries.

#include "app/CommandLine.h"
#include "app/WindowModule.h"
#include "platform/Display.h"
#include "support/QvLogger.h"
#include "support/Translate.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The window's module configures its own logging: this copy of the core logs only for
    // the modes without a window, and a log file opened here would stay open twice.
    const bool window = qv::ParseCommandLine(args).Mode == qv::TCommandLine::cmWindow;
    if (!window)
        qv::ConfigureLogging();
    qv::UseLanguage(qv::DefaultLanguage());
    if (!window)
        return qv::RunCommandLine(args, std::cout, std::cerr);

    if (const std::optional<std::string> message = qv::NoDisplayMessage()) {
        std::cerr << "quorvel: " << *message << '\n';
        return 1;
    }
    return qv::RunWindowModule(argc, argv, std::cerr);
}
