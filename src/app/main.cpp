// quorvel: the program entry. The window and the command-line export come later; until
// then the program explains how it will be used.

#include "support/QvLogger.h"
#include "support/Translate.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const Usage = "Usage: quorvel [DIR]\n"
                          "\n"
                          "Quorvel shows what takes up the space on your disks.\n"
                          "\n"
                          "  DIR        the directory to scan at start\n"
                          "  --help     show this text\n";

} // namespace

int main(int argc, char** argv) {
    qv::ConfigureLogging();
    qv::UseLanguage(qv::DefaultLanguage());
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    std::fputs(Usage, stderr);
    return 2;
}
