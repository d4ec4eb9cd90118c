#pragma once
// The main-thread dispatcher of the window: a worker's call is queued into the Qt event
// loop and the worker waits until the GUI thread has run it. At shut-down Close releases
// every waiting worker without running its call, so that no worker hangs on an event loop
// that has stopped.
//
// Threading: RunAndWait on worker threads only (on the GUI thread it would wait for
// itself); Close on the GUI thread.

#include "support/QvThread.h"

#include <QObject>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace qv {

class TQtDispatcher final : public QObject, public TMainThreadDispatcher {
public:
    // Calls run on the thread of Parent's event loop (the GUI thread).
    explicit TQtDispatcher(QObject* Parent = nullptr);
    ~TQtDispatcher() override;

    void RunAndWait(const std::function<void()>& Call) override;
    // Releases the waiting workers; later calls return at once.
    void Close();

private:
    struct TShared {
        std::mutex Lock;
        std::condition_variable Changed;
        bool Closed = false;
    };
    std::shared_ptr<TShared> Shared = std::make_shared<TShared>();
};

} // namespace qv
