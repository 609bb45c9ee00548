#include "mysql/MySQLFieldDesc.h"

#include "core/AnsiCodec.h"
#include "core/Exceptions.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace velkaro;
using velkaro::testing::U;
using enum MySqlFieldKind;

namespace {

constexpr quint32 Utf8Charset = 33;

TMySqlFieldInfo Column(quint8 type, quint32 length, quint32 flags = 0, quint32 charset = Utf8Charset, quint32 scale = 0,
    bool hasTable = true)
{
    TMySqlFieldInfo info;
    info.Name = "c";
    info.OrgName = "c";
    if (hasTable) {
        info.Table = "t";
        info.OrgTable = "t";
    }
    info.Type = type;
    info.Length = length;
    info.Flags = flags;
    info.CharsetNr = charset;
    info.Scale = scale;
    return info;
}

const TMySQLFieldOptions Road;
const TMySQLFieldOptions NoUnicode {.UseUnicode = false};

} // namespace

// Every known type code, with and without the settings that change its kind.
TEST(MySQLFieldDesc, KindAndLengthFromTheTypeTable)
{
    struct Case {
        const char* name;
        TMySqlFieldInfo info;
        TMySQLFieldOptions options;
        MySqlFieldKind kind;
        int length;
    };
    constexpr quint32 bin = BINARY_FLAG;
    constexpr quint32 uns = UNSIGNED_FLAG;
    const Case cases[] = {
        {"DECIMAL(8,2)", Column(mtDecimal, 10, 0, 63, 2), Road, Float, 10},
        {"DECIMAL(8,2) BCD", Column(mtNewDecimal, 10, 0, 63, 2), {.EnableBCD = true}, Bcd, 10},
        {"DECIMAL(14,2) BCD", Column(mtNewDecimal, 16, 0, 63, 2), {.EnableBCD = true}, Bcd, 16},
        {"DECIMAL(15,2) BCD", Column(mtNewDecimal, 17, 0, 63, 2), {.EnableBCD = true}, Float, 17},
        {"DECIMAL(15,2) BCD+FMT", Column(mtNewDecimal, 17, 0, 63, 2), {.EnableBCD = true, .EnableFMTBCD = true}, FmtBcd,
            17},
        {"DECIMAL(14,0) BCD", Column(mtNewDecimal, 15, 0, 63, 0), {.EnableBCD = true}, Bcd, 15},
        {"DECIMAL(15,0) BCD", Column(mtNewDecimal, 16, 0, 63, 0), {.EnableBCD = true}, Float, 16},
        {"DECIMAL(8,5) BCD", Column(mtNewDecimal, 10, 0, 63, 5), {.EnableBCD = true}, Float, 10},
        {"DECIMAL(8,5) FMT", Column(mtNewDecimal, 10, 0, 63, 5), {.EnableFMTBCD = true}, FmtBcd, 10},
        {"DECIMAL(30,2) BCD, no check", Column(mtNewDecimal, 32, 0, 63, 2),
            {.EnableBCD = true, .CheckPrecision = false}, Bcd, 32},
        {"DECIMAL(8,2) both, no check", Column(mtDecimal, 10, 0, 63, 2),
            {.EnableBCD = true, .EnableFMTBCD = true, .CheckPrecision = false}, FmtBcd, 10},
        {"DECIMAL(8,2) none, no check", Column(mtDecimal, 10, 0, 63, 2), {.CheckPrecision = false}, Float, 10},
        {"TINYINT(1)", Column(mtTiny, 1), Road, Boolean, 1},
        {"TINYINT(1) UNSIGNED", Column(mtTiny, 1, uns), Road, Boolean, 1},
        {"TINYINT(1) no boolean", Column(mtTiny, 1), {.EnableBoolean = false}, Int8, 1},
        {"TINYINT(4)", Column(mtTiny, 4), Road, Int8, 4},
        {"TINYINT(4) UNSIGNED", Column(mtTiny, 4, uns), Road, UInt8, 4},
        {"SMALLINT", Column(mtShort, 6), Road, Int16, 6},
        {"SMALLINT UNSIGNED", Column(mtShort, 5, uns), Road, UInt16, 5},
        {"INT", Column(mtLong, 11), Road, Int32, 11},
        {"INT UNSIGNED", Column(mtLong, 10, uns), Road, UInt32, 10},
        {"FLOAT", Column(mtFloat, 12), Road, Float, 12},
        {"DOUBLE", Column(mtDouble, 22), Road, Float, 22},
        {"NULL", Column(mtNull, 0, 0, 63), Road, OutOfLineWideString, 0},
        {"NULL, no unicode", Column(mtNull, 0, 0, 63), NoUnicode, OutOfLineString, 0},
        {"TIMESTAMP", Column(mtTimestamp, 19), Road, DateTime, 19},
        {"BIGINT", Column(mtLongLong, 20), Road, Int64, 20},
        {"BIGINT(11) optimized", Column(mtLongLong, 11), {.OptimizedBigint = true}, Int32, 11},
        {"BIGINT(12) optimized", Column(mtLongLong, 12), {.OptimizedBigint = true}, Int64, 12},
        {"BIGINT(11)", Column(mtLongLong, 11), Road, Int64, 11},
        {"MEDIUMINT UNSIGNED", Column(mtInt24, 8, uns), Road, Int32, 8},
        {"DATE", Column(mtDate, 10), Road, Date, 10},
        {"NEWDATE", Column(mtNewDate, 10), Road, Date, 10},
        {"TIME", Column(mtTime, 10), Road, Time, 10},
        {"DATETIME", Column(mtDateTime, 19), Road, DateTime, 19},
        {"YEAR", Column(mtYear, 4, uns), Road, UInt16, 4},
        {"VARCHAR(20) utf8", Column(mtVarChar, 60), Road, WideString, 20},
        {"VAR_STRING(20) utf8", Column(mtVarString, 60), Road, WideString, 20},
        {"VAR_STRING(50) utf8", Column(mtVarString, 150), Road, OutOfLineWideString, 50},
        {"VAR_STRING(20) utf8, no unicode", Column(mtVarString, 60), NoUnicode, OutOfLineString, 60},
        {"VAR_STRING(20) latin1, no unicode", Column(mtVarString, 20, 0, 8), NoUnicode, String, 20},
        {"VARBINARY(10)", Column(mtVarString, 10, bin, 63), Road, WideString, 10},
        {"VARBINARY(10) as bytes", Column(mtVarString, 10, bin, 63), {.BinaryAsString = false}, VarBytes, 10},
        {"VARCHAR(10) utf8_bin as bytes", Column(mtVarString, 30, bin, 83), {.BinaryAsString = false}, WideString, 10},
        {"VARBINARY(40) as bytes", Column(mtVarString, 40, bin, 63), {.BinaryAsString = false}, OutOfLineVarBytes, 40},
        {"BIT(1)", Column(mtBit, 1, uns), Road, Int64, 1},
        {"BIT(31) optimized", Column(mtBit, 31, uns), {.OptimizedBigint = true}, Int32, 31},
        {"BIT(32) optimized", Column(mtBit, 32, uns), {.OptimizedBigint = true}, Int64, 32},
        {"ENUM", Column(mtEnum, 30), Road, WideString, 10},
        {"SET", Column(mtSet, 99), Road, OutOfLineWideString, 33},
        {"TINYBLOB", Column(mtTinyBlob, 255, bin | BLOB_FLAG, 63), Road, Blob, 255},
        {"MEDIUMBLOB", Column(mtMediumBlob, 16777215, bin | BLOB_FLAG, 63), Road, Blob, 65535},
        {"LONGBLOB", Column(mtLongBlob, 4294967295u, bin | BLOB_FLAG, 63), Road, Blob, 65535},
        {"BLOB", Column(mtBlob, 65535, bin | BLOB_FLAG, 63), Road, Blob, 65535},
        {"TEXT utf8", Column(mtBlob, 196605, BLOB_FLAG), Road, WideMemo, 21845},
        {"TEXT utf8, no unicode", Column(mtBlob, 196605, BLOB_FLAG), NoUnicode, Memo, 65535},
        {"GEOMETRY", Column(mtGeometry, 4294967295u, bin | BLOB_FLAG, 63), Road, Blob, 65535},
        {"CHAR(10) utf8", Column(mtString, 30), Road, WideString, 10},
        {"CHAR(10) latin1, no unicode", Column(mtString, 10, 0, 8), NoUnicode, String, 10},
        {"BINARY(16)", Column(mtString, 16, bin, 63), Road, WideString, 16},
        {"BINARY(16) as bytes", Column(mtString, 16, bin, 63), {.BinaryAsString = false}, Bytes, 16},
        {"BINARY(40) as bytes", Column(mtString, 40, bin, 63), {.BinaryAsString = false}, OutOfLineVarBytes, 40},
        // the rules after the table
        {"computed text 1023", Column(mtVarString, 1023, 0, Utf8Charset, 0, false), Road, OutOfLineWideString, 1023},
        {"column text 1023", Column(mtVarString, 1023), Road, OutOfLineWideString, 341},
        {"computed long text", Column(mtVarString, 196605, 0, Utf8Charset, 0, false), Road, WideMemo, 21845},
        {"computed long text, no unicode", Column(mtVarString, 196605, 0, Utf8Charset, 0, false), NoUnicode, Memo,
            65535},
        {"computed long bytes", Column(mtVarString, 65535, bin, 63, 0, false), Road, Blob, 65535},
        {"long VARCHAR of a table", Column(mtVarString, 196605), Road, OutOfLineWideString, 21845},
        {"VARCHAR(300), no long strings", Column(mtVarString, 900), {.LongStrings = false}, WideMemo, 300},
        {"VARCHAR(300) latin1, no unicode, no long strings", Column(mtVarString, 300, 0, 8),
            {.UseUnicode = false, .LongStrings = false}, Memo, 300},
        {"VARCHAR(256), no long strings", Column(mtVarString, 768), {.LongStrings = false}, OutOfLineWideString, 256},
        {"VARCHAR(50), flat buffers", Column(mtVarString, 150), {.FlatBuffers = true}, WideString, 50},
        {"VARCHAR(31)", Column(mtVarString, 93), Road, WideString, 31},
        {"VARCHAR(32)", Column(mtVarString, 96), Road, OutOfLineWideString, 32},
        {"INT as string", Column(mtLong, 11), {.FieldsAsString = true}, WideString, 11},
        {"DATETIME as string, no unicode", Column(mtDateTime, 19), {.UseUnicode = false, .FieldsAsString = true},
            String, 19},
        {"TEXT as string", Column(mtBlob, 196605, BLOB_FLAG), {.FieldsAsString = true}, WideMemo, 21845},
        {"BLOB as string", Column(mtBlob, 65535, bin | BLOB_FLAG, 63), {.FieldsAsString = true}, Blob, 65535},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TMySQLFieldDesc d = MakeFieldDesc(c.info, 1, c.options);
        EXPECT_EQ(FieldKindName(d.Kind), FieldKindName(c.kind));
        EXPECT_EQ(d.Length, c.length);
        EXPECT_EQ(d.ByteLength, int(std::min<quint32>(c.info.Length, 65535)));
        EXPECT_EQ(d.Fixed, c.info.Type == mtString);
    }
}

TEST(MySQLFieldDesc, TypeCodesOutsideTheKnownSetAreRefused)
{
    for (int code = 17; code <= 245; ++code) {
        SCOPED_TRACE(code);
        try {
            MakeFieldDesc(Column(quint8(code), 10), 1, Road);
            ADD_FAILURE() << "no error";
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Unknown MySQL datatype (%1)").arg(code));
        }
    }
}

TEST(MySQLFieldDesc, FlagsNamesAndSizes)
{
    TMySqlFieldInfo id = Column(mtLong, 11, NOT_NULL_FLAG | PRI_KEY_FLAG | AUTO_INCREMENT_FLAG | UNSIGNED_FLAG);
    TMySQLFieldDesc d = MakeFieldDesc(id, 3, Road);
    EXPECT_EQ(d.FieldNo, 3);
    EXPECT_TRUE(d.Unsigned && d.AutoIncrement && d.IsKey && d.IsPrimaryKey);
    EXPECT_FALSE(d.Required); // the server fills an auto-increment column
    EXPECT_FALSE(d.ReadOnly || d.Binary || d.CurrentTimestamp);

    d = MakeFieldDesc(Column(mtTimestamp, 19, NOT_NULL_FLAG | TIMESTAMP_FLAG | BINARY_FLAG), 1, Road);
    EXPECT_FALSE(d.Required);
    EXPECT_TRUE(d.CurrentTimestamp && d.Binary);

    d = MakeFieldDesc(Column(mtVarString, 60, NOT_NULL_FLAG | MULTIPLE_KEY_FLAG), 1, Road);
    EXPECT_TRUE(d.Required && d.IsKey);
    EXPECT_FALSE(d.IsPrimaryKey);
    for (quint32 key : {UNIQUE_KEY_FLAG, PART_KEY_FLAG})
        EXPECT_TRUE(MakeFieldDesc(Column(mtLong, 11, key), 1, Road).IsKey);
    EXPECT_FALSE(MakeFieldDesc(Column(mtLong, 11, BLOB_FLAG | ZEROFILL_FLAG), 1, Road).IsKey);
    EXPECT_TRUE(MakeFieldDesc(Column(mtNull, 0), 1, Road).ReadOnly);

    // Database length and scale.
    d = MakeFieldDesc(Column(mtNewDecimal, 11, 0, 63, 0), 1, Road);
    EXPECT_EQ(d.DBLength, 10);
    d = MakeFieldDesc(Column(mtNewDecimal, 11, 0, 63, 2), 1, Road);
    EXPECT_EQ(d.DBLength, 11);
    EXPECT_EQ(d.DBScale, 2);

    // Stored sizes.
    struct Size {
        TMySqlFieldInfo info;
        TMySQLFieldOptions options;
        int size;
    };
    const Size sizes[] = {
        {Column(mtVarString, 10, 0, 8), NoUnicode, 11},
        {Column(mtVarString, 60), Road, 42},
        {Column(mtVarString, 10, BINARY_FLAG, 63), {.BinaryAsString = false}, 12},
        {Column(mtString, 16, BINARY_FLAG, 63), {.BinaryAsString = false}, 17},
        {Column(mtTiny, 1), Road, 2},
        {Column(mtShort, 6), Road, 2},
        {Column(mtLong, 11), Road, 4},
        {Column(mtLongLong, 20), Road, 8},
        {Column(mtDateTime, 19), Road, 8},
        {Column(mtNewDecimal, 10, 0, 63, 2), {.EnableFMTBCD = true}, 34},
        {Column(mtVarString, 150), Road, int(sizeof(void*))},
        {Column(mtBlob, 65535, BINARY_FLAG, 63), Road, int(sizeof(void*))},
    };
    for (const Size& s : sizes) {
        SCOPED_TRACE(s.size);
        EXPECT_EQ(MakeFieldDesc(s.info, 1, s.options).DataSize, s.size);
    }
}

TEST(MySQLFieldDesc, NamesAreDecodedByTheConnectionsEncoding)
{
    const QString thai = U("รุ่น");
    TMySqlFieldInfo info = Column(mtVarString, 60);
    info.Name = thai.toUtf8();
    info.OrgName.clear(); // a server that sends no physical name
    info.Table = "v";
    info.OrgTable = "tbVersionControl";
    TMySQLFieldDesc d = MakeFieldDesc(info, 1, Road);
    EXPECT_EQ(d.Name, thai);
    EXPECT_EQ(d.ActualName, thai);
    EXPECT_EQ(d.TableName, QStringLiteral("v"));
    EXPECT_EQ(d.ActualTableName, QStringLiteral("tbVersionControl"));

    info.Name = ansi::Encode(thai, 874);
    info.OrgName = "Version";
    TMySQLFieldOptions thaiAnsi = NoUnicode;
    thaiAnsi.AnsiCodePage = 874;
    d = MakeFieldDesc(info, 1, thaiAnsi);
    EXPECT_EQ(d.Name, thai);
    EXPECT_EQ(d.ActualName, QStringLiteral("Version"));
}

TEST(MySQLFieldDesc, TheDatasetFieldDefinition)
{
    struct Case {
        const char* name;
        TMySqlFieldInfo info;
        TMySQLFieldOptions options;
        TFieldDef def;
    };
    using enum TFieldType;
    const auto version = [] {
        TMySqlFieldInfo info = Column(mtVarString, 60);
        info.Name = "Version";
        return info;
    }();
    const Case cases[] = {
        {"VARCHAR(20) utf8", version, Road, {QStringLiteral("Version"), ftWideString, 20, false, false}},
        {"VARCHAR(20) utf8, no unicode", version, NoUnicode, {QStringLiteral("Version"), ftString, 60, false, false}},
        {"VARCHAR(20), trimmed", version, {.TrimVarChar = true},
            {QStringLiteral("Version"), ftWideString, 20, false, true}},
        {"CHAR(10) NOT NULL", Column(mtString, 30, NOT_NULL_FLAG), Road,
            {QStringLiteral("c"), ftWideString, 10, true, true}},
        {"CHAR(10), not trimmed", Column(mtString, 30), {.TrimFixedChar = false},
            {QStringLiteral("c"), ftWideString, 10, false, false}},
        {"CHAR(40)", Column(mtString, 120), Road, {QStringLiteral("c"), ftWideString, 40, false, true}},
        {"BINARY(40) as bytes", Column(mtString, 40, BINARY_FLAG, 63), {.BinaryAsString = false},
            {QStringLiteral("c"), ftVarBytes, 40, false, false}},
        {"BINARY(8) as bytes", Column(mtString, 8, BINARY_FLAG, 63), {.BinaryAsString = false},
            {QStringLiteral("c"), ftBytes, 8, false, false}},
        {"DECIMAL(8,2) BCD", Column(mtNewDecimal, 10, 0, 63, 2), {.EnableBCD = true},
            {QStringLiteral("c"), ftBCD, 2, false, false}},
        {"DECIMAL(20,6) FMT", Column(mtNewDecimal, 22, 0, 63, 6), {.EnableFMTBCD = true},
            {QStringLiteral("c"), ftFMTBcd, 6, false, false}},
        {"BIGINT UNSIGNED", Column(mtLongLong, 20, UNSIGNED_FLAG), Road,
            {QStringLiteral("c"), ftLargeint, 0, false, false}},
        {"TEXT", Column(mtBlob, 196605), Road, {QStringLiteral("c"), ftWideMemo, 0, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TFieldDef def = ToFieldDef(MakeFieldDesc(c.info, 1, c.options));
        EXPECT_EQ(def.Name, c.def.Name);
        EXPECT_EQ(FieldTypeName(def.DataType), FieldTypeName(c.def.DataType));
        EXPECT_EQ(def.Size, c.def.Size);
        EXPECT_EQ(def.Required, c.def.Required);
        EXPECT_EQ(def.Fixed, c.def.Fixed);
    }
}

TEST(MySQLFieldDesc, OutOfLineKindsBecomeTheFieldTypesOfTheirInRecordKinds)
{
    EXPECT_EQ(FieldTypeOf(OutOfLineString), FieldTypeOf(String));
    EXPECT_EQ(FieldTypeOf(OutOfLineWideString), FieldTypeOf(WideString));
    EXPECT_EQ(FieldTypeOf(OutOfLineVarBytes), FieldTypeOf(VarBytes));
    for (MySqlFieldKind k : {OutOfLineString, OutOfLineWideString, OutOfLineVarBytes})
        EXPECT_TRUE(IsOutOfLine(k));
    for (MySqlFieldKind k : {String, WideString, Bytes, VarBytes, Memo, Blob})
        EXPECT_FALSE(IsOutOfLine(k));
    for (int k = int(String); k <= int(WideMemo); ++k)
        EXPECT_NE(FieldTypeOf(MySqlFieldKind(k)), TFieldType::ftUnknown)
            << FieldKindName(MySqlFieldKind(k)).toStdString();
}
