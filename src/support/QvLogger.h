#pragma once
// The application logger "Quorvel". Until a configuration file is read, debug lines are
// dropped and info and error lines go to standard error.
//
// Threading: callable from any thread; the sink is swapped only by tests and start-up code.

#include <functional>
#include <string_view>

namespace qv {

enum TLogLevel { llDebug, llInfo, llError };

// Writes one line at the given level through the current sink.
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

using TLogSink = std::function<void(TLogLevel, std::string_view)>;

// Replaces the sink that receives every line; an empty function restores the default.
// Returns the previous sink. Not meant to race with logging threads.
TLogSink SetLogSink(TLogSink sink);

} // namespace qv
