#pragma once
// A proxy between the update client and the application server, in the
// test process: it passes each connection on to the server, notes the
// signatures of the blocks the client sends, and can cut a link off after
// a given number of bytes from the server, as a network that drops in the
// middle of a download does.

#include "platform/Socket.h"

#include <QList>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace velkaro::testing {

class LinkProxy {
public:
    // CutAfter: bytes from the server passed on before both sides are cut
    // off (-1: never).
    LinkProxy(quint16 serverPort, qint64 cutAfter = -1);
    ~LinkProxy();

    quint16 Port() const { return listener_.Port(); }
    // The signatures of the whole blocks the client sent, in order.
    QList<qint32> ClientBlocks() const;
    // Bytes passed from the server to the client.
    qint64 ServerBytes() const { return serverBytes_; }

private:
    void serve(platform::TcpSocket client);

    quint16 serverPort_;
    qint64 cutAfter_;
    platform::TcpListener listener_;
    platform::SocketWaker stop_;
    std::atomic<bool> stopping_ = false;
    std::atomic<qint64> serverBytes_ = 0;
    mutable std::mutex lock_;
    QByteArray fromClient_;
    std::thread acceptor_;
    std::vector<std::thread> pumps_;
};

} // namespace velkaro::testing
