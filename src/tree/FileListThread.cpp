#include "tree/FileListThread.h"

#include <algorithm>
#include <pthread.h>

namespace qv {

TFileListThread::TFileListThread(TListedEvent OnListed) : OnListed(std::move(OnListed)) {}

TFileListThread::~TFileListThread() {
    {
        std::lock_guard guard(Lock);
        Stopping = true;
        Queue.clear();
        StopCurrent.store(true, std::memory_order_relaxed);
    }
    Changed.notify_all();
    if (Worker.joinable())
        Worker.join();
}

void TFileListThread::Add(std::uint64_t Ticket, TFileListRequest Request, TArrangeEvent Arrange) {
    {
        std::lock_guard guard(Lock);
        Queue.push_back({Ticket, std::move(Request), std::move(Arrange)});
        if (!Worker.joinable())
            Worker = std::thread([this] { Execute(); });
    }
    Changed.notify_one();
}

void TFileListThread::Cancel(std::uint64_t Ticket) {
    std::lock_guard guard(Lock);
    std::erase_if(Queue, [Ticket](const TJob& Job) { return Job.Ticket == Ticket; });
    if (Current == Ticket && Ticket != 0)
        StopCurrent.store(true, std::memory_order_relaxed);
}

void TFileListThread::Execute() {
    ::pthread_setname_np(::pthread_self(), "QvListFiles");
    for (;;) {
        TJob next;
        {
            std::unique_lock guard(Lock);
            Current = 0;
            Changed.wait(guard, [this] { return Stopping || !Queue.empty(); });
            if (Stopping)
                return;
            next = std::move(Queue.front());
            Queue.pop_front();
            Current = next.Ticket;
            StopCurrent.store(false, std::memory_order_relaxed);
        }
        auto list = std::make_shared<TFileList>(ListFiles(next.Request, &StopCurrent));
        if (list->Error == 0 && next.Arrange)
            next.Arrange(*list);
        {
            // A cancel that came while the listing ran (even after its last entry) wins.
            std::lock_guard guard(Lock);
            if (StopCurrent.load(std::memory_order_relaxed))
                continue;
            Current = 0;
        }
        OnListed(next.Ticket, std::move(list));
    }
}

} // namespace qv
