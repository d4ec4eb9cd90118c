#pragma once
// Stopwatches addressed by integer ids, for timing start-up steps and worker runs. The
// process-wide profiler reports to standard error, not to the log, so that a developer sees
// timings without setting up a log file; it does so only when asked (IsDebugOutputEnabled).
//
// Threading: a TLLProfiler may be used from several threads; its timer list is locked.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class ETimerException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TLLProfiler {
public:
    TLLProfiler() = default;
    TLLProfiler(const TLLProfiler&) = delete;
    TLLProfiler& operator=(const TLLProfiler&) = delete;

    // Starts the timer Id, or restarts it when it exists.
    void StartTimer(std::int32_t Id);

    // The ticks since timer Id was started. The timer keeps running from the same start, so
    // a later call measures again from there. Throws ETimerException for an id that was
    // never started.
    std::int64_t StopTimer(std::int32_t Id);

    // The clock is steady_clock, which always exists on Linux and counts nanoseconds.
    [[nodiscard]] static constexpr bool UsePerformanceCounter() noexcept { return true; }
    [[nodiscard]] static constexpr std::int64_t Frequency() noexcept { return 1'000'000'000; }

    // The number of timers ever started; timers are never removed.
    [[nodiscard]] std::size_t TimerCount() const;

private:
    struct TLLTimer {
        std::int32_t Id;
        std::int64_t Start;
        std::int64_t Stop;
    };

    // First match in creation order; null when there is none. Lock must be held.
    TLLTimer* Find(std::int32_t Id);

    mutable std::mutex Lock;
    std::vector<TLLTimer> Timers;
};

// The process-wide profiler, created on first use.
TLLProfiler& Profiler();

// StartTimer on Profiler().
void StartTimer(std::int32_t Id);

// Seconds on the process-wide timer Id; 0 for an id that was never started.
[[nodiscard]] double ElapsedSeconds(std::int32_t Id) noexcept;

// Seconds as "1.235 s": at least one and at most three decimals, rounded to nearest with
// ties to even, with DecimalSeparator in place of the point.
[[nodiscard]] std::string FormatTimerSeconds(double Seconds, std::string_view DecimalSeparator);

// As above with the decimal separator of the user's LC_NUMERIC, read once from the
// environment without touching the process's locale ("." under C).
[[nodiscard]] std::string FormatTimerSeconds(double Seconds);

// Writes "Name: <seconds> s" for the process-wide timer Id as one line to standard error
// while IsDebugOutputEnabled(); otherwise nothing. An id that was never started reports
// "Name: 0.0 s".
void LogTimer(std::int32_t Id, std::string_view Name) noexcept;

} // namespace qv
