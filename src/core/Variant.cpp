#include "core/Variant.h"

#include "core/Dispatch.h"
#include "core/Exceptions.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <cmath>
#include <cstring>
#include <limits>

namespace velkaro {

namespace {

qint64 doubleBits(double d)
{
    qint64 b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

double bitsDouble(qint64 b)
{
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

float bitsSingle(qint64 b)
{
    const quint32 low = quint32(b);
    float f;
    std::memcpy(&f, &low, sizeof f);
    return f;
}

[[noreturn]] void castError(VarType from, VarType to)
{
    throw EVariantError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                            .arg(Variant::TypeName(from), Variant::TypeName(to)));
}

// Reads a scalar of the given type from raw storage into variant bits.
qint64 loadScalar(VarType type, const void* p)
{
    switch (type) {
    case varSmallint: {
        qint16 v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case varBoolean: {
        qint16 v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case varInteger:
    case varError: {
        qint32 v;
        std::memcpy(&v, p, 4);
        return type == varError ? qint64(quint32(v)) : v;
    }
    case varSingle: {
        quint32 v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case varDouble:
    case varDate:
    case varCurrency:
    case varInt64:
    case varUInt64: {
        qint64 v;
        std::memcpy(&v, p, 8);
        return v;
    }
    case varShortInt: {
        qint8 v;
        std::memcpy(&v, p, 1);
        return v;
    }
    case varByte: {
        quint8 v;
        std::memcpy(&v, p, 1);
        return v;
    }
    case varWord: {
        quint16 v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case varLongWord: {
        quint32 v;
        std::memcpy(&v, p, 4);
        return v;
    }
    default:
        return 0;
    }
}

void storeScalar(VarType type, qint64 bits, void* p)
{
    const int size = RawElementSize(type);
    // Little-endian host: the low bytes of the bits are the value.
    std::memcpy(p, &bits, size);
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

SafeArray::SafeArray(VarType elementType, std::vector<ArrayBound> bounds)
    : elementType_(elementType)
    , bounds_(std::move(bounds))
{
    if (bounds_.empty())
        throw EVariantError(QStringLiteral("An array needs at least one dimension"));
    qint64 count = 1;
    for (const ArrayBound& b : bounds_) {
        if (b.Count() < 0)
            throw EVariantError(QStringLiteral("Invalid array bounds %1..%2").arg(b.low).arg(b.high));
        count *= b.Count();
        if (count > std::numeric_limits<qint32>::max())
            throw EVariantError(QStringLiteral("Array too large"));
    }
    const int size = RawElementSize(elementType_);
    if (size > 0) {
        if (count * size > std::numeric_limits<qint32>::max())
            throw EVariantError(QStringLiteral("Array too large"));
        raw_ = QByteArray(qsizetype(count * size), '\0');
    } else {
        items_.resize(count);
    }
}

SafeArray SafeArray::Bytes(QByteArray data)
{
    if (data.size() > std::numeric_limits<qint32>::max())
        throw EVariantError(QStringLiteral("Array too large"));
    SafeArray a;
    a.elementType_ = varByte;
    a.bounds_ = {ArrayBound {0, qint32(data.size() - 1)}};
    a.raw_ = std::move(data);
    return a;
}

qint64 SafeArray::ElementCount() const
{
    qint64 count = 1;
    for (const ArrayBound& b : bounds_)
        count *= b.Count();
    return count;
}

Variant SafeArray::GetElement(qint64 linear) const
{
    if (linear < 0 || linear >= ElementCount())
        throw EVariantError(QStringLiteral("Variant or safe array index out of bounds"));
    const int size = ElementSize();
    if (size == 0)
        return items_[linear];
    return Variant::Typed(elementType_, loadScalar(elementType_, raw_.constData() + linear * size));
}

void SafeArray::SetElement(qint64 linear, const Variant& value)
{
    if (linear < 0 || linear >= ElementCount())
        throw EVariantError(QStringLiteral("Variant or safe array index out of bounds"));
    const int size = ElementSize();
    const Variant v = value.Deref();
    if (size == 0) {
        switch (elementType_) {
        case varVariant:
            items_[linear] = v;
            break;
        case varOleStr:
            items_[linear] = Variant(v.ToString());
            break;
        case varDispatch:
            if (v.BaseType() != varDispatch && !v.IsEmpty())
                castError(v.VType(), varDispatch);
            items_[linear] = v;
            break;
        default:
            throw EVariantError(QString::fromLatin1(msg::InvalidVariantOperation));
        }
        return;
    }
    qint64 bits;
    switch (elementType_) {
    case varSingle: {
        float f = float(v.ToDouble());
        quint32 u;
        std::memcpy(&u, &f, 4);
        bits = u;
        break;
    }
    case varDouble:
    case varDate:
        bits = doubleBits(v.BaseType() == varDate ? bitsDouble(v.Bits()) : v.ToDouble());
        break;
    case varCurrency:
        bits = v.BaseType() == varCurrency ? v.Bits() : qint64(v.ToDouble() * 10000.0);
        break;
    case varBoolean:
        bits = v.ToBool() ? VariantTrue : VariantFalse;
        break;
    default:
        bits = v.ToInt64();
        break;
    }
    storeScalar(elementType_, bits, raw_.data() + linear * size);
}

bool SafeArray::operator==(const SafeArray& other) const
{
    if (elementType_ != other.elementType_ || bounds_.size() != other.bounds_.size())
        return false;
    for (size_t i = 0; i < bounds_.size(); ++i) {
        if (bounds_[i].low != other.bounds_[i].low || bounds_[i].high != other.bounds_[i].high)
            return false;
    }
    return raw_ == other.raw_ && items_ == other.items_;
}

// ---- Variant ---------------------------------------------------------------

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
    , bits_(doubleBits(value))
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
    , dispatch_(std::move(dispatch))
{
}

Variant Variant::Null()
{
    Variant v;
    v.type_ = varNull;
    return v;
}

Variant Variant::Typed(VarType type, qint64 bits)
{
    if (RawElementSize(type) == 0)
        throw EVariantError(QString::fromLatin1(msg::InvalidVariantTypeCast));
    Variant v;
    v.type_ = type;
    // Normalise the bits to the type's width, as the value would be stored.
    unsigned char buffer[8] = {};
    storeScalar(type, bits, buffer);
    v.bits_ = loadScalar(type, buffer);
    return v;
}

Variant Variant::FromSingle(float value)
{
    quint32 u;
    std::memcpy(&u, &value, 4);
    return Typed(varSingle, u);
}

Variant Variant::FromDate(double oleDate)
{
    return Typed(varDate, doubleBits(oleDate));
}

Variant Variant::ByRef(VarType type, void* target)
{
    Variant v;
    v.type_ = VarType(type | varByRef);
    v.ref_ = target;
    return v;
}

Variant Variant::Deref() const
{
    if (!IsByRef())
        return *this;
    const VarType base = VarType(type_ & ~varByRef);
    if (ref_ == nullptr)
        throw EVariantError(QString::fromLatin1(msg::InvalidVariantOperation));
    if (base == varVariant)
        return static_cast<const Variant*>(ref_)->Deref();
    if (base & varArray) {
        Variant v;
        v = *static_cast<const Variant*>(ref_);
        return v;
    }
    switch (base) {
    case varOleStr:
        return Variant(*static_cast<const QString*>(ref_));
    case varDispatch:
        return Variant(*static_cast<const DispatchRef*>(ref_));
    default:
        return Typed(base, loadScalar(base, ref_));
    }
}

SafeArray* Variant::MutableArray()
{
    if (!array_)
        return nullptr;
    if (array_.use_count() > 1)
        array_ = std::make_shared<SafeArray>(*array_);
    return array_.get();
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
        return QString::number(double(bitsSingle(bits_)), 'g', 7);
    case varDouble:
        return QString::number(bitsDouble(bits_), 'g', 15);
    case varCurrency: {
        const qint64 whole = bits_ / 10000;
        qint64 frac = bits_ % 10000;
        if (frac == 0)
            return QString::number(whole);
        QString s = (bits_ < 0 && whole == 0 ? QStringLiteral("-") : QString()) + QString::number(whole) + u'.'
            + QStringLiteral("%1").arg(qAbs(frac), 4, 10, QLatin1Char('0'));
        while (s.endsWith(u'0'))
            s.chop(1);
        return s;
    }
    case varDate: {
        const double d = bitsDouble(bits_);
        const QDateTime dt
            = QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC).addMSecs(qint64(std::llround(d * 86400000.0)));
        if (dt.time() == QTime(0, 0))
            return dt.date().toString(QStringLiteral("dd/MM/yyyy"));
        return dt.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    }
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
    switch (type_) {
    case varEmpty:
        return 0;
    case varBoolean:
        return bits_ ? -1 : 0;
    case varSingle:
        return std::llround(bitsSingle(bits_));
    case varDouble:
    case varDate:
        return std::llround(bitsDouble(bits_));
    case varCurrency:
        return bits_ / 10000;
    case varOleStr: {
        bool ok = false;
        const qint64 v = text_.trimmed().toLongLong(&ok);
        if (!ok)
            castError(type_, varInt64);
        return v;
    }
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
    case varError:
        return bits_;
    default:
        castError(type_, varInt64);
    }
}

qint32 Variant::ToInt() const
{
    const qint64 v = ToInt64();
    if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max()) {
        // Unsigned 32-bit values keep their bits, as the platform does.
        if (v >= 0 && v <= qint64(std::numeric_limits<quint32>::max()))
            return qint32(quint32(v));
        throw EVariantError(
            QStringLiteral("Overflow while converting variant of type (%1) into type (Integer)").arg(TypeName(type_)));
    }
    return qint32(v);
}

double Variant::ToDouble() const
{
    if (IsByRef())
        return Deref().ToDouble();
    switch (type_) {
    case varSingle:
        return bitsSingle(bits_);
    case varDouble:
    case varDate:
        return bitsDouble(bits_);
    case varCurrency:
        return double(bits_) / 10000.0;
    case varOleStr: {
        bool ok = false;
        const double v = text_.trimmed().toDouble(&ok);
        if (!ok)
            castError(type_, varDouble);
        return v;
    }
    case varUInt64:
        return double(quint64(bits_));
    default:
        return double(ToInt64());
    }
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
        return ToDouble() != 0;
    }
    case varSingle:
    case varDouble:
    case varDate:
        return ToDouble() != 0;
    default:
        return ToInt64() != 0;
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
        return dispatch_ == other.dispatch_;
    default:
        return bits_ == other.bits_;
    }
}

} // namespace velkaro
