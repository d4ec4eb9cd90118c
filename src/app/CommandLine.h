#pragma once
// The command-line front end: `quorvel --export FORMAT ...` scans on the scan threads and
// writes one export without any window.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace qv {

struct TCommandLine {
    enum TMode { cmUsage, cmHelp, cmVersion, cmExport, cmWindow };
    TMode Mode = cmUsage;
    std::string Format;                 // csv, txt, html, xml, xml2 or 1..5
    std::string Output;                 // empty or "-": standard output
    std::optional<long long> GroupSize; // --group-size; 0 with --no-grouping
    std::optional<int> Rounding;        // --rounding
    bool LocalDrives = false;
    bool SizeOnDisk = false; // --size-on-disk: the CSV's fourth column
    bool CountLinks = false; // --count-links: a file with several names counts at each
    std::string Path;
    std::string Error; // why the arguments are wrong (Mode is cmUsage then)
};

// Reads the arguments (without the program name).
[[nodiscard]] TCommandLine ParseCommandLine(const std::vector<std::string>& Args);

// The usage text, translated.
[[nodiscard]] std::string UsageText();

// Runs the export mode and returns the exit status: 0 done, 1 when the path cannot be
// scanned or the output cannot be written (a message on Err), 2 for wrong usage.
int RunExport(const TCommandLine& Options, std::ostream& Out, std::ostream& Err);

// The whole command line: returns the exit status, or -1 when the window should start.
int RunCommandLine(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

} // namespace qv
