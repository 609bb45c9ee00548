#pragma once
// A result column as the server describes it, handed from the session (which
// reads the column definitions) to the record set (which makes fields of
// them). Texts are the bytes as sent; the record set decodes them.

#include <QByteArray>

namespace velkaro {

// MySQL column types.
enum MySqlType : quint8 {
    mtDecimal = 0,
    mtTiny = 1,
    mtShort = 2,
    mtLong = 3,
    mtFloat = 4,
    mtDouble = 5,
    mtNull = 6,
    mtTimestamp = 7,
    mtLongLong = 8,
    mtInt24 = 9,
    mtDate = 10,
    mtTime = 11,
    mtDateTime = 12,
    mtYear = 13,
    mtNewDate = 14,
    mtVarChar = 15,
    mtBit = 16,
    mtNewDecimal = 246,
    mtEnum = 247,
    mtSet = 248,
    mtTinyBlob = 249,
    mtMediumBlob = 250,
    mtLongBlob = 251,
    mtBlob = 252,
    mtVarString = 253,
    mtString = 254,
    mtGeometry = 255,
};

// Column flags.
enum : quint32 {
    NOT_NULL_FLAG = 0x0001,
    PRI_KEY_FLAG = 0x0002,
    UNIQUE_KEY_FLAG = 0x0004,
    MULTIPLE_KEY_FLAG = 0x0008,
    BLOB_FLAG = 0x0010,
    UNSIGNED_FLAG = 0x0020,
    ZEROFILL_FLAG = 0x0040,
    BINARY_FLAG = 0x0080,
    ENUM_FLAG = 0x0100,
    AUTO_INCREMENT_FLAG = 0x0200,
    TIMESTAMP_FLAG = 0x0400,
    SET_FLAG = 0x0800,
    PART_KEY_FLAG = 0x4000,
    NUM_FLAG = 0x8000, // added by the client to numeric columns
};

// The binary character set.
inline constexpr quint32 BinaryCharsetNr = 63;

struct TMySqlFieldInfo {
    QByteArray Name; // as named in the statement
    QByteArray OrgName; // the physical column
    QByteArray Table; // as named in the statement
    QByteArray OrgTable; // the physical table
    QByteArray Database;
    QByteArray DefaultValue; // left empty by the text protocol
    quint32 Length = 0; // bytes, as sent (not yet capped)
    quint32 Scale = 0; // decimals
    quint32 MaxLength = 0; // left 0 by the text protocol
    quint32 Flags = 0;
    quint32 CharsetNr = 0;
    quint8 Type = 0;

    bool operator==(const TMySqlFieldInfo&) const = default;
};

// Numeric column types get NUM_FLAG: codes 0 to 9 except TIMESTAMP (7)
// unless its length is 14 or 8, and YEAR (13).
inline bool IsNumericType(quint8 type, quint32 length)
{
    if (type == mtTimestamp)
        return length == 14 || length == 8;
    return type <= mtInt24 || type == mtYear;
}

} // namespace velkaro
