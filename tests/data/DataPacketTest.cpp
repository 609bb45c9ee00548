// The packet encoding: documented bytes both ways, and inputs that must be
// refused without reading or allocating beyond what they hold.
#include "data/DataPacket.h"
#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

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

// A definition as version 1 writes it (one byte of flags).
QByteArray Def(const QByteArray& utf8Name, quint8 type, quint32 size, quint8 flags = 0)
{
    return U16(quint16(utf8Name.size())) + utf8Name + char(type) + char(flags) + U32(size);
}

// Version 2: two bytes of flags.
QByteArray Def2(const QByteArray& utf8Name, quint8 type, quint32 size, quint16 flags = 0)
{
    return U16(quint16(utf8Name.size())) + utf8Name + char(type) + U16(flags) + U32(size);
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

QByteArray ThreeRows()
{
    return QByteArray(1, '\0') + Str("\xA1\xA2") + U32(7) + U32(2) + QByteArray("h\0i\0", 4) // all set
        + QByteArray(1, '\x03') + U32(0); // two nulls, W empty
}

QByteArray ValidPacket()
{
    return Header(3, 2) + ThreeDefs() + ThreeRows();
}

// The same in version 2, N a primary key.
QByteArray ValidPacket2()
{
    return Header(3, 2, 2) + Def2("Section", 1, 20) + Def2("N", 7, 0, 4 | 8) + Def2("W", 2, 10, 1) + ThreeRows();
}

QByteArray OneValue(quint8 type, const QByteArray& value, quint32 size = 0)
{
    return Header(1, 1, 2) + Def2("V", type, size) + QByteArray(1, '\0') + value;
}

QByteArray Double(double d)
{
    QByteArray b(8, '\0');
    std::memcpy(b.data(), &d, 8);
    return b;
}

} // namespace

TEST(DataPacket, DocumentedBytesBothWays)
{
    QList<TFieldDef> defs {{QStringLiteral("K"), ftString, 20}, {QStringLiteral("ID"), ftInteger}};
    defs[1].Required = true;
    defs[1].Key = true;
    defs[1].PrimaryKey = true;
    defs[1].AutoIncrement = true;
    StoredValue ab;
    ab.isNull = false;
    ab.bytes = "ab";
    StoredValue five;
    five.isNull = false;
    five.integer = 5;
    const QByteArray bytes = Hex("56 4B 44 53 02 00 00 00 02 00 00 00 01 00 00 00"
                                 " 01 00 4B 01 00 00 14 00 00 00"
                                 " 02 00 49 44 07 2D 00 00 00 00 00"
                                 " 00 02 00 00 00 61 62 05 00 00 00");
    const QByteArray record = datapacket::EncodeRecord(defs, {ab, five});
    const QByteArray encoded = datapacket::Encode(defs, {QByteArrayView(record)});
    EXPECT_EQ(ToHex(encoded), ToHex(bytes));

    const datapacket::Decoded decoded = datapacket::Decode(bytes);
    EXPECT_EQ(decoded.fieldDefs, defs);
    ASSERT_EQ(decoded.records.size(), 1u);
    EXPECT_EQ(datapacket::DecodeRecord(defs, decoded.records[0]), (QList<StoredValue> {ab, five}));

    // The version 1 example reads as before.
    const datapacket::Decoded v1 = datapacket::Decode(Hex("56 4B 44 53 01 00 00 00 01 00 00 00 01 00 00 00"
                                                          " 01 00 4B 01 00 14 00 00 00"
                                                          " 00 02 00 00 00 61 62"));
    EXPECT_EQ(v1.fieldDefs, QList<TFieldDef> {defs[0]});
    ASSERT_EQ(v1.records.size(), 1u);
    EXPECT_EQ(datapacket::DecodeRecord(v1.fieldDefs, v1.records[0]), QList<StoredValue> {ab});
}

TEST(DataPacket, AttributesTravelWithTheDefinitions)
{
    const auto def = [](const char* name, void (*set)(TFieldDef&)) {
        TFieldDef d {QString::fromLatin1(name), ftInteger};
        set(d);
        return d;
    };
    const QList<TFieldDef> defs {
        def("Plain", [](TFieldDef&) {}),
        def("Id", [](TFieldDef& d) { d.Key = d.PrimaryKey = d.AutoIncrement = d.Unsigned = true; }),
        def("Code", [](TFieldDef& d) { d.Key = true; }),
        def("Stamp", [](TFieldDef& d) { d.ReadOnly = true; }),
        def("Part", [](TFieldDef& d) { d.PrimaryKey = true; }),
    };
    velkaro::testing::TempExeFolder folder;
    TClientDataSet source;
    source.FieldDefs() = defs;
    EXPECT_EQ(source.PSGetKeyFields(), QStringLiteral("Id;Code;Part")); // closed: from the declarations
    source.CreateDataSet();
    source.SaveToFile(folder.File(QStringLiteral("attributes.cds")));

    TClientDataSet fromPacket;
    fromPacket.SetData(source.Data());
    TClientDataSet fromFile;
    fromFile.LoadFromFile(folder.File(QStringLiteral("attributes.cds")));
    for (TClientDataSet* t : {&source, &fromPacket, &fromFile}) {
        EXPECT_EQ(t->FieldDefs(), defs);
        EXPECT_EQ(t->PSGetKeyFields(), QStringLiteral("Id;Code;Part"));
        EXPECT_TRUE(t->FieldByName(QStringLiteral("Stamp"))->ReadOnly());
        EXPECT_FALSE(t->FieldByName(QStringLiteral("Id"))->ReadOnly());
    }
    TClientDataSet none;
    none.FieldDefs() = {defs[0]};
    EXPECT_EQ(none.PSGetKeyFields(), QString());
}

TEST(DataPacket, ReadsVersionOneFiles)
{
    // Written by the version 1 writer: the configuration layout with rows
    // (ClientVersion, Velkaro, 1.0.7), (Server, Empty, null) and
    // (Server, Name, "ทดสอบ" in code page 874).
    const QByteArray config = Hex("56 4b 44 53 01 00 00 00 03 00 00 00 03 00 00 00"
                                  " 07 00 53 65 63 74 69 6f 6e 01 00 14 00 00 00 03"
                                  " 00 4b 65 79 01 00 14 00 00 00 05 00 56 61 6c 75"
                                  " 65 01 00 ff 00 00 00 00 0d 00 00 00 43 6c 69 65"
                                  " 6e 74 56 65 72 73 69 6f 6e 07 00 00 00 56 65 6c"
                                  " 6b 61 72 6f 05 00 00 00 31 2e 30 2e 37 04 06 00"
                                  " 00 00 53 65 72 76 65 72 05 00 00 00 45 6d 70 74"
                                  " 79 00 06 00 00 00 53 65 72 76 65 72 04 00 00 00"
                                  " 4e 61 6d 65 05 00 00 00 b7 b4 ca cd ba");
    // Id (integer, required), Code (wide string 10, fixed) holding "ก1" and
    // two blanks, When (date-time) 5 January 2024 07:08:09.
    const QByteArray kinds = Hex("56 4b 44 53 01 00 00 00 03 00 00 00 01 00 00 00"
                                 " 02 00 49 64 07 01 00 00 00 00 04 00 43 6f 64 65"
                                 " 02 02 0a 00 00 00 04 00 57 68 65 6e 10 00 00 00"
                                 " 00 00 00 07 00 00 00 04 00 00 00 01 0e 31 00 20"
                                 " 00 20 00 90 a1 b2 83 09 1e e6 40");
    velkaro::testing::TempExeFolder folder;
    folder.Write(QStringLiteral("Config.cds"), config);
    folder.Write(QStringLiteral("kinds.cds"), kinds);

    TClientDataSet t;
    t.SetIndexFieldNames(QStringLiteral("Section;Key"));
    t.LoadFromFile(folder.File(QStringLiteral("Config.cds")));
    ASSERT_EQ(t.RecordCount(), 3);
    ASSERT_TRUE(t.FindKey({QStringLiteral("ClientVersion"), QStringLiteral("Velkaro")}));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Value"))->AsString(), QStringLiteral("1.0.7"));
    ASSERT_TRUE(t.FindKey({QStringLiteral("Server"), QStringLiteral("Name")}));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Value"))->AsString(), QStringLiteral("ทดสอบ"));
    ASSERT_TRUE(t.FindKey({QStringLiteral("Server"), QStringLiteral("Empty")}));
    EXPECT_TRUE(t.FieldByName(QStringLiteral("Value"))->IsNull());

    // Saved again, it is the same table in the current version.
    t.SaveToFile(folder.File(QStringLiteral("Config.cds")));
    const QByteArray saved = folder.Read(QStringLiteral("Config.cds"));
    EXPECT_EQ(ToHex(saved.mid(4, 2)), QStringLiteral("02 00"));
    EXPECT_EQ(datapacket::Decode(saved).fieldDefs, datapacket::Decode(config).fieldDefs);

    TClientDataSet k;
    k.LoadFromFile(folder.File(QStringLiteral("kinds.cds")));
    EXPECT_TRUE(k.FieldByName(QStringLiteral("Id"))->Required());
    EXPECT_EQ(k.FieldByName(QStringLiteral("Id"))->AsInteger(), 7);
    EXPECT_TRUE(k.FieldByName(QStringLiteral("Code"))->Fixed());
    EXPECT_EQ(k.FieldByName(QStringLiteral("Code"))->AsString(), QStringLiteral("ก1"));
    EXPECT_EQ(k.FieldByName(QStringLiteral("When"))->AsString(), QStringLiteral("05/01/2024 07:08:09"));
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
    struct Case {
        std::string name;
        QByteArray bytes;
        QString detail; // expected text after "Invalid data packet: "; empty = any
    };
    std::vector<Case> cases;
    for (const QByteArray& valid : {ValidPacket(), ValidPacket2()}) {
        const std::string version = valid == ValidPacket() ? "version 1 " : "version 2 ";
        for (qsizetype cut = 0; cut < valid.size(); ++cut)
            cases.push_back({version + "cut after " + std::to_string(cut) + " bytes", valid.left(cut), {}});
        cases.push_back(
            {version + "junk appended", valid + "x", QStringLiteral("1 unexpected bytes after the last row")});
    }
    cases.push_back({"wrong magic", Header(0, 0, 1, "VKDX"), QStringLiteral("not a table (wrong signature)")});
    cases.push_back({"foreign file", QByteArray("<?xml version=\"1.0\"?><DATAPACKET/>"),
        QStringLiteral("not a table (wrong signature)")});
    cases.push_back({"version 0", Header(0, 0, 0), QStringLiteral("unsupported version 0")});
    cases.push_back({"version 3", Header(0, 0, 3), QStringLiteral("unsupported version 3")});
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
    cases.push_back({"attribute flag in version 1", Header(1, 0) + Def("K", 1, 0, 0x04),
        QStringLiteral("field 'K' has unknown flags 4")});
    cases.push_back({"unknown field flags in version 2", Header(1, 0, 2) + Def2("K", 1, 0, 0x80),
        QStringLiteral("field 'K' has unknown flags 128")});
    cases.push_back({"high flag byte in version 2", Header(1, 0, 2) + Def2("K", 1, 0, 0x100),
        QStringLiteral("field 'K' has unknown flags 256")});
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
    cases.push_back({"date 1e300", OneValue(14, Double(1e300)),
        QStringLiteral("row 1, field 'V' is outside the calendar (1.0000000000000001e+300 days)")});
    cases.push_back(
        {"date not a whole day", OneValue(14, Double(45000.5)), QStringLiteral("row 1, field 'V' is not a whole day")});
    cases.push_back({"date before year 1", OneValue(14, Double(-693594)),
        QStringLiteral("row 1, field 'V' is outside the calendar (-693594 days)")});
    cases.push_back({"date after 9999", OneValue(14, Double(2958466)),
        QStringLiteral("row 1, field 'V' is outside the calendar (2958466 days)")});
    cases.push_back({"date-time -1e300", OneValue(16, Double(-1e300)), {}});
    cases.push_back({"date-time rounding into year 10000", OneValue(16, Double(2958465.999999999)), {}});
    cases.push_back({"time 1e300", OneValue(15, Double(1e300)), {}});
    cases.push_back({"date-time infinite", OneValue(16, Double(std::numeric_limits<double>::infinity())),
        QStringLiteral("row 1, field 'V' is not a finite number")});
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

TEST(DataPacket, DatesAtTheEdgesOfTheCalendarAreRead)
{
    struct Case {
        const char* name;
        quint8 type;
        double days;
        QString text;
    };
    const Case cases[] = {
        {"first date", 14, -693593, QStringLiteral("01/01/0001")},
        {"last date", 14, 2958465, QStringLiteral("31/12/9999")},
        {"first day at noon", 16, -693593.5, QStringLiteral("01/01/0001 12:00:00")},
        {"last second", 16, 2958465.99998, QStringLiteral("31/12/9999 23:59:58")},
        {"time over a day, negative", 15, -1.5, QStringLiteral("-36:00:00")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TClientDataSet t;
        t.SetData(Variant::FromBytes(OneValue(c.type, Double(c.days))));
        EXPECT_EQ(t.Fields(0)->AsString(), c.text);
    }
}

TEST(DataPacket, TableFilesRefuseNamesThatNameListsCannotHold)
{
    velkaro::testing::TempExeFolder folder;
    const QByteArray names[] = {" ID", "ID ", "A;B", "\tTab"};
    for (const QByteArray& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = Header(1, 1, 2) + Def2(name, 7, 0) + QByteArray(1, '\0') + U32(1);
        // A packet (a query's result) keeps the name as the server sent it.
        TClientDataSet t;
        t.SetData(Variant::FromBytes(bytes));
        EXPECT_EQ(t.Fields(0)->FieldName(), QString::fromLatin1(name));
        EXPECT_EQ(t.FieldByName(QString::fromLatin1(name))->AsInteger(), 1);

        // A file neither reads nor writes it.
        folder.Write(QStringLiteral("names.cds"), bytes);
        TClientDataSet file;
        try {
            file.LoadFromFile(folder.File(QStringLiteral("names.cds")));
            ADD_FAILURE() << "loaded";
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Invalid table file \"%1\": Field name '")
                                                   .arg(folder.File(QStringLiteral("names.cds")))))
                << e.what();
        }
        try {
            t.SaveToFile(folder.File(QStringLiteral("saved.cds")));
            ADD_FAILURE() << "saved";
        } catch (const EFCreateError& e) {
            EXPECT_TRUE(e.Message().contains(QStringLiteral("Field name '"))) << e.what();
        }
        EXPECT_FALSE(folder.Exists(QStringLiteral("saved.cds")));
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
