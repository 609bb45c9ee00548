#include "core/Variant.h"

#include "core/Bytes.h"
#include "core/Dispatch.h"
#include "core/Exceptions.h"

#include <QDate>
#include <QTime>

#include <cmath>
#include <cstring>
#include <limits>

namespace velkaro {

namespace {

constexpr qint64 Int64Max = std::numeric_limits<qint64>::max();
constexpr qint64 Int32Max = std::numeric_limits<qint32>::max();
// 2^63 and 2^64 as doubles: a rounded float converts to a 64-bit integer
// only below them (comparisons with a NaN fail, so NaN never passes).
constexpr double TwoPow63 = 9223372036854775808.0;
constexpr double TwoPow64 = 18446744073709551616.0;
// The dates that have a text: 1 January 100 to 31 December 9999.
constexpr double FirstDate = -657435.0; // exclusive
constexpr double EndDate = 2958466.0; // exclusive
constexpr qint64 MSecsPerDay = 86400000;

[[noreturn]] void castError(VarType from, VarType to)
{
    throw EVariantError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                            .arg(Variant::TypeName(from), Variant::TypeName(to)));
}

[[noreturn]] void overflowError(VarType from, VarType to)
{
    throw EVariantError(QStringLiteral("Overflow while converting variant of type (%1) into type (%2)")
                            .arg(Variant::TypeName(from), Variant::TypeName(to)));
}

[[noreturn]] void invalidTypeCast()
{
    throw EVariantError(QString::fromLatin1(msg::InvalidVariantTypeCast));
}

[[noreturn]] void invalidOperation()
{
    throw EVariantError(QString::fromLatin1(msg::InvalidVariantOperation));
}

[[noreturn]] void indexOutOfBounds()
{
    throw EVariantError(QStringLiteral("Variant or safe array index out of bounds"));
}

bool isIntegerType(VarType type)
{
    switch (type) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
        return true;
    default:
        return false;
    }
}

// The bits of a scalar cut to the width it is stored with: signed integers
// sign-extended, unsigned integers, error codes and single floats
// zero-extended.
qint64 normalise(VarType type, qint64 bits)
{
    switch (type) {
    case varSmallint:
    case varBoolean:
        return qint16(bits);
    case varInteger:
        return qint32(bits);
    case varShortInt:
        return qint8(bits);
    case varByte:
        return quint8(bits);
    case varWord:
        return quint16(bits);
    case varSingle:
    case varError:
    case varLongWord:
        return quint32(bits);
    default:
        return bits;
    }
}

// Elements of raw arrays are little-endian runs of their width.
qint64 loadRaw(VarType type, const QByteArray& raw, qint64 linear)
{
    const int size = RawElementSize(type);
    ByteReader in(QByteArrayView(raw).sliced(linear * size, size));
    return normalise(type, qint64(in.UInt(size)));
}

void appendRaw(QByteArray& raw, VarType type, qint64 bits)
{
    ByteWriter(raw).UInt(quint64(bits), RawElementSize(type));
}

void storeRaw(QByteArray& raw, VarType type, qint64 bits, qint64 linear)
{
    QByteArray bytes;
    appendRaw(bytes, type, bits);
    std::memcpy(raw.data() + linear * bytes.size(), bytes.constData(), size_t(bytes.size()));
}

// The value of an element that nobody has set yet.
Variant emptyElement(VarType elementType)
{
    switch (elementType) {
    case varOleStr:
        return Variant(QString());
    case varDispatch:
        return Variant(DispatchRef());
    case varUnknown:
        return Variant::FromInterface(nullptr);
    default:
        return Variant();
    }
}

void checkElementType(VarType elementType)
{
    if (!SafeArray::IsElementType(elementType))
        throw EVariantError(
            QStringLiteral("Arrays cannot hold elements of type %1").arg(Variant::TypeName(elementType)));
}

// Rounds half to even, as the platform rounds floats to integers.
qint64 roundToInt64(double d, VarType from, VarType to)
{
    const double r = std::nearbyint(d);
    if (!(r >= -TwoPow63 && r < TwoPow63))
        overflowError(from, to);
    return qint64(r);
}

qint64 roundCurrency(qint64 scaled)
{
    qint64 whole = scaled / 10000;
    const qint64 rest = scaled % 10000;
    if (rest > 5000 || (rest == 5000 && (whole & 1)))
        ++whole;
    else if (rest < -5000 || (rest == -5000 && (whole & 1)))
        --whole;
    return whole;
}

QString floatText(double d, int precision)
{
    if (std::isnan(d))
        return QStringLiteral("NAN");
    if (std::isinf(d))
        return d > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    return QString::number(d, 'g', precision);
}

// A date's whole part counts days from 30 December 1899; its fraction is the
// time of day whatever the sign, so -1.25 is 29 December 1899, 06:00.
QString dateText(double d)
{
    if (!(d > FirstDate && d < EndDate))
        overflowError(varDate, varOleStr);
    const double day = std::trunc(d);
    QDate date = QDate(1899, 12, 30).addDays(qint64(day));
    qint64 ms = qint64(std::nearbyint(std::fabs(d - day) * double(MSecsPerDay)));
    if (ms >= MSecsPerDay) {
        date = date.addDays(1);
        ms -= MSecsPerDay;
    }
    if (ms == 0)
        return date.toString(QStringLiteral("dd/MM/yyyy"));
    return date.toString(QStringLiteral("dd/MM/yyyy "))
        + QTime::fromMSecsSinceStartOfDay(int(ms)).toString(u"hh:mm:ss");
}

struct IntRange {
    qint64 low;
    qint64 high;
};

IntRange rangeOf(VarType type)
{
    switch (type) {
    case varShortInt:
        return {-128, 127};
    case varByte:
        return {0, 255};
    case varSmallint:
        return {-32768, 32767};
    case varWord:
        return {0, 65535};
    case varInteger:
        return {std::numeric_limits<qint32>::min(), Int32Max};
    case varLongWord:
        return {0, qint64(std::numeric_limits<quint32>::max())};
    default:
        return {std::numeric_limits<qint64>::min(), Int64Max};
    }
}

} // namespace

int RawElementSize(VarType elementType)
{
    switch (elementType) {
    case varShortInt:
    case varByte:
        return 1;
    case varSmallint:
    case varBoolean:
    case varWord:
        return 2;
    case varInteger:
    case varSingle:
    case varError:
    case varLongWord:
        return 4;
    case varDouble:
    case varCurrency:
    case varDate:
    case varInt64:
    case varUInt64:
        return 8;
    default:
        return 0;
    }
}

// ---- SafeArray -------------------------------------------------------------

bool SafeArray::IsElementType(VarType elementType)
{
    return RawElementSize(elementType) > 0 || elementType == varOleStr || elementType == varDispatch
        || elementType == varUnknown || elementType == varVariant;
}

qint64 SafeArray::ElementCountOf(std::span<const ArrayBound> bounds)
{
    if (bounds.empty())
        throw EVariantError(QStringLiteral("An array needs at least one dimension"));
    if (bounds.size() > size_t(MaxArrayDims)) {
        throw EVariantError(QStringLiteral("An array has at most %1 dimensions, not %2")
                                .arg(QString::number(MaxArrayDims), QString::number(bounds.size())));
    }
    bool anyEmpty = false;
    for (const ArrayBound& b : bounds) {
        if (b.Count() < 0)
            throw EVariantError(
                QStringLiteral("Invalid array bounds %1..%2").arg(QString::number(b.low), QString::number(b.high)));
        anyEmpty = anyEmpty || b.Count() == 0;
    }
    if (anyEmpty)
        return 0;
    qint64 count = 1;
    for (const ArrayBound& b : bounds) {
        if (count > Int64Max / b.Count())
            throw EVariantError(QStringLiteral("Array too large: its bounds describe more than %1 elements")
                                    .arg(QString::number(Int64Max)));
        count *= b.Count();
    }
    return count;
}

SafeArray::SafeArray(VarType elementType, std::vector<ArrayBound> bounds)
    : elementType_(elementType)
    , bounds_(std::move(bounds))
    , count_(ElementCountOf(bounds_))
{
    checkElementType(elementType_);
    const int size = ElementSize();
    if (count_ > Int32Max || (size > 0 && count_ * size > Int32Max))
        throw EVariantError(QStringLiteral("Array too large"));
    if (size > 0)
        raw_ = QByteArray(qsizetype(count_ * size), '\0');
    else
        items_ = QList<Variant>(qsizetype(count_), emptyElement(elementType_));
}

SafeArray SafeArray::FromRaw(VarType elementType, std::vector<ArrayBound> bounds, QByteArray data)
{
    const int size = RawElementSize(elementType);
    if (size == 0) {
        throw EVariantError(QStringLiteral("Only arrays of fixed-width elements hold raw bytes, not arrays of %1")
                                .arg(Variant::TypeName(elementType)));
    }
    const qint64 count = ElementCountOf(bounds);
    if (data.size() % size != 0 || data.size() / size != count) {
        throw EVariantError(
            QStringLiteral("The array bounds describe %1 elements of %2 bytes, but %3 bytes are present")
                .arg(QString::number(count), QString::number(size), QString::number(data.size())));
    }
    SafeArray a;
    a.elementType_ = elementType;
    a.bounds_ = std::move(bounds);
    a.count_ = count;
    a.raw_ = std::move(data);
    return a;
}

SafeArray SafeArray::Bytes(QByteArray data)
{
    if (data.size() > Int32Max)
        throw EVariantError(QStringLiteral("Array too large"));
    const qint32 high = qint32(data.size() - 1);
    return FromRaw(varByte, {ArrayBound {0, high}}, std::move(data));
}

qint64 SafeArray::IndexOf(const std::vector<qint32>& subscripts) const
{
    if (subscripts.size() != bounds_.size())
        indexOutOfBounds();
    qint64 linear = 0;
    for (size_t i = 0; i < bounds_.size(); ++i) {
        const ArrayBound& b = bounds_[i];
        if (subscripts[i] < b.low || subscripts[i] > b.high)
            indexOutOfBounds();
        linear = linear * b.Count() + (qint64(subscripts[i]) - b.low);
    }
    return linear;
}

Variant SafeArray::GetElement(qint64 linear) const
{
    if (linear < 0 || linear >= count_)
        indexOutOfBounds();
    if (!IsRaw())
        return items_[linear];
    return Variant::Typed(elementType_, loadRaw(elementType_, raw_, linear));
}

void SafeArray::SetElement(qint64 linear, const Variant& value)
{
    if (linear < 0 || linear >= count_)
        indexOutOfBounds();
    if (IsRaw())
        storeRaw(raw_, elementType_, value.ConvertTo(elementType_).Bits(), linear);
    else
        items_[linear] = value.ConvertTo(elementType_);
}

bool SafeArray::operator==(const SafeArray& other) const
{
    return elementType_ == other.elementType_ && bounds_ == other.bounds_ && raw_ == other.raw_
        && items_ == other.items_;
}

// ---- SafeArrayBuilder ------------------------------------------------------

SafeArrayBuilder::SafeArrayBuilder(VarType elementType, std::vector<ArrayBound> bounds)
{
    checkElementType(elementType);
    array_.count_ = SafeArray::ElementCountOf(bounds);
    array_.elementType_ = elementType;
    array_.bounds_ = std::move(bounds);
}

void SafeArrayBuilder::Append(const Variant& value)
{
    if (finished_)
        invalidOperation();
    if (appended_ == array_.count_) {
        throw EVariantError(
            QStringLiteral("More elements than the array's %1 elements").arg(QString::number(array_.count_)));
    }
    const Variant element = value.ConvertTo(array_.elementType_);
    if (array_.IsRaw())
        appendRaw(array_.raw_, array_.elementType_, element.Bits());
    else
        array_.items_.append(element);
    ++appended_;
}

SafeArray SafeArrayBuilder::Finish()
{
    if (finished_)
        invalidOperation();
    if (!IsComplete()) {
        throw EVariantError(QStringLiteral("The array ended after %1 of its %2 elements")
                                .arg(QString::number(appended_), QString::number(array_.count_)));
    }
    finished_ = true;
    return std::move(array_);
}

// ---- Variant: construction -------------------------------------------------

Variant::Variant(bool value)
    : type_(varBoolean)
    , bits_(value ? VariantTrue : VariantFalse)
{
}

Variant::Variant(int value)
    : type_(varInteger)
    , bits_(value)
{
}

Variant::Variant(qint16 value)
    : type_(varSmallint)
    , bits_(value)
{
}

Variant::Variant(double value)
    : type_(varDouble)
    , bits_(qint64(DoubleBits(value)))
{
}

Variant::Variant(const QString& value)
    : type_(varOleStr)
    , text_(value)
{
}

Variant::Variant(SafeArray array)
    : type_(varArray | array.ElementType())
    , array_(std::make_shared<SafeArray>(std::move(array)))
{
}

Variant::Variant(DispatchRef dispatch)
    : type_(varDispatch)
    , object_(std::move(dispatch))
{
}

Variant Variant::Null()
{
    return TagOnly(varNull);
}

Variant Variant::Typed(VarType type, qint64 bits)
{
    if (RawElementSize(type) == 0)
        invalidTypeCast();
    Variant v;
    v.type_ = type;
    v.bits_ = normalise(type, bits);
    return v;
}

Variant Variant::TagOnly(VarType type)
{
    if (type != varEmpty && type != varNull && type != varDecimal && type != varReserved)
        invalidTypeCast();
    Variant v;
    v.type_ = type;
    return v;
}

Variant Variant::FromInterface(InterfaceRef object)
{
    Variant v;
    v.type_ = varUnknown;
    v.object_ = std::move(object);
    return v;
}

Variant Variant::FromSingle(float value)
{
    return Typed(varSingle, SingleBits(value));
}

Variant Variant::FromDate(double oleDate)
{
    return Typed(varDate, qint64(DoubleBits(oleDate)));
}

// ---- Variant: references ---------------------------------------------------

void Variant::StorageMismatch(VarType type)
{
    throw EVariantError(
        QStringLiteral("A reference of type %1 needs storage of another kind").arg(TypeName(VarType(type | varByRef))));
}

Variant Variant::RefTo(VarType type, void* target)
{
    Variant v;
    v.type_ = VarType(type | varByRef);
    v.ref_ = target;
    return v;
}

Variant Variant::Load(VarType type, const void* storage)
{
    return VisitRefStorage(type, [&]<class T>() -> Variant {
        if constexpr (std::is_same_v<T, NoStorage>) {
            return TagOnly(type);
        } else {
            const T& value = *static_cast<const T*>(storage);
            if constexpr (std::is_same_v<T, Variant>) {
                const Variant v = value.Deref();
                if ((type & varArray) && !v.IsEmpty() && v.type_ != type)
                    castError(v.type_, type);
                return v;
            } else if constexpr (std::is_same_v<T, QString>) {
                return Variant(value);
            } else if constexpr (std::is_same_v<T, DispatchRef>) {
                return Variant(value);
            } else if constexpr (std::is_same_v<T, InterfaceRef>) {
                return FromInterface(value);
            } else if constexpr (std::is_same_v<T, float>) {
                return FromSingle(value);
            } else if constexpr (std::is_same_v<T, double>) {
                return Typed(type, qint64(DoubleBits(value)));
            } else {
                return Typed(type, qint64(value));
            }
        }
    });
}

Variant Variant::Deref() const
{
    if (!IsByRef())
        return *this;
    const VarType base = VarType(type_ & ~varByRef);
    if (ref_ == nullptr && !IsRefStorageOf<NoStorage>(base))
        invalidOperation();
    return Load(base, ref_);
}

void Variant::StoreThroughRef(const Variant& value)
{
    if (!IsByRef())
        throw EVariantError(
            QStringLiteral("A value can be stored only through a reference, not into %1").arg(TypeName(type_)));
    const VarType type = VarType(type_ & ~varByRef);
    VisitRefStorage(type, [&]<class T>() {
        if constexpr (std::is_same_v<T, NoStorage>) {
            const Variant v = value.Deref();
            if (v.type_ != type)
                castError(v.type_, type);
        } else {
            if (ref_ == nullptr)
                invalidOperation();
            T& target = *static_cast<T*>(ref_);
            if constexpr (std::is_same_v<T, Variant>) {
                Variant v = value.Deref();
                if ((type & varArray) && v.type_ != type)
                    castError(v.type_, type);
                target = std::move(v);
            } else {
                const Variant v = value.ConvertTo(type);
                if constexpr (std::is_same_v<T, QString>)
                    target = v.text_;
                else if constexpr (std::is_same_v<T, DispatchRef>)
                    target = v.Dispatch();
                else if constexpr (std::is_same_v<T, InterfaceRef>)
                    target = v.object_;
                else if constexpr (std::is_same_v<T, float>)
                    target = BitsSingle(quint32(v.bits_));
                else if constexpr (std::is_same_v<T, double>)
                    target = BitsDouble(quint64(v.bits_));
                else
                    target = T(v.bits_);
            }
        }
    });
}

SafeArray* Variant::MutableArray()
{
    if (!array_)
        return nullptr;
    if (array_.use_count() > 1)
        array_ = std::make_shared<SafeArray>(*array_);
    return array_.get();
}

DispatchRef Variant::Dispatch() const
{
    return type_ == varDispatch ? std::static_pointer_cast<IDispatch>(object_) : nullptr;
}

InterfaceRef Variant::Interface() const
{
    return type_ == varDispatch || type_ == varUnknown ? object_ : nullptr;
}

const QByteArray& Variant::ByteArrayData() const
{
    if (IsByRef())
        throw EVariantError(QStringLiteral("A byte array was expected, not a reference (%1)").arg(TypeName(type_)));
    if (!array_ || type_ != (varArray | varByte) || array_->DimCount() != 1)
        throw EVariantError(QStringLiteral("A one-dimensional byte array was expected, not %1").arg(TypeName(type_)));
    return array_->RawData();
}

QString Variant::TypeName(VarType type)
{
    static const char* const names[] = {"Empty", "Null", "Smallint", "Integer", "Single", "Double", "Currency", "Date",
        "OleStr", "Dispatch", "Error", "Boolean", "Variant", "Unknown", "Decimal", "$000F", "ShortInt", "Byte", "Word",
        "LongWord", "Int64", "UInt64"};
    const VarType base = type & varTypeMask;
    QString name = base < std::size(names) ? QString::fromLatin1(names[base])
                                           : QStringLiteral("$%1").arg(base, 4, 16, QLatin1Char('0')).toUpper();
    if (type & varArray)
        name = QStringLiteral("Array ") + name;
    if (type & varByRef)
        name = QStringLiteral("Ref ") + name;
    return name;
}

// ---- Variant: conversions --------------------------------------------------
//
// Each conversion names the type it converts to in its errors, so the
// helpers take that type along.

namespace {

qint64 integerOf(const Variant& v, VarType to)
{
    switch (v.VType()) {
    case varEmpty:
        return 0;
    case varBoolean:
        return v.Bits() != 0 ? -1 : 0;
    case varSingle:
    case varDouble:
    case varDate:
        return roundToInt64(v.ToDouble(), v.VType(), to);
    case varCurrency:
        return roundCurrency(v.Bits());
    case varOleStr: {
        bool ok = false;
        const qint64 n = v.ToString().trimmed().toLongLong(&ok);
        if (!ok)
            castError(varOleStr, to);
        return n;
    }
    case varUInt64:
        if (v.Bits() < 0)
            overflowError(varUInt64, to);
        return v.Bits();
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varError:
        return v.Bits();
    default:
        castError(v.VType(), to);
    }
}

quint64 unsignedOf(const Variant& v, VarType to)
{
    switch (v.VType()) {
    case varUInt64:
        return quint64(v.Bits());
    case varSingle:
    case varDouble:
    case varDate: {
        const double r = std::nearbyint(v.ToDouble());
        if (!(r >= 0 && r < TwoPow64))
            overflowError(v.VType(), to);
        return quint64(r);
    }
    case varOleStr: {
        bool ok = false;
        const quint64 n = v.ToString().trimmed().toULongLong(&ok);
        if (!ok)
            castError(varOleStr, to);
        return n;
    }
    default: {
        const qint64 n = integerOf(v, to);
        if (n < 0)
            overflowError(v.VType(), to);
        return quint64(n);
    }
    }
}

double doubleOf(const Variant& v, VarType to)
{
    switch (v.VType()) {
    case varSingle:
        return BitsSingle(quint32(v.Bits()));
    case varDouble:
    case varDate:
        return BitsDouble(quint64(v.Bits()));
    case varCurrency:
        return double(v.Bits()) / 10000.0;
    case varOleStr: {
        bool ok = false;
        const double d = v.ToString().trimmed().toDouble(&ok);
        if (!ok)
            castError(varOleStr, to);
        return d;
    }
    case varUInt64:
        return double(quint64(v.Bits()));
    default:
        return double(integerOf(v, to));
    }
}

qint64 currencyOf(const Variant& v)
{
    switch (v.VType()) {
    case varCurrency:
        return v.Bits();
    case varSingle:
    case varDouble:
    case varDate:
    case varOleStr:
        return roundToInt64(doubleOf(v, varCurrency) * 10000.0, v.VType(), varCurrency);
    default: {
        const qint64 n = integerOf(v, varCurrency);
        if (n > Int64Max / 10000 || n < -(Int64Max / 10000))
            overflowError(v.VType(), varCurrency);
        return n * 10000;
    }
    }
}

} // namespace

Variant Variant::ConvertTo(VarType type) const
{
    if (IsByRef())
        return Deref().ConvertTo(type);
    if (type == type_ && type != varEmpty && type != varNull)
        return *this;
    switch (type) {
    case varVariant:
        return *this;
    case varOleStr:
        return Variant(ToString());
    case varDispatch:
        if (type_ == varEmpty)
            return Variant(DispatchRef());
        if (type_ == varUnknown) {
            DispatchRef dispatch = std::dynamic_pointer_cast<IDispatch>(object_);
            if (object_ && !dispatch)
                castError(type_, type);
            return Variant(std::move(dispatch));
        }
        castError(type_, type);
    case varUnknown:
        if (type_ == varEmpty || type_ == varDispatch)
            return FromInterface(object_);
        castError(type_, type);
    case varBoolean:
        return Typed(varBoolean, ToBool() ? VariantTrue : VariantFalse);
    case varSingle: {
        const double d = doubleOf(*this, varSingle);
        if (std::isfinite(d) && std::fabs(d) > double(std::numeric_limits<float>::max()))
            overflowError(type_, varSingle);
        return FromSingle(float(d));
    }
    case varDouble:
        return Variant(doubleOf(*this, varDouble));
    case varDate:
        return FromDate(doubleOf(*this, varDate));
    case varCurrency:
        return FromCurrency(currencyOf(*this));
    case varUInt64:
        return Typed(varUInt64, qint64(unsignedOf(*this, varUInt64)));
    case varError: {
        if (!isIntegerType(type_))
            castError(type_, type);
        const qint64 n = integerOf(*this, varError);
        if (n < std::numeric_limits<qint32>::min() || n > qint64(std::numeric_limits<quint32>::max()))
            overflowError(type_, varError);
        return Typed(varError, n);
    }
    case varShortInt:
    case varByte:
    case varSmallint:
    case varWord:
    case varInteger:
    case varLongWord:
    case varInt64: {
        const qint64 n = integerOf(*this, type);
        const IntRange range = rangeOf(type);
        if (n < range.low || n > range.high)
            overflowError(type_, type);
        return Typed(type, n);
    }
    default:
        invalidTypeCast();
    }
}

QString Variant::ToString() const
{
    if (IsByRef())
        return Deref().ToString();
    switch (type_) {
    case varEmpty:
        return QString();
    case varOleStr:
        return text_;
    case varBoolean:
        return bits_ ? QStringLiteral("True") : QStringLiteral("False");
    case varSingle:
        return floatText(double(BitsSingle(quint32(bits_))), 7);
    case varDouble:
        return floatText(BitsDouble(quint64(bits_)), 15);
    case varCurrency: {
        const qint64 whole = bits_ / 10000;
        const qint64 frac = bits_ % 10000;
        if (frac == 0)
            return QString::number(whole);
        QString s = (bits_ < 0 && whole == 0 ? QStringLiteral("-") : QString()) + QString::number(whole) + u'.'
            + QStringLiteral("%1").arg(qAbs(frac), 4, 10, QLatin1Char('0'));
        while (s.endsWith(u'0'))
            s.chop(1);
        return s;
    }
    case varDate:
        return dateText(BitsDouble(quint64(bits_)));
    case varUInt64:
        return QString::number(quint64(bits_));
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varError:
        return QString::number(bits_);
    default:
        castError(type_, varOleStr);
    }
}

qint64 Variant::ToInt64() const
{
    if (IsByRef())
        return Deref().ToInt64();
    return integerOf(*this, varInt64);
}

qint32 Variant::ToInt() const
{
    if (IsByRef())
        return Deref().ToInt();
    const qint64 v = integerOf(*this, varInteger);
    if (v >= std::numeric_limits<qint32>::min() && v <= Int32Max)
        return qint32(v);
    if (v >= 0 && v <= qint64(std::numeric_limits<quint32>::max()))
        return qint32(quint32(v));
    overflowError(type_, varInteger);
}

double Variant::ToDouble() const
{
    if (IsByRef())
        return Deref().ToDouble();
    return doubleOf(*this, varDouble);
}

bool Variant::ToBool() const
{
    if (IsByRef())
        return Deref().ToBool();
    switch (type_) {
    case varOleStr: {
        const QString t = text_.trimmed();
        if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
            return true;
        if (t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0)
            return false;
        return doubleOf(*this, varBoolean) != 0;
    }
    case varSingle:
    case varDouble:
    case varDate:
        return doubleOf(*this, varBoolean) != 0;
    case varBoolean:
    case varCurrency:
    case varUInt64:
        return bits_ != 0;
    default:
        return integerOf(*this, varBoolean) != 0;
    }
}

bool Variant::operator==(const Variant& other) const
{
    if (type_ != other.type_)
        return false;
    if (IsByRef())
        return ref_ == other.ref_;
    if (IsArray())
        return *array_ == *other.array_;
    switch (BaseType()) {
    case varOleStr:
        return text_ == other.text_;
    case varDispatch:
    case varUnknown:
        return object_ == other.object_;
    default:
        return bits_ == other.bits_;
    }
}

} // namespace velkaro
