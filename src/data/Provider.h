#pragma once
// TDataSetProvider: answers a client table's data requests from a dataset.
// Data() packages every row of its dataset (opening it when closed) with
// the field definitions as a data packet, then asks the dataset to reset
// (ProviderReset). DataRequest hands the request to OnDataRequest, or
// answers Data() when no handler is set. Nothing is caught here: what the
// handler or the dataset raises reaches the requesting table unchanged.

#include "core/Component.h"
#include "core/Variant.h"

#include <functional>

namespace velkaro {

class TDataSet;

enum TProviderOption {
    poAllowCommandText = 1,
    poUseQuoteChar = 2,
    poReadOnly = 4,
};

class TDataSetProvider : public TComponent {
    Q_OBJECT
    Q_PROPERTY(int Options READ Options WRITE SetOptions)

public:
    explicit TDataSetProvider(QObject* owner = nullptr);

    // Not owned; cleared when the dataset is destroyed.
    TDataSet* DataSet() const;
    void SetDataSet(TDataSet* dataSet);
    int Options() const { return options_; }
    void SetOptions(int options) { options_ = options; }

    std::function<Variant(TDataSetProvider* sender, const Variant& input)> OnDataRequest;
    Variant DataRequest(const Variant& input);

    // Raises "<Name>: Missing DataSet property" without a dataset.
    Variant Data();

private:
    TDataSet* dataSet_ = nullptr;
    QMetaObject::Connection destroyedConnection_;
    int options_ = 0;
};

} // namespace velkaro
