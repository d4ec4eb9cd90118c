// The logger against real configuration files and real log files read back, and the
// profiler's stopwatches and its line on standard error.

#include "TestTree.h"
#include "support/QvLogger.h"
#include "support/QvProfiler.h"

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace qv;

namespace {

using test::TTempDir;

void WriteFile(const fs::path& Name, std::string_view Text) {
    std::ofstream(Name, std::ios::binary | std::ios::trunc)
        .write(Text.data(), std::streamsize(Text.size()));
}

std::string ReadFile(const fs::path& Name) {
    std::ostringstream text;
    text << std::ifstream(Name, std::ios::binary).rdbuf();
    return text.str();
}

std::vector<std::string> SplitLines(const std::string& Text) {
    std::vector<std::string> lines;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::size_t CountLines(const std::string& Text) {
    return std::size_t(std::count(Text.begin(), Text.end(), '\n'));
}

std::string ReplaceAll(std::string Text, std::string_view From, std::string_view To) {
    for (auto at = Text.find(From); at != std::string::npos; at = Text.find(From, at + To.size()))
        Text.replace(at, From.size(), To);
    return Text;
}

// Runs Do when the scope ends, also when an assertion leaves it early.
struct TAtExit {
    std::function<void()> Do;
    ~TAtExit() { Do(); }
};

// Sets the environment variable Name until the returned object goes.
TAtExit SetEnv(const char* Name, const std::string& Value) {
    const char* old = std::getenv(Name);
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv(Name, Value.c_str(), 1);
    return {[Name, saved] { saved ? ::setenv(Name, saved->c_str(), 1) : ::unsetenv(Name); }};
}

// Everything written to file descriptor 2 while it lives, whoever writes it.
class TStderrCapture {
public:
    TStderrCapture() : File(std::tmpfile()) {
        std::fflush(stderr);
        Saved = ::dup(STDERR_FILENO);
        ::dup2(::fileno(File), STDERR_FILENO);
    }
    TStderrCapture(const TStderrCapture&) = delete;
    ~TStderrCapture() {
        Finish();
        std::fclose(File);
    }

    // Restores standard error and returns what was captured.
    std::string Finish() {
        if (Saved >= 0) {
            std::fflush(stderr);
            ::dup2(Saved, STDERR_FILENO);
            ::close(Saved);
            Saved = -1;
            std::rewind(File);
            for (int c; (c = std::fgetc(File)) != EOF;)
                Text += char(c);
        }
        return Text;
    }

private:
    FILE* File;
    int Saved = -1;
    std::string Text;
};

// The message of a line of the example's layout "date time level [thread] message"; empty
// when the line has another shape.
std::string ExampleMessage(const std::string& Line, std::string Level) {
    Level.resize(5, ' ');
    std::smatch match;
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )" + Level +
                           R"( \[.+?\] (.*))");
    return std::regex_match(Line, match, shape) ? match[1].str() : "";
}

// Each test gets a folder for its log.cfg and log files and leaves logging unconfigured.
class LoggerConfigTest : public testing::Test {
protected:
    void TearDown() override { ResetLogging(); }

    fs::path File(const std::string& Name) const { return fs::path(Dir.Path()) / Name; }
    std::string Read(const std::string& Name) const { return ReadFile(File(Name)); }

    // Writes Text as log.cfg, with "<dir>" standing for the test's folder, and configures
    // from it; Diagnostic holds what went to standard error.
    bool Configure(const std::string& Text) {
        WriteFile(File("log.cfg"), ReplaceAll(Text, "<dir>", Dir.Path()));
        return ConfigureFile(File("log.cfg"));
    }
    bool ConfigureFile(const fs::path& Name) {
        TStderrCapture capture;
        const bool applied = ConfigureLogging(Name.string());
        Diagnostic = capture.Finish();
        return applied;
    }

    // A Log4D file appender Name writing "LEVEL|message" lines to Rel in the test's folder.
    static std::string FileAppender(const std::string& Name, const std::string& Rel) {
        const std::string a = "log4d.appender." + Name;
        return a + "=TLogFileAppender\n" + a + ".fileName=<dir>/" + Rel + "\n" + a +
               ".append=false\n" + a + ".layout=TLogPatternLayout\n" + a +
               ".layout.pattern=%p|%m%n\n";
    }

    TTempDir Dir;
    std::string Diagnostic;
};

// ---------------------------------------------------------------------------------------
// Appenders and layouts

TEST_F(LoggerConfigTest, FileAppendersWithLog4DAndLog4jNamesAndTheirLayouts) {
    // The program's one logger; code asking log4cxx directly reaches the same registry.
    const log4cxx::LoggerPtr logger = GetLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->getName(), "Quorvel");
    EXPECT_EQ(GetLogger(), logger);
    EXPECT_EQ(log4cxx::LogManager::getLogger("Quorvel"), logger);

    // The old log is kept when asked to; every other test's appenders truncate theirs.
    WriteFile(File("q.log"), "old line\n");
    ASSERT_TRUE(Configure(R"(# Quorvel's log
log4d.rootLogger=DEBUG,F
log4d.appender.F=TLogFileAppender
log4d.appender.F.fileName=<dir>/q.log
log4d.appender.F.append=true
log4d.appender.F.layout=TLogPatternLayout
log4d.appender.F.layout.pattern=[%p] %c: %m%n
)"));
    EXPECT_EQ(Diagnostic, "");
    EXPECT_TRUE(IsLoggingConfigured());
    LogDebug("first");
    LogInfo("second");
    LogError("third");
    LOG4CXX_DEBUG(GetLogger(), "fourth " << 4);
    ResetLogging();
    EXPECT_EQ(Read("q.log"), "old line\n[DEBUG] Quorvel: first\n[INFO] Quorvel: second\n"
                             "[ERROR] Quorvel: third\n[DEBUG] Quorvel: fourth 4\n");

    // Option and class names in any case, the log4j names of everything, and the debugger
    // output appender, which writes to standard error.
    ASSERT_TRUE(Configure(R"(LOG4D.ROOTLOGGER = info , A , B, ODS
log4d.appender.A = tlogfileappender
log4d.appender.A.FILENAME = <dir>/a.log
log4d.appender.A.Layout = TLOGSIMPLELAYOUT
log4j.appender.B=org.apache.log4j.FileAppender
log4j.appender.B.File=<dir>/b.log
log4j.appender.B.layout=org.apache.log4j.PatternLayout
log4j.appender.B.layout.ConversionPattern=%m%n
log4d.appender.ODS=TLogODSAppender
log4d.appender.ODS.layout=TLogPatternLayout
log4d.appender.ODS.layout.pattern=%p|%m%n
)"));
    EXPECT_EQ(Diagnostic, "");
    TStderrCapture capture;
    LogDebug("dropped");
    LogInfo("kept");
    LogError("\xE4\xB8\xAD\xE6\x96\x87 error");
    EXPECT_EQ(capture.Finish(), "INFO|kept\nERROR|\xE4\xB8\xAD\xE6\x96\x87 error\n");
    ResetLogging();
    EXPECT_EQ(Read("a.log"), "INFO - kept\nERROR - \xE4\xB8\xAD\xE6\x96\x87 error\n");
    EXPECT_EQ(Read("b.log"), "kept\n\xE4\xB8\xAD\xE6\x96\x87 error\n");
}

TEST_F(LoggerConfigTest, ShippedExampleAndItsCommentedVariantsWork) {
    const std::string text =
        ReadFile(fs::path(__FILE__).parent_path().parent_path() / "resources/log.cfg.example");
    ASSERT_FALSE(text.empty());
    const TAtExit home = SetEnv("HOME", Dir.Path());
    const fs::path log = File(".cache/quorvel/quorvel.log");

    // As shipped: every level into ~/.cache/quorvel/quorvel.log.
    EXPECT_TRUE(Configure(text));
    EXPECT_EQ(Diagnostic, "");
    LogDebug("as shipped");
    ResetLogging();
    std::vector<std::string> lines = SplitLines(ReadFile(log));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(ExampleMessage(lines[0], "DEBUG"), "as shipped") << lines[0];

    // Every commented line switched on, and the root sending to the other two appenders.
    std::string variant = ReplaceAll(text, "\n#log4d.", "\nlog4d.");
    variant = ReplaceAll(variant, "rootLogger=DEBUG, File", "rootLogger=DEBUG, Rolling, Stderr");
    fs::remove(log);
    EXPECT_TRUE(Configure(variant));
    EXPECT_EQ(Diagnostic, "");
    TStderrCapture capture;
    LogDebug("below the Quorvel level");
    LogInfo("in both");
    EXPECT_EQ(capture.Finish(), "INFO - in both\n");
    ResetLogging();
    lines = SplitLines(ReadFile(log));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(ExampleMessage(lines[0], "INFO"), "in both") << lines[0];
}

TEST_F(LoggerConfigTest, LogFileNamesResolveAgainstTheConfigFolderHomeAndVariables) {
    const TAtExit variable = SetEnv("QV_LOGGER_TEST_DIR", File("from-variable"));
    const TAtExit home = SetEnv("HOME", File("home"));
    // Started from another folder, as a program usually is.
    fs::create_directories(File("start"));
    const fs::path previous = fs::current_path();
    const TAtExit back{[&] {
        std::error_code ignored;
        fs::current_path(previous, ignored);
    }};
    fs::current_path(File("start"));

    ASSERT_TRUE(Configure(R"(log4d.rootLogger=INFO,R,V,H
log4d.appender.R=TLogFileAppender
log4d.appender.R.fileName=logs/relative.log
log4d.appender.V=TLogFileAppender
log4d.appender.V.fileName=${QV_LOGGER_TEST_DIR}/v.log
log4d.appender.H=TLogFileAppender
log4d.appender.H.fileName=~/.cache/quorvel/h.log
)")) << Diagnostic;
    EXPECT_EQ(Diagnostic, "");
    LogInfo("where am I");
    ResetLogging();
    // Without a layout, an appender writes like Log4D's default, the simple layout.
    for (const char* name :
         {"logs/relative.log", "from-variable/v.log", "home/.cache/quorvel/h.log"})
        EXPECT_EQ(Read(name), "INFO - where am I\n") << name;
    EXPECT_FALSE(fs::exists(File("start/logs/relative.log")));
}

TEST_F(LoggerConfigTest, RollingFileAppenderKeepsTheNewestLinesInBackups) {
    ASSERT_TRUE(Configure(R"(log4d.rootLogger=DEBUG,R
log4d.appender.R=TLogRollingFileAppender
log4d.appender.R.fileName=<dir>/roll.log
log4d.appender.R.maxFileSize=1KB
log4d.appender.R.maxBackupIndex=2
log4d.appender.R.layout=TLogPatternLayout
log4d.appender.R.layout.pattern=%m%n
)"));
    EXPECT_EQ(Diagnostic, "");
    const auto line = [](int Number) {
        char text[64];
        std::snprintf(text, sizeof text, "line %03d %s", Number, std::string(40, 'x').c_str());
        return std::string(text);
    };
    for (int i = 0; i < 100; ++i)
        LogDebug(line(i));
    ResetLogging();

    EXPECT_FALSE(fs::exists(File("roll.log.3")));
    for (const char* name : {"roll.log", "roll.log.1", "roll.log.2"}) {
        ASSERT_TRUE(fs::exists(File(name))) << name;
        EXPECT_LE(fs::file_size(File(name)), 1024u + line(0).size() + 1) << name;
    }
    // Oldest backup first: the surviving lines are the newest, in order, without a gap.
    const std::vector<std::string> lines =
        SplitLines(Read("roll.log.2") + Read("roll.log.1") + Read("roll.log"));
    ASSERT_GT(lines.size(), 30u);
    ASSERT_LT(lines.size(), 100u);
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], line(100 - int(lines.size()) + int(i)));
}

// ---------------------------------------------------------------------------------------
// Levels

TEST_F(LoggerConfigTest, LoggerLevelsThresholdsAndAdditivityFilterEvents) {
    const struct {
        const char* Settings;
        const char* F;
        const char* G;
    } cases[] = {
        // An info root drops debug lines.
        {"log4d.rootLogger=INFO,F\n", "INFO|i\nERROR|e\n", ""},
        // The Quorvel logger's own level wins over the root's.
        {"log4d.rootLogger=ERROR,F\nlog4d.logger.Quorvel=Debug\n", "DEBUG|d\nINFO|i\nERROR|e\n",
         ""},
        // The repository-wide threshold cuts below everything else.
        {"log4d.rootLogger=DEBUG,F\nlog4d.threshold=wArN\n", "ERROR|e\n", ""},
        // An appender's own threshold.
        {"log4d.rootLogger=DEBUG,F\nlog4d.appender.F.threshold=ERROR\n", "ERROR|e\n", ""},
        // Without additivity, Quorvel's lines stay out of the root's appender.
        {"log4d.rootLogger=DEBUG,F\nlog4d.logger.Quorvel=INFO,G\nlog4d.additive.Quorvel=false\n",
         "", "INFO|i\nERROR|e\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Settings);
        ASSERT_TRUE(
            Configure(c.Settings + FileAppender("F", "f.log") + FileAppender("G", "g.log")));
        EXPECT_EQ(Diagnostic, "");
        LogDebug("d");
        LogInfo("i");
        LogError("e");
        ResetLogging();
        EXPECT_EQ(Read("f.log"), c.F);
        EXPECT_EQ(Read("g.log"), c.G);
    }
}

// ---------------------------------------------------------------------------------------
// Broken configurations: one line on stderr, never a crash, logging usable afterwards

TEST_F(LoggerConfigTest, UnusableFilesLeaveLoggingOffWithOneLine) {
    std::mt19937 random(20240501);
    std::string junk;
    for (int i = 0; i < 8192; ++i)
        junk += char(random() & 0xFF);
    junk += std::string("\0=\xFF\n=\n:\n\\\n", 9);
    fs::create_directories(File("folder.cfg"));
    // A FIFO without a writer must not hold up the start.
    ASSERT_EQ(::mkfifo(File("fifo.cfg").c_str(), 0600), 0);

    const struct {
        const char* Name; // written with Text when it is log.cfg
        std::string Text;
        const char* Says;
    } cases[] = {
        {"nothing-here.cfg", "", "No such file or directory"},
        {"folder.cfg", "", "Is a directory"},
        {"fifo.cfg", "", "no logging settings"},
        {"log.cfg", std::string(2 << 20, '#'), "larger"},
        {"log.cfg", junk, "no logging settings"},
        {"log.cfg", "this is not\na configuration at all\n", "no logging settings"},
        {"log.cfg", "", "no logging settings"},
        {"log.cfg", "# only a comment\n", "no logging settings"},
        {"log.cfg", "log4d.rootLogger=DEBUG,X\nlog4d.appender.X=TLogSmokeSignalAppender\n",
         "no logger uses an appender"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Says);
        if (c.Name == std::string("log.cfg"))
            WriteFile(File(c.Name), c.Text);
        EXPECT_FALSE(ConfigureFile(File(c.Name)));
        EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
        for (const std::string& word :
             {File(c.Name).string(), std::string(c.Says), std::string("logging is off")})
            EXPECT_NE(Diagnostic.find(word), std::string::npos) << word << " in " << Diagnostic;
        EXPECT_FALSE(IsLoggingConfigured());
        // Not even log4cxx's "no appender" complaint.
        TStderrCapture capture;
        LogInfo("nowhere");
        LOG4CXX_INFO(GetLogger(), "nowhere either");
        EXPECT_EQ(capture.Finish(), "");
    }

    // A good file afterwards works as if nothing had happened.
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\n" + FileAppender("F", "f.log")));
    LogInfo("recovered");
    ResetLogging();
    EXPECT_EQ(Read("f.log"), "INFO|recovered\n");
}

TEST_F(LoggerConfigTest, BrokenEntriesAreReportedAndLeftOutAlone) {
    // Unknown classes, undefined appenders and unknown level names, which log4cxx on its own
    // would make debug levels; the last of two entries for one key wins.
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,X,F,Ghost\nlog4d.logger.Quorvel=verbose\n"
                          "log4d.threshold=loud\nlog4d.appender.F.threshold=chatty\n"
                          "log4d.appender.X=TLogSmokeSignalAppender\n"
                          "log4d.renderer.TFoo=TFooRenderer\n" +
                          FileAppender("F", "f.log") +
                          "log4d.appender.F.layout=TLogFancyLayout\n"));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    for (const char* word : {"TLogSmokeSignalAppender", "TLogFancyLayout", "Ghost", "renderer",
                             "\"verbose\"", "\"loud\"", "\"chatty\""})
        EXPECT_NE(Diagnostic.find(word), std::string::npos) << word << " in " << Diagnostic;
    LogDebug("dropped");
    LogInfo("still here");
    ResetLogging();
    // The unknown layout falls back to the simple one.
    EXPECT_EQ(Read("f.log"), "INFO - still here\n");

    // A log file that cannot be opened drops its appender only; a missing folder is made.
    WriteFile(File("plain"), "a file, not a folder\n");
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,Bad,Good\n" + FileAppender("Bad", "plain/q.log") +
                          FileAppender("Good", "new/deeper/good.log")));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    EXPECT_NE(Diagnostic.find("Not a directory"), std::string::npos) << Diagnostic;
    EXPECT_NE(Diagnostic.find("\"Bad\""), std::string::npos) << Diagnostic;
    TStderrCapture capture;
    LogInfo("good only");
    EXPECT_EQ(capture.Finish(), "");
    ResetLogging();
    EXPECT_EQ(Read("new/deeper/good.log"), "INFO|good only\n");

    // A file without a root logger is reported and applied.
    ASSERT_TRUE(Configure("log4d.logger.Quorvel=DEBUG,F\n" + FileAppender("F", "f.log")));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    EXPECT_NE(Diagnostic.find("rootLogger"), std::string::npos) << Diagnostic;
    LogDebug("applied");
    ResetLogging();
    EXPECT_EQ(Read("f.log"), "DEBUG|applied\n");
}

TEST_F(LoggerConfigTest, OnlyTheSupportedClassesReachLog4cxx) {
    // log4cxx's own rolling appender frees memory through the wrong type, whatever package
    // its name carries; every other name log4cxx happens to know is as unsupported.
    const struct {
        const char* Appender;
        const char* Layout;
    } cases[] = {
        {"RollingFileAppender", "XMLLayout"},
        {"org.apache.log4j.RollingFileAppender", "org.apache.log4j.xml.XMLLayout"},
        {"org.apache.log4j.rolling.RollingFileAppender", "JSONLayout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Appender);
        ASSERT_TRUE(
            Configure("log4d.rootLogger=INFO,R,F\nlog4d.appender.R=" + std::string(c.Appender) +
                      "\nlog4d.appender.R.fileName=<dir>/r.log\n" + FileAppender("F", "f.log") +
                      "log4d.appender.F.layout=" + c.Layout));
        EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
        for (const std::string& word : {"unknown appender class \"" + std::string(c.Appender),
                                        "unknown layout class \"" + std::string(c.Layout)})
            EXPECT_NE(Diagnostic.find(word), std::string::npos) << word << " in " << Diagnostic;
        LogInfo("m");
        ResetLogging();
        EXPECT_EQ(Read("f.log"), "INFO - m\n");
        EXPECT_FALSE(fs::exists(File("r.log")));
    }
}

TEST_F(LoggerConfigTest, RunawayVariablesAreReportedAndTakenAsEmpty) {
    // A variable that refers to itself, in a file name, and two that refer to each other, in
    // a pattern: log4cxx on its own recursed until the stack overflowed, so the first try
    // is made in a child process.
    const std::string cycles = "a=${a}\nb=${c}x\nc=${b}\nlog4d.rootLogger=INFO,F,G\n" +
                               ReplaceAll(FileAppender("F", "${a}self.log"), "%p|", "") +
                               FileAppender("G", "g.log") +
                               "log4d.appender.G.layout.pattern=${b}|%m%n\n";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Configure(cycles);
            LogInfo("m");
            ResetLogging();
            std::error_code ignored;
            fs::remove_all(Dir.Path(), ignored);
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
    if (HasFailure())
        return;
    ASSERT_TRUE(Configure(cycles));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    for (const char* word : {"${a} refers to itself", "${b}, ${c} refer to each other"})
        EXPECT_NE(Diagnostic.find(word), std::string::npos) << word << " in " << Diagnostic;
    LogInfo("m");
    ResetLogging();
    EXPECT_EQ(Read("self.log"), "m\n");
    EXPECT_EQ(Read("g.log"), "|m\n");

    // Nesting up to 16 levels and values up to 64 KiB; beyond, the variable is empty. The
    // environment comes before the file's own keys, as it always did.
    const TAtExit variable = SetEnv("QV_LOGGER_TEST_VAR", "env");
    std::string settings = "QV_LOGGER_TEST_VAR=file\nd0=d\nv1=xx\nw=${v15}${v15}${v15}\n";
    for (int i = 1; i <= 16; ++i)
        settings += "d" + std::to_string(i) + "=${d" + std::to_string(i - 1) + "}\n";
    for (int i = 2; i <= 26; ++i)
        settings += "v" + std::to_string(i) + "=${v" + std::to_string(i - 1) + "}${v" +
                    std::to_string(i - 1) + "}\n";
    ASSERT_TRUE(Configure(settings + "log4d.rootLogger=INFO,F\n" + FileAppender("F", "f.log") +
                          "log4d.appender.F.layout.pattern=${QV_LOGGER_TEST_VAR}|${d15}|${d16}|"
                          "${v10}|${v15}|${v26}|${w}|%m%n\n"));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    for (const char* word :
         {"${d16} nests more than 16 levels", "${v26} nests", "${w} expands to more than"})
        EXPECT_NE(Diagnostic.find(word), std::string::npos) << word << " in " << Diagnostic;
    LogInfo("m");
    ResetLogging();
    EXPECT_EQ(Read("f.log"),
              "env|d||" + std::string(1024, 'x') + "|" + std::string(32768, 'x') + "|||m\n");
}

TEST_F(LoggerConfigTest, ConfigDebugSwitchesLog4cxxInternalMessagesOnAndOff) {
    const std::string settings = "log4d.rootLogger=INFO,F\n" + FileAppender("F", "f.log");
    ASSERT_TRUE(Configure("log4d.configDebug=true\n" + settings));
    EXPECT_NE(Diagnostic.find("log4cxx:"), std::string::npos) << Diagnostic;
    ASSERT_TRUE(Configure(settings));
    EXPECT_EQ(Diagnostic, "");
}

// ---------------------------------------------------------------------------------------
// Unconfigured state and the facade

TEST_F(LoggerConfigTest, UnconfiguredLoggerReachesNoAppenderButErrorsReachStderr) {
    // No log.cfg beside the executable is the normal case: nothing is said about it.
    const fs::path standard = fs::read_symlink("/proc/self/exe").parent_path() / "log.cfg";
    EXPECT_EQ(DefaultLogConfigFile(), standard.string());
    if (!fs::exists(standard)) {
        TStderrCapture capture;
        EXPECT_FALSE(ConfigureLogging());
        EXPECT_EQ(capture.Finish(), "");
    }
    ResetLogging();
    EXPECT_FALSE(IsLoggingConfigured());
    EXPECT_FALSE(GetLogger()->isEnabledFor(log4cxx::Level::getError()));
    TStderrCapture capture;
    LogDebug("quiet debug");
    LogInfo("quiet info");
    LOG4CXX_ERROR(GetLogger(), "through log4cxx");
    LOG4CXX_INFO(log4cxx::LogManager::getLogger("SomebodyElse"), "another logger");
    LogError("something failed");
    EXPECT_EQ(capture.Finish(), "quorvel: something failed\n");

    // Switched off on purpose, logging is silent even for errors.
    EXPECT_TRUE(Configure("log4d.rootLogger=OFF\n"));
    EXPECT_EQ(Diagnostic, "");
    EXPECT_TRUE(IsLoggingConfigured());
    TStderrCapture off;
    LogError("hushed");
    EXPECT_EQ(off.Finish(), "");
}

TEST_F(LoggerConfigTest, ProfilerLinesAppearOnlyWhenDebugOutputIsAskedFor) {
    const TAtExit quiet = SetEnv("QUORVEL_DEBUG", "");
    StartTimer(-777779);
    const auto timerLine = [] {
        TStderrCapture capture;
        LogTimer(-777779, "OnCreate");
        return capture.Finish();
    };
    EXPECT_EQ(timerLine(), "") << "by default";
    {
        const TAtExit debug = SetEnv("QUORVEL_DEBUG", "1");
        EXPECT_TRUE(timerLine().starts_with("OnCreate: "));
    }
    const std::string appender = FileAppender("F", "f.log");
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\n" + appender));
    EXPECT_EQ(timerLine(), "") << "logging at info";
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\nlog4d.logger.Quorvel=DEBUG\n" + appender));
    EXPECT_TRUE(timerLine().starts_with("OnCreate: "));
    ASSERT_TRUE(Configure("log4d.rootLogger=DEBUG,F\n" + appender));
    EXPECT_TRUE(timerLine().starts_with("OnCreate: "));
}

TEST_F(LoggerConfigTest, SinkSeesEveryLineAndTakesOverTheErrorFallback) {
    ASSERT_TRUE(Configure("log4d.rootLogger=ERROR,F\n" + FileAppender("F", "f.log")));
    std::vector<std::pair<TLogLevel, std::string>> seen;
    TLogSink previous = SetLogSink([&seen](TLogLevel level, std::string_view message) {
        seen.emplace_back(level, std::string(message));
    });
    LogDebug("d");
    LogInfo("i");
    LogError("e");

    ResetLogging();
    TStderrCapture capture;
    LogError("unconfigured");
    EXPECT_EQ(capture.Finish(), "");

    // Put back whatever was there, and see that the replaced sink no longer hears anything.
    EXPECT_TRUE(SetLogSink(std::move(previous)) != nullptr);
    LogDebug("after");
    const std::vector<std::pair<TLogLevel, std::string>> expected = {
        {llDebug, "d"}, {llInfo, "i"}, {llError, "e"}, {llError, "unconfigured"}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(Read("f.log"), "ERROR|e\n");
}

TEST_F(LoggerConfigTest, Utf8TextStaysIntactUnderTheCLocale) {
    const std::string chinese = "\xE7\xA3\x81\xE7\x9B\x98\xE7\xA9\xBA\xE9\x97\xB4 "
                                "\xE5\x88\x86\xE6\x9E\x90 \xC3\xA4\xC3\xB6\xC3\xBC";
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    const TAtExit back{[&] { std::setlocale(LC_CTYPE, previous.c_str()); }};
    std::setlocale(LC_CTYPE, "C");
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\n" + FileAppender("F", "f.log")));
    // Configuring made LC_CTYPE a UTF-8 one, for log4cxx's own conversions...
    const std::string codeset = ::nl_langinfo(CODESET);
    EXPECT_TRUE(codeset == "UTF-8" || codeset == "utf8") << codeset;
    LOG4CXX_INFO(GetLogger(), "macro " << chinese);
    // ...and the facade does not depend on it, as when a toolkit resets the locale later.
    std::setlocale(LC_CTYPE, "C");
    LogInfo("facade " + chinese);
    ResetLogging();
    EXPECT_EQ(Read("f.log"), "INFO|macro " + chinese + "\nINFO|facade " + chinese + "\n");
}

TEST_F(LoggerConfigTest, ConcurrentLoggingKeepsEveryLineWhole) {
    ASSERT_TRUE(Configure("log4d.rootLogger=DEBUG,F\n" + FileAppender("F", "f.log")));
    int sinkLines = 0; // the sink's calls are serialised by the logger
    TLogSink previous = SetLogSink([&sinkLines](TLogLevel, std::string_view) { ++sinkLines; });
    constexpr int Threads = 8;
    constexpr int PerThread = 400;
    static const char* const Levels[] = {"DEBUG", "INFO", "ERROR"};
    const auto text = [](int T, int N) {
        return "T" + std::to_string(T) + " N" + std::to_string(N) + " \xE4\xB8\xAD";
    };
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([t, &go, &text] {
            while (!go.load())
                std::this_thread::yield();
            for (int n = 0; n < PerThread; ++n)
                LogMessage(TLogLevel(n % 3), text(t, n));
        });
    go = true;
    for (std::thread& worker : workers)
        worker.join();
    SetLogSink(std::move(previous));
    ResetLogging();

    EXPECT_EQ(sinkLines, Threads * PerThread);
    const std::vector<std::string> lines = SplitLines(Read("f.log"));
    ASSERT_EQ(lines.size(), std::size_t(Threads * PerThread));
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : lines) {
        int t = -1;
        int n = -1;
        const auto bar = line.find('|');
        ASSERT_NE(bar, std::string::npos) << line;
        ASSERT_EQ(std::sscanf(line.c_str() + bar + 1, "T%d N%d", &t, &n), 2) << line;
        EXPECT_EQ(line, std::string(Levels[n % 3]) + "|" + text(t, n));
        seen.emplace(t, n);
    }
    EXPECT_EQ(seen.size(), std::size_t(Threads * PerThread));
}

// A fresh process started in a folder full of log4j/log4cxx files must not pick any of them
// up: the program's logging is configured from its own log.cfg only.
TEST(LoggerDeathTest, NoConfigurationIsTakenFromTheWorkingDirectory) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TTempDir dir;
    const std::string properties = "log4j.rootLogger=DEBUG, A\nlog4j.appender.A=FileAppender\n"
                                   "log4j.appender.A.File=stray.log\n"
                                   "log4j.appender.A.layout=SimpleLayout\n";
    WriteFile(fs::path(dir.Path()) / "log4j.properties", properties);
    WriteFile(fs::path(dir.Path()) / "log4cxx.properties", properties);
    EXPECT_EXIT(
        {
            if (::chdir(dir.Path().c_str()) != 0)
                std::_Exit(3);
            LogInfo("first use");
            LOG4CXX_INFO(log4cxx::LogManager::getLogger("Other"), "second use");
            const bool stray = fs::exists(fs::path(dir.Path()) / "stray.log");
            // _Exit skips destructors; this process's folder is cleaned here.
            std::error_code ignored;
            fs::remove_all(dir.Path(), ignored);
            std::_Exit(stray ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------------------
// The profiler

TEST(ProfilerTest, TimersMeasureNanosecondsFromTheirLastStart) {
    TLLProfiler profiler;
    profiler.StartTimer(8); // a witness that is never restarted
    profiler.StartTimer(7);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    profiler.StartTimer(7);
    EXPECT_EQ(profiler.TimerCount(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::int64_t restarted = profiler.StopTimer(7);
    const std::int64_t witness = profiler.StopTimer(8);
    // The restart came at least 60 ms after the witness's start, whatever the load.
    EXPECT_GE(restarted, 20'000'000);
    EXPECT_LT(restarted, 10'000'000'000);
    EXPECT_LE(restarted, witness - 60'000'000);
    // Stopping does not stop: a later call measures again from the same start.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(profiler.StopTimer(7), restarted + 5'000'000);
    EXPECT_EQ(profiler.TimerCount(), 2u);

    // The process-wide profiler behaves the same.
    StartTimer(-1001);
    const std::size_t count = Profiler().TimerCount();
    StartTimer(-1001);
    EXPECT_EQ(Profiler().TimerCount(), count);
}

TEST(ProfilerTest, UnknownIdsThrowWithTheIdOrGiveZeroSeconds) {
    TLLProfiler profiler;
    profiler.StartTimer(1);
    for (const std::int32_t id : {42, -1, 240}) {
        try {
            (void)profiler.StopTimer(id);
            ADD_FAILURE() << "no exception for " << id;
        } catch (const ETimerException& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Es wurde kein Timer mir der ID " + std::to_string(id) + " gestartet");
        }
    }
    EXPECT_EQ(ElapsedSeconds(-424242), 0.0);
    StartTimer(-424243);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(ElapsedSeconds(-424243), 0.02);
}

TEST(ProfilerTest, SecondsFormatWithOneToThreeDecimalsRoundedHalfEven) {
    const struct {
        double Seconds;
        const char* Separator;
        const char* Text;
    } cases[] = {
        {1.23456, ".", "1.235 s"},
        {0, ".", "0.0 s"},
        {-0.0001, ".", "0.0 s"},
        {1, ".", "1.0 s"},
        {2.5, ".", "2.5 s"},
        {12.3004, ".", "12.3 s"},
        {0.9996, ".", "1.0 s"},
        {3.07, ".", "3.07 s"},
        {1e300 * 1e300, ".", "0.0 s"},
        // Exact binary halves: the even neighbour wins.
        {0.0625, ".", "0.062 s"},
        {0.1875, ".", "0.188 s"},
        {1.23456, ",", "1,235 s"},
        {1.5, "\xE2\x80\xA4",
         "1\xE2\x80\xA4"
         "5 s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatTimerSeconds(c.Seconds, c.Separator), c.Text) << c.Seconds;
}

TEST(ProfilerTest, DefaultSeparatorComesFromTheEnvironmentAndLeavesTheLocaleAlone) {
    std::string expected = ".";
    const locale_t environment = ::newlocale(LC_NUMERIC_MASK, "", locale_t(nullptr));
    if (environment != locale_t(nullptr)) {
        expected = ::nl_langinfo_l(RADIXCHAR, environment);
        ::freelocale(environment);
    }
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    EXPECT_EQ(FormatTimerSeconds(1.5), "1" + expected + "5 s");
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), before);

    // Asked for, LogTimer writes one line, in that format, to standard error.
    const TAtExit debug = SetEnv("QUORVEL_DEBUG", "1");
    TStderrCapture unknown;
    LogTimer(-777777, "Nothing");
    EXPECT_EQ(unknown.Finish(), "Nothing: 0.0 s\n");
    StartTimer(-777778);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    TStderrCapture started;
    LogTimer(-777778, "OnCreate\nsecond line");
    // The separator of the environment made a point, so that one pattern fits every locale.
    const std::string line = ReplaceAll(started.Finish(), expected, ".");
    std::smatch match;
    ASSERT_TRUE(
        std::regex_match(line, match, std::regex(R"(OnCreate second line: (\d+\.\d{1,3}) s\n)")))
        << line;
    EXPECT_GE(std::stod(match[1].str()), 0.015) << line;
}

TEST(ProfilerTest, TimersOfSeveralThreadsDoNotDisturbEachOther) {
    TLLProfiler profiler;
    std::vector<std::thread> workers;
    std::atomic<int> failures{0};
    for (int t = 0; t < 6; ++t)
        workers.emplace_back([t, &profiler, &failures] {
            for (int n = 0; n < 500; ++n) {
                const std::int32_t id = t * 1000 + n % 10;
                profiler.StartTimer(id);
                if (profiler.StopTimer(id) < 0)
                    ++failures;
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(profiler.TimerCount(), 60u);
}

} // namespace
