#pragma once
// Requests from outside to end the program: on POSIX the signals SIGTERM
// (a service manager stopping the program) and SIGINT (Ctrl+C). While a
// TerminationSignal exists, such a request does not end the process; it
// signals the given waker instead, so that a program waiting on sockets
// wakes and stops in its own way. Destroying the object puts the previous
// handling back.
//
// One object at a time per process: a second one raises Exception. The
// waker must outlive the object.

#include "platform/Socket.h"

#include <QString>

namespace velkaro::platform {

class TerminationSignal {
public:
    explicit TerminationSignal(SocketWaker& waker);
    ~TerminationSignal();
    TerminationSignal(const TerminationSignal&) = delete;
    TerminationSignal& operator=(const TerminationSignal&) = delete;

    // Whether a request came, and its name ("SIGTERM", "SIGINT"; the last
    // one when several came). Any thread.
    bool Requested() const;
    QString RequestName() const;
};

} // namespace velkaro::platform
