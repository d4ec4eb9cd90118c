// The window's dispatcher: workers' calls run on the GUI thread's event loop, and Close
// releases waiting workers at shut-down.

#include "app/QtDispatcher.h"

#include "TestTree.h"
#include "scan/ScanThread.h"
#include "settings/QvSettings.h"
#include "tree/TreeTypes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace qv {
namespace {

// Runs the event loop until Done or five seconds have passed.
template <class F> void SpinUntil(F&& Done) {
    QElapsedTimer timer;
    timer.start();
    while (!Done() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(QtDispatcherTest, CallsRunOnTheGuiThreadWhileTheWorkerWaits) {
    TQtDispatcher dispatcher;
    const std::thread::id gui = std::this_thread::get_id();
    std::atomic<bool> returned = false;
    std::thread::id ranOn;
    int value = 0;
    std::thread worker([&] {
        dispatcher.RunAndWait([&] {
            ranOn = std::this_thread::get_id();
            value = 42;
        });
        // Only after the call has run on the GUI thread.
        EXPECT_EQ(value, 42);
        returned = true;
    });
    SpinUntil([&] { return returned.load(); });
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(ranOn, gui);

    // A handler that throws still lets its worker go.
    std::thread thrower([&] { dispatcher.RunAndWait([] { throw std::runtime_error("x"); }); });
    std::atomic<bool> joined = false;
    std::thread joiner([&] {
        thrower.join();
        joined = true;
    });
    SpinUntil([&] { return joined.load(); });
    joiner.join();
    EXPECT_TRUE(joined);
}

TEST(QtDispatcherTest, CloseReleasesWaitingWorkersWithoutRunningTheirCalls) {
    TQtDispatcher dispatcher;
    std::atomic<bool> ran = false;
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        dispatcher.RunAndWait([&] { ran = true; });
        returned = true;
    });
    // The event loop does not run: the worker waits until Close releases it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    dispatcher.Close();
    worker.join();
    EXPECT_TRUE(returned);
    QCoreApplication::processEvents(); // the queued call finds the dispatcher closed
    EXPECT_FALSE(ran);
    dispatcher.RunAndWait([&] { ran = true; }); // returns at once
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

// The settings the scan threads read live in a private folder.
[[maybe_unused]] const bool PrivateConfig = test::UsePrivateConfigHome();

TEST(QtDispatcherTest, ScanThreadsEndThroughTheEventLoop) {
    test::TTempDir t;
    t.File("a/f", 100);
    t.File("b/g", 23);
    TQtDispatcher dispatcher;
    TDirScanThreadList list(9, dispatcher);
    TRootDirNode root;
    root.SetName(t.Path());
    const std::thread::id gui = std::this_thread::get_id();
    int events = 0;
    for (const char* name : {"a", "b"}) {
        TDirScanThread* thread = list.StartThread(*root.AddDirectory(name, faDirectory));
        thread->SetOnTerminate([&](TThread&) {
            EXPECT_EQ(std::this_thread::get_id(), gui);
            ++events;
            if (list.IsIdle())
                root.UpdateTotals();
        });
        thread->Resume();
    }
    SpinUntil([&] { return events == 2; });
    EXPECT_EQ(events, 2);
    EXPECT_EQ(root.GetSize(), 123);
    list.Shutdown();
}

} // namespace
} // namespace qv
