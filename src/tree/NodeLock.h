#pragma once
// A four-byte mutex for the child list of every directory node. std::mutex costs 40 bytes
// and a tree holds one lock per directory, so this one waits on the futex of its own word
// (std::atomic::wait) instead. Not recursive: a thread that holds it must not take it again.

#include <atomic>
#include <cstdint>

namespace qv {

class TNodeLock {
public:
    TNodeLock() = default;
    TNodeLock(const TNodeLock&) = delete;
    TNodeLock& operator=(const TNodeLock&) = delete;

    void lock() noexcept {
        std::uint32_t c = 0;
        if (State.compare_exchange_strong(c, 1, std::memory_order_acquire))
            return;
        // 2 means "locked, and someone may be waiting": the unlocker must wake one.
        if (c != 2)
            c = State.exchange(2, std::memory_order_acquire);
        while (c != 0) {
            State.wait(2, std::memory_order_relaxed);
            c = State.exchange(2, std::memory_order_acquire);
        }
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
