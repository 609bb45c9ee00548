#include "mysql/MySQLCommand.h"

#include "core/Exceptions.h"
#include "mysql/MyError.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySQLOptions.h"
#include "mysql/UniSqlText.h"

namespace velkaro {

TMySQLCommand::TMySQLCommand(TMySQLConnection* connection)
    : connection_(connection)
{
}

TMySQLCommand::~TMySQLCommand()
{
    if (!ownsSession())
        return;
    try {
        ReleaseResult();
    } catch (const Exception&) {
        // Going away: the next command on the session finds it ready or
        // the connection closed.
    }
}

bool TMySQLCommand::SetProp(int prop, const Variant& value)
{
    if (prop != prop::CommandTimeout)
        return false;
    commandTimeout_ = value.ToInt();
    return true;
}

bool TMySQLCommand::GetProp(int prop, Variant& value) const
{
    if (prop != prop::CommandTimeout)
        return false;
    value = Variant(commandTimeout_);
    return true;
}

void TMySQLCommand::SetSQL(const QStringList& sql)
{
    finalSql_ = UniSqlFinalText(sql);
}

TMySqlSession& TMySQLCommand::session() const
{
    if (connection_ == nullptr)
        throw EDatabaseError(QStringLiteral("Connection is not defined"));
    if (connection_->Session() == nullptr)
        throw MakeMyError(cr::ServerGoneError);
    return *connection_->Session();
}

TMySqlResultSet* TMySQLCommand::Result() const
{
    return ownsSession() ? result_ : nullptr;
}

bool TMySQLCommand::ownsSession() const
{
    return pending_ && connection_ != nullptr && connection_->SessionGeneration() == resultGeneration_;
}

void TMySQLCommand::Execute()
{
    if (cursorState_ != csInactive && cursorState_ != csPrepared)
        return;
    const TCursorState before = cursorState_;
    try {
        TMySqlSession& s = session();
        result_ = nullptr;
        pending_ = false;
        s.SetCommandTimeout(commandTimeout_);
        cursorState_ = csExecuting;
        s.Query(finalSql_, connection_->Coding());
        const quint64 columns = s.ReadQueryResult();
        rowsAffected_ = s.AffectedRows();
        cursorState_ = columns > 0 ? csExecuted : csInactive;
        if (expectResultSet_) {
            // Claimed, or (no columns) further results may still follow.
            pending_ = true;
            resultGeneration_ = connection_->SessionGeneration();
            if (columns > 0)
                result_ = s.UseResult();
            return;
        }
        s.FreeResult();
        while (s.MoreResults()) {
            s.NextResult();
            s.FreeResult();
        }
        cursorState_ = csInactive;
    } catch (const EMyError& e) {
        cursorState_ = before;
        connection_->RaiseError(e);
    } catch (...) {
        cursorState_ = before;
        throw;
    }
}

bool TMySQLCommand::Fetch()
{
    TMySqlResultSet* result = Result();
    if (result == nullptr)
        return false;
    try {
        return result->Fetch();
    } catch (const EMyError& e) {
        connection_->RaiseError(e);
    }
}

void TMySQLCommand::ReleaseResult()
{
    const bool own = ownsSession();
    pending_ = false;
    result_ = nullptr;
    cursorState_ = csInactive;
    TMySqlSession* s = connection_ != nullptr ? connection_->Session() : nullptr;
    if (!own || s == nullptr || s->Closed())
        return;
    try {
        s->FreeResult();
        while (s->MoreResults()) {
            s->NextResult();
            s->FreeResult();
        }
    } catch (const EMyError& e) {
        connection_->RaiseError(e);
    }
}

} // namespace velkaro
