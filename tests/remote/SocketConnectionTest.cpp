// The connection component against a scripted application server on a
// socket: the exchange as the wire carries it, opening and its failures,
// errors during a wait and while nobody waits, requests of the server in
// the middle of a wait, and closing (also when the transport thread does not
// end in time, and when the program is asked to end).

#include "remote/SocketConnection.h"

#include "core/LateBound.h"
#include "platform/MessageDisplay.h"
#include "platform/Termination.h"
#include "remote/RemoteErrors.h"
#include "remote/RemoteTestSupport.h"
#include "support/LinkPeer.h"
#include "support/TcpPeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

const QString ServerName = QStringLiteral("VelkaroAS.VelkaroDM");
constexpr qint32 ObjectIndex = 3;
constexpr qint32 DownloadId = 7;
const QByteArray DownloadUpdate = MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varUStrArg)), "DownloadUpdate");

// The blocks of the download exchange, as the wire carries them.
const QByteArray CreateRequest = Block(0xDA04, Text(ServerName));
const QByteArray CreateReply = Block(0xDB04, Hex("09000000") + Le32(ObjectIndex));
const QByteArray LookupRequest = Block(0xDA03, Int(ObjectIndex) + Text("DownloadUpdate"));
const QByteArray LookupReply = Block(0xDB03, Int(0) + Int(DownloadId));
const QByteArray InvokeRequest = Block(
    0xDA02, Int(ObjectIndex) + Int(DownloadId) + Int(1) + Hex("0B000000 FFFF") + Int(1) + Int(0) + Text("Velkaro"));
const QByteArray FreeRequest = Block(0xDA05, Int(ObjectIndex));

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
    } catch (const std::exception& e) {
        return {"std::exception", e.what()};
    }
    return {};
}

// Runs the GUI thread's event loop until Done holds; false when the patience
// (which only keeps a broken test from hanging) ran out first.
template <class Pred> bool spinUntil(Pred done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void spinFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    spinUntil([&] { return timer.elapsed() >= ms; });
}

// The server's side of opening: the create request, answered with a
// reference to the object at ObjectIndex.
void answerCreate(platform::TcpSocket& client)
{
    ReadLinkBlock(client);
    TcpPeer::WriteAll(client, CreateReply);
}

quint16 closedPort()
{
    platform::TcpListener listener;
    listener.Listen({platform::SocketAddress::Loopback, 0});
    return listener.Port();
}

// A latch another thread opens.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    bool entered = false;

    void Pass()
    {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
    }
    void Open()
    {
        const std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    bool Entered()
    {
        const std::lock_guard lock(mutex);
        return entered;
    }
};

// The socket transport with a gate in front of its connect or of its reads
// of unasked blocks, and a flag set when the thread has freed it.
class ObservedTransport : public ITransport {
public:
    enum class GateAt { Nothing, Connect, Receive };
    ObservedTransport(std::unique_ptr<ITransport> inner, std::shared_ptr<Gate> gate, GateAt at,
        std::shared_ptr<std::atomic<bool>> freed)
        : inner_(std::move(inner))
        , gate_(std::move(gate))
        , at_(at)
        , freed_(std::move(freed))
    {
    }
    ~ObservedTransport() override { *freed_ = true; }

    void GetWaitEvent() override { inner_->GetWaitEvent(); }
    bool GetConnected() const override { return inner_->GetConnected(); }
    void SetConnected(bool value) override
    {
        if (value && at_ == GateAt::Connect)
            gate_->Pass();
        inner_->SetConnected(value);
    }
    DataBlockRef Receive(bool waitForInput, qint32 context) override
    {
        if (!waitForInput && at_ == GateAt::Receive)
            gate_->Pass();
        return inner_->Receive(waitForInput, context);
    }
    qint32 Send(const DataBlockRef& block) override { return inner_->Send(block); }
    TInputWait WaitForInput(platform::SocketWaker& waker) override { return inner_->WaitForInput(waker); }
    void Cancel() override { inner_->Cancel(); }

private:
    std::unique_ptr<ITransport> inner_;
    std::shared_ptr<Gate> gate_;
    GateAt at_;
    std::shared_ptr<std::atomic<bool>> freed_;
};

class ObservedConnection : public TSocketConnection {
public:
    using TSocketConnection::TSocketConnection;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    ObservedTransport::GateAt gateAt = ObservedTransport::GateAt::Nothing;
    std::shared_ptr<std::atomic<bool>> freed = std::make_shared<std::atomic<bool>>(false);

protected:
    std::unique_ptr<ITransport> CreateTransport() override
    {
        *freed = false;
        return std::make_unique<ObservedTransport>(TSocketConnection::CreateTransport(), gate, gateAt, freed);
    }
};

// A local object the server calls back: Ping(text) answers "pong:" + text.
class Pinger : public IDispatch {
public:
    HRESULT GetIDsOfNames(const QStringList& names, quint32, std::vector<qint32>& dispIds) override
    {
        if (names != QStringList {QStringLiteral("Ping")})
            return ResultCode::UnknownName;
        dispIds.assign(1, 5);
        return ResultCode::Ok;
    }
    HRESULT Invoke(qint32, quint32, quint16, DispParams& params, Variant* result, ExcepInfo*) override
    {
        onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        pinged.append(params.args.at(0).ToString());
        if (whilePinged)
            whilePinged();
        *result = Variant(QStringLiteral("pong:") + params.args.at(0).ToString());
        return ResultCode::Ok;
    }
    QStringList pinged;
    bool onGuiThread = false;
    std::function<void()> whilePinged;
};

class SocketConnection : public ::testing::Test {
protected:
    template <class T = TSocketConnection> std::unique_ptr<T> socketTo(int port, bool callbacks = true)
    {
        auto socket = std::make_unique<T>();
        socket->SetName(QStringLiteral("Socket1"));
        socket->SetServerName(ServerName);
        socket->SetHost(QStringLiteral("127.0.0.1"));
        socket->SetPort(port);
        socket->SetSupportCallbacks(callbacks);
        return socket;
    }

    QStringList boxes() const
    {
        QStringList texts;
        for (const auto& entry : messages.shown)
            texts.append(entry.text);
        return texts;
    }

    // Delivers what a test left queued for the GUI thread (a request to end
    // the program, above all) before the next test's connections exist.
    void TearDown() override { QCoreApplication::processEvents(); }

    platform::RecordingMessageDisplay messages;
    platform::ScopedMessageDisplay installed {messages};
};

TEST_F(SocketConnection, TheDownloadExchangeCrossesTheWireBlockForBlock)
{
    for (const bool callbacks : {true, false}) {
        SCOPED_TRACE(callbacks ? "with callbacks" : "without callbacks");
        const QByteArray program("MZ\0\1program", 11);
        QList<QByteArray> seen;
        bool clientClosed = false;
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                seen.append(ReadLinkBlock(client));
                TcpPeer::WriteAll(client, CreateReply);
                seen.append(ReadLinkBlock(client));
                TcpPeer::WriteAll(client, LookupReply);
                seen.append(ReadLinkBlock(client));
                TcpPeer::WriteAll(client, Block(0xDB02, Int(0) + ByteArray(program)));
                // The free request is never answered.
                clientClosed = AwaitClientClose(client, &seen);
            });
            auto socket = socketTo(peer.Port(), callbacks);
            socket->BeginLoading();
            socket->SetConnected(true);
            EXPECT_FALSE(socket->Connected()) << "while loading, Connected is only remembered";
            socket->Loaded();
            ASSERT_TRUE(socket->Connected());

            const Variant answer
                = DispatchInvoke(socket->AppServer(), DownloadUpdate, {CallArg(QStringLiteral("Velkaro"))});
            ASSERT_TRUE(answer.IsArray());
            EXPECT_EQ(answer.Array()->RawData(), program);

            socket->SetConnected(false);
            EXPECT_FALSE(socket->Connected());
            EXPECT_TRUE(socket->AppServer().IsNull());
        }
        ASSERT_EQ(seen.size(), 4);
        EXPECT_EQ(ToHex(seen[0]), ToHex(CreateRequest));
        EXPECT_EQ(seen[0].size(), 54);
        EXPECT_EQ(ToHex(seen[1]), ToHex(LookupRequest));
        EXPECT_EQ(seen[1].size(), 52);
        EXPECT_EQ(ToHex(seen[2]), ToHex(InvokeRequest));
        EXPECT_EQ(seen[2].size(), 76);
        EXPECT_EQ(ToHex(seen[3]), ToHex(FreeRequest));
        EXPECT_TRUE(clientClosed);
        spinFor(20);
        EXPECT_TRUE(messages.shown.isEmpty()) << S(boxes().join(u'|'));
    }
}

TEST_F(SocketConnection, OpeningFailsWithTheErrorOfTheStepThatFailedAndLeavesTheLinkClosed)
{
    // A play returns whether the server stays until the client closes.
    using Play = std::function<bool(platform::TcpSocket&)>;
    const struct {
        const char* name;
        std::function<void(TSocketConnection&)> arrange;
        Play play; // null: no server listens
        const char* errorClass;
        const char* message;
    } cases[] = {
        {"no server name", [](TSocketConnection& s) { s.SetServerName({}); }, nullptr, "Exception",
            "Cannot connect, Socket1 must contain a valid ServerName or ServerGUID"},
        {"no address", [](TSocketConnection& s) { s.SetHost({}); }, nullptr, "ESocketConnectionError",
            "No address specified"},
        {"nobody listens", [](TSocketConnection&) {}, nullptr, "ESocketError",
            "Windows socket error: Connection refused (111), on API 'connect'"},
        {"the server refuses the object", [](TSocketConnection&) {},
            [](platform::TcpSocket& c) {
                ReadLinkBlock(c);
                TcpPeer::WriteAll(c, ErrorBlock(QStringLiteral("Object not available: {0000}")));
                return true;
            },
            "Exception", "Object not available: {0000}"},
        {"the server answers with no object", [](TSocketConnection&) {},
            [](platform::TcpSocket& c) {
                ReadLinkBlock(c);
                TcpPeer::WriteAll(c, Block(0xDB04, Hex("01000000")));
                return true;
            },
            "Exception", "The application server answered the creation of VelkaroAS.VelkaroDM with no object"},
        {"the server hangs up", [](TSocketConnection&) {},
            [](platform::TcpSocket& c) {
                ReadLinkBlock(c);
                return false;
            },
            "ESocketConnectionError", "Error reading from socket"},
    };
    for (const bool callbacks : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (callbacks ? ", with callbacks" : ", without callbacks"));
            bool clientClosed = true;
            std::unique_ptr<TcpPeer> peer;
            if (c.play) {
                peer = std::make_unique<TcpPeer>([&](platform::TcpSocket& client) {
                    if (c.play(client))
                        clientClosed = AwaitClientClose(client);
                });
            }
            auto socket = socketTo(peer ? peer->Port() : closedPort(), callbacks);
            c.arrange(*socket);
            const Outcome o = outcomeOf([&] { socket->SetConnected(true); });
            EXPECT_EQ(o.errorClass, c.errorClass);
            EXPECT_EQ(o.message, c.message);
            EXPECT_FALSE(socket->Connected());
            EXPECT_TRUE(socket->AppServer().IsNull());
            peer.reset();
            EXPECT_TRUE(clientClosed) << "the link is closed after the failure";
            spinFor(10);
            socket.reset();
            EXPECT_TRUE(messages.shown.isEmpty()) << S(boxes().join(u'|'));
            messages.shown.clear();
        }
    }
}

TEST_F(SocketConnection, TheObjectIsAskedForByItsClassIdentifierWhenTheNameIsRegisteredHere)
{
    TClassRegistry registry;
    registry.Register({ServerName, {}, {}, true, [] { return DispatchRef(std::make_shared<Pinger>()); }});
    const QString classID = TClassRegistry::ClassIDText(registry.FindByProgID(ServerName)->ClassID);
    const struct {
        const char* name;
        bool whileLoading;
        QString sent;
    } cases[] = {
        {"name set after loading", false, classID},
        {"name set while loading: only the name is kept", true, ServerName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray create;
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                create = ReadLinkBlock(client);
                TcpPeer::WriteAll(client, CreateReply);
                AwaitClientClose(client);
            });
            auto socket = socketTo(peer.Port());
            socket->SetClassRegistry(&registry);
            if (c.whileLoading)
                socket->BeginLoading();
            socket->SetServerName(ServerName);
            socket->Loaded();
            socket->Open();
        }
        EXPECT_EQ(ToHex(create), ToHex(Block(0xDA04, Text(c.sent))));
    }
}

TEST_F(SocketConnection, ErrorsWhileAReplyIsAwaitedReachTheCallerAndBrokenStreamsCloseTheLink)
{
    const struct {
        const char* name;
        QByteArray answer; // to the name look-up
        bool hangUp;
        const char* errorClass;
        const char* message;
        bool openAfter;
    } cases[] = {
        {"an error block", ErrorBlock(QStringLiteral("Object busy")), false, "Exception", "Object busy", true},
        {"a reply of any action ends the wait", Block(0xDB09, Int(qint32(0x80020006))), false, "EOleError",
            "Method 'DownloadUpdate' not supported by automation object", true},
        {"the server hangs up after the header", Hex("03DB0000 10000000"), true, "ESocketConnectionError",
            "Error reading from socket", false},
        {"the server hangs up inside the payload", Hex("03DB0000 10000000 03000000"), true, "ESocketConnectionError",
            "Error reading from socket", false},
        {"2 GiB announced and nothing sent", Hex("03DB0000 FFFFFF7F"), true, "ESocketConnectionError",
            "Error reading from socket", false},
        {"a negative size", Hex("03DB0000 FFFFFFFF"), false, "ESocketConnectionError", "Invalid data packet", false},
        {"a bad signature", Hex("03DC0000 08000000 03000000 00000000"), false, "Exception", "Invalid data packet",
            false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QList<QByteArray> after;
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                answerCreate(client);
                ReadLinkBlock(client);
                TcpPeer::WriteAll(client, c.answer);
                if (!c.hangUp)
                    AwaitClientClose(client, &after);
            });
            auto socket = socketTo(peer.Port());
            socket->Open();
            const Outcome o = outcomeOf(
                [&] { DispatchInvoke(socket->AppServer(), DownloadUpdate, {CallArg(QStringLiteral("Velkaro"))}); });
            EXPECT_EQ(o.errorClass, c.errorClass);
            EXPECT_EQ(o.message, c.message);

            EXPECT_TRUE(spinUntil([&] { return socket->Connected() == c.openAfter; }));
            spinFor(20);
            EXPECT_EQ(socket->Connected(), c.openAfter);
            EXPECT_TRUE(messages.shown.isEmpty()) << "the caller had the error: " << S(boxes().join(u'|'));
            if (!c.openAfter) {
                const Outcome late = outcomeOf(
                    [&] { DispatchInvoke(socket->AppServer(), DownloadUpdate, {CallArg(QStringLiteral("Velkaro"))}); });
                EXPECT_EQ(late.message, "Invalid variant operation");
            }
        }
        // An open link still releases its object; a closed one has nobody to tell.
        EXPECT_EQ(after, c.openAfter && !c.hangUp ? QList<QByteArray> {FreeRequest} : QList<QByteArray> {});
        messages.shown.clear();
    }
}

TEST_F(SocketConnection, RequestsOfTheServerInTheMiddleOfAWaitAreServedOnTheGuiThreadOrRefused)
{
    const QByteArray subscribe = MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varDispatch)), "Subscribe");
    const QByteArray refused
        = ErrorBlock(QStringLiteral("This connection serves no requests (SupportCallbacks is false)"));
    const struct {
        bool callbacks;
        QList<QByteArray> replies;
        QStringList pinged;
    } cases[] = {
        {true, {Block(0xDB03, Int(0) + Int(5)), Block(0xDB02, Int(0) + Text("pong:hello"))}, {"hello"}},
        {false, {refused, refused}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.callbacks ? "with callbacks" : "without callbacks");
        QByteArray invoke;
        QList<QByteArray> replies;
        QList<QByteArray> after;
        const auto pinger = std::make_shared<Pinger>();
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                answerCreate(client);
                ReadLinkBlock(client);
                TcpPeer::WriteAll(client, Block(0xDB03, Int(0) + Int(11)));
                invoke = ReadLinkBlock(client);
                // The client handed over its object at slot 0: call it back.
                TcpPeer::WriteAll(client, Block(0xDA03, Int(0) + Text("Ping")));
                replies.append(ReadLinkBlock(client));
                TcpPeer::WriteAll(client,
                    Block(0xDA02, Int(0) + Int(5) + Int(1) + Hex("0B000000 FFFF") + Int(1) + Int(0) + Text("hello")));
                replies.append(ReadLinkBlock(client));
                TcpPeer::WriteAll(client, Block(0xDB02, Int(0) + Int(42)));
                AwaitClientClose(client, &after);
            });
            auto socket = socketTo(peer.Port(), c.callbacks);
            socket->Open();
            const DispatchRef object = pinger;
            const Variant result = DispatchInvoke(socket->AppServer(), subscribe, {CallArg(object)});
            EXPECT_EQ(result.ToInt(), 42);
        }
        EXPECT_EQ(ToHex(invoke),
            ToHex(Block(0xDA02,
                Int(ObjectIndex) + Int(11) + Int(1) + Hex("0B000000 FFFF") + Int(1) + Int(0)
                    + Hex("09000000 00000000"))));
        ASSERT_EQ(replies.size(), c.replies.size());
        for (qsizetype i = 0; i < replies.size(); ++i)
            EXPECT_EQ(ToHex(replies[i]), ToHex(c.replies[i])) << "reply " << i;
        EXPECT_EQ(pinger->pinged, c.pinged);
        EXPECT_EQ(pinger->onGuiThread, c.callbacks);
        EXPECT_EQ(after, QList<QByteArray> {FreeRequest});
    }
}

TEST_F(SocketConnection, WhatArrivesWhileNobodyWaitsIsServedOrShownOnce)
{
    const struct {
        const char* name;
        QByteArray bytes;
        bool hangUp;
        QStringList boxes;
        bool openAfter;
        QByteArray reply; // the client's answer, when one is due
    } cases[] = {
        {"the server drops the link", {}, true, {"Error reading from socket"}, false, {}},
        {"an error block", ErrorBlock(QStringLiteral("Server going down")), false, {"Server going down"}, true, {}},
        {"a request", Block(0xDA10, {}), false, {}, true, Block(0xDB10, Hex("01000000"))},
        {"a stray reply", Block(0xDB02, Int(0)), false, {"A reply arrived that no request waits for (action 2)"}, true,
            {}},
        {"a bad signature", Hex("02DC0000 00000000"), false, {"Invalid data packet"}, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray reply;
        QList<QByteArray> after;
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                answerCreate(client);
                TcpPeer::WriteAll(client, c.bytes);
                if (!c.reply.isEmpty())
                    reply = ReadLinkBlock(client);
                if (!c.hangUp)
                    AwaitClientClose(client, &after);
            });
            auto socket = socketTo(peer.Port());
            socket->Open();
            EXPECT_TRUE(spinUntil([&] { return messages.shown.size() == c.boxes.size(); }));
            EXPECT_TRUE(spinUntil([&] { return socket->Connected() == c.openAfter; }));
            spinFor(50);
            EXPECT_EQ(boxes(), c.boxes);
            for (const auto& entry : messages.shown)
                EXPECT_EQ(entry.icon, platform::MessageIcon::Stop);
            EXPECT_EQ(socket->Connected(), c.openAfter);
            EXPECT_EQ(socket->AppServer().IsNull(), !c.openAfter);
            if (!c.openAfter) {
                const Outcome late = outcomeOf(
                    [&] { DispatchInvoke(socket->AppServer(), DownloadUpdate, {CallArg(QStringLiteral("Velkaro"))}); });
                EXPECT_EQ(late.message, "Invalid variant operation");
            }
        }
        EXPECT_EQ(ToHex(reply), ToHex(c.reply));
        EXPECT_EQ(after, c.openAfter ? QList<QByteArray> {FreeRequest} : QList<QByteArray> {});
        messages.shown.clear();
    }
}

TEST_F(SocketConnection, ARequestPostedBeforeTheConnectFinishedIsWrittenOnceItHas)
{
    QList<QByteArray> seen;
    {
        TcpPeer peer([&](platform::TcpSocket& client) {
            seen.append(ReadLinkBlock(client));
            TcpPeer::WriteAll(client, CreateReply);
            AwaitClientClose(client, &seen);
        });
        auto socket = socketTo<ObservedConnection>(peer.Port());
        socket->gateAt = ObservedTransport::GateAt::Connect;
        // The create request is posted while the thread is held before its
        // connect; the gate opens a little later.
        std::thread opener([gate = socket->gate] {
            while (!gate->Entered())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            gate->Open();
        });
        socket->Open();
        opener.join();
        EXPECT_TRUE(socket->Connected());
    }
    EXPECT_EQ(seen, QList<QByteArray>({CreateRequest, FreeRequest}));
}

// Closing waits for the transport thread only so long (the bound, made tiny
// here), then leaves it to end on its own: the connection is gone by then,
// and the thread touches nothing of it.
TEST_F(SocketConnection, ClosingGivesUpOnAThreadStuckInAConnectOrARead)
{
    platform::TerminationRequests* requests = platform::TerminationRequests::Instance();
    ASSERT_NE(requests, nullptr);
    for (const auto at : {ObservedTransport::GateAt::Connect, ObservedTransport::GateAt::Receive}) {
        const bool inConnect = at == ObservedTransport::GateAt::Connect;
        SCOPED_TRACE(inConnect ? "stuck in the connect" : "stuck in a read");
        QList<QByteArray> after;
        bool clientClosed = false;
        auto peer = std::make_unique<TcpPeer>([&](platform::TcpSocket& client) {
            if (!inConnect) {
                answerCreate(client);
                TcpPeer::WriteAll(client, Block(0xDA10, {}));
            }
            clientClosed = AwaitClientClose(client, &after);
        });
        auto socket = socketTo<ObservedConnection>(peer->Port());
        socket->SetCloseWait(std::chrono::milliseconds(50));
        socket->gateAt = at;
        const std::shared_ptr<Gate> gate = socket->gate;
        const std::shared_ptr<std::atomic<bool>> freed = socket->freed;

        if (inConnect) {
            // Nobody answers while the thread cannot connect: the caller gives
            // up when the program is asked to end, and opening closes again.
            std::thread ender([&] {
                while (!gate->Entered())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                requests->Report(platform::TerminationReason::SessionEnd);
            });
            const Outcome o = outcomeOf([&] { socket->Open(); });
            ender.join();
            EXPECT_EQ(o.message, "Expected return value not received");
        } else {
            socket->Open();
            EXPECT_TRUE(spinUntil([&] { return gate->Entered(); }));
            socket->Close();
        }
        EXPECT_FALSE(socket->Connected());
        EXPECT_FALSE(*freed) << "the thread is still held at the gate";
        socket.reset();

        gate->Open();
        EXPECT_TRUE(spinUntil([&] { return freed->load(); })) << "the thread ends on its own";
        QCoreApplication::processEvents();
        EXPECT_TRUE(messages.shown.isEmpty()) << S(boxes().join(u'|'));
        // The thread connects late, or its read is cancelled; either way it
        // writes nothing more and closes the socket.
        peer.reset();
        EXPECT_TRUE(clientClosed);
        EXPECT_TRUE(after.isEmpty());
    }
}

TEST_F(SocketConnection, QuittingEndsAWaitWithNoReturnValue)
{
    platform::TerminationRequests* requests = platform::TerminationRequests::Instance();
    ASSERT_NE(requests, nullptr);
    const QByteArray pingCall = MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varDispatch)), "Subscribe");

    // A request to end the program comes from another thread while the
    // transport thread reads a reply that never comes. The link then closes
    // when the request reaches the GUI thread; the read, which nobody waits
    // for any more, is cancelled at once instead of holding closing up.
    {
        SCOPED_TRACE("a request to end the program during the read");
        std::atomic<bool> asked = false;
        QList<QByteArray> after;
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                answerCreate(client);
                ReadLinkBlock(client);
                asked = true;
                AwaitClientClose(client, &after);
            });
            auto socket = socketTo<ObservedConnection>(peer.Port());
            socket->Open();
            std::thread ender([&] {
                while (!asked)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                requests->Report(platform::TerminationReason::SessionEnd);
            });
            const Outcome o = outcomeOf(
                [&] { DispatchInvoke(socket->AppServer(), DownloadUpdate, {CallArg(QStringLiteral("Velkaro"))}); });
            ender.join();
            EXPECT_EQ(o.errorClass, "Exception");
            EXPECT_EQ(o.message, "Expected return value not received");
            EXPECT_TRUE(spinUntil([&] { return !socket->Connected(); }));
            EXPECT_TRUE(*socket->freed) << "closing ended the thread rather than giving it up";
        }
        EXPECT_TRUE(after.isEmpty());
        EXPECT_TRUE(messages.shown.isEmpty()) << S(boxes().join(u'|'));
    }

    // The application quits (its Quit event passes) while a request of the
    // server is being served in the middle of the wait. The link stays open.
    {
        SCOPED_TRACE("the application quits while a request of the server is served");
        QList<QByteArray> after;
        const auto pinger = std::make_shared<Pinger>();
        QObject bystander;
        pinger->whilePinged = [&] {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(&bystander, &quit);
        };
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                answerCreate(client);
                ReadLinkBlock(client);
                TcpPeer::WriteAll(client, Block(0xDB03, Int(0) + Int(11)));
                ReadLinkBlock(client);
                TcpPeer::WriteAll(client,
                    Block(0xDA02, Int(0) + Int(5) + Int(1) + Hex("0B000000 FFFF") + Int(1) + Int(0) + Text("hi")));
                AwaitClientClose(client, &after);
            });
            auto socket = socketTo(peer.Port());
            socket->Open();
            const DispatchRef object = pinger;
            const Outcome o = outcomeOf([&] { DispatchInvoke(socket->AppServer(), pingCall, {CallArg(object)}); });
            EXPECT_EQ(o.message, "Expected return value not received");
            EXPECT_TRUE(socket->Connected());
        }
        EXPECT_EQ(after, QList<QByteArray>({Block(0xDB02, Int(0) + Text("pong:hi")), FreeRequest}));
    }
}

TEST_F(SocketConnection, ARequestToEndTheProgramClosesTheLink)
{
    platform::TerminationRequests* requests = platform::TerminationRequests::Instance();
    ASSERT_NE(requests, nullptr);
    requests->SetSignalEndsProgram(false);
    const struct {
        const char* name;
        std::function<void()> request;
    } cases[] = {
        {"the session ends", [&] { requests->Report(platform::TerminationReason::SessionEnd); }},
        {"SIGTERM", [] { std::raise(SIGTERM); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QList<QByteArray> after;
        bool clientClosed = false;
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                answerCreate(client);
                clientClosed = AwaitClientClose(client, &after);
            });
            auto socket = socketTo(peer.Port());
            socket->Open();
            c.request();
            EXPECT_TRUE(spinUntil([&] { return !socket->Connected(); }));
        }
        EXPECT_EQ(after, QList<QByteArray> {FreeRequest});
        EXPECT_TRUE(clientClosed);
    }
    requests->SetSignalEndsProgram(true);
}

TEST_F(SocketConnection, GetServerListOpensTheTransportForTheRequestWhenTheLinkIsClosed)
{
    const QByteArray list = Hex("08200000 01000000 00000000 00000000") + Text(ServerName);
    for (const bool callbacks : {true, false}) {
        SCOPED_TRACE(callbacks ? "with callbacks" : "without callbacks");
        QList<QByteArray> seen;
        bool clientClosed = false;
        Variant servers;
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                seen.append(ReadLinkBlock(client));
                TcpPeer::WriteAll(client, Block(0xDB12, list));
                clientClosed = AwaitClientClose(client, &seen);
            });
            auto socket = socketTo(peer.Port(), callbacks);
            servers = socket->GetServerList();
            EXPECT_FALSE(socket->Connected());
        }
        EXPECT_EQ(seen, QList<QByteArray> {Block(0xDA12, {})});
        EXPECT_TRUE(clientClosed) << "the transport closes again";
        ASSERT_TRUE(servers.IsArray());
        EXPECT_EQ(servers.Array()->GetElement(0).ToString(), ServerName);
    }
}

TEST_F(SocketConnection, DestroyingTheComponentReleasesTheObjectAndDetachesCopiesLeftBehind)
{
    for (const bool copyKept : {false, true}) {
        SCOPED_TRACE(copyKept ? "a copy of AppServer outlives the component" : "no copy");
        QList<QByteArray> after;
        Variant copy;
        {
            TcpPeer peer([&](platform::TcpSocket& client) {
                answerCreate(client);
                AwaitClientClose(client, &after);
            });
            auto socket = socketTo(peer.Port());
            socket->Open();
            if (copyKept)
                copy = socket->AppServer();
            socket.reset();
        }
        EXPECT_EQ(after, copyKept ? QList<QByteArray> {} : QList<QByteArray> {FreeRequest});
        if (copyKept) {
            const Outcome o
                = outcomeOf([&] { DispatchInvoke(copy, DownloadUpdate, {CallArg(QStringLiteral("Velkaro"))}); });
            EXPECT_EQ(o.message, "Invalid variant operation");
            copy = Variant(); // sends nothing: nobody is there to send it
        }
    }
}

} // namespace
