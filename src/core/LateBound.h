#pragma once
// Late-bound calls on variants that hold a dispatch reference:
// Target.Member(args...) resolved by name at run time. Each call asks the
// target for the member's identifier and then invokes it; identifiers are
// not cached.

#include "core/Dispatch.h"

#include <QByteArray>

#include <span>

namespace velkaro {

// Type bytes of a call description.
enum : quint8 {
    atByRef = 0x80,
    atTypeMask = 0x7F,
    varStrArg = 0x48,  // 8-bit text (QByteArray, UTF-8)
    varUStrArg = 0x4A, // native wide text (QString)
};

// The call description, fixed per call site: call kind (1, 2, 4, 8), argument
// count (at most 64), named-argument count, one type byte per argument, then
// the member name and the named arguments' names, each UTF-8 and ended by a
// zero byte.
QByteArray MakeCallDesc(quint8 callKind, const QByteArray& argTypes, const QByteArray& member,
                        const QList<QByteArray>& namedArgs = {});

// One argument as the caller holds it. Data points at the caller's storage
// of the type the type byte names: QString for varUStrArg, QByteArray for
// varStrArg, Variant for varVariant, bool for varBoolean, the scalar's C type
// (qint16, qint32, double, ...) for the other codes. By-reference arguments
// are written back into that storage after the call.
struct CallArg {
    void* data = nullptr;
};

// Runs the call described by CallDesc on Target and returns its result (an
// empty variant when WantResult is false). Raises EVariantError or EOleError
// (EOleException for errors raised by the object) with the system's texts.
Variant DispatchInvoke(const Variant& target, const QByteArray& callDesc, std::span<const CallArg> args,
                       bool wantResult = true);

} // namespace velkaro
