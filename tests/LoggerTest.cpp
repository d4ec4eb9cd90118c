// The logger against real configuration files and real log files read back, and the
// profiler's stopwatches and its line on standard error.

#include "TestTree.h"
#include "support/QvLogger.h"
#include "support/QvProfiler.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>
#include <random>
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
    std::ofstream out(Name, std::ios::binary | std::ios::trunc);
    out.write(Text.data(), static_cast<std::streamsize>(Text.size()));
}

std::string ReadFile(const fs::path& Name) {
    std::ifstream in(Name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
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
    return static_cast<std::size_t>(std::count(Text.begin(), Text.end(), '\n'));
}

// Everything written to file descriptor 2 while it lives, whoever writes it.
class TStderrCapture {
public:
    TStderrCapture() {
        char name[] = "/tmp/qv-stderr-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd < 0)
            return;
        FileName = name;
        std::fflush(stderr);
        Saved = ::dup(STDERR_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~TStderrCapture() {
        Finish();
        if (!FileName.empty())
            ::unlink(FileName.c_str());
    }
    TStderrCapture(const TStderrCapture&) = delete;
    TStderrCapture& operator=(const TStderrCapture&) = delete;

    // Restores standard error and returns what was captured.
    std::string Finish() {
        if (Saved >= 0) {
            std::fflush(stderr);
            ::dup2(Saved, STDERR_FILENO);
            ::close(Saved);
            Saved = -1;
            Text = ReadFile(FileName);
        }
        return Text;
    }

private:
    std::string FileName;
    int Saved = -1;
    std::string Text;
};

// Makes Dir the working folder while it lives.
class TWorkingDir {
public:
    explicit TWorkingDir(const fs::path& Dir) : Previous(fs::current_path()) {
        fs::current_path(Dir);
    }
    ~TWorkingDir() {
        std::error_code ignored;
        fs::current_path(Previous, ignored);
    }
    TWorkingDir(const TWorkingDir&) = delete;
    TWorkingDir& operator=(const TWorkingDir&) = delete;

private:
    fs::path Previous;
};

// Replaces every From in Text by To.
std::string ReplaceAll(std::string Text, std::string_view From, std::string_view To) {
    for (auto at = Text.find(From); at != std::string::npos; at = Text.find(From, at + To.size()))
        Text.replace(at, From.size(), To);
    return Text;
}

// Whether Text has the shape Shape, where each '9' in Shape stands for one digit.
bool HasShape(std::string_view Text, std::string_view Shape) {
    if (Text.size() != Shape.size())
        return false;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const bool digit = Text[i] >= '0' && Text[i] <= '9';
        if (Shape[i] == '9' ? !digit : Text[i] != Shape[i])
            return false;
    }
    return true;
}

// The message of a line of the example's layout "date time level [thread] message"; empty
// when the line has another shape.
std::string ExampleMessage(const std::string& Line, const std::string& Level) {
    const std::string_view line(Line);
    if (line.size() < 24 || !HasShape(line.substr(0, 24), "9999-99-99 99:99:99.999 "))
        return "";
    std::string level = Level;
    level.resize(5, ' ');
    if (line.substr(24, 7) != level + " [")
        return "";
    const auto close = line.find("] ", 31);
    if (close == std::string_view::npos || close == 31)
        return "";
    return std::string(line.substr(close + 2));
}

bool IsUtf8CType() {
    const std::string codeset = ::nl_langinfo(CODESET);
    return codeset == "UTF-8" || codeset == "utf8";
}

// Runs a test with LC_CTYPE "C" and puts the previous LC_CTYPE back afterwards.
class TCTypeC {
public:
    TCTypeC() : Previous(std::setlocale(LC_CTYPE, nullptr)) { std::setlocale(LC_CTYPE, "C"); }
    ~TCTypeC() { std::setlocale(LC_CTYPE, Previous.c_str()); }
    TCTypeC(const TCTypeC&) = delete;
    TCTypeC& operator=(const TCTypeC&) = delete;

private:
    std::string Previous;
};

// Each test gets a folder for its log.cfg and log files and leaves logging unconfigured.
class LoggerConfigTest : public testing::Test {
protected:
    void TearDown() override { ResetLogging(); }

    fs::path File(const std::string& Name) const { return fs::path(Dir.Path()) / Name; }

    // Writes Text as log.cfg and configures from it; Diagnostic holds what went to stderr.
    bool Configure(std::string_view Text) {
        WriteFile(File("log.cfg"), Text);
        return ConfigureFile(File("log.cfg"));
    }
    bool ConfigureFile(const fs::path& Name) {
        TStderrCapture capture;
        const bool applied = ConfigureLogging(Name.string());
        Diagnostic = capture.Finish();
        return applied;
    }

    // A Log4D file appender NAME writing "LEVEL|message" lines to FILE.
    std::string FileAppender(const std::string& Name, const fs::path& FileName) const {
        return "log4d.appender." + Name + "=TLogFileAppender\n" + "log4d.appender." + Name +
               ".fileName=" + FileName.string() + "\n" + "log4d.appender." + Name +
               ".append=false\n" + "log4d.appender." + Name + ".layout=TLogPatternLayout\n" +
               "log4d.appender." + Name + ".layout.pattern=%p|%m%n\n";
    }

    TTempDir Dir;
    std::string Diagnostic;
};

// ---------------------------------------------------------------------------------------
// Appenders and layouts

TEST_F(LoggerConfigTest, Log4DFileAppenderWritesEveryLevelThroughPatternLayout) {
    ASSERT_TRUE(Configure("# Quorvel's log\n"
                          "log4d.rootLogger=DEBUG,F\n"
                          "log4d.appender.F=TLogFileAppender\n"
                          "log4d.appender.F.fileName=" +
                          File("q.log").string() +
                          "\n"
                          "log4d.appender.F.layout=TLogPatternLayout\n"
                          "log4d.appender.F.layout.pattern=[%p] %c: %m%n\n"));
    EXPECT_EQ(Diagnostic, "");
    EXPECT_TRUE(IsLoggingConfigured());

    LogDebug("first");
    LogInfo("second");
    LogError("third");
    LOG4CXX_DEBUG(GetLogger(), "fourth " << 4);
    ResetLogging();

    EXPECT_EQ(ReadFile(File("q.log")), "[DEBUG] Quorvel: first\n"
                                       "[INFO] Quorvel: second\n"
                                       "[ERROR] Quorvel: third\n"
                                       "[DEBUG] Quorvel: fourth 4\n");
}

TEST_F(LoggerConfigTest, ShippedExampleAndItsCommentedVariantsWork) {
    const fs::path example =
        fs::path(__FILE__).parent_path().parent_path() / "resources" / "log.cfg.example";
    const std::string text = ReadFile(example);
    ASSERT_FALSE(text.empty()) << example;
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    ::setenv("HOME", Dir.Path().c_str(), 1);
    const fs::path log = File(".cache/quorvel/quorvel.log");

    // As shipped: every level into ~/.cache/quorvel/quorvel.log.
    const bool applied = Configure(text);
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
    const bool variantApplied = Configure(variant);
    const std::string variantDiagnostic = Diagnostic;
    TStderrCapture capture;
    LogDebug("below the Quorvel level");
    LogInfo("in both");
    const std::string stderrText = capture.Finish();
    ResetLogging();
    if (oldHome != nullptr)
        ::setenv("HOME", savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");

    EXPECT_TRUE(applied);
    EXPECT_TRUE(variantApplied);
    EXPECT_EQ(variantDiagnostic, "");
    EXPECT_EQ(stderrText, "INFO - in both\n");
    lines = SplitLines(ReadFile(log));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(ExampleMessage(lines[0], "INFO"), "in both") << lines[0];
}

TEST_F(LoggerConfigTest, GetLoggerIsTheOneQuorvelLoggerOfTheRegistry) {
    const log4cxx::LoggerPtr logger = GetLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->getName(), "Quorvel");
    EXPECT_EQ(GetLogger(), logger);
    // Code that asks log4cxx directly reaches the same, configured registry.
    EXPECT_EQ(log4cxx::LogManager::getLogger("Quorvel"), logger);
}

TEST_F(LoggerConfigTest, OptionAndClassNamesAreCaseInsensitiveAndLog4jNamesWork) {
    ASSERT_TRUE(Configure("LOG4D.ROOTLOGGER = info , A , B\n"
                          "log4d.appender.A = tlogfileappender\n"
                          "log4d.appender.A.FILENAME = " +
                          File("a.log").string() +
                          "\n"
                          "log4d.appender.A.Layout = TLOGSIMPLELAYOUT\n"
                          "log4j.appender.B=org.apache.log4j.FileAppender\n"
                          "log4j.appender.B.File=" +
                          File("b.log").string() +
                          "\n"
                          "log4j.appender.B.layout=org.apache.log4j.PatternLayout\n"
                          "log4j.appender.B.layout.ConversionPattern=%m%n\n"));
    EXPECT_EQ(Diagnostic, "");
    LogDebug("dropped");
    LogInfo("kept");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("a.log")), "INFO - kept\n");
    EXPECT_EQ(ReadFile(File("b.log")), "kept\n");
}

TEST_F(LoggerConfigTest, AppendOptionKeepsOrTruncatesTheOldLog) {
    WriteFile(File("q.log"), "old line\n");
    const std::string head = "log4d.rootLogger=INFO,F\n"
                             "log4d.appender.F=TLogFileAppender\n"
                             "log4d.appender.F.fileName=" +
                             File("q.log").string() +
                             "\n"
                             "log4d.appender.F.layout=TLogPatternLayout\n"
                             "log4d.appender.F.layout.pattern=%m%n\n";

    ASSERT_TRUE(Configure(head + "log4d.appender.F.append=true\n"));
    LogInfo("appended");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("q.log")), "old line\nappended\n");

    ASSERT_TRUE(Configure(head + "log4d.appender.F.append=false\n"));
    LogInfo("alone");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("q.log")), "alone\n");
}

TEST_F(LoggerConfigTest, LogFileNamesResolveAgainstTheConfigFolderHomeAndVariables) {
    const fs::path variableDir = File("from-variable");
    const fs::path homeDir = File("home");
    fs::create_directories(homeDir);
    ::setenv("QV_LOGGER_TEST_DIR", variableDir.c_str(), 1);
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    ::setenv("HOME", homeDir.c_str(), 1);
    // Started from another folder, as a program usually is.
    const fs::path startDir = File("start");
    fs::create_directories(startDir);
    TWorkingDir startHere(startDir);

    const bool applied = Configure("log4d.rootLogger=INFO,R,V,H\n"
                                   "log4d.appender.R=TLogFileAppender\n"
                                   "log4d.appender.R.fileName=logs/relative.log\n"
                                   "log4d.appender.V=TLogFileAppender\n"
                                   "log4d.appender.V.fileName=${QV_LOGGER_TEST_DIR}/v.log\n"
                                   "log4d.appender.H=TLogFileAppender\n"
                                   "log4d.appender.H.fileName=~/.cache/quorvel/h.log\n");
    if (oldHome != nullptr)
        ::setenv("HOME", savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
    ::unsetenv("QV_LOGGER_TEST_DIR");
    ASSERT_TRUE(applied) << Diagnostic;
    EXPECT_EQ(Diagnostic, "");

    LogInfo("where am I");
    ResetLogging();
    // Without a layout, an appender writes like Log4D's default, the simple layout.
    EXPECT_EQ(ReadFile(File("logs/relative.log")), "INFO - where am I\n");
    EXPECT_EQ(ReadFile(variableDir / "v.log"), "INFO - where am I\n");
    EXPECT_EQ(ReadFile(homeDir / ".cache/quorvel/h.log"), "INFO - where am I\n");
    EXPECT_FALSE(fs::exists(startDir / "logs/relative.log"));
}

TEST_F(LoggerConfigTest, RollingFileAppenderKeepsTheNewestLinesInBackups) {
    ASSERT_TRUE(Configure("log4d.rootLogger=DEBUG,R\n"
                          "log4d.appender.R=TLogRollingFileAppender\n"
                          "log4d.appender.R.fileName=" +
                          File("roll.log").string() +
                          "\n"
                          "log4d.appender.R.maxFileSize=1KB\n"
                          "log4d.appender.R.maxBackupIndex=2\n"
                          "log4d.appender.R.layout=TLogPatternLayout\n"
                          "log4d.appender.R.layout.pattern=%m%n\n"));
    EXPECT_EQ(Diagnostic, "");
    const std::string filler(40, 'x');
    for (int i = 0; i < 100; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%03d", i);
        LogDebug(std::string("line ") + number + " " + filler);
    }
    ResetLogging();

    ASSERT_TRUE(fs::exists(File("roll.log.1")));
    ASSERT_TRUE(fs::exists(File("roll.log.2")));
    EXPECT_FALSE(fs::exists(File("roll.log.3")));
    const std::size_t lineSize = 50;
    for (const char* name : {"roll.log", "roll.log.1", "roll.log.2"})
        EXPECT_LE(fs::file_size(File(name)), 1024 + lineSize) << name;

    // Oldest backup first: the surviving lines are the newest, in order, without a gap.
    const std::vector<std::string> lines = SplitLines(
        ReadFile(File("roll.log.2")) + ReadFile(File("roll.log.1")) + ReadFile(File("roll.log")));
    ASSERT_GT(lines.size(), 30u);
    ASSERT_LT(lines.size(), 100u);
    const int first = 100 - static_cast<int>(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%03d", first + static_cast<int>(i));
        EXPECT_EQ(lines[i], std::string("line ") + number + " " + filler);
    }
}

TEST_F(LoggerConfigTest, DebuggerOutputAppenderWritesToStandardError) {
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,ODS\n"
                          "log4d.appender.ODS=TLogODSAppender\n"
                          "log4d.appender.ODS.layout=TLogPatternLayout\n"
                          "log4d.appender.ODS.layout.pattern=%p|%m%n\n"));
    EXPECT_EQ(Diagnostic, "");
    TStderrCapture capture;
    LogDebug("not shown");
    LogInfo("to stderr");
    LogError("\xE4\xB8\xAD\xE6\x96\x87 error");
    EXPECT_EQ(capture.Finish(), "INFO|to stderr\nERROR|\xE4\xB8\xAD\xE6\x96\x87 error\n");
}

// ---------------------------------------------------------------------------------------
// Levels

TEST_F(LoggerConfigTest, LoggerLevelsThresholdsAndAdditivityFilterEvents) {
    // An info root drops debug lines.
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\n" + FileAppender("F", File("f.log"))));
    LogDebug("d1");
    LogInfo("i1");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("f.log")), "INFO|i1\n");

    // The Quorvel logger's own level wins over the root's.
    ASSERT_TRUE(Configure("log4d.rootLogger=ERROR,F\n"
                          "log4d.logger.Quorvel=Debug\n" +
                          FileAppender("F", File("f.log"))));
    LogDebug("d2");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("f.log")), "DEBUG|d2\n");

    // The repository-wide threshold cuts below everything else.
    ASSERT_TRUE(Configure("log4d.rootLogger=DEBUG,F\n"
                          "log4d.threshold=wArN\n" +
                          FileAppender("F", File("f.log"))));
    LogInfo("i3");
    LogError("e3");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("f.log")), "ERROR|e3\n");

    // An appender's own threshold.
    ASSERT_TRUE(Configure("log4d.rootLogger=DEBUG,F\n"
                          "log4d.appender.F.threshold=ERROR\n" +
                          FileAppender("F", File("f.log"))));
    LogInfo("i4");
    LogError("e4");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("f.log")), "ERROR|e4\n");

    // Without additivity, Quorvel's lines stay out of the root's appender.
    ASSERT_TRUE(Configure("log4d.rootLogger=DEBUG,F\n"
                          "log4d.logger.Quorvel=INFO,G\n"
                          "log4d.additive.Quorvel=false\n" +
                          FileAppender("F", File("f.log")) + FileAppender("G", File("g.log"))));
    EXPECT_EQ(Diagnostic, "");
    LogInfo("i5");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("f.log")), "");
    EXPECT_EQ(ReadFile(File("g.log")), "INFO|i5\n");
}

TEST_F(LoggerConfigTest, UnknownLevelNamesAreReportedInsteadOfBecomingDebug) {
    // log4cxx on its own would make "verbose" a debug level.
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\n"
                          "log4d.logger.Quorvel=verbose\n"
                          "log4d.threshold=loud\n"
                          "log4d.appender.F.threshold=chatty\n" +
                          FileAppender("F", File("f.log"))));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    EXPECT_NE(Diagnostic.find("\"verbose\""), std::string::npos) << Diagnostic;
    EXPECT_NE(Diagnostic.find("\"loud\""), std::string::npos) << Diagnostic;
    EXPECT_NE(Diagnostic.find("\"chatty\""), std::string::npos) << Diagnostic;
    LogDebug("d");
    LogInfo("i");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("f.log")), "INFO|i\n");
}

// ---------------------------------------------------------------------------------------
// Broken configurations: one line on stderr, never a crash, logging usable afterwards

TEST_F(LoggerConfigTest, MissingUnreadableOrOversizedFileLeavesLoggingOff) {
    EXPECT_FALSE(ConfigureFile(File("nothing-here.cfg")));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    EXPECT_NE(Diagnostic.find("nothing-here.cfg"), std::string::npos) << Diagnostic;
    EXPECT_NE(Diagnostic.find("No such file or directory"), std::string::npos) << Diagnostic;
    EXPECT_FALSE(IsLoggingConfigured());

    fs::create_directories(File("folder.cfg"));
    EXPECT_FALSE(ConfigureFile(File("folder.cfg")));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    EXPECT_NE(Diagnostic.find("Is a directory"), std::string::npos) << Diagnostic;

    EXPECT_FALSE(Configure(std::string(2 << 20, '#')));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    EXPECT_NE(Diagnostic.find("larger"), std::string::npos) << Diagnostic;

    // A FIFO without a writer must not hold up the start.
    ASSERT_EQ(::mkfifo(File("fifo.cfg").c_str(), 0600), 0);
    EXPECT_FALSE(ConfigureFile(File("fifo.cfg")));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;

    // A good file afterwards works as if nothing had happened.
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\n" + FileAppender("F", File("f.log"))));
    LogInfo("recovered");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("f.log")), "INFO|recovered\n");
}

TEST_F(LoggerConfigTest, DefaultFileIsLogCfgNextToTheExecutable) {
    const fs::path expected = fs::read_symlink("/proc/self/exe").parent_path() / "log.cfg";
    EXPECT_EQ(DefaultLogConfigFile(), expected.string());
    if (fs::exists(expected))
        GTEST_SKIP() << expected << " exists here";
    // No log.cfg is the normal case: logging stays off and nothing is said about it.
    TStderrCapture capture;
    EXPECT_FALSE(ConfigureLogging());
    EXPECT_EQ(capture.Finish(), "");
    EXPECT_FALSE(IsLoggingConfigured());
}

TEST_F(LoggerConfigTest, JunkWithoutSettingsLeavesLoggingOff) {
    std::mt19937 random(20240501);
    std::string junk;
    for (int i = 0; i < 8192; ++i)
        junk += static_cast<char>(random() & 0xFF);
    junk += std::string("\0=\xFF\n=\n:\n\\\n", 9);

    const std::string cases[] = {junk, "this is not\na configuration at all\n", "",
                                 "# only a comment\n"};
    for (const std::string& text : cases) {
        EXPECT_FALSE(Configure(text));
        EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
        EXPECT_NE(Diagnostic.find("no logging settings"), std::string::npos) << Diagnostic;
        EXPECT_FALSE(IsLoggingConfigured());
    }
}

TEST_F(LoggerConfigTest, UnknownClassesAndUndefinedAppendersAreLeftOut) {
    // The last of two entries for one key wins, as in any property file.
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,X,F,Ghost\n"
                          "log4d.appender.X=TLogSmokeSignalAppender\n"
                          "log4d.renderer.TFoo=TFooRenderer\n" +
                          FileAppender("F", File("f.log")) +
                          "log4d.appender.F.layout=TLogFancyLayout\n"));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    for (const char* word : {"TLogSmokeSignalAppender", "TLogFancyLayout", "Ghost", "renderer"})
        EXPECT_NE(Diagnostic.find(word), std::string::npos) << word << " in " << Diagnostic;
    LogInfo("still here");
    ResetLogging();
    // The unknown layout falls back to the simple one.
    EXPECT_EQ(ReadFile(File("f.log")), "INFO - still here\n");
}

TEST_F(LoggerConfigTest, ConfigurationWithoutUsableAppenderIsReportedAndStaysQuiet) {
    EXPECT_FALSE(Configure("log4d.rootLogger=DEBUG,X\n"
                           "log4d.appender.X=TLogSmokeSignalAppender\n"));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    EXPECT_NE(Diagnostic.find("logging is off"), std::string::npos) << Diagnostic;

    // Not even log4cxx's "no appender" complaint.
    TStderrCapture capture;
    LogInfo("nowhere");
    LOG4CXX_INFO(GetLogger(), "nowhere either");
    EXPECT_EQ(capture.Finish(), "");
}

TEST_F(LoggerConfigTest, LogFileThatCannotBeOpenedDropsOnlyItsAppender) {
    WriteFile(File("plain"), "a file, not a folder\n");
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,Bad,Good\n" +
                          FileAppender("Bad", File("plain") / "q.log") +
                          FileAppender("Good", File("good.log"))));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    EXPECT_NE(Diagnostic.find("Not a directory"), std::string::npos) << Diagnostic;
    EXPECT_NE(Diagnostic.find("\"Bad\""), std::string::npos) << Diagnostic;

    TStderrCapture capture;
    LogInfo("good only");
    EXPECT_EQ(capture.Finish(), "");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("good.log")), "INFO|good only\n");
}

TEST_F(LoggerConfigTest, LogFileInMissingFolderGetsItsFolderCreated) {
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\n" +
                          FileAppender("F", File("new") / "deeper" / "q.log")));
    EXPECT_EQ(Diagnostic, "");
    LogInfo("made room");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("new/deeper/q.log")), "INFO|made room\n");
}

TEST_F(LoggerConfigTest, FileWithoutRootLoggerIsReportedAndApplied) {
    ASSERT_TRUE(Configure("log4d.logger.Quorvel=DEBUG,F\n" + FileAppender("F", File("f.log"))));
    EXPECT_EQ(CountLines(Diagnostic), 1u) << Diagnostic;
    EXPECT_NE(Diagnostic.find("rootLogger"), std::string::npos) << Diagnostic;
    LogDebug("applied");
    ResetLogging();
    EXPECT_EQ(ReadFile(File("f.log")), "DEBUG|applied\n");
}

TEST_F(LoggerConfigTest, ConfigDebugSwitchesLog4cxxInternalMessagesOnAndOff) {
    ASSERT_TRUE(Configure("log4d.configDebug=true\nlog4d.rootLogger=INFO,F\n" +
                          FileAppender("F", File("f.log"))));
    EXPECT_NE(Diagnostic.find("log4cxx:"), std::string::npos) << Diagnostic;
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\n" + FileAppender("F", File("f.log"))));
    EXPECT_EQ(Diagnostic, "");
}

// ---------------------------------------------------------------------------------------
// Unconfigured state and the facade

TEST_F(LoggerConfigTest, UnconfiguredLoggerReachesNoAppenderButErrorsReachStderr) {
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
}

TEST_F(LoggerConfigTest, LoggingSwitchedOffOnPurposeIsSilentEvenForErrors) {
    EXPECT_TRUE(Configure("log4d.rootLogger=OFF\n"));
    EXPECT_EQ(Diagnostic, "");
    EXPECT_TRUE(IsLoggingConfigured());
    TStderrCapture capture;
    LogError("hushed");
    EXPECT_EQ(capture.Finish(), "");
}

TEST_F(LoggerConfigTest, SinkSeesEveryLineAndTakesOverTheErrorFallback) {
    ASSERT_TRUE(Configure("log4d.rootLogger=ERROR,F\n" + FileAppender("F", File("f.log"))));
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
    EXPECT_EQ(ReadFile(File("f.log")), "ERROR|e\n");
}

TEST_F(LoggerConfigTest, Utf8TextStaysIntactUnderTheCLocale) {
    const std::string chinese = "\xE7\xA3\x81\xE7\x9B\x98\xE7\xA9\xBA\xE9\x97\xB4 "
                                "\xE5\x88\x86\xE6\x9E\x90 \xC3\xA4\xC3\xB6\xC3\xBC";
    TCTypeC cLocale;
    ASSERT_TRUE(Configure("log4d.rootLogger=INFO,F\n" + FileAppender("F", File("f.log"))));
    // Configuring made LC_CTYPE a UTF-8 one, for log4cxx's own conversions...
    EXPECT_TRUE(IsUtf8CType());
    LOG4CXX_INFO(GetLogger(), "macro " << chinese);
    // ...and the facade does not depend on it, as when a toolkit resets the locale later.
    std::setlocale(LC_CTYPE, "C");
    LogInfo("facade " + chinese);
    ResetLogging();
    EXPECT_EQ(ReadFile(File("f.log")), "INFO|macro " + chinese + "\nINFO|facade " + chinese + "\n");
}

std::string WorkerText(int Thread, int Number) {
    return "T" + std::to_string(Thread) + " N" + std::to_string(Number) + " \xE4\xB8\xAD";
}

TEST_F(LoggerConfigTest, ConcurrentLoggingKeepsEveryLineWhole) {
    ASSERT_TRUE(Configure("log4d.rootLogger=DEBUG,F\n" + FileAppender("F", File("f.log"))));
    int sinkLines = 0; // the sink's calls are serialised by the logger
    TLogSink previous = SetLogSink([&sinkLines](TLogLevel, std::string_view) { ++sinkLines; });
    constexpr int Threads = 8;
    constexpr int PerThread = 400;
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([t, &go] {
            while (!go.load())
                std::this_thread::yield();
            for (int n = 0; n < PerThread; ++n) {
                const std::string text = WorkerText(t, n);
                if (n % 3 == 0)
                    LogDebug(text);
                else if (n % 3 == 1)
                    LogInfo(text);
                else
                    LogError(text);
            }
        });
    go = true;
    for (std::thread& worker : workers)
        worker.join();
    SetLogSink(std::move(previous));
    ResetLogging();

    EXPECT_EQ(sinkLines, Threads * PerThread);
    const std::vector<std::string> lines = SplitLines(ReadFile(File("f.log")));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(Threads * PerThread));
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : lines) {
        int t = -1;
        int n = -1;
        const auto bar = line.find('|');
        ASSERT_NE(bar, std::string::npos) << line;
        ASSERT_EQ(std::sscanf(line.c_str() + bar + 1, "T%d N%d", &t, &n), 2) << line;
        static const char* const Levels[] = {"DEBUG", "INFO", "ERROR"};
        EXPECT_EQ(line, std::string(Levels[n % 3]) + "|" + WorkerText(t, n)) << line;
        seen.emplace(t, n);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(Threads * PerThread));
}

// A fresh process started in a folder full of log4j/log4cxx files must not pick any of them
// up: the program's logging is configured from its own log.cfg only.
TEST(LoggerDeathTest, NoConfigurationIsTakenFromTheWorkingDirectory) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TTempDir dir;
    const std::string properties = "log4j.rootLogger=DEBUG, A\n"
                                   "log4j.appender.A=FileAppender\n"
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

TEST(ProfilerTest, StartingTwiceKeepsOneTimerAndRestartsIt) {
    TLLProfiler profiler;
    profiler.StartTimer(8); // a witness that is never restarted
    profiler.StartTimer(7);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    profiler.StartTimer(7);
    EXPECT_EQ(profiler.TimerCount(), 2u);
    const std::int64_t restarted = profiler.StopTimer(7);
    const std::int64_t witness = profiler.StopTimer(8);
    // The restart came at least 60 ms after the witness's start, whatever the load.
    EXPECT_GE(restarted, 0);
    EXPECT_LE(restarted, witness - 60 * TLLProfiler::Frequency() / 1000);

    // The process-wide profiler behaves the same.
    StartTimer(-1001);
    const std::size_t count = Profiler().TimerCount();
    StartTimer(-1001);
    EXPECT_EQ(Profiler().TimerCount(), count);
}

TEST(ProfilerTest, StopTimerMeasuresFromTheSameStartInNanoseconds) {
    EXPECT_TRUE(TLLProfiler::UsePerformanceCounter());
    EXPECT_EQ(TLLProfiler::Frequency(), 1'000'000'000);
    TLLProfiler profiler;
    profiler.StartTimer(1);
    profiler.StartTimer(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::int64_t first = profiler.StopTimer(1);
    EXPECT_GE(first, 20'000'000);
    EXPECT_LT(first, 10'000'000'000);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(profiler.StopTimer(1), first + 5'000'000);
    EXPECT_EQ(profiler.TimerCount(), 2u);
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
    EXPECT_EQ(FormatTimerSeconds(1.23456, "."), "1.235 s");
    EXPECT_EQ(FormatTimerSeconds(0, "."), "0.0 s");
    EXPECT_EQ(FormatTimerSeconds(-0.0001, "."), "0.0 s");
    EXPECT_EQ(FormatTimerSeconds(1, "."), "1.0 s");
    EXPECT_EQ(FormatTimerSeconds(2.5, "."), "2.5 s");
    EXPECT_EQ(FormatTimerSeconds(12.3004, "."), "12.3 s");
    EXPECT_EQ(FormatTimerSeconds(0.9996, "."), "1.0 s");
    EXPECT_EQ(FormatTimerSeconds(3.07, "."), "3.07 s");
    // Exact binary halves: the even neighbour wins.
    EXPECT_EQ(FormatTimerSeconds(0.0625, "."), "0.062 s");
    EXPECT_EQ(FormatTimerSeconds(0.1875, "."), "0.188 s");
    EXPECT_EQ(FormatTimerSeconds(1.23456, ","), "1,235 s");
    EXPECT_EQ(FormatTimerSeconds(1.5, "\xE2\x80\xA4"), "1\xE2\x80\xA4"
                                                       "5 s");
    EXPECT_EQ(FormatTimerSeconds(1e300 * 1e300, "."), "0.0 s");
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
}

TEST(ProfilerTest, LogTimerWritesOneLineToStandardError) {
    TStderrCapture unknown;
    LogTimer(-777777, "Nothing");
    EXPECT_EQ(unknown.Finish(), "Nothing: 0.0 s\n");

    StartTimer(-777778);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    TStderrCapture started;
    LogTimer(-777778, "OnCreate\nsecond line");
    const std::string line = started.Finish();
    EXPECT_EQ(CountLines(line), 1u) << line;
    const std::string prefix = "OnCreate second line: ";
    ASSERT_EQ(line.substr(0, prefix.size()), prefix) << line;
    ASSERT_GE(line.size(), prefix.size() + 3) << line;
    ASSERT_EQ(line.substr(line.size() - 3), " s\n") << line;
    // "0<separator>5 s" tells the separator of the environment; "." under C.
    const std::string half = FormatTimerSeconds(0.5);
    const std::string separator = half.substr(1, half.size() - 4);
    const std::string seconds =
        ReplaceAll(line.substr(prefix.size(), line.size() - prefix.size() - 3), separator, ".");
    const auto point = seconds.find('.');
    ASSERT_NE(point, std::string::npos) << line;
    const std::size_t decimals = seconds.size() - point - 1;
    EXPECT_TRUE(point > 0 && decimals >= 1 && decimals <= 3) << line;
    EXPECT_EQ(seconds.find_first_not_of("0123456789."), std::string::npos) << line;
    EXPECT_GE(std::strtod(seconds.c_str(), nullptr), 0.015) << line;
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
