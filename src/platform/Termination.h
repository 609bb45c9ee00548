#pragma once
// Requests from outside that the program end: the session manager asking
// to quit because the user logs off or the machine shuts down, and, on
// POSIX systems, SIGTERM (what a service manager or `kill` sends) and
// SIGINT (Ctrl+C in a terminal).
// Components that hold something open, such as the application-server
// link, close it when a request arrives.
//
// Watching starts with the first Instance(), made on the GUI thread once
// the application object exists; it ends with the application object. From
// then on each request is reported
//   - at once, on the thread that notices it, to every wake-up registered
//     with Subscribe: for a GUI thread that is blocked in a wait and has to
//     give it up before it can see anything else;
//   - then on the GUI thread by Requested(), once per request: for a
//     session-end request before the session manager gets its answer, for a
//     signal as soon as the GUI thread's event loop runs.
// The session manager gets its default answer: the log-off goes ahead.
// After a signal has been reported by Requested(), the program ends as that
// signal ends it by default; a second signal that comes before ends it at
// once. A program without an event loop (the application server) turns
// that ending off and stops on its wake-up instead.

#include <QObject>

#include <functional>
#include <map>
#include <mutex>

namespace velkaro::platform {

enum class TerminationReason {
    SessionEnd, // the session manager asks to quit (log-off, shut-down)
    Signal, // SIGTERM or SIGINT
};

class TerminationRequests : public QObject {
    Q_OBJECT

public:
    // The process's watch, started on first use; null while there is no
    // application object. GUI thread.
    static TerminationRequests* Instance();
    ~TerminationRequests() override;

    // Any thread. Wake runs on the thread that notices a request, before
    // Requested() is delivered; it must be quick and must not block. After
    // Unsubscribe returns, the wake-up never runs again.
    int Subscribe(std::function<void()> wake);
    void Unsubscribe(int ticket);

    // Any thread: reports a request as the system makes it (the signal
    // watcher and the session manager call this; tests may too).
    void Report(TerminationReason reason);

    // Whether a signal ends the program once reported (true by default).
    // Tests that raise signals turn it off.
    void SetSignalEndsProgram(bool value);

    // The name of the last signal noticed ("SIGTERM", "SIGINT"), or an
    // empty text when none came. Any thread.
    static QString LastSignalName();

signals:
    void Requested(velkaro::platform::TerminationReason reason);

private:
    TerminationRequests();
    void deliver(TerminationReason reason);

    std::mutex mutex_;
    std::map<int, std::function<void()>> wakes_;
    int nextTicket_ = 1;
    bool signalEndsProgram_ = true;
};

} // namespace velkaro::platform
