// Scan threads and their list, with a dispatcher this test pumps as the main thread. Run
// under ThreadSanitizer.

#include "scan/ScanThread.h"

#include "TestTree.h"
#include "scan/ScanStatistics.h"
#include "settings/QvSettings.h"
#include "tree/TreeTypes.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::TTempDir;

// The settings the scan threads read live in a private folder.
[[maybe_unused]] const bool PrivateConfig = test::UsePrivateConfigHome();

// Pumps the dispatcher until List is idle and the events of its last threads, which
// unregister just before they deliver, have run.
void PumpUntilIdle(TQueuedDispatcher& Dispatcher, const TDirScanThreadList& List) {
    for (int i = 0; i < 3000 && !List.IsSettled(); ++i)
        Dispatcher.WaitAndPump(10ms);
    EXPECT_TRUE(List.IsSettled());
}

TEST(ScanThreadTest, NineThreadsAndATenthRefused) {
    TTempDir t;
    TQueuedDispatcher dispatcher;
    TDirScanThreadList list(9, dispatcher);
    TRootDirNode root;
    root.SetName(t.Path());
    std::vector<TDirScanThread*> threads;
    for (int i = 0; i < 9; ++i) {
        TDirNode* dir = root.AddDirectory("d" + std::to_string(i), faDirectory);
        threads.push_back(list.StartThread(*dir));
        ASSERT_NE(threads.back(), nullptr);
        EXPECT_EQ(list.IsFull(), i == 8);
    }
    TDirNode* tenth = root.AddDirectory("d9", faDirectory);
    EXPECT_EQ(list.StartThread(*tenth), nullptr);
    EXPECT_EQ(list.Count(), 9);
    EXPECT_EQ(list.GetCurrentPath(), "");

    // Suspended threads that are stopped end without scanning and unregister.
    list.StopAll();
    PumpUntilIdle(dispatcher, list);
    EXPECT_FALSE(list.IsFull());
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(static_cast<TDirNode*>(root.GetChild(i))->ScanError(), 0);
}

TEST(ScanThreadTest, EventsRunOnTheMainThreadAfterUnregistering) {
    TTempDir t;
    for (int i = 0; i < 3; ++i)
        t.File("d" + std::to_string(i) + "/f", 100 + i);
    TQueuedDispatcher dispatcher;
    TDirScanThreadList list(9, dispatcher);
    TRootDirNode root;
    root.SetName(t.Path());
    const std::thread::id main = std::this_thread::get_id();
    std::vector<TDirScanThread*> threads;
    std::vector<int> countsSeen;
    for (int i = 0; i < 3; ++i) {
        TDirNode* dir = root.AddDirectory("d" + std::to_string(i), faDirectory);
        TDirScanThread* thread = list.StartThread(*dir);
        ASSERT_NE(thread, nullptr);
        thread->SetOnTerminate([&, thread](TThread& ended) {
            EXPECT_EQ(std::this_thread::get_id(), main);
            EXPECT_EQ(&ended, thread);
            EXPECT_FALSE(thread->Scanner().Busy());
            // The handler already sees the list without its thread.
            countsSeen.push_back(list.Count());
        });
        threads.push_back(thread);
    }
    for (TDirScanThread* thread : threads)
        thread->Resume();
    PumpUntilIdle(dispatcher, list);
    ASSERT_EQ(countsSeen.size(), 3u);
    for (int seen : countsSeen)
        EXPECT_LT(seen, 3);
    EXPECT_EQ(countsSeen.back(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(root.GetChild(i)->GetSize(), 100 + i);
}

TEST(ScanThreadTest, FinishedScansReportTheirTotals) {
    TTempDir t;
    t.File("a/x", 1000);
    t.File("a/y", 24);
    t.File("b/z", 7);
    TQueuedDispatcher dispatcher;
    TDirScanThreadList list(9, dispatcher);
    TRootDirNode root;
    root.SetName(t.Path());
    TDirNode* a = root.AddDirectory("a", faDirectory);
    TDirNode* b = root.AddDirectory("b", faDirectory);
    int events = 0;
    for (TDirNode* dir : {a, b}) {
        TDirScanThread* thread = list.StartThread(*dir);
        thread->SetOnTerminate([&](TThread&) {
            ++events;
            if (list.IsIdle())
                root.UpdateTotals(); // what the window does when the last one ends
        });
        thread->Resume();
    }
    PumpUntilIdle(dispatcher, list);
    EXPECT_EQ(events, 2);
    EXPECT_EQ(a->GetSize(), 1024);
    EXPECT_EQ(b->GetFileCount(), 1);
    EXPECT_EQ(root.GetSize(), 1031);
    EXPECT_EQ(root.GetFileCount(), 3);
}

// The window's statistics of its tree while two scan threads fill theirs: read on the main
// thread during the walk, folded in by each end.
TEST(ScanThreadTest, TreeStatisticsReadWhileTheScansRun) {
    TTempDir t;
    for (int d = 0; d < 2; ++d)
        for (int f = 0; f < 1500; ++f)
            t.File("d" + std::to_string(d) + "/" + std::to_string(f % 30) + "/f" +
                       std::to_string(f) + (f % 3 ? ".txt" : ".bin"),
                   f * 10);
    TQueuedDispatcher dispatcher;
    TDirScanThreadList list(9, dispatcher);
    TRootDirNode root;
    root.SetName(t.Path());
    TTreeStatistics tree(50);
    int snapshotsWhileRunning = 0;
    for (const char* name : {"d0", "d1"}) {
        TDirScanThread* thread = list.StartThread(*root.AddDirectory(name, faDirectory));
        auto statistics = std::make_shared<TScanStatistics>(50);
        thread->SetStatistics(statistics);
        tree.BeginScan(statistics, t / name);
        thread->SetOnTerminate([&tree, statistics](TThread&) { tree.EndScan(statistics); });
        thread->Resume();
    }
    for (int i = 0; i < 3000 && !list.IsSettled(); ++i) {
        dispatcher.WaitAndPump(1ms);
        if (!tree.IsScanning())
            continue;
        ++snapshotsWhileRunning;
        const auto snapshot = tree.Snapshot();
        ASSERT_LE(snapshot.Largest.size(), 50u);
        EXPECT_TRUE(std::is_sorted(
            snapshot.Largest.begin(), snapshot.Largest.end(),
            [](const TLargeFile& A, const TLargeFile& B) { return A.Size > B.Size; }));
        std::int64_t files = 0;
        for (const TFileTypeSum& sum : snapshot.Types)
            files += sum.Files;
        EXPECT_LE(files, 3000);
    }
    EXPECT_TRUE(list.IsSettled());
    EXPECT_GT(snapshotsWhileRunning, 0);
    const auto snapshot = tree.Snapshot();
    ASSERT_EQ(snapshot.Largest.size(), 50u);
    // The 50 largest: f1499 of each folder down to f1475.
    for (std::size_t i = 0; i < 50; ++i) {
        EXPECT_EQ(snapshot.Largest[i].Size, (1499 - std::int64_t(i) / 2) * 10) << i;
        EXPECT_TRUE(snapshot.Largest[i].Path.ends_with("/f" + std::to_string(1499 - i / 2) +
                                                       ((1499 - i / 2) % 3 ? ".txt" : ".bin")))
            << snapshot.Largest[i].Path;
    }
    std::map<std::string, std::int64_t> files;
    for (const TFileTypeSum& sum : snapshot.Types)
        files[sum.Type] = sum.Files;
    EXPECT_EQ(files, (std::map<std::string, std::int64_t>{{"bin", 1000}, {"txt", 2000}}));
    EXPECT_FALSE(tree.TypesOutdated());
}

TEST(ScanThreadTest, StopThreadsInsideStopsOnlyThoseBelowAndAroundAlsoAbove) {
    TTempDir t;
    t.File("a/a1/f", 5);
    t.File("a/f", 6);
    t.File("b/f", 7);
    TQueuedDispatcher dispatcher;
    TDirScanThreadList list(9, dispatcher);
    TRootDirNode root;
    root.SetName(t.Path());
    TDirNode* a = root.AddDirectory("a", faDirectory);
    TDirNode* a1 = a->AddDirectory("a1", faDirectory);
    TDirNode* b = root.AddDirectory("b", faDirectory);
    ASSERT_NE(list.StartThread(*a1), nullptr);
    ASSERT_NE(list.StartThread(*b), nullptr);
    // Suspended, so that only the stop decides: the thread below a ends unscanned.
    EXPECT_EQ(list.StopThreadsInside(*a1), 0); // its own root is no ancestor
    EXPECT_EQ(list.StopThreadsInside(*a), 1);
    for (int i = 0; i < 500 && list.Count() > 1; ++i)
        std::this_thread::sleep_for(1ms); // a1's thread ends and unregisters
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.StopThreadsInside(root), 1); // b's thread
    PumpUntilIdle(dispatcher, list);
    EXPECT_EQ(a1->GetFileCount(), 0);
    EXPECT_EQ(b->GetFileCount(), 0);

    // A thread for the directory itself is not stopped by it, and scans.
    TDirScanThread* self = list.StartThread(*a);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(list.StopThreadsInside(*a), 0);
    self->Resume();
    PumpUntilIdle(dispatcher, list);
    EXPECT_EQ(a->GetFileCount(), 2);
    EXPECT_FALSE(a->IsIncomplete());

    // Around a1 (before it is deleted, say): the threads above it, its own and those below
    // stop; b's goes on. Those above are named: they are left incomplete.
    for (TDirNode* node : {static_cast<TDirNode*>(&root), a, a1, b})
        ASSERT_NE(list.StartThread(*node), nullptr);
    const std::vector<TDirNode*> above = list.StopThreadsAround(*a1);
    EXPECT_EQ(std::set<TDirNode*>(above.begin(), above.end()), (std::set<TDirNode*>{&root, a}));
    for (int i = 0; i < 500 && list.Count() > 1; ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(list.Count(), 1);
    list.StopAll();
    PumpUntilIdle(dispatcher, list);
}

// The dispatcher may go while workers whose calls have run are still on their way out of
// RunAndWait: woken together, they queue for its lock, and the main thread is quicker.
// None of them may touch the object's memory after that (a scan thread's end event did,
// and once aborted inside glibc on the stack reused by the next test round).
TEST(ScanThreadTest, QueuedDispatcherDestroyedWhileWorkersLeaveIt) {
    constexpr int Workers = 8;
    alignas(TQueuedDispatcher) std::array<unsigned char, sizeof(TQueuedDispatcher)> storage{};
    // Read through volatile: for the compiler the bytes of an ended object mean nothing.
    auto bytes = [&storage] {
        const volatile unsigned char* p = storage.data();
        return std::vector<unsigned char>(p, p + storage.size());
    };
    for (int round = 0; round < 200; ++round) {
        auto* dispatcher = std::construct_at(reinterpret_cast<TQueuedDispatcher*>(storage.data()));
        std::vector<std::thread> workers;
        for (int i = 0; i < Workers; ++i)
            workers.emplace_back([dispatcher] { dispatcher->RunAndWait([] {}); });
        for (int ran = 0, i = 0; ran < Workers && i < 3000; ++i)
            ran += dispatcher->WaitAndPump(10ms);
        std::destroy_at(dispatcher);
        const std::vector<unsigned char> destroyed = bytes();
        for (std::thread& worker : workers)
            worker.join();
        ASSERT_EQ(bytes(), destroyed) << "a worker wrote into the dispatcher in round " << round;
    }
}

// Runs until a scan of a deep chain is caught in the middle by Stop (or gives up).
template <class Stop>
bool StopWhileScanning(const std::string& Path, Stop&& DoStop, bool& EventSeen) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        TQueuedDispatcher dispatcher;
        auto list = std::make_unique<TDirScanThreadList>(9, dispatcher);
        TRootDirNode root;
        root.SetName(Path);
        EventSeen = false;
        TDirScanThread* thread = list->StartThread(root);
        thread->SetOnTerminate([&](TThread&) { EventSeen = true; });
        thread->Resume();
        while (list->GetCurrentPath().size() < Path.size() + 20 && !list->IsIdle())
            std::this_thread::yield();
        DoStop(*list);
        // The walk has ended when the stop returns: nothing writes the tree any more.
        const bool caught = root.IsIncomplete();
        EXPECT_FALSE(root.IsScanning());
        PumpUntilIdle(dispatcher, *list);
        // The dispatcher goes with this round: a thread whose end Shutdown dropped may still
        // be about to hand it over, and the others may still be leaving it.
        dispatcher.Close();
        list->WaitForThreads();
        list.reset();
        if (caught)
            return true;
    }
    return false;
}

TEST(ScanThreadTest, StopAllEndsRunningScans) {
    TTempDir t;
    test::MakeChain(t.Path(), 2000);
    bool event = false;
    EXPECT_TRUE(StopWhileScanning(
        t.Path(), [](TDirScanThreadList& l) { l.StopAll(); }, event));
    EXPECT_TRUE(event);
}

TEST(ScanThreadTest, ShutdownLetsNoEventThrough) {
    TTempDir t;
    test::MakeChain(t.Path(), 2000);
    bool event = true;
    EXPECT_TRUE(StopWhileScanning(
        t.Path(), [](TDirScanThreadList& l) { l.Shutdown(); }, event));
    EXPECT_FALSE(event);
}

TEST(ScanThreadTest, StopThreadsInsideWhileScanning) {
    TTempDir t;
    t.MkDir("a/a1");
    t.MkDir("b");
    test::MakeChain(t / "a/a1", 1500);
    test::MakeChain(t / "b", 300);
    for (int attempt = 0; attempt < 20; ++attempt) {
        TQueuedDispatcher dispatcher;
        TDirScanThreadList list(9, dispatcher);
        TRootDirNode root;
        root.SetName(t.Path());
        TDirNode* a = root.AddDirectory("a", faDirectory);
        TDirNode* a1 = a->AddDirectory("a1", faDirectory);
        TDirNode* b = root.AddDirectory("b", faDirectory);
        for (TDirNode* dir : {a1, b})
            list.StartThread(*dir)->Resume();
        while (!a1->HasChildren() && !list.IsIdle())
            std::this_thread::yield();
        const int stopped = list.StopThreadsInside(*a);
        PumpUntilIdle(dispatcher, list);
        EXPECT_FALSE(b->IsIncomplete()); // b lies beside a: it ran to its end
        EXPECT_EQ(b->GetFileCount(), 300);
        if (stopped == 0)
            continue; // a1's scan ended before the stop came
        EXPECT_EQ(stopped, 1);
        EXPECT_TRUE(a1->IsIncomplete());
        EXPECT_LT(a1->GetFileCount(), 1500);
        return;
    }
    FAIL() << "the stop never arrived while a1 was scanned";
}

TEST(ScanThreadTest, ResumedAfterStopScansNothing) {
    TTempDir t;
    t.File("f", 10);
    TQueuedDispatcher dispatcher;
    TDirScanThreadList list(9, dispatcher);
    TRootDirNode root;
    root.SetName(t.Path());
    ASSERT_NE(list.StartThread(root), nullptr);
    root.SetScanning(true); // as the window marks a directory it re-scans
    list.StopAll();         // stopped while suspended, then resumed: it ends without scanning
    PumpUntilIdle(dispatcher, list);
    EXPECT_EQ(root.GetFileCount(), 0);
    EXPECT_FALSE(root.HasChildren());
    // It says that it was not counted, and is no longer being scanned.
    EXPECT_TRUE(root.IsIncomplete());
    EXPECT_FALSE(root.IsScanning());
}

TEST(ScanThreadTest, ListDestroyedWhileThreadsRun) {
    TTempDir t;
    test::MakeChain(t.Path(), 500);
    TQueuedDispatcher dispatcher;
    std::atomic<int> events = 0;
    std::vector<std::unique_ptr<TRootDirNode>> roots;
    {
        TDirScanThreadList list(9, dispatcher);
        for (int i = 0; i < 4; ++i) {
            roots.push_back(std::make_unique<TRootDirNode>());
            roots.back()->SetName(t.Path());
            TDirScanThread* thread = list.StartThread(*roots.back());
            thread->SetOnTerminate([&](TThread&) { ++events; });
            thread->Resume();
        }
    } // stops them; they end after the list is gone
    for (int i = 0; i < 300 && events < 4; ++i)
        dispatcher.WaitAndPump(10ms);
    EXPECT_EQ(events, 4);
}

// A folder cleared and scanned again while a scan of its subfolder runs, at every moment of
// that scan: before it begins, while it walks, and after it stopped with its end not yet
// delivered. The handlers do what the window's do, leaving a released node alone.
TEST(ScanThreadTest, RescanAboveARunningRescanNeverTouchesFreedNodes) {
    TTempDir t;
    t.File("p/own", 100);
    t.MkDir("p/s");
    test::MakeChain(t / "p/s", 200);
    TQueuedDispatcher dispatcher;
    TDirScanThreadList list(9, dispatcher);
    TRootDirNode root;
    root.SetName(t.Path());
    TDirNode* p = root.AddDirectory("p", faDirectory);
    int released = 0;
    auto start = [&](TDirNode& Node) {
        TDirScanThread* thread = list.StartThread(Node);
        ASSERT_NE(thread, nullptr);
        thread->SetOnTerminate([&](TThread& Ended) {
            auto& scan = static_cast<TDirScanThread&>(Ended);
            if (scan.NodeReleased()) {
                ++released;
                return;
            }
            for (TGroupNode* up = scan.Scanner().RootNode().Parent(); up; up = up->Parent())
                up->UpdateTotals();
        });
        thread->Resume();
    };
    auto rescan = [&](TDirNode& Node) {
        list.StopThreadsInside(Node);
        list.ForgetNodesInside(Node);
        Node.ClearForRescan();
        Node.SetScanning(true);
        start(Node);
    };
    auto settle = [&] {
        for (int i = 0; i < 3000 && !list.IsSettled(); ++i)
            dispatcher.WaitAndPump(10ms);
        ASSERT_TRUE(list.IsSettled());
    };
    rescan(*p);
    settle();
    for (int round = 0; round < 240; ++round) {
        auto* s = static_cast<TDirNode*>(p->FindNodeByPath(t / "p/s"));
        ASSERT_NE(s, nullptr);
        rescan(*s);
        switch (round % 3) {
        case 0: // before the walk begins
            break;
        case 1: // while it walks
            std::this_thread::sleep_for(std::chrono::microseconds(round * 13 % 2000));
            break;
        case 2: // stopped, its end not yet delivered
            list.StopAll();
            for (int i = 0; i < 3000 && !list.IsIdle(); ++i)
                std::this_thread::sleep_for(1ms);
            EXPECT_FALSE(list.IsSettled());
            break;
        }
        rescan(*p);
        settle();
        ASSERT_EQ(p->GetSize(), 300) << round;
        ASSERT_EQ(p->GetFileCount(), 201) << round;
    }
    // Every inner scan that was overtaken came back released, never on a freed node.
    EXPECT_GT(released, 0);
}

TEST(ScanThreadTest, ShutdownAndWaitForThreadsEndEveryWorker) {
    TTempDir t;
    test::MakeChain(t.Path(), 300);
    // Several rounds: a worker left to end on its own is gone soon after, but not at once.
    for (int round = 0; round < 10; ++round) {
        std::vector<std::unique_ptr<TRootDirNode>> roots;
        TQueuedDispatcher dispatcher;
        TDirScanThreadList list(9, dispatcher);
        std::atomic<int> events = 0;
        for (int i = 0; i < 3; ++i) {
            roots.push_back(std::make_unique<TRootDirNode>());
            roots.back()->SetName(t.Path());
            TDirScanThread* thread = list.StartThread(*roots.back());
            thread->SetOnTerminate([&](TThread&) { ++events; });
            thread->Resume();
        }
        // Some end on their own; their events wait for this thread when Shutdown comes.
        for (int i = 0; i < 3000 && list.Count() == 3; ++i)
            std::this_thread::sleep_for(1ms);
        list.Shutdown();
        EXPECT_TRUE(list.IsSettled());
        dispatcher.Close(); // releases the workers whose event was on its way
        list.WaitForThreads();
        EXPECT_EQ(events, 0);
        ASSERT_EQ(test::LiveThreads("QvScan"), 0) << round;
    }
}

} // namespace
} // namespace qv
