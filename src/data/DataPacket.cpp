#include "data/DataPacket.h"

#include "core/Bytes.h"
#include "core/Exceptions.h"

#include <QSet>
#include <QStringDecoder>

#include <cmath>
#include <cstring>
#include <limits>

namespace velkaro::datapacket {

namespace {

// Definition flags. Version 1 has one byte with the first two; version 2 has
// two bytes with the column attributes too.
enum FlagBits : quint16 {
    FlagRequired = 1,
    FlagFixed = 2,
    FlagKey = 4,
    FlagPrimaryKey = 8,
    FlagReadOnly = 16,
    FlagAutoIncrement = 32,
    FlagUnsigned = 64,
    FlagsKnownV1 = FlagRequired | FlagFixed,
    FlagsKnownV2 = FlagsKnownV1 | FlagKey | FlagPrimaryKey | FlagReadOnly | FlagAutoIncrement | FlagUnsigned,
};

constexpr qsizetype HeaderSize = 4 + 2 + 2 + 4 + 4;
// A definition with an empty name.
constexpr qsizetype MinDefSize[] = {0, 2 + 1 + 1 + 4, 2 + 1 + 2 + 4};
constexpr int MaxDecimalText = 80;
constexpr double MsPerDay = 86400000.0;

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

int FixedWidth(Layout layout)
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

bool IsDateKind(TFieldType t)
{
    using enum TFieldType;
    return t == ftDate || t == ftTime || t == ftDateTime;
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

quint16 FlagsOf(const TFieldDef& def)
{
    return quint16((def.Required ? FlagRequired : 0) | (def.Fixed ? FlagFixed : 0) | (def.Key ? FlagKey : 0)
        | (def.PrimaryKey ? FlagPrimaryKey : 0) | (def.ReadOnly ? FlagReadOnly : 0)
        | (def.AutoIncrement ? FlagAutoIncrement : 0) | (def.Unsigned ? FlagUnsigned : 0));
}

void SetFlags(TFieldDef& def, quint16 flags)
{
    def.Required = flags & FlagRequired;
    def.Fixed = flags & FlagFixed;
    def.Key = flags & FlagKey;
    def.PrimaryKey = flags & FlagPrimaryKey;
    def.ReadOnly = flags & FlagReadOnly;
    def.AutoIncrement = flags & FlagAutoIncrement;
    def.Unsigned = flags & FlagUnsigned;
}

[[noreturn]] void Invalid(const QString& detail)
{
    throw EDatabaseError(QStringLiteral("Invalid data packet: ") + detail);
}

// What the decoder is reading, named only when something is wrong.
struct Place {
    enum Part { Header, Definition, RowFlags, Value } part = Header;
    quint64 index = 0; // definition or row, from 0
    const TFieldDef* def = nullptr;

    QString Text() const
    {
        switch (part) {
        case Header:
            return QStringLiteral("the header");
        case Definition:
            return QStringLiteral("field definition %1").arg(index + 1);
        case RowFlags:
            return QStringLiteral("row %1").arg(index + 1);
        case Value:
            break;
        }
        return QStringLiteral("row %1, field '%2'").arg(QString::number(index + 1), def->Name);
    }
};

// Checks one value at the reader and moves past it.
void CheckValue(ByteReader& in, const TFieldDef& def, const Place& place)
{
    const Layout layout = LayoutOf(def.DataType);
    if (layout == Layout::Bytes || layout == Layout::Utf16) {
        const quint64 count = in.U32();
        const quint64 unit = layout == Layout::Utf16 ? 2 : 1;
        if (count > quint64(in.Remaining()) / unit)
            Invalid(QStringLiteral("%1 claims %2 bytes, more than the data holds")
                        .arg(place.Text(), QString::number(count * unit)));
        if (HasWidthLimit(def.DataType) && def.Size > 0 && count > quint64(def.Size))
            Invalid(
                QStringLiteral("%1 is longer than its field's size %2").arg(place.Text(), QString::number(def.Size)));
        const QByteArrayView value = in.Bytes(qsizetype(count * unit));
        if (def.DataType == TFieldType::ftFMTBcd && !IsDecimalText(value))
            Invalid(QStringLiteral("%1 is not a decimal number").arg(place.Text()));
        return;
    }
    const quint64 raw = in.UInt(FixedWidth(layout));
    if (def.DataType == TFieldType::ftBoolean && raw > 1)
        Invalid(QStringLiteral("%1 is not a boolean (%2)").arg(place.Text(), QString::number(raw)));
    if (def.DataType == TFieldType::ftFloat || IsDateKind(def.DataType)) {
        const double d = BitsDouble(raw);
        if (!std::isfinite(d))
            Invalid(QStringLiteral("%1 is not a finite number").arg(place.Text()));
        if (def.DataType == TFieldType::ftDate && d != std::trunc(d))
            Invalid(QStringLiteral("%1 is not a whole day").arg(place.Text()));
        if (IsDateKind(def.DataType) && !IsValidDateValue(def.DataType, d))
            Invalid(
                QStringLiteral("%1 is outside the calendar (%2 days)").arg(place.Text(), QString::number(d, 'g', 17)));
    }
}

bool IsNullBit(QByteArrayView record, int field)
{
    return (quint8(record[field / 8]) >> (field % 8)) & 1;
}

// NextValue, kept inline for the walks over records below.
inline QByteArrayView Next(ByteReader& in, TFieldType type)
{
    const Layout layout = LayoutOf(type);
    if (layout == Layout::Bytes)
        return in.Bytes(in.U32());
    if (layout == Layout::Utf16)
        return in.Bytes(qsizetype(in.U32()) * 2);
    return in.Bytes(FixedWidth(layout));
}

} // namespace

QByteArrayView NextValue(ByteReader& in, TFieldType type)
{
    return Next(in, type);
}

int ValueWidth(TFieldType type)
{
    return FixedWidth(LayoutOf(type));
}

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

void CheckTableFileNames(const QList<TFieldDef>& defs)
{
    for (const TFieldDef& def : defs) {
        // The name lists split at ";" and trim what they split.
        if (def.Name.trimmed() != def.Name)
            throw EDatabaseError(QStringLiteral("Field name '%1' has leading or trailing blanks").arg(def.Name));
        if (def.Name.contains(u';'))
            throw EDatabaseError(QStringLiteral("Field name '%1' contains \";\"").arg(def.Name));
    }
}

bool IsValidDateValue(TFieldType type, double days)
{
    if (!std::isfinite(days))
        return false;
    if (type == TFieldType::ftDate)
        return days == std::trunc(days) && days >= FirstDay && days <= LastDay;
    double whole = std::trunc(days);
    if (whole < FirstDay || whole > LastDay)
        return false;
    // The time of day is shown to the millisecond; rounding up may reach the
    // next day (before the epoch the fraction still counts forward).
    if (std::round(std::fabs(days - whole) * MsPerDay) >= MsPerDay)
        whole += days < 0 ? -1 : 1;
    return whole >= FirstDay && whole <= LastDay;
}

void EncodeRecord(const QList<TFieldDef>& defs, const QList<StoredValue>& values, QByteArray& out)
{
    const qsizetype start = out.size();
    ByteWriter w(out);
    w.Fill('\0', BitmapSize(defs.size()));
    for (int i = 0; i < defs.size(); ++i) {
        const StoredValue& v = values[i];
        if (v.isNull)
            out[start + i / 8] = char(quint8(out[start + i / 8]) | (1u << (i % 8)));
        else
            EncodeValue(defs[i].DataType, v, out);
    }
}

void EncodeValue(TFieldType type, const StoredValue& v, QByteArray& out)
{
    ByteWriter w(out);
    const Layout layout = LayoutOf(type);
    switch (layout) {
    case Layout::Fixed1:
    case Layout::Fixed2:
    case Layout::Fixed4:
        w.UInt(quint64(v.integer), FixedWidth(layout));
        break;
    case Layout::Fixed8:
        w.U64(type == TFieldType::ftFloat || IsDateKind(type) ? DoubleBits(v.real) : quint64(v.integer));
        break;
    case Layout::Bytes:
        w.U32(quint32(v.bytes.size()));
        w.Bytes(v.bytes);
        break;
    case Layout::Utf16:
        w.U32(quint32(v.text.size()));
        // UTF-16 code units little-endian, as the host holds them.
        w.Bytes(QByteArrayView(reinterpret_cast<const char*>(v.text.utf16()), v.text.size() * 2));
        break;
    }
}

QByteArray EncodeRecord(const QList<TFieldDef>& defs, const QList<StoredValue>& values)
{
    QByteArray out;
    EncodeRecord(defs, values, out);
    return out;
}

QByteArrayView ValueBytes(const QList<TFieldDef>& defs, QByteArrayView record, int field, bool* isNull)
{
    *isNull = IsNullBit(record, field);
    if (*isNull)
        return {};
    ByteReader in(record);
    in.Skip(BitmapSize(defs.size()));
    for (int i = 0; i < field; ++i) {
        if (!IsNullBit(record, i))
            Next(in, defs[i].DataType);
    }
    return Next(in, defs[field].DataType);
}

qsizetype RecordSize(const QList<TFieldDef>& defs, QByteArrayView bytes)
{
    ByteReader in(bytes);
    in.Skip(BitmapSize(defs.size()));
    for (int i = 0; i < defs.size(); ++i) {
        if (!IsNullBit(bytes, i))
            Next(in, defs[i].DataType);
    }
    return in.Position();
}

void LeadingValues(const QList<TFieldDef>& defs, QByteArrayView record, int count, FieldBytes* values)
{
    ByteReader in(record);
    in.Skip(BitmapSize(defs.size()));
    for (int i = 0; i < count; ++i) {
        values[i].isNull = IsNullBit(record, i);
        values[i].raw = values[i].isNull ? QByteArrayView() : Next(in, defs[i].DataType);
    }
}

quint64 LeadingNullFlags(QByteArrayView record, int count)
{
    quint64 flags = 0;
    for (int b = 0; b * 8 < count; ++b)
        flags |= quint64(quint8(record[b])) << (8 * b);
    return count >= 64 ? flags : flags & ((quint64(1) << count) - 1);
}

QByteArrayView LeadingRun(const QList<TFieldDef>& defs, QByteArrayView record, int count)
{
    const qsizetype start = BitmapSize(defs.size());
    ByteReader in(record);
    in.Skip(start);
    for (int i = 0; i < count; ++i) {
        if (!IsNullBit(record, i))
            Next(in, defs[i].DataType);
    }
    return record.sliced(start, in.Position() - start);
}

StoredValue DecodeValue(const QList<TFieldDef>& defs, QByteArrayView record, int field)
{
    StoredValue v;
    bool isNull = true;
    const QByteArrayView raw = ValueBytes(defs, record, field, &isNull);
    if (isNull)
        return v;
    v.isNull = false;
    ByteReader in(raw);
    using enum TFieldType;
    switch (defs[field].DataType) {
    case ftShortint:
        v.integer = in.I8();
        break;
    case ftByte:
        v.integer = in.U8();
        break;
    case ftBoolean:
        v.integer = in.U8() != 0;
        break;
    case ftSmallint:
        v.integer = in.I16();
        break;
    case ftWord:
        v.integer = in.U16();
        break;
    case ftInteger:
        v.integer = in.I32();
        break;
    case ftLongWord:
        v.integer = in.U32();
        break;
    case ftLargeint:
    case ftBCD:
        v.integer = in.I64();
        break;
    case ftFloat:
    case ftDate:
    case ftTime:
    case ftDateTime:
        v.real = in.F64();
        break;
    case ftWideString:
    case ftWideMemo:
        v.text.resize(raw.size() / 2);
        in.CopyTo(v.text.data(), raw.size());
        break;
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

QByteArray EncodeHead(const QList<TFieldDef>& defs, qsizetype rowCount)
{
    QByteArray out;
    out.reserve(HeaderSize + defs.size() * 32);
    ByteWriter w(out);
    w.Bytes(QByteArrayView(Magic, 4));
    w.U16(Version);
    w.U16(0);
    w.U32(quint32(defs.size()));
    w.U32(quint32(rowCount));
    for (const TFieldDef& def : defs) {
        const QByteArray name = def.Name.toUtf8();
        w.U16(quint16(name.size()));
        w.Bytes(name);
        w.U8(TypeCode(def.DataType));
        w.U16(FlagsOf(def));
        w.U32(quint32(def.Size));
    }
    return out;
}

QByteArray Encode(const QList<TFieldDef>& defs, const std::vector<QByteArrayView>& records)
{
    QByteArray out = EncodeHead(defs, qsizetype(records.size()));
    qsizetype total = out.size();
    for (const QByteArrayView r : records)
        total += r.size();
    out.reserve(total);
    for (const QByteArrayView r : records)
        out.append(r);
    return out;
}

Decoded Decode(const QByteArray& bytes, Source source)
{
    Decoded result;
    // The records point into the storage, so it must own its bytes.
    result.storage = bytes;
    if (result.storage.data_ptr().d_ptr() == nullptr && !bytes.isEmpty())
        result.storage = QByteArray(bytes.constData(), bytes.size());
    ByteReader in(result.storage);
    Place place;
    try {
        if (std::memcmp(in.Bytes(4).data(), Magic, 4) != 0)
            Invalid(QStringLiteral("not a table (wrong signature)"));
        const quint16 version = in.U16();
        if (version < 1 || version > Version)
            Invalid(QStringLiteral("unsupported version %1").arg(version));
        if (in.U16() != 0)
            Invalid(QStringLiteral("unknown header flags"));
        const quint64 fieldCount = in.U32();
        const quint64 rowCount = in.U32();
        if (fieldCount > quint64(in.Remaining()) / quint64(MinDefSize[version]))
            Invalid(QStringLiteral("%1 fields claimed, more than the data holds").arg(fieldCount));

        place.part = Place::Definition;
        result.fieldDefs.reserve(qsizetype(fieldCount));
        for (quint64 i = 0; i < fieldCount; ++i) {
            place.index = i;
            const QByteArrayView utf8 = in.Bytes(in.U16());
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            TFieldDef def;
            def.Name = decoder(utf8);
            if (decoder.hasError())
                Invalid(place.Text() + QStringLiteral(" has a name that is not UTF-8"));
            const quint8 code = in.U8();
            if (code == 0 || code >= std::size(CodeTypes))
                Invalid(QStringLiteral("field '%1' has an unknown type code %2").arg(def.Name, QString::number(code)));
            def.DataType = CodeTypes[code];
            const quint16 flags = version == 1 ? in.U8() : in.U16();
            if ((flags & ~(version == 1 ? FlagsKnownV1 : FlagsKnownV2)) != 0)
                Invalid(QStringLiteral("field '%1' has unknown flags %2").arg(def.Name, QString::number(flags)));
            SetFlags(def, flags);
            const quint32 size = in.U32();
            if (size > quint32(std::numeric_limits<qint32>::max()))
                Invalid(QStringLiteral("field '%1' has an impossible size %2").arg(def.Name, QString::number(size)));
            def.Size = int(size);
            result.fieldDefs.append(def);
        }
        try {
            CheckFieldDefs(result.fieldDefs);
            if (source == Source::TableFile)
                CheckTableFileNames(result.fieldDefs);
        } catch (const EDatabaseError& e) {
            Invalid(e.Message());
        }

        const qsizetype bitmap = BitmapSize(qsizetype(fieldCount));
        if (rowCount > 0 && (bitmap == 0 || rowCount > quint64(in.Remaining()) / quint64(bitmap)))
            Invalid(QStringLiteral("%1 rows claimed, more than the data holds").arg(rowCount));
        result.records.reserve(size_t(rowCount));
        const int fields = int(result.fieldDefs.size());
        const char* base = result.storage.constData();
        for (quint64 r = 0; r < rowCount; ++r) {
            place.part = Place::RowFlags;
            place.index = r;
            const qsizetype start = in.Position();
            const QByteArrayView nulls = in.Bytes(bitmap);
            if (fields % 8 != 0 && (quint8(nulls[bitmap - 1]) >> (fields % 8)) != 0)
                Invalid(QStringLiteral("row %1 has null flags beyond its fields").arg(r + 1));
            place.part = Place::Value;
            for (int f = 0; f < fields; ++f) {
                if (IsNullBit(nulls, f))
                    continue;
                place.def = &result.fieldDefs[f];
                CheckValue(in, *place.def, place);
            }
            result.records.emplace_back(base + start, in.Position() - start);
        }
        in.ExpectEnd();
    } catch (const EByteReadError& e) {
        if (e.ErrorKind() == EByteReadError::Kind::LeftOver)
            Invalid(QStringLiteral("%1 unexpected bytes after the last row").arg(in.Remaining()));
        Invalid(QStringLiteral("the data ends inside ") + place.Text());
    }
    return result;
}

} // namespace velkaro::datapacket
