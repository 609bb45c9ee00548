#pragma once
// The data packet: field definitions plus rows, as one byte string. It is
// both the answer of a provider and the file form of a client table; its
// layout is described in docs/table-format.md.
//
// A row is kept in its encoded form (a "record": null flags, then the
// values of the non-null fields) by the tables too, so loading a file or a
// packet checks each record once and keeps it as it stands. A record is a
// view: the bytes belong to whoever stores them (the decoded input, or the
// table's storage).
//
// Decoding trusts nothing: every count and length is checked against the
// bytes that remain before anything is allocated, and any fault raises
// EDatabaseError "Invalid data packet: <what is wrong>". Writers write the
// current version; the reader reads every version written so far.

#include "data/Field.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <vector>

namespace velkaro {

class ByteReader;

// One field's value in its stored form (see Field.h for the kinds).
struct StoredValue {
    bool isNull = true;
    qint64 integer = 0; // integer kinds; boolean 0/1; BCD scaled by 10000
    double real = 0; // float; date, time, date-time as days since 30 Dec 1899
    QByteArray bytes; // ftString and ftMemo (code-page bytes), bytes kinds, FMTBcd text
    QString text; // ftWideString, ftWideMemo

    bool operator==(const StoredValue&) const = default;
};

namespace datapacket {

inline constexpr char Magic[4] = {'V', 'K', 'D', 'S'};
// 1: definitions with Required and Fixed; 2: also the column attributes.
inline constexpr quint16 Version = 2;

// Field-type codes as written (stable, independent of the enum's order).
quint8 TypeCode(TFieldType type);

// Checks a set of definitions as a table needs them: names not empty and
// unique (without regard to case), known kinds, sizes not negative.
// Raises EDatabaseError with the first fault (Prefix goes in front of it).
void CheckFieldDefs(const QList<TFieldDef>& defs, const QString& prefix = QString());

// What a table file asks of its field names beyond CheckFieldDefs: no
// leading or trailing blanks and no ";", since the file's fields are indexed
// by name lists ("Section;Key"). Query results may carry such names (see
// ResultFieldNames); a table file neither reads nor writes them. Raises
// EDatabaseError "Field name '<name>' ..." for the first offender.
void CheckTableFileNames(const QList<TFieldDef>& defs);

// The range of the date kinds, in days since 30 December 1899: the days the
// calendar shows with a four-digit year, 1 January 1 to 31 December 9999. A
// date is a whole day within it; a date-time (rounded to the millisecond, as
// it is shown) falls on a day within it; a time, which may span days, stays
// within the same bounds.
inline constexpr double FirstDay = -693593; // 1 January 1
inline constexpr double LastDay = 2958465; // 31 December 9999
bool IsValidDateValue(TFieldType type, double days);

// The bytes of a value of a fixed-size kind (numbers, booleans, dates) in a
// record; 0 for the kinds stored with a length (texts, bytes, FMTBcd).
int ValueWidth(TFieldType type);

// One record from its values (one per definition, already in stored form:
// the caller has applied widths and ranges), appended to Out.
void EncodeRecord(const QList<TFieldDef>& defs, const QList<StoredValue>& values, QByteArray& out);
// One value of a kind (not null) as a record holds it after its null flags,
// with the length in front of a text or bytes value, appended to Out.
void EncodeValue(TFieldType type, const StoredValue& value, QByteArray& out);
QByteArray EncodeRecord(const QList<TFieldDef>& defs, const QList<StoredValue>& values);

// The value of one field of a record that was checked (by Decode, or made by
// EncodeRecord or a RowAppender).
StoredValue DecodeValue(const QList<TFieldDef>& defs, QByteArrayView record, int field);
QList<StoredValue> DecodeRecord(const QList<TFieldDef>& defs, QByteArrayView record);

// Where the value of a field lies inside a checked record, for comparing
// without decoding: the value's bytes without their length prefix (empty
// view when null).
QByteArrayView ValueBytes(const QList<TFieldDef>& defs, QByteArrayView record, int field, bool* isNull);

// The size of the checked record that Bytes start with.
qsizetype RecordSize(const QList<TFieldDef>& defs, QByteArrayView bytes);

// A value's bytes as ValueBytes gives them, with its null flag.
struct FieldBytes {
    QByteArrayView raw;
    bool isNull = true;
};

// The values of fields 0..Count-1 of a checked record in one pass.
void LeadingValues(const QList<TFieldDef>& defs, QByteArrayView record, int count, FieldBytes* values);

// The bytes of null flags a record of a table of Fields fields starts with.
inline qsizetype BitmapSize(qsizetype fields)
{
    return (fields + 7) / 8;
}

// Fields 0..Count-1 of a checked record as they lie in it: their null flags
// (bit I for field I; Count is at most 64) and the run of bytes that holds
// their values, lengths included. Two records hold the same bytes in those
// fields exactly when both parts are equal.
quint64 LeadingNullFlags(QByteArrayView record, int count);
QByteArrayView LeadingRun(const QList<TFieldDef>& defs, QByteArrayView record, int count);

// Reads one value of a kind from values laid out as a record lays them out
// after its null flags (a record, or EncodeValue's output) and returns its
// bytes as ValueBytes gives them.
QByteArrayView NextValue(ByteReader& in, TFieldType type);

// The header and field definitions of a packet of RowCount rows; the
// records follow it as they are.
QByteArray EncodeHead(const QList<TFieldDef>& defs, qsizetype rowCount);

// A whole packet.
QByteArray Encode(const QList<TFieldDef>& defs, const std::vector<QByteArrayView>& records);

struct Decoded {
    QList<TFieldDef> fieldDefs;
    // The records, each a view into Storage (shared with the decoded input);
    // they stay valid while Storage lives.
    QByteArray storage;
    std::vector<QByteArrayView> records;
};

// A packet from a provider, or a table file, which also refuses names
// CheckTableFileNames refuses.
enum class Source { Packet, TableFile };
Decoded Decode(const QByteArray& bytes, Source source = Source::Packet);

} // namespace datapacket
} // namespace velkaro
