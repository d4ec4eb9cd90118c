// The version note reader on files of any content: every offset of an ELF file is checked
// against the file's size, so truncated or forged headers give no version, never a crash.

#include "FuzzSupport.h"
#include "support/FileVersion.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    static const std::string file = qv::fuzz::WorkFolder() + "/executable";
    qv::fuzz::WriteFile(file, qv::fuzz::AsText(Data, Size));
    const std::string version = qv::GetFileVersion(file);
    // Four numbers and three dots, or nothing.
    if (!version.empty() && (version.find_first_not_of("0123456789.") != std::string::npos ||
                             std::count(version.begin(), version.end(), '.') != 3))
        qv::fuzz::Broken("a version that is not four numbers");
    return 0;
}
