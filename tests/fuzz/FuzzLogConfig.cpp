// log.cfg: whatever the file holds is applied or reported without a crash, a hang or a
// runaway expansion, and a few lines logged through it afterwards land where it says.
//
// A log.cfg may name any file to write, and the fuzzer may run as root. So the files an
// input names stay inside the work folder: every "/" of the input becomes "_", the
// environment (whose values could name any folder) is emptied but for HOME, which points
// into the work folder, and the configuration sits one level down, so that ".." lands inside
// too. Console appenders, the one-line diagnostics and log4cxx's own messages would fill
// the terminal input after input; libFuzzer is told to close the target's standard output
// and error, keeping its own output and the sanitizers' reports.

#include "FuzzSupport.h"
#include "support/QvLogger.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string& ConfigFile() {
    static const std::string file = [] {
        ::clearenv();
        ::setenv("HOME", (qv::fuzz::WorkFolder() + "/home").c_str(), 1);
        return qv::fuzz::WorkFolder() + "/cfg/log.cfg";
    }();
    return file;
}

// The log files of one input must not add up over a long run.
void EmptyWorkFolder() {
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(qv::fuzz::WorkFolder(), ignored))
        fs::remove_all(entry.path(), ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> args(*argv, *argv + *argc);
    const bool given = std::any_of(args.begin(), args.end(), [](const char* Arg) {
        return std::string_view(Arg).starts_with("-close_fd_mask=");
    });
    if (!given && !args.empty()) {
        static char closeOutput[] = "-close_fd_mask=3";
        args.insert(args.begin() + 1, closeOutput);
        *argc = int(args.size());
        args.push_back(nullptr);
        *argv = args.data();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    std::string text(qv::fuzz::AsText(Data, Size));
    std::replace(text.begin(), text.end(), '/', '_');
    const bool applied = qv::ConfigureLoggingFromText(text, ConfigFile());
    if (applied != qv::IsLoggingConfigured())
        qv::fuzz::Broken("the result of configuring differs from the state it left");
    qv::LogDebug("debug line");
    qv::LogInfo("info line \xE4\xB8\xAD");
    qv::LogError("error line");
    qv::ResetLogging();
    if (qv::IsLoggingConfigured())
        qv::fuzz::Broken("logging is still configured after a reset");
    EmptyWorkFolder();
    return 0;
}
