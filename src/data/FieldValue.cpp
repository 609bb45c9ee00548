#include "data/FieldValue_p.h"

#include "core/AnsiCodec.h"
#include "core/Bytes.h"
#include "core/Exceptions.h"
#include "platform/RegionalSettings.h"

#include <QDateTime>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

namespace velkaro::fieldvalue {

namespace {

using enum TFieldType;

constexpr qint64 MsPerDay = 86400000;
const QDate OleEpoch(1899, 12, 30);

struct Range {
    qint64 low;
    qint64 high;
};

Range IntegerRange(TFieldType type)
{
    switch (type) {
    case ftShortint:
        return {-128, 127};
    case ftByte:
        return {0, 255};
    case ftSmallint:
        return {-32768, 32767};
    case ftWord:
        return {0, 65535};
    case ftInteger:
        return {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()};
    case ftLongWord:
        return {0, std::numeric_limits<quint32>::max()};
    default:
        return {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    }
}

bool IsIntegerKind(TFieldType t)
{
    return t == ftShortint || t == ftByte || t == ftSmallint || t == ftWord || t == ftInteger || t == ftLongWord
        || t == ftLargeint;
}

bool IsDateKind(TFieldType t)
{
    return t == ftDate || t == ftTime || t == ftDateTime;
}

bool IsAnsiText(TFieldType t)
{
    return t == ftString || t == ftMemo;
}

bool IsBytesKind(TFieldType t)
{
    return t == ftBytes || t == ftVarBytes || t == ftBlob;
}

bool IsByteArray(const Variant& v)
{
    return v.VType() == (varArray | varByte) && v.Array() != nullptr && v.Array()->DimCount() == 1;
}

QByteArray Cut(QByteArray bytes, const TFieldDef& def)
{
    if (def.Size > 0 && bytes.size() > def.Size && def.DataType != ftMemo && def.DataType != ftBlob)
        bytes.truncate(def.Size);
    return bytes;
}

[[noreturn]] void OutOfRange(const TFieldDef& def, const QString& value)
{
    const Range r = IntegerRange(def.DataType);
    throw EDatabaseError(QStringLiteral("Value %1 is out of range for field '%2' (%3 to %4)")
                             .arg(value, def.Name, QString::number(r.low), QString::number(r.high)));
}

qint64 ParseInteger(const TFieldDef& def, const QString& text)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok) {
        // A number too large for 64 bits is out of range rather than malformed.
        bool digits = false;
        text.trimmed().toDouble(&digits);
        if (digits && !text.contains(u'.') && !text.contains(u'e', Qt::CaseInsensitive))
            OutOfRange(def, text.trimmed());
        RaiseInvalidInteger(text);
    }
    return CheckedInteger(def, v);
}

double ParseFloat(const QString& text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return v;
}

// A decimal text made plain: optional "-", digits, optional "." and digits.
QByteArray PlainDecimal(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype i = t.startsWith(u'-') || t.startsWith(u'+') ? 1 : 0;
    qsizetype digits = 0;
    bool point = false;
    bool valid = t.size() > i && t.size() <= 80;
    for (qsizetype j = i; valid && j < t.size(); ++j) {
        if (t[j].isDigit() && t[j].unicode() < 0x80)
            ++digits;
        else if (t[j] == u'.' && !point && j + 1 < t.size())
            point = true;
        else
            valid = false;
    }
    if (!valid || digits == 0)
        throw EConvertError(QStringLiteral("'%1' is not a valid BCD value").arg(text));
    QByteArray out = t.mid(i).toLatin1();
    if (out.startsWith('.'))
        out.prepend('0');
    if (t.startsWith(u'-'))
        out.prepend('-');
    return out;
}

// A decimal text scaled by 10000, rounded half away from zero.
qint64 ScaledDecimal(const TFieldDef& def, const QString& text)
{
    const QByteArray plain = PlainDecimal(text);
    const bool negative = plain.startsWith('-');
    const QByteArray body = negative ? plain.mid(1) : plain;
    const qsizetype dot = body.indexOf('.');
    const QByteArray whole = dot < 0 ? body : body.left(dot);
    QByteArray fraction = dot < 0 ? QByteArray() : body.mid(dot + 1);
    const bool roundUp = fraction.size() > 4 && fraction[4] >= '5';
    fraction = fraction.left(4).leftJustified(4, '0');
    bool ok = false;
    const qint64 w = whole.toLongLong(&ok);
    if (!ok || w > std::numeric_limits<qint64>::max() / 10000 - 1)
        throw EDatabaseError(QStringLiteral("Value %1 is out of range for field '%2'").arg(text, def.Name));
    const qint64 v = w * 10000 + fraction.toLongLong() + (roundUp ? 1 : 0);
    return negative ? -v : v;
}

double OleFromDateTime(const QDate& date, const QTime& time)
{
    const double days = double(OleEpoch.daysTo(date));
    const double frac = time.isValid() ? double(time.msecsSinceStartOfDay()) / double(MsPerDay) : 0.0;
    // Before the epoch the fraction still counts forward from midnight.
    return days >= 0 ? days + frac : days - frac;
}

} // namespace

qint64 CheckedInteger(const TFieldDef& def, qint64 v)
{
    const Range r = IntegerRange(def.DataType);
    if (v < r.low || v > r.high)
        OutOfRange(def, QString::number(v));
    return v;
}

double CheckedDate(const TFieldDef& def, double days)
{
    if (!std::isfinite(days))
        throw EConvertError(QString::fromLatin1(msg::InvalidDate).arg(QString::number(days)));
    const double d = def.DataType == ftDate ? std::trunc(days) : days;
    if (!datapacket::IsValidDateValue(def.DataType, d)) {
        throw EDatabaseError(
            QStringLiteral("Value %1 is out of range for field '%2'").arg(QString::number(days, 'g', 17), def.Name));
    }
    return d;
}

namespace {

// Splits an OLE date into whole days and milliseconds of the day.
void SplitOle(double d, qint64* days, qint64* ms)
{
    const double whole = std::trunc(d);
    qint64 part = std::llround(std::fabs(d - whole) * double(MsPerDay));
    qint64 day = qint64(whole);
    if (part >= MsPerDay) {
        part -= MsPerDay;
        day += d < 0 ? -1 : 1;
    }
    *days = day;
    *ms = part;
}

double ParseDate(const TFieldDef& def, const QString& text)
{
    const QString t = text.trimmed();
    const QStringList parts = t.split(u' ', Qt::SkipEmptyParts);
    QDate date;
    QTime time(0, 0);
    auto readTime = [](const QString& s) {
        QTime tm = QTime::fromString(s, QStringLiteral("H:m:s"));
        if (!tm.isValid())
            tm = QTime::fromString(s, QStringLiteral("H:m"));
        return tm;
    };
    auto readDate = [](const QString& s) {
        QDate d = QDate::fromString(s, QStringLiteral("d/M/yyyy"));
        if (!d.isValid())
            d = QDate::fromString(s, QStringLiteral("yyyy-M-d"));
        return d;
    };
    bool ok = false;
    if (parts.size() == 1 && parts[0].contains(u':')) {
        time = readTime(parts[0]);
        date = OleEpoch;
        ok = time.isValid();
    } else if (parts.size() == 1) {
        date = readDate(parts[0]);
        ok = date.isValid();
    } else if (parts.size() == 2) {
        date = readDate(parts[0]);
        time = readTime(parts[1]);
        ok = date.isValid() && time.isValid();
    }
    if (!ok)
        throw EConvertError(QString::fromLatin1(msg::InvalidDate).arg(text));
    const double v = OleFromDateTime(date, time);
    return def.DataType == ftDate ? std::trunc(v) : v;
}

QString TimeText(double d)
{
    const qint64 total = std::llround(std::fabs(d) * 86400.0);
    const QString body = QStringLiteral("%1:%2:%3")
                             .arg(total / 3600, 2, 10, QLatin1Char('0'))
                             .arg((total / 60) % 60, 2, 10, QLatin1Char('0'))
                             .arg(total % 60, 2, 10, QLatin1Char('0'));
    return d < 0 && total != 0 ? QStringLiteral("-") + body : body;
}

QString DateText(TFieldType type, double d)
{
    if (type == ftTime)
        return TimeText(d);
    qint64 days = 0;
    qint64 ms = 0;
    SplitOle(d, &days, &ms);
    const QString date = OleEpoch.addDays(days).toString(QStringLiteral("dd/MM/yyyy"));
    if (type == ftDate || ms == 0)
        return date;
    return date + u' ' + QTime::fromMSecsSinceStartOfDay(int(ms)).toString(QStringLiteral("hh:mm:ss"));
}

// An integer value's bytes (1, 2, 4 or 8 of them) as an unsigned number.
quint64 Unsigned(QByteArrayView v)
{
    return ByteReader(v).UInt(int(v.size()));
}

template <typename T> int Order(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

int CodePage()
{
    return platform::Regional().AnsiCodePage();
}

StoredValue FromVariant(const TFieldDef& def, const Variant& given)
{
    // Only a by-reference variant needs a copy of what it refers to.
    const Variant target = given.IsByRef() ? given.Deref() : Variant();
    const Variant& value = given.IsByRef() ? target : given;
    StoredValue s;
    if (value.IsNull() || value.IsEmpty())
        return s;
    s.isNull = false;
    const TFieldType type = def.DataType;
    if (IsAnsiText(type)) {
        s.bytes = Cut(IsByteArray(value) ? value.ByteArrayData() : ansi::Encode(value.ToString(), CodePage()), def);
    } else if (type == ftWideString || type == ftWideMemo) {
        s.text = value.ToString();
        if (type == ftWideString && def.Size > 0 && s.text.size() > def.Size)
            s.text.truncate(def.Size);
    } else if (IsIntegerKind(type)) {
        if (value.VType() == varOleStr)
            s.integer = ParseInteger(def, value.ToString());
        else if (value.VType() == varUInt64 && quint64(value.Bits()) > quint64(std::numeric_limits<qint64>::max()))
            OutOfRange(def, value.ToString());
        else if ((value.VType() == varDouble || value.VType() == varSingle) && std::fabs(value.ToDouble()) >= 9.2e18)
            OutOfRange(def, value.ToString());
        else
            s.integer = CheckedInteger(def, value.ToInt64());
    } else if (type == ftBoolean) {
        s.integer = value.ToBool() ? 1 : 0;
    } else if (type == ftFloat) {
        s.real = value.VType() == varOleStr ? ParseFloat(value.ToString()) : value.ToDouble();
        if (!std::isfinite(s.real))
            throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(value.ToString()));
    } else if (type == ftBCD) {
        if (value.VType() == varCurrency)
            s.integer = value.Bits();
        else if (value.VType() == varOleStr)
            s.integer = ScaledDecimal(def, value.ToString());
        else
            s.integer = ScaledDecimal(def, QString::number(value.ToDouble(), 'f', 6));
    } else if (type == ftFMTBcd) {
        if (value.VType() == varDouble || value.VType() == varSingle) {
            const double d = value.ToDouble();
            if (!std::isfinite(d))
                throw EConvertError(QStringLiteral("'%1' is not a valid BCD value").arg(value.ToString()));
            s.bytes = PlainDecimal(QString::number(d, 'f', def.Size > 0 ? std::min(def.Size, 30) : 6));
        } else {
            s.bytes = PlainDecimal(value.ToString());
        }
    } else if (IsDateKind(type)) {
        const double d = value.VType() == varOleStr ? ParseDate(def, value.ToString()) : value.ToDouble();
        s.real = CheckedDate(def, d);
    } else if (IsBytesKind(type)) {
        s.bytes = Cut(IsByteArray(value) ? value.ByteArrayData() : ansi::Encode(value.ToString(), CodePage()), def);
    } else {
        throw EDatabaseError(QStringLiteral("Field '%1' is of an unknown kind").arg(def.Name));
    }
    return s;
}

StoredValue FromText(const TFieldDef& def, const QString& text)
{
    const TFieldType type = def.DataType;
    const bool textKind = IsAnsiText(type) || type == ftWideString || type == ftWideMemo || IsBytesKind(type);
    if (text.isEmpty() && !textKind)
        return StoredValue();
    if (type == ftBoolean) {
        const QString t = text.trimmed();
        StoredValue s;
        s.isNull = false;
        if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
            s.integer = 1;
        else if (t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0)
            s.integer = 0;
        else
            throw EConvertError(QStringLiteral("'%1' is not a valid boolean value").arg(text));
        return s;
    }
    if (IsIntegerKind(type)) {
        StoredValue s;
        s.isNull = false;
        s.integer = ParseInteger(def, text);
        return s;
    }
    return FromVariant(def, Variant(text));
}

Variant ToVariant(const TFieldDef& def, const StoredValue& v)
{
    if (v.isNull)
        return Variant::Null();
    switch (def.DataType) {
    case ftString:
    case ftMemo:
        return Variant(ansi::Decode(v.bytes, CodePage()));
    case ftWideString:
    case ftWideMemo:
        return Variant(v.text);
    case ftShortint:
        return Variant::Typed(varShortInt, v.integer);
    case ftByte:
        return Variant::Typed(varByte, v.integer);
    case ftSmallint:
        return Variant::Typed(varSmallint, v.integer);
    case ftWord:
        return Variant::Typed(varWord, v.integer);
    case ftInteger:
        return Variant::Typed(varInteger, v.integer);
    case ftLongWord:
        return Variant::Typed(varLongWord, v.integer);
    case ftLargeint:
        return Variant::Typed(varInt64, v.integer);
    case ftBoolean:
        return Variant(v.integer != 0);
    case ftFloat:
        return Variant(v.real);
    case ftBCD:
        return Variant::FromCurrency(v.integer);
    case ftFMTBcd:
        return Variant(QString::fromLatin1(v.bytes));
    case ftDate:
    case ftTime:
    case ftDateTime:
        return Variant::FromDate(v.real);
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
        return Variant::FromBytes(v.bytes);
    case ftUnknown:
        break;
    }
    return Variant::Null();
}

bool AppendStored(const TFieldDef& def, const Variant& value, int codePage, QByteArray& out)
{
    const TFieldType type = def.DataType;
    // A text for an 8-bit text field, the usual key, is converted straight
    // into Out (and cut as Cut cuts): its length, then its bytes.
    if (IsAnsiText(type) && value.VType() == varOleStr) {
        const QString& text = value.Text();
        const qsizetype at = out.size();
        out.resize(at + 4 + text.size());
        char* length = out.data() + at;
        qsizetype n = ansi::EncodeTo(length + 4, text, codePage);
        if (type == ftString && def.Size > 0)
            n = std::min(n, qsizetype(def.Size));
        qToLittleEndian(quint32(n), length);
        if (n != text.size())
            out.truncate(at + 4 + n);
        return true;
    }
    const StoredValue s = FromVariant(def, value);
    if (s.isNull)
        return false;
    datapacket::EncodeValue(type, s, out);
    return true;
}

bool IsTextKind(TFieldType type)
{
    return type == ftString || type == ftMemo || type == ftWideString || type == ftWideMemo;
}

QString TextOfRaw(const TFieldDef& def, QByteArrayView raw)
{
    QString text;
    if (def.DataType == ftString || def.DataType == ftMemo) {
        text = ansi::Decode(raw, CodePage());
    } else {
        text.resize(raw.size() / 2);
        ByteReader(raw).CopyTo(text.data(), raw.size());
    }
    // A CHAR column's value reads without the blanks that fill it.
    if (def.Fixed) {
        qsizetype n = text.size();
        while (n > 0 && text[n - 1] == u' ')
            --n;
        text.truncate(n);
    }
    return text;
}

QString ToText(const TFieldDef& def, const StoredValue& v)
{
    if (v.isNull)
        return QString();
    switch (def.DataType) {
    case ftString:
    case ftMemo:
        return TextOfRaw(def, v.bytes);
    case ftWideString:
    case ftWideMemo:
        if (!def.Fixed)
            return v.text;
        return TextOfRaw(def, QByteArrayView(reinterpret_cast<const char*>(v.text.utf16()), v.text.size() * 2));
    case ftBoolean:
        return v.integer ? QStringLiteral("True") : QStringLiteral("False");
    case ftFloat:
        return QString::number(v.real, 'g', 15);
    case ftBCD:
        return Variant::FromCurrency(v.integer).ToString();
    case ftFMTBcd:
        return QString::fromLatin1(v.bytes);
    case ftDate:
    case ftTime:
    case ftDateTime:
        return DateText(def.DataType, v.real);
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
        return ansi::Decode(v.bytes, CodePage());
    default:
        return QString::number(v.integer);
    }
}

int CompareRaw(TFieldType type, QByteArrayView a, QByteArrayView b, int codePage)
{
    switch (type) {
    case ftString:
    case ftMemo:
        return ansi::CompareText(a, b, codePage);
    case ftWideString:
    case ftWideMemo: {
        const qsizetype n = std::min(a.size(), b.size()) / 2;
        ByteReader x(a);
        ByteReader y(b);
        for (qsizetype i = 0; i < n; ++i) {
            const quint16 p = x.U16();
            const quint16 q = y.U16();
            if (p != q)
                return p < q ? -1 : 1;
        }
        return Order(a.size(), b.size());
    }
    case ftShortint:
        return Order(qint8(Unsigned(a)), qint8(Unsigned(b)));
    case ftSmallint:
        return Order(qint16(Unsigned(a)), qint16(Unsigned(b)));
    case ftInteger:
        return Order(qint32(Unsigned(a)), qint32(Unsigned(b)));
    case ftLargeint:
    case ftBCD:
        return Order(qint64(Unsigned(a)), qint64(Unsigned(b)));
    case ftByte:
    case ftWord:
    case ftLongWord:
    case ftBoolean:
        return Order(Unsigned(a), Unsigned(b));
    case ftFloat:
    case ftDate:
    case ftTime:
    case ftDateTime:
        return Order(BitsDouble(Unsigned(a)), BitsDouble(Unsigned(b)));
    case ftFMTBcd: {
        const int numeric = Order(QString::fromLatin1(a).toDouble(), QString::fromLatin1(b).toDouble());
        return numeric != 0 ? numeric : std::clamp(a.compare(b), -1, 1);
    }
    default: {
        const qsizetype n = std::min(a.size(), b.size());
        const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), size_t(n));
        return c != 0 ? (c < 0 ? -1 : 1) : Order(a.size(), b.size());
    }
    }
}

} // namespace velkaro::fieldvalue
