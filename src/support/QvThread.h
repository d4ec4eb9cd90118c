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
// command line, which have no event loop.
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
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::shared_ptr<TCall>> Queue;
    bool Closed = false;
};

enum TThreadPriority { tpNormal, tpLower };

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
    // Hands a suspended thread its own ownership: it frees itself when it ends.
    static void Adopt(std::unique_ptr<TThread> Thread);

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
    std::mutex HandlerLock;
    TNotifyEvent OnTerminate;
    std::atomic<bool> IsTerminated{false};
    std::atomic<bool> Started{false};
    bool FreeOnTerminate = false;
    TThreadPriority Priority = tpNormal;
};

} // namespace qv
