#pragma once
// The OLE-compatible variant: a 16-bit type code plus its value. It is the
// value type of fields, data packets, streams and remote calls alike.
//
// Copies are values (arrays are copied on write, so copying a large byte
// array is cheap until one side changes it). A by-reference variant only
// points at the caller's storage; the caller keeps that storage alive.

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
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
    varUnknown = 13,
    varDecimal = 14,
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
class IDispatch;
using DispatchRef = std::shared_ptr<IDispatch>;

// OLE boolean values as they are stored and sent.
inline constexpr qint16 VariantTrue = -1;
inline constexpr qint16 VariantFalse = 0;

// Width in bytes of one element of the given type when it is stored as raw
// memory in an array, or 0 when elements of that type are variants of their
// own (text, dispatch references, variants).
int RawElementSize(VarType elementType);

struct ArrayBound {
    qint32 low = 0;
    qint32 high = -1;
    qint64 Count() const { return qint64(high) - qint64(low) + 1; }
};

// A safe array with any number of dimensions and any bounds. Elements of raw
// types live in one block of memory, first dimension varying slowest
// (the last subscript fastest); text, dispatch and variant elements are
// held as variants.
class SafeArray {
public:
    // Allocates a zero-filled array. Raises EVariantError when an element
    // count is negative or the total does not fit the 32-bit size limit.
    SafeArray(VarType elementType, std::vector<ArrayBound> bounds);

    // A one-dimensional byte array, lower bound 0, that adopts Data as its
    // storage without copying.
    static SafeArray Bytes(QByteArray data);

    VarType ElementType() const { return elementType_; }
    int DimCount() const { return int(bounds_.size()); }
    const std::vector<ArrayBound>& Bounds() const { return bounds_; }
    qint64 ElementCount() const;
    int ElementSize() const { return RawElementSize(elementType_); }
    bool IsRaw() const { return ElementSize() > 0; }
    bool IsByteVector() const { return elementType_ == varByte && bounds_.size() == 1; }

    // The raw storage of raw-typed arrays (empty for the others).
    const QByteArray& RawData() const { return raw_; }
    QByteArray& RawData() { return raw_; }

    // Elements by their linear position (last subscript fastest).
    Variant GetElement(qint64 linear) const;
    void SetElement(qint64 linear, const Variant& value);

    bool operator==(const SafeArray& other) const;

private:
    SafeArray() = default;
    VarType elementType_ = varByte;
    std::vector<ArrayBound> bounds_;
    QByteArray raw_;
    QList<Variant> items_;
};

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
    Variant(DispatchRef dispatch);

    static Variant Null();
    static Variant Typed(VarType type, qint64 bits); // scalar codes 2..7, 10, 11, 16..21
    static Variant FromByte(quint8 value) { return Typed(varByte, value); }
    static Variant FromInt64(qint64 value) { return Typed(varInt64, value); }
    static Variant FromSingle(float value);
    static Variant FromCurrency(qint64 scaledBy10000) { return Typed(varCurrency, scaledBy10000); }
    static Variant FromDate(double oleDate);
    static Variant FromError(qint32 code) { return Typed(varError, quint32(code)); }
    static Variant FromBytes(QByteArray data) { return Variant(SafeArray::Bytes(std::move(data))); }
    // A value held by reference: Type is the referenced type without the
    // by-reference bit; Target points at storage of that type (Variant for
    // varVariant and for arrays, QString for varOleStr, DispatchRef for
    // varDispatch, the scalar's C type otherwise).
    static Variant ByRef(VarType type, void* target);

    VarType VType() const { return type_; }
    VarType BaseType() const { return type_ & varTypeMask; }
    bool IsEmpty() const { return type_ == varEmpty; }
    bool IsNull() const { return type_ == varNull; }
    bool IsArray() const { return (type_ & varArray) != 0; }
    bool IsByRef() const { return (type_ & varByRef) != 0; }

    // The value itself, following references (a by-reference value becomes
    // an ordinary copy of what it points at).
    Variant Deref() const;

    // Conversions; each raises EVariantError when the value has no such form.
    QString ToString() const;
    qint64 ToInt64() const;
    qint32 ToInt() const;
    double ToDouble() const;
    bool ToBool() const;

    // Raw bits of a scalar (sign-extended integers, IEEE bits of floats).
    qint64 Bits() const { return bits_; }
    void* RefTarget() const { return ref_; }

    const SafeArray* Array() const { return array_.get(); }
    SafeArray* MutableArray(); // detaches a shared array first
    DispatchRef Dispatch() const { return dispatch_; }

    // The bytes of a one-dimensional byte array; raises EVariantError with a
    // clear message for anything else.
    const QByteArray& ByteArrayData() const;

    bool operator==(const Variant& other) const;

    // "Empty", "Null", "OleStr", "Array Byte", ...
    static QString TypeName(VarType type);

private:
    VarType type_ = varEmpty;
    qint64 bits_ = 0;
    void* ref_ = nullptr;
    QString text_;
    std::shared_ptr<SafeArray> array_;
    DispatchRef dispatch_;
};

} // namespace velkaro
