#pragma once
// TMySQLRecordset: a query's statement on a MySQL connection and the rows
// of its result, decoded into stored field values.
//
// Open executes the statement expecting a result set (TMySQLCommand), then
// makes one field descriptor per column (MakeFieldDesc) from the settings
// of the connection (UseUnicode, OptimizedBigint, NullForZeroDateValue,
// EnableBCD, EnableFMTBCD, check precision) and of this record set (the
// dataset options below). A statement without result columns raises
// "Query must return exactly result set - use Execute" once its results
// are released. FetchAll reads the rows one at a time from the socket,
// decodes each value by its descriptor (DecodeValueInto, one reused value
// per column) straight into the dataset's appender, and releases the result
// at the end. A failure on the way releases the result (drains what
// is left, where the link still stands) and propagates.
//
// Dataset options (SetProp, ids of MySQLOptions.h): FetchAll, CommandTimeout
// (passed to the command), FieldsAsString, NullForZeroDate, CheckRowVersion,
// EnableBoolean, CreateConnection, BinaryAsString. The dataset keeps every
// row in memory, so rows are fetched completely at open whatever FetchAll
// says.

#include "mysql/CRRecordSet.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLFieldDesc.h"

#include <QList>

namespace velkaro {

class TMySQLConnection;

class TMySQLRecordset : public TCRRecordSet {
public:
    explicit TMySQLRecordset(TMySQLConnection* connection);
    ~TMySQLRecordset() override;

    QString ClassName() const override;
    bool SetProp(int prop, const Variant& value) override;
    bool GetProp(int prop, Variant& value) const override;

    void SetSQL(const QStringList& sql) override { command_.SetSQL(sql); }
    QString FinalSQL() const override { return command_.FinalSQL(); }
    TMySQLCommand& Command() { return command_; }

    void Open() override;
    bool Active() const override { return active_; }
    const QList<TMySQLFieldDesc>& FieldDescs() const { return fields_; }
    QList<TFieldDef> FieldDefs() const override;
    void FetchAll(RowAppender& rows) override;
    void Close() override;

    void Execute() override;
    qint64 RowsAffected() const override { return command_.RowsAffected(); }
    QString TableName() const override;

    // The settings descriptors are made with: the connection's, then this
    // record set's.
    TMySQLFieldOptions FieldOptions() const;

private:
    void releaseQuietly();

    TMySQLConnection* connection_;
    TMySQLCommand command_;
    QList<TMySQLFieldDesc> fields_;
    bool active_ = false;

    bool fetchAll_ = true;
    bool fieldsAsString_ = false;
    bool nullForZeroDate_ = true;
    bool checkRowVersion_ = false;
    bool enableBoolean_ = true;
    bool createConnection_ = true;
    bool binaryAsString_ = true;
};

} // namespace velkaro
