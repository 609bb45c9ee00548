#include "inhouse/libAppServerUNI.h"

#include "core/Component.h"
#include "core/Exceptions.h"
#include "data/Provider.h"
#include "mysql/UniConnection.h"
#include "mysql/UniQuery.h"

#include <memory>

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

Variant TObjAppServerUNI::CentralDataRequest(TUniQuery* Qry, TDataSetProvider* Dsp, const Variant& Input)
{
    Qry->Close();
    Qry->SQL().clear();
    Qry->SQL().append(Input.ToString());
    Qry->Open();
    return Dsp->Data();
}

Variant TObjAppServerUNI::EventOnDataRequestOnTheFly(TDataSetProvider* Sender, const Variant& Input)
{
    auto* query = qobject_cast<TUniQuery*>(Sender->DataSet());
    if (query == nullptr)
        throw EDatabaseError(
            QStringLiteral("%1: the data set of a served provider must be a query").arg(Sender->Name()));
    return CentralDataRequest(query, Sender, Input);
}

void TObjAppServerUNI::CreateProvider(
    const QString& dspName, QObject* CallObj, const Variant& InputSQL, TUniConnection* SQLConnection)
{
    if (FindComponent(CallObj, QStringLiteral("dsp") + dspName) != nullptr)
        return;
    const QString sql = InputSQL.ToString();
    // Owned here until both are named: a clash leaves nothing behind.
    auto query = std::make_unique<TUniQuery>(CallObj);
    query->SetConnection(SQLConnection);
    query->SetName(QStringLiteral("qry") + dspName);
    query->SQL().clear();
    query->SQL().append(sql);
    auto provider = std::make_unique<TDataSetProvider>(CallObj);
    provider->SetName(QStringLiteral("dsp") + dspName);
    provider->SetDataSet(query.get());
    provider->SetOptions(poAllowCommandText);
    provider->OnDataRequest
        = [this](TDataSetProvider* sender, const Variant& input) { return EventOnDataRequestOnTheFly(sender, input); };
    query.release();
    provider.release();
}

void TObjAppServerUNI::RemoveProvider(const QString& dspName, QObject* CallObj)
{
    QObject* provider = FindComponent(CallObj, QStringLiteral("dsp") + dspName);
    if (provider == nullptr)
        return;
    delete provider;
    delete FindComponent(CallObj, QStringLiteral("qry") + dspName);
}

} // namespace velkaro
