#pragma once
// Serving SQL text sent as data requests: a client table sends the text to
// a provider, whose handler runs it through a MySQL query and answers with
// the provider's data packet. Query/provider pairs can also be made and
// removed at run time on any owner, each serving its requests through
// EventOnDataRequestOnTheFly.

#include "core/Variant.h"

#include <QString>

class QObject;

namespace velkaro {

class TDataSetProvider;
class TUniConnection;
class TUniQuery;

class TObjAppServerUNI {
public:
    // Closes Qry, replaces its SQL with the text form of Input, opens it and
    // answers Dsp's packet of all rows (Dsp's data set is Qry). Packaging
    // resets the query, which runs the statement once more. The query stays
    // open afterwards. Errors of the query, and the conversion error of an
    // Input without a text form (Null), travel to the caller.
    Variant CentralDataRequest(TUniQuery* Qry, TDataSetProvider* Dsp, const Variant& Input);
    // The same, with the query taken from the provider's data set.
    Variant EventOnDataRequestOnTheFly(TDataSetProvider* Sender, const Variant& Input);

    // Unless CallObj already owns a component named "dsp" + dspName: a query
    // "qry" + dspName on SQLConnection with the text form of InputSQL (not
    // opened), and a provider "dsp" + dspName on it with the options
    // poAllowCommandText alone, answering through EventOnDataRequestOnTheFly;
    // both owned by CallObj. A name already used by another component of
    // CallObj raises the component layer's duplicate-name error, and then
    // nothing is left behind; so does an InputSQL without a text form.
    void CreateProvider(
        const QString& dspName, QObject* CallObj, const Variant& InputSQL, TUniConnection* SQLConnection);
    // Frees CallObj's component "dsp" + dspName and then its "qry" + dspName;
    // nothing at all when there is no "dsp" + dspName.
    void RemoveProvider(const QString& dspName, QObject* CallObj);
};

extern TObjAppServerUNI* ObjAppServerUNI;
void InitializeLibAppServerUNI();
void FinalizeLibAppServerUNI();

} // namespace velkaro
