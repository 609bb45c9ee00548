#pragma once
// An in-process query: each statement it knows answers fixed rows, or an
// error. It counts how often each statement ran.

#include "data/CustomQuery.h"

#include <QHash>
#include <QList>

#include <memory>

namespace velkaro::testing {

class ScriptedQuery : public TCustomQuery {
    Q_OBJECT

public:
    struct Answer {
        QList<TFieldDef> fields;
        QList<QList<Variant>> rows;
        QString error; // raised as EDatabaseError when not empty
    };

    using TCustomQuery::TCustomQuery;

    QHash<QString, Answer> answers;
    QStringList executed;
    // Also records there, when set: a log that outlives the query.
    std::shared_ptr<QStringList> log;

protected:
    void InternalOpen() override;
};

} // namespace velkaro::testing
