// Every field kind through a data packet and through a file: value, text
// form and null survive unchanged.
#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace velkaro;

namespace {

using enum TFieldType;

struct KindCase {
    const char* name;
    TFieldDef def;
    Variant given;
    Variant stored; // Value() after writing Given
    QString text; // AsString()
};

double OleDate(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0)
{
    return double(QDate(1899, 12, 30).daysTo(QDate(y, m, d))) + (hh * 3600 + mm * 60 + ss) / 86400.0;
}

QList<KindCase> Kinds()
{
    const QString thai = QStringLiteral("กำลังตรวจสอบ");
    return {
        {"ansi string, thai", {"S", ftString, 20}, Variant(thai), Variant(thai), thai},
        {"ansi string cut to width", {"S2", ftString, 5}, Variant(QStringLiteral("ไม่พบไฟล์")),
            Variant(QStringLiteral("ไม่พบ")), QStringLiteral("ไม่พบ")},
        {"ansi string unrepresentable", {"S3", ftString, 10}, Variant(QStringLiteral("a\u4E2Db")),
            Variant(QStringLiteral("a?b")), QStringLiteral("a?b")},
        {"ansi string raw bytes", {"S4", ftString, 10}, Variant::FromBytes(QByteArray("\xA1\xA2")),
            Variant(QStringLiteral("กข")), QStringLiteral("กข")},
        {"fixed char drops trailing blanks", {"C", ftString, 10, false, true}, Variant(QStringLiteral("abc  ")),
            Variant(QStringLiteral("abc  ")), QStringLiteral("abc")},
        {"varchar keeps trailing blanks", {"V", ftString, 10}, Variant(QStringLiteral("abc  ")),
            Variant(QStringLiteral("abc  ")), QStringLiteral("abc  ")},
        {"fixed wide char drops trailing blanks", {"WC", ftWideString, 10, false, true},
            Variant(QStringLiteral(" 1.0.7 \t  ")), Variant(QStringLiteral(" 1.0.7 \t  ")),
            QStringLiteral(" 1.0.7 \t")},
        {"wide varchar keeps trailing blanks", {"WV", ftWideString, 10}, Variant(QStringLiteral("1.0.7   ")),
            Variant(QStringLiteral("1.0.7   ")), QStringLiteral("1.0.7   ")},
        {"wide string", {"W", ftWideString, 4}, Variant(QStringLiteral("ก\u4E2Dxyz")),
            Variant(QStringLiteral("ก\u4E2Dxy")), QStringLiteral("ก\u4E2Dxy")},
        {"shortint", {"I1", ftShortint}, Variant(-128), Variant::Typed(varShortInt, -128), QStringLiteral("-128")},
        {"byte", {"U1", ftByte}, Variant(255), Variant::Typed(varByte, 255), QStringLiteral("255")},
        {"smallint", {"I2", ftSmallint}, Variant(QStringLiteral("-32768")), Variant::Typed(varSmallint, -32768),
            QStringLiteral("-32768")},
        {"word", {"U2", ftWord}, Variant(65535), Variant::Typed(varWord, 65535), QStringLiteral("65535")},
        {"integer", {"I4", ftInteger}, Variant(-2147483647 - 1), Variant::Typed(varInteger, -2147483648LL),
            QStringLiteral("-2147483648")},
        {"longword", {"U4", ftLongWord}, Variant::FromInt64(4294967295LL), Variant::Typed(varLongWord, 4294967295LL),
            QStringLiteral("4294967295")},
        {"largeint", {"I8", ftLargeint}, Variant::FromInt64(-9223372036854775807LL),
            Variant::FromInt64(-9223372036854775807LL), QStringLiteral("-9223372036854775807")},
        {"boolean", {"B", ftBoolean}, Variant(true), Variant(true), QStringLiteral("True")},
        {"float", {"F", ftFloat}, Variant(-1.25e-7), Variant(-1.25e-7), QStringLiteral("-1.25e-07")},
        {"bcd", {"D", ftBCD, 4}, Variant(QStringLiteral("-12.34567")), Variant::FromCurrency(-123457),
            QStringLiteral("-12.3457")},
        {"fmtbcd", {"E", ftFMTBcd, 4}, Variant(QStringLiteral("123456789012345678901234.5000")),
            Variant(QStringLiteral("123456789012345678901234.5000")), QStringLiteral("123456789012345678901234.5000")},
        {"date keeps whole days", {"DA", ftDate}, Variant::FromDate(OleDate(2024, 2, 29, 13)),
            Variant::FromDate(OleDate(2024, 2, 29)), QStringLiteral("29/02/2024")},
        {"time over a day", {"T", ftTime}, Variant::FromDate(OleDate(1899, 12, 31, 1, 2, 3)),
            Variant::FromDate(OleDate(1899, 12, 31, 1, 2, 3)), QStringLiteral("25:02:03")},
        {"date-time", {"DT", ftDateTime}, Variant(QStringLiteral("2024-01-05 07:08:09")),
            Variant::FromDate(OleDate(2024, 1, 5, 7, 8, 9)), QStringLiteral("05/01/2024 07:08:09")},
        {"bytes cut", {"BY", ftBytes, 3}, Variant::FromBytes(QByteArray("\x00\x01\x02\x03", 4)),
            Variant::FromBytes(QByteArray("\x00\x01\x02", 3)), QString::fromLatin1("\x00\x01\x02", 3)},
        {"var-bytes", {"VB", ftVarBytes, 8}, Variant::FromBytes(QByteArray("\xFF\x00", 2)),
            Variant::FromBytes(QByteArray("\xFF\x00", 2)), QStringLiteral("\uFFFD") + QChar(0)},
        {"blob", {"BL", ftBlob}, Variant::FromBytes(QByteArray(70000, '\x7F')),
            Variant::FromBytes(QByteArray(70000, '\x7F')), QString(70000, QChar(0x7F))},
        {"memo, thai", {"M", ftMemo}, Variant(QString(300, QChar(0x0E01))), Variant(QString(300, QChar(0x0E01))),
            QString(300, QChar(0x0E01))},
        {"wide memo", {"WM", ftWideMemo}, Variant(QStringLiteral("\U0001F600 ok")),
            Variant(QStringLiteral("\U0001F600 ok")), QStringLiteral("\U0001F600 ok")},
    };
}

// A table with every kind: row 1 holds the values, row 2 only nulls.
void Fill(TClientDataSet& table)
{
    for (const KindCase& k : Kinds())
        table.FieldDefs().append(k.def);
    table.CreateDataSet();
    table.Append();
    for (const KindCase& k : Kinds())
        table.FieldByName(k.def.Name)->SetValue(k.given);
    table.Post();
    table.Append();
    table.FieldByName(QStringLiteral("S"))->SetValue(Variant::Null());
    table.Post();
}

void Check(TClientDataSet& table, const char* road)
{
    SCOPED_TRACE(road);
    ASSERT_EQ(table.RecordCount(), 2);
    ASSERT_EQ(table.FieldCount(), Kinds().size());
    table.First();
    for (const KindCase& k : Kinds()) {
        SCOPED_TRACE(k.name);
        const TField* f = table.FieldByName(k.def.Name);
        EXPECT_EQ(f->DataType(), k.def.DataType);
        EXPECT_EQ(f->Size(), k.def.Size);
        EXPECT_EQ(f->Fixed(), k.def.Fixed);
        EXPECT_FALSE(f->IsNull());
        EXPECT_TRUE(f->Value() == k.stored) << f->Value().ToString().left(40).toStdString();
        EXPECT_EQ(f->AsString(), k.text);
    }
    table.Next();
    for (const KindCase& k : Kinds()) {
        SCOPED_TRACE(k.name);
        const TField* f = table.FieldByName(k.def.Name);
        EXPECT_TRUE(f->IsNull());
        EXPECT_TRUE(f->Value().IsNull());
        EXPECT_EQ(f->AsString(), QString());
    }
}

} // namespace

TEST(FieldKinds, SurviveAPacketAndAFile)
{
    velkaro::testing::TempExeFolder folder;
    TClientDataSet source;
    Fill(source);
    Check(source, "as written");

    TClientDataSet fromPacket;
    fromPacket.SetData(source.Data());
    Check(fromPacket, "through a packet");

    source.SaveToFile(folder.File(QStringLiteral("kinds.cds")));
    TClientDataSet fromFile;
    fromFile.LoadFromFile(folder.File(QStringLiteral("kinds.cds")));
    Check(fromFile, "through a file");
    EXPECT_EQ(fromFile.Data().ByteArrayData(), source.Data().ByteArrayData());
}

TEST(FieldKinds, RefuseValuesTheKindCannotHold)
{
    struct Case {
        const char* name;
        TFieldDef def;
        Variant value;
        QString message; // empty: only the class is checked
    };
    const Case cases[] = {
        {"shortint above range", {"A", ftShortint}, Variant(128),
            QStringLiteral("Value 128 is out of range for field 'A' (-128 to 127)")},
        {"byte below range", {"A", ftByte}, Variant(-1), {}},
        {"word from text", {"A", ftWord}, Variant(QStringLiteral("70000")), {}},
        {"longword negative", {"A", ftLongWord}, Variant(-1), {}},
        {"integer from text", {"A", ftInteger}, Variant(QStringLiteral("12x")),
            QStringLiteral("''12x'' is not a valid integer value")},
        {"float from text", {"A", ftFloat}, Variant(QStringLiteral("1,5")),
            QStringLiteral("'1,5' is not a valid floating point value")},
        {"date from text", {"A", ftDate}, Variant(QStringLiteral("31/02/2024")),
            QStringLiteral("''31/02/2024'' is not a valid date")},
        {"fmtbcd from text", {"A", ftFMTBcd}, Variant(QStringLiteral("1e5")), {}},
        {"date beyond the calendar", {"A", ftDate}, Variant::FromDate(1e300),
            QStringLiteral("Value 1.0000000000000001e+300 is out of range for field 'A'")},
        {"date-time before year 1", {"A", ftDateTime}, Variant::FromDate(-693594.25), {}},
        {"time beyond the calendar", {"A", ftTime}, Variant::FromDate(-1e20), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TClientDataSet table;
        table.FieldDefs().append(c.def);
        table.CreateDataSet();
        table.Append();
        try {
            table.Fields(0)->SetValue(c.value);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            if (!c.message.isEmpty()) {
                EXPECT_EQ(e.Message(), c.message);
            }
        }
        EXPECT_TRUE(table.Fields(0)->IsNull());
    }
}
