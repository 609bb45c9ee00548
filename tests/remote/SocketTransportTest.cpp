#include "remote/SocketTransport.h"

#include "core/Bytes.h"
#include "remote/RemoteErrors.h"
#include "remote/RemoteTestSupport.h"
#include "support/LinkPeer.h"
#include "support/TcpPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Keeps the connection open until the client closes its end.
void hold(platform::TcpSocket& client)
{
    TcpPeer::ReadExactly(client, 1);
}

struct Outcome {
    std::string errorClass; // "" when nothing was raised
    std::string message;
};

template <class Fn> Outcome outcomeOf(Fn&& fn)
{
    try {
        fn();
    } catch (const Exception& e) {
        return {e.ClassName(), S(e.Message())};
    }
    return {};
}

void connectTo(TSocketTransport& transport, const TcpPeer& peer, bool waitEvent)
{
    transport.SetHost(QStringLiteral("127.0.0.1"));
    transport.SetPort(quint16(peer.Port()));
    transport.SetConnected(true);
    if (waitEvent)
        transport.GetWaitEvent();
}

TEST(SocketTransport, ConnectingFailsWithTheSystemsWords)
{
    platform::TcpListener closed;
    ASSERT_TRUE(closed.Listen({platform::SocketAddress::Loopback, 0}).Ok());
    const quint16 unused = closed.Port();
    closed.Close();

    const struct {
        const char* name;
        QString host;
        QString address;
        const char* errorClass;
        const char* message;
    } cases[] = {
        {"no address", {}, {}, "ESocketConnectionError", "No address specified"},
        {"refused", QStringLiteral("127.0.0.1"), {}, "ESocketError",
            "Windows socket error: Connection refused (111), on API 'connect'"},
        {"address wins over host", QStringLiteral("no-such-host.invalid"), QStringLiteral("127.0.0.1"), "ESocketError",
            "Windows socket error: Connection refused (111), on API 'connect'"},
        {"address that is not dotted", {}, QStringLiteral("localhost"), "ESocketError",
            "Windows socket error: Invalid argument (22), on API 'connect'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSocketTransport transport;
        transport.SetHost(c.host);
        transport.SetAddress(c.address);
        transport.SetPort(unused);
        const Outcome o = outcomeOf([&] { transport.SetConnected(true); });
        EXPECT_EQ(o.errorClass, c.errorClass);
        EXPECT_EQ(o.message, c.message);
        EXPECT_FALSE(transport.GetConnected());
    }

    TSocketTransport unresolvable;
    unresolvable.SetHost(QStringLiteral("no-such-host.invalid"));
    const Outcome o = outcomeOf([&] { unresolvable.SetConnected(true); });
    EXPECT_EQ(o.errorClass, "ESocketError");
    EXPECT_TRUE(o.message.starts_with("Windows socket error: ")) << o.message;
    EXPECT_TRUE(o.message.ends_with("), on API 'connect'")) << o.message;
}

// Blocks in both directions, with and without the readiness wait; the
// header may arrive in pieces.
TEST(SocketTransport, WritesAndReadsWholeBlocks)
{
    for (const bool waitEvent : {false, true}) {
        SCOPED_TRACE(waitEvent ? "with readiness wait" : "blocking");
        const QByteArray request = Hex("03DA0000 14000000 03000000 03000000 08000000 02000000 4F00 4B00");
        const QByteArray reply = Hex("03DB0000 10000000 03000000 00000000 03000000 2A000000");
        QByteArray received;
        auto peer = std::make_unique<TcpPeer>([&](platform::TcpSocket& client) {
            received = ReadLinkBlock(client);
            TcpPeer::WriteAll(client, reply.first(6));
            pause(50);
            TcpPeer::WriteAll(
                client, reply.mid(6) + Hex("04DB3412 00000000") + Hex("01DB0000 0C000000 08000000 02000000 4E00 6F00"));
            hold(client);
        });
        TSocketTransport transport;
        transport.SetHost(QStringLiteral("localhost"));
        transport.SetPort(quint16(peer->Port()));
        transport.SetConnected(true);
        if (waitEvent)
            transport.GetWaitEvent();
        EXPECT_EQ(transport.Receive(false), nullptr);

        EXPECT_EQ(transport.Send(TDataBlock::FromBytes(request)), 0);
        const DataBlockRef first = transport.Receive(true);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(ToHex(first->GetStream()), ToHex(reply));
        const DataBlockRef empty = transport.Receive(true);
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty->GetSignature(), 0x1234DB04);
        EXPECT_EQ(empty->GetSize(), 0);
        const DataBlockRef error = transport.Receive(true);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(ToHex(Payload(*error)), "08 00 00 00 02 00 00 00 4e 00 6f 00");
        EXPECT_EQ(transport.Receive(false), nullptr);
        EXPECT_TRUE(transport.GetConnected());
        transport.SetConnected(false);
        peer.reset();
        EXPECT_EQ(ToHex(received), ToHex(request));
    }
}

TEST(SocketTransport, ABrokenStreamRaisesItsErrorAndABadSignatureDisconnects)
{
    const QByteArray block = Hex("02DB0000 08000000 03000000 05000000");
    const struct {
        const char* name;
        QByteArray bytes;
        int goodBlocks;
        const char* errorClass;
        const char* message;
        bool connectedAfter;
    } cases[] = {
        {"peer closes between blocks", block, 1, "ESocketConnectionError", "Error reading from socket", true},
        {"peer closes inside the signature", Hex("02DB"), 0, "ESocketConnectionError", "Error reading from socket",
            true},
        {"peer closes inside the size", Hex("02DB0000 0800"), 0, "ESocketConnectionError", "Error reading from socket",
            true},
        {"peer closes after the header", Hex("02DB0000 0A000000"), 0, "ESocketConnectionError",
            "Error reading from socket", true},
        {"peer closes inside the payload", Hex("02DB0000 0A000000 03000000"), 0, "ESocketConnectionError",
            "Error reading from socket", true},
        {"2 GiB announced, nothing sent", Hex("02DB0000 FFFFFF7F"), 0, "ESocketConnectionError",
            "Error reading from socket", true},
        {"negative size", Hex("02DB0000 FFFFFFFF"), 0, "ESocketConnectionError", "Invalid data packet", true},
        {"bad signature", Hex("02DC0000 04000000 03000000"), 0, "Exception", "Invalid data packet", false},
        {"size smaller than the payload", Hex("02DB0000 04000000 03000000 05000000"), 1, "Exception",
            "Invalid data packet", false},
    };
    for (const bool waitEvent : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (waitEvent ? ", with readiness wait" : ", blocking"));
            TcpPeer peer([&](platform::TcpSocket& client) { TcpPeer::WriteAll(client, c.bytes); });
            TSocketTransport transport;
            connectTo(transport, peer, waitEvent);
            for (int i = 0; i < c.goodBlocks; ++i)
                EXPECT_NE(transport.Receive(true), nullptr);
            const Outcome o = outcomeOf([&] { transport.Receive(true); });
            EXPECT_EQ(o.errorClass, c.errorClass);
            EXPECT_EQ(o.message, c.message);
            EXPECT_EQ(transport.GetConnected(), c.connectedAfter);
        }
    }
}

TEST(SocketTransport, SendingToAPeerThatHasGoneFailsAndCloses)
{
    TcpPeer peer([](platform::TcpSocket&) {});
    TSocketTransport transport;
    connectTo(transport, peer, true);
    EXPECT_THROW(transport.Receive(true), ESocketConnectionError); // the peer has gone
    const DataBlockRef big = TDataBlock::Create(CallSig | asInvoke);
    big->SetSize(16 * 1024 * 1024);
    Outcome o;
    for (int i = 0; i < 5 && o.errorClass.empty(); ++i)
        o = outcomeOf([&] { transport.Send(big); });
    EXPECT_EQ(o.errorClass, "ESocketError");
    EXPECT_TRUE(o.message.starts_with("Windows socket error: ")) << o.message;
    EXPECT_TRUE(o.message.ends_with(", on API 'send'")) << o.message;
    EXPECT_FALSE(transport.GetConnected());
}

// What the transport thread needs: a wait for input that a posted request
// ends, and a way to end a wait for a peer that never answers.
TEST(SocketTransport, WaitsEndOnInputOnAWakerAndOnCancel)
{
    TcpPeer peer([](platform::TcpSocket& client) {
        TcpPeer::ReadExactly(client, 8);
        TcpPeer::WriteAll(client, Hex("02DB0000 00000000"));
        hold(client);
    });
    TSocketTransport transport;
    connectTo(transport, peer, true);

    platform::SocketWaker waker;
    std::thread poster([&] { waker.Signal(); });
    EXPECT_EQ(transport.WaitForInput(waker), TInputWait::Woken);
    poster.join();
    transport.Send(TDataBlock::FromBytes(Hex("05DA0000 00000000")));
    EXPECT_EQ(transport.WaitForInput(waker), TInputWait::Readable);
    const DataBlockRef reply = transport.Receive(false);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->GetSignature(), 0xDB02);

    std::thread closer([&] {
        pause(50);
        transport.Cancel();
    });
    const Outcome o = outcomeOf([&] { transport.Receive(true); });
    closer.join();
    EXPECT_EQ(o.errorClass, "ESocketConnectionError");
    EXPECT_EQ(o.message, "The connection was closed");
    EXPECT_THROW(transport.WaitForInput(waker), ESocketConnectionError);
}

// A large block arrives whole, in as many reads as the socket needs.
TEST(SocketTransport, ALargeBlockArrivesWhole)
{
    QByteArray payload(8 * 1024 * 1024 + 3, '\0');
    for (qsizetype i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7);
    QByteArray header;
    ByteWriter w(header);
    w.I32(0xDB02);
    w.I32(qint32(payload.size()));
    TcpPeer peer([&](platform::TcpSocket& client) { TcpPeer::WriteAll(client, header + payload); });
    TSocketTransport transport;
    connectTo(transport, peer, true);
    const DataBlockRef block = transport.Receive(true);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(Payload(*block) == payload);
}

} // namespace
