#include "scan/ScanThread.h"

#include "settings/QvSettings.h"
#include "support/QvLogger.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <chrono>
#include <pthread.h>
#include <thread>

namespace qv {

using namespace std::chrono_literals;

// --- TDirScanThread ----------------------------------------------------------------------

TDirScanThread::TDirScanThread(TDirNode& Node, TMainThreadDispatcher& Dispatcher,
                               std::shared_ptr<TScanThreadRegistry> Owner)
    : TThread(Dispatcher), DirScanner(std::make_unique<TDirScanner>(Node)),
      Owner(std::move(Owner)) {
    SetPriority(tpLower);
}

void TDirScanThread::StopAndWait() {
    Terminate();
    DirScanner->Stop();
    // A thread never started ends now, without scanning; it cannot unregister and free
    // itself before the caller releases the list's lock.
    Resume();
    // Not only the walk: a thread resumed a moment ago has not begun it yet, and still
    // marks its node when it sees the stop.
    WaitForExecute();
}

void TDirScanThread::Execute() {
    // Named, so that a debugger, top and the tests can tell the scan threads apart.
    ::pthread_setname_np(::pthread_self(), "QvScan");
    if (Terminated()) {
        // Stopped before it began: the node shows that nothing was counted, and no longer
        // claims to be scanned.
        TDirNode& root = DirScanner->RootNode();
        root.SetIncomplete(true);
        root.SetScanning(false);
        return;
    }
    TSettings& settings = AppSettings();
    const std::int64_t threshold = settings.GroupSmallFiles() ? settings.GroupFileSize() : 0;
    TDirNode& root = DirScanner->RootNode();
    // A drive of "Local Drives" stays on its own file system: the other drives are scanned
    // by their own threads.
    const TFileSystemNode* top = &root;
    while (top->Parent())
        top = top->Parent();
    DirScanner->SetCrossFileSystems(top->GetNodeType() != ntFixedDrives &&
                                    settings.CrossFileSystems());
    DirScanner->SetThreadCount(settings.ScanThreads());
    DirScanner->SetCountHardLinksOnce(settings.CountHardLinksOnce());
    try {
        DirScanner->Scan(root.GetFullPath(), threshold);
    } catch (const std::exception& e) {
        LogError(std::string("Scan of ") + root.GetFullPath() + " failed: " + e.what());
    }
}

void TDirScanThread::DoTerminate() {
    TNotifyEvent handler;
    {
        // Unregistering and taking the handler under the list's lock: Shutdown, which
        // clears handlers under the same lock, then never lets one of its threads through.
        std::lock_guard guard(Owner->Lock);
        std::erase(Owner->Threads, this);
        handler = TakeOnTerminate();
        if (handler)
            Owner->Ending.push_back(this);
    }
    if (!handler)
        return;
    DeliverEnd(handler);
    // The dispatcher was closed before the event could run.
    std::lock_guard guard(Owner->Lock);
    std::erase(Owner->Ending, this);
}

void TDirScanThread::DeliverEnd(const TNotifyEvent& Handler) {
    Deliver([this, &Handler](TThread& Thread) {
        {
            // Leaving the ending ones first, so that the handler of the last thread sees
            // the list settled.
            std::lock_guard guard(Owner->Lock);
            const auto found = std::find(Owner->Ending.begin(), Owner->Ending.end(), this);
            if (found == Owner->Ending.end())
                return; // dropped by Shutdown
            Owner->Ending.erase(found);
        }
        Handler(Thread);
    });
}

// --- TDirScanThreadList ------------------------------------------------------------------

TDirScanThreadList::TDirScanThreadList(int MaxThreads, TMainThreadDispatcher& Dispatcher)
    : Max(MaxThreads), Dispatcher(Dispatcher) {}

TDirScanThreadList::~TDirScanThreadList() {
    std::lock_guard guard(Registry->Lock);
    for (TDirScanThread* thread : Registry->Threads)
        thread->StopAndWait();
    Registry->Threads.clear();
}

TDirScanThread* TDirScanThreadList::StartThread(TDirNode& Node) {
    std::lock_guard guard(Registry->Lock);
    if (int(Registry->Threads.size()) >= Max)
        return nullptr;
    auto thread = std::make_unique<TDirScanThread>(Node, Dispatcher, Registry);
    TDirScanThread* result = thread.get();
    Registry->Threads.push_back(result);
    TThread::Adopt(std::move(thread), Registry->Joiner);
    return result;
}

bool TDirScanThreadList::IsIdle() const {
    return Count() == 0;
}

bool TDirScanThreadList::IsSettled() const {
    std::lock_guard guard(Registry->Lock);
    return Registry->Threads.empty() && Registry->Ending.empty();
}

bool TDirScanThreadList::IsFull() const {
    return Count() >= Max;
}

int TDirScanThreadList::Count() const {
    std::lock_guard guard(Registry->Lock);
    return int(Registry->Threads.size());
}

void TDirScanThreadList::Remove(TDirScanThread* Thread) {
    std::lock_guard guard(Registry->Lock);
    std::erase(Registry->Threads, Thread);
}

std::string TDirScanThreadList::GetCurrentPath() const {
    std::lock_guard guard(Registry->Lock);
    if (Registry->Threads.empty())
        return {};
    return Registry->Threads.front()->Scanner().GetCurrentPath();
}

void TDirScanThreadList::StopAll() {
    std::lock_guard guard(Registry->Lock);
    for (TDirScanThread* thread : Registry->Threads)
        thread->StopAndWait();
}

int TDirScanThreadList::StopThreadsInside(const TDirNode& Node) {
    std::lock_guard guard(Registry->Lock);
    int stopped = 0;
    for (TDirScanThread* thread : Registry->Threads)
        for (const TGroupNode* p = thread->Scanner().RootNode().Parent(); p; p = p->Parent())
            if (p == &Node) {
                thread->StopAndWait();
                ++stopped;
                break;
            }
    return stopped;
}

std::vector<TDirNode*> TDirScanThreadList::StopThreadsAround(const TFileSystemNode& Node) {
    std::lock_guard guard(Registry->Lock);
    std::vector<TDirNode*> Above;
    for (TDirScanThread* thread : Registry->Threads) {
        TDirNode& root = thread->Scanner().RootNode();
        if (&root == &Node || IsInside(root, Node)) {
            thread->StopAndWait();
        } else if (IsInside(Node, root)) {
            thread->StopAndWait();
            Above.push_back(&root);
        }
    }
    return Above;
}

int TDirScanThreadList::ForgetNodesInside(const TDirNode& Node) {
    std::lock_guard guard(Registry->Lock);
    int forgotten = 0;
    for (auto* list : {&Registry->Threads, &Registry->Ending})
        for (TDirScanThread* thread : *list) {
            // A released thread's node may be gone already; the others' nodes and all
            // their ancestors are alive: nodes are forgotten before they are freed.
            if (thread->Released)
                continue;
            for (const TFileSystemNode* p = &thread->Scanner().RootNode(); p; p = p->Parent())
                if (p == &Node) {
                    thread->Released = true;
                    ++forgotten;
                    break;
                }
        }
    return forgotten;
}

void TDirScanThreadList::ForgetAllNodes() {
    std::lock_guard guard(Registry->Lock);
    for (auto* list : {&Registry->Threads, &Registry->Ending})
        for (TDirScanThread* thread : *list)
            thread->Released = true;
}

void TDirScanThreadList::Shutdown() {
    {
        std::lock_guard guard(Registry->Lock);
        for (TDirScanThread* thread : Registry->Threads) {
            thread->SetOnTerminate(nullptr);
            thread->StopAndWait();
        }
        // Events already on their way are dropped when they arrive.
        Registry->Ending.clear();
    }
    while (!IsIdle())
        std::this_thread::sleep_for(50ms);
}

void TDirScanThreadList::WaitForThreads() {
    Registry->Joiner->JoinAll();
}

} // namespace qv
