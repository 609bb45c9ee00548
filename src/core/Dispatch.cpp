#include "core/Dispatch.h"

namespace velkaro {

QString ResultCodeText(HRESULT code)
{
    struct Known {
        HRESULT code;
        const char* text;
    };
    static constexpr Known known[] = {
        {E_NOTIMPL, "Not implemented"},
        {E_FAIL, "Unspecified error"},
        {DISP_E_MEMBERNOTFOUND, "Member not found"},
        {DISP_E_PARAMNOTFOUND, "Parameter not found"},
        {DISP_E_TYPEMISMATCH, "Type mismatch"},
        {DISP_E_UNKNOWNNAME, "Unknown name"},
        {DISP_E_EXCEPTION, "Exception occurred"},
        {DISP_E_BADPARAMCOUNT, "Invalid number of parameters"},
    };
    for (const Known& k : known) {
        if (k.code == code)
            return QString::fromLatin1(k.text);
    }
    return QStringLiteral("OLE error %1").arg(quint32(code), 8, 16, QLatin1Char('0'));
}

} // namespace velkaro
