#include "data/DataPacket.h"

#include "core/Exceptions.h"

#include <QSet>
#include <QStringDecoder>

#include <cmath>
#include <cstring>
#include <limits>

namespace velkaro::datapacket {

namespace {

enum FlagBits : quint8 { FlagRequired = 1, FlagFixed = 2, FlagsKnown = FlagRequired | FlagFixed };

constexpr qsizetype HeaderSize = 4 + 2 + 2 + 4 + 4;
constexpr qsizetype MinDefSize = 2 + 1 + 1 + 4; // a definition with an empty name
constexpr int MaxDecimalText = 80;

// How a kind's value is laid out in a record.
enum class Layout { Fixed1, Fixed2, Fixed4, Fixed8, Bytes, Utf16 };

Layout LayoutOf(TFieldType type)
{
    using enum TFieldType;
    switch (type) {
    case ftShortint:
    case ftByte:
    case ftBoolean:
        return Layout::Fixed1;
    case ftSmallint:
    case ftWord:
        return Layout::Fixed2;
    case ftInteger:
    case ftLongWord:
        return Layout::Fixed4;
    case ftLargeint:
    case ftFloat:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
        return Layout::Fixed8;
    case ftWideString:
    case ftWideMemo:
        return Layout::Utf16;
    default:
        return Layout::Bytes;
    }
}

qsizetype FixedWidth(Layout layout)
{
    switch (layout) {
    case Layout::Fixed1:
        return 1;
    case Layout::Fixed2:
        return 2;
    case Layout::Fixed4:
        return 4;
    case Layout::Fixed8:
        return 8;
    default:
        return 0;
    }
}

bool IsDoubleKind(TFieldType t)
{
    using enum TFieldType;
    return t == ftFloat || t == ftDate || t == ftTime || t == ftDateTime;
}

bool HasWidthLimit(TFieldType t)
{
    using enum TFieldType;
    return t == ftString || t == ftWideString || t == ftBytes || t == ftVarBytes;
}

constexpr TFieldType CodeTypes[] = {
    TFieldType::ftUnknown,
    TFieldType::ftString,
    TFieldType::ftWideString,
    TFieldType::ftShortint,
    TFieldType::ftByte,
    TFieldType::ftSmallint,
    TFieldType::ftWord,
    TFieldType::ftInteger,
    TFieldType::ftLongWord,
    TFieldType::ftLargeint,
    TFieldType::ftBoolean,
    TFieldType::ftFloat,
    TFieldType::ftBCD,
    TFieldType::ftFMTBcd,
    TFieldType::ftDate,
    TFieldType::ftTime,
    TFieldType::ftDateTime,
    TFieldType::ftBytes,
    TFieldType::ftVarBytes,
    TFieldType::ftBlob,
    TFieldType::ftMemo,
    TFieldType::ftWideMemo,
};

bool IsDecimalText(QByteArrayView s)
{
    if (s.isEmpty() || s.size() > MaxDecimalText)
        return false;
    qsizetype i = s[0] == '-' ? 1 : 0;
    qsizetype digits = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        qsizetype fraction = 0;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            ++fraction;
        if (fraction == 0)
            return false;
        digits += fraction;
    }
    return digits > 0 && i == s.size();
}

void PutU16(QByteArray& out, quint16 v)
{
    const char b[2] = {char(v & 0xFF), char(v >> 8)};
    out.append(b, 2);
}

void PutU32(QByteArray& out, quint32 v)
{
    const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
    out.append(b, 4);
}

void PutU64(QByteArray& out, quint64 v)
{
    for (int i = 0; i < 8; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

quint64 GetLE(const char* p, qsizetype n)
{
    quint64 v = 0;
    for (qsizetype i = n - 1; i >= 0; --i)
        v = (v << 8) | quint8(p[i]);
    return v;
}

quint64 DoubleBits(double d)
{
    quint64 b;
    std::memcpy(&b, &d, 8);
    return b;
}

double BitsDouble(quint64 b)
{
    double d;
    std::memcpy(&d, &b, 8);
    return d;
}

[[noreturn]] void Invalid(const QString& detail)
{
    throw EDatabaseError(QStringLiteral("Invalid data packet: ") + detail);
}

// Reads from a byte view; every read checks what is left first. What is
// being read is named only when something is wrong.
class Reader {
public:
    explicit Reader(QByteArrayView bytes)
        : p_(bytes.data())
        , end_(bytes.data() + bytes.size())
    {
    }
    qsizetype Left() const { return end_ - p_; }
    const char* Pos() const { return p_; }
    template <typename What> quint64 Uint(qsizetype n, const What& what)
    {
        if (n > Left())
            Invalid(QStringLiteral("the data ends inside ") + what());
        const quint64 v = GetLE(p_, n);
        p_ += n;
        return v;
    }
    template <typename What> QByteArrayView Take(qsizetype n, const What& what)
    {
        if (n > Left())
            Invalid(QStringLiteral("the data ends inside ") + what());
        QByteArrayView v(p_, n);
        p_ += n;
        return v;
    }

private:
    const char* p_;
    const char* end_;
};

// Checks one value at the reader and moves past it.
template <typename What> void CheckValue(Reader& in, const TFieldDef& def, const What& where)
{
    const Layout layout = LayoutOf(def.DataType);
    if (layout == Layout::Bytes || layout == Layout::Utf16) {
        const quint64 count = in.Uint(4, where);
        const quint64 unit = layout == Layout::Utf16 ? 2 : 1;
        if (count > quint64(in.Left()) / unit)
            Invalid(QStringLiteral("%1 claims %2 bytes, more than the data holds")
                        .arg(where(), QString::number(count * unit)));
        if (HasWidthLimit(def.DataType) && def.Size > 0 && count > quint64(def.Size))
            Invalid(QStringLiteral("%1 is longer than its field's size %2").arg(where(), QString::number(def.Size)));
        const QByteArrayView value = in.Take(qsizetype(count * unit), where);
        if (def.DataType == TFieldType::ftFMTBcd && !IsDecimalText(value))
            Invalid(QStringLiteral("%1 is not a decimal number").arg(where()));
        return;
    }
    const quint64 raw = in.Uint(FixedWidth(layout), where);
    if (def.DataType == TFieldType::ftBoolean && raw > 1)
        Invalid(QStringLiteral("%1 is not a boolean (%2)").arg(where(), QString::number(raw)));
    if (IsDoubleKind(def.DataType) && !std::isfinite(BitsDouble(raw)))
        Invalid(QStringLiteral("%1 is not a finite number").arg(where()));
}

qsizetype BitmapSize(qsizetype fields)
{
    return (fields + 7) / 8;
}

bool IsNullBit(QByteArrayView record, int field)
{
    return (quint8(record[field / 8]) >> (field % 8)) & 1;
}

// Moves past one value of a checked record.
const char* SkipValue(const char* p, TFieldType type)
{
    const Layout layout = LayoutOf(type);
    if (layout == Layout::Bytes || layout == Layout::Utf16)
        return p + 4 + qsizetype(GetLE(p, 4)) * (layout == Layout::Utf16 ? 2 : 1);
    return p + FixedWidth(layout);
}

const char* ValueStart(const QList<TFieldDef>& defs, QByteArrayView record, int field)
{
    const char* p = record.data() + BitmapSize(defs.size());
    for (int i = 0; i < field; ++i) {
        if (!IsNullBit(record, i))
            p = SkipValue(p, defs[i].DataType);
    }
    return p;
}

} // namespace

quint8 TypeCode(TFieldType type)
{
    for (quint8 code = 0; code < std::size(CodeTypes); ++code) {
        if (CodeTypes[code] == type)
            return code;
    }
    return 0;
}

void CheckFieldDefs(const QList<TFieldDef>& defs, const QString& prefix)
{
    QSet<QString> seen;
    for (const TFieldDef& def : defs) {
        if (def.Name.isEmpty())
            throw EDatabaseError(prefix + QStringLiteral("A field has no name"));
        if (def.Name.toUtf8().size() > std::numeric_limits<quint16>::max())
            throw EDatabaseError(prefix + QStringLiteral("Field name too long"));
        const QString folded = def.Name.toCaseFolded();
        if (seen.contains(folded))
            throw EDatabaseError(prefix + QStringLiteral("Duplicate field name '%1'").arg(def.Name));
        seen.insert(folded);
        if (TypeCode(def.DataType) == 0)
            throw EDatabaseError(prefix + QStringLiteral("Field '%1' is of an unknown kind").arg(def.Name));
        if (def.Size < 0)
            throw EDatabaseError(prefix + QStringLiteral("Field '%1' has a negative size").arg(def.Name));
    }
}

QByteArray EncodeRecord(const QList<TFieldDef>& defs, const QList<StoredValue>& values)
{
    QByteArray out(BitmapSize(defs.size()), '\0');
    for (int i = 0; i < defs.size(); ++i) {
        const StoredValue& v = values[i];
        if (v.isNull) {
            out[i / 8] = char(quint8(out[i / 8]) | (1u << (i % 8)));
            continue;
        }
        const TFieldType type = defs[i].DataType;
        switch (LayoutOf(type)) {
        case Layout::Fixed1:
            out.append(char(v.integer & 0xFF));
            break;
        case Layout::Fixed2:
            PutU16(out, quint16(v.integer));
            break;
        case Layout::Fixed4:
            PutU32(out, quint32(v.integer));
            break;
        case Layout::Fixed8:
            PutU64(out, IsDoubleKind(type) ? DoubleBits(v.real) : quint64(v.integer));
            break;
        case Layout::Bytes:
            PutU32(out, quint32(v.bytes.size()));
            out.append(v.bytes);
            break;
        case Layout::Utf16:
            PutU32(out, quint32(v.text.size()));
            // UTF-16 code units little-endian, as the host holds them.
            out.append(reinterpret_cast<const char*>(v.text.utf16()), v.text.size() * 2);
            break;
        }
    }
    return out;
}

QByteArrayView ValueBytes(const QList<TFieldDef>& defs, QByteArrayView record, int field, bool* isNull)
{
    *isNull = IsNullBit(record, field);
    if (*isNull)
        return {};
    const char* p = ValueStart(defs, record, field);
    const Layout layout = LayoutOf(defs[field].DataType);
    if (layout == Layout::Bytes || layout == Layout::Utf16)
        return QByteArrayView(p + 4, qsizetype(GetLE(p, 4)) * (layout == Layout::Utf16 ? 2 : 1));
    return QByteArrayView(p, FixedWidth(layout));
}

void LeadingValues(const QList<TFieldDef>& defs, QByteArrayView record, int count, QByteArrayView* values, bool* nulls)
{
    const char* p = record.data() + BitmapSize(defs.size());
    for (int i = 0; i < count; ++i) {
        nulls[i] = IsNullBit(record, i);
        if (nulls[i]) {
            values[i] = QByteArrayView();
            continue;
        }
        const Layout layout = LayoutOf(defs[i].DataType);
        if (layout == Layout::Bytes || layout == Layout::Utf16) {
            const qsizetype n = qsizetype(GetLE(p, 4)) * (layout == Layout::Utf16 ? 2 : 1);
            values[i] = QByteArrayView(p + 4, n);
            p += 4 + n;
        } else {
            values[i] = QByteArrayView(p, FixedWidth(layout));
            p += FixedWidth(layout);
        }
    }
}

StoredValue DecodeValue(const QList<TFieldDef>& defs, QByteArrayView record, int field)
{
    StoredValue v;
    bool isNull = true;
    const QByteArrayView raw = ValueBytes(defs, record, field, &isNull);
    if (isNull)
        return v;
    v.isNull = false;
    using enum TFieldType;
    const TFieldType type = defs[field].DataType;
    switch (type) {
    case ftShortint:
        v.integer = qint8(raw[0]);
        break;
    case ftByte:
        v.integer = quint8(raw[0]);
        break;
    case ftBoolean:
        v.integer = raw[0] != 0;
        break;
    case ftSmallint:
        v.integer = qint16(GetLE(raw.data(), 2));
        break;
    case ftWord:
        v.integer = quint16(GetLE(raw.data(), 2));
        break;
    case ftInteger:
        v.integer = qint32(GetLE(raw.data(), 4));
        break;
    case ftLongWord:
        v.integer = quint32(GetLE(raw.data(), 4));
        break;
    case ftLargeint:
    case ftBCD:
        v.integer = qint64(GetLE(raw.data(), 8));
        break;
    case ftFloat:
    case ftDate:
    case ftTime:
    case ftDateTime:
        v.real = BitsDouble(GetLE(raw.data(), 8));
        break;
    case ftWideString:
    case ftWideMemo: {
        v.text.resize(raw.size() / 2);
        std::memcpy(v.text.data(), raw.data(), raw.size());
        break;
    }
    default:
        v.bytes = raw.toByteArray();
        break;
    }
    return v;
}

QList<StoredValue> DecodeRecord(const QList<TFieldDef>& defs, QByteArrayView record)
{
    QList<StoredValue> values;
    values.reserve(defs.size());
    for (int i = 0; i < defs.size(); ++i)
        values.append(DecodeValue(defs, record, i));
    return values;
}

QByteArray Encode(const QList<TFieldDef>& defs, const std::vector<QByteArray>& records)
{
    QByteArray out = EncodeHead(defs, qsizetype(records.size()));
    qsizetype total = out.size();
    for (const QByteArray& r : records)
        total += r.size();
    out.reserve(total);
    for (const QByteArray& r : records)
        out.append(r);
    return out;
}

QByteArray EncodeHead(const QList<TFieldDef>& defs, qsizetype rowCount)
{
    QByteArray out;
    out.reserve(HeaderSize + defs.size() * 32);
    out.append(Magic, 4);
    PutU16(out, Version);
    PutU16(out, 0);
    PutU32(out, quint32(defs.size()));
    PutU32(out, quint32(rowCount));
    for (const TFieldDef& def : defs) {
        const QByteArray name = def.Name.toUtf8();
        PutU16(out, quint16(name.size()));
        out.append(name);
        out.append(char(TypeCode(def.DataType)));
        out.append(char((def.Required ? FlagRequired : 0) | (def.Fixed ? FlagFixed : 0)));
        PutU32(out, quint32(def.Size));
    }
    return out;
}

Decoded Decode(const QByteArray& bytes)
{
    Decoded result;
    // The records point into the storage, so it must own its bytes.
    result.storage = bytes;
    if (result.storage.data_ptr().d_ptr() == nullptr && !bytes.isEmpty())
        result.storage = QByteArray(bytes.constData(), bytes.size());
    Reader in(result.storage);

    const auto header = [] { return QStringLiteral("the header"); };
    const QByteArrayView magic = in.Take(4, header);
    if (std::memcmp(magic.data(), Magic, 4) != 0)
        Invalid(QStringLiteral("not a table (wrong signature)"));
    const quint64 version = in.Uint(2, header);
    if (version != Version)
        Invalid(QStringLiteral("unsupported version %1").arg(version));
    if (in.Uint(2, header) != 0)
        Invalid(QStringLiteral("unknown header flags"));
    const quint64 fieldCount = in.Uint(4, header);
    const quint64 rowCount = in.Uint(4, header);
    if (fieldCount > quint64(in.Left()) / MinDefSize)
        Invalid(QStringLiteral("%1 fields claimed, more than the data holds").arg(fieldCount));

    result.fieldDefs.reserve(qsizetype(fieldCount));
    for (quint64 i = 0; i < fieldCount; ++i) {
        const auto where = [i] { return QStringLiteral("field definition %1").arg(i + 1); };
        const qsizetype nameLength = qsizetype(in.Uint(2, where));
        const QByteArrayView utf8 = in.Take(nameLength, where);
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        TFieldDef def;
        def.Name = decoder(utf8);
        if (decoder.hasError())
            Invalid(where() + QStringLiteral(" has a name that is not UTF-8"));
        const quint64 code = in.Uint(1, where);
        if (code == 0 || code >= std::size(CodeTypes))
            Invalid(QStringLiteral("field '%1' has an unknown type code %2").arg(def.Name, QString::number(code)));
        def.DataType = CodeTypes[code];
        const quint64 flags = in.Uint(1, where);
        if ((flags & ~quint64(FlagsKnown)) != 0)
            Invalid(QStringLiteral("field '%1' has unknown flags %2").arg(def.Name, QString::number(flags)));
        def.Required = flags & FlagRequired;
        def.Fixed = flags & FlagFixed;
        const quint64 size = in.Uint(4, where);
        if (size > quint64(std::numeric_limits<qint32>::max()))
            Invalid(QStringLiteral("field '%1' has an impossible size %2").arg(def.Name, QString::number(size)));
        def.Size = int(size);
        result.fieldDefs.append(def);
    }
    try {
        CheckFieldDefs(result.fieldDefs);
    } catch (const EDatabaseError& e) {
        Invalid(e.Message());
    }

    const qsizetype bitmap = BitmapSize(qsizetype(fieldCount));
    if (rowCount > 0 && (bitmap == 0 || rowCount > quint64(in.Left()) / quint64(bitmap)))
        Invalid(QStringLiteral("%1 rows claimed, more than the data holds").arg(rowCount));
    result.records.reserve(size_t(rowCount));
    const int fields = int(result.fieldDefs.size());
    for (quint64 r = 0; r < rowCount; ++r) {
        const char* start = in.Pos();
        const QByteArrayView nulls = in.Take(bitmap, [r] { return QStringLiteral("row %1").arg(r + 1); });
        if (fields % 8 != 0 && (quint8(nulls[bitmap - 1]) >> (fields % 8)) != 0)
            Invalid(QStringLiteral("row %1 has null flags beyond its fields").arg(r + 1));
        for (int f = 0; f < fields; ++f) {
            if (IsNullBit(nulls, f))
                continue;
            const TFieldDef& def = result.fieldDefs[f];
            CheckValue(in, def,
                [r, &def] { return QStringLiteral("row %1, field '%2'").arg(QString::number(r + 1), def.Name); });
        }
        result.records.push_back(QByteArray::fromRawData(start, in.Pos() - start));
    }
    if (in.Left() != 0)
        Invalid(QStringLiteral("%1 unexpected bytes after the last row").arg(in.Left()));
    return result;
}

} // namespace velkaro::datapacket
