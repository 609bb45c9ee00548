#pragma once
// The data packet: field definitions plus rows, as one byte string. It is
// both the answer of a provider and the file form of a client table; its
// layout is described in docs/table-format.md.
//
// A row is kept in its encoded form (a "record": null flags, then the
// values of the non-null fields) by the tables too, so loading a file or a
// packet checks each record once and keeps it as it stands.
//
// Decoding trusts nothing: every count and length is checked against the
// bytes that remain before anything is allocated, and any fault raises
// EDatabaseError "Invalid data packet: <what is wrong>".

#include "data/Field.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <vector>

namespace velkaro {

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
inline constexpr quint16 Version = 1;

// Field-type codes as written (stable, independent of the enum's order).
quint8 TypeCode(TFieldType type);

// Checks a set of definitions as a table needs them: names not empty and
// unique (without regard to case), known kinds, sizes not negative.
// Raises EDatabaseError with the first fault (Prefix goes in front of it).
void CheckFieldDefs(const QList<TFieldDef>& defs, const QString& prefix = QString());

// One record from its values (one per definition, already in stored form:
// the caller has applied widths and ranges).
QByteArray EncodeRecord(const QList<TFieldDef>& defs, const QList<StoredValue>& values);

// The value of one field of a record that was checked (by Decode or made by
// EncodeRecord).
StoredValue DecodeValue(const QList<TFieldDef>& defs, QByteArrayView record, int field);
QList<StoredValue> DecodeRecord(const QList<TFieldDef>& defs, QByteArrayView record);

// Where the value of a field lies inside a checked record, for comparing
// without decoding: the value's bytes without their length prefix (empty
// view when null).
QByteArrayView ValueBytes(const QList<TFieldDef>& defs, QByteArrayView record, int field, bool* isNull);

// The values of fields 0..Count-1 of a checked record in one pass (views
// and null flags as ValueBytes gives them).
void LeadingValues(const QList<TFieldDef>& defs, QByteArrayView record, int count, QByteArrayView* values, bool* nulls);

// The header and field definitions of a packet of RowCount rows; the
// records follow it as they are.
QByteArray EncodeHead(const QList<TFieldDef>& defs, qsizetype rowCount);

// A whole packet.
QByteArray Encode(const QList<TFieldDef>& defs, const std::vector<QByteArray>& records);

struct Decoded {
    QList<TFieldDef> fieldDefs;
    // The records, each a view into Storage (QByteArray::fromRawData); they
    // stay valid while Storage (shared with the decoded input) lives.
    QByteArray storage;
    std::vector<QByteArray> records;
};
Decoded Decode(const QByteArray& bytes);

} // namespace datapacket
} // namespace velkaro
