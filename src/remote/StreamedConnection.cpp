#include "remote/StreamedConnection.h"

#include "core/ErrorDisplay.h"
#include "core/Exceptions.h"
#include "platform/Termination.h"
#include "remote/RemoteErrors.h"
#include "remote/TransportThread.h"

#include <QCoreApplication>
#include <QEvent>

#include <mutex>

namespace velkaro {

namespace {

const char* const NoRemoteObject = "The application server answered the creation of %1 with no object";
const char* const NoCallbacks = "This connection serves no requests (SupportCallbacks is false)";

// Tells the GUI thread that the transport thread has queued something.
QEvent::Type linkEventType()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void showError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ShowErrorBox(e);
    } catch (...) {
        ShowErrorBox(Exception(QStringLiteral("Unknown error")));
    }
}

} // namespace

// The thread whose waits a request to end the program interrupts. The
// request comes on a thread of its own, at any moment: it holds until the
// GUI thread has handled it (closing the link), so a thread started or a
// wait begun meanwhile is interrupted too. The GUI thread swaps the target
// under the mutex before it lets a thread go.
struct TStreamedConnection::InterruptTarget {
    std::mutex mutex;
    TTransportThread* thread = nullptr;
    bool requested = false;

    void set(TTransportThread* value)
    {
        const std::lock_guard lock(mutex);
        thread = value;
        if (thread != nullptr && requested)
            thread->Interrupt();
    }
    void interrupt()
    {
        const std::lock_guard lock(mutex);
        requested = true;
        if (thread != nullptr)
            thread->Interrupt();
    }
    void handled()
    {
        const std::lock_guard lock(mutex);
        requested = false;
    }
};

TStreamedConnection::TStreamedConnection(QObject* owner)
    : TDispatchConnection(owner)
    , interruptTarget_(std::make_shared<InterruptTarget>())
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
    if (platform::TerminationRequests* requests = platform::TerminationRequests::Instance()) {
        connect(requests, &platform::TerminationRequests::Requested, this, &TStreamedConnection::endOnRequest);
        terminationTicket_ = requests->Subscribe([target = interruptTarget_] { target->interrupt(); });
    }
}

TStreamedConnection::~TStreamedConnection()
{
    if (terminationTicket_ != 0) {
        if (platform::TerminationRequests* requests = platform::TerminationRequests::Instance())
            requests->Unsubscribe(terminationTicket_);
    }
    try {
        DoDisconnect();
    } catch (...) {
        // Closing on the way out has nobody left to tell.
    }
    interpreter_.reset();
}

void TStreamedConnection::SetSupportCallbacks(bool value)
{
    if (value == supportCallbacks_)
        return;
    if (Connected() || transportOpen())
        SetConnected(false);
    supportCallbacks_ = value;
}

TDataBlockInterpreter& TStreamedConnection::Interpreter()
{
    if (!interpreter_) {
        interpreter_ = std::make_unique<TDataBlockInterpreter>(*this, registry_);
        // Releasing a remote object cannot raise; what fails there is shown.
        interpreter_->SetReleaseErrorHandler(showError);
    }
    return *interpreter_;
}

QUuid TStreamedConnection::LocalClassID(const QString& name) const
{
    const TRegisteredClass* cls = registry_ != nullptr ? registry_->FindByProgID(name) : nullptr;
    return cls != nullptr ? cls->ClassID : QUuid();
}

// ---- opening and closing ----

bool TStreamedConnection::transportOpen() const
{
    return thread_ != nullptr || transport_ != nullptr;
}

Variant TStreamedConnection::DoConnect()
{
    const QString name = RemoteObjectName();
    try {
        openTransport();
        Variant answer = Interpreter().CallCreateObject(name);
        if (answer.VType() != varDispatch || answer.Dispatch() == nullptr)
            throw Exception(QString::fromLatin1(NoRemoteObject).arg(name));
        return answer;
    } catch (...) {
        closeTransport();
        throw;
    }
}

void TStreamedConnection::openTransport()
{
    if (transportOpen())
        closeTransport();
    std::unique_ptr<ITransport> transport = CreateTransport();
    if (!supportCallbacks_) {
        transport->SetConnected(true);
        transport_ = std::move(transport);
        return;
    }
    // The thread connects; a request posted meanwhile waits in its queue
    // until the connect has succeeded or failed.
    thread_ = std::make_shared<TTransportThread>(
        std::move(transport), [this] { QCoreApplication::postEvent(this, new QEvent(linkEventType())); });
    interruptTarget_->set(thread_.get());
}

void TStreamedConnection::DoDisconnect()
{
    if (closingDeadline_)
        return; // closing already, further up the stack
    closingDeadline_ = std::chrono::steady_clock::now() + closeWait_;
    struct Done {
        std::optional<std::chrono::steady_clock::time_point>& deadline;
        ~Done() { deadline.reset(); }
    } done {closingDeadline_};

    // The free request goes after that read, which would hold it up.
    cancelAbandonedRead();
    ReleaseAppServer();
    closeTransport();
}

void TStreamedConnection::cancelAbandonedRead() noexcept
{
    // A reply nobody waits for any more may never come, and the stream is
    // out of step anyway: closing does not wait for it.
    if (thread_ && thread_->ReadingAbandonedReply())
        thread_->Cancel();
}

void TStreamedConnection::closeTransport() noexcept
{
    forgetThread();
    if (transport_) {
        try {
            transport_->SetConnected(false);
        } catch (...) {
            // Closing a socket has nothing left to report.
        }
        transport_.reset();
    }
}

void TStreamedConnection::forgetThread() noexcept
{
    if (!thread_)
        return;
    cancelAbandonedRead();
    const std::shared_ptr<TTransportThread> thread = std::move(thread_);
    interruptTarget_->set(nullptr);
    thread->DisconnectNotify();
    thread->Finish(closingDeadline_.value_or(std::chrono::steady_clock::now() + closeWait_));
}

void TStreamedConnection::closeShowingErrors()
{
    try {
        SetConnected(false);
    } catch (const std::exception& e) {
        ShowErrorBox(e);
    }
}

void TStreamedConnection::endOnRequest()
{
    closeShowingErrors();
    interruptTarget_->handled();
}

Variant TStreamedConnection::GetServerList()
{
    const bool opened = !transportOpen();
    if (opened)
        openTransport();
    struct Close {
        TStreamedConnection& connection;
        bool opened;
        ~Close()
        {
            if (opened)
                connection.closeTransport();
        }
    } close {*this, opened};
    return Interpreter().CallGetServerList();
}

// ---- the request/reply exchange ----

DataBlockRef TStreamedConnection::Send(const DataBlockRef& block, bool waitForResult)
{
    DataBlockRef reply;
    if (!supportCallbacks_) {
        reply = sendDirect(block, waitForResult);
    } else {
        // Held here: serving a request in the middle of the wait may close
        // the link.
        const std::shared_ptr<TTransportThread> thread = thread_;
        if (!thread)
            return nullptr;
        thread->PostRequest(block, waitForResult);
        if (!waitForResult) {
            awaitSent(*thread);
            return nullptr;
        }
        reply = awaitReply(*thread);
    }
    if (reply && (reply->GetSignature() & asMask) == asError)
        Interpreter().InterpretData(reply);
    return reply;
}

DataBlockRef TStreamedConnection::awaitReply(TTransportThread& thread)
{
    for (;;) {
        TLinkMessage message;
        switch (thread.Wait(TLinkWaitFor::Reply, message, std::nullopt, true)) {
        case TLinkWait::Message:
            break;
        case TLinkWait::Ended:
        case TLinkWait::Interrupted:
        case TLinkWait::TimedOut:
            throw Exception(QString::fromLatin1(msg::NoReturnValue));
        }
        if (message.kind == TLinkMessage::Kind::Exception)
            std::rethrow_exception(message.error);
        if ((message.block->GetSignature() & KindMask) == ResultSig)
            return message.block;
        Interpreter().InterpretData(message.block);
    }
}

void TStreamedConnection::awaitSent(TTransportThread& thread)
{
    // Ended: the block was not written, and the error that ended the thread
    // waits in the queue for the next caller or the event loop. TimedOut:
    // closing has given up on the thread.
    TLinkMessage message;
    thread.Wait(TLinkWaitFor::SendNotify, message, closingDeadline_, false);
}

DataBlockRef TStreamedConnection::sendDirect(const DataBlockRef& block, bool waitForResult)
{
    if (!transport_ || !transport_->GetConnected())
        return nullptr;
    try {
        transport_->Send(block);
        if (!waitForResult)
            return nullptr;
        for (;;) {
            DataBlockRef reply = transport_->Receive(true);
            if ((reply->GetSignature() & KindMask) == ResultSig)
                return reply;
            // The server would wait for its answer as we wait for ours.
            if ((reply->GetSignature() & asMask) == asFreeObject)
                continue;
            reply->Clear();
            reply->SetSignature(ResultSig | asError);
            WriteVariant(Variant(QString::fromLatin1(NoCallbacks)), *reply, Interpreter());
            transport_->Send(reply);
        }
    } catch (const ESocketConnectionError&) {
        transport_->SetConnected(false);
        throw;
    }
}

// ---- blocks that arrive while nobody waits ----

bool TStreamedConnection::event(QEvent* event)
{
    if (event->type() != linkEventType())
        return TDispatchConnection::event(event);
    takeUnawaited();
    return true;
}

void TStreamedConnection::takeUnawaited()
{
    const std::shared_ptr<TTransportThread> thread = thread_;
    if (!thread)
        return;
    for (;;) {
        if (thread_ != thread)
            return; // closed meanwhile
        // Every message comes before the end, so once the end is seen the
        // queue holds all there will be.
        const bool ended = thread->Ended();
        TLinkMessage message;
        if (thread->TakeNext(message)) {
            try {
                if (message.kind == TLinkMessage::Kind::Exception)
                    std::rethrow_exception(message.error);
                if (message.kind == TLinkMessage::Kind::ReceivedStream)
                    Interpreter().InterpretData(message.block);
            } catch (...) {
                showError(std::current_exception());
            }
            continue;
        }
        if (!ended)
            return;
        closeShowingErrors();
        return;
    }
}

bool TStreamedConnection::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Quit && thread_)
        thread_->Interrupt();
    return TDispatchConnection::eventFilter(watched, event);
}

} // namespace velkaro
