#include "mysql/MySQLOptions.h"
#include "mysql/MySQLUniProvider.h"

#include "core/Exceptions.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

using namespace velkaro;

namespace {

const QString Connection = QString::fromLatin1(MySQLConnectionClass);

// The SetProp calls an import makes, in order.
std::vector<std::pair<int, Variant>> Import(
    const TOptionsList& list, const QStringList& lines, const QString& className = Connection)
{
    std::vector<std::pair<int, Variant>> calls;
    list.ImportOptions(lines, className, [&](int id, const Variant& v) { calls.emplace_back(id, v); });
    return calls;
}

Variant ValueOf(const std::vector<std::pair<int, Variant>>& calls, int id)
{
    for (const auto& [callId, value] : calls) {
        if (callId == id)
            return value;
    }
    ADD_FAILURE() << "no SetProp for " << id;
    return Variant();
}

QString ImportError(const QStringList& lines)
{
    try {
        Import(MySQLConnectionOptions(), lines);
    } catch (const EDatabaseError& e) {
        return e.Message();
    }
    return QString();
}

} // namespace

TEST(Options, TheConnectionOptionsInListOrderWithTheirDefaults)
{
    struct Expected {
        const char* name;
        int id;
        Variant value;
    };
    const QString empty;
    const Expected expected[] = {
        {"ConnectionTimeout", 1001, Variant(15)},
        {"Charset", 1009, Variant(empty)},
        {"UseUnicode", 1018, Variant(false)},
        {"OptimizedBigint", 1033, Variant(false)},
        {"NullForZeroDateValue", 1041, Variant(false)},
        {"Compress", 1007, Variant(false)},
        {"Protocol", 1011, Variant(0)},
        {"Embedded", 1030, Variant(false)},
        {"Direct", 1031, Variant(true)},
        {"EmbeddedParams", 1019, Variant(empty)},
        {"SSLChipherList", 1020, Variant(empty)},
        {"SSLCACert", 1021, Variant(empty)},
        {"SSLKey", 1022, Variant(empty)},
        {"SSLCert", 1023, Variant(empty)},
        {"HttpUrl", 57, Variant(empty)},
        {"HttpUsername", 58, Variant(empty)},
        {"HttpPassword", 59, Variant(empty)},
        {"ProxyHostname", 60, Variant(empty)},
        {"ProxyPort", 61, Variant(0)},
        {"ProxyUsername", 62, Variant(empty)},
        {"ProxyPassword", 63, Variant(empty)},
    };
    const TOptionsList& list = MySQLConnectionOptions();
    EXPECT_EQ(list.Prefix(), QStringLiteral("MySQL"));
    ASSERT_EQ(list.Options().size(), std::size(expected));
    const auto calls = Import(list, {});
    ASSERT_EQ(calls.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(list.Options()[i]->Name(), QString::fromLatin1(expected[i].name));
        EXPECT_EQ(calls[i].first, expected[i].id);
        EXPECT_EQ(calls[i].second.VType(), expected[i].value.VType());
        EXPECT_EQ(calls[i].second, expected[i].value);
    }
    // Not for other classes.
    EXPECT_TRUE(Import(list, {QStringLiteral("UseUnicode=True")}, QStringLiteral("TMySQLRecordset")).empty());
}

TEST(Options, TheDataSetOptionsWithTheirDefaults)
{
    const TOptionsList& list = MySQLDataSetOptions();
    EXPECT_EQ(list.Prefix(), QStringLiteral("MySQL"));
    const auto calls = Import(list, {}, QString::fromLatin1(MySQLRecordsetClass));
    const std::vector<std::pair<int, Variant>> expected = {
        {prop::FetchAll, Variant(true)},
        {prop::CommandTimeout, Variant(0)},
        {prop::FieldsAsString, Variant(false)},
        {prop::NullForZeroDate, Variant(true)},
        {prop::CheckRowVersion, Variant(false)},
        {prop::EnableBoolean, Variant(true)},
        {prop::CreateConnection, Variant(true)},
        {prop::BinaryAsString, Variant(true)},
    };
    EXPECT_EQ(calls, expected);
    QStringList names;
    for (const auto& option : list.Options())
        names << option->Name();
    EXPECT_EQ(names.join(u','),
        QStringLiteral(
            "FetchAll,CommandTimeout,FieldsAsString,NullForZeroDate,CheckRowVersion,EnableBoolean,CreateConnection,"
            "BinaryAsString"));
    // The command takes only its timeout.
    const auto command = Import(list, {QStringLiteral("CommandTimeout=30"), QStringLiteral("FetchAll=False")},
        QString::fromLatin1(MySQLCommandClass));
    EXPECT_EQ(command, (std::vector<std::pair<int, Variant>> {{prop::CommandTimeout, Variant(30)}}));
}

TEST(Options, SpecificOptionLines)
{
    struct Case {
        const char* name;
        QStringList lines;
        bool useUnicode;
    };
    const Case cases[] = {
        {"with the prefix", {QStringLiteral("MySQL.UseUnicode=True")}, true},
        {"without a prefix", {QStringLiteral("UseUnicode=True")}, true},
        {"lower case", {QStringLiteral("mysql.useunicode=true")}, true},
        {"value trimmed", {QStringLiteral("UseUnicode=  TRUE ")}, true},
        {"another prefix", {QStringLiteral("Other.UseUnicode=True")}, false},
        {"empty prefix", {QStringLiteral(".UseUnicode=True")}, false},
        {"name not trimmed", {QStringLiteral("UseUnicode =True")}, false},
        {"no equals sign", {QStringLiteral("UseUnicode")}, false},
        {"first line wins", {QStringLiteral("UseUnicode=False"), QStringLiteral("MySQL.UseUnicode=True")}, false},
        {"first matching line wins", {QStringLiteral("Other.UseUnicode=False"), QStringLiteral("UseUnicode=True")},
            true},
        {"a dot after the equals sign", {QStringLiteral("UseUnicode=True"), QStringLiteral("Charset=a.b")}, true},
        {"nothing", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ValueOf(Import(MySQLConnectionOptions(), c.lines), prop::UseUnicode), Variant(c.useUnicode));
    }
    // The prefix ends at the first "." only when it comes before the "=".
    auto calls = Import(MySQLConnectionOptions(), {QStringLiteral("Charset=latin1.x"), QStringLiteral("a=b.c")});
    EXPECT_EQ(ValueOf(calls, prop::Charset), Variant(QStringLiteral("latin1.x")));
    calls = Import(MySQLConnectionOptions(),
        {QStringLiteral("MySQL.ConnectionTimeout= 30 "), QStringLiteral("Protocol=mptcp"),
            QStringLiteral("MySQL.ProxyPort=-1")});
    EXPECT_EQ(ValueOf(calls, prop::ConnectionTimeout), Variant(30));
    EXPECT_EQ(ValueOf(calls, prop::Protocol), Variant(int(mpTCP)));
    EXPECT_EQ(ValueOf(calls, prop::ProxyPort), Variant(-1));
}

TEST(Options, ValuesThatDoNotFitTheirOption)
{
    struct Case {
        QString line;
        const char* message;
    };
    const Case cases[] = {
        {QStringLiteral("MySQL.UseUnicode=yes"), "Invalid value: yes for option UseUnicode"},
        {QStringLiteral("UseUnicode="), "Invalid value:  for option UseUnicode"},
        {QStringLiteral("UseUnicode=1"), "Invalid value: 1 for option UseUnicode"},
        {QStringLiteral("ConnectionTimeout=15s"), "Invalid value: 15s for option ConnectionTimeout"},
        {QStringLiteral("ConnectionTimeout=99999999999"), "Invalid value: 99999999999 for option ConnectionTimeout"},
        {QStringLiteral("ConnectionTimeout="), "Invalid value:  for option ConnectionTimeout"},
        {QStringLiteral("Protocol=tcp"), "Invalid value: tcp for option Protocol"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(ImportError({c.line}), QString::fromLatin1(c.message));
    }
    // A line for an option that is not in the list is no error.
    EXPECT_EQ(ImportError({QStringLiteral("Unknown=whatever")}), QString());
}

TEST(Options, TheMySQLProviderSetsCheckPrecisionFirst)
{
    const TMySQLUniProvider provider;
    std::vector<std::pair<int, Variant>> calls;
    const auto record = [&](int id, const Variant& v) { calls.emplace_back(id, v); };
    provider.SetConnectionProps(Connection, {QStringLiteral("MySQL.UseUnicode=True")}, record);
    ASSERT_EQ(calls.size(), 1 + MySQLConnectionOptions().Options().size());
    EXPECT_EQ(calls[0], std::make_pair(prop::CheckPrecision, Variant(true)));
    EXPECT_EQ(calls[1], std::make_pair(prop::ConnectionTimeout, Variant(15)));
    EXPECT_EQ(ValueOf(calls, prop::UseUnicode), Variant(true));

    calls.clear();
    provider.SetDataSetProps(QString::fromLatin1(MySQLRecordsetClass), {}, record);
    EXPECT_EQ(calls.size(), MySQLDataSetOptions().Options().size());
    EXPECT_EQ(calls[0], std::make_pair(prop::FetchAll, Variant(true)));
}
