#pragma once
// Rows straight from a reader. A query's record set hands each value of a
// fetched row in its stored form, field by field in field order, and the
// appender writes the record into the table's storage: no Variant, no text
// conversion and no allocation of its own per row (records go into large
// shared chunks).
//
// A dataset hands out its appender (TDataSet::AppendRows) while it opens,
// in InternalOpen, once FieldDefs() is final. Each Add call fills the next
// field; EndRow stores the row, and fields not given are null. What each
// call takes, by field kind:
//   AddNull     any kind.
//   AddInteger  ftShortint, ftByte, ftSmallint, ftWord, ftInteger,
//               ftLongWord, ftLargeint (a value outside the kind's range is
//               refused); ftBoolean (non-zero is true); ftBCD (the value
//               times 10000).
//   AddFloat    ftFloat (finite); ftDate, ftTime, ftDateTime (days since
//               30 December 1899 with the time as the fraction; a date keeps
//               whole days; a value outside the calendar is refused).
//   AddBytes    ftString and ftMemo (8-bit text in the code page), ftBytes,
//               ftVarBytes, ftBlob; ftFMTBcd (the decimal text).
//   AddText     ftWideString, ftWideMemo (UTF-16).
// Texts and bytes longer than a sized field (ftString, ftWideString,
// ftBytes, ftVarBytes) are cut to its Size, as writing the field cuts them.
// A call that does not fit the field's kind, a value the field cannot take,
// or a value past the last field raises EDatabaseError or EConvertError
// naming the field; nothing is stored for it and the row stays at that
// field. The appender belongs to the dataset and lives until it is open.

#include "data/Field.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringView>

namespace velkaro {

class TDataSet;
struct StoredValue;

class RowAppender {
public:
    RowAppender(const RowAppender&) = delete;
    RowAppender& operator=(const RowAppender&) = delete;

    void AddNull();
    void AddInteger(qint64 value);
    void AddFloat(double value);
    void AddBytes(QByteArrayView value);
    void AddText(QStringView value);
    // A value a decoder made (StoredValue, DataPacket.h), given to the call
    // its field's kind takes. The typed calls above spare the StoredValue's
    // own allocations.
    void Add(const StoredValue& value);
    void EndRow();

    // Whether a row has been started and not yet ended.
    bool InRow() const { return field_ > 0; }

private:
    friend class TDataSet;
    RowAppender(TDataSet& dataSet, const QList<TFieldDef>& defs);
    // The field the next value goes to, checked to be of a kind Allowed
    // accepts; Call names the call for the error.
    template <typename Allowed> const TFieldDef& Next(Allowed allowed, const char* call);
    void Start();

    TDataSet& dataSet_;
    const QList<TFieldDef>& defs_;
    QByteArray row_; // the record being built; keeps its capacity from row to row
    int field_ = 0;
    qsizetype rows_ = 0; // rows stored so far
};

} // namespace velkaro
