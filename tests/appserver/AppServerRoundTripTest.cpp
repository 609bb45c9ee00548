// The application server over real sockets: the exchange the update client
// makes, its failures, many clients at once, and clients that misbehave.

#include "appserver/AppServerTestSupport.h"
#include "appserver/VelkaroDM.h"
#include "core/Exceptions.h"
#include "core/LateBound.h"
#include "remote/RemoteErrors.h"
#include "remote/RemoteTestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

const QByteArray DownloadUpdateDesc
    = MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varUStrArg)), QByteArrayLiteral("DownloadUpdate"));

Variant downloadUpdate(const Variant& appServer, const QString& name)
{
    return DispatchInvoke(appServer, DownloadUpdateDesc, {CallArg(name)});
}

bool anyLine(const QStringList& lines, std::initializer_list<const char*> parts)
{
    for (const QString& line : lines) {
        bool all = true;
        for (const char* part : parts)
            all = all && line.contains(QString::fromUtf8(part));
        if (all)
            return true;
    }
    return false;
}

// The whole exchange as the update client makes it, with programs of a few
// sizes, on one link; releasing the object sends the one free request.
TEST(AppServerRoundTrip, TheUpdateClientsExchangeDownloadsProgramsOfEverySize)
{
    RunningAppServer server;
    const QByteArray small = ProgramBytes(1);
    const QByteArray medium = ProgramBytes(100 * 1000 + 3, 11);
    const QByteArray large = ProgramBytes(24 * 1024 * 1024 + 5, 12);
    server.Release(QStringLiteral("Velkaro.exe"), medium);
    server.Release(QStringLiteral("Small.exe"), small);
    server.Release(QStringLiteral("Large.exe"), large);

    {
        LinkClient client(server.Port());
        Variant appServer = client.interpreter.CallCreateObject(QStringLiteral("VelkaroAS.VelkaroDM"));
        ASSERT_EQ(appServer.VType(), varDispatch);

        for (const auto& [name, bytes] : {std::pair {QStringLiteral("Velkaro"), medium},
                 std::pair {QStringLiteral("Small"), small}, std::pair {QStringLiteral("Large"), large}}) {
            SCOPED_TRACE(S(name));
            const Variant answer = downloadUpdate(appServer, name);
            ASSERT_EQ(answer.VType(), varArray | varByte);
            EXPECT_EQ(answer.Array()->Bounds().front(), (ArrayBound {0, qint32(bytes.size() - 1)}));
            EXPECT_TRUE(answer.ByteArrayData() == bytes);
        }
        // The name is looked up as the platform looks names up: without case.
        std::vector<qint32> ids;
        EXPECT_EQ(client.interpreter.CallGetIDsOfNames(0, {QStringLiteral("downloadupdate")}, ids), ResultCode::Ok);
        appServer = Variant();
        EXPECT_TRUE(server.WaitForLog(QStringLiteral("FreeObject object 0: done")));
    }
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("closed: the client closed the link")));
    const QStringList log = server.Log();
    EXPECT_TRUE(anyLine(log, {"connected"}));
    EXPECT_TRUE(anyLine(log, {"CreateObject \"VelkaroAS.VelkaroDM\": ok, object 0"}));
    EXPECT_TRUE(anyLine(log, {"GetIDsOfNames \"DownloadUpdate\" on object 0: ok, dispid 1"}));
    EXPECT_TRUE(anyLine(log, {"DownloadUpdate \"Large\": ok; 25165865 bytes in "}));
    EXPECT_TRUE(anyLine(log, {"DownloadUpdate \"Small\": ok; 37 bytes"}));
}

// The blocks on the wire, byte for byte: the reply carries the result code
// and a one-dimensional byte array with lower bound 0.
TEST(AppServerRoundTrip, RepliesAreTheBlocksTheClientExpects)
{
    RunningAppServer server;
    server.Release(QStringLiteral("Velkaro.exe"), "MZ!");
    RawClient client(server.Port());

    client.Write(CreateObjectRequest());
    EXPECT_EQ(ToHex(client.ReadBlock()), ToHex(Block(0xDB04, Hex("09000000 00000000"))));
    client.Write(GetIDRequest(0));
    EXPECT_EQ(ToHex(client.ReadBlock()), ToHex(Block(0xDB03, Int(0) + Int(1))));
    client.Write(DownloadRequest(0, 1, QStringLiteral("Velkaro")));
    EXPECT_EQ(ToHex(client.ReadBlock()), ToHex(Block(0xDB02, Int(0) + ByteArray("MZ!"))));

    // A name the object does not know.
    client.Write(GetIDRequest(0, QStringLiteral("Upload")));
    EXPECT_EQ(ToHex(client.ReadBlock()), ToHex(Block(0xDB03, Int(qint32(0x80020006)))));
    // The name passed by reference comes back in the reply, before the result.
    client.Write(Block(0xDA02,
        Int(0) + Int(1) + Int(1) + Hex("0B000000 FFFF") + Int(1) + Int(0) + Hex("08400000 07000000")
            + Utf16(u"Velkaro"_qs)));
    EXPECT_EQ(ToHex(client.ReadBlock()),
        ToHex(Block(0xDB02, Int(0) + Hex("08400000 07000000") + Utf16(u"Velkaro"_qs) + ByteArray("MZ!"))));
    // No result wanted: nothing of the program is sent.
    client.Write(
        Block(0xDA02, Int(0) + Int(1) + Int(1) + Hex("0B000000 0000") + Int(1) + Int(0) + Text(u"Velkaro"_qs)));
    EXPECT_EQ(ToHex(client.ReadBlock()), ToHex(Block(0xDB02, Int(0))));
    // An empty program is an empty array.
    server.Release(QStringLiteral("Empty.exe"), {});
    client.Write(DownloadRequest(0, 1, QStringLiteral("Empty")));
    EXPECT_EQ(
        ToHex(client.ReadBlock()), ToHex(Block(0xDB02, Int(0) + Hex("11200000 01000000 00000000 FFFFFFFF 00000000"))));
}

// What a client asks that cannot be answered with a program: a clear
// DISP_E_EXCEPTION description, and the link goes on.
TEST(AppServerRoundTrip, NamesThatAreNotProgramsAndMissingProgramsFailClearly)
{
    RunningAppServer server;
    server.Release(QStringLiteral("Velkaro.exe"), "program");
    QFile outside(server.Folder() + QStringLiteral("/../appserver-outside-secret.exe"));
    ASSERT_TRUE(outside.open(QIODevice::WriteOnly));
    outside.write("secret");
    outside.close();
    ASSERT_TRUE(QFile::link(outside.fileName(), server.Folder() + QStringLiteral("/Escape.exe")));

    const struct {
        QString name;
        const char* message;
        qint32 code;
    } cases[] = {
        {u"Nothing"_qs, "The application server has no program \"Nothing\" to hand out",
            TReleaseFolder::ErrorFileNotFound},
        {u"Escape"_qs, "The application server has no program \"Escape\" to hand out",
            TReleaseFolder::ErrorAccessDenied},
        {u"../appserver-outside-secret"_qs,
            "\"../appserver-outside-secret\" is not a program name: it contains a folder separator",
            TReleaseFolder::ErrorInvalidName},
        {u"..\\Velkaro"_qs, "\"..\\Velkaro\" is not a program name: it contains a folder separator",
            TReleaseFolder::ErrorInvalidName},
        {u".."_qs, "\"..\" is not a program name: it starts with a dot", TReleaseFolder::ErrorInvalidName},
        {u""_qs, "\"\" is not a program name: it is empty", TReleaseFolder::ErrorInvalidName},
        {u"Velkaro\n"_qs, "\"Velkaro\\x0A\" is not a program name: it contains a control character",
            TReleaseFolder::ErrorInvalidName},
    };
    LinkClient client(server.Port());
    const Variant appServer = client.interpreter.CallCreateObject(QStringLiteral("VelkaroAS.VelkaroDM"));
    for (const auto& c : cases) {
        SCOPED_TRACE(S(c.name));
        try {
            downloadUpdate(appServer, c.name);
            ADD_FAILURE() << "no error";
        } catch (const EOleException& e) {
            EXPECT_EQ(e.Message(), QString::fromUtf8(c.message));
            EXPECT_EQ(e.ErrorCode(), c.code);
        }
    }
    // The link is still open and serves the next call.
    EXPECT_TRUE(downloadUpdate(appServer, QStringLiteral("Velkaro")).ByteArrayData() == "program");
    const QStringList log = server.Log();
    EXPECT_TRUE(anyLine(log, {"DownloadUpdate \"Escape\": failed:", "Escape.exe leads outside the release folder"}));
    EXPECT_TRUE(anyLine(log, {"DownloadUpdate \"Nothing\": failed:", "no file Nothing.exe in the release folder"}));
    QFile::remove(outside.fileName());
}

TEST(AppServerRoundTrip, ServerListsCreationsAndActionsItDoesNotServe)
{
    RunningAppServer server;
    LinkClient client(server.Port());
    const Variant list = client.interpreter.CallGetServerList();
    ASSERT_EQ(list.VType(), varArray | varOleStr);
    ASSERT_EQ(list.Array()->ElementCount(), 1);
    EXPECT_EQ(list.Array()->GetElement(0).ToString(), QStringLiteral("VelkaroAS.VelkaroDM"));

    RawClient raw(server.Port());
    raw.Write(Block(0xDA10, {}));
    EXPECT_EQ(ToHex(raw.ReadBlock()),
        ToHex(Block(0xDB10, Hex("08200000 01000000 00000000 00000000") + Text(u"VelkaroAS.VelkaroDM"_qs))));
    raw.Write(CreateObjectRequest(u"VelkaroAS.Other"_qs));
    EXPECT_EQ(ToHex(raw.ReadBlock()), ToHex(ErrorBlock(u"Object not available: VelkaroAS.Other"_qs)));
    raw.Write(Block(0xDA11, {}));
    EXPECT_EQ(ToHex(raw.ReadBlock()), ToHex(ErrorBlock(u"Invalid action received: 17"_qs)));
    raw.Write(DownloadRequest(3, 1, u"Velkaro"_qs)); // no object 3
    EXPECT_EQ(ToHex(raw.ReadBlock()), ToHex(ErrorBlock(u"Variant or safe array index out of bounds"_qs)));

    // Objects created by name or by class identifier are independent.
    EXPECT_EQ(client.interpreter.CallCreateObject(u"VelkaroAS.VelkaroDM"_qs).VType(), varDispatch);
}

TEST(AppServerRoundTrip, ManyClientsAtOnceEachGetTheirProgramWhole)
{
    RunningAppServer server([](TAppServerSettings& s) { s.maxClients = 6; });
    const QByteArray program = ProgramBytes(3 * 1024 * 1024 + 17);
    server.Release(QStringLiteral("Velkaro.exe"), program);

    constexpr int Clients = 12; // twice the slots: the rest wait their turn
    std::atomic<int> whole = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < Clients; ++i) {
        threads.emplace_back([&] {
            try {
                LinkClient client(server.Port());
                const Variant appServer = client.interpreter.CallCreateObject(u"VelkaroAS.VelkaroDM"_qs);
                for (int round = 0; round < 3; ++round) {
                    if (downloadUpdate(appServer, u"Velkaro"_qs).ByteArrayData() != program)
                        return;
                }
                ++whole;
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(whole, Clients);
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("all 6 client slots are in use")));
}

// Each hostile client loses its own link only; a well-behaved client served
// at the same time notices nothing.
TEST(AppServerRoundTrip, HostileClientsAreDroppedWithoutHarmToOthers)
{
    RunningAppServer server([](TAppServerSettings& s) { s.requestTimeoutSeconds = 1; });
    const QByteArray program = ProgramBytes(2 * 1024 * 1024);
    server.Release(QStringLiteral("Velkaro.exe"), program);

    LinkClient good(server.Port());
    const Variant appServer = good.interpreter.CallCreateObject(u"VelkaroAS.VelkaroDM"_qs);

    const struct {
        const char* name;
        QByteArray bytes;
        const char* logged;
    } cases[] = {
        {"junk", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", "invalid data packet (signature 0x20544547)"},
        {"2 GiB announced", Hex("02DA0000 FFFFFF7F"), "a request of 2147483647 bytes was refused"},
        {"negative size", Hex("02DA0000 FFFFFFFF"), "invalid data packet (size -1)"},
        {"half a block, then silence", Hex("03DA0000 40000000 03000000"), "the client stopped sending inside a block"},
        {"half a header, then gone", Hex("03DA"), "the client closed the link inside a block header"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            RawClient hostile(server.Port());
            hostile.Write(c.bytes);
            if (QByteArray(c.name) != "half a header, then gone") {
                EXPECT_EQ(hostile.ReadToEnd(), QByteArray()); // dropped, nothing answered
            }
        }
        EXPECT_TRUE(server.WaitForLog(QString::fromUtf8(c.logged)));
        EXPECT_TRUE(downloadUpdate(appServer, u"Velkaro"_qs).ByteArrayData() == program);
    }
}

// The reply's size is the open file's; a file that ends early drops the
// link, so the client never takes a short program for a whole one.
TEST(AppServerRoundTrip, AFileThatShrinksWhileSentDropsTheLink)
{
    RunningAppServer server;
    const qint64 size = 64 * 1024 * 1024;
    server.Release(QStringLiteral("Velkaro.exe"), ProgramBytes(size));
    RawClient client(server.Port());
    client.Write(CreateObjectRequest() + GetIDRequest(0) + DownloadRequest(0, 1, u"Velkaro"_qs));
    client.ReadBlock();
    client.ReadBlock();
    const QByteArray head = client.Read(8 + 28);
    ASSERT_EQ(head.size(), 36);
    EXPECT_EQ(ToHex(head.first(8)), ToHex(Hex("02DB0000") + Le32(qint32(28 + size))));

    QFile file(server.Folder() + QStringLiteral("/Velkaro.exe"));
    ASSERT_TRUE(file.resize(1024 * 1024));
    const QByteArray rest = client.ReadToEnd();
    EXPECT_LT(rest.size(), size);
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("the program's file ended after")));
}

TEST(AppServerRoundTrip, AFileReplacedWhileSentIsSentAsItWasOpened)
{
    RunningAppServer server;
    const QByteArray program = ProgramBytes(32 * 1024 * 1024);
    server.Release(QStringLiteral("Velkaro.exe"), program);
    RawClient client(server.Port());
    client.Write(CreateObjectRequest() + GetIDRequest(0) + DownloadRequest(0, 1, u"Velkaro"_qs));
    client.ReadBlock();
    client.ReadBlock();
    const QByteArray head = client.Read(36);
    server.Release(QStringLiteral("new.tmp"), "a new release");
    ASSERT_TRUE(QFile::remove(server.Folder() + QStringLiteral("/Velkaro.exe")));
    ASSERT_TRUE(
        QFile::rename(server.Folder() + QStringLiteral("/new.tmp"), server.Folder() + QStringLiteral("/Velkaro.exe")));
    EXPECT_TRUE(client.Read(program.size()) == program);
    // And the next call gets the new release.
    client.Write(DownloadRequest(0, 1, u"Velkaro"_qs));
    EXPECT_EQ(ToHex(client.ReadBlock()), ToHex(Block(0xDB02, Int(0) + ByteArray("a new release"))));
}

TEST(AppServerRoundTrip, IdleLinksAndClientsThatStopReadingAreClosed)
{
    RunningAppServer server([](TAppServerSettings& s) {
        s.idleTimeoutSeconds = 1;
        s.sendTimeoutSeconds = 1;
    });
    server.Release(QStringLiteral("Velkaro.exe"), ProgramBytes(64 * 1024 * 1024));
    RawClient idle(server.Port());
    EXPECT_EQ(idle.ReadToEnd(), QByteArray());
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("closed: no request for 1 s")));

    RawClient stalled(server.Port());
    stalled.Write(CreateObjectRequest() + GetIDRequest(0) + DownloadRequest(0, 1, u"Velkaro"_qs));
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("closed: the client took no bytes for too long")));
}

// Stopping: idle links close at once, a download in progress is cut off
// after the stop time, and Run returns.
TEST(AppServerRoundTrip, StoppingClosesIdleLinksAndCutsOffStalledDownloads)
{
    RunningAppServer server([](TAppServerSettings& s) { s.stopTimeoutSeconds = 1; });
    server.Release(QStringLiteral("Velkaro.exe"), ProgramBytes(64 * 1024 * 1024));
    RawClient idle(server.Port());
    RawClient stalled(server.Port());
    stalled.Write(CreateObjectRequest() + GetIDRequest(0) + DownloadRequest(0, 1, u"Velkaro"_qs));
    stalled.ReadBlock();
    stalled.ReadBlock();
    ASSERT_EQ(stalled.Read(36).size(), 36);
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("GetIDsOfNames")));

    server.Stop();
    EXPECT_EQ(idle.ReadToEnd(), QByteArray());
    const QStringList log = server.Log();
    EXPECT_TRUE(anyLine(log, {"closed: the server is stopping"}));
    EXPECT_TRUE(anyLine(log, {"still busy after 1 s: cut off"}));
    EXPECT_TRUE(anyLine(log, {"stopped"}));
    EXPECT_EQ(server.Server().ActiveClients(), 0);
}

} // namespace
