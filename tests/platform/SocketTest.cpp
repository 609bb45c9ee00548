// The socket seam against real sockets on 127.0.0.1: what the MySQL client,
// the remote link and the application server rely on.

#include "platform/Socket.h"
#include "platform/Socket_p.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>

using namespace velkaro::platform;

namespace {

// Generous limits: they only keep a broken build from hanging the run.
constexpr int Patience = 10000;

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(1234);
    for (char& c : bytes)
        c = char(generator.generate() & 0xFF);
    return bytes;
}

// Reads until the peer closes (or fails); what arrived.
QByteArray readToEnd(TcpSocket& socket)
{
    QByteArray all;
    char chunk[65536];
    for (;;) {
        const SocketResult r = socket.Read(chunk, sizeof chunk);
        if (!r.Ok() || r.count == 0)
            return all;
        all.append(chunk, r.count);
    }
}

QByteArray readExactly(TcpSocket& socket, qsizetype size)
{
    QByteArray bytes(size, '\0');
    qsizetype done = 0;
    while (done < size) {
        const SocketResult r = socket.Read(bytes.data() + done, size - done);
        if (!r.Ok() || r.count == 0)
            return bytes.left(done);
        done += r.count;
    }
    return bytes;
}

int intOption(const TcpSocket& socket, int level, int name)
{
    int value = -1;
    socklen_t size = sizeof value;
    EXPECT_EQ(::getsockopt(int(internal::NativeHandle(socket)), level, name, &value, &size), 0);
    return value;
}

// A free port: one the system just gave out and nobody listens on now.
quint16 closedPort()
{
    TcpListener listener;
    EXPECT_TRUE(listener.Listen({SocketAddress::Loopback, 0}).Ok());
    return listener.Port();
}

// A listener, a client connected to it without a time limit (as the remote
// link connects), and the server's end of that connection.
class Connected : public ::testing::Test {
protected:
    // Also run again by table tests for a fresh connection per case.
    void SetUp() override
    {
        client.Close();
        server.Close();
        ASSERT_TRUE(listener.Listen({SocketAddress::Loopback, 0}).Ok());
        ASSERT_NE(listener.Port(), 0);
        const SocketResult connected = client.Connect({SocketAddress::Loopback, listener.Port()}, 0);
        ASSERT_TRUE(connected.Ok()) << connected.ErrorText().toStdString();
        const SocketResult accepted = listener.Accept(server, Patience);
        ASSERT_TRUE(accepted.Ok()) << accepted.ErrorText().toStdString();
    }

    TcpListener listener;
    TcpSocket client;
    TcpSocket server;
};

// Counts SIGPIPE while installed, in place of the default that kills the process.
std::atomic<int> sigpipes {0};
class SigpipeCounter {
public:
    SigpipeCounter()
    {
        struct sigaction counting { };
        counting.sa_handler = [](int) { ++sigpipes; };
        sigemptyset(&counting.sa_mask);
        ::sigaction(SIGPIPE, &counting, &previous_);
    }
    ~SigpipeCounter() { ::sigaction(SIGPIPE, &previous_, nullptr); }

private:
    struct sigaction previous_ { };
};

} // namespace

TEST_F(Connected, ExchangesBytesBothWaysAndKnowsThePeer)
{
    const QByteArray request("SELECT 1", 8);
    const SocketResult sent = client.WriteAll(request.constData(), request.size());
    ASSERT_TRUE(sent.Ok());
    EXPECT_EQ(sent.count, request.size());
    EXPECT_EQ(readExactly(server, request.size()), request);

    // More than the socket buffers hold, so the writer must wait for the reader.
    const QByteArray reply = randomBytes(8 * 1024 * 1024 + 3);
    SocketResult replied;
    std::thread writer([&] {
        replied = server.WriteAll(reply.constData(), reply.size());
        server.Shutdown();
    });
    const QByteArray received = readToEnd(client);
    writer.join();
    EXPECT_TRUE(replied.Ok());
    EXPECT_EQ(replied.count, reply.size());
    EXPECT_TRUE(received == reply) << "received " << received.size() << " of " << reply.size() << " bytes";

    EXPECT_EQ(client.PeerAddress(), (SocketAddress {SocketAddress::Loopback, listener.Port()}));
    EXPECT_EQ(server.PeerAddress().ip, SocketAddress::Loopback);
    EXPECT_EQ(client.PeerAddress().ToString(), QStringLiteral("127.0.0.1:%1").arg(listener.Port()));
}

TEST_F(Connected, OptionsReachTheSystem)
{
    ASSERT_TRUE(client.SetNoDelay(true).Ok());
    EXPECT_NE(intOption(client, IPPROTO_TCP, TCP_NODELAY), 0);

    struct Case {
        int idleMs, intervalMs, idleSeconds, intervalSeconds;
    };
    const Case cases[] = {{15000, 1000, 15, 1}, {1, 1, 1, 1}, {0, -5, 1, 1}, {1001, 2500, 2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.idleMs << " ms / " << c.intervalMs << " ms");
        ASSERT_TRUE(client.SetKeepAlive(true, c.idleMs, c.intervalMs).Ok());
        EXPECT_NE(intOption(client, SOL_SOCKET, SO_KEEPALIVE), 0);
        EXPECT_EQ(intOption(client, IPPROTO_TCP, TCP_KEEPIDLE), c.idleSeconds);
        EXPECT_EQ(intOption(client, IPPROTO_TCP, TCP_KEEPINTVL), c.intervalSeconds);
    }
    ASSERT_TRUE(client.SetKeepAlive(false, 0, 0).Ok());
    EXPECT_EQ(intOption(client, SOL_SOCKET, SO_KEEPALIVE), 0);
}

TEST(Socket, ConnectToAClosedPortFailsAtOnceWithTheSystemsReason)
{
    TcpSocket socket;
    const SocketResult r = socket.Connect({SocketAddress::Loopback, closedPort()}, Patience);
    EXPECT_EQ(r.status, SocketStatus::Failed);
    EXPECT_EQ(r.code, ECONNREFUSED);
    EXPECT_EQ(r.ErrorText(), QStringLiteral("Connection refused"));
    EXPECT_FALSE(socket.IsOpen()) << "a failed connect closes the socket";

    // The same object connects afterwards.
    TcpListener listener;
    ASSERT_TRUE(listener.Listen({SocketAddress::Loopback, 0}).Ok());
    EXPECT_TRUE(socket.Connect({SocketAddress::Loopback, listener.Port()}, Patience).Ok());
}

TEST(Socket, ConnectGivesUpAtItsLimit)
{
    // A listener whose queue is full drops further handshakes, so a connect
    // to it waits like one to an address where nobody answers.
    TcpListener listener;
    ASSERT_TRUE(listener.Listen({SocketAddress::Loopback, 0}, 0).Ok());
    std::vector<TcpSocket> queued;
    SocketResult r;
    for (int attempt = 0; attempt < 16; ++attempt) {
        TcpSocket socket;
        r = socket.Connect({SocketAddress::Loopback, listener.Port()}, 200);
        if (!r.Ok()) {
            EXPECT_FALSE(socket.IsOpen());
            break;
        }
        queued.push_back(std::move(socket));
    }
    EXPECT_EQ(r.status, SocketStatus::TimedOut);
    EXPECT_EQ(r.code, ETIMEDOUT);
    EXPECT_FALSE(r.ErrorText().isEmpty());
}

TEST(Socket, LooksUpNames)
{
    struct Case {
        const char* host;
        SocketStatus status;
        quint32 ip;
    };
    const Case cases[] = {
        {"localhost", SocketStatus::Ok, SocketAddress::Loopback},
        {"10.1.2.3", SocketStatus::Ok, 0x0A010203},
        {"255.255.255.255", SocketStatus::Ok, 0xFFFFFFFF},
        {"no.such.host.invalid", SocketStatus::LookUpFailed, 0},
        {"", SocketStatus::LookUpFailed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        quint32 ip = 12345;
        const SocketResult r = LookUpIPv4(QString::fromLatin1(c.host), ip);
        EXPECT_EQ(r.status, c.status) << r.ErrorText().toStdString();
        EXPECT_EQ(ip, c.ip);
        EXPECT_EQ(r.ErrorText().isEmpty(), c.status == SocketStatus::Ok);
        if (c.status != SocketStatus::Ok) {
            EXPECT_NE(r.code, 0);
        }
    }
}

TEST_F(Connected, ReadsTellTimeoutCloseAndResetApart)
{
    struct Case {
        const char* name;
        std::function<void(TcpSocket& peer)> peerDoes;
        SocketStatus status;
        int code;
    };
    const Case cases[] = {
        {"peer silent", [](TcpSocket&) {}, SocketStatus::TimedOut, ETIMEDOUT},
        {"peer closes", [](TcpSocket& peer) { peer.Close(); }, SocketStatus::Ok, 0},
        {"peer resets",
            [](TcpSocket& peer) {
                // Closing with a zero linger time sends a reset instead of a close.
                const linger abort {1, 0};
                ::setsockopt(int(internal::NativeHandle(peer)), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                peer.Close();
            },
            SocketStatus::Failed, ECONNRESET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ASSERT_TRUE(client.SetReceiveTimeout(100).Ok());
        c.peerDoes(server);
        char byte = 0;
        const SocketResult r = client.Read(&byte, 1);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.count, 0);
        EXPECT_EQ(r.ErrorText().isEmpty(), c.status == SocketStatus::Ok);
    }
}

TEST_F(Connected, NonBlockingReadsReportWouldBlock)
{
    ASSERT_TRUE(client.SetNonBlocking(true).Ok());
    char byte = 0;
    SocketResult r = client.Read(&byte, 1);
    EXPECT_EQ(r.status, SocketStatus::WouldBlock);
    EXPECT_EQ(r.count, 0);

    ASSERT_TRUE(server.WriteAll("x", 1).Ok());
    ASSERT_EQ(client.WaitReadable(Patience).status, WaitStatus::Readable);
    r = client.Read(&byte, 1);
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(byte, 'x');

    ASSERT_TRUE(client.SetNonBlocking(false).Ok());
    ASSERT_TRUE(client.SetReceiveTimeout(50).Ok());
    EXPECT_EQ(client.Read(&byte, 1).status, SocketStatus::TimedOut) << "blocking again";
}

TEST_F(Connected, WaitsForDataAndCountsWhatWaits)
{
    EXPECT_EQ(client.WaitReadable(0).status, WaitStatus::TimedOut);
    EXPECT_EQ(client.WaitReadable(20).status, WaitStatus::TimedOut);
    SocketResult available = client.BytesAvailable();
    EXPECT_TRUE(available.Ok());
    EXPECT_EQ(available.count, 0);

    std::thread peer([&] { server.WriteAll("12345", 5); });
    EXPECT_EQ(client.WaitReadable(NoTimeLimit).status, WaitStatus::Readable);
    peer.join();
    // The five bytes travel as one segment on the loopback.
    available = client.BytesAvailable();
    EXPECT_TRUE(available.Ok());
    EXPECT_EQ(available.count, 5);
    EXPECT_EQ(readExactly(client, 5), QByteArray("12345"));

    server.Close();
    EXPECT_EQ(client.WaitReadable(Patience).status, WaitStatus::Readable) << "an orderly close is readable";
}

TEST_F(Connected, WakerWakesAWaitingThread)
{
    SocketWaker waker;
    WaitResult onSocket;
    WaitResult onWakerAlone;
    std::thread waiting([&] {
        onSocket = client.WaitReadable(NoTimeLimit, &waker);
        onWakerAlone = waker.Wait(NoTimeLimit);
    });
    waker.Signal();
    waker.Signal(); // two signals before a wait count as one
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    waker.Signal();
    waiting.join();
    EXPECT_EQ(onSocket.status, WaitStatus::Woken);
    EXPECT_EQ(onWakerAlone.status, WaitStatus::Woken);

    // A signal waits for the next wait and is taken by it.
    EXPECT_EQ(waker.Wait(0).status, WaitStatus::TimedOut);
    waker.Signal();
    EXPECT_EQ(waker.Wait(0).status, WaitStatus::Woken);
    EXPECT_EQ(waker.Wait(0).status, WaitStatus::TimedOut);

    // Both at once: the waker first, and the data is still there after.
    ASSERT_TRUE(server.WriteAll("x", 1).Ok());
    ASSERT_EQ(client.WaitReadable(Patience).status, WaitStatus::Readable);
    waker.Signal();
    EXPECT_EQ(client.WaitReadable(0, &waker).status, WaitStatus::Woken);
    EXPECT_EQ(client.WaitReadable(0, &waker).status, WaitStatus::Readable);
}

TEST_F(Connected, ShutdownFromAnotherThreadUnblocksARead)
{
    SocketResult r {SocketStatus::Failed, -1, -1};
    std::thread reader([&] {
        char byte = 0;
        r = client.Read(&byte, 1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(client.Shutdown().Ok());
    reader.join();
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(readToEnd(server), QByteArray()) << "the peer reads an orderly close";
}

TEST(Socket, AcceptEndsAtItsLimitOrWhenWoken)
{
    TcpListener listener;
    ASSERT_TRUE(listener.Listen({SocketAddress::Any, 0}).Ok());
    TcpSocket accepted;
    SocketResult r = listener.Accept(accepted, 30);
    EXPECT_EQ(r.status, SocketStatus::TimedOut);
    EXPECT_FALSE(accepted.IsOpen());

    SocketWaker waker;
    std::thread stopper([&] { waker.Signal(); });
    r = listener.Accept(accepted, NoTimeLimit, &waker);
    stopper.join();
    EXPECT_EQ(r.status, SocketStatus::Woken);
    EXPECT_FALSE(accepted.IsOpen());

    // Listening on every interface takes connections on the loopback.
    TcpSocket client;
    ASSERT_TRUE(client.Connect({SocketAddress::Loopback, listener.Port()}, Patience).Ok());
    r = listener.Accept(accepted, Patience, &waker);
    EXPECT_TRUE(r.Ok());
    EXPECT_TRUE(accepted.IsOpen());
}

TEST(Socket, ListeningOnATakenPortFails)
{
    TcpListener first;
    ASSERT_TRUE(first.Listen({SocketAddress::Loopback, 0}).Ok());
    TcpListener second;
    const SocketResult r = second.Listen({SocketAddress::Loopback, first.Port()});
    EXPECT_EQ(r.status, SocketStatus::Failed);
    EXPECT_EQ(r.code, EADDRINUSE);
    EXPECT_FALSE(second.IsOpen());
}

TEST_F(Connected, SendsFileRangesIntact)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Velkaro.exe")));
    const QByteArray content = randomBytes(3 * 1024 * 1024 + 123);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(content), content.size());
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(file.seek(7));

    using Sender = SocketResult (*)(TcpSocket&, QFile&, qint64, qint64);
    const std::pair<const char*, Sender> senders[] = {
        {"SendFile", [](TcpSocket& s, QFile& f, qint64 offset, qint64 count) { return s.SendFile(f, offset, count); }},
        {"SendFileByCopy", &internal::SendFileByCopy},
    };
    struct Case {
        const char* name;
        qint64 offset, count;
        SocketStatus status;
        qint64 sent;
    };
    const qint64 size = content.size();
    const Case cases[] = {
        {"whole file", 0, size, SocketStatus::Ok, size},
        {"middle", 1024 * 1024 + 1, 1024 * 1024 + 3, SocketStatus::Ok, 1024 * 1024 + 3},
        {"nothing", 100, 0, SocketStatus::Ok, 0},
        {"past the end", size - 10, 20, SocketStatus::EndOfFile, 10},
        {"starting beyond the end", size + 5, 1, SocketStatus::EndOfFile, 0},
    };
    for (const auto& [senderName, send] : senders) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << senderName << ", " << c.name);
            SetUp();
            SocketResult r;
            std::thread sender([&] {
                r = send(client, file, c.offset, c.count);
                client.Shutdown();
            });
            const QByteArray received = readToEnd(server);
            sender.join();
            EXPECT_EQ(r.status, c.status);
            EXPECT_EQ(r.count, c.sent);
            EXPECT_TRUE(received == content.mid(c.offset, c.sent))
                << "received " << received.size() << " bytes, expected " << c.sent;
            EXPECT_EQ(file.pos(), 7) << "the file's own position stays";
        }
    }
}

TEST_F(Connected, WritingToAPeerThatHasGoneIsAnErrorNotASignal)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("data")));
    const QByteArray content = randomBytes(256 * 1024);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_EQ(file.write(content), content.size());
    ASSERT_TRUE(file.flush());

    using Writer = std::function<SocketResult(TcpSocket&)>;
    const std::pair<const char*, Writer> writers[] = {
        {"Write", [&](TcpSocket& s) { return s.Write(content.constData(), content.size()); }},
        {"WriteAll", [&](TcpSocket& s) { return s.WriteAll(content.constData(), content.size()); }},
        {"SendFile", [&](TcpSocket& s) { return s.SendFile(file, 0, content.size()); }},
        {"SendFileByCopy", [&](TcpSocket& s) { return internal::SendFileByCopy(s, file, 0, content.size()); }},
    };
    SigpipeCounter counter;
    for (const auto& [name, write] : writers) {
        SCOPED_TRACE(name);
        SetUp();
        sigpipes = 0;
        server.Close();
        // The first write may still be taken; the peer's reset then fails the next.
        SocketResult r;
        for (int attempt = 0; attempt < 50 && (r = write(client)).Ok(); ++attempt)
            client.WaitReadable(100);
        EXPECT_EQ(r.status, SocketStatus::Failed);
        EXPECT_TRUE(r.code == EPIPE || r.code == ECONNRESET) << r.code;
        EXPECT_FALSE(r.ErrorText().isEmpty());
        EXPECT_EQ(sigpipes.load(), 0);
    }
}

TEST(Socket, ClosedSocketsReportWithoutTouchingTheSystem)
{
    TcpSocket socket;
    char byte = 0;
    for (const SocketResult& r : {socket.Read(&byte, 1), socket.Write(&byte, 1), socket.BytesAvailable(),
             socket.SetNoDelay(true), socket.Shutdown()}) {
        EXPECT_EQ(r.status, SocketStatus::Failed);
        EXPECT_EQ(r.code, EBADF);
    }
    EXPECT_EQ(socket.WaitReadable(0).status, WaitStatus::Failed);
    EXPECT_EQ(socket.PeerAddress(), SocketAddress {});
}

TEST(Socket, MovingHandsTheConnectionOver)
{
    TcpListener listener;
    ASSERT_TRUE(listener.Listen({SocketAddress::Loopback, 0}).Ok());
    TcpListener moved(std::move(listener));
    EXPECT_FALSE(listener.IsOpen());
    ASSERT_TRUE(moved.IsOpen());

    TcpSocket first;
    ASSERT_TRUE(first.Connect({SocketAddress::Loopback, moved.Port()}, Patience).Ok());
    TcpSocket second(std::move(first));
    EXPECT_FALSE(first.IsOpen());
    TcpSocket accepted;
    ASSERT_TRUE(moved.Accept(accepted, Patience).Ok());
    ASSERT_TRUE(second.WriteAll("ok", 2).Ok());
    EXPECT_EQ(readExactly(accepted, 2), QByteArray("ok"));

    // Assigning over an open socket closes the old connection.
    TcpSocket other;
    ASSERT_TRUE(other.Connect({SocketAddress::Loopback, moved.Port()}, Patience).Ok());
    second = std::move(other);
    EXPECT_EQ(readToEnd(accepted), QByteArray());
}
