#pragma once
// Variant values in data-block payloads. Every value is a 32-bit tag (the
// 16-bit type code, upper half zero) followed by the value's bytes:
//
//   codes 2-7, 10, 11, 16-19  the value's VariantSize bytes, little-endian
//   8 (text)                  int32 count of UTF-16 code units, then the text
//   9 (object)                int32 dispatch index in the sender's object list
//   0, 1, 14, 15              nothing
//   0x4000 | code             the same value, held by reference at the sender
//   0x4000 alone              a variant held by reference; its content follows
//                             as a value of its own
//   0x2000 | code             an array: int32 dims, the low bounds, the high
//                             bounds; then for EasyArrayTypes an int32 byte
//                             count and the elements' bytes, otherwise each
//                             element as a value (last subscript fastest)
//
// The functions are pure: they touch only the block and, for object
// references, the IObjectReferences they are given. Raw-memory arrays keep
// their elements in the order of the array's storage, the last subscript
// varying fastest, like the element-by-element arrays.
//
// Reading checks every count against the bytes present before it allocates
// anything. Reading at the very end of the payload gives an unassigned value;
// a payload that ends inside a value, an array whose bounds or byte count do
// not add up, more than MaxArrayDims dimensions or arrays nested deeper than
// MaxArrayNesting raise EInterpreterError, and so does a type the encoding
// does not carry ("Unsupported variant type: %s" with the code as four
// upper-case hex digits).

#include "core/Variant.h"
#include "remote/DataBlock.h"

#include <array>

namespace velkaro {

// Widths of the scalar codes 0 to 19; 0 where the value has no fixed width.
inline constexpr std::array<int, 20> VariantSize = {0, 0, 2, 4, 4, 8, 8, 8, 0, 0, 4, 2, 0, 0, 0, 0, 1, 1, 2, 4};

// Element codes whose arrays travel as one run of raw memory.
inline constexpr std::array<VarType, 11> EasyArrayTypes = {varSmallint, varInteger, varSingle, varDouble, varCurrency,
    varDate, varBoolean, varShortInt, varByte, varWord, varLongWord};

inline constexpr int MaxArrayNesting = 32;

// How the sender held a value it sent.
enum TVarFlag : quint8 {
    vfByRef = 0, // by reference
    vfVariant = 1, // as a variant held by reference (tag 0x4000)
};

class TVarFlags {
public:
    bool Contains(TVarFlag flag) const { return (bits_ & (1u << flag)) != 0; }
    void Include(TVarFlag flag) { bits_ = quint8(bits_ | (1u << flag)); }
    bool operator==(const TVarFlags&) const = default;

private:
    quint8 bits_ = 0;
};

// Object references in values. The writer hands each object to the sending
// side's object list and writes the slot number it gets; the reader turns a
// received slot number into a proxy for the object held by the other side.
class IObjectReferences {
public:
    virtual ~IObjectReferences() = default;
    virtual qint32 StoreObject(const DispatchRef& object) = 0;
    virtual DispatchRef MakeProxy(qint32 dispatchIndex) = 0;
};

// Appends the encoding of Value to the block's payload. On failure the
// payload is as it was before the call (objects already handed to Objects
// stay there) and EInterpreterError is raised.
void WriteVariant(const Variant& value, IDataBlock& block, IObjectReferences& objects);
// The same for an array value (tag included); Value must be an array.
void WriteArray(const Variant& value, IDataBlock& block, IObjectReferences& objects);

// Reads one value at the block's read position. Flags receives how the
// sender held it; the value itself is never a reference.
Variant ReadVariant(TVarFlags& flags, IDataBlock& block, IObjectReferences& objects);
// Reads the rest of an array whose tag has been read.
Variant ReadArray(quint32 tag, IDataBlock& block, IObjectReferences& objects);

// "Unsupported variant type: %s" for a type code.
[[noreturn]] void RaiseUnsupportedVariantType(quint32 code);

} // namespace velkaro
