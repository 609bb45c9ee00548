#pragma once
// A scripted TCP peer in the test process, for the socket-level tests of the
// application-server link. It listens on 127.0.0.1 at a port the system
// chooses, accepts one connection and runs its script on a thread of its
// own: read so many bytes, send these bytes, pause, close. After the last
// step it keeps the connection open until it is destroyed.
//
// Build the script, Start(), let the client work, then Finish() and look at
// Received() and Fault() (anything that went wrong in the peer itself: no
// connection came, the client closed before the peer had read all it
// expected, a send failed).

#include "platform/Socket.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace velkaro::testing {

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    quint16 Port() const { return listener_.Port(); }

    ScriptedPeer& Expect(qint64 count); // reads exactly Count bytes
    ScriptedPeer& Send(const QByteArray& bytes); // sends them whole
    ScriptedPeer& Pause(int ms); // lets the client see what came so far
    ScriptedPeer& Close(); // closes the connection: the client reads its end
    void Start();

    // Waits up to TimeoutMs for the script's last step; false when it has
    // not got there.
    bool Finish(int timeoutMs = 10000);
    QByteArray Received() const;
    QString Fault() const;

private:
    struct Step {
        enum Kind { Expect, Send, Pause, Close } kind;
        QByteArray bytes;
        qint64 count = 0;
    };
    void run();
    void fault(const QString& text);

    platform::TcpListener listener_;
    platform::SocketWaker stop_;
    std::atomic<bool> stopping_ = false;
    std::vector<Step> script_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    QByteArray received_;
    QString fault_;
};

} // namespace velkaro::testing
