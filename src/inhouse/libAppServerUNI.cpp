#include "inhouse/libAppServerUNI.h"

#include "core/Exceptions.h"
#include "data/CustomQuery.h"
#include "data/Provider.h"

namespace velkaro {

TObjAppServerUNI* ObjAppServerUNI = nullptr;

void InitializeLibAppServerUNI()
{
    ObjAppServerUNI = new TObjAppServerUNI;
}

void FinalizeLibAppServerUNI()
{
    delete ObjAppServerUNI;
    ObjAppServerUNI = nullptr;
}

Variant TObjAppServerUNI::CentralDataRequest(TCustomQuery* Qry, TDataSetProvider* Dsp, const Variant& Input)
{
    Qry->Close();
    Qry->SQL().clear();
    Qry->SQL().append(Input.ToString());
    Qry->Open();
    return Dsp->Data();
}

Variant TObjAppServerUNI::EventOnDataRequestOnTheFly(TDataSetProvider* Sender, const Variant& Input)
{
    auto* query = qobject_cast<TCustomQuery*>(Sender->DataSet());
    if (query == nullptr)
        throw EDatabaseError(
            QStringLiteral("%1: the data set of a served provider must be a query").arg(Sender->Name()));
    return CentralDataRequest(query, Sender, Input);
}

} // namespace velkaro
