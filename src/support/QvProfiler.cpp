#include "support/QvProfiler.h"

#include "support/QvLogger.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>
#include <langinfo.h>
#include <locale.h> // newlocale, POSIX 2008
#include <unistd.h>

namespace qv {
namespace {

std::int64_t Now() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The user's separator, read through a locale object of our own: the global LC_NUMERIC must
// stay as it is, or number parsing elsewhere breaks.
std::string EnvironmentDecimalSeparator() {
    std::string separator = ".";
    const locale_t locale = ::newlocale(LC_NUMERIC_MASK, "", locale_t(nullptr));
    if (locale == locale_t(nullptr))
        return separator;
    const char* radix = ::nl_langinfo_l(RADIXCHAR, locale);
    if (radix != nullptr && *radix != '\0')
        separator = radix;
    ::freelocale(locale);
    return separator;
}

const std::string& DecimalSeparator() {
    static const std::string separator = EnvironmentDecimalSeparator();
    return separator;
}

} // namespace

TLLProfiler::TLLTimer* TLLProfiler::Find(std::int32_t Id) {
    for (TLLTimer& timer : Timers)
        if (timer.Id == Id)
            return &timer;
    return nullptr;
}

void TLLProfiler::StartTimer(std::int32_t Id) {
    std::lock_guard guard(Lock);
    TLLTimer* timer = Find(Id);
    if (timer == nullptr)
        timer = &Timers.emplace_back(TLLTimer{Id, 0, 0});
    // Read last, so that neither the look-up nor the lock counts towards the measurement.
    timer->Start = Now();
}

std::int64_t TLLProfiler::StopTimer(std::int32_t Id) {
    // Read first, for the same reason.
    const std::int64_t now = Now();
    std::lock_guard guard(Lock);
    TLLTimer* timer = Find(Id);
    if (timer == nullptr)
        throw ETimerException("Es wurde kein Timer mir der ID " + std::to_string(Id) +
                              " gestartet");
    timer->Stop = now;
    return timer->Stop - timer->Start;
}

std::size_t TLLProfiler::TimerCount() const {
    std::lock_guard guard(Lock);
    return Timers.size();
}

TLLProfiler& Profiler() {
    static TLLProfiler profiler;
    return profiler;
}

void StartTimer(std::int32_t Id) {
    Profiler().StartTimer(Id);
}

double ElapsedSeconds(std::int32_t Id) noexcept {
    try {
        return static_cast<double>(Profiler().StopTimer(Id)) /
               static_cast<double>(TLLProfiler::Frequency());
    } catch (...) {
        return 0;
    }
}

std::string FormatTimerSeconds(double Seconds, std::string_view DecimalSeparator) {
    if (!std::isfinite(Seconds))
        Seconds = 0;
    // to_chars rounds the exact binary value, ties to even, and never looks at a locale.
    char buffer[400];
    const auto converted =
        std::to_chars(buffer, buffer + sizeof buffer, Seconds, std::chars_format::fixed, 3);
    std::string text(buffer, converted.ptr);
    // At most three decimals, but at least one.
    while (text.back() == '0' && text[text.size() - 2] != '.')
        text.pop_back();
    if (text == "-0.0")
        text = "0.0";
    const auto point = text.find('.');
    text.replace(point, 1, DecimalSeparator.empty() ? std::string_view(".") : DecimalSeparator);
    return text + " s";
}

std::string FormatTimerSeconds(double Seconds) {
    return FormatTimerSeconds(Seconds, DecimalSeparator());
}

void LogTimer(std::int32_t Id, std::string_view Name) noexcept {
    if (!IsDebugOutputEnabled())
        return;
    try {
        std::string line(Name);
        // One line, whatever the name holds.
        for (char& c : line)
            if (c == '\n' || c == '\r')
                c = ' ';
        line += ": ";
        line += FormatTimerSeconds(ElapsedSeconds(Id));
        line += '\n';
        WriteStandardError(line);
    } catch (...) {
        // Out of memory while timing: the timing is not worth more trouble.
    }
}

} // namespace qv
