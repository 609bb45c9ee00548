#pragma once
// A scripted peer at the socket seam: listens on 127.0.0.1 on a port the
// system chooses, accepts one client and plays its part on the accepted
// socket in a thread of its own. The destructor waits for it.

#include "platform/Socket.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <thread>

namespace velkaro::testing {

class TcpPeer {
public:
    using Play = std::function<void(platform::TcpSocket& client)>;
    explicit TcpPeer(Play play);
    ~TcpPeer();
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    int Port() const { return port_; }

    // For the play: exactly Size bytes (fewer when the client closes first),
    // and all of Bytes.
    static QByteArray ReadExactly(platform::TcpSocket& socket, qsizetype size);
    static void WriteAll(platform::TcpSocket& socket, QByteArrayView bytes);

private:
    platform::TcpListener listener_;
    int port_ = 0;
    std::thread thread_;
};

} // namespace velkaro::testing
