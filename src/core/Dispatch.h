#pragma once
// The dispatch interface through which objects are called by name: local
// objects and the proxies of the remote link implement it alike. Objects are
// reference-counted through DispatchRef (std::shared_ptr); releasing the last
// reference ends the object (for a proxy, it tells the other side).

#include "core/Variant.h"

#include <QStringList>

#include <vector>

namespace velkaro {

using HRESULT = qint32;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001u);
inline constexpr HRESULT E_FAIL = HRESULT(0x80004005u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = HRESULT(0x80020003u);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = HRESULT(0x80020004u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = HRESULT(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = HRESULT(0x80020006u);
inline constexpr HRESULT DISP_E_EXCEPTION = HRESULT(0x80020009u);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = HRESULT(0x8002000Eu);

// Invoke kinds.
enum : quint16 {
    DISPATCH_METHOD = 1,
    DISPATCH_PROPERTYGET = 2,
    DISPATCH_PROPERTYPUT = 4,
    DISPATCH_PROPERTYPUTREF = 8,
};

inline constexpr qint32 DISPID_PROPERTYPUT = -3;

struct ExcepInfo {
    qint32 code = 0;
    QString source;
    QString description;
};

// Arguments of one invoke. Args holds the arguments last argument first, as
// the dispatch convention places them; by-reference arguments point at the
// caller's storage. NamedArgs holds the dispatch identifiers of the first
// NamedArgs.size() entries of Args.
struct DispParams {
    std::vector<Variant> args;
    std::vector<qint32> namedArgs;
};

class IDispatch {
public:
    virtual ~IDispatch() = default;

    virtual HRESULT GetTypeInfoCount(quint32* count)
    {
        *count = 0;
        return S_OK;
    }
    virtual HRESULT GetTypeInfo(quint32 /*index*/, quint32 /*lcid*/) { return E_NOTIMPL; }
    // One identifier per name, in order. Unknown names give DISP_E_UNKNOWNNAME.
    virtual HRESULT GetIDsOfNames(const QStringList& names, quint32 lcid, std::vector<qint32>& dispIds) = 0;
    // Result is null when the caller wants no result.
    virtual HRESULT Invoke(
        qint32 dispId, quint32 lcid, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo)
        = 0;
};

// The system's text for a result code, or "OLE error %.8x" when it has none.
QString ResultCodeText(HRESULT code);

} // namespace velkaro
