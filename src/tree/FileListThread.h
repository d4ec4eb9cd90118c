#pragma once
// Lists directories' files on a worker, so that opening a folder of any size never holds up
// the GUI thread. The caller takes a request from the node (TGroupNode::BeginListFiles), hands
// it over with a ticket of its own, and gets the listing back with that ticket; it alone
// decides whether the node is still there to take it (EndListFiles) or whether the listing
// is dropped.
//
// Threading: Add and Cancel from any thread. OnListed runs on the worker, one listing at a
// time, never under the queue's lock; whoever receives it passes it on to the GUI thread.
// The destructor stops the listing under way at its next entry and joins the worker.

#include "tree/TreeTypes.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qv {

class TFileListThread {
public:
    using TListedEvent = std::function<void(std::uint64_t Ticket, std::shared_ptr<TFileList> List)>;
    // Runs on the worker after a listing, before it is reported (the receiver's order).
    using TArrangeEvent = std::function<void(TFileList& List)>;

    explicit TFileListThread(TListedEvent OnListed);
    ~TFileListThread();
    TFileListThread(const TFileListThread&) = delete;
    TFileListThread& operator=(const TFileListThread&) = delete;

    // Queues Request behind the others; the worker starts with the first request.
    void Add(std::uint64_t Ticket, TFileListRequest Request, TArrangeEvent Arrange = nullptr);
    // Drops Ticket's request; a listing of it under way stops at its next entry. A listing
    // that had just ended may still be reported: the receiver drops tickets it has given up.
    void Cancel(std::uint64_t Ticket);

private:
    void Execute();

    TListedEvent OnListed;
    std::mutex Lock;
    std::condition_variable Changed;
    struct TJob {
        std::uint64_t Ticket = 0;
        TFileListRequest Request;
        TArrangeEvent Arrange;
    };
    std::deque<TJob> Queue;
    std::uint64_t Current = 0; // the ticket being listed; 0 for none
    std::atomic<bool> StopCurrent{false};
    bool Stopping = false;
    std::thread Worker;
};

} // namespace qv
