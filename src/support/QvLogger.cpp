#include "support/QvLogger.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace qv {
namespace {

std::mutex SinkLock;
TLogSink Sink;

void DefaultSink(TLogLevel level, std::string_view message) {
    if (level == llDebug)
        return;
    std::string line(message);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace

void LogMessage(TLogLevel level, std::string_view message) {
    std::lock_guard guard(SinkLock);
    if (Sink)
        Sink(level, message);
    else
        DefaultSink(level, message);
}

TLogSink SetLogSink(TLogSink sink) {
    std::lock_guard guard(SinkLock);
    TLogSink old = std::move(Sink);
    Sink = std::move(sink);
    return old;
}

} // namespace qv
