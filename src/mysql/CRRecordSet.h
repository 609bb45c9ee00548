#pragma once
// TCRRecordSet: a statement and its result on a native connection
// (TCRConnection::CreateRecordSet), as a query component uses it. A record
// set belongs to its query and runs on the caller's thread.
//
// Contract:
// - Settings arrive by property id through SetProp (the dataset options of
//   the provider); the SQL lines are set while no result is open.
// - Open runs the statement and reads its result's columns, raising when
//   the statement gives none ("Query must return exactly result set - use
//   Execute"); FieldDefs then describes them (the names made unique by
//   ResultFieldNames). FetchAll appends every row, in order, to Rows (the
//   dataset's appender for those FieldDefs) and releases the result at its
//   end (further results of the statement are read and dropped then). Close
//   releases what is still open. After a failure nothing is pending: the
//   result is released.
// - Execute runs a statement whose results are not wanted (any are read
//   and dropped); RowsAffected gives its count.

#include "data/Field.h"
#include "data/RowAppender.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace velkaro {

class TCRRecordSet {
public:
    TCRRecordSet() = default;
    virtual ~TCRRecordSet() = default;
    TCRRecordSet(const TCRRecordSet&) = delete;
    TCRRecordSet& operator=(const TCRRecordSet&) = delete;

    // The class name the provider's option lists know it by.
    virtual QString ClassName() const = 0;
    virtual bool SetProp(int prop, const Variant& value) = 0;
    virtual bool GetProp(int prop, Variant& value) const = 0;

    virtual void SetSQL(const QStringList& sql) = 0;
    // The text sent to the server.
    virtual QString FinalSQL() const = 0;

    virtual void Open() = 0;
    virtual bool Active() const = 0;
    virtual QList<TFieldDef> FieldDefs() const = 0;
    virtual void FetchAll(RowAppender& rows) = 0;
    virtual void Close() = 0;

    virtual void Execute() = 0;
    virtual qint64 RowsAffected() const = 0;
    // The physical table of the result's first column that has one.
    virtual QString TableName() const = 0;
};

} // namespace velkaro
