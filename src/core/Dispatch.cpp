#include "core/Dispatch.h"

namespace velkaro {

QString ResultCodeText(HRESULT code)
{
    struct Known {
        HRESULT code;
        const char* text;
    };
    static constexpr Known known[] = {
        {ResultCode::NotImplemented, "Not implemented"},
        {ResultCode::Failed, "Unspecified error"},
        {ResultCode::MemberNotFound, "Member not found"},
        {ResultCode::ParamNotFound, "Parameter not found"},
        {ResultCode::TypeMismatch, "Type mismatch"},
        {ResultCode::UnknownName, "Unknown name"},
        {ResultCode::ExceptionOccurred, "Exception occurred"},
        {ResultCode::BadParamCount, "Invalid number of parameters"},
    };
    for (const Known& k : known) {
        if (k.code == code)
            return QString::fromLatin1(k.text);
    }
    return QStringLiteral("OLE error %1").arg(quint32(code), 8, 16, QLatin1Char('0'));
}

} // namespace velkaro
