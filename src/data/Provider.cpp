#include "data/Provider.h"

#include "core/Exceptions.h"
#include "data/DataSet.h"

namespace velkaro {

TDataSetProvider::TDataSetProvider(QObject* owner)
    : TComponent(owner)
{
}

TDataSet* TDataSetProvider::DataSet() const
{
    return dataSet_;
}

void TDataSetProvider::SetDataSet(TDataSet* dataSet)
{
    if (destroyedConnection_)
        disconnect(destroyedConnection_);
    dataSet_ = dataSet;
    if (dataSet != nullptr)
        destroyedConnection_ = connect(dataSet, &QObject::destroyed, this, [this] { dataSet_ = nullptr; });
}

Variant TDataSetProvider::DataRequest(const Variant& input)
{
    if (OnDataRequest)
        return OnDataRequest(this, input);
    return Data();
}

Variant TDataSetProvider::Data()
{
    if (dataSet_ == nullptr) {
        const QString text = QStringLiteral("Missing DataSet property");
        throw EDatabaseError(objectName().isEmpty() ? text : objectName() + QStringLiteral(": ") + text);
    }
    if (!dataSet_->Active())
        dataSet_->Open();
    const Variant packet = Variant::FromBytes(dataSet_->PacketBytes());
    dataSet_->ProviderReset();
    return packet;
}

} // namespace velkaro
