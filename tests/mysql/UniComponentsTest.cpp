// The connection and query components against scripted MySQL peers: the
// bytes of the login, the session start and the queries, and the paths a
// real server does not readily show.

#include "mysql/UniQuery.h"

#include "core/Bytes.h"
#include "core/Exceptions.h"
#include "data/Provider.h"
#include "mysql/MyError.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySQLOptions.h"
#include "mysql/MySQLUniProvider.h"
#include "mysql/MySqlAuth.h"
#include "mysql/UniConnection.h"
#include "platform/RegionalSettings.h"
#include "support/Fixtures.h"
#include "support/ScriptedVio.h"

#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

const QByteArray Scramble = "ABCDEFGHIJKLMNOPQRST";
const QByteArray Password = "plovexirquan";
const QByteArray VersionQuery = "Select * From tbVersionControl";

// The 4.1 login the connection sends with this character set number.
QByteArray login41(quint8 charset)
{
    QByteArray out;
    ByteWriter w(out);
    w.U32(0x3A28F);
    w.U32(0x40000000);
    w.U8(charset);
    w.Fill(0, 23);
    w.ZeroEnded("sa");
    w.U8(20);
    w.Bytes(mysqlauth::NativeProof(Password, Scramble));
    w.ZeroEnded("VelkaroDB");
    return out;
}

QByteArray versionColumn()
{
    return ColumnDef41("Version", mtVarString, 60, 0, 33, 0, "tbVersionControl");
}

template <class E = EMyError, class F> QString raisedText(F f, int* code = nullptr)
{
    try {
        f();
    } catch (const E& e) {
        if constexpr (std::is_same_v<E, EMyError>) {
            if (code != nullptr)
                *code = e.ErrorCode();
        }
        return e.Message();
    }
    ADD_FAILURE() << "nothing raised";
    return QString();
}

// uniConnDataCenter as the window declares it, on a scripted server.
struct Scripted {
    TMySQLUniProvider provider;
    VioHandOver hand; // outlives the connection, which says goodbye to it
    ScriptedVio& peer = *hand.peer;
    std::unique_ptr<TUniConnection> owned = std::make_unique<TUniConnection>();
    TUniConnection& connection = *owned;

    explicit Scripted(const QStringList& options = {QStringLiteral("MySQL.UseUnicode=True")})
    {
        connection.SetProviderName(QStringLiteral("MySQL"));
        connection.SetServer(QStringLiteral("db.example.org"));
        connection.SetDatabase(QStringLiteral("VelkaroDB"));
        connection.SetUsername(QStringLiteral("sa"));
        connection.SetPassword(QString::fromLatin1(Password));
        connection.SetSpecificOptions(options);
        Native().SetVioFactory(hand.Factory());
    }
    TMySQLConnection& Native() { return *static_cast<TMySQLConnection*>(connection.CheckIConnection()); }
    // Greeting, login, OK, then "SET NAMES utf8" answered.
    void ScriptRoadLogin()
    {
        peer.Answer(Packet(0, Greeting41(Scramble)))
            .Expect(Packet(1, login41(33)))
            .Answer(Packet(2, OkPacket()))
            .Expect(QueryPacket("SET NAMES utf8"))
            .Answer(Packet(1, OkPacket()));
    }
};

} // namespace

TEST(UniConnection, OptionLinesDecideTheCharacterSetAndTheSessionStart)
{
    struct Case {
        QStringList options;
        quint8 charset; // announced at login
        QByteArray sent; // after the login; "" for nothing
        bool useUnicode;
    };
    const Case cases[] = {
        {{"MySQL.UseUnicode=True"}, 33, "SET NAMES utf8", true},
        {{"UseUnicode=True"}, 33, "SET NAMES utf8", true},
        {{"mysql.useunicode= true "}, 33, "SET NAMES utf8", true},
        {{"Other.UseUnicode=True"}, 8, "", false},
        {{"MySQL.UseUnicode"}, 8, "", false}, // no "=": ignored
        {{"MySQL.UseUnicode=False", "MySQL.UseUnicode=True"}, 8, "", false}, // the first line wins
        {{"MySQL.Charset=latin1"}, 8, "SET NAMES latin1", false},
        {{"MySQL.Charset=UTF8"}, 33, "SET NAMES UTF8", false},
        {{}, 8, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(u'|').toStdString());
        Scripted s(c.options);
        s.peer.Answer(Packet(0, Greeting41(Scramble))).Expect(Packet(1, login41(c.charset)));
        s.peer.Answer(Packet(2, OkPacket()));
        if (!c.sent.isEmpty())
            s.peer.Expect(QueryPacket(c.sent)).Answer(Packet(1, OkPacket()));
        s.connection.Connect();
        EXPECT_TRUE(s.connection.Connected());
        EXPECT_EQ(s.peer.Verify(), QString());
        EXPECT_TRUE(s.peer.WrittenAfterEnd().isEmpty());
        EXPECT_EQ(s.Native().UseUnicode(), c.useUnicode);
        if (!c.sent.isEmpty()) {
            EXPECT_EQ(s.peer.GetTimeout(), 15) << "the session start runs with the connection timeout";
        }
    }
}

TEST(UniConnection, AnInvalidOptionValueStopsTheConnect)
{
    Scripted s {QStringList()};
    // The native connection takes a new list at once, and again at each
    // connect until a list passes.
    EXPECT_EQ(
        raisedText<EDatabaseError>([&] { s.connection.SetSpecificOptions({QStringLiteral("MySQL.UseUnicode=yes")}); }),
        "Invalid value: yes for option UseUnicode");
    EXPECT_EQ(raisedText<EDatabaseError>([&] { s.connection.Connect(); }), "Invalid value: yes for option UseUnicode");
    EXPECT_FALSE(s.connection.Connected());
    EXPECT_EQ(s.peer.connects, 0);
}

TEST(UniConnection, ProviderNameIsResolvedAndFixedWhileConnected)
{
    TMySQLUniProvider provider;
    TUniConnection connection;
    EXPECT_EQ(raisedText<EDatabaseError>([&] { connection.Connect(); }), "Provider is not defined");
    connection.SetProviderName(QStringLiteral(" Oracle "));
    EXPECT_EQ(raisedText<EDatabaseError>([&] { connection.Connect(); }), "Oracle is not a valid provider name");

    Scripted s;
    s.ScriptRoadLogin();
    s.connection.Connect();
    EXPECT_EQ(raisedText<EDatabaseError>([&] { s.connection.SetProviderName(QStringLiteral("Other")); }),
        "This operation is not allowed on active connection");
    EXPECT_EQ(s.connection.ProviderName(), "MySQL");
}

TEST(UniConnection, CredentialsTravelInUtf8OrInTheAnsiCodePage)
{
    const FixedRegionalSettings thai; // code page 874
    platform::SetRegionalSettings(&thai);
    const QString user = U("สมชาย");
    const QString password = U("รหัส");
    struct Case {
        QStringList options;
        quint8 charset;
        QByteArray user, password;
    };
    const Case cases[] = {
        {{"MySQL.UseUnicode=True"}, 33, user.toUtf8(), password.toUtf8()},
        {{}, 8, Hex("ca c1 aa d2 c2"), Hex("c3 cb d1 ca")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charset);
        Scripted s(c.options);
        s.connection.SetUsername(user);
        s.connection.SetPassword(password);
        QByteArray login;
        ByteWriter w(login);
        w.U32(0x3A28F);
        w.U32(0x40000000);
        w.U8(c.charset);
        w.Fill(0, 23);
        w.ZeroEnded(c.user);
        w.U8(20);
        w.Bytes(mysqlauth::NativeProof(c.password, Scramble));
        w.ZeroEnded("VelkaroDB");
        s.peer.Answer(Packet(0, Greeting41(Scramble))).Expect(Packet(1, login)).Answer(Packet(2, OkPacket()));
        if (c.charset == 33)
            s.peer.Expect(QueryPacket("SET NAMES utf8")).Answer(Packet(1, OkPacket()));
        s.connection.Connect();
        EXPECT_EQ(s.peer.Verify(), QString());
    }
    platform::SetRegionalSettings(nullptr);
}

TEST(UniConnection, ServerTextAndPortChooseTheEndpoint)
{
    struct Case {
        QString server;
        int port;
        QByteArray host;
        int endpointPort;
    };
    const Case cases[] = {
        {"db.example.org", 0, "db.example.org", 3306},
        {"10.0.0.5,3307", 0, "10.0.0.5", 3306}, // the text after "," is not the host
        {"", 0, "localhost", 3306},
        {"db.example.org", 3307, "db.example.org", 3307},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server.toStdString());
        Scripted s;
        s.connection.SetServer(c.server);
        s.connection.SetPort(c.port);
        s.ScriptRoadLogin();
        s.connection.Connect();
        EXPECT_EQ(s.hand.host, c.host);
        EXPECT_EQ(s.hand.port, c.endpointPort);
        EXPECT_EQ(s.peer.Verify(), QString());
    }
}

TEST(UniConnection, ServerVersionDecidesTheSessionStart)
{
    struct Case {
        QByteArray version;
        int primary, minor, release;
        bool setNames;
    };
    const Case cases[] = {
        {"5.5.62-log", 5, 5, 62, true},
        {"10.11.6-MariaDB", 10, 11, 6, true},
        {"4.1.22", 4, 1, 22, true},
        {"4.0.27", 4, 0, 27, false},
        {"8", 8, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version.toStdString());
        Scripted s;
        s.peer.Answer(Packet(0, Greeting41(Scramble, 0xF7FF, c.version)))
            .Expect(Packet(1, login41(33)))
            .Answer(Packet(2, OkPacket()));
        if (c.setNames)
            s.peer.Expect(QueryPacket("SET NAMES utf8")).Answer(Packet(1, OkPacket()));
        s.connection.Connect();
        EXPECT_EQ(s.peer.Verify(), QString());
        EXPECT_TRUE(s.peer.WrittenAfterEnd().isEmpty());
        EXPECT_EQ(s.Native().ServerVersion(), c.version);
        EXPECT_EQ(s.Native().ServerPrimaryVer(), c.primary);
        EXPECT_EQ(s.Native().ServerMinorVer(), c.minor);
        EXPECT_EQ(s.Native().ServerReleaseVer(), c.release);
        EXPECT_EQ(s.Native().UseUnicode(), c.setNames);
    }
}

TEST(UniConnection, AFourZeroServerGetsTheOldLoginAndNoSetNames)
{
    Scripted s;
    const quint16 caps = CLIENT_LONG_PASSWORD | CLIENT_LONG_FLAG | CLIENT_CONNECT_WITH_DB | CLIENT_TRANSACTIONS;
    QByteArray login;
    ByteWriter w(login);
    w.U16(quint16((0x3A28F & ~CLIENT_PROTOCOL_41 & ~CLIENT_COMPRESS)));
    w.U24(0);
    w.ZeroEnded("sa");
    w.Bytes(mysqlauth::OldScramble(Password, Scramble));
    w.ZeroEnded("VelkaroDB");
    s.peer.Answer(Packet(0, Greeting41(Scramble, caps, "4.0.27-standard")))
        .Expect(Packet(1, login))
        .Answer(Packet(2, OkPacket()));
    s.connection.Connect();
    EXPECT_EQ(s.peer.Verify(), QString());
    EXPECT_TRUE(s.peer.WrittenAfterEnd().isEmpty());
    EXPECT_FALSE(s.Native().UseUnicode());
}

TEST(UniConnection, AWrongPasswordRaisesTheServerErrorAndLeavesItClosed)
{
    Scripted s;
    s.peer.Answer(Packet(0, Greeting41(Scramble)))
        .Expect(Packet(1, login41(33)))
        .Answer(Packet(2, ErrorPacket(1045, "#28000Access denied for user 'sa'@'10.0.0.9' (using password: YES)")));
    int code = 0;
    EXPECT_EQ(raisedText([&] { s.connection.Connect(); }, &code),
        "\n#28000Access denied for user 'sa'@'10.0.0.9' (using password: YES)");
    EXPECT_EQ(code, 1045);
    EXPECT_FALSE(s.connection.Connected());
    EXPECT_EQ(s.peer.closes, 1);
    // The next connect starts from scratch.
    s.ScriptRoadLogin();
    s.connection.Connect();
    EXPECT_TRUE(s.connection.Connected());
    EXPECT_EQ(s.peer.Verify(), QString());
}

TEST(UniQuery, TheVersionQueryThroughAProviderRunsTwiceOnOneLogin)
{
    Scripted s;
    TUniQuery query;
    query.SetName(QStringLiteral("qryAnyPropose"));
    query.SetConnection(&s.connection);
    TDataSetProvider provider;
    provider.SetDataSet(&query);
    // Blank lines and blanks at the end are not sent; the statement is one
    // packet: length 31, sequence 0, COM_QUERY, the 30 bytes.
    query.SQL() = {QString::fromLatin1(VersionQuery), QString(), QStringLiteral("  \t")};
    s.ScriptRoadLogin();
    for (int run = 0; run < 2; ++run)
        s.peer.Expect(Hex("1f 00 00 00 03") + VersionQuery).Answer(ResultPackets({versionColumn()}, {}));

    const Variant packet = provider.Data();
    EXPECT_EQ(s.peer.Verify(), QString());
    EXPECT_TRUE(s.peer.WrittenAfterEnd().isEmpty());
    EXPECT_EQ(s.peer.connects, 1);
    EXPECT_EQ(s.peer.GetTimeout(), 31536000) << "a command timeout of 0 is a year";
    EXPECT_EQ(s.Native().Session()->Status(), msReady);
    ASSERT_TRUE(query.Active());
    EXPECT_EQ(query.RecordCount(), 0);
    ASSERT_EQ(query.FieldCount(), 1);
    EXPECT_EQ(query.Fields(0)->FieldName(), "Version");
    EXPECT_EQ(query.Fields(0)->DataType(), TFieldType::ftWideString);
    EXPECT_EQ(query.Fields(0)->Size(), 20);
    EXPECT_EQ(query.FieldByName(QStringLiteral("Version"))->AsString(), "");
    EXPECT_EQ(query.FinalSQL(), QString::fromLatin1(VersionQuery));
    EXPECT_FALSE(packet.IsEmpty());
}

TEST(UniQuery, NullsAndASecondResultThatIsDrained)
{
    Scripted s;
    s.ScriptRoadLogin();
    // The first result says more follow (status 8); the second is read and dropped.
    s.peer.Expect(QueryPacket("SELECT ID, Version FROM t; SELECT 2"))
        .Answer(ResultPackets({ColumnDef41("ID", mtLong, 11, PRI_KEY_FLAG | NOT_NULL_FLAG, 63), versionColumn()},
            {{"1", QByteArray()}, {"2", "2.0"}}, 0x000A))
        .Answer(ResultPackets({ColumnDef41("2", mtLongLong, 1, 0, 63)}, {{"2"}}, 0x0002, 8))
        .Expect(QueryPacket("SELECT 3"))
        .Answer(ResultPackets({ColumnDef41("3", mtLongLong, 1, 0, 63)}, {{"3"}}));
    TUniQuery query;
    query.SetConnection(&s.connection);
    query.SQL() = {QStringLiteral("SELECT ID, Version FROM t; SELECT 2")};
    query.Open();
    ASSERT_EQ(query.RecordCount(), 2);
    query.First();
    EXPECT_TRUE(query.FieldByName(QStringLiteral("Version"))->IsNull());
    EXPECT_EQ(query.FieldByName(QStringLiteral("Version"))->AsString(), "");
    query.Next();
    EXPECT_EQ(query.FieldByName(QStringLiteral("Version"))->AsString(), "2.0");
    EXPECT_EQ(s.Native().Session()->Status(), msReady);

    query.Close();
    query.SQL() = {QStringLiteral("SELECT 3")};
    query.Open();
    EXPECT_EQ(query.Fields(0)->AsString(), "3");
    EXPECT_EQ(s.peer.Verify(), QString());
}

TEST(UniQuery, AnInsertOpenedAsADatasetFailsAndLeavesTheSessionReady)
{
    Scripted s;
    s.ScriptRoadLogin();
    s.peer.Expect(QueryPacket("INSERT INTO t VALUES (1)"))
        .Answer(Packet(1, OkPacket(1)))
        .Expect(QueryPacket("INSERT INTO t VALUES (2)"))
        .Answer(Packet(1, OkPacket(1)));
    TUniQuery query;
    query.SetName(QStringLiteral("qry"));
    query.SetConnection(&s.connection);
    query.SQL() = {QStringLiteral("INSERT INTO t VALUES (1)")};
    EXPECT_EQ(raisedText<EDatabaseError>([&] { query.Open(); }), "Query must return exactly result set - use Execute");
    EXPECT_FALSE(query.Active());
    EXPECT_TRUE(s.connection.Connected());
    EXPECT_EQ(s.connection.ConnectCount(), 0);
    query.SQL() = {QStringLiteral("INSERT INTO t VALUES (2)")};
    query.Execute();
    EXPECT_EQ(query.RowsAffected(), 1);
    EXPECT_EQ(s.peer.Verify(), QString());
}

TEST(UniQuery, ALinkLostInACommandClosesTheConnectionAndTheNextOpenReconnects)
{
    Scripted s;
    s.ScriptRoadLogin();
    const QByteArray result = ResultPackets({versionColumn()}, {{"1.0.0"}});
    // The server goes away in the middle of the row.
    s.peer.Expect(QueryPacket(VersionQuery)).Answer(result.first(result.size() - 12)).Hangup();
    s.ScriptRoadLogin();
    s.peer.Expect(QueryPacket(VersionQuery)).Answer(result);

    TUniQuery query;
    query.SetConnection(&s.connection);
    query.SQL() = {QString::fromLatin1(VersionQuery)};
    int code = 0;
    EXPECT_EQ(raisedText([&] { query.Open(); }, &code), "Lost connection to MySQL server during query");
    EXPECT_EQ(code, 2013);
    EXPECT_FALSE(query.Active());
    EXPECT_FALSE(s.connection.Connected());
    EXPECT_EQ(s.connection.ConnectCount(), 0);

    query.Open();
    EXPECT_EQ(query.Fields(0)->AsString(), "1.0.0");
    EXPECT_EQ(s.peer.connects, 2);
    EXPECT_EQ(s.peer.Verify(), QString());
}

TEST(UniQuery, DestroyingTheConnectionSendsQuit)
{
    Scripted s;
    s.ScriptRoadLogin();
    s.peer.Expect(Packet(0, QByteArray(1, char(1))));
    TUniQuery query;
    query.SetConnection(&s.connection);
    s.connection.Connect();
    s.owned.reset();
    EXPECT_EQ(s.peer.Verify(), QString());
    EXPECT_EQ(s.peer.closes, 1);
    EXPECT_EQ(query.Connection(), nullptr);
}

TEST(MySQLCommand, ACommandWhileAResultIsPendingIsOutOfSync)
{
    Scripted s;
    s.ScriptRoadLogin();
    s.peer.Expect(QueryPacket("SELECT 1")).Answer(ResultPackets({ColumnDef41("1", mtLongLong, 1, 0, 63)}, {{"1"}}));
    s.connection.Connect();
    TMySQLCommand first(&s.Native());
    first.SetSQL({QStringLiteral("SELECT 1")});
    first.SetExpectResultSet(true);
    first.Execute();
    EXPECT_EQ(first.CursorState(), csExecuted);

    TMySQLCommand second(&s.Native());
    second.SetSQL({QStringLiteral("SELECT 2")});
    int code = 0;
    EXPECT_EQ(raisedText([&] { second.Execute(); }, &code), "Commands out of sync;  You can't run this command now");
    EXPECT_EQ(code, 2014);
    EXPECT_EQ(second.CursorState(), csInactive);
    EXPECT_TRUE(s.connection.Connected()) << "2014 is not fatal";

    // Unclaimed rows are drained when the first lets its result go.
    first.ReleaseResult();
    EXPECT_EQ(s.Native().Session()->Status(), msReady);
    EXPECT_EQ(s.peer.Verify(), QString());
}

TEST(MySQLConnection, EveryPropertyIdRoundTrips)
{
    TMySQLConnection native;
    struct Case {
        int id;
        Variant value;
    };
    const Case cases[] = {
        {prop::Database, Variant(QStringLiteral("VelkaroDB"))},
        {prop::Port, Variant(3307)},
        {prop::DisconnectedMode, Variant(true)},
        {prop::EnableBCD, Variant(true)},
        {prop::EnableFMTBCD, Variant(true)},
        {prop::ConnectionTimeout, Variant(5)},
        {prop::Compress, Variant(true)},
        {prop::Charset, Variant(QStringLiteral("latin1"))},
        {prop::Protocol, Variant(int(mpTCP))},
        {prop::UseUnicode, Variant(true)},
        {prop::EmbeddedParams, Variant(QStringLiteral("--datadir=x"))},
        {prop::SSLChipherList, Variant(QStringLiteral("c"))},
        {prop::SSLCACert, Variant(QStringLiteral("ca"))},
        {prop::SSLKey, Variant(QStringLiteral("k"))},
        {prop::SSLCert, Variant(QStringLiteral("cert"))},
        {prop::Embedded, Variant(true)},
        {prop::Direct, Variant(false)},
        {prop::CheckPrecision, Variant(true)},
        {prop::OptimizedBigint, Variant(true)},
        {prop::CheckBackslashes, Variant(true)},
        {prop::NullForZeroDateValue, Variant(true)},
        {prop::HttpUrl, Variant(QStringLiteral("http://x/tunnel.php"))},
        {prop::HttpUsername, Variant(QStringLiteral("u"))},
        {prop::HttpPassword, Variant(QStringLiteral("p"))},
        {prop::ProxyHostname, Variant(QStringLiteral("proxy"))},
        {prop::ProxyPort, Variant(8080)},
        {prop::ProxyUsername, Variant(QStringLiteral("pu"))},
        {prop::ProxyPassword, Variant(QStringLiteral("pp"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        Variant before;
        ASSERT_TRUE(native.GetProp(c.id, before));
        EXPECT_FALSE(before == c.value) << "the case must change the value";
        EXPECT_TRUE(native.SetProp(c.id, c.value));
        Variant after;
        EXPECT_TRUE(native.GetProp(c.id, after));
        EXPECT_TRUE(after == c.value);
    }
    Variant unknown;
    EXPECT_FALSE(native.SetProp(prop::FetchAll, Variant(true)));
    EXPECT_FALSE(native.GetProp(9999, unknown));
    // The modes this client does not have are refused at connect.
    EXPECT_EQ(raisedText<EDatabaseError>([&] { native.Connect(); }),
        "This MySQL client has only the direct protocol: set MySQL.Direct=True and MySQL.Embedded=False");
    EXPECT_FALSE(native.GetConnected());
}

TEST(MySQLConnection, TheProviderSetsCheckPrecisionBeforeTheOptionsAndDefaultsTheRest)
{
    Scripted s {QStringList {QStringLiteral("MySQL.ConnectionTimeout=7")}};
    Variant value;
    ASSERT_TRUE(s.Native().GetProp(prop::CheckPrecision, value));
    EXPECT_TRUE(value.ToBool());
    ASSERT_TRUE(s.Native().GetProp(prop::ConnectionTimeout, value));
    EXPECT_EQ(value.ToInt(), 7);
    ASSERT_TRUE(s.Native().GetProp(prop::Direct, value));
    EXPECT_TRUE(value.ToBool());
    EXPECT_EQ(TMySQLConnection::ClientVersion, QByteArrayView("7.0.0 Direct"));
}

TEST(UniQuery, ResultColumnsAsFieldsWithTheirNamesAndKeysAsAProviderAsks)
{
    Scripted s;
    s.ScriptRoadLogin();
    const QByteArray sql = "SELECT * FROM t JOIN u ON u.ID = t.ID ORDER BY t.ID DESC, `Name`";
    s.peer.Expect(QueryPacket(sql))
        .Answer(ResultPackets(
            {ColumnDef41("ID", mtLong, 11, PRI_KEY_FLAG | NOT_NULL_FLAG | AUTO_INCREMENT_FLAG, 63),
                ColumnDef41("ID", mtLong, 10, UNSIGNED_FLAG, 63, 0, "u"),
                ColumnDef41("ID_1", mtVarString, 60, UNIQUE_KEY_FLAG, 33), ColumnDef41("", mtNull, 0, 0, 63, 0, "")},
            {{"1", "2", "x", QByteArray()}}));
    TUniQuery query;
    query.SetConnection(&s.connection);
    query.SQL() = {QString::fromLatin1(sql)};
    query.Open();
    QStringList names;
    for (int i = 0; i < query.FieldCount(); ++i)
        names.append(query.Fields(i)->FieldName());
    EXPECT_EQ(names, QStringList({"ID", "ID_2", "ID_1", "Column4"}));
    EXPECT_EQ(query.FieldByName(QStringLiteral("ID_2"))->AsString(), "2");
    EXPECT_EQ(query.FieldByName(QStringLiteral("ID_2"))->DataType(), TFieldType::ftLongWord);
    EXPECT_TRUE(query.Fields(0)->Def().AutoIncrement);
    EXPECT_TRUE(query.Fields(1)->Def().Unsigned);
    EXPECT_TRUE(query.Fields(3)->ReadOnly()) << "a NULL column";

    EXPECT_EQ(query.PSGetKeyFields(), "ID;ID_1");
    EXPECT_EQ(query.PSGetDefaultOrder(), "ID;Name");
    EXPECT_EQ(query.PSGetTableName(), "t");
    EXPECT_EQ(query.PSGetQuoteChar(), "\"");
    EXPECT_TRUE(query.PSIsSQLBased());
    EXPECT_TRUE(query.PSIsSQLSupported());
    EXPECT_FALSE(query.PSInTransaction());
    query.PSSetCommandText(QString());
    EXPECT_TRUE(query.Active()) << "an empty text changes nothing";
    query.PSSetCommandText(QStringLiteral("SELECT 2"));
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(query.SQL(), QStringList {"SELECT 2"});
    EXPECT_EQ(s.peer.Verify(), QString());
}

TEST(UniQuery, DatasetOptionsComeFromItsSpecificOptions)
{
    Scripted s;
    s.ScriptRoadLogin();
    const QList<QByteArray> columns
        = {ColumnDef41("n", mtLong, 11, 0, 63), ColumnDef41("at", mtDateTime, 19, BINARY_FLAG, 63)};
    const QByteArray result = ResultPackets(columns, {{"7", "0000-00-00 00:00:00"}});
    s.peer.Expect(QueryPacket("SELECT n, at FROM t")).Answer(result);
    s.peer.Expect(QueryPacket("SELECT n, at FROM t")).Answer(result);
    TUniQuery query;
    query.SetConnection(&s.connection);
    query.SQL() = {QStringLiteral("SELECT n, at FROM t")};

    query.SetSpecificOptions({QStringLiteral("MySQL.NullForZeroDate=False"), QStringLiteral("CommandTimeout=5")});
    query.Open();
    EXPECT_EQ(s.peer.GetTimeout(), 5);
    EXPECT_FALSE(query.Fields(1)->IsNull());
    EXPECT_EQ(query.Fields(1)->AsString(), "01/01/0100") << "the zero date without NullForZeroDate";
    query.Close();

    query.SetSpecificOptions({QStringLiteral("MySQL.FieldsAsString=True")});
    query.Open();
    EXPECT_EQ(query.Fields(0)->DataType(), TFieldType::ftWideString);
    EXPECT_EQ(query.Fields(0)->AsString(), "7");
    EXPECT_EQ(s.peer.GetTimeout(), 31536000) << "every option not given takes its default again";
    query.Close();

    query.SetSpecificOptions({QStringLiteral("MySQL.FetchAll=maybe")});
    EXPECT_EQ(raisedText<EDatabaseError>([&] { query.Open(); }), "Invalid value: maybe for option FetchAll");
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(s.connection.ConnectCount(), 0);
    EXPECT_EQ(s.peer.Verify(), QString());
}
