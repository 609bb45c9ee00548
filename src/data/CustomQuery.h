#pragma once
// A dataset whose rows come from a statement: the SQL text is set while the
// query is closed and run when it opens. The MySQL query derives from it;
// so do in-process queries in tests.

#include "data/DataSet.h"

#include <QStringList>

namespace velkaro {

class TCustomQuery : public TDataSet {
    Q_OBJECT

public:
    using TDataSet::TDataSet;

    // The statement, one entry per line.
    QStringList& SQL() { return sql_; }
    const QStringList& SQL() const { return sql_; }
    QString SQLText() const { return sql_.join(u'\n'); }

    // A provider's reset runs the statement again.
    void ProviderReset() override
    {
        Close();
        Open();
    }

private:
    QStringList sql_;
};

} // namespace velkaro
