#pragma once
// A four-byte mutex for the child list of every directory node. std::mutex costs 40 bytes
// and a tree holds one lock per directory, so this one waits on the futex of its own word
// (std::atomic::wait) instead. Not recursive: a thread that holds it must not take it again.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace qv {

// How long the calling thread had to wait for node locks another thread held. Only the
// slow path counts, so the figures cost nothing when nobody waits; the responsiveness
// benchmark reads them for the GUI thread.
struct TLockWaitStats {
    std::uint64_t Waits = 0;
    std::int64_t TotalNs = 0;
    std::int64_t MaxNs = 0;
};
inline thread_local TLockWaitStats ThisThreadLockWaits;

class TNodeLock {
public:
    TNodeLock() = default;
    TNodeLock(const TNodeLock&) = delete;
    TNodeLock& operator=(const TNodeLock&) = delete;

    void lock() noexcept {
        std::uint32_t c = 0;
        if (State.compare_exchange_strong(c, 1, std::memory_order_acquire))
            return;
        const auto Start = std::chrono::steady_clock::now();
        // 2 means "locked, and someone may be waiting": the unlocker must wake one.
        if (c != 2)
            c = State.exchange(2, std::memory_order_acquire);
        while (c != 0) {
            State.wait(2, std::memory_order_relaxed);
            c = State.exchange(2, std::memory_order_acquire);
        }
        const std::int64_t Waited = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now() - Start)
                                        .count();
        TLockWaitStats& Stats = ThisThreadLockWaits;
        ++Stats.Waits;
        Stats.TotalNs += Waited;
        Stats.MaxNs = Waited > Stats.MaxNs ? Waited : Stats.MaxNs;
    }

    [[nodiscard]] bool try_lock() noexcept {
        std::uint32_t c = 0;
        return State.compare_exchange_strong(c, 1, std::memory_order_acquire);
    }

    void unlock() noexcept {
        if (State.exchange(0, std::memory_order_release) == 2)
            State.notify_one();
    }

private:
    std::atomic<std::uint32_t> State{0};
};

static_assert(sizeof(TNodeLock) == 4);

} // namespace qv
