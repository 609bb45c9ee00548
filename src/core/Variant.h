#pragma once
// The OLE-compatible variant: a 16-bit type code plus its value. It is the
// value type of fields, data packets, streams and remote calls alike.
//
// Ownership: a variant owns its value. Copies are values: text is shared by
// Qt's copy-on-write, arrays are copied on write (copying a large byte array
// is cheap until one side changes it through MutableArray), and object and
// interface references are shared, reference-counted pointers.
//
// A by-reference variant (ByRef) only points at the caller's storage; it owns
// nothing, and the caller keeps that storage alive and of the right type for
// as long as the variant or any copy of it is used. Reading follows the
// reference (Deref, the conversions); StoreThroughRef is the one way to write
// through it.
//
// Values from a file or a peer: Typed and TagOnly build scalars and tag-only
// values from their code, SafeArray::FromRaw adopts received bytes, and
// SafeArrayBuilder collects elements as they arrive. None of them allocates
// more than the bytes and elements actually handed in.

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <span>
#include <type_traits>
#include <vector>

namespace velkaro {

using VarType = quint16;

enum : VarType {
    varEmpty = 0,
    varNull = 1,
    varSmallint = 2,
    varInteger = 3,
    varSingle = 4,
    varDouble = 5,
    varCurrency = 6,
    varDate = 7,
    varOleStr = 8,
    varDispatch = 9,
    varError = 10,
    varBoolean = 11,
    varVariant = 12,
    varUnknown = 13, // an interface reference
    varDecimal = 14, // tag only: the value is never carried
    varReserved = 15, // tag only, as 14
    varShortInt = 16,
    varByte = 17,
    varWord = 18,
    varLongWord = 19,
    varInt64 = 20,
    varUInt64 = 21,
    varTypeMask = 0x0FFF,
    varArray = 0x2000,
    varByRef = 0x4000,
};

class Variant;
class IInterface; // core/Dispatch.h
class IDispatch; // core/Dispatch.h
using InterfaceRef = std::shared_ptr<IInterface>;
using DispatchRef = std::shared_ptr<IDispatch>;

// OLE boolean values as they are stored and sent.
inline constexpr qint16 VariantTrue = -1;
inline constexpr qint16 VariantFalse = 0;

// Width in bytes of one element of the given type when it is stored as raw
// memory in an array, or 0 when elements of that type are variants of their
// own (text, dispatch and interface references, variants) or the type has no
// elements at all.
int RawElementSize(VarType elementType);

// ---- What a by-reference variant points at ---------------------------------
//
// Type (without the by-reference bit)          Storage
//   varOleStr                                  QString
//   varVariant, and every array type           Variant (holding the array)
//   varDispatch                                DispatchRef
//   varUnknown                                 InterfaceRef
//   varSmallint, varBoolean                    qint16 (booleans as 0 / -1)
//   varInteger, varError                       qint32
//   varSingle / varDouble, varDate             float / double
//   varCurrency                                qint64 (scaled by 10000)
//   varShortInt / varByte / varWord            qint8 / quint8 / quint16
//   varLongWord / varInt64 / varUInt64         quint32 / qint64 / quint64
//   anything else (Empty, Null, 14, 15, 22..)  NoStorage: never read or written

struct NoStorage { };

// Calls F.template operator()<T>() with T the storage type above for Type
// (the by-reference bit is ignored) and returns what it returns.
template <class F> decltype(auto) VisitRefStorage(VarType type, F&& f)
{
    if (type & varArray)
        return f.template operator()<Variant>();
    switch (type & varTypeMask) {
    case varOleStr:
        return f.template operator()<QString>();
    case varVariant:
        return f.template operator()<Variant>();
    case varDispatch:
        return f.template operator()<DispatchRef>();
    case varUnknown:
        return f.template operator()<InterfaceRef>();
    case varSmallint:
    case varBoolean:
        return f.template operator()<qint16>();
    case varInteger:
    case varError:
        return f.template operator()<qint32>();
    case varSingle:
        return f.template operator()<float>();
    case varDouble:
    case varDate:
        return f.template operator()<double>();
    case varCurrency:
    case varInt64:
        return f.template operator()<qint64>();
    case varShortInt:
        return f.template operator()<qint8>();
    case varByte:
        return f.template operator()<quint8>();
    case varWord:
        return f.template operator()<quint16>();
    case varLongWord:
        return f.template operator()<quint32>();
    case varUInt64:
        return f.template operator()<quint64>();
    default:
        return f.template operator()<NoStorage>();
    }
}

// True when T is the storage a by-reference variant of Type points at.
template <class T> bool IsRefStorageOf(VarType type)
{
    return VisitRefStorage(type, []<class S>() { return std::is_same_v<S, T>; });
}

// ---- Safe arrays -----------------------------------------------------------

// More dimensions than this are refused wherever an array is built.
inline constexpr int MaxArrayDims = 64;

struct ArrayBound {
    qint32 low = 0;
    qint32 high = -1;
    // Negative only for bounds no array accepts (high below low - 1).
    qint64 Count() const { return qint64(high) - qint64(low) + 1; }
    bool operator==(const ArrayBound&) const = default;
};

// A safe array with 1 to MaxArrayDims dimensions and any bounds (negative low
// bounds and empty dimensions included). Elements are in linear order with
// the last subscript varying fastest, both in memory and in IndexOf. Raw-typed
// elements (RawElementSize > 0) live in one block of little-endian memory;
// text, dispatch, interface and variant elements are held as variants.
//
// A Windows safe array lays out a multi-dimensional array with the first
// subscript fastest; only one-dimensional raw arrays have the same bytes in
// both layouts.
class SafeArray {
public:
    // Raw element types, varOleStr, varDispatch, varUnknown and varVariant.
    static bool IsElementType(VarType elementType);

    // The number of elements Bounds describe. Raises EVariantError when there
    // are no dimensions or more than MaxArrayDims, a dimension has high below
    // low - 1, or the product does not fit 63 bits (a product with an empty
    // dimension is 0 and never overflows).
    static qint64 ElementCountOf(std::span<const ArrayBound> bounds);

    // For local use: allocates the whole array, zero-filled (raw types) or
    // with empty elements of the element type (an empty text, a reference to
    // nothing, Empty). Raises EVariantError for an element type arrays cannot
    // have, for bounds ElementCountOf refuses, and when the elements or their
    // bytes exceed 2^31 - 1. Never use it for sizes a file or a peer claims.
    SafeArray(VarType elementType, std::vector<ArrayBound> bounds);

    // An array of a raw element type that adopts Data, already received, as
    // its storage without copying. Raises EVariantError, before anything is
    // allocated, when the type is not raw, the bounds are refused, or Data is
    // not exactly ElementCountOf(bounds) x RawElementSize(type) bytes.
    static SafeArray FromRaw(VarType elementType, std::vector<ArrayBound> bounds, QByteArray data);

    // A one-dimensional byte array, lower bound 0, that adopts Data as its
    // storage without copying. Raises EVariantError above 2^31 - 1 bytes.
    static SafeArray Bytes(QByteArray data);

    VarType ElementType() const { return elementType_; }
    int DimCount() const { return int(bounds_.size()); }
    const std::vector<ArrayBound>& Bounds() const { return bounds_; }
    qint64 ElementCount() const { return count_; }
    int ElementSize() const { return RawElementSize(elementType_); }
    bool IsRaw() const { return ElementSize() > 0; }
    bool IsByteVector() const { return elementType_ == varByte && bounds_.size() == 1; }

    // The raw storage of raw-typed arrays, ElementCount() x ElementSize()
    // bytes (empty for the others).
    const QByteArray& RawData() const { return raw_; }

    // The linear position of one element by its subscripts (one per
    // dimension). Raises EVariantError "Variant or safe array index out of
    // bounds" for a wrong count or a subscript outside its bounds.
    qint64 IndexOf(const std::vector<qint32>& subscripts) const;

    // Elements by their linear position. SetElement converts Value to the
    // element type (see Variant::ConvertTo); a variant element takes the value
    // itself (references followed).
    Variant GetElement(qint64 linear) const;
    void SetElement(qint64 linear, const Variant& value);

    bool operator==(const SafeArray& other) const;

private:
    friend class SafeArrayBuilder;
    SafeArray() = default;

    VarType elementType_ = varByte;
    std::vector<ArrayBound> bounds_;
    qint64 count_ = 0;
    QByteArray raw_;
    QList<Variant> items_;
};

// Builds an array element by element, as the elements arrive from a file or
// a peer: the bounds are checked up front, and memory grows only with the
// elements actually appended, so a claimed count costs nothing until the
// elements come. Any element type SafeArray accepts; raw arrays whose bytes
// arrive in one run are better built with SafeArray::FromRaw.
class SafeArrayBuilder {
public:
    // Raises EVariantError as SafeArray::ElementCountOf does, and for an
    // element type arrays cannot have. Allocates nothing in proportion to the
    // count.
    SafeArrayBuilder(VarType elementType, std::vector<ArrayBound> bounds);

    qint64 ElementCount() const { return array_.count_; }
    qint64 Appended() const { return appended_; }
    bool IsComplete() const { return appended_ == array_.count_; }

    // The next element in linear order (last subscript fastest), converted
    // as SafeArray::SetElement converts. Raises EVariantError when all
    // elements are already there, or after Finish.
    void Append(const Variant& value);

    // The finished array. Raises EVariantError when fewer elements than the
    // bounds describe were appended. The builder is spent afterwards.
    SafeArray Finish();

private:
    SafeArray array_;
    qint64 appended_ = 0;
    bool finished_ = false;
};

// ---- Variant ---------------------------------------------------------------

class Variant {
public:
    Variant() = default;
    Variant(bool value);
    Variant(int value);
    Variant(qint16 value);
    Variant(double value);
    Variant(const QString& value);
    Variant(const char16_t* value)
        : Variant(QString::fromUtf16(value))
    {
    }
    Variant(const char* value) = delete; // say which encoding: use a QString
    Variant(SafeArray array);
    Variant(DispatchRef dispatch); // code 9; a null reference is "nothing"

    static Variant Null();
    // A scalar of codes 2..7, 10, 11, 16..21 from its bits (integers of any
    // sign, IEEE bits of floats), cut to the type's width as it is stored.
    // Raises EVariantError "Invalid variant type conversion" for other codes.
    static Variant Typed(VarType type, qint64 bits);
    // A value that is nothing but its code: Empty (0), Null (1), and the
    // decimal (14) and reserved (15) codes, whose values this system never
    // carries. Raises EVariantError "Invalid variant type conversion" for
    // other codes.
    static Variant TagOnly(VarType type);
    // An interface reference (code 13).
    static Variant FromInterface(InterfaceRef object);
    static Variant FromByte(quint8 value) { return Typed(varByte, value); }
    static Variant FromInt64(qint64 value) { return Typed(varInt64, value); }
    static Variant FromSingle(float value);
    static Variant FromCurrency(qint64 scaledBy10000) { return Typed(varCurrency, scaledBy10000); }
    static Variant FromDate(double oleDate);
    static Variant FromError(qint32 code) { return Typed(varError, quint32(code)); }
    static Variant FromBytes(QByteArray data) { return Variant(SafeArray::Bytes(std::move(data))); }

    // A value held by reference: Type is the referenced type without the
    // by-reference bit, Target points at storage of the type the table above
    // gives for it (NoStorage types: any target, or none). Raises
    // EVariantError when T is not that storage.
    template <class T> static Variant ByRef(VarType type, T* target)
    {
        static_assert(!std::is_const_v<T>, "a by-reference variant needs writable storage");
        CheckStorage(type, IsRefStorageOf<T>(type) || IsRefStorageOf<NoStorage>(type));
        return RefTo(type, target);
    }
    // The value a by-reference variant of Type pointing at Storage would
    // read: a copy, with Storage as the table above gives it for Type.
    // Raises EVariantError when T is not that storage.
    template <class T> static Variant FromStorage(VarType type, const T& storage)
    {
        CheckStorage(type, IsRefStorageOf<T>(type));
        return Load(VarType(type & ~varByRef), &storage);
    }

    VarType VType() const { return type_; }
    VarType BaseType() const { return type_ & varTypeMask; }
    bool IsEmpty() const { return type_ == varEmpty; }
    bool IsNull() const { return type_ == varNull; }
    bool IsArray() const { return (type_ & varArray) != 0; }
    bool IsByRef() const { return (type_ & varByRef) != 0; }

    // The value itself, following references (a by-reference value becomes
    // an ordinary copy of what it points at; a by-reference array whose
    // Variant holds nothing yet reads as Empty). Raises EVariantError
    // "Invalid variant operation" for a reference to nothing.
    Variant Deref() const;

    // Stores Value into the storage this by-reference variant points at,
    // converted to the referenced type (ConvertTo): text is copied, object
    // and interface references are taken over, scalars are stored with their
    // width, arrays are copied whole (they must have the referenced array
    // type), and a variant target takes the value itself (references
    // followed). NoStorage types take only a tag-only value of their own code.
    // Raises EVariantError when this variant is not by reference, refers to
    // nothing, or the value has no form of the referenced type; the storage
    // is unchanged then.
    void StoreThroughRef(const Variant& value);

    // The value converted to Type as the platform converts variants: a
    // scalar code (2..7, 10, 11, 16..21), varOleStr, varDispatch (from a
    // dispatch reference, an interface that is a dispatch object, or Empty as
    // a reference to nothing), varUnknown (from either kind of reference or
    // Empty), or varVariant (the value itself). Integers are range-checked
    // and floats rounded half to even. Raises EVariantError "Could not
    // convert variant of type (%1) into type (%2)", "Overflow while
    // converting variant of type (%1) into type (%2)", or "Invalid variant
    // type conversion" for a target type that is none of the above.
    Variant ConvertTo(VarType type) const;

    // Conversions; each raises EVariantError when the value has no such form
    // (Null, references, arrays, 13, 14, 15) or does not fit (a NaN, an
    // infinity or an out-of-range float as an integer; a date outside the
    // years 100 to 9999 as text).
    QString ToString() const;
    qint64 ToInt64() const;
    // As ToInt64, except that unsigned values up to 2^32 - 1 keep their bits,
    // as the platform reads 32-bit integers.
    qint32 ToInt() const;
    double ToDouble() const;
    bool ToBool() const;

    // The text of a varOleStr value, without a copy (empty for every other
    // type, whose text ToString makes).
    const QString& Text() const { return text_; }
    // Raw bits of a scalar (sign-extended integers, zero-extended unsigned
    // integers and error codes, IEEE bits of floats).
    qint64 Bits() const { return bits_; }
    void* RefTarget() const { return ref_; }

    const SafeArray* Array() const { return array_.get(); }
    SafeArray* MutableArray(); // detaches a shared array first
    // The dispatch reference of a code-9 value (null for anything else).
    DispatchRef Dispatch() const;
    // The object of a code-9 or code-13 value (null for anything else).
    InterfaceRef Interface() const;

    // The bytes of a one-dimensional byte array; raises EVariantError with a
    // clear message for anything else.
    const QByteArray& ByteArrayData() const;

    // Same type and same value: stored bits for scalars (so a NaN equals the
    // same NaN and 0.0 differs from -0.0), text, elements and bounds for
    // arrays, the same object for references, the same target for
    // by-reference values. Values of different types are never equal.
    bool operator==(const Variant& other) const;

    // "Empty", "Null", "OleStr", "Array Byte", "Ref Integer", "$0016", ...
    static QString TypeName(VarType type);

private:
    [[noreturn]] static void StorageMismatch(VarType type);
    static void CheckStorage(VarType type, bool matches)
    {
        if (!matches)
            StorageMismatch(type);
    }
    static Variant RefTo(VarType type, void* target);
    static Variant Load(VarType type, const void* storage);

    VarType type_ = varEmpty;
    qint64 bits_ = 0;
    void* ref_ = nullptr;
    QString text_;
    std::shared_ptr<SafeArray> array_;
    InterfaceRef object_; // codes 9 and 13
};

} // namespace velkaro
