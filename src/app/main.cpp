// quorvel: the program entry. With --export it scans and writes one export without a
// window; the window itself comes later.

#include "app/CommandLine.h"
#include "support/QvLogger.h"
#include "support/Translate.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    qv::ConfigureLogging();
    qv::UseLanguage(qv::DefaultLanguage());
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return qv::RunCommandLine(args, std::cout, std::cerr);
}
