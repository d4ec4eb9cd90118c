#pragma once
// The program's thread class and the main-thread dispatcher it reports through.
//
// A TThread is created suspended and started by Resume. Execute runs on the new thread;
// afterwards DoTerminate runs there too and delivers OnTerminate on the main thread through
// the dispatcher, waiting until the handler has returned. A thread with FreeOnTerminate
// frees itself after that; nobody may touch it once it can have ended.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qv {

// Runs calls on the main thread on behalf of worker threads.
class TMainThreadDispatcher {
public:
    virtual ~TMainThreadDispatcher() = default;
    // Runs Call on the main thread and returns once it has run. A dispatcher that is shut
    // down returns at once without running it. Never called on the main thread itself.
    virtual void RunAndWait(const std::function<void()>& Call) = 0;
};

// A dispatcher whose main thread is whichever thread calls Pump: for tests and for the
// command line, which have no event loop. It may be destroyed while workers whose calls
// have run (or that Close released) are still on their way out of RunAndWait; no call may
// begin after that.
class TQueuedDispatcher final : public TMainThreadDispatcher {
public:
    ~TQueuedDispatcher() override { Close(); }

    void RunAndWait(const std::function<void()>& Call) override;
    // Runs the calls queued so far on the calling thread; returns how many ran.
    int Pump();
    // Waits up to Timeout for a call, then runs what is queued; returns how many ran.
    int WaitAndPump(std::chrono::milliseconds Timeout);
    // Releases every waiting worker without running its call, and every later one at once.
    void Close();

private:
    struct TCall {
        const std::function<void()>* Function = nullptr;
        bool Taken = false;
        bool Done = false;
    };
    // Apart from the object, and held by every worker inside RunAndWait: a worker released
    // by the end of its call (or by Close) still takes the lock again on its way out, and
    // the main thread may destroy the dispatcher before that worker even runs.
    struct TShared {
        std::mutex Lock;
        std::condition_variable Changed;
        std::deque<std::shared_ptr<TCall>> Queue;
        bool Closed = false;
    };
    const std::shared_ptr<TShared> Shared = std::make_shared<TShared>();
};

enum TThreadPriority { tpNormal, tpLower };

// Keeps the handles of self-freeing threads so that their owner can join them at the end
// instead of leaving them detached: a detached thread may still be ending while the
// program's static objects (the logger) are destroyed.
//
// Threading: any thread. A joiner destroyed on one of its own threads detaches that one.
class TThreadJoiner {
public:
    TThreadJoiner() = default;
    TThreadJoiner(const TThreadJoiner&) = delete;
    TThreadJoiner& operator=(const TThreadJoiner&) = delete;
    ~TThreadJoiner();

    // Takes Thread; Ended is set by the thread as the last thing it does. Joins the threads
    // that have ended meanwhile, so the handles do not pile up.
    void Add(std::thread Thread, std::shared_ptr<const std::atomic<bool>> Ended);
    // Joins every thread added so far. Only when none of them can be waiting for the
    // caller (a termination event waits for the main thread).
    void JoinAll();

private:
    struct TEntry {
        std::thread Thread;
        std::shared_ptr<const std::atomic<bool>> Ended;
    };
    std::mutex Lock;
    std::vector<TEntry> Entries;
};

class TThread {
public:
    using TNotifyEvent = std::function<void(TThread&)>;

    // Suspended until Resume; OnTerminate is delivered through Dispatcher.
    explicit TThread(TMainThreadDispatcher& Dispatcher);
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // Waits for a thread that does not free itself.
    virtual ~TThread();

    // Starts the thread; later calls do nothing.
    void Resume();
    // Asks Execute to end; Execute polls Terminated.
    void Terminate() noexcept { IsTerminated.store(true, std::memory_order_relaxed); }
    [[nodiscard]] bool Terminated() const noexcept {
        return IsTerminated.load(std::memory_order_relaxed);
    }
    void SetPriority(TThreadPriority Value) noexcept { Priority = Value; }
    // The termination event; may be changed from any thread until it is delivered.
    void SetOnTerminate(TNotifyEvent Handler);
    // Waits until Execute and DoTerminate are done (not for self-freeing threads).
    void WaitFor();
    // Whether Execute has returned (or the thread ended without running it).
    [[nodiscard]] bool ExecuteEnded() const noexcept {
        return HasExecuted.load(std::memory_order_acquire);
    }
    // Waits until Execute has returned; the thread must have been resumed. The caller must
    // keep a self-freeing thread from ending meanwhile (DoTerminate may still follow).
    void WaitForExecute() const noexcept { HasExecuted.wait(false, std::memory_order_acquire); }
    // Hands a suspended thread its own ownership: it frees itself when it ends. With a
    // Joiner its handle goes there when it starts, else it is detached.
    static void Adopt(std::unique_ptr<TThread> Thread,
                      std::shared_ptr<TThreadJoiner> Joiner = nullptr);

protected:
    virtual void Execute() = 0;
    // On the worker, after Execute: delivers OnTerminate on the main thread.
    virtual void DoTerminate();
    // Takes the handler out, so that it is delivered at most once.
    TNotifyEvent TakeOnTerminate();
    // Delivers Handler on the main thread and waits for it.
    void Deliver(const TNotifyEvent& Handler);

private:
    void Run();

    TMainThreadDispatcher& Dispatcher;
    std::thread Worker;
    std::unique_ptr<TThread> Self; // set by Adopt; released when the thread ends
    std::shared_ptr<TThreadJoiner> Joiner;
    std::mutex HandlerLock;
    TNotifyEvent OnTerminate;
    std::atomic<bool> IsTerminated{false};
    std::atomic<bool> Started{false};
    std::atomic<bool> HasExecuted{false};
    bool FreeOnTerminate = false;
    TThreadPriority Priority = tpNormal;
};

} // namespace qv
