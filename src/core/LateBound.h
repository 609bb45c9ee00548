#pragma once
// Late-bound calls on variants that hold a dispatch reference:
// Target.Member(args...) resolved by name at run time. Each call asks the
// target for the member's identifier and then invokes it; identifiers are
// not cached, so every call costs a lookup and an invoke.

#include "core/Dispatch.h"

#include <QByteArray>
#include <QList>

#include <initializer_list>
#include <span>
#include <type_traits>

namespace velkaro {

// Type bytes of a call description.
enum : quint8 {
    atByRef = 0x80,
    atTypeMask = 0x7F,
    varStrArg = 0x48, // 8-bit text (QByteArray, UTF-8)
    varUStrArg = 0x4A, // native wide text (QString)
};

// The call description, fixed per call site: call kind (1, 2, 4, 8), argument
// count, named-argument count, one type byte per argument, then the member
// name and the named arguments' names, each UTF-8 and ended by a zero byte.
// The named arguments are the first ones of ArgTypes. Raises EVariantError
// when a count does not fit its byte (more than 255).
QByteArray MakeCallDesc(
    quint8 callKind, const QByteArray& argTypes, const QByteArray& member, const QList<QByteArray>& namedArgs = {});

// One argument as the caller holds it: Data points at the caller's storage
// of the type the type byte names:
//   varUStrArg: QString          varStrArg: QByteArray (UTF-8)
//   varVariant: Variant          varBoolean: bool
//   varOleStr: QString           varDispatch, varUnknown: DispatchRef
//   varSmallint: qint16  varInteger, varError: qint32  varSingle: float
//   varDouble, varDate: double   varCurrency: qint64 (scaled by 10000)
//   varShortInt: qint8  varByte: quint8  varWord: quint16
//   varLongWord: quint32  varInt64: qint64  varUInt64: quint64
// Empty, Null and by-value varError (an omitted optional argument) ignore
// Data. By-reference arguments must point at writable storage: the callee
// may change it, and texts and booleans are written back after the call.
struct CallArg {
    void* data = nullptr;

    CallArg() = default;
    template <class T>
    requires(!std::is_same_v<std::remove_cv_t<T>, CallArg>) CallArg(T& value)
        : data(&value)
    {
    }
    // For by-value arguments only: the storage is never written through.
    template <class T>
    requires(!std::is_same_v<std::remove_cv_t<T>, CallArg>) CallArg(const T& value)
        : data(const_cast<T*>(&value))
    {
    }
};

// Runs the call described by CallDesc on Target and returns its result (an
// empty variant when WantResult is false). Args are in call order, one per
// type byte.
//
// Raises EVariantError "Invalid variant operation" when Target (after
// following references) is Empty, Null or a dispatch reference to nothing,
// and "Variant method calls not supported" for an argument type that cannot
// be passed; EOleError for a target that is not an automation object, more
// than 64 arguments, or a member the object does not know; EOleException
// (with the object's error code or the failing result code) when the lookup
// or the invoke fails. On failure no argument is written back.
Variant DispatchInvoke(
    const Variant& target, const QByteArray& callDesc, std::span<const CallArg> args, bool wantResult = true);
Variant DispatchInvoke(
    const Variant& target, const QByteArray& callDesc, std::initializer_list<CallArg> args, bool wantResult = true);

} // namespace velkaro
