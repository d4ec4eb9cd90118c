#include "app/CommandLine.h"

#include "export/TextExports.h"
#include "export/TreeTypesExport.h"
#include "platform/SysError.h"
#include "scan/ScanThread.h"
#include "settings/QvSettings.h"
#include "support/FileVersion.h"
#include "support/QvThread.h"
#include "support/QvUtils.h"
#include "support/Translate.h"
#include "tree/TreeTypes.h"
#include "view/SizeFormat.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qv {

namespace {

using namespace std::chrono_literals;

std::string Format(std::string Text, const std::string& Value) {
    const std::size_t at = Text.find("%s");
    if (at != std::string::npos)
        Text.replace(at, 2, Value);
    return Text;
}

template <class T> bool ParseNumber(const std::string& Text, T& Value) {
    const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
    return !Text.empty() && error == std::errc() && end == Text.data() + Text.size();
}

// The path as the window would hold it: absolute, without "." components or a trailing
// "/", and otherwise as typed (links are not resolved).
std::string ScanPathOf(const std::string& Path) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path absolute = fs::absolute(Path, error);
    if (error)
        return Path;
    bool hasParentRef = false;
    for (const fs::path& part : absolute)
        hasParentRef |= part == "..";
    return WithoutTrailingDelimiter(
        (hasParentRef ? absolute : absolute.lexically_normal()).string());
}

// One line on a terminal that shows the directory being walked; nothing on anything else.
class TProgressLine {
public:
    TProgressLine() : Active(::isatty(STDERR_FILENO) == 1) {}

    void Show(const std::string& Path) {
        if (!Active || Path == Shown)
            return;
        Shown = Path;
        winsize size{};
        const int columns =
            ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        std::string text = Path;
        const std::size_t room = std::size_t(std::max(columns - 1, 8));
        if (text.size() > room)
            text = "..." + text.substr(text.size() - (room - 3));
        std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
        std::fflush(stderr);
    }

    void Finish(double Seconds) {
        if (!Active)
            return;
        char number[64];
        std::snprintf(number, sizeof number, "%.2f", Seconds);
        std::string text = number;
        const std::size_t dot = text.find('.');
        if (dot != std::string::npos)
            text.replace(dot, 1, NumberSeparators().Decimal);
        std::fprintf(stderr, "\r\x1b[K%s %s\n", text.c_str(), Tr("秒").c_str());
        std::fflush(stderr);
    }

private:
    bool Active;
    std::string Shown;
};

// The user's settings as the window would read them; defaults when there are none or the
// settings folder cannot even be made.
TSettings& LoadSettings() {
    try {
        TSettings& settings = AppSettings();
        settings.Load();
        return settings;
    } catch (const std::exception&) {
        std::string file;
        try {
            file = TSettings::GetIniFileName();
        } catch (const std::exception&) {
            file = "/nonexistent/Quorvel.ini";
        }
        ResetAppSettings(std::make_unique<TSettings>(file));
        return AppSettings();
    }
}

// Scans Root on the scan threads as the window does, pumping their termination events on
// this thread, and returns the seconds of the thread that ended last.
double ScanOnThreads(TRootNode& Root, bool LocalDrives) {
    TQueuedDispatcher dispatcher;
    TDirScanThreadList threads(9, dispatcher);
    double seconds = 0;
    auto ended = [&](TThread& Thread) {
        auto& scan = static_cast<TDirScanThread&>(Thread);
        seconds = scan.Scanner().ElapsedSeconds();
        // The root stops scanning before the totals are stored: UpdateTotals leaves a node
        // that is being scanned alone.
        if (threads.IsSettled())
            Root.SetScanning(false);
        for (TGroupNode* up = scan.Scanner().RootNode().Parent(); up; up = up->Parent())
            up->UpdateTotals();
    };
    if (LocalDrives) {
        Root.SetScanning(true);
        std::vector<TDirNode*> drives;
        {
            TChildrenLock guard(Root);
            for (TFileSystemNode* child : guard.Children().Items())
                drives.push_back(static_cast<TDirNode*>(child));
        }
        for (TDirNode* drive : drives)
            if (TDirScanThread* thread = threads.StartThread(*drive)) {
                thread->SetOnTerminate(ended);
                thread->Resume();
            }
    } else if (TDirScanThread* thread = threads.StartThread(Root)) {
        thread->SetOnTerminate(ended);
        thread->Resume();
    }
    TProgressLine progress;
    // Until the last end event has run: a thread unregisters before it delivers its event,
    // and a slow delivery would otherwise leave totals unstored.
    while (!threads.IsSettled()) {
        dispatcher.WaitAndPump(100ms);
        progress.Show(threads.GetCurrentPath());
    }
    threads.WaitForThreads();
    Root.SetScanning(false);
    progress.Finish(seconds);
    return seconds;
}

} // namespace

std::string UsageText() {
    return Tr("Usage: quorvel [DIR]\n"
              "       quorvel --export FORMAT [--output FILE] [--group-size BYTES | "
              "--no-grouping]\n"
              "               [--rounding STYLE] (PATH | --local-drives)\n"
              "       quorvel --help | --version\n"
              "\n"
              "Shows what takes up the space on your disks. With --export, scans PATH (or all\n"
              "local drives) and writes the result without opening a window.\n"
              "\n"
              "  FORMAT               csv, txt, html, xml or xml2 (or 1 to 5)\n"
              "  --output FILE        write to FILE instead of standard output (\"-\")\n"
              "  --group-size BYTES   group files smaller than BYTES\n"
              "  --no-grouping        list every file with its directory\n"
              "  --rounding STYLE     sizes in txt and html: 1 banker's rounding, 2 round down,\n"
              "                       0 plain byte counts\n"
              "  --local-drives       scan every local drive\n"
              "\n"
              "Options not given are taken from the settings file. Exit status: 0 done,\n"
              "1 the path cannot be scanned or the output cannot be written, 2 wrong usage.\n") +
           Tr("\n"
              "More export options:\n"
              "  --size-on-disk       csv: a fourth column with the bytes allocated on disk\n"
              "  --count-links        count a file with several names (hard links) at each\n"
              "                       name, instead of once\n");
}

TCommandLine ParseCommandLine(const std::vector<std::string>& Args) {
    TCommandLine options;
    auto fail = [&](const std::string& Message) {
        options.Mode = TCommandLine::cmUsage;
        options.Error = Message;
        return options;
    };
    // Without options the window starts; it scans the first parameter when that is a
    // directory and ignores the rest.
    const bool anyOption = std::any_of(
        Args.begin(), Args.end(), [](const std::string& a) { return a.size() > 1 && a[0] == '-'; });
    if (!anyOption) {
        options.Mode = TCommandLine::cmWindow;
        options.Path = Args.empty() ? std::string() : Args[0];
        return options;
    }
    if (Args.size() == 1 && (Args[0] == "--help" || Args[0] == "-h")) {
        options.Mode = TCommandLine::cmHelp;
        return options;
    }
    if (Args.size() == 1 && Args[0] == "--version") {
        options.Mode = TCommandLine::cmVersion;
        return options;
    }
    bool exportMode = false;
    for (std::size_t i = 0; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        auto value = [&](std::string& Out) {
            if (i + 1 >= Args.size())
                return false;
            Out = Args[++i];
            return true;
        };
        std::string text;
        if (arg == "--export") {
            if (!value(options.Format))
                return fail(Format(Tr("Option %s needs a value."), arg));
            exportMode = true;
        } else if (arg == "--output" || arg == "-o") {
            if (!value(options.Output))
                return fail(Format(Tr("Option %s needs a value."), arg));
        } else if (arg == "--group-size") {
            long long bytes = 0;
            if (!value(text) || !ParseNumber(text, bytes) || bytes < 0)
                return fail(Format(Tr("Option %s needs a number of bytes."), arg));
            if (options.GroupSize && *options.GroupSize == 0 && bytes != 0)
                return fail(Tr("--group-size and --no-grouping exclude each other."));
            options.GroupSize = bytes;
        } else if (arg == "--no-grouping") {
            if (options.GroupSize && *options.GroupSize != 0)
                return fail(Tr("--group-size and --no-grouping exclude each other."));
            options.GroupSize = 0;
        } else if (arg == "--rounding") {
            int style = 0;
            if (!value(text) || !ParseNumber(text, style) || style < 0 || style > 2)
                return fail(Tr("Option --rounding needs 0, 1 or 2."));
            options.Rounding = style;
        } else if (arg == "--local-drives") {
            options.LocalDrives = true;
        } else if (arg == "--size-on-disk") {
            options.SizeOnDisk = true;
        } else if (arg == "--count-links") {
            options.CountLinks = true;
        } else if (arg == "--") {
            if (i + 2 != Args.size() || !options.Path.empty())
                return fail(Tr("Give exactly one path."));
            options.Path = Args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail(Format(Tr("Unknown option %s."), arg));
        } else {
            if (!options.Path.empty())
                return fail(Tr("Give exactly one path."));
            options.Path = arg;
        }
    }
    if (!exportMode) {
        const bool onlyPath = options.Output.empty() && !options.GroupSize && !options.Rounding &&
                              !options.LocalDrives && !options.SizeOnDisk && !options.CountLinks &&
                              !options.Path.empty();
        if (!onlyPath)
            return fail(Tr("These options need --export."));
        options.Mode = TCommandLine::cmWindow;
        return options;
    }
    if (options.LocalDrives == !options.Path.empty())
        return fail(Tr("Give either a path or --local-drives."));
    const TExportClass* exportClass = ExportRegistry().FindByCommandName(options.Format);
    if (!exportClass)
        return fail(Format(Tr("Unknown export format %s."), options.Format));
    if (options.SizeOnDisk && exportClass != &TCsvTextExport::Class)
        return fail(Tr("--size-on-disk is for the csv format (the XML formats always have it)."));
    options.Mode = TCommandLine::cmExport;
    return options;
}

int RunExport(const TCommandLine& Options, std::ostream& Out, std::ostream& Err) {
    const TExportClass* exportClass = ExportRegistry().FindByCommandName(Options.Format);
    if (!exportClass) {
        Err << "quorvel: " << Format(Tr("Unknown export format %s."), Options.Format) << '\n';
        return 2;
    }
    // A reader that quits early is no error: a write to it fails with EPIPE, and we stop.
    std::signal(SIGPIPE, SIG_IGN);
    RemoveUnfinishedSavesOnSignals();
    TSettings& settings = LoadSettings();
    if (Options.GroupSize) {
        settings.SetGroupSmallFiles(*Options.GroupSize > 0);
        if (*Options.GroupSize > 0)
            settings.SetGroupFileSize(*Options.GroupSize);
    }
    if (Options.CountLinks)
        settings.SetCountHardLinksOnce(false);
    const std::int64_t threshold = settings.GroupSmallFiles() ? settings.GroupFileSize() : 0;
    const int rounding = Options.Rounding ? *Options.Rounding : int(settings.FileSizeRounding());

    std::unique_ptr<TRootNode> root;
    if (Options.LocalDrives) {
        root = std::make_unique<TFixedDrivesNode>();
    } else {
        const std::string path = ScanPathOf(Options.Path);
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                Err << "quorvel: " << Format(Tr("%s does not exist."), Options.Path) << '\n';
            else
                Err << "quorvel: " << Options.Path << ": " << SysErrorMessage(errno) << '\n';
            return 1;
        }
        if (!S_ISDIR(st.st_mode)) {
            Err << "quorvel: " << Format(Tr("%s is not a directory."), Options.Path) << '\n';
            return 1;
        }
        auto dir = std::make_unique<TRootDirNode>();
        dir->SetName(path);
        root = std::move(dir);
    }
    root->SetGroupFileSize(threshold);
    ScanOnThreads(*root, Options.LocalDrives);

    std::unique_ptr<TTreeTypesExport> exporter = exportClass->Create(*root);
    // Formats meant for people get the sizes of the chosen rounding; the others byte counts.
    if (exportClass->ExportKind == 2 && (rounding == 1 || rounding == 2))
        exporter->SizeFormatter = SizeFormatterForStyle(rounding);
    if (auto* csv = dynamic_cast<TCsvTextExport*>(exporter.get()))
        csv->SizeOnDisk = Options.SizeOnDisk;
    try {
        if ((Options.Output.empty() || Options.Output == "-") && &Out == &std::cout) {
            // Straight to the descriptor, which tells why a write failed.
            Out.flush();
            try {
                exporter->SaveToDescriptor(STDOUT_FILENO);
            } catch (const std::system_error& e) {
                if (e.code().value() == EPIPE)
                    return 0;
                Err << "quorvel: "
                    << Format(Tr("Cannot write to standard output: %s"),
                              SysErrorMessage(e.code().value()))
                    << '\n';
                return 1;
            }
        } else if (Options.Output.empty() || Options.Output == "-") {
            exporter->SaveToStream(Out);
            Out.flush();
            if (!Out)
                throw std::runtime_error(Tr("Cannot write to standard output."));
        } else {
            exporter->SaveToFile(Options.Output);
        }
    } catch (const std::exception& e) {
        Err << "quorvel: " << e.what() << '\n';
        return 1;
    }
    return 0;
}

int RunCommandLine(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    const TCommandLine options = ParseCommandLine(Args);
    switch (options.Mode) {
    case TCommandLine::cmHelp:
        Out << UsageText();
        return 0;
    case TCommandLine::cmVersion:
        Out << "Quorvel " << VersionText(ExecutableFileName()) << '\n';
        return 0;
    case TCommandLine::cmExport:
        return RunExport(options, Out, Err);
    case TCommandLine::cmWindow:
        return -1;
    case TCommandLine::cmUsage:
        break;
    }
    if (!options.Error.empty())
        Err << "quorvel: " << options.Error << '\n';
    Err << UsageText();
    return 2;
}

} // namespace qv
