#pragma once
// Fields: the columns of a dataset. A field definition (TFieldDef) declares
// a column; a field object (TField) is the column of an open dataset and
// reads and writes the value of the dataset's current row.
//
// Values by kind (what Value() gives and SetValue() takes):
//   ftString      8-bit text in the regional ANSI code page, at most Size
//                 bytes; given text is encoded (unrepresentable characters
//                 become "?") and cut to Size bytes; a byte-array value is
//                 stored as it is (already 8-bit), also cut. Reads as text.
//   ftWideString  UTF-16 text of at most Size code units (cut).
//   ftShortint, ftByte, ftSmallint, ftWord, ftInteger, ftLongWord, ftLargeint
//                 integers of 8, 8, 16, 16, 32, 32, 64 bits (signed, unsigned
//                 alternately); a value outside the kind's range is refused.
//   ftBoolean     true / false.
//   ftFloat       double.
//   ftBCD         a decimal with four places (Variant currency).
//   ftFMTBcd      a decimal of any precision, kept as its text
//                 ("-12.3400"); reads as that text.
//   ftDate, ftTime, ftDateTime
//                 days since 30 December 1899 with the time as the fraction
//                 (Variant date); a date keeps whole days only; a time may
//                 exceed one day (MySQL TIME).
//   ftBytes, ftVarBytes
//                 bytes, at most Size (cut); ftBlob: bytes of any length.
//   ftMemo        8-bit text in the code page, any length; ftWideMemo UTF-16.
// Every kind may be null.
//
// Reading as a string: null reads "". Text kinds read their text; a Fixed
// string field (a CHAR column) drops trailing blanks. Integers read in
// decimal, booleans "True"/"False", floats with up to 15 significant
// digits, BCD as a plain decimal, dates "dd/mm/yyyy", times "hh:nn:ss",
// date-times "dd/mm/yyyy hh:nn:ss" ("dd/mm/yyyy" at midnight). Bytes,
// var-bytes and blobs read as their bytes decoded from the code page.

#include "core/Variant.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace velkaro {

class TDataSet;

enum class TFieldType {
    ftUnknown,
    ftString, // 8-bit ANSI text
    ftWideString,
    ftShortint, // 8-bit signed
    ftByte, // 8-bit unsigned
    ftSmallint,
    ftWord,
    ftInteger,
    ftLongWord,
    ftLargeint,
    ftBoolean,
    ftFloat,
    ftBCD,
    ftFMTBcd,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftBlob,
    ftMemo,
    ftWideMemo,
};

// "ftString", "ftWideMemo", ... ; for messages and tests.
QString FieldTypeName(TFieldType type);

struct TFieldDef {
    QString Name;
    TFieldType DataType = TFieldType::ftUnknown;
    // Width for ftString (bytes), ftWideString (UTF-16 code units), ftBytes
    // and ftVarBytes (bytes); 0 there means no limit. Scale for the BCD kinds;
    // unused by the other kinds.
    int Size = 0;
    // Post refuses a row where this field is null.
    bool Required = false;
    // A fixed-width text (a CHAR column): reading as a string drops trailing blanks.
    bool Fixed = false;
    // Attributes of a result column. They travel with the definition in data
    // packets and table files; the table itself enforces only ReadOnly (the
    // field object starts read-only).
    bool Key = false; // part of a key of its table (primary, unique or other)
    bool PrimaryKey = false; // part of the primary key
    bool ReadOnly = false;
    bool AutoIncrement = false;
    bool Unsigned = false;

    bool operator==(const TFieldDef&) const = default;
};

// Names for the fields of a query result, one per column in column order.
// A server may send any column names; a table needs them unique (without
// regard to case) and not empty. The rule:
// - an empty name becomes "Column" followed by its column number ("Column3");
// - every name given (after that) is taken first; the first column of each
//   name keeps it;
// - each later column with a name already used gets the name followed by
//   "_1", "_2", ... : the smallest number whose name no other column has or
//   was given (compared without regard to case).
// So ID, ID, ID_1 become ID, ID_2, ID_1, and id, ID become id, ID_1.
// Names are otherwise kept as sent: blanks and ";" stay (such a field is read
// by FieldByName; only table files, whose fields are indexed by name lists,
// refuse them).
QStringList ResultFieldNames(const QStringList& columnNames);

// A field object belongs to its dataset and lives while the dataset is
// open: Close (and every reload) deletes the dataset's fields, so callers
// look them up again after opening rather than keeping pointers.
class TField {
public:
    TField(TDataSet* dataSet, int index, const TFieldDef& def);
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    QString FieldName() const { return def_.Name; }
    TFieldType DataType() const { return def_.DataType; }
    int Size() const { return def_.Size; }
    bool Fixed() const { return def_.Fixed; }
    bool Required() const { return def_.Required; }
    int Index() const { return index_; }
    const TFieldDef& Def() const { return def_; }
    TDataSet* DataSet() const { return dataSet_; }

    // A read-only field refuses SetValue and SetAsString with
    // "Field '<name>' cannot be modified". It starts as its definition's
    // ReadOnly says.
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }

    // The current row's value: in edit or insert state the row being
    // changed, otherwise the posted row under the cursor; a table without
    // rows reads null.
    bool IsNull() const;
    Variant Value() const;
    QString AsString() const;
    qint64 AsInteger() const; // null reads 0
    double AsFloat() const; // null reads 0
    bool AsBoolean() const; // null reads false
    QByteArray AsBytes() const; // the stored bytes (8-bit texts: code-page bytes; wide: UTF-8)

    // Writes go into the row being edited or inserted; in any other state
    // they raise EDatabaseError "<dataset>: Dataset not in edit or insert mode".
    // A Null (or empty) variant clears the field. A value the kind cannot
    // take raises EConvertError or EDatabaseError naming the field.
    void SetValue(const Variant& value);
    // Text is converted to the field's kind: "" clears a non-text field; numbers
    // are read in decimal, booleans as True/False, dates as dd/mm/yyyy
    // [hh:nn:ss], yyyy-mm-dd [hh:nn:ss] or hh:nn:ss.
    void SetAsString(const QString& text);
    void SetAsBytes(const QByteArray& bytes);
    void Clear() { SetValue(Variant::Null()); }

private:
    TDataSet* dataSet_;
    int index_;
    TFieldDef def_;
    bool readOnly_ = false;
};

} // namespace velkaro
