#include "support/ScriptedQuery.h"

#include "core/Exceptions.h"

namespace velkaro::testing {

void ScriptedQuery::InternalOpen()
{
    const QString statement = SQLText();
    executed.append(statement);
    if (log)
        log->append(statement);
    const auto it = answers.constFind(statement);
    if (it == answers.constEnd())
        throw EDatabaseError(QStringLiteral("Table 'VelkaroDB.unknown' doesn't exist: ") + statement);
    if (!it->error.isEmpty())
        throw EDatabaseError(it->error);
    FieldDefs() = it->fields;
    for (const QList<Variant>& row : it->rows)
        AddRow(row);
}

} // namespace velkaro::testing
