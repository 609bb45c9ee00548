#include "remote/TransportThread.h"

#include "remote/RemoteErrors.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace velkaro {

struct TTransportThread::State {
    struct Request {
        DataBlockRef block;
        bool waitForResult = false;
    };

    mutable std::mutex mutex;
    std::condition_variable changed; // a message, the end, an interrupt
    platform::SocketWaker wake; // requests and the order to end

    // Guarded by mutex:
    std::deque<Request> requests;
    bool terminate = false;
    std::deque<TLinkMessage> messages;
    bool ended = false;
    bool givenUp = false;
    bool interrupted = false;
    int replyWaiters = 0;
    bool readingReply = false;
    std::function<void()> notify;
    // Used by the thread alone, apart from Cancel; freed by the thread as it
    // ends, under the mutex.
    std::unique_ptr<ITransport> transport;

    void post(TLinkMessage message)
    {
        const std::lock_guard lock(mutex);
        messages.push_back(std::move(message));
        changed.notify_all();
        if (notify)
            notify();
    }
    // Posted once the handler that caught it has ended, and handed over
    // whole: the thread keeps no share of the error the GUI thread raises.
    void postError(std::exception_ptr&& error)
    {
        post({TLinkMessage::Kind::Exception, nullptr, std::exchange(error, nullptr)});
    }
    bool told() const
    {
        const std::lock_guard lock(mutex);
        return terminate;
    }
    void setReadingReply(bool value)
    {
        const std::lock_guard lock(mutex);
        readingReply = value;
    }
    bool takeRequest(Request& request)
    {
        const std::lock_guard lock(mutex);
        if (requests.empty())
            return false;
        request = std::move(requests.front());
        requests.pop_front();
        return true;
    }
    bool hasRequests() const
    {
        const std::lock_guard lock(mutex);
        return !requests.empty();
    }
};

namespace {

void disconnectQuietly(ITransport& transport)
{
    try {
        transport.SetConnected(false);
    } catch (...) {
        // Closing a socket has nothing left to report.
    }
}

// One request: write it, then read its reply or report it written.
void serve(TTransportThread::State& s, ITransport& transport, const TTransportThread::State::Request& request)
{
    transport.Send(request.block);
    if (!request.waitForResult) {
        s.post({TLinkMessage::Kind::SendNotify, nullptr, nullptr});
        return;
    }
    s.setReadingReply(true);
    struct Reset {
        TTransportThread::State& s;
        ~Reset() { s.setReadingReply(false); }
    } reset {s};
    DataBlockRef reply = transport.Receive(true);
    s.post({TLinkMessage::Kind::ReceivedStream, std::move(reply), nullptr});
}

void run(const std::shared_ptr<TTransportThread::State>& state)
{
    TTransportThread::State& s = *state;
    ITransport& transport = *s.transport;
    bool connected = false;
    std::exception_ptr failure;
    try {
        transport.SetConnected(true);
        transport.GetWaitEvent();
        connected = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        disconnectQuietly(transport);
        s.postError(std::move(failure));
    }
    while (connected && !s.told() && transport.GetConnected()) {
        try {
            if (!s.hasRequests() && transport.WaitForInput(s.wake) == TInputWait::Readable) {
                if (DataBlockRef block = transport.Receive(false))
                    s.post({TLinkMessage::Kind::ReceivedStream, std::move(block), nullptr});
                continue;
            }
            TTransportThread::State::Request request;
            if (s.takeRequest(request))
                serve(s, transport, request);
        } catch (const ESocketConnectionError&) {
            disconnectQuietly(transport);
            failure = std::current_exception();
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure)
            s.postError(std::move(failure));
    }
    disconnectQuietly(transport);

    const std::lock_guard lock(s.mutex);
    s.transport.reset();
    s.ended = true;
    s.changed.notify_all();
    if (s.notify)
        s.notify();
}

} // namespace

TTransportThread::TTransportThread(std::unique_ptr<ITransport> transport, std::function<void()> notify)
    : state_(std::make_shared<State>())
{
    state_->transport = std::move(transport);
    state_->notify = std::move(notify);
    thread_ = std::thread([state = state_] { run(state); });
}

TTransportThread::~TTransportThread()
{
    if (thread_.joinable()) {
        Cancel();
        Finish(Clock::now());
    }
}

void TTransportThread::PostRequest(const DataBlockRef& block, bool waitForResult)
{
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->ended || state_->givenUp)
            return;
        state_->requests.push_back({block, waitForResult});
    }
    state_->wake.Signal();
}

TLinkWait TTransportThread::Wait(
    TLinkWaitFor what, TLinkMessage& message, std::optional<Clock::time_point> deadline, bool interruptible)
{
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    const bool forReply = what == TLinkWaitFor::Reply;
    if (forReply)
        ++s.replyWaiters;
    struct Leave {
        State& s;
        bool forReply;
        ~Leave()
        {
            if (forReply)
                --s.replyWaiters;
        }
    } leave {s, forReply};

    for (;;) {
        for (auto it = s.messages.begin(); it != s.messages.end(); ++it) {
            const bool wanted
                = forReply ? it->kind != TLinkMessage::Kind::SendNotify : it->kind == TLinkMessage::Kind::SendNotify;
            if (wanted) {
                message = std::move(*it);
                s.messages.erase(it);
                return TLinkWait::Message;
            }
        }
        if (s.ended || s.givenUp)
            return TLinkWait::Ended;
        if (interruptible && s.interrupted)
            return TLinkWait::Interrupted;
        if (!deadline) {
            s.changed.wait(lock);
        } else if (s.changed.wait_until(lock, *deadline) == std::cv_status::timeout) {
            if (!s.messages.empty() || s.ended || s.givenUp)
                continue;
            return TLinkWait::TimedOut;
        }
    }
}

bool TTransportThread::TakeNext(TLinkMessage& message)
{
    const std::lock_guard lock(state_->mutex);
    if (state_->messages.empty())
        return false;
    message = std::move(state_->messages.front());
    state_->messages.pop_front();
    return true;
}

void TTransportThread::Interrupt()
{
    const std::lock_guard lock(state_->mutex);
    state_->interrupted = true;
    state_->changed.notify_all();
}

bool TTransportThread::Ended() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->ended || state_->givenUp;
}

bool TTransportThread::ReadingAbandonedReply() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->readingReply && state_->replyWaiters == 0;
}

void TTransportThread::DisconnectNotify()
{
    const std::lock_guard lock(state_->mutex);
    state_->notify = nullptr;
}

void TTransportThread::Cancel()
{
    const std::lock_guard lock(state_->mutex);
    if (state_->transport)
        state_->transport->Cancel();
}

bool TTransportThread::Finish(Clock::time_point deadline)
{
    State& s = *state_;
    if (!thread_.joinable()) {
        const std::lock_guard lock(s.mutex);
        return !s.givenUp;
    }
    {
        const std::lock_guard lock(s.mutex);
        s.terminate = true;
    }
    s.wake.Signal();

    std::unique_lock lock(s.mutex);
    if (s.changed.wait_until(lock, deadline, [&] { return s.ended; })) {
        lock.unlock();
        thread_.join();
        return true;
    }
    // The thread is stuck where the order to end cannot reach it (a connect,
    // or a read from a peer that says nothing). It is never killed: its
    // waits are cancelled, and it ends on its own.
    if (s.transport)
        s.transport->Cancel();
    s.givenUp = true;
    s.changed.notify_all();
    lock.unlock();
    thread_.detach();
    return false;
}

} // namespace velkaro
