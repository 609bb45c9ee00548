// The packet encoding: documented bytes both ways, and inputs that must be
// refused without reading or allocating beyond what they hold.
#include "data/DataPacket.h"
#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace velkaro;
using velkaro::testing::Hex;
using velkaro::testing::ToHex;
using enum TFieldType;

namespace {

QByteArray U16(quint16 v)
{
    QByteArray b;
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
    return b;
}
QByteArray U32(quint32 v)
{
    return U16(quint16(v & 0xFFFF)) + U16(quint16(v >> 16));
}

QByteArray Header(quint32 fields, quint32 rows, quint16 version = 1, QByteArray magic = "VKDS")
{
    return magic + U16(version) + U16(0) + U32(fields) + U32(rows);
}

QByteArray Def(const QByteArray& utf8Name, quint8 type, quint32 size, quint8 flags = 0)
{
    return U16(quint16(utf8Name.size())) + utf8Name + char(type) + char(flags) + U32(size);
}

QByteArray Str(const QByteArray& s)
{
    return U32(quint32(s.size())) + s;
}

// Fields Section (string 20), N (integer), W (wide string 10, required).
QByteArray ThreeDefs()
{
    return Def("Section", 1, 20) + Def("N", 7, 0) + Def("W", 2, 10, 1);
}

QByteArray ValidPacket()
{
    return Header(3, 2) + ThreeDefs() + QByteArray(1, '\0') + Str("\xA1\xA2") + U32(7) + U32(2)
        + QByteArray("h\0i\0", 4) // all set
        + QByteArray(1, '\x03') + U32(0); // two nulls, W empty
}

} // namespace

TEST(DataPacket, DocumentedBytesBothWays)
{
    const QList<TFieldDef> defs {{QStringLiteral("K"), ftString, 20}};
    StoredValue ab;
    ab.isNull = false;
    ab.bytes = "ab";
    const QByteArray bytes = Hex("56 4B 44 53 01 00 00 00 01 00 00 00 01 00 00 00"
                                 " 01 00 4B 01 00 14 00 00 00"
                                 " 00 02 00 00 00 61 62");
    const QByteArray encoded = datapacket::Encode(defs, {datapacket::EncodeRecord(defs, {ab})});
    EXPECT_EQ(ToHex(encoded), ToHex(bytes));

    const datapacket::Decoded decoded = datapacket::Decode(bytes);
    EXPECT_EQ(decoded.fieldDefs, defs);
    ASSERT_EQ(decoded.records.size(), 1u);
    EXPECT_EQ(datapacket::DecodeRecord(defs, decoded.records[0]), QList<StoredValue> {ab});
}

TEST(DataPacket, ValidPacketFillsATable)
{
    TClientDataSet table;
    table.SetData(Variant::FromBytes(ValidPacket()));
    ASSERT_EQ(table.RecordCount(), 2);
    EXPECT_EQ(table.FieldByName(QStringLiteral("Section"))->AsString(), QStringLiteral("กข"));
    EXPECT_EQ(table.FieldByName(QStringLiteral("N"))->AsString(), QStringLiteral("7"));
    EXPECT_EQ(table.FieldByName(QStringLiteral("W"))->AsString(), QStringLiteral("hi"));
    EXPECT_TRUE(table.FieldByName(QStringLiteral("W"))->Required());
    table.Next();
    EXPECT_TRUE(table.FieldByName(QStringLiteral("Section"))->IsNull());
    EXPECT_FALSE(table.FieldByName(QStringLiteral("W"))->IsNull());
}

TEST(DataPacket, RefusesMalformedInput)
{
    const QByteArray valid = ValidPacket();
    struct Case {
        std::string name;
        QByteArray bytes;
        QString detail; // expected text after "Invalid data packet: "; empty = any
    };
    std::vector<Case> cases;
    for (qsizetype cut = 0; cut < valid.size(); ++cut)
        cases.push_back({"cut after " + std::to_string(cut) + " bytes", valid.left(cut), {}});
    cases.push_back({"junk appended", valid + "x", QStringLiteral("1 unexpected bytes after the last row")});
    cases.push_back({"wrong magic", Header(0, 0, 1, "VKDX"), QStringLiteral("not a table (wrong signature)")});
    cases.push_back({"foreign file", QByteArray("<?xml version=\"1.0\"?><DATAPACKET/>"),
        QStringLiteral("not a table (wrong signature)")});
    cases.push_back({"wrong version", Header(0, 0, 2), QStringLiteral("unsupported version 2")});
    cases.push_back({"header flags", QByteArray("VKDS") + U16(1) + U16(4) + U32(0) + U32(0),
        QStringLiteral("unknown header flags")});
    cases.push_back({"huge field count", Header(0xFFFFFFFF, 0),
        QStringLiteral("4294967295 fields claimed, more than the data holds")});
    cases.push_back({"huge row count", Header(3, 0xFFFFFFFF) + ThreeDefs() + QByteArray(1, '\x07'),
        QStringLiteral("4294967295 rows claimed, more than the data holds")});
    cases.push_back({"rows without fields", Header(0, 1), QStringLiteral("1 rows claimed, more than the data holds")});
    cases.push_back({"huge name length", Header(1, 0) + U16(0xFFFF) + QByteArray(8, 'K'),
        QStringLiteral("the data ends inside field definition 1")});
    cases.push_back(
        {"type code 0", Header(1, 0) + Def("K", 0, 0), QStringLiteral("field 'K' has an unknown type code 0")});
    cases.push_back({"type code past the last", Header(1, 0) + Def("K", 22, 0),
        QStringLiteral("field 'K' has an unknown type code 22")});
    cases.push_back({"unknown field flags", Header(1, 0) + Def("K", 1, 0, 0x80),
        QStringLiteral("field 'K' has unknown flags 128")});
    cases.push_back({"impossible size", Header(1, 0) + Def("K", 1, 0x80000000),
        QStringLiteral("field 'K' has an impossible size 2147483648")});
    cases.push_back({"name not utf-8", Header(1, 0) + Def("\xC3", 1, 0),
        QStringLiteral("field definition 1 has a name that is not UTF-8")});
    cases.push_back({"empty name", Header(1, 0) + Def("", 1, 0), QStringLiteral("A field has no name")});
    cases.push_back({"duplicate names", Header(2, 0) + Def("Key", 1, 0) + Def("KEY", 7, 0),
        QStringLiteral("Duplicate field name 'KEY'")});
    cases.push_back({"huge string length", Header(1, 1) + Def("K", 1, 0) + QByteArray(1, '\0') + U32(0xFFFFFFFF),
        QStringLiteral("row 1, field 'K' claims 4294967295 bytes, more than the data holds")});
    cases.push_back({"huge wide length", Header(1, 1) + Def("W", 2, 0) + QByteArray(1, '\0') + U32(0x80000001) + "ab",
        QStringLiteral("row 1, field 'W' claims 4294967298 bytes, more than the data holds")});
    cases.push_back({"string over its size", Header(1, 1) + Def("K", 1, 2) + QByteArray(1, '\0') + Str("abc"),
        QStringLiteral("row 1, field 'K' is longer than its field's size 2")});
    cases.push_back({"boolean 2", Header(1, 1) + Def("B", 10, 0) + QByteArray(1, '\0') + QByteArray(1, '\x02'),
        QStringLiteral("row 1, field 'B' is not a boolean (2)")});
    cases.push_back(
        {"float not finite", Header(1, 1) + Def("F", 11, 0) + QByteArray(1, '\0') + Hex("00 00 00 00 00 00 F8 7F"),
            QStringLiteral("row 1, field 'F' is not a finite number")});
    cases.push_back({"fmtbcd not decimal", Header(1, 1) + Def("E", 13, 0) + QByteArray(1, '\0') + Str("1.2.3"),
        QStringLiteral("row 1, field 'E' is not a decimal number")});
    cases.push_back({"null flag past the fields", Header(1, 1) + Def("K", 1, 0) + QByteArray(1, '\x02') + Str(""),
        QStringLiteral("row 1 has null flags beyond its fields")});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Exactly as long as the data, so the sanitizers see any over-read.
        const QByteArray exact(c.bytes.constData(), c.bytes.size());
        try {
            datapacket::Decode(exact);
            ADD_FAILURE() << "accepted";
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Invalid data packet: "))) << e.what();
            if (!c.detail.isEmpty()) {
                EXPECT_EQ(e.Message(), QStringLiteral("Invalid data packet: ") + c.detail);
            }
        }
        TClientDataSet table;
        EXPECT_THROW(table.SetData(Variant::FromBytes(exact)), EDatabaseError);
        EXPECT_FALSE(table.Active());
    }
}

TEST(DataPacket, SetDataRefusesWhatIsNoPacket)
{
    TClientDataSet table;
    table.SetData(Variant::FromBytes(ValidPacket()));
    for (const Variant& v : {Variant(QStringLiteral("Select 1")), Variant(42), Variant(SafeArray(varWord, {{0, 3}}))}) {
        SCOPED_TRACE(Variant::TypeName(v.VType()).toStdString());
        EXPECT_THROW(table.SetData(v), EDatabaseError);
        EXPECT_FALSE(table.Active());
    }
    table.SetData(Variant::FromBytes(ValidPacket()));
    table.SetData(Variant::Null());
    EXPECT_FALSE(table.Active());
}
