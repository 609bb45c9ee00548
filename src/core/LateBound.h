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
#include <typeinfo>

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

// The storage types an argument may have; see CallArg.
template <class T>
inline constexpr bool IsCallArgStorage = std::is_same_v<
                                             T, QString> || std::is_same_v<T, QByteArray> || std::is_same_v<T, Variant> || std::is_same_v<T, bool> || std::is_same_v<T, DispatchRef> || std::is_same_v<T, InterfaceRef> || std::is_same_v<T, qint8> || std::is_same_v<T, quint8> || std::is_same_v<T, qint16> || std::is_same_v<T, quint16> || std::is_same_v<T, qint32> || std::is_same_v<T, quint32> || std::is_same_v<T, qint64> || std::is_same_v<T, quint64> || std::is_same_v<T, float> || std::is_same_v<T, double>;

// One argument as the caller holds it, in storage of the type its type byte
// names:
//   varUStrArg: QString          varStrArg: QByteArray (UTF-8)
//   varVariant: Variant          varBoolean: bool
//   varUnknown: InterfaceRef     the other codes: as Variant::ByRef's table
//                                (varOleStr: QString, varDispatch:
//                                DispatchRef, varInteger: qint32, ...)
// Empty, Null, by-value varError (an omitted optional argument) and
// by-reference codes that have no storage (14, 15, above 21) take no
// storage: CallArg(), or any argument, which is then ignored.
//
// A const argument (or a temporary) can only be passed by value; an argument
// passed by reference must be a non-const variable, since the callee may
// change it (texts and booleans are written back after the call, the others
// are changed in place). The call checks both the storage type and its
// writability against the type byte before anything is sent.
class CallArg {
public:
    CallArg() = default;
    template <class T>
    requires(!std::is_same_v<T, CallArg> && !std::is_const_v<T>) CallArg(T& value)
        : in_(&value)
        , out_(&value)
        , type_(&typeid(T))
    {
        static_assert(IsCallArgStorage<T>, "not a storage type of a late-bound argument (see CallArg)");
    }
    template <class T>
    requires(!std::is_same_v<T, CallArg>) CallArg(const T& value)
        : in_(&value)
        , type_(&typeid(T))
    {
        static_assert(IsCallArgStorage<T>, "not a storage type of a late-bound argument (see CallArg)");
    }

    // The storage as a T, or null when it is of another type (or none).
    template <class T> const T* Readable() const { return Is<T>() ? static_cast<const T*>(in_) : nullptr; }
    // As Readable, and null also when the argument is const.
    template <class T> T* Writable() const { return Is<T>() ? static_cast<T*>(out_) : nullptr; }

private:
    template <class T> bool Is() const { return type_ != nullptr && *type_ == typeid(T); }

    const void* in_ = nullptr;
    void* out_ = nullptr;
    const std::type_info* type_ = nullptr;
};

// Runs the call described by CallDesc on Target and returns its result (an
// empty variant when WantResult is false). Args are in call order, one per
// type byte.
//
// Raises EVariantError "Invalid variant operation" when Target (after
// following references) is Empty, Null or a dispatch reference to nothing,
// "Variant method calls not supported" for an argument type that cannot be
// passed, and an EVariantError naming the argument when its storage does not
// match its type byte or it is passed by reference but const; EOleError for
// a target that is not an automation object, more than 64 arguments, or a
// member the object does not know; EOleException (with the object's error
// code or the failing result code) when the lookup or the invoke fails. On
// failure no argument is written back.
Variant DispatchInvoke(
    const Variant& target, const QByteArray& callDesc, std::span<const CallArg> args, bool wantResult = true);
Variant DispatchInvoke(
    const Variant& target, const QByteArray& callDesc, std::initializer_list<CallArg> args, bool wantResult = true);

} // namespace velkaro
