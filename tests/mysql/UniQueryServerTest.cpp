// The connection and query components against the throwaway MariaDB server
// that ctest starts, as the update client uses them.

#include "mysql/UniQuery.h"

#include "core/Exceptions.h"
#include "data/Provider.h"
#include "mysql/MyError.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySQLUniProvider.h"
#include "mysql/UniConnection.h"
#include "support/Fixtures.h"
#include "support/MySqlTestServer.h"
#include "support/Raised.h"

#include <QCoreApplication>

#include <cmath>

#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

using Rows = QList<QStringList>;

// The update client's connection, pointed at the test server.
struct Db {
    TMySQLUniProvider provider;
    TUniConnection connection;

    explicit Db(const QString& password = QString::fromLatin1(TestServer().password))
    {
        const MySqlTestServer& s = TestServer();
        connection.SetProviderName(QStringLiteral("MySQL"));
        connection.SetServer(QString::fromLatin1(s.host));
        connection.SetPort(s.port);
        connection.SetDatabase(QString::fromLatin1(s.database));
        connection.SetUsername(QString::fromLatin1(s.user));
        connection.SetPassword(password);
        connection.SetSpecificOptions({QStringLiteral("MySQL.UseUnicode=True")});
    }
    // Every row of Sql, each value as a string.
    Rows Select(const QString& sql)
    {
        TUniQuery query;
        query.SetConnection(&connection);
        query.SQL() = {sql};
        query.Open();
        return RowsOf(query);
    }
    void Run(const QString& sql)
    {
        TUniQuery query;
        query.SetConnection(&connection);
        query.SQL() = {sql};
        query.Execute();
    }
    static Rows RowsOf(TDataSet& data)
    {
        Rows rows;
        for (data.First(); !data.Eof(); data.Next()) {
            QStringList row;
            for (int i = 0; i < data.FieldCount(); ++i)
                row.append(data.Fields(i)->AsString());
            rows.append(row);
        }
        return rows;
    }
    TMySQLConnection* Native() const { return static_cast<TMySQLConnection*>(connection.InternalConnection()); }
};

QString tableName(const char* stem)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(stem)).arg(QCoreApplication::applicationPid());
}

} // namespace

TEST(UniQueryServer, LoginStartsTheSessionInUtf8AndAWrongPasswordLeavesItClosed)
{
    VELKARO_NEED_MYSQL_SERVER();
    Db db;
    db.connection.Connect();
    ASSERT_TRUE(db.connection.Connected());
    EXPECT_GE(db.Native()->ServerPrimaryVer(), 5);
    EXPECT_EQ(db.Select(QStringLiteral("SELECT @@character_set_client, @@character_set_results, "
                                       "@@character_set_connection")),
        Rows({{"utf8mb3", "utf8mb3", "utf8mb3"}}));

    Db wrong(QStringLiteral("wrong"));
    const EMyError e = Raised([&] { wrong.connection.Connect(); });
    EXPECT_EQ(e.ErrorCode(), 1045);
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("\n#28000Access denied for user 'sa'@"))) << S(e.Message());
    EXPECT_FALSE(wrong.connection.Connected());
    // The query's implicit connect fails the same way and stays closed.
    TUniQuery query;
    query.SetConnection(&wrong.connection);
    query.SQL() = {QStringLiteral("Select * From tbVersionControl")};
    EXPECT_EQ(Raised([&] { query.Open(); }).ErrorCode(), 1045);
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(wrong.connection.ConnectCount(), 0);
}

TEST(UniQueryServer, EveryColumnTypeAsAField)
{
    VELKARO_NEED_MYSQL_SERVER();
    Db db;
    const QString table = tableName("uni_types");
    db.Run(QStringLiteral("DROP TABLE IF EXISTS %1").arg(table));
    db.Run(QStringLiteral(
        "CREATE TABLE %1 (cDecimal DECIMAL(10,2), cTiny TINYINT(1), cTinyU TINYINT(4) UNSIGNED, cShort SMALLINT, "
        "cLong INT NOT NULL AUTO_INCREMENT PRIMARY KEY, cFloat FLOAT, cDouble DOUBLE, cTimestamp TIMESTAMP NULL, "
        "cBig BIGINT, cInt24 MEDIUMINT, cDate DATE, cTime TIME, cDateTime DATETIME, cYear YEAR, cVarChar VARCHAR(20), "
        "cBit BIT(8), cEnum ENUM('a','b'), cSet SET('x','y'), cTinyBlob TINYBLOB, cMediumBlob MEDIUMBLOB, "
        "cLongBlob LONGBLOB, cBlob BLOB, cText TEXT, cChar CHAR(10), cBinary BINARY(4), cVarBinary VARBINARY(8), "
        "cThai VARCHAR(50), cNewDate DATE, UNIQUE KEY (cShort)) CHARACTER SET utf8mb3")
               .arg(table));
    // 20 MiB: the statement goes out, and the row comes back, split at 0xFFFFFF.
    const qsizetype size = 20 * 1024 * 1024;
    QByteArray blob(size, Qt::Uninitialized);
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (qsizetype i = 0; i < size; ++i)
        blob[i] = alphabet[(i * 31 + i / 977) % 62];
    db.Run(QStringLiteral(
        "INSERT INTO %1 VALUES (12345678.90, 1, 200, -32768, NULL, 1.5, -2.25e10, '2024-02-29 13:14:15', "
        "-9223372036854775808, 8388607, '0000-00-00', '123:04:05', '0000-00-00 00:00:00', 2024, 'Version', "
        "b'10100101', 'b', 'x,y', 'tiny', 'medium', '%2', 'blob', 'ข้อความ', 'abcde     ', 'ab', 'vb', "
        "'ภาษาไทย', '2024-12-31')")
               .arg(table, QString::fromLatin1(blob)));
    db.Run(QStringLiteral("INSERT INTO %1 (cLong) VALUES (NULL)").arg(table));

    TUniQuery query;
    query.SetConnection(&db.connection);
    query.SQL() = {QStringLiteral("SELECT * FROM %1 ORDER BY cLong").arg(table)};
    query.Open();
    struct Column {
        const char* name;
        TFieldType type;
        int size;
        QString value; // row 1, as a string
    };
    using enum TFieldType;
    const Column columns[] = {
        {"cDecimal", ftFloat, 0, "12345678.9"},
        {"cTiny", ftBoolean, 0, "True"},
        {"cTinyU", ftByte, 0, "200"},
        {"cShort", ftSmallint, 0, "-32768"},
        {"cLong", ftInteger, 0, "1"},
        {"cFloat", ftFloat, 0, "1.5"},
        {"cDouble", ftFloat, 0, "-22500000000"},
        {"cTimestamp", ftDateTime, 0, "29/02/2024 13:14:15"},
        {"cBig", ftLargeint, 0, "-9223372036854775808"},
        {"cInt24", ftInteger, 0, "8388607"},
        {"cDate", ftDate, 0, ""}, // the zero date reads as null
        {"cTime", ftTime, 0, QString()}, // checked below: more than a day
        {"cDateTime", ftDateTime, 0, ""},
        {"cYear", ftWord, 0, "2024"},
        {"cVarChar", ftWideString, 20, "Version"},
        {"cBit", ftLargeint, 0, "165"},
        {"cEnum", ftWideString, 1, "b"},
        {"cSet", ftWideString, 3, "x,y"},
        {"cTinyBlob", ftBlob, 0, "tiny"},
        {"cMediumBlob", ftBlob, 0, "medium"},
        {"cLongBlob", ftBlob, 0, QString()}, // checked below: 20 MiB
        {"cBlob", ftBlob, 0, "blob"},
        {"cText", ftWideMemo, 0, U("ข้อความ")},
        {"cChar", ftWideString, 10, "abcde"},
        {"cBinary", ftWideString, 4, QString()},
        {"cVarBinary", ftWideString, 8, "vb"},
        {"cThai", ftWideString, 50, U("ภาษาไทย")},
        {"cNewDate", ftDate, 0, "31/12/2024"},
    };
    ASSERT_EQ(query.FieldCount(), int(std::size(columns)));
    ASSERT_EQ(query.RecordCount(), 2);
    query.First();
    for (int i = 0; i < query.FieldCount(); ++i) {
        const Column& c = columns[i];
        SCOPED_TRACE(c.name);
        const TField* f = query.Fields(i);
        EXPECT_EQ(f->FieldName(), QLatin1String(c.name));
        EXPECT_EQ(FieldTypeName(f->DataType()), FieldTypeName(c.type));
        EXPECT_EQ(f->Size(), c.size);
        if (!c.value.isNull()) {
            EXPECT_EQ(f->AsString(), c.value);
        }
    }
    EXPECT_TRUE(query.FieldByName(QStringLiteral("cDate"))->IsNull());
    EXPECT_TRUE(query.FieldByName(QStringLiteral("cDateTime"))->IsNull());
    EXPECT_DOUBLE_EQ(query.FieldByName(QStringLiteral("cTime"))->AsFloat(), (123 * 3600 + 4 * 60 + 5) / 86400.0);
    EXPECT_TRUE(query.FieldByName(QStringLiteral("cChar"))->Fixed());
    EXPECT_EQ(query.FieldByName(QStringLiteral("cBinary"))->Value().ToString(), QString::fromLatin1("ab\0\0", 4));
    const QByteArray read = query.FieldByName(QStringLiteral("cLongBlob"))->AsBytes();
    EXPECT_EQ(read.size(), size);
    EXPECT_TRUE(read == blob);

    query.Next();
    for (int i = 0; i < query.FieldCount(); ++i)
        EXPECT_EQ(query.Fields(i)->IsNull(), i != 4) << columns[i].name;
    EXPECT_EQ(query.PSGetTableName(), table);
    query.Close();
    db.Run(QStringLiteral("DROP TABLE %1").arg(table));
}

TEST(UniQueryServer, StatementsWithAndWithoutResults)
{
    VELKARO_NEED_MYSQL_SERVER();
    Db db;
    const QString table = tableName("uni_rows");
    db.Run(QStringLiteral("CREATE TEMPORARY TABLE %1 (id INT AUTO_INCREMENT PRIMARY KEY, v INT)").arg(table));

    TUniQuery query;
    query.SetName(QStringLiteral("qryAnyPropose"));
    query.SetConnection(&db.connection);
    // Two results: the first fills the dataset, the second is read and dropped.
    query.SQL() = {QStringLiteral("SELECT 1 AS a; SELECT 'two' AS b")};
    query.Open();
    EXPECT_EQ(Db::RowsOf(query), Rows({{"1"}}));
    EXPECT_EQ(query.Fields(0)->FieldName(), "a");

    // An INSERT opened as a dataset runs, then says it has no rows to show.
    query.Close();
    query.SQL() = {QStringLiteral("INSERT INTO %1 (v) VALUES (10)").arg(table)};
    const EDatabaseError e = Raised<EDatabaseError>([&] { query.Open(); });
    EXPECT_EQ(e.Message(), "Query must return exactly result set - use Execute");
    EXPECT_FALSE(query.Active());
    query.SQL() = {QStringLiteral("INSERT INTO %1 (v) VALUES (20), (30)").arg(table)};
    query.Execute();
    EXPECT_EQ(query.RowsAffected(), 2);
    EXPECT_FALSE(query.Active());

    // A syntax error names its line.
    query.Close();
    query.SQL() = {QStringLiteral("SELECT v"), QStringLiteral("FROM %1").arg(table), QStringLiteral("WHERE")};
    const EMyError syntax = Raised([&] { query.Open(); });
    EXPECT_EQ(syntax.ErrorCode(), 1064);
    EXPECT_TRUE(syntax.Message().startsWith(QStringLiteral("\n#42000You have an error in your SQL syntax")))
        << S(syntax.Message());
    EXPECT_EQ(syntax.LineNumber(), 3);
    EXPECT_TRUE(db.connection.Connected()) << "a server error leaves the session open";

    EXPECT_EQ(db.Select(QStringLiteral("SELECT v FROM %1 ORDER BY v").arg(table)), Rows({{"10"}, {"20"}, {"30"}}));
}

TEST(UniQueryServer, ASecondOpenReusesTheSession)
{
    VELKARO_NEED_MYSQL_SERVER();
    Db db;
    TUniQuery query;
    query.SetConnection(&db.connection);
    query.SQL() = {QStringLiteral("SELECT CONNECTION_ID()")};
    query.Open();
    const QString first = query.Fields(0)->AsString();
    EXPECT_EQ(db.connection.ConnectCount(), 1);
    query.Close();
    EXPECT_EQ(db.connection.ConnectCount(), 0);
    EXPECT_TRUE(db.connection.Connected()) << "closing the query keeps the session";
    query.Open();
    EXPECT_EQ(query.Fields(0)->AsString(), first);
    query.PSReset();
    EXPECT_EQ(query.Fields(0)->AsString(), first);
}

TEST(UniQueryServer, AKilledSessionFailsOnceThenTheNextOpenReconnects)
{
    VELKARO_NEED_MYSQL_SERVER();
    Db db;
    Db killer;
    TUniQuery query;
    query.SetConnection(&db.connection);
    query.SQL() = {QStringLiteral("SELECT CONNECTION_ID()")};
    query.Open();
    const QString id = query.Fields(0)->AsString();
    killer.Run(QStringLiteral("KILL %1").arg(id));

    const EMyError lost = Raised([&] { query.PSReset(); });
    EXPECT_TRUE(lost.IsFatal()) << lost.ErrorCode() << S(lost.Message());
    EXPECT_FALSE(db.connection.Connected());
    EXPECT_FALSE(query.Active());

    query.Open();
    EXPECT_TRUE(db.connection.Connected());
    EXPECT_NE(query.Fields(0)->AsString(), id);
}

TEST(UniQueryServer, TransactionsAsTheProviderStartsThem)
{
    VELKARO_NEED_MYSQL_SERVER();
    Db db;
    const QString table = tableName("uni_tx");
    db.Run(QStringLiteral("CREATE TEMPORARY TABLE %1 (v INT) ENGINE=InnoDB").arg(table));
    TUniQuery query;
    query.SetConnection(&db.connection);
    EXPECT_FALSE(query.PSInTransaction());
    query.PSStartTransaction();
    query.SQL() = {QStringLiteral("INSERT INTO %1 VALUES (1)").arg(table)};
    query.Execute();
    EXPECT_TRUE(query.PSInTransaction());
    db.connection.Rollback();
    EXPECT_FALSE(query.PSInTransaction());
    EXPECT_EQ(db.Select(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)), Rows({{"0"}}));
}
