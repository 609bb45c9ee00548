// The TCP endpoint and the session over real sockets on 127.0.0.1, with a
// scripted peer at the socket seam.

#include "mysql/CRVioTcp.h"

#include "mysql/MyError.h"
#include "mysql/MySqlAuth.h"
#include "mysql/MySqlSession.h"
#include "support/Fixtures.h"
#include "support/Raised.h"
#include "support/ScriptedVio.h"
#include "support/TcpPeer.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <vector>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

// A port nobody listens on: one the system gave out and took back.
int closedPort()
{
    platform::TcpListener listener;
    listener.Listen(platform::SocketAddress {platform::SocketAddress::Loopback, 0});
    return listener.Port();
}

} // namespace

TEST(CRVioTcp, ExchangesBytesWithThePeer)
{
    const QByteArray reply(40000, 'r');
    TcpPeer peer([&](platform::TcpSocket& client) {
        const QByteArray got = TcpPeer::ReadExactly(client, 5);
        TcpPeer::WriteAll(client, got + reply);
    });
    TCRVioTcp vio("127.0.0.1", peer.Port());
    vio.SetTimeout(10);
    vio.Connect();
    ASSERT_NE(vio.GetSocket(), -1);

    // The options the connect sets, as the system reports them.
    const int fd = int(vio.GetSocket());
    auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t size = sizeof value;
        getsockopt(fd, level, name, &value, &size);
        return value;
    };
    EXPECT_NE(option(IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 15);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 1);
    timeval receive {};
    socklen_t size = sizeof receive;
    getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receive, &size);
    EXPECT_EQ(receive.tv_sec, 10);
    EXPECT_EQ(vio.Write("hello", 5), 5);
    EXPECT_TRUE(vio.WaitForData(10000));
    QByteArray in(5 + reply.size(), '\0');
    EXPECT_EQ(vio.Read(in.data(), 2), 2);
    EXPECT_EQ(vio.Read(in.data() + 2, in.size() - 2), in.size() - 2);
    EXPECT_TRUE(in == "hello" + reply);
    // The peer has closed: a read brings nothing, and LastError is empty.
    char more[10];
    EXPECT_EQ(vio.Read(more, 10), 0);
    EXPECT_EQ(vio.LastError(), QString());
    vio.Close();
    EXPECT_EQ(vio.GetSocket(), -1);
    EXPECT_EQ(vio.Write("x", 1), 0);
}

TEST(CRVioTcp, UnreachablePortAndUnknownHost)
{
    TCRVioTcp refused("127.0.0.1", closedPort());
    refused.SetTimeout(15);
    QElapsedTimer timer;
    timer.start();
    const EMyError e = Raised([&] { refused.Connect(); });
    EXPECT_LT(timer.elapsed(), 15000);
    EXPECT_EQ(e.ErrorCode(), 2003);
    EXPECT_EQ(S(e.Message()), "Socket error 2003");
    EXPECT_EQ(S(refused.LastError()), "Socket error on connect. WSAGetLastError return 111($6F)");
    EXPECT_EQ(refused.GetSocket(), -1);

    TCRVioTcp unknown("no-such-host.invalid", 3306);
    unknown.SetTimeout(15);
    const EMyError u = Raised([&] { unknown.Connect(); });
    EXPECT_EQ(u.ErrorCode(), 2005);
    EXPECT_TRUE(unknown.LastError().startsWith(QStringLiteral("Socket error on connect. WSAGetLastError return ")))
        << S(unknown.LastError());

    // The session reports both as 2003, naming the host.
    TMySqlSession session;
    session.SetConnectTimeout(15);
    const EMyError s = Raised([&] { session.Connect("127.0.0.1", "sa", "", "", closedPort(), 0); });
    EXPECT_EQ(S(s.Message()),
        "Can't connect to MySQL server on '127.0.0.1' (10061)\n"
        "Socket error on connect. WSAGetLastError return 111($6F)");
    EXPECT_TRUE(session.Closed());
}

TEST(CRVioTcp, TheConnectWaitIsBounded)
{
    // A listener whose queue is full drops further handshakes: a connect to
    // it waits as for a server that does not answer.
    platform::TcpListener listener;
    ASSERT_TRUE(listener.Listen(platform::SocketAddress {platform::SocketAddress::Loopback, 0}, 0).Ok());
    std::vector<platform::TcpSocket> queued;
    for (int attempt = 0; attempt < 16; ++attempt) {
        platform::TcpSocket socket;
        if (!socket.Connect(platform::SocketAddress {platform::SocketAddress::Loopback, listener.Port()}, 200).Ok())
            break;
        queued.push_back(std::move(socket));
    }
    TCRVioTcp vio("127.0.0.1", listener.Port());
    vio.SetTimeout(1);
    QElapsedTimer timer;
    timer.start();
    const EMyError e = Raised([&] { vio.Connect(); });
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(e.ErrorCode(), 2005);
    EXPECT_EQ(S(vio.LastError()), "Connection timed out");
    EXPECT_EQ(vio.GetSocket(), -1);
}

TEST(CRVioTcp, AServerThatClosesMidPacketIsALostConnection)
{
    const QByteArray scramble = "ABCDEFGHIJKLMNOPQRST";
    TcpPeer peer([&](platform::TcpSocket& client) {
        TcpPeer::WriteAll(client, Packet(0, Greeting41(scramble)));
        TcpPeer::ReadExactly(client, 4 + 32 + 3 + 21 + 10);
        TcpPeer::WriteAll(client, Packet(2, OkPacket()));
        TcpPeer::ReadExactly(client, 4 + 9);
        TcpPeer::WriteAll(client, Hex("10 00 00 01 01"));
        client.Shutdown();
    });
    TMySqlSession session;
    session.SetCharsetName("utf8");
    session.Connect("127.0.0.1", "sa", "pw", "VelkaroDB", peer.Port(), CLIENT_FOUND_ROWS);
    session.Query(QStringLiteral("Select 1"), TextCoding::Utf8);
    const EMyError e = Raised([&] { session.ReadQueryResult(); });
    EXPECT_EQ(e.ErrorCode(), 2013);
    EXPECT_EQ(S(e.Message()), "Lost connection to MySQL server during query");
    EXPECT_TRUE(session.Closed());
}
