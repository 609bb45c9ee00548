#pragma once
// The dispatch interface through which objects are called by name: local
// objects and the proxies of the remote link implement it alike. Objects are
// reference-counted through DispatchRef (std::shared_ptr); releasing the last
// reference ends the object (for a proxy, it tells the other side).
//
// The result codes and invoke kinds keep the platform's values under names of
// our own, so this header can live beside the Windows headers, which define
// the platform's names as macros.

#include "core/Variant.h"

#include <QStringList>

#include <vector>

namespace velkaro {

using HRESULT = qint32;

// Result codes (the platform's name in brackets).
struct ResultCode {
    static constexpr HRESULT Ok = 0; // S_OK
    static constexpr HRESULT NotImplemented = HRESULT(0x80004001u); // E_NOTIMPL
    static constexpr HRESULT Failed = HRESULT(0x80004005u); // E_FAIL
    static constexpr HRESULT MemberNotFound = HRESULT(0x80020003u); // DISP_E_MEMBERNOTFOUND
    static constexpr HRESULT ParamNotFound = HRESULT(0x80020004u); // DISP_E_PARAMNOTFOUND
    static constexpr HRESULT TypeMismatch = HRESULT(0x80020005u); // DISP_E_TYPEMISMATCH
    static constexpr HRESULT UnknownName = HRESULT(0x80020006u); // DISP_E_UNKNOWNNAME
    static constexpr HRESULT ExceptionOccurred = HRESULT(0x80020009u); // DISP_E_EXCEPTION
    static constexpr HRESULT BadParamCount = HRESULT(0x8002000Eu); // DISP_E_BADPARAMCOUNT
};

// Invoke kinds, combined as flags (DISPATCH_METHOD ... DISPATCH_PROPERTYPUTREF).
struct DispatchKind {
    static constexpr quint16 Method = 1;
    static constexpr quint16 PropertyGet = 2;
    static constexpr quint16 PropertyPut = 4;
    static constexpr quint16 PropertyPutRef = 8;
};

// The dispatch identifier of the value of a property write (DISPID_PROPERTYPUT).
inline constexpr qint32 DispIdPropertyPut = -3;

// The root of every object a variant can refer to (code 13 holds one as an
// interface reference; code 9 holds an IDispatch).
class IInterface {
public:
    virtual ~IInterface() = default;
};

struct ExcepInfo {
    qint32 code = 0;
    QString source;
    QString description;
};

// Arguments of one invoke. Args holds the arguments last argument first, as
// the dispatch convention places them; by-reference arguments point at the
// caller's storage, and the callee changes it through
// Variant::StoreThroughRef. NamedArgs holds the dispatch identifiers of the
// first NamedArgs.size() entries of Args.
struct DispParams {
    std::vector<Variant> args;
    std::vector<qint32> namedArgs;
};

class IDispatch : public IInterface {
public:
    virtual HRESULT GetTypeInfoCount(quint32* count)
    {
        *count = 0;
        return ResultCode::Ok;
    }
    virtual HRESULT GetTypeInfo(quint32 /*index*/, quint32 /*lcid*/) { return ResultCode::NotImplemented; }
    // One identifier per name, in order. Unknown names give
    // ResultCode::UnknownName.
    virtual HRESULT GetIDsOfNames(const QStringList& names, quint32 lcid, std::vector<qint32>& dispIds) = 0;
    // Result is null when the caller wants no result.
    virtual HRESULT Invoke(
        qint32 dispId, quint32 lcid, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo)
        = 0;
};

// The system's text for a result code, or "OLE error %.8x" when it has none.
QString ResultCodeText(HRESULT code);

} // namespace velkaro
