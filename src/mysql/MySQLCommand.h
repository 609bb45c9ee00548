#pragma once
// TMySQLCommand: one SQL text run on a MySQL connection's session.
//
// Execute, in this order: nothing unless the cursor is csInactive or
// csPrepared; the command timeout goes to the session (0 stands for
// 31,536,000 s); csExecuting; COM_QUERY with the final text (UTF-8 with
// UseUnicode, else the ANSI code page); the response; RowsAffected; then
// csExecuted when the response has columns, else csInactive. A command
// expecting a result set claims the result (Result, Fetch); any other
// command reads and drops every result, further ones included, and ends
// csInactive. On a failure the cursor state returns to what it was, and
// the session's error is raised through the connection (which disconnects
// on a fatal one).
//
// ReleaseResult drops the claimed result: unread rows are drained, further
// results are read and dropped, the session is ready for the next command
// and the cursor csInactive. A server error of a further result raises
// then. A result from a session the connection has since replaced is
// forgotten, never touched.

#include "mysql/MySqlSession.h"

#include <QString>
#include <QStringList>

namespace velkaro {

class TMySQLConnection;
class Variant;

enum TCursorState {
    csInactive = 0,
    csOpen = 1,
    csParsed = 2,
    csPrepared = 3,
    csBound = 4,
    csExecuteFetchAll = 5,
    csExecuting = 6,
    csExecuted = 7,
    csFetching = 8,
    csFetchingAll = 9,
    csFetched = 10,
};

class TMySQLCommand {
public:
    explicit TMySQLCommand(TMySQLConnection* connection = nullptr);
    // Drops a result still claimed; errors are ignored then.
    ~TMySQLCommand();
    TMySQLCommand(const TMySQLCommand&) = delete;
    TMySQLCommand& operator=(const TMySQLCommand&) = delete;

    void SetConnection(TMySQLConnection* connection) { connection_ = connection; }
    TMySQLConnection* Connection() const { return connection_; }

    // CommandTimeout (1102); false for any other id.
    bool SetProp(int prop, const Variant& value);
    bool GetProp(int prop, Variant& value) const;

    // The SQL lines; the final text is made from them (UniSqlFinalText).
    void SetSQL(const QStringList& sql);
    const QString& FinalSQL() const { return finalSql_; }

    // Seconds; 0 is a year.
    void SetCommandTimeout(int seconds) { commandTimeout_ = seconds; }
    int CommandTimeout() const { return commandTimeout_; }
    void SetExpectResultSet(bool expect) { expectResultSet_ = expect; }
    bool ExpectResultSet() const { return expectResultSet_; }

    TCursorState CursorState() const { return cursorState_; }
    void SetCursorState(TCursorState state) { cursorState_ = state; }
    // -1 until a response gave a count.
    qint64 RowsAffected() const { return rowsAffected_; }

    void Execute();
    // The claimed result, or null (no result set, or released).
    TMySqlResultSet* Result() const;
    // The next row of the result (Result()'s current row afterwards); false
    // at its end.
    bool Fetch();
    void ReleaseResult();

private:
    TMySqlSession& session() const;
    // A result of this command is pending on the connection's current session.
    bool ownsSession() const;

    TMySQLConnection* connection_;
    QString finalSql_;
    int commandTimeout_ = 0;
    bool expectResultSet_ = false;
    TCursorState cursorState_ = csInactive;
    qint64 rowsAffected_ = -1;
    bool pending_ = false;
    TMySqlResultSet* result_ = nullptr;
    quint64 resultGeneration_ = 0;
};

} // namespace velkaro
