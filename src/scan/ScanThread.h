#pragma once
// TDirScanThread runs one TDirScanner over one directory node on a worker thread;
// TDirScanThreadList registers at most MaxThreads of them and stops them.
//
// Threading: the list's functions are called on the main thread. A worker unregisters
// itself when its scan has ended and then delivers its termination event on the main
// thread (through the dispatcher) while it waits; so a handler already sees the list
// without it. Until that event has run the list counts the thread as ending (IsSettled).
// Lock order: the list's lock, then a scanner's path lock. The list's state lives in a
// shared registry that the workers hold too, so a worker that ends after the list was
// destroyed never touches freed memory.
//
// Nodes: a worker writes to its node until its Execute has returned, and its termination
// handler may read it. Whoever frees nodes first stops the threads inside them (which waits
// for their Execute to return) and then calls ForgetNodesInside or ForgetAllNodes; a
// handler asks NodeReleased before it touches the thread's node.

#include "scan/DirScan.h"
#include "support/QvThread.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qv {

class TDirNode;
class TFileSystemNode;
class TDirScanThread;

// The registered workers; shared by the list and its workers.
struct TScanThreadRegistry {
    std::mutex Lock;
    std::vector<TDirScanThread*> Threads; // registration order
    // Unregistered threads whose termination event is on its way to the main thread.
    std::vector<TDirScanThread*> Ending;
    // The workers' handles, joined by WaitForThreads.
    std::shared_ptr<TThreadJoiner> Joiner = std::make_shared<TThreadJoiner>();
};

class TDirScanThread final : public TThread {
public:
    // Made by TDirScanThreadList::StartThread: suspended, one step below normal priority,
    // freeing itself when it ends.
    TDirScanThread(TDirNode& Node, TMainThreadDispatcher& Dispatcher,
                   std::shared_ptr<TScanThreadRegistry> Owner);

    [[nodiscard]] TDirScanner& Scanner() noexcept { return *DirScanner; }
    // Where the walk records its largest files and sums per type; set before Resume.
    void SetStatistics(std::shared_ptr<TScanStatistics> Statistics) {
        DirScanner->SetStatistics(std::move(Statistics));
    }
    // True once the list was told that this thread's node is about to be freed (or was):
    // its termination handler must then leave the node alone. Main thread only.
    [[nodiscard]] bool NodeReleased() const noexcept { return Released; }

protected:
    void Execute() override;
    void DoTerminate() override;

private:
    friend class TDirScanThreadList;
    // Sets the terminated flag, stops the scanner, starts a thread that was never resumed
    // (it then ends without scanning) and waits until Execute has returned: after that the
    // thread writes to no node. Only under the list's lock: a registered thread cannot free
    // itself before that lock is released.
    void StopAndWait();
    // Delivers Handler unless Shutdown took the thread out of the ending ones meanwhile.
    void DeliverEnd(const TNotifyEvent& Handler);

    std::unique_ptr<TDirScanner> DirScanner;
    std::shared_ptr<TScanThreadRegistry> Owner;
    bool Released = false; // main thread only (see NodeReleased)
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
    // No thread registered and no termination event still to be run: the end of every
    // thread started here has been handled.
    [[nodiscard]] bool IsSettled() const;
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
    // Stops every thread whose root is Node, lies below it or above it: all that may write
    // into Node's subtree or count it. Returns the roots of those stopped above Node, which
    // are left incomplete.
    std::vector<TDirNode*> StopThreadsAround(const TFileSystemNode& Node);
    // Marks the threads whose node is Node or lies below it, running or ending, so that
    // their handlers leave their nodes alone (NodeReleased); returns how many. Call before
    // Node's children are freed, after the threads inside were stopped.
    int ForgetNodesInside(const TDirNode& Node);
    // The same for every thread: call before the whole tree is freed.
    void ForgetAllNodes();
    // Stops every thread without letting any termination event through, and returns once
    // all have unregistered.
    void Shutdown();
    // Joins every thread started here. Only when none can be waiting for the main thread:
    // after Shutdown once the dispatcher is closed, or once every event was handled.
    void WaitForThreads();

private:
    int Max;
    TMainThreadDispatcher& Dispatcher;
    std::shared_ptr<TScanThreadRegistry> Registry = std::make_shared<TScanThreadRegistry>();
};

} // namespace qv
