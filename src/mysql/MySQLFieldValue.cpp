#include "mysql/MySQLFieldValue.h"

#include "core/Exceptions.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace velkaro {

namespace {

using enum MySqlFieldKind;

constexpr qsizetype MessageValueLength = 64;
constexpr qsizetype FloatMessageLength = 36;
// Days from 1 January 1970 to 30 December 1899.
constexpr qint64 OleEpochFromUnix = 25569;

QString Shown(QByteArrayView value, qsizetype maxChars)
{
    return QString::fromUtf8(value.first(std::min(value.size(), maxChars * 4))).left(maxChars);
}

[[noreturn]] void WrongFormat(const char* what, const TMySQLFieldDesc& desc, QByteArrayView value)
{
    throw EConvertError(QStringLiteral("Wrong %1 format. Field %2, value %3")
                            .arg(QString::fromLatin1(what), desc.Name, Shown(value, MessageValueLength)));
}

[[noreturn]] void Utf8Error(const char* text)
{
    throw EConvertError(QString::fromLatin1(text));
}

// --- integers ---

struct IntegerRange {
    qint64 low;
    quint64 high;
};

IntegerRange RangeOf(MySqlFieldKind kind)
{
    switch (kind) {
    case Int8:
        return {-128, 127};
    case UInt8:
        return {0, 255};
    case Int16:
        return {-32768, 32767};
    case UInt16:
        return {0, 65535};
    case Int32:
        return {std::numeric_limits<qint32>::min(), quint64(std::numeric_limits<qint32>::max())};
    case UInt32:
        return {0, std::numeric_limits<quint32>::max()};
    default:
        return {std::numeric_limits<qint64>::min(), quint64(std::numeric_limits<qint64>::max())};
    }
}

[[noreturn]] void OutOfRange(const TMySQLFieldDesc& desc, const QString& value)
{
    const IntegerRange r = RangeOf(desc.Kind);
    throw EDatabaseError(QStringLiteral("Value %1 is out of range for field '%2' (%3 to %4)")
                             .arg(value, desc.Name, QString::number(r.low), QString::number(r.high)));
}

// The integer kinds (and boolean) from "-"? digits.
qint64 ReadInteger(const TMySQLFieldDesc& desc, QByteArrayView value)
{
    const char* p = value.data();
    const char* const end = p + value.size();
    const bool negative = p != end && *p == '-';
    if (negative)
        ++p;
    if (p == end)
        WrongFormat("integer", desc, value);
    quint64 magnitude = 0;
    bool overflow = false;
    for (; p != end; ++p) {
        const unsigned digit = unsigned(quint8(*p)) - unsigned('0');
        if (digit > 9)
            WrongFormat("integer", desc, value);
        if (magnitude > (std::numeric_limits<quint64>::max() - digit) / 10)
            overflow = true;
        magnitude = magnitude * 10 + digit;
    }
    if (desc.Kind == Boolean) {
        if (overflow)
            OutOfRange(desc, Shown(value, MessageValueLength));
        return magnitude != 0 ? 1 : 0;
    }
    const IntegerRange r = RangeOf(desc.Kind);
    const quint64 lowMagnitude = quint64(-(r.low + 1)) + 1;
    if (overflow || (negative ? magnitude > lowMagnitude : magnitude > r.high))
        OutOfRange(desc, Shown(value, MessageValueLength));
    return negative ? qint64(0 - magnitude) : qint64(magnitude);
}

// A BIT column: its bytes as a big-endian unsigned number.
qint64 ReadBits(const TMySQLFieldDesc& desc, QByteArrayView value)
{
    quint64 bits = 0;
    bool overflow = value.size() > 8;
    for (char c : value)
        bits = (bits << 8) | quint8(c);
    if (desc.Kind == Boolean)
        return !value.isEmpty() && value.back() != 0 ? 1 : 0;
    if (overflow || bits > RangeOf(desc.Kind).high)
        OutOfRange(desc,
            overflow ? QStringLiteral("0x") + QString::fromLatin1(value.toByteArray().toHex()) : QString::number(bits));
    return qint64(bits);
}

// --- decimals ---

double ReadFloat(QByteArrayView value)
{
    const char* p = value.data();
    const char* const end = p + value.size();
    bool valid = p != end;
    for (const char* q = p; valid && q != end; ++q) {
        const char c = *q;
        valid = (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+';
    }
    if (valid && *p == '+' && end - p > 1 && p[1] != '-')
        ++p;
    double v = 0;
    if (valid) {
        const auto [next, ec] = std::from_chars(p, end, v, std::chars_format::general);
        valid = ec == std::errc() && next == end;
    }
    if (!valid)
        throw EConvertError(
            QStringLiteral("'%1' is not a valid floating point value").arg(Shown(value, FloatMessageLength)));
    return v;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsPlainDecimal(QByteArrayView value)
{
    qsizetype i = !value.isEmpty() && value[0] == '-' ? 1 : 0;
    const qsizetype wholeStart = i;
    while (i < value.size() && IsDigit(value[i]))
        ++i;
    if (i == wholeStart)
        return false;
    if (i == value.size())
        return true;
    if (value[i] != '.')
        return false;
    const qsizetype fractionStart = ++i;
    while (i < value.size() && IsDigit(value[i]))
        ++i;
    return i == value.size() && i > fractionStart;
}

[[noreturn]] void InvalidBcd(QByteArrayView value)
{
    throw EConvertError(QStringLiteral("'%1' is not a valid BCD value").arg(Shown(value, MessageValueLength)));
}

// A decimal scaled by 10000, rounded half away from zero.
qint64 ReadBcd(const TMySQLFieldDesc& desc, QByteArrayView value)
{
    if (!IsPlainDecimal(value))
        InvalidBcd(value);
    const bool negative = value[0] == '-';
    qsizetype i = negative ? 1 : 0;
    constexpr quint64 limit = quint64(std::numeric_limits<qint64>::max());
    quint64 scaled = 0;
    bool overflow = false;
    for (; i < value.size() && value[i] != '.'; ++i) {
        const unsigned digit = unsigned(value[i] - '0');
        overflow = overflow || scaled > (limit / 10000 - digit) / 10;
        scaled = scaled * 10 + digit;
    }
    scaled *= 10000;
    // Four places kept, the fifth rounds.
    quint64 fraction = 0;
    const qsizetype point = i;
    for (qsizetype place = 1; place <= 4; ++place)
        fraction = fraction * 10 + (point + place < value.size() ? unsigned(value[point + place] - '0') : 0);
    const bool roundUp = point + 5 < value.size() && value[point + 5] >= '5';
    scaled += fraction + (roundUp ? 1 : 0);
    if (overflow || scaled > limit)
        throw EDatabaseError(
            QStringLiteral("Value %1 is out of range for field '%2'").arg(Shown(value, MessageValueLength), desc.Name));
    return negative ? -qint64(scaled) : qint64(scaled);
}

// --- dates and times ---

bool Digits(const char* p, int count, int& out)
{
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const unsigned digit = unsigned(quint8(p[i])) - unsigned('0');
        if (digit > 9)
            return false;
        v = v * 10 + int(digit);
    }
    out = v;
    return true;
}

// ".f" to ".ffffff" at P: the fraction of a second.
bool Fraction(const char* p, qsizetype count, double& seconds)
{
    if (count == 0) {
        seconds = 0;
        return true;
    }
    int micro = 0;
    if (count < 2 || count > 7 || p[0] != '.' || !Digits(p + 1, int(count - 1), micro))
        return false;
    static constexpr double scale[] = {1, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6};
    seconds = micro * scale[count - 1];
    return true;
}

bool IsLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool IsValidDate(int y, int m, int d)
{
    static constexpr int daysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || m < 1 || m > 12 || d < 1)
        return false;
    return d <= daysIn[m - 1] + (m == 2 && IsLeapYear(y) ? 1 : 0);
}

bool IsValidTime(int h, int n, int s)
{
    return h <= 23 && n <= 59 && s <= 59;
}

struct DateParts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    double fraction = 0;
};

// yyyy-mm-dd
bool ReadDateText(const char* p, DateParts& t)
{
    return Digits(p, 4, t.year) && p[4] == '-' && Digits(p + 5, 2, t.month) && p[7] == '-' && Digits(p + 8, 2, t.day);
}

// yyyy-mm-dd hh:nn:ss[.ffffff]
bool ReadDateTimeText(QByteArrayView v, DateParts& t)
{
    const char* p = v.data();
    return v.size() >= 19 && ReadDateText(p, t) && p[10] == ' ' && Digits(p + 11, 2, t.hour) && p[13] == ':'
        && Digits(p + 14, 2, t.minute) && p[16] == ':' && Digits(p + 17, 2, t.second)
        && Fraction(p + 19, v.size() - 19, t.fraction);
}

int TwoDigitYear(int yy)
{
    return yy < 70 ? 2000 + yy : 1900 + yy;
}

// The TIMESTAMP forms of the old servers, by the column's length: digits
// only, the year in two digits except for lengths 8 and 14.
bool ReadTimestampDigits(QByteArrayView v, int length, DateParts& t)
{
    const char* p = v.data();
    if (v.size() != length)
        return false;
    for (char c : v) {
        if (c < '0' || c > '9')
            return false;
    }
    t.month = t.day = 1;
    const bool fullYear = length == 8 || length == 14;
    const int yearDigits = fullYear ? 4 : 2;
    Digits(p, yearDigits, t.year);
    if (!fullYear)
        t.year = TwoDigitYear(t.year);
    p += yearDigits;
    const int rest = length - yearDigits; // 0, 2, 4, 8 or 10 digits
    if (rest >= 2)
        Digits(p, 2, t.month);
    if (rest >= 4)
        Digits(p + 2, 2, t.day);
    if (rest >= 8) {
        Digits(p + 4, 2, t.hour);
        Digits(p + 6, 2, t.minute);
    }
    if (rest >= 10)
        Digits(p + 8, 2, t.second);
    return true;
}

void StoreDate(const TMySQLFieldDesc& desc, const DateParts& t, bool withTime, StoredValue& out)
{
    const bool valid = IsValidDate(t.year, t.month, t.day) && IsValidTime(t.hour, t.minute, t.second);
    if (!valid) {
        if (desc.NullForZeroDate)
            return;
        out.isNull = false;
        out.real = OleDate(100, 1, 1);
        return;
    }
    const double v = withTime ? OleDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second + t.fraction)
                              : OleDate(t.year, t.month, t.day);
    if (desc.NullForZeroDateValue && v == 0)
        return;
    out.isNull = false;
    out.real = v;
}

void DecodeDate(const TMySQLFieldDesc& desc, QByteArrayView v, StoredValue& out)
{
    DateParts t;
    if (desc.MySqlType == mtTimestamp) {
        const int length = desc.ByteLength;
        if (length >= 19 && length <= 26 && length != 20) {
            if (!ReadDateTimeText(v, t))
                WrongFormat("date", desc, v);
        } else if (length == 2 || length == 4 || length == 6 || length == 8 || length == 10 || length == 12
            || length == 14) {
            if (!ReadTimestampDigits(v, length, t))
                WrongFormat("date", desc, v);
        } else {
            throw EDatabaseError(QStringLiteral("Invalid FIELD_TYPE_TIMESTAMP Field.Length (%1").arg(length));
        }
        StoreDate(desc, t, desc.Kind != Date, out);
        return;
    }
    if (desc.Kind == Date) {
        if (v.size() != 10 || !ReadDateText(v.data(), t))
            WrongFormat("date", desc, v);
        StoreDate(desc, t, false, out);
        return;
    }
    if (!ReadDateTimeText(v, t))
        WrongFormat("date", desc, v);
    StoreDate(desc, t, true, out);
}

// [-]h..:nn:ss[.ffffff]; the first ":" within the first five characters.
double ReadTime(const TMySQLFieldDesc& desc, QByteArrayView v)
{
    const char* p = v.data();
    const qsizetype colon = v.first(std::min<qsizetype>(v.size(), 5)).indexOf(':');
    const bool negative = !v.isEmpty() && p[0] == '-';
    const qsizetype hourStart = negative ? 1 : 0;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    double fraction = 0;
    const bool valid = colon > hourStart && Digits(p + hourStart, int(colon - hourStart), hours)
        && v.size() >= colon + 6 && Digits(p + colon + 1, 2, minutes) && p[colon + 3] == ':'
        && Digits(p + colon + 4, 2, seconds) && minutes <= 59 && seconds <= 59
        && Fraction(p + colon + 6, v.size() - colon - 6, fraction);
    if (!valid)
        WrongFormat("time", desc, v);
    const double days = (hours * 3600.0 + minutes * 60.0 + seconds + fraction) / 86400.0;
    return negative ? -days : days;
}

// --- texts ---

// The bytes, cut to Size when it is not 0, into Out (its buffer reused).
void CutBytes(QByteArrayView v, int size, QByteArray& out)
{
    const QByteArrayView kept = size > 0 && v.size() > size ? v.first(size) : v;
    out.resize(kept.size());
    if (!kept.isEmpty())
        std::memcpy(out.data(), kept.data(), size_t(kept.size()));
}

} // namespace

double OleDate(int year, int month, int day)
{
    // Days from the civil date (proleptic Gregorian), after H. Hinnant.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * unsigned(month + (month > 2 ? -3 : 9)) + 2) / 5 + unsigned(day) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return double(qint64(era) * 146097 + qint64(doe) - 719468 + OleEpochFromUnix);
}

double OleDateTime(int year, int month, int day, int hour, int minute, double seconds)
{
    const double days = OleDate(year, month, day);
    const double time = (hour * 3600.0 + minute * 60.0 + seconds) / 86400.0;
    // Before the epoch the fraction still counts forward from midnight.
    return days >= 0 ? days + time : days - time;
}

QString DecodeUtf8(QByteArrayView bytes, qsizetype maxUnits)
{
    QString out;
    DecodeUtf8Into(bytes, maxUnits, out);
    return out;
}

void DecodeUtf8Into(QByteArrayView bytes, qsizetype maxUnits, QString& out)
{
    // Never more units than bytes.
    out.resize(bytes.size());
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    char16_t* const start = dst;
    const quint8* p = reinterpret_cast<const quint8*>(bytes.data());
    const quint8* const end = p + bytes.size();
    static const char* const badTrail = "malformed trail byte";
    static const char* const badChar = "malformed trail byte or out of range char";
    while (p != end) {
        const quint8 lead = *p;
        if (lead < 0x80) {
            *dst++ = lead;
            ++p;
            continue;
        }
        // Trail bytes, the lead's bits, the least character of that length.
        int trail = 3;
        char32_t c = lead & 0x07;
        char32_t least = 0x10000;
        if (lead >= 0xC0 && lead <= 0xDF) {
            trail = 1;
            c = lead & 0x1F;
            least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            c = lead & 0x0F;
            least = 0x800;
        } else if (lead < 0xF0 || lead > 0xF4) {
            Utf8Error(badChar);
        }
        for (int i = 1; i <= trail; ++i) {
            if (end - p <= i)
                Utf8Error("incomplete multibyte char");
            if ((p[i] & 0xC0) != 0x80)
                Utf8Error(trail == 1 ? badTrail : badChar);
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            Utf8Error(badChar);
        p += trail + 1;
        if (c < 0x10000) {
            *dst++ = char16_t(c);
        } else {
            *dst++ = char16_t(0xD800 + ((c - 0x10000) >> 10));
            *dst++ = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    qsizetype units = dst - start;
    if (maxUnits > 0 && units > maxUnits) {
        units = maxUnits;
        if (QChar::isHighSurrogate(start[units - 1]))
            --units;
    }
    out.truncate(units);
}

StoredValue DecodeValue(const TMySQLFieldDesc& desc, QByteArrayView value, bool isNull)
{
    StoredValue out;
    DecodeValueInto(desc, value, isNull, out);
    return out;
}

void DecodeValueInto(const TMySQLFieldDesc& desc, QByteArrayView value, bool isNull, StoredValue& out)
{
    out.isNull = true;
    out.integer = 0;
    out.real = 0;
    if (!out.bytes.isEmpty())
        out.bytes.resize(0);
    if (!out.text.isEmpty())
        out.text.resize(0);
    if (isNull)
        return;
    switch (desc.Kind) {
    case String:
    case OutOfLineString:
    case Bytes:
    case VarBytes:
    case OutOfLineVarBytes:
        CutBytes(value, desc.Length, out.bytes);
        break;
    case WideString:
    case OutOfLineWideString:
        DecodeUtf8Into(value, desc.Length, out.text);
        break;
    case Int8:
    case Int16:
    case Int32:
    case UInt8:
    case UInt16:
    case UInt32:
    case Int64:
    case Boolean:
        out.integer = desc.MySqlType == mtBit ? ReadBits(desc, value) : ReadInteger(desc, value);
        break;
    case Float:
        out.real = ReadFloat(value);
        break;
    case Bcd:
        out.integer = ReadBcd(desc, value);
        break;
    case FmtBcd:
        if (!IsPlainDecimal(value))
            InvalidBcd(value);
        CutBytes(value, 0, out.bytes);
        break;
    case Date:
    case DateTime:
        DecodeDate(desc, value, out);
        return;
    case Time:
        out.real = ReadTime(desc, value);
        break;
    case Blob:
    case Memo:
        CutBytes(value, 0, out.bytes);
        break;
    case WideMemo:
        DecodeUtf8Into(value, 0, out.text);
        break;
    }
    out.isNull = false;
}

} // namespace velkaro
