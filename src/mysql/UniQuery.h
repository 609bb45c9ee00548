#pragma once
// TUniQuery: a query dataset on a TUniConnection (qryAnyPropose). Opening
// it connects the connection when needed, sends the SQL text (its lines as
// the provider's final text: trailing blanks and line breaks dropped,
// "quoted" identifiers and "--" comments rewritten), and fetches every row
// of the result into the dataset; the fields follow the result's columns
// (duplicate names made unique, see ResultFieldNames). Closing drops the
// rows; the session stays open (see TUniConnection).
//
// Errors: "<name>: Connection is not defined" without a connection; the
// connection's and the server's errors (EMyError); a statement without
// result columns raises "Query must return exactly result set - use
// Execute" (run such statements with Execute). After a failed open the
// dataset is closed and nothing is left pending on the session.
//
// SpecificOptions take the provider's dataset options ("MySQL.FetchAll=...",
// CommandTimeout, FieldsAsString, NullForZeroDate, EnableBoolean,
// BinaryAsString, ...), imported at each open and execute.
//
// The provider-support operations are the ones a dataset provider asks for;
// of them only PSReset (an open query is closed and opened again, so the
// statement runs once more) causes traffic.

#include "data/CustomQuery.h"
#include "mysql/UniConnection.h"

#include <QPointer>
#include <QString>
#include <QStringList>

namespace velkaro {

class TCRRecordSet;

class TUniQuery : public TCustomQuery {
    Q_OBJECT
    Q_PROPERTY(velkaro::TUniConnection* Connection READ Connection WRITE SetConnection)
    Q_PROPERTY(QStringList SpecificOptions READ SpecificOptions WRITE SetSpecificOptions)

public:
    explicit TUniQuery(QObject* owner = nullptr);
    ~TUniQuery() override;

    TUniConnection* Connection() const { return connection_; }
    // Closes the query first when it is open.
    void SetConnection(TUniConnection* connection);
    const QStringList& SpecificOptions() const { return specificOptions_; }
    void SetSpecificOptions(const QStringList& options) { specificOptions_ = options; }

    // Runs the SQL text as a statement whose results are not wanted
    // (INSERT, UPDATE, ...); the query stays closed.
    void Execute();
    // The rows the last Execute (or open) changed, -1 when unknown.
    qint64 RowsAffected() const { return rowsAffected_; }
    // The text the last open or execute sent.
    const QString& FinalSQL() const { return finalSql_; }

    // Provider support.
    void ProviderReset() override { PSReset(); }
    void PSReset();
    // Replaces the SQL text when Text is not empty.
    void PSSetCommandText(const QString& text);
    QString PSGetQuoteChar() const { return QStringLiteral("\""); }
    // The fields of the ORDER BY clause, separated by ";" ("" without one).
    QString PSGetDefaultOrder() const;
    // The physical table of the result ("" for a result of no table).
    QString PSGetTableName() const { return tableName_; }
    // PSGetKeyFields (TDataSet): the fields of the result that belong to a
    // key of their table.
    bool PSIsSQLBased() const { return true; }
    bool PSIsSQLSupported() const { return true; }
    bool PSInTransaction() const;
    void PSStartTransaction();

protected:
    void InternalOpen() override;
    void InternalClose() override;

private:
    friend class TUniConnection;
    TUniConnection* checkConnection() const;
    std::unique_ptr<TCRRecordSet> makeRecordSet(TUniConnection& connection);

    QPointer<TUniConnection> connection_;
    QStringList specificOptions_;
    // This open holds one of the connection's connect counts.
    bool counted_ = false;
    qint64 rowsAffected_ = -1;
    QString finalSql_;
    QString tableName_;
};

} // namespace velkaro
