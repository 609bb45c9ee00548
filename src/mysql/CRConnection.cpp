#include "mysql/CRConnection.h"

#include "mysql/MySQLOptions.h"

namespace velkaro {

TCRConnection::~TCRConnection() = default;

bool TCRConnection::SetProp(int prop, const Variant& value)
{
    switch (prop) {
    case prop::DisconnectedMode:
        disconnectedMode_ = value.ToBool();
        return true;
    case prop::EnableBCD:
        enableBCD_ = value.ToBool();
        return true;
    case prop::EnableFMTBCD:
        enableFMTBCD_ = value.ToBool();
        return true;
    default:
        return false;
    }
}

bool TCRConnection::GetProp(int prop, Variant& value) const
{
    switch (prop) {
    case prop::DisconnectedMode:
        value = Variant(disconnectedMode_);
        return true;
    case prop::EnableBCD:
        value = Variant(enableBCD_);
        return true;
    case prop::EnableFMTBCD:
        value = Variant(enableFMTBCD_);
        return true;
    default:
        return false;
    }
}

void TCRConnection::DoError(const Exception& error, bool fatal)
{
    if (fatal)
        isValid_ = false;
    if (!onError_)
        return;
    try {
        onError_(error, fatal);
    } catch (...) {
        // The error being raised is what the caller must see.
    }
}

} // namespace velkaro
