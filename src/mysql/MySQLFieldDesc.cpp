#include "mysql/MySQLFieldDesc.h"

#include "core/AnsiCodec.h"
#include "core/Exceptions.h"
#include "platform/RegionalSettings.h"

#include <algorithm>

namespace velkaro {

namespace {

using enum MySqlFieldKind;

// Lengths the server gives in bytes of its character set; with UTF-8 on the
// wire a character takes up to 3 of them.
bool IsCharacterType(quint8 type)
{
    return type == mtNull || type == mtVarChar || type >= mtEnum;
}

bool IsBlobType(quint8 type)
{
    return (type >= mtTinyBlob && type <= mtBlob) || type == mtGeometry;
}

bool IsDecimalType(quint8 type)
{
    return type == mtDecimal || type == mtNewDecimal;
}

MySqlFieldKind DecimalKind(int length, int scale, const TMySQLFieldOptions& o)
{
    if (!o.CheckPrecision)
        return o.EnableFMTBCD ? FmtBcd : (o.EnableBCD ? Bcd : Float);
    const int precision = length - (scale > 0 ? 1 : 0) - 1;
    if (o.EnableBCD && precision <= 14 && scale <= 4)
        return Bcd;
    return o.EnableFMTBCD ? FmtBcd : Float;
}

MySqlFieldKind KindOfType(const TMySqlFieldInfo& info, int length, bool binary, const TMySQLFieldOptions& o)
{
    const bool isUnsigned = info.Flags & UNSIGNED_FLAG;
    const bool rawBytes = binary && info.CharsetNr == BinaryCharsetNr && !o.BinaryAsString;
    if (o.FieldsAsString && !IsBlobType(info.Type))
        return String;
    switch (info.Type) {
    case mtDecimal:
    case mtNewDecimal:
        return DecimalKind(length, int(info.Scale), o);
    case mtTiny:
        if (length == 1 && o.EnableBoolean)
            return Boolean;
        return isUnsigned ? UInt8 : Int8;
    case mtShort:
        return isUnsigned ? UInt16 : Int16;
    case mtLong:
        return isUnsigned ? UInt32 : Int32;
    case mtFloat:
    case mtDouble:
        return Float;
    case mtNull:
        return String;
    case mtTimestamp:
        return DateTime;
    case mtLongLong:
        return length < 12 && o.OptimizedBigint ? Int32 : Int64;
    case mtInt24:
        return Int32;
    case mtDate:
    case mtNewDate:
        return Date;
    case mtTime:
        return Time;
    case mtDateTime:
        return DateTime;
    case mtYear:
        return UInt16;
    case mtVarChar:
    case mtVarString:
        return rawBytes ? VarBytes : String;
    case mtBit:
        return length < 32 && o.OptimizedBigint ? Int32 : Int64;
    case mtEnum:
    case mtSet:
        return String;
    case mtString:
        return rawBytes ? Bytes : String;
    case mtTinyBlob:
    case mtMediumBlob:
    case mtLongBlob:
    case mtBlob:
    case mtGeometry:
        return binary ? Blob : Memo;
    default:
        throw EDatabaseError(QStringLiteral("Unknown MySQL datatype (%1)").arg(info.Type));
    }
}

// The rules that follow the type table, in their order.
MySqlFieldKind AdjustedKind(MySqlFieldKind kind, const TMySqlFieldInfo& info, int byteLength, int length, bool binary,
    const TMySQLFieldOptions& o)
{
    if (o.UseUnicode) {
        if (kind == String)
            kind = WideString;
        else if (kind == Memo)
            kind = WideMemo;
    }
    // A long computed text (GROUP_CONCAT and the like). Its bytes are UTF-8
    // when UseUnicode is on, so it becomes the wide memo then: an 8-bit memo
    // would read them in the ANSI code page.
    if (info.Type == mtVarString && byteLength == MaxColumnLength && info.Table.isEmpty())
        kind = binary ? Blob : (o.UseUnicode ? WideMemo : Memo);
    if (!o.LongStrings && length > 256) {
        if (kind == String)
            kind = Memo;
        else if (kind == WideString)
            kind = WideMemo;
    }
    if (!o.FlatBuffers && (length >= 32 || length == 0)) {
        if (kind == String)
            kind = OutOfLineString;
        else if (kind == Bytes || kind == VarBytes)
            kind = OutOfLineVarBytes;
        else if (kind == WideString)
            kind = OutOfLineWideString;
    }
    return kind;
}

int DataSizeOf(MySqlFieldKind kind, int length)
{
    switch (kind) {
    case String:
    case Bytes:
        return length + 1;
    case WideString:
        return (length + 1) * 2;
    case VarBytes:
        return length + 2;
    case Int8:
    case UInt8:
    case Int16:
    case UInt16:
    case Boolean:
        return 2;
    case Int32:
    case UInt32:
        return 4;
    case Int64:
    case Float:
    case Bcd:
    case Date:
    case Time:
    case DateTime:
        return 8;
    case FmtBcd:
        return 34;
    default: // out of line, blobs and memos: a reference
        return int(sizeof(void*));
    }
}

QString DecodeName(const QByteArray& bytes, const TMySQLFieldOptions& o)
{
    if (o.UseUnicode)
        return QString::fromUtf8(bytes);
    return ansi::Decode(bytes, o.AnsiCodePage != 0 ? o.AnsiCodePage : platform::Regional().AnsiCodePage());
}

bool IsTextKind(MySqlFieldKind kind)
{
    return kind == String || kind == OutOfLineString || kind == WideString || kind == OutOfLineWideString;
}

} // namespace

QString FieldKindName(MySqlFieldKind kind)
{
    static const char* const names[] = {"String", "OutOfLineString", "WideString", "OutOfLineWideString", "Int8",
        "Int16", "Int32", "UInt8", "UInt16", "UInt32", "Int64", "Boolean", "Float", "Bcd", "FmtBcd", "Date", "Time",
        "DateTime", "Bytes", "VarBytes", "OutOfLineVarBytes", "Blob", "Memo", "WideMemo"};
    return QString::fromLatin1(names[int(kind)]);
}

TFieldType FieldTypeOf(MySqlFieldKind kind)
{
    using enum TFieldType;
    switch (kind) {
    case String:
    case OutOfLineString:
        return ftString;
    case WideString:
    case OutOfLineWideString:
        return ftWideString;
    case Int8:
        return ftShortint;
    case Int16:
        return ftSmallint;
    case Int32:
        return ftInteger;
    case UInt8:
        return ftByte;
    case UInt16:
        return ftWord;
    case UInt32:
        return ftLongWord;
    case Int64:
        return ftLargeint;
    case Boolean:
        return ftBoolean;
    case Float:
        return ftFloat;
    case Bcd:
        return ftBCD;
    case FmtBcd:
        return ftFMTBcd;
    case Date:
        return ftDate;
    case Time:
        return ftTime;
    case DateTime:
        return ftDateTime;
    case Bytes:
        return ftBytes;
    case VarBytes:
    case OutOfLineVarBytes:
        return ftVarBytes;
    case Blob:
        return ftBlob;
    case Memo:
        return ftMemo;
    case WideMemo:
        return ftWideMemo;
    }
    return ftUnknown;
}

bool IsOutOfLine(MySqlFieldKind kind)
{
    return kind == OutOfLineString || kind == OutOfLineWideString || kind == OutOfLineVarBytes;
}

TMySQLFieldDesc MakeFieldDesc(const TMySqlFieldInfo& info, int fieldNo, const TMySQLFieldOptions& options)
{
    TMySQLFieldDesc d;
    d.FieldNo = fieldNo;
    d.Name = DecodeName(info.Name, options);
    d.ActualName = info.OrgName.isEmpty() ? d.Name : DecodeName(info.OrgName, options);
    d.TableName = DecodeName(info.Table, options);
    d.ActualTableName = DecodeName(info.OrgTable, options);
    d.MySqlType = info.Type;
    d.Flags = info.Flags;
    d.CharsetNr = info.CharsetNr;

    d.ByteLength = int(std::min<quint32>(info.Length, MaxColumnLength));
    d.Length = d.ByteLength;
    // A computed column of length 1023 is measured in characters already.
    const bool inCharacters = info.CharsetNr == BinaryCharsetNr || (info.OrgTable.isEmpty() && d.ByteLength == 1023);
    if (options.UseUnicode && IsCharacterType(info.Type) && !inCharacters)
        d.Length = d.ByteLength / 3;
    d.DBLength = d.Length - (IsDecimalType(info.Type) && info.Scale == 0 ? 1 : 0);
    d.DBScale = int(info.Scale);

    d.Binary = info.Flags & BINARY_FLAG;
    d.Kind = AdjustedKind(
        KindOfType(info, d.ByteLength, d.Binary, options), info, d.ByteLength, d.Length, d.Binary, options);
    d.DataSize = DataSizeOf(d.Kind, d.Length);
    d.Fixed = info.Type == mtString;

    d.Unsigned = info.Flags & UNSIGNED_FLAG;
    d.ReadOnly = info.Type == mtNull;
    d.AutoIncrement = info.Flags & AUTO_INCREMENT_FLAG;
    d.Required = (info.Flags & NOT_NULL_FLAG) && !d.AutoIncrement && info.Type != mtTimestamp;
    d.IsKey = info.Flags & (PRI_KEY_FLAG | UNIQUE_KEY_FLAG | MULTIPLE_KEY_FLAG | PART_KEY_FLAG);
    d.IsPrimaryKey = info.Flags & PRI_KEY_FLAG;
    d.CurrentTimestamp = info.Flags & TIMESTAMP_FLAG;

    d.TrimBlanks = IsTextKind(d.Kind) && (d.Fixed ? options.TrimFixedChar : options.TrimVarChar);
    d.NullForZeroDate = options.NullForZeroDate;
    d.NullForZeroDateValue = options.NullForZeroDateValue;
    return d;
}

TFieldDef ToFieldDef(const TMySQLFieldDesc& desc)
{
    TFieldDef def;
    def.Name = desc.Name;
    def.DataType = desc.DataType();
    switch (def.DataType) {
    case TFieldType::ftString:
    case TFieldType::ftWideString:
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
        def.Size = desc.Length;
        break;
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
        def.Size = desc.DBScale;
        break;
    default:
        break;
    }
    def.Required = desc.Required;
    def.Fixed = desc.TrimBlanks;
    def.Key = desc.IsKey;
    def.PrimaryKey = desc.IsPrimaryKey;
    def.ReadOnly = desc.ReadOnly;
    def.AutoIncrement = desc.AutoIncrement;
    def.Unsigned = desc.Unsigned;
    return def;
}

} // namespace velkaro
