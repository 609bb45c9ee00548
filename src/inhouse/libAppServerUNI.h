#pragma once
// Serving SQL text sent as data requests: a client table sends the text to
// a provider, whose handler runs it through a query and answers with the
// provider's data packet.

#include "core/Variant.h"

namespace velkaro {

class TCustomQuery;
class TDataSetProvider;

class TObjAppServerUNI {
public:
    // Closes Qry, replaces its SQL with the text form of Input, opens it and
    // answers Dsp's packet of all rows (Dsp's data set is Qry). The query
    // stays open afterwards. Errors of the query, and the conversion error
    // of an Input without a text form (Null), travel to the caller.
    Variant CentralDataRequest(TCustomQuery* Qry, TDataSetProvider* Dsp, const Variant& Input);
    // The same, with the query taken from the provider's data set.
    Variant EventOnDataRequestOnTheFly(TDataSetProvider* Sender, const Variant& Input);
};

extern TObjAppServerUNI* ObjAppServerUNI;
void InitializeLibAppServerUNI();
void FinalizeLibAppServerUNI();

} // namespace velkaro
