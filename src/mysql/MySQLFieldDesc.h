#pragma once
// Field descriptors: what a result column becomes in the query dataset. A
// descriptor is made once per column when a result arrives, from the column
// definition the session read and the settings in force; the row decoder
// (MySQLFieldValue.h) then reads every value of the column by it.
//
// The kind follows the column's type code, flags, length and character set
// (MakeFieldDesc has the rules); FieldTypeOf gives the dataset field type of
// a kind, ToFieldDef the dataset's field definition of a descriptor.

#include "data/Field.h"
#include "mysql/MySqlFieldInfo.h"

#include <QString>

namespace velkaro {

// The settings a descriptor depends on. The defaults are those in force on
// the update client's road: the connection's "MySQL.UseUnicode=True" and
// check precision (set by the MySQL provider), every other connection
// option at its default, and the query's dataset defaults.
struct TMySQLFieldOptions {
    // connection
    bool UseUnicode = true;
    bool OptimizedBigint = false;
    bool NullForZeroDateValue = false;
    bool EnableBCD = false;
    bool EnableFMTBCD = false;
    bool CheckPrecision = true;
    // dataset
    bool FieldsAsString = false;
    bool NullForZeroDate = true;
    bool EnableBoolean = true;
    bool BinaryAsString = true;
    bool LongStrings = true;
    bool FlatBuffers = false;
    bool TrimFixedChar = true;
    bool TrimVarChar = false;
    // The ANSI code page of 8-bit names (UseUnicode off); 0 takes the
    // regional settings' code page.
    int AnsiCodePage = 0;
};

// What a column's values are stored as. The out-of-line kinds keep their
// value outside the row record (long texts and bytes, FlatBuffers off); they
// become the same dataset field types as their in-record kinds.
enum class MySqlFieldKind : quint8 {
    String, // 8-bit text
    OutOfLineString,
    WideString, // UTF-16 text decoded from UTF-8
    OutOfLineWideString,
    Int8,
    Int16,
    Int32,
    UInt8,
    UInt16,
    UInt32,
    Int64,
    Boolean,
    Float,
    Bcd,
    FmtBcd,
    Date,
    Time,
    DateTime,
    Bytes, // fixed width
    VarBytes,
    OutOfLineVarBytes,
    Blob,
    Memo, // 8-bit text of any length
    WideMemo,
};

// "String", "OutOfLineWideString", ... ; for messages and tests.
QString FieldKindName(MySqlFieldKind kind);
// ftString, ftWideString, ...: the dataset field type of a kind.
TFieldType FieldTypeOf(MySqlFieldKind kind);
bool IsOutOfLine(MySqlFieldKind kind);

struct TMySQLFieldDesc {
    int FieldNo = 0; // from 1, in column order
    QString Name; // as named in the statement
    QString ActualName; // the physical column (Name when the server sends none)
    QString TableName; // as named in the statement ("" for a computed column)
    QString ActualTableName; // the physical table

    quint8 MySqlType = 0; // MySqlType code
    quint32 Flags = 0; // as sent, with NUM_FLAG for numeric columns
    quint32 CharsetNr = 0;
    int ByteLength = 0; // capped at 65535
    // Characters for the text kinds (the field size), bytes otherwise.
    int Length = 0;
    int DBLength = 0;
    int DBScale = 0;

    MySqlFieldKind Kind = MySqlFieldKind::String;
    int DataSize = 0; // bytes the value takes in a row record
    bool Fixed = false; // a STRING (CHAR, BINARY) column

    bool Unsigned = false;
    bool ReadOnly = false;
    bool AutoIncrement = false;
    bool Required = false;
    bool Binary = false;
    bool IsKey = false; // primary, unique, multiple or part key
    bool IsPrimaryKey = false;
    bool CurrentTimestamp = false;

    // Reading as a string drops trailing blanks (TrimFixedChar for a CHAR
    // column, TrimVarChar for the other texts).
    bool TrimBlanks = false;
    // Decoding of dates: an invalid date (the zero date "0000-00-00") reads
    // as null, otherwise as 1 January 100; a valid date equal to 0
    // (30 December 1899) reads as null when NullForZeroDateValue is set.
    bool NullForZeroDate = true;
    bool NullForZeroDateValue = false;

    TFieldType DataType() const { return FieldTypeOf(Kind); }
    bool operator==(const TMySQLFieldDesc&) const = default;
};

inline constexpr int MaxColumnLength = 65535;

// The descriptor of column FieldNo (from 1). Raises EDatabaseError
// "Unknown MySQL datatype (<code>)" for a type code outside the known set
// (17 to 245).
TMySQLFieldDesc MakeFieldDesc(const TMySqlFieldInfo& info, int fieldNo, const TMySQLFieldOptions& options);

// The dataset's definition of the field: name, type, size (characters for
// texts, bytes for the bytes kinds, the scale for the BCD kinds, 0 for no
// limit), required, Fixed when reading drops trailing blanks, and the
// column's attributes: key, primary key, read-only, auto-increment, unsigned.
TFieldDef ToFieldDef(const TMySQLFieldDesc& desc);

} // namespace velkaro
