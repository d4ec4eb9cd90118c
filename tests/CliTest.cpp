// The command line, run as a real process: exit statuses, messages, outputs.

#include "TestTree.h"
#include "support/FileVersion.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qv {
namespace {

using test::TTempDir;

struct TRun {
    int Status = -1; // the exit status, -1 when a signal ended the process
    int Signal = 0;  // that signal
    std::string Out;
    std::string Err;
};

std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Environment variables to set for one run; a null value unsets the variable.
using TEnv = std::vector<std::pair<const char*, const char*>>;

// The folder of the quorvel built beside this test.
std::string BuildFolder() {
    return ExecutableFileName().substr(0, ExecutableFileName().rfind('/'));
}

// Starts Exe with a private settings folder; standard output goes to OutFd when given,
// else like standard error to a file in Io.
pid_t StartExe(const std::string& Exe, const std::vector<std::string>& Args,
               const std::string& ConfigHome, const TTempDir& Io, const TEnv& Env = {},
               int OutFd = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out =
            OutFd >= 0 ? OutFd : ::open((Io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open((Io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        // Whatever this test was started with, the signals act as they do in a shell; and a
        // run that hangs ends rather than the whole test.
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            std::signal(s, SIG_DFL);
        ::alarm(120);
        ::setenv("XDG_CONFIG_HOME", ConfigHome.c_str(), 1);
        ::setenv("LANGUAGE", "en", 1);
        for (const auto& [name, value] : Env)
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        std::vector<char*> argv{const_cast<char*>(Exe.c_str())};
        for (const std::string& a : Args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(Exe.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

// Starts the quorvel built beside this test.
pid_t Start(const std::vector<std::string>& Args, const std::string& ConfigHome, const TTempDir& Io,
            const TEnv& Env = {}, int OutFd = -1) {
    return StartExe(BuildFolder() + "/quorvel", Args, ConfigHome, Io, Env, OutFd);
}

TRun Wait(pid_t Pid, const TTempDir& Io) {
    TRun run;
    int status = 0;
    ::waitpid(Pid, &status, 0);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.Out = ReadFile(Io / "out");
    run.Err = ReadFile(Io / "err");
    return run;
}

// Runs quorvel to its end.
TRun Quorvel(const std::vector<std::string>& Args, const std::string& ConfigHome,
             const TEnv& Env = {}, int OutFd = -1, const std::string& Exe = {}) {
    TTempDir io;
    return Wait(
        StartExe(Exe.empty() ? BuildFolder() + "/quorvel" : Exe, Args, ConfigHome, io, Env, OutFd),
        io);
}

TEST(CliTest, HelpVersionAndWrongUsage) {
    TTempDir config;
    const TRun help = Quorvel({"--help"}, config.Path());
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("--export FORMAT"), std::string::npos);
    EXPECT_EQ(help.Err, "");

    const TRun version = Quorvel({"--version"}, config.Path());
    EXPECT_EQ(version.Status, 0);
    EXPECT_TRUE(version.Out.starts_with("Quorvel Version ")) << version.Out;

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--export"},
          {"--export", "pdf", "/"},
          {"--export", "csv"},
          {"--export", "csv", "--local-drives", "/"},
          {"--export", "csv", "--group-size", "x", "/"},
          {"--export", "csv", "--group-size", "5", "--no-grouping", "/"},
          {"--export", "csv", "--rounding", "3", "/"},
          {"--bogus"},
          {"--output", "x", "/"}}) {
        const TRun run = Quorvel(bad, config.Path());
        EXPECT_EQ(run.Status, 2) << testing::PrintToString(bad);
        EXPECT_NE(run.Err.find("Usage:"), std::string::npos);
        EXPECT_EQ(run.Out, "");
    }
}

TEST(CliTest, ExportsAScanQuietly) {
    TTempDir t, config;
    t.File("a/x", 1000);
    t.File("a/y", 24);
    t.File("b,c/z", 7);
    const TRun csv = Quorvel({"--export", "csv", t.Path()}, config.Path());
    EXPECT_EQ(csv.Status, 0) << csv.Err;
    EXPECT_EQ(csv.Err, ""); // no terminal: no progress, nothing else
    EXPECT_NE(csv.Out.find(t.Path() + ",1031,3\r\n"), std::string::npos) << csv.Out;
    EXPECT_NE(csv.Out.find(t / "a" + ",1024,2\r\n"), std::string::npos) << csv.Out;
    EXPECT_NE(csv.Out.find("\"" + t / "b,c" + "\",7,1\r\n"), std::string::npos) << csv.Out;

    // The format may be given by number; the output goes to a file.
    const TRun file =
        Quorvel({"--export", "1", "--output", t / "out.csv", t.Path()}, config.Path());
    EXPECT_EQ(file.Status, 0) << file.Err;
    EXPECT_EQ(file.Out, "");
    EXPECT_EQ(ReadFile(t / "out.csv"), csv.Out);

    // A relative path is scanned as the absolute one.
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(t.Path());
    const TRun relative = Quorvel({"--export", "csv", "a/"}, config.Path());
    std::filesystem::current_path(cwd);
    EXPECT_EQ(relative.Out, t / "a" + ",1024,2\r\n");
}

TEST(CliTest, SettingsAndOptionsChooseRoundingAndGrouping) {
    TTempDir t, config;
    t.File("d/f", 10235);
    // Rounding from the settings file as the window would use it; --rounding overrides.
    config.MkDir("Quorvel");
    std::ofstream(config / "Quorvel/Quorvel.ini") << "[Settings]\r\nFileSizeRounding=1\r\n";
    const TRun bankers = Quorvel({"--export", "txt", t.Path()}, config.Path());
    EXPECT_EQ(bankers.Status, 0) << bankers.Err;
    EXPECT_NE(bankers.Out.find("(10 KB, 1 File)"), std::string::npos) << bankers.Out;
    const TRun down = Quorvel({"--export", "txt", "--rounding", "2", t.Path()}, config.Path());
    EXPECT_NE(down.Out.find("(9.99 KB, 1 File)"), std::string::npos) << down.Out;
    const TRun raw = Quorvel({"--export", "txt", "--rounding", "0", t.Path()}, config.Path());
    EXPECT_NE(raw.Out.find("(10235, 1 File)"), std::string::npos) << raw.Out;
    // The CSV always has byte counts.
    const TRun csv = Quorvel({"--export", "csv", "--rounding", "1", t.Path()}, config.Path());
    EXPECT_NE(csv.Out.find(",10235,1\r\n"), std::string::npos) << csv.Out;
    // The command line never writes the settings.
    EXPECT_EQ(ReadFile(config / "Quorvel/Quorvel.ini"), "[Settings]\r\nFileSizeRounding=1\r\n");
}

// --size-on-disk adds the CSV's fourth column; the XML formats always carry the value.
TEST(CliTest, SizeOnDiskColumn) {
    TTempDir t, config;
    t.Data("d/f", 5000);
    const std::string onDisk = std::to_string(test::DiskSums(t / "d", true)[t / "d"].OnDisk);
    ASSERT_NE(onDisk, "0");
    const TRun csv = Quorvel({"--export", "csv", "--size-on-disk", t.Path()}, config.Path());
    EXPECT_EQ(csv.Status, 0) << csv.Err;
    EXPECT_NE(csv.Out.find(t.Path() + ",5000,1," + onDisk + "\r\n"), std::string::npos) << csv.Out;
    const TRun plain = Quorvel({"--export", "csv", t.Path()}, config.Path());
    EXPECT_NE(plain.Out.find(t.Path() + ",5000,1\r\n"), std::string::npos) << plain.Out;
    // Only the CSV takes the option.
    const TRun xml = Quorvel({"--export", "xml", "--size-on-disk", t.Path()}, config.Path());
    EXPECT_EQ(xml.Status, 2);
    EXPECT_NE(xml.Err.find("Usage:"), std::string::npos);
    const TRun xml2 = Quorvel({"--export", "xml2", t.Path()}, config.Path());
    EXPECT_NE(xml2.Out.find("size=\"5000\" filecount=\"1\" sizeondisk=\"" + onDisk + "\""),
              std::string::npos)
        << xml2.Out;
    const TRun help = Quorvel({"--help"}, config.Path());
    EXPECT_NE(help.Out.find("--size-on-disk"), std::string::npos);
}

// A file with several names counts once, at the first name met, unless the settings or
// --count-links say otherwise.
TEST(CliTest, LinkedFilesCountOnceUnlessAskedOtherwise) {
    TTempDir t, config;
    t.Data("d/f", 5000);
    t.HardLink("d/f", "e/f-again");
    const TRun once = Quorvel({"--export", "csv", "--size-on-disk", t.Path()}, config.Path());
    EXPECT_EQ(once.Status, 0) << once.Err;
    EXPECT_NE(once.Out.find(t.Path() + ",5000,1,"), std::string::npos) << once.Out;
    EXPECT_NE(once.Out.find(",0,0,0\r\n"), std::string::npos) << once.Out; // the later name
    const TRun every =
        Quorvel({"--export", "csv", "--count-links", "--size-on-disk", t.Path()}, config.Path());
    EXPECT_NE(every.Out.find(t.Path() + ",10000,2,"), std::string::npos) << every.Out;
    EXPECT_EQ(every.Out.find(",0,0,0\r\n"), std::string::npos) << every.Out;
    // The setting off counts every name too, also in the XML formats.
    config.MkDir("Quorvel");
    std::ofstream(config / "Quorvel/Quorvel.ini") << "[Settings]\nCountHardLinksOnce=0\n";
    const TRun plain = Quorvel({"--export", "csv", t.Path()}, config.Path());
    EXPECT_NE(plain.Out.find(t.Path() + ",10000,2\r\n"), std::string::npos) << plain.Out;
    const TRun xml2 = Quorvel({"--export", "xml2", t.Path()}, config.Path());
    EXPECT_NE(xml2.Out.find("size=\"10000\" filecount=\"2\""), std::string::npos) << xml2.Out;
    EXPECT_EQ(Quorvel({"--count-links", t.Path()}, config.Path()).Status, 2); // needs --export
    const TRun help = Quorvel({"--help"}, config.Path());
    EXPECT_NE(help.Out.find("--count-links"), std::string::npos);
}

TEST(CliTest, WithoutADisplayTheWindowPointsToTheExport) {
    TTempDir t, config;
    t.File("a", 10);
    const TEnv headless = {
        {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}, {"QT_QPA_PLATFORM", nullptr}};
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"/tmp"}}) {
        const TRun run = Quorvel(args, config.Path(), headless);
        EXPECT_EQ(run.Status, 1) << run.Err;
        EXPECT_EQ(run.Err, "quorvel: no display found. To scan without a window, use --export "
                           "(see quorvel --help).\n");
    }
    TEnv german = headless;
    german.emplace_back("LANGUAGE", "de");
    const TRun translated = Quorvel({}, config.Path(), german);
    EXPECT_EQ(translated.Status, 1);
    EXPECT_TRUE(translated.Err.starts_with("quorvel: Keine Anzeige")) << translated.Err;

    // A display on this machine that no X server serves.
    TEnv dead = headless;
    dead.front().second = ":7913";
    const TRun unreachable = Quorvel({t.Path()}, config.Path(), dead);
    EXPECT_EQ(unreachable.Status, 1);
    EXPECT_NE(unreachable.Err.find(":7913"), std::string::npos) << unreachable.Err;
    EXPECT_NE(unreachable.Err.find("--export"), std::string::npos) << unreachable.Err;
    EXPECT_EQ(unreachable.Err.find("Reinstalling"), std::string::npos) << unreachable.Err;

    // What needs no window works without a display.
    EXPECT_EQ(Quorvel({"--help"}, config.Path(), headless).Status, 0);
    const TRun csv = Quorvel({"--export", "csv", t.Path()}, config.Path(), headless);
    EXPECT_EQ(csv.Status, 0) << csv.Err;
    EXPECT_EQ(csv.Out, t.Path() + ",10,1\r\n");
}

// Every library the dynamic loader mapped for a run of quorvel with Args.
std::string LoadedLibraries(const std::vector<std::string>& Args, const std::string& ConfigHome) {
    TTempDir io, debug;
    const std::string prefix = debug / "ld";
    const TRun run = Wait(
        Start(Args, ConfigHome, io, {{"LD_DEBUG", "libs"}, {"LD_DEBUG_OUTPUT", prefix.c_str()}}),
        io);
    EXPECT_EQ(run.Status, 0) << run.Err;
    std::string libraries;
    for (const auto& entry : std::filesystem::directory_iterator(debug.Path()))
        libraries += ReadFile(entry.path());
    return libraries;
}

// What needs no window maps none of the GUI libraries: the window lives in a module that is
// loaded only for it, beside the program or, installed, in ../lib/quorvel/.
TEST(CliTest, OnlyTheWindowLoadsTheGuiLibraries) {
    TTempDir t, config;
    t.File("a", 10);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"--version"}, {"--export", "csv", t.Path()}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const std::string libraries = LoadedLibraries(args, config.Path());
        EXPECT_NE(libraries.find("libstdc++"), std::string::npos) << libraries;
        for (const char* gui :
             {"Qt6", "libX", "libxcb", "libGL", "fontconfig", "dbus", "quorvel-window"})
            EXPECT_EQ(libraries.find(gui), std::string::npos) << gui;
    }

    // A copy of the program: the module beside it or in ../lib/quorvel/, and the window
    // starts; the module missing or damaged, and a message says which and why.
    namespace fs = std::filesystem;
    const TEnv offscreen = {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", nullptr}};
    t.MkDir("bin");
    t.MkDir("lib/quorvel");
    fs::copy_file(BuildFolder() + "/quorvel", t / "bin/quorvel");
    for (const char* place : {"bin", "lib/quorvel"}) {
        SCOPED_TRACE(place);
        const std::string module = t / place + "/quorvel-window.so";
        fs::copy_file(BuildFolder() + "/quorvel-window.so", module);
        TTempDir io;
        const pid_t pid = StartExe(t / "bin/quorvel", {t / "a"}, config.Path(), io, offscreen);
        bool up = false;
        for (int i = 0; i < 300 && !up; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const std::string maps = ReadFile("/proc/" + std::to_string(pid) + "/maps");
            up = maps.find(module) != std::string::npos &&
                 maps.find("libQt6Widgets") != std::string::npos;
        }
        ::kill(pid, SIGKILL);
        const TRun window = Wait(pid, io);
        EXPECT_TRUE(up) << window.Err;
        fs::remove(module);
    }

    const TRun missing = Quorvel({}, config.Path(), offscreen, -1, t / "bin/quorvel");
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("quorvel: The window module is missing"), std::string::npos)
        << missing.Err;
    EXPECT_NE(missing.Err.find(t / "bin/../lib/quorvel/quorvel-window.so"), std::string::npos)
        << missing.Err;

    std::ofstream(t / "bin/quorvel-window.so") << "not a library";
    const TRun damaged = Quorvel({}, config.Path(), offscreen, -1, t / "bin/quorvel");
    EXPECT_EQ(damaged.Status, 1);
    EXPECT_NE(damaged.Err.find("quorvel: The window module " + t / "bin/quorvel-window.so" +
                               " cannot be loaded: "),
              std::string::npos)
        << damaged.Err;
}

TEST(CliTest, FailuresSayWhyAndLeaveNoFile) {
    TTempDir t, config;
    t.File("file", 1);
    const TRun missing = Quorvel({"--export", "csv", t / "missing"}, config.Path());
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("does not exist"), std::string::npos) << missing.Err;
    const TRun notDir = Quorvel({"--export", "csv", t / "file"}, config.Path());
    EXPECT_EQ(notDir.Status, 1);
    EXPECT_NE(notDir.Err.find("is not a directory"), std::string::npos) << notDir.Err;

    const TRun noFolder =
        Quorvel({"--export", "xml", "--output", t / "no/such/out.xml", t.Path()}, config.Path());
    EXPECT_EQ(noFolder.Status, 1);
    EXPECT_NE(noFolder.Err.find("out.xml"), std::string::npos) << noFolder.Err;
    struct stat st;
    EXPECT_NE(::stat((t / "no").c_str(), &st), 0);

    // An existing file survives a failed export untouched.
    t.MkDir("ro");
    std::ofstream(t / "ro/old.csv") << "keep me";
    t.Chmod("ro", 0555);
    const int status = test::RunUnprivileged([&] {
        const TRun run =
            Quorvel({"--export", "csv", "--output", t / "ro/old.csv", t / "ro"}, t.Path());
        return run.Status;
    });
    t.Chmod("ro", 0755);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ReadFile(t / "ro/old.csv"), "keep me");

    // A loop of links says so, as a path and as an output (which stays a link); a FIFO
    // that nobody reads is refused instead of waited on.
    t.Symlink("loop", "loop");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--export", "csv", t / "loop"},
          {"--export", "csv", "--output", t / "loop", t / "ro"}}) {
        const TRun loop = Quorvel(args, config.Path());
        EXPECT_EQ(loop.Status, 1);
        EXPECT_NE(loop.Err.find("Too many levels of symbolic links"), std::string::npos)
            << loop.Err;
    }
    std::error_code error;
    EXPECT_EQ(std::filesystem::read_symlink(t / "loop", error), "loop");
    t.Fifo("fifo");
    const TRun noReader =
        Quorvel({"--export", "csv", "--output", t / "fifo", t / "ro"}, config.Path());
    EXPECT_EQ(noReader.Status, 1) << noReader.Signal;
    EXPECT_NE(noReader.Err.find("no program is reading from the FIFO"), std::string::npos)
        << noReader.Err;
}

TEST(CliTest, StandardOutputThatFailsOrGoesAway) {
    TTempDir t, config;
    t.File("a/x", 10);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    const TRun noSpace =
        Quorvel({"--export", "csv", "--output", "-", t.Path()}, config.Path(), {}, full);
    ::close(full);
    EXPECT_EQ(noSpace.Status, 1);
    EXPECT_NE(noSpace.Err.find("No space left on device"), std::string::npos) << noSpace.Err;

    // A reader that quit, as `| head -1` does: the export stops quietly.
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    ::close(pipe[0]);
    const TRun gone = Quorvel({"--export", "txt", t.Path()}, config.Path(), {}, pipe[1]);
    ::close(pipe[1]);
    EXPECT_EQ(gone.Status, 0) << "signal " << gone.Signal;
    EXPECT_EQ(gone.Err, "");
}

// Waits until a file other than Keep with at least Bytes bytes is in Dir: the temporary
// file of the export. False when the process ended first.
bool WaitForTemporaryFile(pid_t Pid, const std::string& Dir, const std::string& Keep, off_t Bytes) {
    for (;;) {
        for (const auto& entry : std::filesystem::directory_iterator(Dir)) {
            struct stat st;
            if (entry.path().filename() != Keep && ::stat(entry.path().c_str(), &st) == 0 &&
                st.st_size >= Bytes)
                return true;
        }
        siginfo_t info{};
        if (::waitid(P_PID, id_t(Pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid)
            return false;
        ::usleep(200);
    }
}

TEST(CliTest, SignalsWhileWritingLeaveNoTemporaryFile) {
    TTempDir t, config;
    // Enough directories that the page takes a good while to write.
    for (int i = 0; i < 20000; ++i)
        t.MkDir("tree/" + std::to_string(i % 100) + "/a-directory-with-a-rather-long-name-" +
                std::to_string(i));
    t.MkDir("out");
    const std::string target = t / "out/tree.html";
    // When the file was just made, once something is written, and well into the page.
    for (const auto& [signal, bytes] : {std::pair{SIGTERM, 0}, {SIGINT, 1}, {SIGHUP, 1 << 20}}) {
        std::ofstream(target) << "old page";
        TTempDir io;
        const pid_t pid =
            Start({"--export", "html", "--output", target, t / "tree"}, config.Path(), io);
        const bool caught = WaitForTemporaryFile(pid, t / "out", "tree.html", bytes);
        ::kill(pid, signal);
        const TRun run = Wait(pid, io);
        ASSERT_TRUE(caught) << "the export ended before signal " << signal;
        EXPECT_EQ(run.Signal, signal) << run.Err;
        EXPECT_EQ(ReadFile(target), "old page");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t / "out"), {}), 1)
            << "signal " << signal;
    }
}

} // namespace
} // namespace qv
