#include "support/QvThread.h"

#include "support/QvLogger.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace qv {

// --- TQueuedDispatcher -------------------------------------------------------------------

void TQueuedDispatcher::RunAndWait(const std::function<void()>& Call) {
    auto call = std::make_shared<TCall>();
    call->Function = &Call;
    // The worker's own reference: nothing of the object itself is touched once it waits.
    const std::shared_ptr<TShared> shared = Shared;
    std::unique_lock guard(shared->Lock);
    if (shared->Closed)
        return;
    shared->Queue.push_back(call);
    shared->Changed.notify_all();
    // A call the main thread has taken is waited for even after Close: it runs on the
    // worker's own function object.
    shared->Changed.wait(guard, [&] { return call->Done || (shared->Closed && !call->Taken); });
}

int TQueuedDispatcher::Pump() {
    int ran = 0;
    for (;;) {
        std::shared_ptr<TCall> call;
        {
            std::lock_guard guard(Shared->Lock);
            if (Shared->Queue.empty())
                return ran;
            call = Shared->Queue.front();
            Shared->Queue.pop_front();
            call->Taken = true;
        }
        auto finish = [&] {
            std::lock_guard guard(Shared->Lock);
            call->Done = true;
            Shared->Changed.notify_all();
        };
        try {
            (*call->Function)();
        } catch (...) {
            finish();
            throw;
        }
        finish();
        ++ran;
    }
}

int TQueuedDispatcher::WaitAndPump(std::chrono::milliseconds Timeout) {
    {
        std::unique_lock guard(Shared->Lock);
        Shared->Changed.wait_for(guard, Timeout,
                                 [&] { return !Shared->Queue.empty() || Shared->Closed; });
    }
    return Pump();
}

void TQueuedDispatcher::Close() {
    std::lock_guard guard(Shared->Lock);
    Shared->Closed = true;
    Shared->Queue.clear();
    Shared->Changed.notify_all();
}

// --- TThreadJoiner -----------------------------------------------------------------------

TThreadJoiner::~TThreadJoiner() {
    JoinAll();
}

void TThreadJoiner::Add(std::thread Thread, std::shared_ptr<const std::atomic<bool>> Ended) {
    std::vector<TEntry> ended;
    {
        std::lock_guard guard(Lock);
        auto done = [](const TEntry& e) { return e.Ended->load(std::memory_order_acquire); };
        for (TEntry& entry : Entries)
            if (done(entry))
                ended.push_back(std::move(entry));
        std::erase_if(Entries, [](const TEntry& e) { return !e.Thread.joinable(); });
        Entries.push_back({std::move(Thread), std::move(Ended)});
    }
    // Joined outside the lock; each has only its last instructions left.
    for (TEntry& entry : ended)
        entry.Thread.join();
}

void TThreadJoiner::JoinAll() {
    std::vector<TEntry> all;
    {
        std::lock_guard guard(Lock);
        all.swap(Entries);
    }
    for (TEntry& entry : all) {
        if (entry.Thread.get_id() == std::this_thread::get_id())
            entry.Thread.detach(); // the last owner let go on this very thread
        else
            entry.Thread.join();
    }
}

// --- TThread -----------------------------------------------------------------------------

TThread::TThread(TMainThreadDispatcher& Dispatcher) : Dispatcher(Dispatcher) {}

TThread::~TThread() {
    if (Worker.joinable() && Worker.get_id() != std::this_thread::get_id())
        Worker.join();
}

void TThread::Adopt(std::unique_ptr<TThread> Thread, std::shared_ptr<TThreadJoiner> Joiner) {
    TThread* thread = Thread.get();
    thread->FreeOnTerminate = true;
    thread->Joiner = std::move(Joiner);
    thread->Self = std::move(Thread);
}

void TThread::Resume() {
    if (Started.exchange(true))
        return;
    if (FreeOnTerminate) {
        // The thread may end and free itself at once: nothing of it is touched afterwards,
        // so what the start needs is taken out first.
        std::shared_ptr<TThreadJoiner> joiner = Joiner;
        auto ended = std::make_shared<std::atomic<bool>>(false);
        std::thread worker([this, ended] {
            Run();
            ended->store(true, std::memory_order_release);
        });
        if (joiner)
            joiner->Add(std::move(worker), std::move(ended));
        else
            worker.detach();
        return;
    }
    Worker = std::thread([this] { Run(); });
}

void TThread::SetOnTerminate(TNotifyEvent Handler) {
    std::lock_guard guard(HandlerLock);
    OnTerminate = std::move(Handler);
}

TThread::TNotifyEvent TThread::TakeOnTerminate() {
    std::lock_guard guard(HandlerLock);
    return std::exchange(OnTerminate, nullptr);
}

void TThread::WaitFor() {
    if (Worker.joinable() && Worker.get_id() != std::this_thread::get_id())
        Worker.join();
}

void TThread::Deliver(const TNotifyEvent& Handler) {
    if (Handler)
        Dispatcher.RunAndWait([&] { Handler(*this); });
}

void TThread::DoTerminate() {
    Deliver(TakeOnTerminate());
}

void TThread::Run() {
    if (Priority == tpLower) {
        // One step below the others, so that the window stays responsive; best effort.
        const id_t tid = id_t(::gettid());
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, tid);
        if (errno == 0)
            ::setpriority(PRIO_PROCESS, tid, std::min(nice + 2, 19));
    }
    try {
        Execute();
    } catch (const std::exception& e) {
        LogError(std::string("Thread ended by an exception: ") + e.what());
    } catch (...) {
        LogError("Thread ended by an unknown exception");
    }
    HasExecuted.store(true, std::memory_order_release);
    HasExecuted.notify_all();
    try {
        DoTerminate();
    } catch (const std::exception& e) {
        LogError(std::string("Termination event failed: ") + e.what());
    } catch (...) {
        LogError("Termination event failed");
    }
    if (FreeOnTerminate) {
        std::unique_ptr<TThread> self = std::move(Self);
        // self frees this object here; nothing may follow.
    }
}

} // namespace qv
