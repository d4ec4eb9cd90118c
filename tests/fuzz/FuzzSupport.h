#pragma once
// What the fuzz targets share: a private folder for the files an input becomes, and the
// stop that turns a broken promise into a finding.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace qv::fuzz {

// A folder of this process, made once and removed when the run ends; every input is
// written over the same files, so it does not grow.
inline const std::string& WorkFolder() {
    struct TFolder {
        std::string Path;
        TFolder() : Path("/tmp/qvfuzz-XXXXXX") {
            if (::mkdtemp(Path.data()) == nullptr)
                std::abort();
        }
        ~TFolder() {
            std::error_code ignored;
            std::filesystem::remove_all(Path, ignored);
        }
    };
    static const TFolder folder;
    return folder.Path;
}

inline void WriteFile(const std::string& Path, std::string_view Bytes) {
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out.write(Bytes.data(), std::streamsize(Bytes.size()));
    if (!out)
        std::abort();
}

inline std::string_view AsText(const std::uint8_t* Data, std::size_t Size) {
    return {reinterpret_cast<const char*>(Data), Size};
}

// A property the code promises did not hold: libFuzzer keeps the input as a crash.
[[noreturn]] inline void Broken(const char* What) {
    std::fprintf(stderr, "broken promise: %s\n", What);
    std::abort();
}

} // namespace qv::fuzz
