#pragma once
// A connection that carries data blocks over a transport: it owns the
// interpreter (remote objects, served requests) and, with SupportCallbacks,
// the transport thread; it implements the request/reply exchange through
// which the interpreter puts every block on the wire (ISendDataBlock).
//
// Threads. The component, its interpreter and every proxy of its remote
// objects live on the GUI thread. With SupportCallbacks (the default) the
// transport thread alone touches the socket (remote/TransportThread.h):
//   - Send posts the block to the thread and blocks the GUI thread, without
//     a time limit and without running its event loop, until the reply or
//     an error arrives. A request of the server that arrives first is
//     served in the middle of the wait (InterpretData; its reply is sent
//     without waiting) and the wait goes on. Errors of the thread are
//     raised as the objects it raised, class and message intact.
//   - Blocks and errors that arrive while nobody waits reach the GUI
//     thread's event loop: requests are served there, and errors (an error
//     block, a link dropped while idle: "Error reading from socket") go to
//     the application's default error display, each shown once. A link
//     whose thread has ended closes: AppServer becomes Null.
//   - The application quitting ends a wait with "Expected return value not
//     received", and every later one until the link has closed: its Quit
//     event (QCoreApplication::quit() called on the GUI thread, by a request
//     of the server being served), or a request to end the program from
//     any thread (platform/Termination.h). Such a request also closes the
//     link once it reaches the GUI thread.
// Without SupportCallbacks everything runs on the calling thread, and a
// request of the server that arrives while a reply is awaited is refused
// with an error block.
//
// Closing (Connected false, and the destructor): AppServer becomes Null,
// whose last release sends asFreeObject without awaiting an answer (the GUI
// thread waits until it has been written); then the thread is told to end
// and woken, and closing waits for it until CloseWait (180 s) has passed
// since closing began. A thread still alive then is cancelled and left to
// end on its own (it never outlives its state, and never touches the
// connection again). A thread stuck reading a reply whose caller gave up is
// cancelled at once. Errors of a thread that is being closed are never
// shown. The destructor closes, then frees the interpreter: proxies
// released later send nothing, and calls on them raise "Invalid variant
// operation".

#include "remote/DataBlockInterpreter.h"
#include "remote/RemoteServer.h"
#include "remote/SocketTransport.h"

#include <chrono>
#include <memory>
#include <optional>

namespace velkaro {

class TTransportThread;

class TStreamedConnection : public TDispatchConnection, public ISendDataBlock {
    Q_OBJECT
    Q_PROPERTY(bool SupportCallbacks READ SupportCallbacks WRITE SetSupportCallbacks)
    Q_PROPERTY(QString InterceptName READ InterceptName WRITE SetInterceptName)
    Q_PROPERTY(QUuid InterceptGUID READ InterceptGUID WRITE SetInterceptGUID)

public:
    static constexpr std::chrono::milliseconds DefaultCloseWait {180000};

    explicit TStreamedConnection(QObject* owner = nullptr);
    ~TStreamedConnection() override;

    bool SupportCallbacks() const { return supportCallbacks_; }
    // Closes an open link first.
    void SetSupportCallbacks(bool value);

    // The interceptor of the transport. Kept, not used: this build has no
    // interceptors, and blocks pass unchanged.
    QString InterceptName() const { return interceptName_; }
    void SetInterceptName(const QString& value) { interceptName_ = value; }
    QUuid InterceptGUID() const { return interceptGUID_; }
    void SetInterceptGUID(const QUuid& value) { interceptGUID_ = value; }

    // The server's application-server classes (asGetAppServers): Null or an
    // array of text. When the link is closed, the transport is opened for
    // the request and closed again afterwards.
    Variant GetServerList();

    // The request/reply exchange (see above). With WaitForResult: the reply
    // block, an asError reply raised as its text; without: null once the
    // block has been written. Null, and nothing sent, when the link is
    // closed.
    DataBlockRef Send(const DataBlockRef& block, bool waitForResult) override;

    // Created on first use.
    TDataBlockInterpreter& Interpreter();
    // The classes the server may create here, through callbacks; not owned.
    // Set it before the interpreter is first used.
    void SetClassRegistry(const TClassRegistry* registry) { registry_ = registry; }

    // How long closing may take before it gives the thread up.
    std::chrono::milliseconds CloseWait() const { return closeWait_; }
    void SetCloseWait(std::chrono::milliseconds value) { closeWait_ = value; }

protected:
    // A new transport with the connection's settings, not connected yet.
    // Raises when the settings cannot make one.
    virtual std::unique_ptr<ITransport> CreateTransport() = 0;

    Variant DoConnect() override;
    void DoDisconnect() override;
    QUuid LocalClassID(const QString& name) const override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct InterruptTarget;

    bool transportOpen() const;
    void openTransport();
    void closeTransport() noexcept;
    void forgetThread() noexcept;
    void cancelAbandonedRead() noexcept;
    DataBlockRef sendDirect(const DataBlockRef& block, bool waitForResult);
    DataBlockRef awaitReply(TTransportThread& thread);
    void awaitSent(TTransportThread& thread);
    void takeUnawaited();
    void closeShowingErrors();
    void endOnRequest();

    bool supportCallbacks_ = true;
    QString interceptName_;
    QUuid interceptGUID_;
    const TClassRegistry* registry_ = nullptr;
    std::chrono::milliseconds closeWait_ = DefaultCloseWait;

    std::unique_ptr<TDataBlockInterpreter> interpreter_;
    std::shared_ptr<TTransportThread> thread_; // with callbacks
    std::unique_ptr<ITransport> transport_; // without callbacks
    std::shared_ptr<InterruptTarget> interruptTarget_;
    int terminationTicket_ = 0;
    std::optional<std::chrono::steady_clock::time_point> closingDeadline_;
};

} // namespace velkaro
