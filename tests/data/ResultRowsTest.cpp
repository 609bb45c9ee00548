// What a query's record set builds on: rows handed in their stored form,
// field names made unique, key fields from the column attributes.
#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "data/Provider.h"
#include "data/RowAppender.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <functional>

using namespace velkaro;
using enum TFieldType;

namespace {

// A dataset that fills itself through its appender, as a record set does.
class FetchingQuery : public TDataSet {
public:
    using TDataSet::TDataSet;
    QList<TFieldDef> defs;
    std::function<void(RowAppender&)> fetch;
    void AppendLater() { AppendRows(); }

protected:
    void InternalOpen() override
    {
        FieldDefs() = defs;
        fetch(AppendRows());
    }
};

double OleDate(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0)
{
    return double(QDate(1899, 12, 30).daysTo(QDate(y, m, d))) + (hh * 3600 + mm * 60 + ss) / 86400.0;
}

} // namespace

TEST(ResultRows, StoredValuesMakeTheRecordsThatWritingTheFieldsMakes)
{
    struct Case {
        TFieldDef def;
        std::function<void(RowAppender&)> add;
        Variant given; // the same value through SetValue
    };
    const QList<Case> cases = {
        {{"S", ftString, 4}, [](RowAppender& r) { r.AddBytes("\xA1\xA2\xA3\xA4\xA5"); },
            Variant::FromBytes("\xA1\xA2\xA3\xA4\xA5")},
        {{"C", ftString, 10, false, true}, [](RowAppender& r) { r.AddBytes("ab  "); }, Variant(QStringLiteral("ab  "))},
        {{"W", ftWideString, 3}, [](RowAppender& r) { r.AddText(u"กขคง"); }, Variant(QStringLiteral("กขคง"))},
        {{"WM", ftWideMemo}, [](RowAppender& r) { r.AddText(QString(300, u'x')); }, Variant(QString(300, u'x'))},
        {{"I1", ftShortint}, [](RowAppender& r) { r.AddInteger(-128); }, Variant(-128)},
        {{"U1", ftByte}, [](RowAppender& r) { r.AddInteger(255); }, Variant(255)},
        {{"I2", ftSmallint}, [](RowAppender& r) { r.AddInteger(-32768); }, Variant(-32768)},
        {{"U2", ftWord}, [](RowAppender& r) { r.AddInteger(65535); }, Variant(65535)},
        {{"I4", ftInteger}, [](RowAppender& r) { r.AddInteger(-2147483648LL); }, Variant(-2147483647 - 1)},
        {{"U4", ftLongWord}, [](RowAppender& r) { r.AddInteger(4294967295LL); }, Variant::FromInt64(4294967295LL)},
        {{"I8", ftLargeint}, [](RowAppender& r) { r.AddInteger(-9223372036854775807LL); },
            Variant::FromInt64(-9223372036854775807LL)},
        {{"B", ftBoolean}, [](RowAppender& r) { r.AddInteger(7); }, Variant(true)},
        {{"D", ftBCD, 4}, [](RowAppender& r) { r.AddInteger(-123457); }, Variant::FromCurrency(-123457)},
        {{"E", ftFMTBcd, 2}, [](RowAppender& r) { r.AddBytes("-12.50"); }, Variant(QStringLiteral("-12.50"))},
        {{"F", ftFloat}, [](RowAppender& r) { r.AddFloat(-1.25e-7); }, Variant(-1.25e-7)},
        {{"DA", ftDate}, [](RowAppender& r) { r.AddFloat(OleDate(2024, 2, 29, 13)); },
            Variant::FromDate(OleDate(2024, 2, 29, 13))},
        {{"T", ftTime}, [](RowAppender& r) { r.AddFloat(-OleDate(1899, 12, 31, 1, 2, 3)); },
            Variant::FromDate(-OleDate(1899, 12, 31, 1, 2, 3))},
        {{"DT", ftDateTime}, [](RowAppender& r) { r.AddFloat(OleDate(2024, 1, 5, 7, 8, 9)); },
            Variant::FromDate(OleDate(2024, 1, 5, 7, 8, 9))},
        {{"BY", ftBytes, 2}, [](RowAppender& r) { r.AddBytes(QByteArray("\0\1\2", 3)); },
            Variant::FromBytes(QByteArray("\0\1\2", 3))},
        {{"VB", ftVarBytes, 8}, [](RowAppender& r) { r.AddBytes(""); }, Variant::FromBytes(QByteArray(""))},
        {{"BL", ftBlob}, [](RowAppender& r) { r.AddBytes(QByteArray(70000, '\x7F')); },
            Variant::FromBytes(QByteArray(70000, '\x7F'))},
        {{"M", ftMemo}, [](RowAppender& r) { r.AddNull(); }, Variant::Null()},
    };
    FetchingQuery query;
    TClientDataSet written;
    for (const Case& c : cases) {
        query.defs.append(c.def);
        written.FieldDefs().append(c.def);
    }
    // Two rows: the values, then one where only the first field is given.
    query.fetch = [&](RowAppender& rows) {
        for (const Case& c : cases)
            c.add(rows);
        rows.EndRow();
        cases[0].add(rows);
        rows.EndRow();
    };
    query.Open();
    written.CreateDataSet();
    written.Append();
    for (int i = 0; i < cases.size(); ++i)
        written.Fields(i)->SetValue(cases[i].given);
    written.Post();
    written.Append();
    written.Fields(0)->SetValue(cases[0].given);
    written.Post();

    ASSERT_EQ(query.RecordCount(), 2);
    EXPECT_EQ(query.PacketBytes(), written.PacketBytes());
    written.First();
    for (int i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].def.Name.toStdString());
        EXPECT_EQ(query.Fields(i)->AsString(), written.Fields(i)->AsString());
    }
    EXPECT_EQ(query.FieldByName(QStringLiteral("C"))->AsString(), QStringLiteral("ab"));
    EXPECT_EQ(query.FieldByName(QStringLiteral("DA"))->AsString(), QStringLiteral("29/02/2024"));
    query.Next();
    EXPECT_FALSE(query.Fields(0)->IsNull());
    EXPECT_TRUE(query.Fields(1)->IsNull());
}

TEST(ResultRows, ValuesThatDoNotFitAreRefusedAndTheRowStaysAtTheirField)
{
    struct Case {
        const char* name;
        TFieldDef def;
        std::function<void(RowAppender&)> add;
        QString message; // empty: only that it raises
    };
    const Case cases[] = {
        {"integer into a text", {"N", ftWideString, 10}, [](RowAppender& r) { r.AddInteger(1); },
            QStringLiteral("Field 'N' (ftWideString) does not take AddInteger")},
        {"text into 8-bit text", {"N", ftString, 10}, [](RowAppender& r) { r.AddText(u"x"); },
            QStringLiteral("Field 'N' (ftString) does not take AddText")},
        {"float into an integer", {"N", ftInteger}, [](RowAppender& r) { r.AddFloat(1); }, {}},
        {"bytes into a date", {"N", ftDate}, [](RowAppender& r) { r.AddBytes("2024-01-01"); }, {}},
        {"byte out of range", {"N", ftByte}, [](RowAppender& r) { r.AddInteger(256); },
            QStringLiteral("Value 256 is out of range for field 'N' (0 to 255)")},
        {"longword negative", {"N", ftLongWord}, [](RowAppender& r) { r.AddInteger(-1); }, {}},
        {"float not finite", {"N", ftFloat},
            [](RowAppender& r) { r.AddFloat(std::numeric_limits<double>::infinity()); }, {}},
        {"date 1e300", {"N", ftDate}, [](RowAppender& r) { r.AddFloat(1e300); },
            QStringLiteral("Value 1.0000000000000001e+300 is out of range for field 'N'")},
        {"date-time NaN", {"N", ftDateTime}, [](RowAppender& r) { r.AddFloat(std::nan("")); }, {}},
        {"fmtbcd not decimal", {"N", ftFMTBcd}, [](RowAppender& r) { r.AddBytes("1e5"); }, {}},
        {"fmtbcd empty", {"N", ftFMTBcd}, [](RowAppender& r) { r.AddBytes(""); }, {}},
        {"one value too many", {"N", ftInteger},
            [](RowAppender& r) {
                r.AddInteger(1);
                r.AddInteger(2);
            },
            QStringLiteral("A row has 1 fields; no field is left for another value")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FetchingQuery query;
        query.defs = {c.def};
        bool raised = false;
        query.fetch = [&](RowAppender& rows) {
            try {
                c.add(rows);
            } catch (const Exception& e) {
                raised = true;
                if (!c.message.isEmpty()) {
                    EXPECT_EQ(e.Message(), c.message);
                }
            }
            // The caller may go on: the row ends with the field left null.
            rows.EndRow();
        };
        query.Open();
        EXPECT_TRUE(raised);
        ASSERT_EQ(query.RecordCount(), 1);
        if (std::string(c.name) != "one value too many") {
            EXPECT_TRUE(query.Fields(0)->IsNull());
        }
    }
}

TEST(ResultRows, AnOpeningThatFailsLeavesNoRows)
{
    FetchingQuery query;
    query.setObjectName(QStringLiteral("qryTest"));
    query.defs = {{QStringLiteral("N"), ftInteger}, {QStringLiteral("S"), ftWideString, 5}};
    query.fetch = [](RowAppender& rows) {
        rows.AddInteger(1);
        rows.EndRow();
        rows.AddInteger(2); // the fetch stops here
    };
    try {
        query.Open();
        ADD_FAILURE() << "opened";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("qryTest: A row was left unfinished"));
    }
    EXPECT_FALSE(query.Active());
    query.fetch = [](RowAppender& rows) {
        rows.AddInteger(3);
        rows.EndRow();
    };
    query.Open();
    ASSERT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(query.Fields(0)->AsInteger(), 3);
    // An open dataset takes no more rows this way.
    EXPECT_THROW(query.AppendLater(), EDatabaseError);
}

TEST(ResultRows, ManyRowsSurviveThePacket)
{
    // More rows than one storage chunk holds, with a large value among them.
    FetchingQuery query;
    query.defs = {{QStringLiteral("ID"), ftInteger}, {QStringLiteral("Name"), ftWideString, 20},
        {QStringLiteral("Blob"), ftBlob}};
    constexpr int Rows = 20000;
    query.fetch = [](RowAppender& rows) {
        QString name;
        for (int i = 0; i < Rows; ++i) {
            name = QStringLiteral("name %1").arg(i);
            rows.AddInteger(i);
            rows.AddText(name);
            if (i == 777)
                rows.AddBytes(QByteArray(300000, 'b'));
            rows.EndRow();
        }
    };
    query.Open();
    TClientDataSet copy;
    copy.SetData(Variant::FromBytes(query.PacketBytes()));
    ASSERT_EQ(copy.RecordCount(), Rows);
    for (int i : {0, 776, 777, 778, Rows - 1}) {
        SCOPED_TRACE(i);
        copy.SetRecNo(i + 1);
        EXPECT_EQ(copy.Fields(0)->AsInteger(), i);
        EXPECT_EQ(copy.Fields(1)->AsString(), QStringLiteral("name %1").arg(i));
        EXPECT_EQ(copy.Fields(2)->AsBytes().size(), i == 777 ? 300000 : 0);
    }
}

TEST(ResultRows, ResultFieldNamesAreMadeUnique)
{
    struct Case {
        const char* name;
        QStringList columns;
        QStringList fields;
    };
    const Case cases[] = {
        {"all distinct", {"ID", "Name"}, {"ID", "Name"}},
        {"a.ID, b.ID", {"ID", "ID"}, {"ID", "ID_1"}},
        {"three alike, case apart", {"id", "ID", "Id"}, {"id", "ID_1", "Id_2"}},
        {"a later column holds the next name", {"ID", "ID", "ID_1"}, {"ID", "ID_2", "ID_1"}},
        {"an earlier column holds it", {"ID_1", "ID", "ID"}, {"ID_1", "ID", "ID_2"}},
        {"renamed name taken again", {"A", "A", "A_1", "A_1"}, {"A", "A_2", "A_1", "A_1_1"}},
        {"empty names", {"", "Column1", ""}, {"Column1", "Column1_1", "Column3"}},
        {"blanks and ; kept", {" a", "a;b", " a"}, {" a", "a;b", " a_1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ResultFieldNames(c.columns), c.fields);
    }
}

TEST(ResultRows, AResultWithTwoColumnsOfOneNameOpensAndTravels)
{
    // SELECT a.ID, b.ID, a.Name ... as a record set builds its fields.
    QObject window;
    auto* query = new FetchingQuery(&window);
    const QStringList names = ResultFieldNames({"ID", "ID", "Name"});
    query->defs = {{names[0], ftInteger}, {names[1], ftInteger}, {names[2], ftWideString, 20}};
    query->defs[0].Key = query->defs[0].PrimaryKey = true;
    query->defs[2].Key = true;
    query->fetch = [](RowAppender& rows) {
        rows.AddInteger(1);
        rows.AddInteger(2);
        rows.AddText(u"one");
        rows.EndRow();
    };
    auto* provider = new TDataSetProvider(&window);
    provider->SetName(QStringLiteral("dspAnyPropose"));
    provider->SetDataSet(query);
    auto* client = new TClientDataSet(&window);
    client->SetProviderName(QStringLiteral("dspAnyPropose"));
    client->SetData(client->DataRequest(Variant()));
    EXPECT_EQ(client->FieldByName(QStringLiteral("ID"))->AsInteger(), 1);
    EXPECT_EQ(client->FieldByName(QStringLiteral("ID_1"))->AsInteger(), 2);
    EXPECT_EQ(query->PSGetKeyFields(), QStringLiteral("ID;Name"));
    EXPECT_EQ(client->PSGetKeyFields(), QStringLiteral("ID;Name"));

    // The definitions themselves still refuse a duplicate.
    FetchingQuery strict;
    strict.defs = {{QStringLiteral("ID"), ftInteger}, {QStringLiteral("id"), ftInteger}};
    strict.fetch = [](RowAppender&) {};
    EXPECT_THROW(strict.Open(), EDatabaseError);
}
