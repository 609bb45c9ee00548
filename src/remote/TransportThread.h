#pragma once
// The transport thread of a streamed connection: the one thread that
// touches the link's socket.
//
// It connects its transport, then waits for input or a request until it is
// told to end or the socket closes. Two queues join it to the connection's
// thread (the GUI thread):
//   in:  requests (a block, and whether a reply is awaited), written
//        strictly in the order posted; the thread is woken through the
//        transport's wait (SocketWaker);
//   out: messages, in the order they arose:
//        ReceivedStream  a block read: the reply read right after a request
//                        that awaits one, or a block that arrived unasked
//                        (a request of the other side, say);
//        Exception       an error of the thread, as the exception object it
//                        raised (class and message intact): failing to
//                        connect, write or read;
//        SendNotify      a block posted without awaiting a reply has been
//                        written.
// After each message, and when the thread ends, the thread calls Notify
// (from its own thread), so the GUI thread's event loop can take messages
// that nobody waits for.
//
// An ESocketConnectionError or any failure that leaves the socket closed
// ends the thread; other errors (a value it cannot read, say) are posted and
// the thread goes on. The thread disconnects the socket and frees the
// transport on its way out.
//
// Lifetime: the thread keeps its own share of the state it uses (queues,
// transport), never the TTransportThread object or its connection, so
// Finish may give up on a thread that does not end in time and leave it to
// end on its own.
//
// Threads: every member is called on the connection's thread, except that
// Interrupt may be called from any thread.

#include "remote/DataBlock.h"
#include "remote/SocketTransport.h"

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace velkaro {

struct TLinkMessage {
    enum class Kind { ReceivedStream, Exception, SendNotify };
    Kind kind = Kind::ReceivedStream;
    DataBlockRef block; // ReceivedStream
    std::exception_ptr error; // Exception
};

// Which messages a wait takes; the others stay queued in their order.
enum class TLinkWaitFor {
    Reply, // ReceivedStream and Exception
    SendNotify,
};

enum class TLinkWait {
    Message, // a message was taken
    Ended, // the thread has ended (or was given up) and no such message is queued
    Interrupted, // the application is quitting (Interrupt)
    TimedOut, // the deadline passed
};

class TTransportThread {
public:
    using Clock = std::chrono::steady_clock;

    // Starts the thread with Transport (not connected yet). Notify may be
    // empty; it is called on the transport thread and must be quick.
    TTransportThread(std::unique_ptr<ITransport> transport, std::function<void()> notify);
    // Finish must have been called (the destructor finishes with no time
    // to spare otherwise).
    ~TTransportThread();
    TTransportThread(const TTransportThread&) = delete;
    TTransportThread& operator=(const TTransportThread&) = delete;

    // Posts a block to be written (THREAD_SENDSTREAM). The thread takes a
    // reference; the caller leaves the block alone until its reply (or
    // SendNotify) has come. A block posted after the thread has ended is
    // never written.
    void PostRequest(const DataBlockRef& block, bool waitForResult);

    // Waits for the first queued message of the kind asked for and takes it
    // out of the queue. Without a deadline it waits without a time limit.
    // An Interruptible wait also ends once Interrupt has been called.
    TLinkWait Wait(
        TLinkWaitFor what, TLinkMessage& message, std::optional<Clock::time_point> deadline, bool interruptible);
    // Takes the next message of any kind without waiting; false when none.
    bool TakeNext(TLinkMessage& message);

    // Any thread: the application is quitting. Every interruptible wait,
    // the one in progress and all later ones, ends with Interrupted.
    void Interrupt();

    // True once the thread has ended, or has been given up by Finish.
    bool Ended() const;
    // True while the thread reads the reply to a request whose caller no
    // longer waits for it (the wait was interrupted): that reply will never
    // be taken, and the read may never end.
    bool ReadingAbandonedReply() const;

    // No more Notify calls after this returns.
    void DisconnectNotify();

    // Ends the transport's waits, the one in progress and all later ones,
    // with ESocketConnectionError "The connection was closed"; the thread
    // then ends.
    void Cancel();

    // Tells the thread to end, wakes it and waits until Deadline for it to
    // end. A thread still alive then is cancelled (which ends a read stuck
    // on a silent peer, though not a connect) and detached: it ends on its
    // own, touching nothing but its own state. True when it ended in time.
    bool Finish(Clock::time_point deadline);

    struct State; // shared with the running thread

private:
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace velkaro
