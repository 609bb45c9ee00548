#include "mysql/UniQuery.h"

#include "core/Exceptions.h"
#include "mysql/CRConnection.h"
#include "mysql/CRRecordSet.h"
#include "mysql/UniProvider.h"

namespace velkaro {

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

// The statement's words outside quotes and comments, with their depth in
// parentheses; quoted identifiers come without their quotes.
struct Token {
    QString text;
    int depth = 0;
    bool word = false;
};

QList<Token> tokens(const QString& sql)
{
    QList<Token> out;
    int depth = 0;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql[i];
        if (c.isSpace()) {
            ++i;
        } else if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
            while (i < n && sql[i] != u'\n')
                ++i;
        } else if (c == u'#') {
            while (i < n && sql[i] != u'\n')
                ++i;
        } else if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
            const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == u'\'' || c == u'"' || c == u'`') {
            QString text;
            ++i;
            while (i < n) {
                if (sql[i] == c) {
                    if (i + 1 < n && sql[i + 1] == c) {
                        text += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (c == u'\'' && sql[i] == u'\\' && i + 1 < n)
                    ++i;
                text += sql[i++];
            }
            out.append({text, depth, c != u'\''});
        } else if (isWordChar(c)) {
            const qsizetype start = i;
            while (i < n && (isWordChar(sql[i]) || sql[i] == u'.'))
                ++i;
            out.append({sql.mid(start, i - start), depth, true});
        } else {
            if (c == u'(')
                ++depth;
            else if (c == u')')
                depth = std::max(0, depth - 1);
            out.append({QString(c), c == u'(' ? depth - 1 : depth, false});
            ++i;
        }
    }
    return out;
}

bool is(const Token& t, const char* keyword)
{
    return t.word && t.text.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

} // namespace

TUniQuery::TUniQuery(QObject* owner)
    : TCustomQuery(owner)
{
}

TUniQuery::~TUniQuery()
{
    try {
        Close();
    } catch (const Exception&) {
        // Going away; the rows go with it.
    }
    if (connection_)
        connection_->RemoveQuery(this);
}

void TUniQuery::SetConnection(TUniConnection* connection)
{
    if (connection == connection_)
        return;
    Close();
    if (connection_)
        connection_->RemoveQuery(this);
    connection_ = connection;
    if (connection_)
        connection_->AddQuery(this);
}

TUniConnection* TUniQuery::checkConnection() const
{
    if (!connection_)
        RaiseError(QStringLiteral("Connection is not defined"));
    return connection_;
}

std::unique_ptr<TCRRecordSet> TUniQuery::makeRecordSet(TUniConnection& connection)
{
    TCRConnection* native = connection.InternalConnection();
    std::unique_ptr<TCRRecordSet> recordSet = native->CreateRecordSet();
    TCRRecordSet* target = recordSet.get();
    connection.Provider()->SetDataSetProps(target->ClassName(), specificOptions_,
        [target](int propId, const Variant& value) { target->SetProp(propId, value); });
    target->SetSQL(SQL());
    finalSql_ = target->FinalSQL();
    return recordSet;
}

void TUniQuery::InternalOpen()
{
    TUniConnection* connection = checkConnection();
    tableName_.clear();
    connection->InternalConnect();
    counted_ = true;
    try {
        std::unique_ptr<TCRRecordSet> recordSet = makeRecordSet(*connection);
        recordSet->Open();
        rowsAffected_ = recordSet->RowsAffected();
        FieldDefs() = recordSet->FieldDefs();
        tableName_ = recordSet->TableName();
        recordSet->FetchAll(AppendRows());
    } catch (...) {
        counted_ = false;
        if (connection_)
            connection_->InternalDisconnect();
        throw;
    }
}

void TUniQuery::InternalClose()
{
    tableName_.clear();
    if (!counted_)
        return;
    counted_ = false;
    if (connection_)
        connection_->InternalDisconnect();
}

void TUniQuery::Execute()
{
    Close();
    TUniConnection* connection = checkConnection();
    connection->InternalConnect();
    try {
        std::unique_ptr<TCRRecordSet> recordSet = makeRecordSet(*connection);
        recordSet->Execute();
        rowsAffected_ = recordSet->RowsAffected();
    } catch (...) {
        if (connection_)
            connection_->InternalDisconnect();
        throw;
    }
    connection->InternalDisconnect();
}

void TUniQuery::PSReset()
{
    if (!Active())
        return;
    Close();
    Open();
}

void TUniQuery::PSSetCommandText(const QString& text)
{
    if (text.isEmpty())
        return;
    Close();
    SQL() = QStringList {text};
}

QString TUniQuery::PSGetDefaultOrder() const
{
    const QList<Token> t = tokens(SQLText());
    // The last ORDER BY of the statement itself, not of a sub-query.
    qsizetype start = -1;
    for (qsizetype i = 0; i + 1 < t.size(); ++i) {
        if (t[i].depth == 0 && is(t[i], "ORDER") && is(t[i + 1], "BY"))
            start = i + 2;
    }
    if (start < 0)
        return QString();
    QStringList fields;
    QString current;
    for (qsizetype i = start; i < t.size(); ++i) {
        const Token& token = t[i];
        if (token.depth == 0
            && (is(token, "LIMIT") || is(token, "PROCEDURE") || is(token, "INTO") || is(token, "FOR")
                || is(token, "LOCK") || token.text == u";" || token.text == u")"))
            break;
        if (token.depth == 0 && token.text == u",") {
            fields.append(current);
            current.clear();
            continue;
        }
        if (token.depth == 0 && (is(token, "ASC") || is(token, "DESC")))
            continue;
        current += token.text;
    }
    if (!current.isEmpty())
        fields.append(current);
    // A qualified column orders by its field name.
    for (QString& field : fields) {
        const qsizetype dot = field.lastIndexOf(u'.');
        if (dot >= 0)
            field = field.mid(dot + 1);
    }
    return fields.join(u';');
}

bool TUniQuery::PSInTransaction() const
{
    return connection_ && connection_->InTransaction();
}

void TUniQuery::PSStartTransaction()
{
    if (!PSInTransaction())
        checkConnection()->StartTransaction();
}

} // namespace velkaro
