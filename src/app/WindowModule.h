#pragma once
// The window lives in a module of its own, quorvel-window.so, which the executable loads
// only when a window is to start: the export mode, --help and --version then run without
// mapping Qt's GUI libraries and everything they pull in. The module carries its own copy
// of the core (linked statically into both, and bound to itself), so it sets up logging,
// the language and the rest again for that copy.
//
// The module is looked for beside the running executable (a build folder, a program
// unpacked anywhere) and in ../lib/quorvel/ relative to its folder (an installed bin/).

#include <iosfwd>
#include <string>
#include <vector>

namespace qv {

// The file name of the module.
inline constexpr const char* WindowModuleName = "quorvel-window.so";

// The name of the one function the module exports, and its type: the window's main.
inline constexpr const char* WindowEntryName = "QvWindowMain";
using TWindowEntry = int(int Argc, char** Argv);

// Where the module is looked for, in that order, for the executable Exe.
[[nodiscard]] std::vector<std::string> WindowModuleCandidates(const std::string& Exe);

// Loads the module found first and runs the window through its entry; returns the
// window's exit status, or 1 with a message on Err when no module is found or it cannot
// be loaded.
int RunWindowModule(int Argc, char** Argv, std::ostream& Err);

} // namespace qv
