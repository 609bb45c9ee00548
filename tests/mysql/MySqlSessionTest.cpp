#include "mysql/MySqlSession.h"

#include "core/Bytes.h"
#include "core/Exceptions.h"
#include "mysql/MyError.h"
#include "mysql/MySqlAuth.h"
#include "support/Fixtures.h"
#include "support/Raised.h"
#include "support/ScriptedVio.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

const QByteArray Scramble = "ABCDEFGHIJKLMNOPQRST";
const QByteArray Password = "plovexirquan";
constexpr quint32 RoadFlags = CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS;

// The login packet of the update client's road against a 4.1 server.
QByteArray roadLogin(const QByteArray& proof)
{
    QByteArray out;
    ByteWriter w(out);
    w.U32(0x3A28F);
    w.U32(0x40000000);
    w.U8(33);
    w.Fill(0, 23);
    w.ZeroEnded("sa");
    w.U8(20);
    w.Bytes(proof);
    w.ZeroEnded("VelkaroDB");
    return out;
}

struct Session {
    VioHandOver hand;
    ScriptedVio& peer = *hand.peer;
    TMySqlSession session;

    Session()
    {
        session.SetVioFactory(hand.Factory());
        session.SetCharsetName("utf8");
    }
    void Connect(const QByteArray& password = Password)
    {
        session.Connect("db.example.org", "sa", password, "VelkaroDB", 0, RoadFlags);
    }
    // Greeting, login and OK; the session is then ready.
    void LoggedIn()
    {
        peer.Answer(Packet(0, Greeting41(Scramble)))
            .Expect(Packet(1, roadLogin(mysqlauth::NativeProof(Password, Scramble))))
            .Answer(Packet(2, OkPacket()));
        Connect();
    }
};

QByteArray queryPacket(const QByteArray& sql)
{
    return Packet(0, QByteArray(1, char(3)) + sql);
}

} // namespace

TEST(MySqlSession, LoginPacketOfTheRoadIsByteExact)
{
    Session s;
    s.LoggedIn();
    EXPECT_EQ(s.peer.Verify(), QString());
    EXPECT_FALSE(s.session.Closed());
    EXPECT_EQ(s.hand.host, QByteArray("db.example.org"));
    EXPECT_EQ(s.hand.port, 3306);
    EXPECT_EQ(s.session.HostInfo(), QByteArray("db.example.org via TCP/IP"));
    EXPECT_EQ(s.session.ServerVersion(), QByteArray("5.5.5-10.11.6-MariaDB"));
    EXPECT_EQ(s.session.ThreadId(), 7u);
    EXPECT_EQ(s.session.ServerCapabilities(), 0xF7FF);
    EXPECT_EQ(s.session.ServerLanguage(), 8);
    EXPECT_EQ(s.session.ClientFlags(), 0x3A28Fu);
    EXPECT_EQ(s.peer.GetTimeout(), 15); // the connect timeout, for the login's reads
    EXPECT_EQ(s.session.Status(), msReady);
}

TEST(MySqlSession, GreetingScrambleIsReadOnlyWhereThePacketHoldsIt)
{
    const QByteArray full = Greeting41(Scramble);
    const qsizetype p = 1 + QByteArray("5.5.5-10.11.6-MariaDB").size() + 1 + 4 + 8; // the filler
    struct Case {
        const char* name;
        QByteArray greeting;
        QByteArray proof; // as the login sends it
    };
    const Case cases[] = {
        {"12 bytes and a 0, plugin name", full, QByteArray(1, char(20)) + mysqlauth::NativeProof(Password, Scramble)},
        {"13 bytes, nothing after", full.first(p + 32),
            QByteArray(1, char(20)) + mysqlauth::NativeProof(Password, Scramble)},
        {"exactly 12 bytes", full.first(p + 31), QByteArray(1, char(20)) + mysqlauth::NativeProof(Password, Scramble)},
        {"11 bytes: only 8 of the scramble", full.first(p + 30), QByteArray("xxxxxxxx") + '\0'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        QByteArray login = roadLogin(QByteArray(20, '\0'));
        login.replace(32 + 3, 21, c.proof);
        s.peer.Answer(Packet(0, c.greeting)).Expect(Packet(1, login)).Answer(Packet(2, OkPacket()));
        s.Connect();
        EXPECT_EQ(s.peer.Verify(), QString());
    }
}

TEST(MySqlSession, OldServerGreetingGivesThePre41LoginAndScramble)
{
    // A greeting that ends after the first 8 scramble bytes and the filler.
    QByteArray greeting;
    ByteWriter g(greeting);
    g.U8(10);
    g.ZeroEnded("3.23.58");
    g.U32(1);
    g.Bytes(Scramble.first(8));
    g.U8(0);

    QByteArray login;
    ByteWriter w(login);
    w.U16(quint16(0x3A28F & ~CLIENT_PROTOCOL_41 & ~CLIENT_COMPRESS));
    w.U24(0);
    w.ZeroEnded("sa");
    w.Bytes(mysqlauth::OldScramble(Password, Scramble.first(8)));
    // No CLIENT_CONNECT_WITH_DB offered: no database.

    Session s;
    s.peer.Answer(Packet(0, greeting)).Expect(Packet(1, login)).Answer(Packet(2, Hex("00 00 00")));
    s.Connect();
    EXPECT_EQ(s.peer.Verify(), QString());
    EXPECT_EQ(s.session.ServerCapabilities(), 0);
    EXPECT_EQ(s.session.Database(), QByteArray());
}

TEST(MySqlSession, OldScrambleMatchesTheServersPasswordHash)
{
    // OLD_PASSWORD('password') is 5d2e19393cc5ef67 on every server.
    EXPECT_EQ(mysqlauth::OldPasswordHash("password"), Hex("5d 2e 19 39 3c c5 ef 67"));
    EXPECT_EQ(mysqlauth::OldPasswordHash("pass word"), mysqlauth::OldPasswordHash("password")); // blanks skipped
    const QByteArray scrambled = mysqlauth::OldScramble("password", "12345678");
    ASSERT_EQ(scrambled.size(), 9);
    EXPECT_EQ(scrambled[8], '\0');
}

TEST(MySqlSession, LoginExchangesOfOlderAndNewerServers)
{
    const QByteArray login = roadLogin(mysqlauth::NativeProof(Password, Scramble));
    QByteArray twoStageStar = "*ABC" + QByteArray("0123456789abcdefghij");
    QByteArray twoStageHash = "wxyz" + QByteArray("0123456789abcdefghij");
    QByteArray newScramble;
    const QByteArray starAnswer = mysqlauth::TwoStageAnswer(Password, twoStageStar, newScramble);
    EXPECT_EQ(starAnswer, mysqlauth::OldScramble(Password, "01234567"));
    const QByteArray hashAnswer = mysqlauth::TwoStageAnswer(Password, twoStageHash, newScramble);
    ASSERT_EQ(hashAnswer.size(), 20);
    const QByteArray switchScramble = "abcdefghijklmnopqrst";

    struct Case {
        const char* name;
        QByteArray reply; // the server's answer to the login
        QByteArray answer; // what the client sends next
    };
    const Case cases[] = {
        {"0xFE asks for the pre-4.1 scramble", Hex("fe"), mysqlauth::OldScramble(Password, Scramble)},
        {"two-stage with *", twoStageStar, starAnswer},
        {"two-stage with a hash", twoStageHash, hashAnswer},
        {"switch to the native method", QByteArray("\xfemysql_native_password\0", 23) + switchScramble + '\0',
            mysqlauth::NativeProof(Password, switchScramble)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.peer.Answer(Packet(0, Greeting41(Scramble)))
            .Expect(Packet(1, login))
            .Answer(Packet(2, c.reply))
            .Expect(Packet(3, c.answer))
            .Answer(Packet(4, OkPacket()));
        s.Connect();
        EXPECT_EQ(s.peer.Verify(), QString());
        EXPECT_FALSE(s.session.Closed());
    }
}

TEST(MySqlSession, FailedLoginsLeaveTheSessionClosed)
{
    const QByteArray login = roadLogin(mysqlauth::NativeProof(Password, Scramble));
    struct Case {
        const char* name;
        QByteArray wire; // after the greeting and the login
        int code;
        QString message;
    };
    const Case cases[] = {
        {"wrong password", Packet(2, ErrorPacket(1045, "#28000Access denied for user 'sa'@'localhost'")), 1045,
            QStringLiteral("\n#28000Access denied for user 'sa'@'localhost'")},
        {"another method",
            Packet(2,
                QByteArray("\xfe"
                           "caching_sha2_password\0",
                    23)
                    + Scramble),
            2059, QStringLiteral("Authentication plugin 'caching_sha2_password' is not supported")},
        {"switch without its scramble", Packet(2, QByteArray("\xfemysql_native_password\0", 23) + "short"), 2027,
            QStringLiteral("Malformed packet")},
        {"closed mid-reply", Hex("07 00 00 02 00 00"), 2013,
            QStringLiteral("Lost connection to MySQL server during query")},
        {"reply out of order", Packet(3, OkPacket()), 1156,
            QStringLiteral("ReceiveHeader: Net packets out of order: received[3], expected[2]")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.peer.Answer(Packet(0, Greeting41(Scramble))).Expect(Packet(1, login)).Answer(c.wire).Hangup();
        const EMyError e = Raised([&] { s.Connect(); });
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(S(e.Message()), S(c.message));
        EXPECT_TRUE(s.session.Closed());
        EXPECT_EQ(s.session.ErrorNumber(), c.code);
        EXPECT_EQ(s.peer.closes, 1);
        EXPECT_EQ(Raised([&] { s.session.Query("Select 1", TextCoding::Utf8); }).ErrorCode(), 2006);
    }

    Session v9;
    QByteArray greeting = Greeting41(Scramble);
    greeting[0] = 9;
    v9.peer.Answer(Packet(0, greeting));
    const EMyError e = Raised([&] { v9.Connect(); });
    EXPECT_EQ(e.ErrorCode(), 2007);
    EXPECT_EQ(S(e.Message()), S(QStringLiteral("Protocol mismatch. Server Version = %d Client Version = %d")));
    EXPECT_TRUE(v9.session.Closed());
}

TEST(MySqlSession, AnEndpointThatCannotConnectIs2003WithItsText)
{
    Session s;
    s.peer.FailConnect(2003, QStringLiteral("Socket error on connect. WSAGetLastError return 111($6F)"));
    const EMyError e = Raised([&] { s.Connect(); });
    EXPECT_EQ(e.ErrorCode(), 2003);
    EXPECT_EQ(S(e.Message()),
        "Can't connect to MySQL server on 'db.example.org' (10061)\n"
        "Socket error on connect. WSAGetLastError return 111($6F)");
    EXPECT_TRUE(s.session.Closed());
}

TEST(MySqlSession, VersionQueryGoesOutAsOnePacketAndReadsItsRows)
{
    Session s;
    s.LoggedIn();
    s.peer.Expect(Hex("1f 00 00 00 03") + "Select * From tbVersionControl")
        .Answer(Packet(1, Hex("01")) + Packet(2, ColumnDef41("Version", mtVarString, 60, 0, 33, 0, "tbVersionControl"))
            + Packet(3, EofPacket()) + Packet(4, Row({"1.0.0.7"})) + Packet(5, Row({QByteArray()}))
            + Packet(6, EofPacket(1, 0x22)));
    s.session.SetCommandTimeout(0);
    s.session.Query(QStringLiteral("Select * From tbVersionControl"), TextCoding::Utf8);
    EXPECT_EQ(s.peer.GetTimeout(), 31536000);
    EXPECT_EQ(s.session.ReadQueryResult(), 1u);
    EXPECT_EQ(s.session.Status(), msGetResult);
    ASSERT_EQ(s.session.Fields().size(), 1);
    const TMySqlFieldInfo& f = s.session.Fields()[0];
    EXPECT_EQ(f.Name, QByteArray("Version"));
    EXPECT_EQ(f.OrgName, QByteArray("Version"));
    EXPECT_EQ(f.Table, QByteArray("tbVersionControl"));
    EXPECT_EQ(f.Database, QByteArray("VelkaroDB"));
    EXPECT_EQ(f.Length, 60u);
    EXPECT_EQ(f.CharsetNr, 33u);
    EXPECT_EQ(f.Type, mtVarString);
    EXPECT_EQ(f.Flags, 0u);

    // A second command before the rows are read is out of sync.
    const EMyError sync = Raised([&] { s.session.Query("Select 1", TextCoding::Utf8); });
    EXPECT_EQ(S(sync.Message()), S(QStringLiteral("Commands out of sync;  You can't run this command now")));
    EXPECT_FALSE(s.session.Closed());

    TMySqlResultSet* rows = s.session.UseResult();
    EXPECT_EQ(s.session.Status(), msUseResult);
    ASSERT_TRUE(rows->Fetch());
    EXPECT_FALSE(rows->IsNull(0));
    EXPECT_TRUE(rows->Value(0) == QByteArrayView("1.0.0.7"));
    EXPECT_EQ(rows->Offset(0), 1);
    EXPECT_EQ(rows->Length(0), 7);
    ASSERT_TRUE(rows->Fetch());
    EXPECT_TRUE(rows->IsNull(0));
    EXPECT_FALSE(rows->Fetch());
    EXPECT_FALSE(rows->Fetch());
    EXPECT_EQ(s.session.Status(), msReady);
    EXPECT_EQ(s.session.WarningCount(), 1);
    EXPECT_EQ(s.session.ServerStatus(), 0x22);

    const EMyError claim = Raised([&] { s.session.UseResult(); });
    EXPECT_EQ(S(claim.Message()),
        S(QStringLiteral("Commands out of sync;  You can't run this command now\nmysql.status = 0")));
    EXPECT_EQ(s.peer.Verify(), QString());
}

TEST(MySqlSession, OkPacketsAndFurtherResults)
{
    Session s;
    s.LoggedIn();
    s.peer.Expect(queryPacket("INSERT ...; SELECT 1"))
        .Answer(Packet(1, OkPacket(3, 300, 0x0A, 2, "Records: 3")))
        .Answer(Packet(2, Hex("01")) + Packet(3, ColumnDef41("1", mtLongLong, 1, NOT_NULL_FLAG, 63))
            + Packet(4, EofPacket()) + Packet(5, Row({"1"})) + Packet(6, EofPacket(0, 2)));
    s.session.Query("INSERT ...; SELECT 1", TextCoding::Utf8);
    EXPECT_EQ(s.session.ReadQueryResult(), 0u);
    EXPECT_EQ(s.session.AffectedRows(), 3);
    EXPECT_EQ(s.session.InsertId(), 300u);
    EXPECT_EQ(s.session.WarningCount(), 2);
    EXPECT_EQ(s.session.Info(), QByteArray("Records: 3"));
    ASSERT_TRUE(s.session.MoreResults());
    EXPECT_EQ(s.session.NextResult(), 1u);
    EXPECT_EQ(s.session.AffectedRows(), -1);
    EXPECT_EQ(s.session.Fields()[0].Flags, quint32(NOT_NULL_FLAG | NUM_FLAG));
    // Freed without reading: the rows are drained.
    s.session.FreeResult();
    EXPECT_EQ(s.session.Status(), msReady);
    EXPECT_FALSE(s.session.MoreResults());
    EXPECT_EQ(s.peer.Verify(), QString());
}

TEST(MySqlSession, Pre41ColumnDefinitions)
{
    QByteArray greeting;
    ByteWriter g(greeting);
    g.U8(10);
    g.ZeroEnded("4.0.27");
    g.U32(1);
    g.Bytes(Scramble.first(8));
    g.U8(0);
    g.U16(CLIENT_LONG_FLAG | CLIENT_CONNECT_WITH_DB | CLIENT_TRANSACTIONS);

    QByteArray column = LenEnc("tbVersionControl") + LenEnc("Version");
    ByteWriter c(column);
    c.U8(3);
    c.U24(20);
    c.U8(1);
    c.U8(mtVarString);
    c.U8(3);
    c.U16(NOT_NULL_FLAG | BINARY_FLAG);
    c.U8(0);
    QByteArray id = LenEnc("tbVersionControl") + LenEnc("Id") + Hex("03 0b 00 00 01 03 03 03 00 00");

    Session t;
    t.peer.Answer(Packet(0, greeting));
    QByteArray login;
    ByteWriter w(login);
    w.U16(quint16((0x3A28F | CLIENT_CONNECT_WITH_DB) & ~(CLIENT_PROTOCOL_41 | CLIENT_COMPRESS)));
    w.U24(0);
    w.ZeroEnded("sa");
    w.Bytes(mysqlauth::OldScramble(Password, Scramble.first(8)));
    w.ZeroEnded("VelkaroDB");
    t.peer.Expect(Packet(1, login))
        .Answer(Packet(2, Hex("00 00 00 02 00")))
        .Expect(queryPacket("Select * From tbVersionControl"))
        .Answer(Packet(1, Hex("02")) + Packet(2, column) + Packet(3, id) + Packet(4, Hex("fe"))
            + Packet(5, Row({"1.0", "4"})) + Packet(6, Hex("fe")));
    t.Connect();
    t.session.Query("Select * From tbVersionControl", TextCoding::Utf8);
    ASSERT_EQ(t.session.ReadQueryResult(), 2u);
    const QList<TMySqlFieldInfo> fields = t.session.Fields();
    EXPECT_EQ(fields[0].Table, QByteArray("tbVersionControl"));
    EXPECT_EQ(fields[0].Name, QByteArray("Version"));
    EXPECT_EQ(fields[0].Length, 20u);
    EXPECT_EQ(fields[0].Type, mtVarString);
    EXPECT_EQ(fields[0].Flags, quint32(NOT_NULL_FLAG | BINARY_FLAG));
    EXPECT_EQ(fields[1].Type, mtLong);
    EXPECT_EQ(fields[1].Length, 11u);
    EXPECT_EQ(fields[1].Flags, quint32(NOT_NULL_FLAG | PRI_KEY_FLAG | NUM_FLAG));
    TMySqlResultSet* rows = t.session.UseResult();
    ASSERT_TRUE(rows->Fetch());
    EXPECT_TRUE(rows->Value(1) == QByteArrayView("4"));
    EXPECT_FALSE(rows->Fetch());
    EXPECT_EQ(t.peer.Verify(), QString());
}

TEST(MySqlSession, LyingServersRaiseMalformedPacketAndCloseTheSession)
{
    const QByteArray column = ColumnDef41("Version", mtVarString, 60);
    QByteArray bigClaim = Hex("fe ff ff ff ff ff ff ff 7f");
    struct Case {
        const char* name;
        QByteArray answer; // to the query
        bool claim; // the rows are claimed and fetched
    };
    const Case cases[] = {
        {"column name longer than its packet", Packet(1, Hex("01")) + Packet(2, column.first(20)), false},
        {"column fixed block too short", Packet(1, Hex("01")) + Packet(2, column.first(column.size() - 5)), false},
        {"fewer columns than announced", Packet(1, Hex("02")) + Packet(2, column) + Packet(3, EofPacket()), false},
        {"more columns than announced",
            Packet(1, Hex("01")) + Packet(2, column) + Packet(3, column) + Packet(4, EofPacket()), false},
        {"column count of 2^62", Packet(1, Hex("fe 00 00 00 00 00 00 00 40")) + Packet(2, EofPacket()), false},
        {"row value longer than the row",
            Packet(1, Hex("01")) + Packet(2, column) + Packet(3, EofPacket()) + Packet(4, Hex("05 61 62")), true},
        {"row value claiming 2^63",
            Packet(1, Hex("01")) + Packet(2, column) + Packet(3, EofPacket()) + Packet(4, bigClaim + "abc"), true},
        {"row with a value too many",
            Packet(1, Hex("01")) + Packet(2, column) + Packet(3, EofPacket()) + Packet(4, Row({"a", "b"})), true},
        // A row that starts with 0xFF reads as an error packet without its code.
        {"row of one 0xFF", Packet(1, Hex("01")) + Packet(2, column) + Packet(3, EofPacket()) + Packet(4, Hex("ff")),
            true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.LoggedIn();
        s.peer.Expect(queryPacket("Select")).Answer(c.answer);
        s.session.Query("Select", TextCoding::Utf8);
        const EMyError e = Raised([&] {
            s.session.ReadQueryResult();
            if (c.claim)
                s.session.UseResult()->Fetch();
        });
        EXPECT_EQ(e.ErrorCode(), cr::MalformedPacket);
        EXPECT_TRUE(s.session.Closed());
        EXPECT_EQ(Raised([&] { s.session.ReadQueryResult(); }).ErrorCode(), cr::ServerGoneError);
    }
}

TEST(MySqlSession, ALinkFailureInACommandClosesTheSession)
{
    Session s;
    s.LoggedIn();
    s.peer.Expect(queryPacket("Select 1")).Answer(Hex("01 00 00 01")).Hangup();
    s.session.Query("Select 1", TextCoding::Utf8);
    const EMyError e = Raised([&] { s.session.ReadQueryResult(); });
    EXPECT_EQ(e.ErrorCode(), 2013);
    EXPECT_TRUE(e.IsFatal());
    EXPECT_TRUE(s.session.Closed());
    EXPECT_EQ(Raised([&] { s.session.Query("Select 1", TextCoding::Utf8); }).ErrorCode(), 2006);
    s.session.Close(); // nothing more is sent
    EXPECT_EQ(s.peer.WrittenAfterEnd(), QByteArray());
}

TEST(MySqlSession, CloseSendsQuitOnce)
{
    Session s;
    s.LoggedIn();
    s.peer.Expect(Hex("01 00 00 00 01"));
    s.session.Close();
    s.session.Close();
    EXPECT_TRUE(s.session.Closed());
    EXPECT_EQ(s.peer.Verify(), QString());
    EXPECT_EQ(s.peer.closes, 1);
    EXPECT_EQ(s.peer.WrittenAfterEnd(), QByteArray());
}

TEST(MySqlSession, FreeingAResultDrainsItsRowsWithoutKeepingThem)
{
    // A row of exactly 0xFFFFFF + 3 bytes: its second packet is 3 bytes
    // starting with 0xFE, and must not be taken for the end.
    QByteArray big(0xFFFFFF + 3, 'x');
    big[0] = char(0xFD);
    big[1] = char(0xFF);
    big[2] = char(0xFF);
    big[3] = char(0xFF);
    big[0xFFFFFF] = char(0xFE);
    Session s;
    s.LoggedIn();
    s.peer.Expect(queryPacket("Select b"))
        .Answer(Packet(1, Hex("01")) + Packet(2, ColumnDef41("b", mtBlob, 0xFFFFFFFF, BINARY_FLAG, 63))
            + Packet(3, EofPacket()) + Packet(4, Row({"first"})) + Packet(5, big.first(0xFFFFFF))
            + Packet(6, big.sliced(0xFFFFFF)) + Packet(7, Row({"last"})) + Packet(8, EofPacket(0, 2 | 8)))
        .Answer(Packet(9, OkPacket()));
    s.session.Query("Select b", TextCoding::Utf8);
    s.session.ReadQueryResult();
    TMySqlResultSet* rows = s.session.UseResult();
    ASSERT_TRUE(rows->Fetch());
    const qsizetype bufferBefore = s.session.Net().GetBuffer().size();
    s.session.FreeResult();
    EXPECT_EQ(s.session.Result(), nullptr);
    EXPECT_EQ(s.session.Status(), msReady);
    EXPECT_LT(s.session.Net().GetBuffer().size(), bufferBefore + 100000);
    ASSERT_TRUE(s.session.MoreResults());
    EXPECT_EQ(s.session.NextResult(), 0u);
    EXPECT_EQ(s.peer.Verify(), QString());
}

TEST(MySqlSession, AServerErrorInPlaceOfRowsEndsTheResult)
{
    Session s;
    s.LoggedIn();
    s.peer.Expect(queryPacket("Select"))
        .Answer(Packet(1, Hex("01")) + Packet(2, ColumnDef41("a", mtLong, 11)) + Packet(3, EofPacket())
            + Packet(4, Row({"1"})) + Packet(5, ErrorPacket(1317, "#70100Query execution was interrupted")));
    s.session.Query("Select", TextCoding::Utf8);
    s.session.ReadQueryResult();
    TMySqlResultSet* rows = s.session.UseResult();
    ASSERT_TRUE(rows->Fetch());
    EXPECT_EQ(Raised([&] { rows->Fetch(); }).ErrorCode(), 1317);
    EXPECT_FALSE(s.session.Closed());
    EXPECT_EQ(s.session.Status(), msReady);
    EXPECT_FALSE(rows->Fetch());
}

TEST(MySqlSession, LocalFilesAreSentOnlyWhenTheStatementNamesThem)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rows.txt"));
    QByteArray content(8192 + 100, 'r');
    WriteFile(path, content);
    const QByteArray name = path.toUtf8();

    // Honoured: 8192-byte packets, the last one shorter, then an empty one.
    {
        Session s;
        s.LoggedIn();
        const QByteArray sql = "LOAD DATA LOCAL INFILE '" + name + "' INTO TABLE t";
        s.peer.Expect(queryPacket(sql))
            .Answer(Packet(1, "\xfb" + name))
            .Expect(Packet(2, content.first(8192)) + Packet(3, content.sliced(8192)) + Packet(4, {}))
            .Answer(Packet(5, OkPacket(1)));
        s.session.Query(QString::fromUtf8(sql), TextCoding::Utf8);
        EXPECT_EQ(s.session.ReadQueryResult(), 0u);
        EXPECT_EQ(s.session.AffectedRows(), 1);
        EXPECT_EQ(s.peer.Verify(), QString());
    }
    // Refused: the statement names another file, or is no LOAD DATA at all.
    for (const QByteArray& sql : {QByteArray("LOAD DATA LOCAL INFILE '/tmp/other' INTO TABLE t"),
             QByteArray("Select 1"), "LOAD DATA INFILE '" + name + "' INTO TABLE t"}) {
        SCOPED_TRACE(sql.constData());
        Session s;
        s.LoggedIn();
        s.peer.Expect(queryPacket(sql))
            .Answer(Packet(1, "\xfb" + name))
            .Expect(Packet(2, {}))
            .Answer(Packet(3, OkPacket()));
        s.session.Query(QString::fromUtf8(sql), TextCoding::Utf8);
        const EMyError e = Raised([&] { s.session.ReadQueryResult(); });
        EXPECT_EQ(e.ErrorCode(), 2068);
        EXPECT_TRUE(e.Message().contains(path)) << S(e.Message());
        EXPECT_FALSE(s.session.Closed());
        EXPECT_EQ(s.session.Status(), msReady);
        EXPECT_EQ(s.peer.Verify(), QString());
    }
    // A named file that cannot be opened: an empty file, then the error.
    {
        Session s;
        s.LoggedIn();
        const QByteArray missing = name + ".missing";
        const QByteArray sql = "load data low_priority local infile \"" + missing + "\" into table t";
        s.peer.Expect(queryPacket(sql))
            .Answer(Packet(1, "\xfb" + missing))
            .Expect(Packet(2, {}))
            .Answer(Packet(3, OkPacket()));
        s.session.Query(QString::fromUtf8(sql), TextCoding::Utf8);
        try {
            s.session.ReadQueryResult();
            ADD_FAILURE() << "no error";
        } catch (const EFOpenError& e) {
            EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Cannot open file \"") + path + ".missing\"."))
                << S(e.Message());
        }
        EXPECT_EQ(s.peer.Verify(), QString());
    }
}
