#pragma once
// The version of an executable file, read from the version note the build puts into every
// Quorvel executable (an ELF note of owner "Quorvel", type 1: four 32-bit numbers).

#include <string>

namespace qv {

// "major.minor.release.build" of FileName's version note; empty when the file has none or
// cannot be read (not ELF, truncated, no note). Notes are found through the program
// headers, so stripped files keep their version.
[[nodiscard]] std::string GetFileVersion(const std::string& FileName);

// The translated word "Version", a blank and "major", then ".minor", then ".release" when it
// is not 0; the build number is never shown. Empty when the file has no version.
[[nodiscard]] std::string VersionText(const std::string& FileName);

// The running executable (/proc/self/exe).
[[nodiscard]] std::string ExecutableFileName();

} // namespace qv
