#include "mysql/MySQLFieldValue.h"

#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <optional>

using namespace velkaro;
using velkaro::testing::U;
using enum MySqlFieldKind;

namespace {

// A cell's bytes in a heap block exactly as long as they are, so the
// sanitizers see any read past them.
class Cell {
public:
    Cell(const char* data, qsizetype size)
        : data_(new char[size_t(size)])
        , size_(size)
    {
        if (size > 0)
            std::memcpy(data_.get(), data, size_t(size));
    }
    explicit Cell(QByteArrayView bytes)
        : Cell(bytes.data(), bytes.size())
    {
    }
    QByteArrayView View() const { return QByteArrayView(data_.get(), size_); }

private:
    std::unique_ptr<char[]> data_;
    qsizetype size_;
};

TMySQLFieldDesc Desc(quint8 type, quint32 length, quint32 flags = 0, const TMySQLFieldOptions& options = {},
    quint32 charset = 33, quint32 scale = 0)
{
    TMySqlFieldInfo info;
    info.Name = "f";
    info.Table = info.OrgTable = "t";
    info.Type = type;
    info.Length = length;
    info.Flags = flags;
    info.CharsetNr = charset;
    info.Scale = scale;
    return MakeFieldDesc(info, 1, options);
}

StoredValue Decode(const TMySQLFieldDesc& desc, QByteArrayView bytes)
{
    const Cell cell(bytes);
    return DecodeValue(desc, cell.View());
}

// The error a decode raises: class name and message ("" when none).
std::pair<std::string, QString> DecodeError(const TMySQLFieldDesc& desc, QByteArrayView bytes)
{
    try {
        Decode(desc, bytes);
    } catch (const Exception& e) {
        return {e.ClassName(), e.Message()};
    }
    return {};
}

double Ole(int y, int m, int d, int h = 0, int n = 0, int s = 0)
{
    return OleDateTime(y, m, d, h, n, s);
}

} // namespace

TEST(MySQLFieldValue, NullForEveryKind)
{
    const TMySQLFieldDesc descs[] = {
        Desc(mtVarString, 60),
        Desc(mtVarString, 300),
        Desc(mtLong, 11),
        Desc(mtTiny, 1),
        Desc(mtDouble, 22),
        Desc(mtDateTime, 19),
        Desc(mtTime, 10),
        Desc(mtBlob, 65535, BINARY_FLAG, {}, 63),
        Desc(mtBlob, 196605),
        Desc(mtNewDecimal, 10, 0, {.EnableFMTBCD = true}, 63, 2),
    };
    for (const TMySQLFieldDesc& d : descs) {
        SCOPED_TRACE(FieldKindName(d.Kind).toStdString());
        const StoredValue v = DecodeValue(d, QByteArrayView(), true);
        EXPECT_EQ(v, StoredValue());
        EXPECT_TRUE(v.isNull);
    }
}

TEST(MySQLFieldValue, Integers)
{
    constexpr qint64 i64min = std::numeric_limits<qint64>::min();
    constexpr qint64 i64max = std::numeric_limits<qint64>::max();
    struct Case {
        const char* name;
        TMySQLFieldDesc desc;
        const char* text;
        std::optional<qint64> value; // none: an error
        const char* error = "";
    };
    const TMySQLFieldDesc tiny = Desc(mtTiny, 4);
    const TMySQLFieldDesc utiny = Desc(mtTiny, 3, UNSIGNED_FLAG);
    const TMySQLFieldDesc small = Desc(mtShort, 6);
    const TMySQLFieldDesc usmall = Desc(mtShort, 5, UNSIGNED_FLAG);
    const TMySQLFieldDesc int32 = Desc(mtLong, 11);
    const TMySQLFieldDesc uint32 = Desc(mtLong, 10, UNSIGNED_FLAG);
    const TMySQLFieldDesc bigint = Desc(mtLongLong, 20);
    const TMySQLFieldDesc ubigint = Desc(mtLongLong, 20, UNSIGNED_FLAG);
    const TMySQLFieldDesc narrowed = Desc(mtLongLong, 11, 0, {.OptimizedBigint = true});
    const TMySQLFieldDesc boolean = Desc(mtTiny, 1);
    const TMySQLFieldDesc year = Desc(mtYear, 4, UNSIGNED_FLAG);
    const Case cases[] = {
        {"tiny", tiny, "-128", -128},
        {"tiny max", tiny, "127", 127},
        {"tiny over", tiny, "128", {}, "Value 128 is out of range for field 'f' (-128 to 127)"},
        {"tiny under", tiny, "-129", {}, "Value -129 is out of range for field 'f' (-128 to 127)"},
        {"unsigned tiny", utiny, "255", 255},
        {"unsigned tiny over", utiny, "256", {}, "Value 256 is out of range for field 'f' (0 to 255)"},
        {"unsigned negative", utiny, "-1", {}, "Value -1 is out of range for field 'f' (0 to 255)"},
        {"unsigned minus zero", utiny, "-0", 0},
        {"small", small, "-32768", -32768},
        {"unsigned small", usmall, "65535", 65535},
        {"int", int32, "-2147483648", -2147483648LL},
        {"int over", int32, "2147483648", {},
            "Value 2147483648 is out of range for field 'f' (-2147483648 to 2147483647)"},
        {"unsigned int", uint32, "4294967295", 4294967295LL},
        {"bigint min", bigint, "-9223372036854775808", i64min},
        {"bigint max", bigint, "9223372036854775807", i64max},
        {"bigint over", bigint, "9223372036854775808", {},
            "Value 9223372036854775808 is out of range for field 'f' (-9223372036854775808 to 9223372036854775807)"},
        {"bigint unsigned, 19 digits", ubigint, "9223372036854775807", i64max},
        {"bigint unsigned, 20 digits", ubigint, "18446744073709551615", {},
            "Value 18446744073709551615 is out of range for field 'f' (-9223372036854775808 to "
            "9223372036854775807)"},
        {"21 digits", bigint, "184467440737095516150", {},
            "Value 184467440737095516150 is out of range for field 'f' (-9223372036854775808 to "
            "9223372036854775807)"},
        {"zerofill", int32, "00000000000000000000000000000042", 42},
        {"narrowed bigint", narrowed, "2147483647", 2147483647},
        {"narrowed bigint over", narrowed, "99999999999", {},
            "Value 99999999999 is out of range for field 'f' (-2147483648 to 2147483647)"},
        {"year", year, "2024", 2024},
        {"boolean true", boolean, "1", 1},
        {"boolean other", boolean, "-5", 1},
        {"boolean false", boolean, "0", 0},
        {"empty", int32, "", {}, "Wrong integer format. Field f, value "},
        {"minus alone", int32, "-", {}, "Wrong integer format. Field f, value -"},
        {"letters", int32, "12a", {}, "Wrong integer format. Field f, value 12a"},
        {"plus", int32, "+1", {}, "Wrong integer format. Field f, value +1"},
        {"blank", int32, " 1", {}, "Wrong integer format. Field f, value  1"},
        {"decimal", bigint, "1.0", {}, "Wrong integer format. Field f, value 1.0"},
        {"two signs", int32, "--1", {}, "Wrong integer format. Field f, value --1"},
        {"boolean letters", boolean, "t", {}, "Wrong integer format. Field f, value t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.value) {
            const StoredValue v = Decode(c.desc, c.text);
            EXPECT_FALSE(v.isNull);
            EXPECT_EQ(v.integer, *c.value);
        } else {
            const auto [cls, message] = DecodeError(c.desc, c.text);
            EXPECT_EQ(message, QString::fromLatin1(c.error));
            EXPECT_EQ(cls, message.startsWith(u'W') ? "EConvertError" : "EDatabaseError");
        }
    }
}

TEST(MySQLFieldValue, LongWrongValuesAreCutInTheMessage)
{
    const QByteArray text = QByteArray(100, '7') + 'x';
    EXPECT_EQ(DecodeError(Desc(mtLong, 11), text).second,
        QStringLiteral("Wrong integer format. Field f, value ") + QString(64, u'7'));
}

TEST(MySQLFieldValue, BitColumnsAreBigEndianBytes)
{
    const TMySQLFieldDesc bit64 = Desc(mtBit, 64, UNSIGNED_FLAG);
    const TMySQLFieldDesc bit16 = Desc(mtBit, 16, UNSIGNED_FLAG, {.OptimizedBigint = true});
    EXPECT_EQ(Decode(bit16, QByteArray("\x01\x02", 2)).integer, 0x0102);
    EXPECT_EQ(Decode(bit64, QByteArray("\x00", 1)).integer, 0);
    EXPECT_EQ(
        Decode(bit64, QByteArray("\x7f\xff\xff\xff\xff\xff\xff\xff", 8)).integer, std::numeric_limits<qint64>::max());
    EXPECT_EQ(Decode(bit64, QByteArray()).integer, 0);
    // Beyond the signed 64 bits of the field.
    EXPECT_EQ(DecodeError(bit64, QByteArray("\x80\x00\x00\x00\x00\x00\x00\x00", 8)).second,
        QStringLiteral("Value 9223372036854775808 is out of range for field 'f' (-9223372036854775808 to "
                       "9223372036854775807)"));
    EXPECT_EQ(DecodeError(bit64, QByteArray("\x01\x00\x00\x00\x00\x00\x00\x00\x00", 9)).second,
        QStringLiteral("Value 0x010000000000000000 is out of range for field 'f' (-9223372036854775808 to "
                       "9223372036854775807)"));
}

TEST(MySQLFieldValue, FloatsAndDecimals)
{
    const TMySQLFieldDesc dbl = Desc(mtDouble, 22);
    struct Case {
        const char* text;
        double value;
    };
    for (const Case& c : {Case {"1.5", 1.5}, Case {"-0.25", -0.25}, Case {"+3", 3}, Case {"1e3", 1000},
             Case {"2.5E-3", 0.0025}, Case {"-1.7976931348623157e308", -1.7976931348623157e308}, Case {".5", 0.5}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Decode(dbl, c.text).real, c.value);
    }
    for (const char* bad : {"", "abc", "1,5", "1e", "1e999", "--1", "+-1", "+", "inf", "nan", "0x10", "1 "}) {
        SCOPED_TRACE(bad);
        const auto [cls, message] = DecodeError(dbl, bad);
        EXPECT_EQ(cls, "EConvertError");
        EXPECT_EQ(message, QStringLiteral("'%1' is not a valid floating point value").arg(QString::fromLatin1(bad)));
    }
    EXPECT_EQ(DecodeError(dbl, QByteArray(50, '1') + 'x').second,
        QStringLiteral("'%1' is not a valid floating point value").arg(QString(36, u'1')));

    const TMySQLFieldDesc bcd = Desc(mtNewDecimal, 10, 0, {.EnableBCD = true}, 63, 2);
    struct BcdCase {
        const char* text;
        qint64 scaled;
    };
    for (const BcdCase& c : {BcdCase {"12.34", 123400}, BcdCase {"-0.01", -100}, BcdCase {"7", 70000},
             BcdCase {"1.23455", 12346}, BcdCase {"-1.23455", -12346}, BcdCase {"1.23454", 12345},
             BcdCase {"922337203685477.5807", std::numeric_limits<qint64>::max()}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Decode(bcd, c.text).integer, c.scaled);
    }
    EXPECT_EQ(DecodeError(bcd, "922337203685477.5808").first, "EDatabaseError");
    EXPECT_EQ(DecodeError(bcd, "99999999999999999999999").first, "EDatabaseError");

    const TMySQLFieldDesc fmt = Desc(mtNewDecimal, 22, 0, {.EnableFMTBCD = true}, 63, 6);
    EXPECT_EQ(Decode(fmt, "-123456789012345.123456").bytes, QByteArray("-123456789012345.123456"));
    for (const TMySQLFieldDesc& d : {bcd, fmt}) {
        for (const char* bad : {"", "-", "1.", ".5", "1e5", "1.2.3", "+1", "12a"}) {
            SCOPED_TRACE(bad);
            EXPECT_EQ(DecodeError(d, bad),
                std::make_pair(std::string("EConvertError"),
                    QStringLiteral("'%1' is not a valid BCD value").arg(QString::fromLatin1(bad))));
        }
    }
}

TEST(MySQLFieldValue, DatesAndDateTimes)
{
    const TMySQLFieldDesc date = Desc(mtDate, 10);
    const TMySQLFieldDesc dt = Desc(mtDateTime, 19);
    const TMySQLFieldDesc dtKeep = Desc(mtDateTime, 19, 0, {.NullForZeroDate = false});
    const TMySQLFieldDesc dateKeep = Desc(mtDate, 10, 0, {.NullForZeroDate = false});
    const TMySQLFieldDesc zeroIsNull = Desc(mtDateTime, 19, 0, {.NullForZeroDateValue = true});
    const TMySQLFieldDesc dt6 = Desc(mtDateTime, 26);
    const double year100 = -657434; // 1 January 100
    struct Case {
        const char* name;
        TMySQLFieldDesc desc;
        const char* text;
        std::optional<double> value; // none: null
    };
    const Case cases[] = {
        {"date", date, "2024-02-29", Ole(2024, 2, 29)},
        {"last date", date, "9999-12-31", Ole(9999, 12, 31)},
        {"first date", date, "0001-01-01", Ole(1, 1, 1)},
        {"epoch", date, "1899-12-30", 0.0},
        {"zero date", date, "0000-00-00", {}},
        {"zero date kept", dateKeep, "0000-00-00", year100},
        {"no such day", date, "2023-02-29", {}},
        {"February 30", dt, "2024-02-30 10:00:00", {}},
        {"month 13", date, "2024-13-01", {}},
        {"day 0", date, "2024-01-00", {}},
        {"date-time", dt, "2024-03-01 13:45:30", Ole(2024, 3, 1, 13, 45, 30)},
        {"last date-time", dt, "9999-12-31 23:59:59", Ole(9999, 12, 31, 23, 59, 59)},
        {"before the epoch", dt, "1800-01-01 06:00:00", Ole(1800, 1, 1) - 0.25},
        {"zero date-time", dt, "0000-00-00 00:00:00", {}},
        {"zero date-time kept", dtKeep, "0000-00-00 00:00:00", year100},
        {"hour 24", dt, "2024-01-01 24:00:00", {}},
        {"minute 60", dtKeep, "2024-01-01 10:60:00", year100},
        {"epoch as null", zeroIsNull, "1899-12-30 00:00:00", {}},
        {"just after the epoch", zeroIsNull, "1899-12-30 00:00:01", 1.0 / 86400},
        {"fraction", dt6, "2024-01-01 00:00:00.500000", Ole(2024, 1, 1) + 0.5 / 86400},
        {"short fraction", dt, "2024-01-01 00:00:00.5", Ole(2024, 1, 1) + 0.5 / 86400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StoredValue v = Decode(c.desc, c.text);
        EXPECT_EQ(v.isNull, !c.value.has_value());
        if (c.value) {
            EXPECT_DOUBLE_EQ(v.real, *c.value);
        }
    }
    EXPECT_DOUBLE_EQ(Ole(100, 1, 1), year100);
    EXPECT_DOUBLE_EQ(Ole(2000, 1, 1), 36526);

    struct Bad {
        TMySQLFieldDesc desc;
        const char* text;
    };
    for (const Bad& b : {Bad {date, ""}, Bad {date, "2024-1-01"}, Bad {date, "2024/01/01"}, Bad {date, "2024-01-01 "},
             Bad {date, "24-01-01"}, Bad {date, "2024-01-01 00:00:00"}, Bad {dt, "2024-01-01"},
             Bad {dt, "2024-01-01T00:00:00"}, Bad {dt, "2024-01-01 0:00:00"}, Bad {dt, "2024-01-01 00:00:00."},
             Bad {dt, "2024-01-01 00:00:00.1234567"}, Bad {dt, "2024-01-01 00:00:00x"}, Bad {dt, "abcd-ef-gh ij:kl:mn"},
             Bad {date, "+024-01-01"}}) {
        SCOPED_TRACE(b.text);
        EXPECT_EQ(DecodeError(b.desc, b.text),
            std::make_pair(std::string("EConvertError"),
                QStringLiteral("Wrong date format. Field f, value %1").arg(QString::fromLatin1(b.text))));
    }
}

TEST(MySQLFieldValue, TimestampsByLength)
{
    struct Case {
        quint32 length;
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {2, "24", Ole(2024, 1, 1)},
        {2, "69", Ole(2069, 1, 1)},
        {2, "70", Ole(1970, 1, 1)},
        {4, "9912", Ole(1999, 12, 1)},
        {6, "240229", Ole(2024, 2, 29)},
        {6, "230229", {}},
        {8, "20240229", Ole(2024, 2, 29)},
        {10, "0402291315", Ole(2004, 2, 29, 13, 15)},
        {12, "991231235959", Ole(1999, 12, 31, 23, 59, 59)},
        {14, "20240301134530", Ole(2024, 3, 1, 13, 45, 30)},
        {14, "00000000000000", {}},
        {19, "2024-03-01 13:45:30", Ole(2024, 3, 1, 13, 45, 30)},
        {19, "0000-00-00 00:00:00", {}},
        {23, "2024-03-01 13:45:30.250", Ole(2024, 3, 1, 13, 45, 30) + 0.25 / 86400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const StoredValue v = Decode(Desc(mtTimestamp, c.length), c.text);
        EXPECT_EQ(v.isNull, !c.value.has_value());
        if (c.value) {
            EXPECT_DOUBLE_EQ(v.real, *c.value);
        }
    }
    EXPECT_DOUBLE_EQ(Decode(Desc(mtTimestamp, 14, 0, {.NullForZeroDate = false}), "00000000000000").real, -657434);

    for (quint32 length : {0u, 1u, 3u, 5u, 9u, 11u, 13u, 15u, 18u, 20u, 27u, 65535u}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(DecodeError(Desc(mtTimestamp, length), "2024"),
            std::make_pair(std::string("EDatabaseError"),
                QStringLiteral("Invalid FIELD_TYPE_TIMESTAMP Field.Length (%1").arg(length)));
    }
    struct Bad {
        quint32 length;
        const char* text;
    };
    for (const Bad& b : {Bad {14, "2024030113453"}, Bad {14, "202403011345300"}, Bad {8, "2024-3-1"}, Bad {2, "-1"},
             Bad {19, "20240301134530"}}) {
        SCOPED_TRACE(b.text);
        EXPECT_EQ(DecodeError(Desc(mtTimestamp, b.length), b.text).second,
            QStringLiteral("Wrong date format. Field f, value %1").arg(QString::fromLatin1(b.text)));
    }
}

TEST(MySQLFieldValue, Times)
{
    const TMySQLFieldDesc time = Desc(mtTime, 10);
    struct Case {
        const char* text;
        double seconds;
    };
    for (const Case& c : {Case {"00:00:00", 0}, Case {"13:45:30", 13 * 3600 + 45 * 60 + 30},
             Case {"838:59:59", 838 * 3600 + 59 * 60 + 59}, Case {"-838:59:59", -(838 * 3600 + 59 * 60 + 59)},
             Case {"-00:00:01", -1}, Case {"1:02:03", 3723}, Case {"12:00:00.5", 43200.5}}) {
        SCOPED_TRACE(c.text);
        const StoredValue v = Decode(time, c.text);
        EXPECT_FALSE(v.isNull);
        EXPECT_DOUBLE_EQ(v.real, c.seconds / 86400);
    }
    for (const char* bad : {"", "12345:00:00", "-1234:00:00", "12:00", "12:0:00", "12:00:0", "12-00-00", ":00:00",
             "-:00:00", "12:60:00", "12:00:60", "12:00:00.", "1a:00:00", "12:00:00 "}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(DecodeError(time, bad),
            std::make_pair(std::string("EConvertError"),
                QStringLiteral("Wrong time format. Field f, value %1").arg(QString::fromLatin1(bad))));
    }
}

TEST(MySQLFieldValue, TextsAndBytes)
{
    const QString thai = U("เวอร์ชัน 1.2");
    // VARCHAR(20) utf8 on the road: wide, cut at 20 characters.
    const TMySQLFieldDesc version = Desc(mtVarString, 60);
    EXPECT_EQ(Decode(version, thai.toUtf8()).text, thai);
    EXPECT_EQ(Decode(version, QByteArray(25, 'x')).text, QString(20, u'x'));
    EXPECT_EQ(Decode(version, QByteArray()).text, QString());
    EXPECT_FALSE(Decode(version, QByteArray()).isNull);
    // Out of line and memo: no cut.
    const QString longThai = thai.repeated(10);
    EXPECT_EQ(Decode(Desc(mtVarString, 600), longThai.toUtf8()).text, longThai);
    EXPECT_EQ(Decode(Desc(mtBlob, 196605), longThai.toUtf8()).text, longThai);
    // CHAR keeps its blanks in the value; the field drops them when read.
    EXPECT_EQ(Decode(Desc(mtString, 30), "abcde     ").text, QStringLiteral("abcde     "));

    // 8-bit texts, bytes and blobs keep their bytes.
    const QByteArray raw("a\0\xff\x80z", 5);
    const TMySQLFieldOptions noUnicode {.UseUnicode = false};
    EXPECT_EQ(Decode(Desc(mtVarString, 10, 0, noUnicode, 8), raw).bytes, raw);
    EXPECT_EQ(Decode(Desc(mtVarString, 3, 0, noUnicode, 8), raw).bytes, raw.left(3));
    EXPECT_EQ(Decode(Desc(mtBlob, 65535, 0, noUnicode), raw).bytes, raw);
    EXPECT_EQ(Decode(Desc(mtBlob, 65535, BINARY_FLAG, {}, 63), raw).bytes, raw);
    const TMySQLFieldOptions bytes {.BinaryAsString = false};
    EXPECT_EQ(Decode(Desc(mtVarString, 10, BINARY_FLAG, bytes, 63), raw).bytes, raw);
    EXPECT_EQ(Decode(Desc(mtString, 4, BINARY_FLAG, bytes, 63), raw).bytes, raw.left(4));
    EXPECT_EQ(Decode(Desc(mtString, 40, BINARY_FLAG, bytes, 63), raw).bytes, raw);
}

TEST(MySQLFieldValue, Utf8)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        QString text;
        const char* error = "";
    };
    const Case cases[] = {
        {"ascii", "Version", QStringLiteral("Version")},
        {"two bytes", "\xc3\xa9", QStringLiteral("\u00e9")},
        {"three bytes", "\xe0\xb8\x81", U("ก")},
        {"highest of three", "\xef\xbf\xbf", QString(QChar(0xFFFF))},
        {"four bytes", "\xf0\x9f\x98\x80", U("😀")},
        {"highest", "\xf4\x8f\xbf\xbf", QString::fromUcs4(U"\U0010FFFF")},
        {"cut after the first byte", "ok\xe0", {}, "incomplete multibyte char"},
        {"cut after two of three", "ok\xe0\xb8", {}, "incomplete multibyte char"},
        {"cut two-byte", "\xc3", {}, "incomplete multibyte char"},
        {"cut four-byte", "\xf0\x9f\x98", {}, "incomplete multibyte char"},
        {"bad second of two", "\xc3\x41", {}, "malformed trail byte"},
        {"bad second of three", "\xe0\x41\x81", {}, "malformed trail byte or out of range char"},
        {"bad third of three", "\xe0\xb8\x41", {}, "malformed trail byte or out of range char"},
        {"bad trail before the end", "\xe0\x41", {}, "malformed trail byte or out of range char"},
        {"stray trail byte", "a\x80", {}, "malformed trail byte or out of range char"},
        {"overlong two", "\xc0\xaf", {}, "malformed trail byte or out of range char"},
        {"overlong three", "\xe0\x80\xaf", {}, "malformed trail byte or out of range char"},
        {"surrogate", "\xed\xa0\x80", {}, "malformed trail byte or out of range char"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", {}, "malformed trail byte or out of range char"},
        {"five-byte lead", "\xf8\x88\x80\x80\x80", {}, "malformed trail byte or out of range char"},
        {"byte ff", "\xff", {}, "malformed trail byte or out of range char"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Cell cell(c.bytes);
        try {
            EXPECT_EQ(DecodeUtf8(cell.View()), c.text);
            EXPECT_EQ(*c.error, '\0');
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(c.error));
        }
    }
    // Cutting never splits a surrogate pair.
    const Cell pairs(QByteArrayView("a\xf0\x9f\x98\x80\xf0\x9f\x98\x80"));
    EXPECT_EQ(DecodeUtf8(pairs.View(), 3), U("a😀"));
    EXPECT_EQ(DecodeUtf8(pairs.View(), 2), QStringLiteral("a"));
    EXPECT_EQ(DecodeUtf8(pairs.View(), 5), U("a😀😀"));
    // The whole value is checked, also past the cut.
    const Cell badTail(QByteArrayView("abc\xe0"));
    EXPECT_THROW(DecodeUtf8(badTail.View(), 2), EConvertError);
    // Through a field.
    EXPECT_EQ(DecodeError(Desc(mtVarString, 60), "ok\xe0").second, QStringLiteral("incomplete multibyte char"));
}

// A result as the dataset gets it: definitions from the columns, records
// from the decoded cells, then the fields read as strings.
TEST(MySQLFieldValue, ValuesReadBackThroughTheDataset)
{
    struct Column {
        const char* name;
        quint8 type;
        quint32 length;
        QByteArray value; // null: NULL
        QString asString;
    };
    const Column columns[] = {
        {"Version", mtVarString, 60, "1.2.3  ", QStringLiteral("1.2.3  ")},
        {"Code", mtString, 30, "abcde     ", QStringLiteral("abcde")},
        {"Name", mtVarString, 150, U("เวอร์ชันใหม่").toUtf8(), U("เวอร์ชันใหม่")},
        {"Missing", mtVarString, 60, QByteArray(), QString()},
        {"Id", mtLong, 11, "-42", QStringLiteral("-42")},
        {"Released", mtDateTime, 19, "2024-03-01 13:45:30", QStringLiteral("01/03/2024 13:45:30")},
        {"Never", mtDateTime, 19, "0000-00-00 00:00:00", QString()},
        {"Took", mtTime, 10, "-838:59:59", QStringLiteral("-838:59:59")},
        {"Notes", mtBlob, 196605, U("บันทึก").toUtf8(), U("บันทึก")},
    };
    QList<TFieldDef> defs;
    QList<StoredValue> values;
    for (const Column& c : columns) {
        TMySqlFieldInfo info;
        info.Name = c.name;
        info.Table = info.OrgTable = "tbVersionControl";
        info.Type = c.type;
        info.Length = c.length;
        info.CharsetNr = 33;
        const TMySQLFieldDesc desc = MakeFieldDesc(info, int(defs.size()) + 1, TMySQLFieldOptions());
        defs << ToFieldDef(desc);
        const Cell cell(c.value);
        values << DecodeValue(desc, cell.View(), c.value.isNull());
    }
    TClientDataSet table;
    table.SetData(Variant::FromBytes(datapacket::Encode(defs, {datapacket::EncodeRecord(defs, values)})));
    ASSERT_EQ(table.RecordCount(), 1);
    for (const Column& c : columns) {
        SCOPED_TRACE(c.name);
        TField* field = table.FieldByName(QString::fromLatin1(c.name));
        EXPECT_EQ(field->IsNull(), c.value.isNull() || c.asString.isEmpty());
        EXPECT_EQ(field->AsString(), c.asString);
    }
}
