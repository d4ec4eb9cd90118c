#include "app/QtDispatcher.h"

#include "support/QvLogger.h"

#include <QMetaObject>
#include <exception>

namespace qv {

TQtDispatcher::TQtDispatcher(QObject* Parent) : QObject(Parent) {}

TQtDispatcher::~TQtDispatcher() {
    Close();
}

void TQtDispatcher::RunAndWait(const std::function<void()>& Call) {
    struct TCallState {
        bool Done = false;
    };
    auto state = std::make_shared<TCallState>();
    std::shared_ptr<TShared> shared = Shared;
    {
        std::lock_guard guard(shared->Lock);
        if (shared->Closed)
            return;
    }
    // The queued function runs on the GUI thread. It touches Call only while the worker is
    // still waiting for it: Close runs on the GUI thread too, so it cannot release the
    // worker in the middle of the call.
    QMetaObject::invokeMethod(
        this,
        [shared, state, &Call] {
            {
                std::lock_guard guard(shared->Lock);
                if (shared->Closed)
                    return;
            }
            // A handler's failure is logged, as any exception that reaches the event loop,
            // and must not leave its worker waiting forever.
            try {
                Call();
            } catch (const std::exception& e) {
                LogError(std::string("Termination event failed: ") + e.what());
            } catch (...) {
                LogError("Termination event failed");
            }
            std::lock_guard guard(shared->Lock);
            state->Done = true;
            shared->Changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock guard(shared->Lock);
    shared->Changed.wait(guard, [&] { return state->Done || shared->Closed; });
}

void TQtDispatcher::Close() {
    std::lock_guard guard(Shared->Lock);
    Shared->Closed = true;
    Shared->Changed.notify_all();
}

} // namespace qv
