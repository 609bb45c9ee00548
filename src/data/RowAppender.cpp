#include "data/RowAppender.h"

#include "core/Bytes.h"
#include "core/Exceptions.h"
#include "data/DataSet.h"
#include "data/FieldValue_p.h"
#include "data/RecordArena_p.h"

#include <cmath>

namespace velkaro {

namespace {

using enum TFieldType;

bool TakesInteger(TFieldType t)
{
    return t == ftShortint || t == ftByte || t == ftSmallint || t == ftWord || t == ftInteger || t == ftLongWord
        || t == ftLargeint || t == ftBoolean || t == ftBCD;
}

bool TakesFloat(TFieldType t)
{
    return t == ftFloat || t == ftDate || t == ftTime || t == ftDateTime;
}

bool TakesBytes(TFieldType t)
{
    return t == ftString || t == ftMemo || t == ftBytes || t == ftVarBytes || t == ftBlob || t == ftFMTBcd;
}

bool TakesText(TFieldType t)
{
    return t == ftWideString || t == ftWideMemo;
}

bool Anything(TFieldType)
{
    return true;
}

} // namespace

RowAppender::RowAppender(TDataSet& dataSet, const QList<TFieldDef>& defs)
    : dataSet_(dataSet)
    , defs_(defs)
{
}

void RowAppender::Start()
{
    row_.resize(0);
    row_.append((defs_.size() + 7) / 8, '\0');
}

template <typename Allowed> const TFieldDef& RowAppender::Next(Allowed allowed, const char* call)
{
    if (field_ >= defs_.size())
        throw EDatabaseError(QStringLiteral("A row has %1 fields; no field is left for another value")
                                 .arg(QString::number(defs_.size())));
    const TFieldDef& def = defs_[field_];
    if (!allowed(def.DataType)) {
        throw EDatabaseError(QStringLiteral("Field '%1' (%2) does not take %3")
                                 .arg(def.Name, FieldTypeName(def.DataType), QString::fromLatin1(call)));
    }
    if (field_ == 0)
        Start();
    return def;
}

void RowAppender::AddNull()
{
    Next(Anything, "AddNull");
    row_[field_ / 8] = char(quint8(row_[field_ / 8]) | (1u << (field_ % 8)));
    ++field_;
}

void RowAppender::AddInteger(qint64 value)
{
    const TFieldDef& def = Next(TakesInteger, "AddInteger");
    if (def.DataType == ftBoolean)
        value = value != 0 ? 1 : 0;
    else if (def.DataType != ftBCD)
        value = fieldvalue::CheckedInteger(def, value);
    ByteWriter(row_).UInt(quint64(value), datapacket::ValueWidth(def.DataType));
    ++field_;
}

void RowAppender::AddFloat(double value)
{
    const TFieldDef& def = Next(TakesFloat, "AddFloat");
    if (def.DataType == ftFloat) {
        if (!std::isfinite(value))
            throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(value));
    } else {
        value = fieldvalue::CheckedDate(def, value);
    }
    ByteWriter(row_).F64(value);
    ++field_;
}

void RowAppender::AddBytes(QByteArrayView value)
{
    const TFieldDef& def = Next(TakesBytes, "AddBytes");
    ByteWriter w(row_);
    if (def.DataType == ftFMTBcd) {
        // Made plain ("+1" and ".5" are written "1" and "0.5") and checked.
        const StoredValue s = fieldvalue::FromVariant(def, Variant(QString::fromLatin1(value)));
        w.U32(quint32(s.bytes.size()));
        w.Bytes(s.bytes);
    } else {
        const bool sized = def.DataType != ftMemo && def.DataType != ftBlob && def.Size > 0;
        const QByteArrayView cut = sized && value.size() > def.Size ? value.first(def.Size) : value;
        w.U32(quint32(cut.size()));
        w.Bytes(cut);
    }
    ++field_;
}

void RowAppender::AddText(QStringView value)
{
    const TFieldDef& def = Next(TakesText, "AddText");
    const QStringView cut
        = def.DataType == ftWideString && def.Size > 0 && value.size() > def.Size ? value.first(def.Size) : value;
    ByteWriter w(row_);
    w.U32(quint32(cut.size()));
    // UTF-16 code units little-endian, as the host holds them.
    w.Bytes(QByteArrayView(reinterpret_cast<const char*>(cut.utf16()), cut.size() * 2));
    ++field_;
}

void RowAppender::Add(const StoredValue& value)
{
    if (value.isNull || field_ >= defs_.size()) {
        AddNull();
        return;
    }
    const TFieldType type = defs_[field_].DataType;
    if (TakesInteger(type))
        AddInteger(value.integer);
    else if (TakesFloat(type))
        AddFloat(value.real);
    else if (TakesText(type))
        AddText(value.text);
    else
        AddBytes(value.bytes);
}

void RowAppender::EndRow()
{
    // A packet holds rows only with fields to tell them apart.
    if (defs_.isEmpty())
        throw EDatabaseError(QStringLiteral("A row needs at least one field"));
    if (field_ == 0)
        Start();
    while (field_ < defs_.size())
        AddNull();
    dataSet_.arena_->Store(row_);
    ++rows_;
    field_ = 0;
}

} // namespace velkaro
