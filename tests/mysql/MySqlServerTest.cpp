// The session against the throwaway MariaDB server that ctest starts.

#include "mysql/MySqlSession.h"

#include "mysql/MyError.h"
#include "mysql/MySqlAuth.h"
#include "support/Fixtures.h"
#include "support/MySqlTestServer.h"
#include "support/Raised.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

constexpr quint32 RoadFlags = CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS;
using Rows = QList<QList<QByteArray>>;

// A logged-in session on the test server, in UTF-8 as the update client
// speaks it.
struct Live {
    TMySqlSession session;

    explicit Live(quint32 flags = RoadFlags, const QByteArray& user = TestServer().user,
        const QByteArray& password = TestServer().password)
    {
        session.SetCharsetName("utf8");
        session.SetConnectTimeout(15);
        const MySqlTestServer& s = TestServer();
        session.Connect(s.host, user, password, s.database, s.port, flags);
    }
    // Runs Sql; the rows of its (first) result, NULL as a null QByteArray.
    Rows Query(const QString& sql)
    {
        session.Query(sql, TextCoding::Utf8);
        Rows rows;
        if (session.ReadQueryResult() == 0)
            return rows;
        TMySqlResultSet* result = session.UseResult();
        while (result->Fetch()) {
            QList<QByteArray> row;
            for (int i = 0; i < result->FieldCount(); ++i)
                row.append(result->IsNull(i) ? QByteArray() : result->Value(i).toByteArray());
            rows.append(row);
        }
        session.FreeResult();
        return rows;
    }
};

// A table name of this test run's own, so that tests running side by side
// do not meet.
QByteArray tableName(const char* stem)
{
    return QByteArray(stem) + "_" + QByteArray::number(QCoreApplication::applicationPid());
}

} // namespace

TEST(MySqlServer, LoginWithTheRightAndAWrongPassword)
{
    VELKARO_NEED_MYSQL_SERVER();
    Live live;
    EXPECT_FALSE(live.session.Closed());
    EXPECT_TRUE(live.session.ServerVersion().startsWith("5.5.5-10.11")) << live.session.ServerVersion().constData();
    EXPECT_NE(live.session.ThreadId(), 0u);
    EXPECT_EQ(live.session.ClientFlags(), 0x3A28Fu);
    live.session.Query(QStringLiteral("SET NAMES utf8"), TextCoding::Utf8);
    EXPECT_EQ(live.session.ReadQueryResult(), 0u);
    EXPECT_EQ(live.Query(QStringLiteral("Select * From tbVersionControl")), Rows({{"1.0.0"}}));

    TMySqlSession wrong;
    wrong.SetCharsetName("utf8");
    const MySqlTestServer& s = TestServer();
    const EMyError e = Raised([&] { wrong.Connect(s.host, s.user, "wrong", s.database, s.port, RoadFlags); });
    EXPECT_EQ(e.ErrorCode(), 1045);
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("\n#28000Access denied for user 'sa'@"))) << S(e.Message());
    EXPECT_TRUE(wrong.Closed());
}

TEST(MySqlServer, ThePreviousPasswordScrambleAsTheServerAsksForIt)
{
    VELKARO_NEED_MYSQL_SERVER();
    Live admin;
    const QByteArray password = "old pass\tword";
    const Rows hash = admin.Query(QStringLiteral("SELECT OLD_PASSWORD('old pass\\tword')"));
    EXPECT_EQ(hash[0][0], mysqlauth::OldPasswordHash(password).toHex());
    const QByteArray user = tableName("old");
    admin.Query(QStringLiteral("CREATE USER '%1'@'%' IDENTIFIED VIA mysql_old_password USING '%2'")
                    .arg(QString::fromLatin1(user), QString::fromLatin1(hash[0][0])));
    admin.Query(QStringLiteral("GRANT SELECT ON VelkaroDB.* TO '%1'@'%'").arg(QString::fromLatin1(user)));
    // The server answers the login with a lone 0xFE: the 8-byte scramble follows.
    Live old(RoadFlags, user, password);
    EXPECT_EQ(old.Query(QStringLiteral("SELECT CURRENT_USER()"))[0][0], user + "@%");
    admin.Query(QStringLiteral("DROP USER '%1'@'%'").arg(QString::fromLatin1(user)));
}

TEST(MySqlServer, EveryColumnTypeAsReceived)
{
    VELKARO_NEED_MYSQL_SERVER();
    Live live;
    live.Query(QStringLiteral("SET NAMES utf8"));
    const QString table = QString::fromLatin1(tableName("all_types"));
    live.Query(QStringLiteral("DROP TABLE IF EXISTS %1").arg(table));
    live.Query(QStringLiteral(
        "CREATE TABLE %1 (cDecimal DECIMAL(10,2), cTiny TINYINT(1), cTinyU TINYINT(4) UNSIGNED, cShort SMALLINT, "
        "cLong INT NOT NULL AUTO_INCREMENT PRIMARY KEY, cFloat FLOAT, cDouble DOUBLE, cTimestamp TIMESTAMP NULL, "
        "cBig BIGINT, cInt24 MEDIUMINT, cDate DATE, cTime TIME, cDateTime DATETIME, cYear YEAR, cVarChar VARCHAR(20), "
        "cBit BIT(8), cEnum ENUM('a','b'), cSet SET('x','y'), cTinyBlob TINYBLOB, cMediumBlob MEDIUMBLOB, "
        "cLongBlob LONGBLOB, cBlob BLOB, cText TEXT, cChar CHAR(10), cBinary BINARY(4), cVarBinary VARBINARY(8), "
        "cThai VARCHAR(50), UNIQUE KEY (cShort)) CHARACTER SET utf8mb3")
                   .arg(table));
    live.Query(QStringLiteral(
        "INSERT INTO %1 VALUES (12345678.90, 1, 200, -32768, NULL, 1.5, -2.25e10, '2024-02-29 13:14:15', "
        "-9223372036854775808, 8388607, '0000-00-00', '123:04:05', '0000-00-00 00:00:00', 2024, 'Version', "
        "b'10100101', 'b', 'x,y', 'tiny', 'medium', 'long', 'blob', 'text', 'abcde     ', 'ab', 'vb', "
        "'%2')")
                   .arg(table, QString::fromUtf8("ภาษาไทย")));
    live.Query(QStringLiteral("INSERT INTO %1 (cLong) VALUES (NULL)").arg(table));

    live.session.Query(QStringLiteral("SELECT * FROM %1 ORDER BY cLong").arg(table), TextCoding::Utf8);
    ASSERT_EQ(live.session.ReadQueryResult(), 27u);
    const QList<TMySqlFieldInfo> fields = live.session.Fields();
    struct Column {
        const char* name;
        quint8 type;
        quint32 length;
        quint32 charset;
        quint32 flags; // those of interest
        QByteArray value; // row 1, as the server sends it
    };
    const Column columns[] = {
        {"cDecimal", mtNewDecimal, 12, 63, 0, "12345678.90"}, // 246 does not count as numeric
        {"cTiny", mtTiny, 1, 63, NUM_FLAG, "1"},
        {"cTinyU", mtTiny, 4, 63, NUM_FLAG | UNSIGNED_FLAG, "200"},
        {"cShort", mtShort, 6, 63, NUM_FLAG | UNIQUE_KEY_FLAG, "-32768"},
        {"cLong", mtLong, 11, 63, NUM_FLAG | PRI_KEY_FLAG | NOT_NULL_FLAG | AUTO_INCREMENT_FLAG, "1"},
        {"cFloat", mtFloat, 12, 63, NUM_FLAG, "1.5"},
        {"cDouble", mtDouble, 22, 63, NUM_FLAG, "-22500000000"},
        {"cTimestamp", mtTimestamp, 19, 63, 0, "2024-02-29 13:14:15"},
        {"cBig", mtLongLong, 20, 63, NUM_FLAG, "-9223372036854775808"},
        {"cInt24", mtInt24, 9, 63, NUM_FLAG, "8388607"},
        {"cDate", mtDate, 10, 63, 0, "0000-00-00"},
        {"cTime", mtTime, 10, 63, 0, "123:04:05"},
        {"cDateTime", mtDateTime, 19, 63, 0, "0000-00-00 00:00:00"},
        {"cYear", mtYear, 4, 63, NUM_FLAG | UNSIGNED_FLAG, "2024"},
        {"cVarChar", mtVarString, 60, 33, 0, "Version"},
        {"cBit", mtBit, 8, 63, UNSIGNED_FLAG, QByteArray(1, char(0xA5))},
        {"cEnum", mtString, 3, 33, ENUM_FLAG, "b"},
        {"cSet", mtString, 9, 33, SET_FLAG, "x,y"},
        {"cTinyBlob", mtBlob, 255, 63, BLOB_FLAG | BINARY_FLAG, "tiny"},
        {"cMediumBlob", mtBlob, 16777215, 63, BLOB_FLAG | BINARY_FLAG, "medium"},
        {"cLongBlob", mtBlob, 4294967295u, 63, BLOB_FLAG | BINARY_FLAG, "long"},
        {"cBlob", mtBlob, 65535, 63, BLOB_FLAG | BINARY_FLAG, "blob"},
        {"cText", mtBlob, 196605, 33, BLOB_FLAG, "text"},
        {"cChar", mtString, 30, 33, 0, "abcde"}, // the server drops CHAR's trailing blanks
        {"cBinary", mtString, 4, 63, BINARY_FLAG, QByteArray("ab\0\0", 4)},
        {"cVarBinary", mtVarString, 8, 63, BINARY_FLAG, "vb"},
        {"cThai", mtVarString, 150, 33, 0, QString::fromUtf8("ภาษาไทย").toUtf8()},
    };
    ASSERT_EQ(fields.size(), qsizetype(std::size(columns)));
    TMySqlResultSet* rows = live.session.UseResult();
    ASSERT_TRUE(rows->Fetch());
    for (int i = 0; i < fields.size(); ++i) {
        const Column& c = columns[i];
        SCOPED_TRACE(c.name);
        const TMySqlFieldInfo& f = fields[i];
        EXPECT_EQ(f.Name, QByteArray(c.name));
        EXPECT_EQ(f.OrgName, QByteArray(c.name));
        EXPECT_EQ(f.Table, table.toLatin1());
        EXPECT_EQ(f.Database, QByteArray("VelkaroDB"));
        EXPECT_EQ(int(f.Type), int(c.type));
        EXPECT_EQ(f.Length, c.length);
        EXPECT_EQ(f.CharsetNr, c.charset);
        EXPECT_EQ(f.Flags & c.flags, c.flags);
        EXPECT_EQ(f.Flags & NUM_FLAG, c.flags & NUM_FLAG);
        EXPECT_FALSE(rows->IsNull(i));
        EXPECT_EQ(ToHex(rows->Value(i).toByteArray()), ToHex(c.value));
    }
    EXPECT_EQ(fields[3].Scale, 0u);
    EXPECT_EQ(fields[0].Scale, 2u);
    ASSERT_TRUE(rows->Fetch());
    for (int i = 0; i < fields.size(); ++i)
        EXPECT_EQ(rows->IsNull(i), i != 4) << columns[i].name;
    EXPECT_FALSE(rows->Fetch());
    live.session.FreeResult();
    live.Query(QStringLiteral("DROP TABLE %1").arg(table));
}

TEST(MySqlServer, TwoResultSetsAnInsertAndASyntaxError)
{
    VELKARO_NEED_MYSQL_SERVER();
    Live live;
    live.session.Query(QStringLiteral("SELECT 1 AS a; SELECT 'two' AS b, NULL AS c"), TextCoding::Utf8);
    ASSERT_EQ(live.session.ReadQueryResult(), 1u);
    TMySqlResultSet* first = live.session.UseResult();
    ASSERT_TRUE(first->Fetch());
    EXPECT_TRUE(first->Value(0) == QByteArrayView("1"));
    EXPECT_FALSE(first->Fetch());
    ASSERT_TRUE(live.session.MoreResults());
    ASSERT_EQ(live.session.NextResult(), 2u);
    EXPECT_EQ(live.session.Fields()[0].Name, QByteArray("b"));
    live.session.FreeResult(); // the second one unread
    EXPECT_FALSE(live.session.MoreResults());

    const QString table = QString::fromLatin1(tableName("inserts"));
    live.Query(QStringLiteral("CREATE TEMPORARY TABLE %1 (id INT AUTO_INCREMENT PRIMARY KEY, v INT)").arg(table));
    live.session.Query(QStringLiteral("INSERT INTO %1 (v) VALUES (10), (20)").arg(table), TextCoding::Utf8);
    EXPECT_EQ(live.session.ReadQueryResult(), 0u);
    EXPECT_EQ(live.session.AffectedRows(), 2);
    EXPECT_EQ(live.session.InsertId(), 1u);
    EXPECT_EQ(live.session.Info(), QByteArray("Records: 2  Duplicates: 0  Warnings: 0"));

    live.session.Query(QStringLiteral("SELECT 1\nFROM\nWHERE"), TextCoding::Utf8);
    const EMyError e = Raised([&] { live.session.ReadQueryResult(); });
    EXPECT_EQ(e.ErrorCode(), 1064);
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("\n#42000You have an error in your SQL syntax")))
        << S(e.Message());
    EXPECT_EQ(e.LineNumber(), 3);
    EXPECT_FALSE(live.session.Closed());
    EXPECT_EQ(live.Query(QStringLiteral("SELECT 2")), Rows({{"2"}}));
}

TEST(MySqlServer, AKilledSessionIsLostAndClosed)
{
    VELKARO_NEED_MYSQL_SERVER();
    Live victim;
    Live killer;
    victim.session.Query(QStringLiteral("SELECT seq FROM seq_1_to_1000000"), TextCoding::Utf8);
    ASSERT_EQ(victim.session.ReadQueryResult(), 1u);
    TMySqlResultSet* rows = victim.session.UseResult();
    ASSERT_TRUE(rows->Fetch());
    killer.Query(QStringLiteral("KILL %1").arg(victim.session.ThreadId()));
    int lastCode = 0;
    try {
        while (rows->Fetch()) { }
        victim.session.Query(QStringLiteral("SELECT 1"), TextCoding::Utf8);
        victim.session.ReadQueryResult();
    } catch (const EMyError& e) {
        lastCode = e.ErrorCode();
        if (lastCode != 2013) {
            // The server said why first; the next command finds the link gone.
            const EMyError next = Raised([&] {
                victim.session.Query(QStringLiteral("SELECT 1"), TextCoding::Utf8);
                victim.session.ReadQueryResult();
            });
            lastCode = next.ErrorCode();
        }
    }
    EXPECT_EQ(lastCode, 2013);
    EXPECT_TRUE(victim.session.Closed());
}

TEST(MySqlServer, TwentyMebibyteBlobCrossesThePacketSplitBothWays)
{
    VELKARO_NEED_MYSQL_SERVER();
    Live live;
    const QString table = QString::fromLatin1(tableName("blobs"));
    live.Query(QStringLiteral("CREATE TEMPORARY TABLE %1 (b LONGBLOB)").arg(table));
    const qsizetype size = 20 * 1024 * 1024;
    QByteArray blob(size, Qt::Uninitialized);
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (qsizetype i = 0; i < size; ++i)
        blob[i] = alphabet[(i * 31 + i / 977) % 62];
    live.session.Query(
        QStringLiteral("INSERT INTO %1 VALUES ('%2')").arg(table, QString::fromLatin1(blob)), TextCoding::Utf8);
    EXPECT_EQ(live.session.ReadQueryResult(), 0u);
    EXPECT_EQ(live.session.AffectedRows(), 1);

    live.session.Query(QStringLiteral("SELECT b, LENGTH(b) FROM %1").arg(table), TextCoding::Utf8);
    ASSERT_EQ(live.session.ReadQueryResult(), 2u);
    TMySqlResultSet* rows = live.session.UseResult();
    ASSERT_TRUE(rows->Fetch());
    EXPECT_EQ(rows->Length(0), size);
    EXPECT_TRUE(rows->Value(0) == blob);
    EXPECT_TRUE(rows->Value(1) == QByteArray::number(size));
    EXPECT_FALSE(rows->Fetch());
}

TEST(MySqlServer, DrainingALargeResultWithoutReadingIt)
{
    VELKARO_NEED_MYSQL_SERVER();
    Live live;
    live.session.Query(QStringLiteral("SELECT seq, REPEAT('x', 200) FROM seq_1_to_100000"), TextCoding::Utf8);
    ASSERT_EQ(live.session.ReadQueryResult(), 2u);
    ASSERT_TRUE(live.session.UseResult()->Fetch());
    live.session.FreeResult();
    EXPECT_EQ(live.session.Status(), msReady);
    // Claimed never: the rows are drained as well.
    live.session.Query(QStringLiteral("SELECT seq FROM seq_1_to_50000"), TextCoding::Utf8);
    ASSERT_EQ(live.session.ReadQueryResult(), 1u);
    live.session.FreeResult();
    EXPECT_EQ(live.Query(QStringLiteral("SELECT 3")), Rows({{"3"}}));
}

TEST(MySqlServer, CompressedProtocol)
{
    VELKARO_NEED_MYSQL_SERVER();
    Live live(RoadFlags | CLIENT_COMPRESS);
    EXPECT_TRUE(live.session.ClientFlags() & CLIENT_COMPRESS);
    EXPECT_TRUE(live.session.Net().GetCompress());
    EXPECT_EQ(live.Query(QStringLiteral("SELECT 1")), Rows({{"1"}}));
    const Rows big = live.Query(QStringLiteral("SELECT REPEAT('abc', 1000000), seq FROM seq_1_to_3"));
    ASSERT_EQ(big.size(), 3);
    EXPECT_EQ(big[2][0], QByteArray("abc").repeated(1000000));
    const QString text = QString(QStringLiteral("0123456789")).repeated(300000);
    EXPECT_EQ(live.Query(QStringLiteral("SELECT LENGTH('%1')").arg(text)), Rows({{"3000000"}}));
    live.session.Query(QStringLiteral("SELECT seq FROM seq_1_to_20000"), TextCoding::Utf8);
    live.session.ReadQueryResult();
    live.session.FreeResult();
    EXPECT_EQ(live.Query(QStringLiteral("SELECT 4")), Rows({{"4"}}));
}

TEST(MySqlServer, LocalFileNamedByTheStatementIsSent)
{
    VELKARO_NEED_MYSQL_SERVER();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rows.txt"));
    QByteArray content;
    for (int i = 1; i <= 3000; ++i)
        content += QByteArray::number(i) + "\tline " + QByteArray::number(i) + "\n";
    WriteFile(path, content);
    Live live;
    const QString table = QString::fromLatin1(tableName("loaded"));
    live.Query(QStringLiteral("CREATE TEMPORARY TABLE %1 (n INT, t VARCHAR(20))").arg(table));
    live.session.Query(QStringLiteral("LOAD DATA LOCAL INFILE '%1' INTO TABLE %2").arg(path, table), TextCoding::Utf8);
    EXPECT_EQ(live.session.ReadQueryResult(), 0u);
    EXPECT_EQ(live.session.AffectedRows(), 3000);
    EXPECT_EQ(live.Query(QStringLiteral("SELECT COUNT(*), MAX(t) FROM %1").arg(table)), Rows({{"3000", "line 999"}}));
}
