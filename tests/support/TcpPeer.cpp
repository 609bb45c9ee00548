#include "support/TcpPeer.h"

namespace velkaro::testing {

namespace {
// Only keeps a broken test from hanging the run.
constexpr int Patience = 10000;
} // namespace

TcpPeer::TcpPeer(Play play)
{
    listener_.Listen(platform::SocketAddress {platform::SocketAddress::Loopback, 0});
    port_ = listener_.Port();
    thread_ = std::thread([this, play = std::move(play)] {
        platform::TcpSocket client;
        if (listener_.Accept(client, Patience).Ok()) {
            client.SetReceiveTimeout(Patience);
            play(client);
        }
    });
}

TcpPeer::~TcpPeer()
{
    thread_.join();
}

QByteArray TcpPeer::ReadExactly(platform::TcpSocket& socket, qsizetype size)
{
    QByteArray bytes(size, '\0');
    qsizetype done = 0;
    while (done < size) {
        const platform::SocketResult r = socket.Read(bytes.data() + done, size - done);
        if (!r.Ok() || r.count == 0)
            return bytes.first(done);
        done += r.count;
    }
    return bytes;
}

void TcpPeer::WriteAll(platform::TcpSocket& socket, QByteArrayView bytes)
{
    socket.WriteAll(bytes.data(), bytes.size());
}

} // namespace velkaro::testing
