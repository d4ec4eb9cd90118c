#pragma once
// TDirScanThread runs one TDirScanner over one directory node on a worker thread;
// TDirScanThreadList registers at most MaxThreads of them and stops them.
//
// Threading: the list's functions are called on the main thread. A worker unregisters
// itself when its scan has ended and then delivers its termination event on the main
// thread (through the dispatcher) while it waits; so a handler already sees the list
// without it. Lock order: the list's lock, then a scanner's path lock. The list's state
// lives in a shared registry that the workers hold too, so a worker that ends after the
// list was destroyed never touches freed memory.

#include "scan/DirScan.h"
#include "support/QvThread.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qv {

class TDirNode;
class TDirScanThread;

// The registered workers; shared by the list and its workers.
struct TScanThreadRegistry {
    std::mutex Lock;
    std::vector<TDirScanThread*> Threads; // registration order
};

class TDirScanThread final : public TThread {
public:
    // Made by TDirScanThreadList::StartThread: suspended, one step below normal priority,
    // freeing itself when it ends.
    TDirScanThread(TDirNode& Node, TMainThreadDispatcher& Dispatcher,
                   std::shared_ptr<TScanThreadRegistry> Owner);
    ~TDirScanThread() override;

    [[nodiscard]] TDirScanner& Scanner() noexcept { return *DirScanner; }

protected:
    void Execute() override;
    void DoTerminate() override;

private:
    friend class TDirScanThreadList;
    // Sets the terminated flag, stops the scanner and waits until it has left its walk; a
    // thread that was never resumed is then started, so that it ends without scanning and
    // unregisters. Only under the list's lock: a registered thread cannot free itself
    // before that lock is released.
    void StopAndWait();

    std::unique_ptr<TDirScanner> DirScanner;
    std::shared_ptr<TScanThreadRegistry> Owner;
};

class TDirScanThreadList {
public:
    // The window makes its list with 9. Termination events are delivered through
    // Dispatcher, which must outlive every thread started here.
    TDirScanThreadList(int MaxThreads, TMainThreadDispatcher& Dispatcher);
    // Stops every registered thread; their termination events still run if assigned.
    ~TDirScanThreadList();
    TDirScanThreadList(const TDirScanThreadList&) = delete;
    TDirScanThreadList& operator=(const TDirScanThreadList&) = delete;

    // A registered, suspended thread for Node, or nullptr when MaxThreads are registered.
    // The caller sets OnTerminate and then resumes it; the thread frees itself.
    TDirScanThread* StartThread(TDirNode& Node);
    [[nodiscard]] bool IsIdle() const;
    [[nodiscard]] bool IsFull() const;
    [[nodiscard]] int Count() const;
    [[nodiscard]] int MaxThreads() const noexcept { return Max; }
    // Unregisters Thread; nothing happens when it is not registered.
    void Remove(TDirScanThread* Thread);
    // The directory the first registered thread walks; empty when none is registered.
    [[nodiscard]] std::string GetCurrentPath() const;
    // Stops every registered thread and waits until each has left its walk. They stay
    // registered until each one's end unregisters it.
    void StopAll();
    // Stops the threads whose root lies strictly below Node; returns how many.
    int StopThreadsInside(const TDirNode& Node);
    // Stops every thread without letting any termination event through, and returns once
    // all have unregistered.
    void Shutdown();

private:
    int Max;
    TMainThreadDispatcher& Dispatcher;
    std::shared_ptr<TScanThreadRegistry> Registry = std::make_shared<TScanThreadRegistry>();
};

} // namespace qv
