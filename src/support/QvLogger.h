#pragma once
// The application logger "Quorvel", written through log4cxx and configured from a Log4D
// style property file ("log.cfg" next to the executable).
//
// Until a configuration is applied, events reach no appender. The one exception is the
// facade's error lines: a user who starts the program from a terminal without a log.cfg
// still wants to hear that something failed, so LogError writes "quorvel: <message>" to
// standard error while no configuration is active (and no sink is set). Debug and info lines
// stay silent then.
//
// Threading: every function may be called from any thread. ConfigureLogging and
// ResetLogging are meant for start-up (and tests) and are serialised among themselves.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

// The header stays free of log4cxx includes: only the pointer type is named here. Code that
// logs through GetLogger() includes <log4cxx/logger.h> itself.
namespace log4cxx {
class Logger;
typedef std::shared_ptr<Logger> LoggerPtr;
} // namespace log4cxx

namespace qv {

enum TLogLevel { llDebug, llInfo, llError };

// The program's one logger, named "Quorvel", from the program's logger registry. The
// registry never configures itself from files in the working directory; only
// ConfigureLogging configures it.
[[nodiscard]] log4cxx::LoggerPtr GetLogger();

// Replaces the whole logging configuration with the one in the property file CfgFile.
// The file uses the Log4D keys ("log4d.rootLogger", "log4d.logger.Quorvel",
// "log4d.appender.NAME", ...) or the log4j keys; Log4D class and option names are mapped
// onto their log4cxx counterparts. Only the classes Log4D names are accepted (by their
// Log4D or log4j names); any other class is an unknown one. Relative log file names are
// taken relative to the directory of CfgFile. "~/" and ${VARIABLE} are expanded in option
// values, a variable being an environment variable or else another key of the file; one
// that refers to itself, nests more than 16 levels deep or grows beyond 64 KiB is reported
// and taken as empty.
//
// Every problem is reported as one line on standard error and never stops the program:
// a missing, unreadable or meaningless file leaves logging unconfigured; a bad level name,
// an unknown class or a log file that cannot be opened drops just that entry.
//
// Also makes LC_CTYPE a UTF-8 locale when it is not, because log4cxx converts messages and
// console output through it; call this after the Qt application object exists, since that
// resets the locale from the environment.
//
// Returns true when a configuration was applied; a file that only switches logging off
// ("log4d.rootLogger=OFF") counts as one and also silences the error fallback.
bool ConfigureLogging(const std::string& CfgFile);

// ConfigureLogging for a configuration that is already in memory: Text is the content of
// the file, which need not exist. CfgFile still names it in diagnostics, and its directory
// is where relative log file names lead.
bool ConfigureLoggingFromText(std::string_view Text, const std::string& CfgFile);

// ConfigureLogging with DefaultLogConfigFile(); silently false when that file does not exist.
bool ConfigureLogging();

// "log.cfg" in the directory of the running executable.
[[nodiscard]] std::string DefaultLogConfigFile();

// Back to the unconfigured state: appenders closed, events reach no appender.
void ResetLogging();

// Whether a configuration is applied.
[[nodiscard]] bool IsLoggingConfigured() noexcept;

// Writes one line at the given level through the "Quorvel" logger (and to the sink, if one
// is set). The text is UTF-8 and reaches file appenders intact whatever the locale.
void LogMessage(TLogLevel level, std::string_view message);
inline void LogDebug(std::string_view message) {
    LogMessage(llDebug, message);
}
inline void LogInfo(std::string_view message) {
    LogMessage(llInfo, message);
}
inline void LogError(std::string_view message) {
    LogMessage(llError, message);
}

// Writes Text to standard error with as few writes as it takes, so that the lines of
// several threads never mix; failures are ignored.
void WriteStandardError(std::string_view Text) noexcept;

// Whether developers' diagnostics such as the profiler's timings go to standard error:
// only when the environment has QUORVEL_DEBUG=1 or the configuration logs "Quorvel" at
// debug level. By default standard error carries errors alone.
[[nodiscard]] bool IsDebugOutputEnabled() noexcept;

using TLogSink = std::function<void(TLogLevel, std::string_view)>;

// A hook for tests and start-up code: while set, the sink receives every facade line at
// every level, before and independently of the log4cxx configuration, and it replaces the
// standard error fallback for errors of the unconfigured state. Lines still go to log4cxx
// as well. Calls into the sink are serialised, so a sink needs no lock of its own, and once
// SetLogSink returns, the previous sink is no longer running. An empty function removes
// the sink. Returns the previous sink.
TLogSink SetLogSink(TLogSink sink);

} // namespace qv
