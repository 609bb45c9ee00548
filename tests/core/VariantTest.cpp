#include "core/Variant.h"
#include "core/Bytes.h"
#include "core/Dispatch.h"
#include "core/Exceptions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <tuple>

using namespace velkaro;

namespace {

constexpr qint32 Int32Min = std::numeric_limits<qint32>::min();
constexpr qint32 Int32Max = std::numeric_limits<qint32>::max();
constexpr qint64 Int64Min = std::numeric_limits<qint64>::min();
constexpr qint64 Int64Max = std::numeric_limits<qint64>::max();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// What an operation gave: its result as text, or "!" and the message of the
// EVariantError it raised.
QString outcome(const std::function<QString()>& f)
{
    try {
        return f();
    } catch (const EVariantError& e) {
        return QStringLiteral("!") + e.Message();
    }
}

QString cannot(const char* from, const char* to)
{
    return QStringLiteral("!Could not convert variant of type (%1) into type (%2)")
        .arg(QLatin1String(from), QLatin1String(to));
}

QString overflow(const char* from, const char* to)
{
    return QStringLiteral("!Overflow while converting variant of type (%1) into type (%2)")
        .arg(QLatin1String(from), QLatin1String(to));
}

class Object : public IDispatch {
public:
    HRESULT GetIDsOfNames(const QStringList&, quint32, std::vector<qint32>&) override
    {
        return ResultCode::NotImplemented;
    }
    HRESULT Invoke(qint32, quint32, quint16, DispParams&, Variant*, ExcepInfo*) override
    {
        return ResultCode::NotImplemented;
    }
};

class BareInterface : public IInterface { };

// One variable of every storage a reference can point at.
using Storage = std::tuple<QString, Variant, DispatchRef, InterfaceRef, qint16, qint32, float, double, qint64, qint8,
    quint8, quint16, quint32, quint64>;

Variant refInto(Storage& storage, VarType type)
{
    return VisitRefStorage(type, [&]<class T>() {
        if constexpr (std::is_same_v<T, NoStorage>)
            return Variant::ByRef(type, static_cast<NoStorage*>(nullptr));
        else
            return Variant::ByRef(type, &std::get<T>(storage));
    });
}

std::vector<ArrayBound> repeated(int dims, ArrayBound bound)
{
    return std::vector<ArrayBound>(size_t(dims), bound);
}

} // namespace

// ---- Conversions -----------------------------------------------------------

TEST(Variant, ConversionsFromEveryCodeToTextIntegerDoubleAndBoolean)
{
    const DispatchRef object = std::make_shared<Object>();
    struct Case {
        const char* name;
        Variant value;
        QString text;
        QString integer;
        QString real;
        QString boolean;
    };
    const QString f = QStringLiteral("false");
    const QString t = QStringLiteral("true");
    const Case cases[] = {
        {"empty", Variant(), "", "0", "0", f},
        {"null", Variant::Null(), cannot("Null", "OleStr"), cannot("Null", "Int64"), cannot("Null", "Double"),
            cannot("Null", "Boolean")},
        {"smallint", Variant(qint16(-32768)), "-32768", "-32768", "-32768", t},
        {"integer", Variant(Int32Min), "-2147483648", "-2147483648", "-2147483648", t},
        {"integer zero", Variant(0), "0", "0", "0", f},
        {"single, half rounds to even", Variant::FromSingle(2.5f), "2.5", "2", "2.5", t},
        {"single NaN", Variant::FromSingle(std::numeric_limits<float>::quiet_NaN()), "NAN", overflow("Single", "Int64"),
            "nan", t},
        {"double, half rounds to even", Variant(3.5), "3.5", "4", "3.5", t},
        {"negative double", Variant(-2.5), "-2.5", "-2", "-2.5", t},
        {"double NaN", Variant(NaN), "NAN", overflow("Double", "Int64"), "nan", t},
        {"double infinity", Variant(Inf), "INF", overflow("Double", "Int64"), "inf", t},
        {"double minus infinity", Variant(-Inf), "-INF", overflow("Double", "Int64"), "-inf", t},
        {"double 1e300", Variant(1e300), "1e+300", overflow("Double", "Int64"), "1.0000000000000001e+300", t},
        {"double 2^63", Variant(9223372036854775808.0), "9.22337203685478e+18", overflow("Double", "Int64"),
            "9.2233720368547758e+18", t},
        {"double -2^63", Variant(-9223372036854775808.0), "-9.22337203685478e+18", "-9223372036854775808",
            "-9.2233720368547758e+18", t},
        {"currency", Variant::FromCurrency(-12500), "-1.25", "-1", "-1.25", t},
        {"currency below one", Variant::FromCurrency(-5), "-0.0005", "0", "-0.00050000000000000001", t},
        {"currency, half rounds to even", Variant::FromCurrency(25000), "2.5", "2", "2.5", t},
        {"currency, odd half rounds up", Variant::FromCurrency(15000), "1.5", "2", "1.5", t},
        {"smallest currency", Variant::FromCurrency(Int64Min), "-922337203685477.5808", "-922337203685478",
            "-922337203685477.63", t},
        {"largest currency", Variant::FromCurrency(Int64Max), "922337203685477.5807", "922337203685478",
            "922337203685477.63", t},
        {"date zero", Variant::FromDate(0), "30/12/1899", "0", "0", f},
        {"date and time", Variant::FromDate(2.25), "01/01/1900 06:00:00", "2", "2.25", t},
        {"negative date: the fraction is still the time", Variant::FromDate(-1.25), "29/12/1899 06:00:00", "-1",
            "-1.25", t},
        {"date rounding up to midnight", Variant::FromDate(1.9999999999), "01/01/1900", "2", "1.9999999999", t},
        {"first date", Variant::FromDate(-657434), "01/01/0100", "-657434", "-657434", t},
        {"last date", Variant::FromDate(2958465.5), "31/12/9999 12:00:00", "2958466", "2958465.5", t},
        {"after the last date", Variant::FromDate(2958466), overflow("Date", "OleStr"), "2958466", "2958466", t},
        {"before the first date", Variant::FromDate(-657435), overflow("Date", "OleStr"), "-657435", "-657435", t},
        {"date NaN", Variant::FromDate(NaN), overflow("Date", "OleStr"), overflow("Date", "Int64"), "nan", t},
        {"date 1e300", Variant::FromDate(1e300), overflow("Date", "OleStr"), overflow("Date", "Int64"),
            "1.0000000000000001e+300", t},
        {"number text", Variant(QStringLiteral(" 12 ")), " 12 ", "12", "12", t},
        {"boolean text", Variant(QStringLiteral("true")), "true", cannot("OleStr", "Int64"), cannot("OleStr", "Double"),
            t},
        {"other text", Variant(QStringLiteral("กข")), "กข", cannot("OleStr", "Int64"), cannot("OleStr", "Double"),
            cannot("OleStr", "Boolean")},
        {"dispatch", Variant(object), cannot("Dispatch", "OleStr"), cannot("Dispatch", "Int64"),
            cannot("Dispatch", "Double"), cannot("Dispatch", "Boolean")},
        {"error", Variant::FromError(ResultCode::ParamNotFound), "2147614724", "2147614724", "2147614724", t},
        {"true", Variant(true), "True", "-1", "-1", t},
        {"false", Variant(false), "False", "0", "0", f},
        {"interface", Variant::FromInterface(object), cannot("Unknown", "OleStr"), cannot("Unknown", "Int64"),
            cannot("Unknown", "Double"), cannot("Unknown", "Boolean")},
        {"decimal", Variant::TagOnly(varDecimal), cannot("Decimal", "OleStr"), cannot("Decimal", "Int64"),
            cannot("Decimal", "Double"), cannot("Decimal", "Boolean")},
        {"code 15", Variant::TagOnly(varReserved), cannot("$000F", "OleStr"), cannot("$000F", "Int64"),
            cannot("$000F", "Double"), cannot("$000F", "Boolean")},
        {"shortint", Variant::Typed(varShortInt, -128), "-128", "-128", "-128", t},
        {"byte", Variant::FromByte(255), "255", "255", "255", t},
        {"word", Variant::Typed(varWord, 65535), "65535", "65535", "65535", t},
        {"longword", Variant::Typed(varLongWord, 4294967295LL), "4294967295", "4294967295", "4294967295", t},
        {"int64", Variant::FromInt64(Int64Min), "-9223372036854775808", "-9223372036854775808",
            "-9.2233720368547758e+18", t},
        {"uint64", Variant::Typed(varUInt64, -1), "18446744073709551615", overflow("UInt64", "Int64"),
            "1.8446744073709552e+19", t},
        {"byte array", Variant::FromBytes("ab"), cannot("Array Byte", "OleStr"), cannot("Array Byte", "Int64"),
            cannot("Array Byte", "Double"), cannot("Array Byte", "Boolean")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Variant& v = c.value;
        EXPECT_EQ(outcome([&] { return v.ToString(); }), c.text);
        EXPECT_EQ(outcome([&] { return QString::number(v.ToInt64()); }), c.integer);
        EXPECT_EQ(outcome([&] { return QString::number(v.ToDouble(), 'g', 17); }), c.real);
        EXPECT_EQ(outcome([&] { return v.ToBool() ? QStringLiteral("true") : QStringLiteral("false"); }), c.boolean);
    }
}

TEST(Variant, ToIntKeepsTheBitsOfUnsigned32BitValuesOnly)
{
    EXPECT_EQ(Variant::Typed(varLongWord, 4294967295LL).ToInt(), -1);
    EXPECT_EQ(Variant(-5.5).ToInt(), -6);
    EXPECT_EQ(outcome([] { return QString::number(Variant::FromInt64(qint64(1) << 32).ToInt()); }),
        overflow("Int64", "Integer"));
    EXPECT_EQ(outcome([] { return QString::number(Variant(-1e10).ToInt()); }), overflow("Double", "Integer"));
}

// ConvertTo is what elements and references are stored with: integers are
// range-checked, not cut.
TEST(Variant, ConvertToChecksTheRangeOfTheTargetType)
{
    const DispatchRef object = std::make_shared<Object>();
    const InterfaceRef bare = std::make_shared<BareInterface>();
    struct Case {
        const char* name;
        Variant value;
        VarType type;
        QString expected; // the converted value's text, or "!" and the error
    };
    const Case cases[] = {
        {"integer to smallint", Variant(-32768), varSmallint, "-32768"},
        {"integer beyond smallint", Variant(32768), varSmallint, overflow("Integer", "Smallint")},
        {"negative to byte", Variant(-1), varByte, overflow("Integer", "Byte")},
        {"text to shortint", Variant(QStringLiteral("-128")), varShortInt, "-128"},
        {"double to word, half to even", Variant(65534.5), varWord, "65534"},
        {"longword to integer", Variant::Typed(varLongWord, 4294967295LL), varInteger, overflow("LongWord", "Integer")},
        {"negative to longword", Variant(-1), varLongWord, overflow("Integer", "LongWord")},
        {"negative to uint64", Variant::FromInt64(-1), varUInt64, overflow("Int64", "UInt64")},
        {"double below 2^64 to uint64", Variant(18446744073709549568.0), varUInt64, "18446744073709549568"},
        {"double 2^64 to uint64", Variant(18446744073709551616.0), varUInt64, overflow("Double", "UInt64")},
        {"NaN to uint64", Variant(NaN), varUInt64, overflow("Double", "UInt64")},
        {"uint64 beyond int64", Variant::Typed(varUInt64, -1), varInt64, overflow("UInt64", "Int64")},
        {"double to single", Variant(0.5), varSingle, "0.5"},
        {"1e300 to single", Variant(1e300), varSingle, overflow("Double", "Single")},
        {"NaN to single", Variant(NaN), varSingle, "NAN"},
        {"integer to currency", Variant(3), varCurrency, "3"},
        {"double to currency", Variant(0.00005), varCurrency, "0"},
        {"1e300 to currency", Variant(1e300), varCurrency, overflow("Double", "Currency")},
        {"int64 beyond currency", Variant::FromInt64(Int64Max / 10000 + 1), varCurrency, overflow("Int64", "Currency")},
        {"text to boolean", Variant(QStringLiteral("False")), varBoolean, "False"},
        {"integer to error", Variant::Typed(varLongWord, 0x80020004LL), varError, "2147614724"},
        {"text to error", Variant(QStringLiteral("1")), varError, cannot("OleStr", "Error")},
        {"number to text", Variant(2.5), varOleStr, "2.5"},
        {"null to text", Variant::Null(), varOleStr, cannot("Null", "OleStr")},
        {"interface that is a dispatch object", Variant::FromInterface(object), varDispatch, "dispatch"},
        {"interface that is not", Variant::FromInterface(bare), varDispatch, cannot("Unknown", "Dispatch")},
        {"empty to dispatch", Variant(), varDispatch, "dispatch"},
        {"dispatch to interface", Variant(object), varUnknown, "interface"},
        {"number to dispatch", Variant(1), varDispatch, cannot("Integer", "Dispatch")},
        {"to null", Variant(1), varNull, "!Invalid variant type conversion"},
        {"to decimal", Variant(1), varDecimal, "!Invalid variant type conversion"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString got = outcome([&] {
            const Variant v = c.value.ConvertTo(c.type);
            EXPECT_EQ(v.VType(), c.type);
            if (c.type == varDispatch)
                return QStringLiteral("dispatch");
            if (c.type == varUnknown)
                return QStringLiteral("interface");
            return v.ToString();
        });
        EXPECT_EQ(got, c.expected);
    }
    EXPECT_EQ(Variant::FromInterface(object).ConvertTo(varDispatch).Dispatch(), object);
    EXPECT_EQ(Variant().ConvertTo(varDispatch).Dispatch(), nullptr);
}

// ---- Scalars from their code, interface references, tag-only values --------

TEST(Variant, TypedAndTagOnlyValuesFromTheirCode)
{
    EXPECT_EQ(Variant::Typed(varByte, 0x1FF), Variant::FromByte(255));
    EXPECT_EQ(Variant::Typed(varSmallint, 0xFFFF).Bits(), -1);
    EXPECT_EQ(Variant::Typed(varLongWord, -1).Bits(), 4294967295LL);
    EXPECT_EQ(Variant::Typed(varBoolean, 0xFFFF), Variant(true));

    for (const VarType type : std::initializer_list<VarType> {varEmpty, varNull, varDecimal, varReserved}) {
        SCOPED_TRACE(type);
        const Variant v = Variant::TagOnly(type);
        EXPECT_EQ(v.VType(), type);
        EXPECT_EQ(Variant(v), v);
    }
    EXPECT_EQ(Variant::TagOnly(varEmpty), Variant());
    EXPECT_EQ(Variant::TagOnly(varNull), Variant::Null());
    for (const VarType type :
        std::initializer_list<VarType> {varOleStr, varDispatch, varVariant, varUnknown, varInteger, 22}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(outcome([&] { return Variant::TagOnly(type).ToString(); }), "!Invalid variant type conversion");
    }
    for (const VarType type :
        std::initializer_list<VarType> {varEmpty, varOleStr, varDispatch, varUnknown, varDecimal, varReserved, 22}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(outcome([&] { return Variant::Typed(type, 0).ToString(); }), "!Invalid variant type conversion");
    }

    const struct {
        VarType type;
        const char* name;
    } names[] = {{varUnknown, "Unknown"}, {varDecimal, "Decimal"}, {varReserved, "$000F"},
        {varByRef | varUnknown, "Ref Unknown"}, {varArray | varByte, "Array Byte"}, {22, "$0016"},
        {varByRef | varArray | varVariant, "Ref Array Variant"}};
    for (const auto& n : names)
        EXPECT_EQ(Variant::TypeName(n.type), QLatin1String(n.name));
}

TEST(Variant, InterfaceReferencesAreSharedAndCounted)
{
    const auto object = std::make_shared<Object>();
    {
        const Variant v = Variant::FromInterface(object);
        const Variant copy = v;
        EXPECT_EQ(v.VType(), varUnknown);
        EXPECT_EQ(v.Interface(), object);
        EXPECT_EQ(v.Dispatch(), nullptr); // an interface is not called by name
        EXPECT_EQ(copy, v);
        EXPECT_EQ(object.use_count(), 3);
        EXPECT_NE(v, Variant(DispatchRef(object))); // same object, another type
        EXPECT_EQ(Variant(DispatchRef(object)).Interface(), object);
    }
    EXPECT_EQ(object.use_count(), 1);
}

// ---- References ------------------------------------------------------------

TEST(Variant, ReferencesAreReadAndWrittenInTheirStorageType)
{
    const DispatchRef object = std::make_shared<Object>();
    const Variant bytes = Variant::FromBytes("ab");
    qint32 number = 7;
    struct Case {
        const char* name;
        VarType type;
        Variant stored;
        Variant read; // what the reference reads afterwards
        QString error; // or the error the store raises, leaving the storage as it was
    };
    const Case cases[] = {
        {"smallint from text", varSmallint, Variant(QStringLiteral("-7")), Variant(qint16(-7)), {}},
        {"smallint overflow", varSmallint, Variant(70000), {}, overflow("Integer", "Smallint")},
        {"integer from double", varInteger, Variant(2.5), Variant(2), {}},
        {"single from double", varSingle, Variant(1.25), Variant::FromSingle(1.25f), {}},
        {"double from currency", varDouble, Variant::FromCurrency(25000), Variant(2.5), {}},
        {"currency from double", varCurrency, Variant(1.5), Variant::FromCurrency(15000), {}},
        {"date from double", varDate, Variant(2.25), Variant::FromDate(2.25), {}},
        {"text from number", varOleStr, Variant(42), Variant(QStringLiteral("42")), {}},
        {"text from null", varOleStr, Variant::Null(), {}, cannot("Null", "OleStr")},
        {"dispatch taken over", varDispatch, Variant(object), Variant(object), {}},
        {"dispatch from a number", varDispatch, Variant(1), {}, cannot("Integer", "Dispatch")},
        {"interface from a dispatch", varUnknown, Variant(object), Variant::FromInterface(object), {}},
        {"error", varError, Variant::FromError(5), Variant::FromError(5), {}},
        {"boolean from a number", varBoolean, Variant(5), Variant(true), {}},
        {"variant takes the value, not the reference", varVariant, Variant::ByRef(varInteger, &number), Variant(7), {}},
        {"shortint", varShortInt, Variant(-128), Variant::Typed(varShortInt, -128), {}},
        {"byte overflow", varByte, Variant(256), {}, overflow("Integer", "Byte")},
        {"word", varWord, Variant(65535), Variant::Typed(varWord, 65535), {}},
        {"longword", varLongWord, Variant::FromInt64(4294967295LL), Variant::Typed(varLongWord, 4294967295LL), {}},
        {"int64", varInt64, Variant::FromInt64(Int64Min), Variant::FromInt64(Int64Min), {}},
        {"uint64", varUInt64, Variant::Typed(varUInt64, -1), Variant::Typed(varUInt64, -1), {}},
        {"uint64 from a negative", varUInt64, Variant(-1), {}, overflow("Integer", "UInt64")},
        {"array copied whole", varArray | varByte, bytes, bytes, {}},
        {"array of another type", varArray | varByte, Variant(SafeArray(varWord, {{0, 0}})), {},
            cannot("Array Word", "Array Byte")},
        {"decimal takes only its tag", varDecimal, Variant::TagOnly(varDecimal), Variant::TagOnly(varDecimal), {}},
        {"decimal refuses a value", varDecimal, Variant(1), {}, cannot("Integer", "Decimal")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Storage storage;
        Variant ref = refInto(storage, c.type);
        EXPECT_EQ(ref.VType(), c.type | varByRef);
        const Variant before = ref.Deref();
        const QString error = outcome([&] {
            ref.StoreThroughRef(c.stored);
            return QString();
        });
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(ref.Deref(), c.error.isEmpty() ? c.read : before);
    }
}

TEST(Variant, ReferencesUseTheCallersStorageWithItsWidth)
{
    Storage s;
    refInto(s, varBoolean).StoreThroughRef(Variant(QStringLiteral("True")));
    EXPECT_EQ(std::get<qint16>(s), -1); // booleans are 16-bit 0 / -1
    refInto(s, varCurrency).StoreThroughRef(Variant(-1.25));
    EXPECT_EQ(std::get<qint64>(s), -12500);
    refInto(s, varDate).StoreThroughRef(Variant::FromDate(-1.25));
    EXPECT_EQ(std::get<double>(s), -1.25);
    refInto(s, varError).StoreThroughRef(Variant::FromError(ResultCode::ParamNotFound));
    EXPECT_EQ(std::get<qint32>(s), ResultCode::ParamNotFound);

    // Reading follows later changes of the storage.
    const Variant text = refInto(s, varOleStr);
    std::get<QString>(s) = QStringLiteral("after");
    EXPECT_EQ(text.Deref(), Variant(QStringLiteral("after")));

    // An array reference whose variant holds nothing yet reads as Empty.
    EXPECT_EQ(refInto(s, varArray | varByte).Deref(), Variant());
    std::get<Variant>(s) = Variant(5);
    EXPECT_EQ(
        outcome([&] { return refInto(s, varArray | varByte).Deref().ToString(); }), cannot("Integer", "Array Byte"));
}

TEST(Variant, ReferenceMisuseIsRefused)
{
    qint32 number = 0;
    double real = 0;
    Variant plain(1);
    Variant nowhere = Variant::ByRef(varInteger, static_cast<qint32*>(nullptr));
    const QString mismatch = QStringLiteral("!A reference of type Ref Integer needs storage of another kind");
    EXPECT_EQ(outcome([&] { return Variant::ByRef(varInteger, &real).ToString(); }), mismatch);
    EXPECT_EQ(outcome([&] { return Variant::FromStorage(varInteger, real).ToString(); }), mismatch);
    EXPECT_EQ(Variant::FromStorage(varError, number), Variant::FromError(0));
    EXPECT_EQ(outcome([&] { return nowhere.Deref().ToString(); }), "!Invalid variant operation");
    EXPECT_EQ(outcome([&] {
        nowhere.StoreThroughRef(Variant(1));
        return QString();
    }),
        "!Invalid variant operation");
    EXPECT_EQ(outcome([&] {
        plain.StoreThroughRef(Variant(2));
        return QString();
    }),
        "!A value can be stored only through a reference, not into Integer");
    EXPECT_EQ(plain, Variant(1));
}

// ---- Arrays ----------------------------------------------------------------

TEST(SafeArray, ElementCountOfBoundsDetectsOverflowAndEmptiness)
{
    struct Case {
        const char* name;
        std::vector<ArrayBound> bounds;
        QString expected;
    };
    const QString tooLarge = QStringLiteral("!Array too large: its bounds describe more than 9223372036854775807 "
                                            "elements");
    std::vector<ArrayBound> hugeButEmpty = repeated(63, {Int32Min, Int32Max});
    hugeButEmpty.push_back({5, 4});
    const Case cases[] = {
        {"empty", {{0, -1}}, "0"},
        {"negative low bound", {{-5, -4}}, "2"},
        {"whole 32-bit range", {{Int32Min, Int32Max}}, "4294967296"},
        {"two whole ranges", repeated(2, {Int32Min, Int32Max}), tooLarge},
        {"62 dimensions of two", repeated(62, {0, 1}), "4611686018427387904"},
        {"63 dimensions of two", repeated(63, {0, 1}), tooLarge},
        {"64 dimensions of one", repeated(64, {-1, -1}), "1"},
        {"huge dimensions and an empty one", hugeButEmpty, "0"},
        {"65 dimensions", repeated(65, {0, 0}), "!An array has at most 64 dimensions, not 65"},
        {"no dimension", {}, "!An array needs at least one dimension"},
        {"high below low - 1", {{0, -2}}, "!Invalid array bounds 0..-2"},
        {"reversed whole range", {{0, 1}, {Int32Max, Int32Min}}, "!Invalid array bounds 2147483647..-2147483648"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome([&] { return QString::number(SafeArray::ElementCountOf(c.bounds)); }), c.expected);
        // The builder checks the same, and allocates nothing for the count.
        EXPECT_EQ(outcome([&] { return QString::number(SafeArrayBuilder(varVariant, c.bounds).ElementCount()); }),
            c.expected);
    }
}

TEST(SafeArray, ArraysFromReceivedBytesAreCheckedAgainstTheBytesPresent)
{
    struct Case {
        const char* name;
        VarType type;
        std::vector<ArrayBound> bounds;
        QByteArray data;
        QString expected; // the element count, or "!" and the error
    };
    const Case cases[] = {
        {"bytes", varByte, {{0, 2}}, "abc", "3"},
        {"empty with a negative low bound", varDouble, {{-3, -4}}, "", "0"},
        {"words in two dimensions", varWord, {{-1, 0}, {5, 7}}, QByteArray(12, 'x'), "6"},
        {"the whole 32-bit range claimed", varDouble, {{Int32Min, Int32Max}}, QByteArray(8, 'x'),
            "!The array bounds describe 4294967296 elements of 8 bytes, but 8 bytes are present"},
        {"a byte short", varInteger, {{0, 1}}, QByteArray(7, 'x'),
            "!The array bounds describe 2 elements of 4 bytes, but 7 bytes are present"},
        {"a byte over", varSmallint, {{0, 0}}, QByteArray(3, 'x'),
            "!The array bounds describe 1 elements of 2 bytes, but 3 bytes are present"},
        {"bounds beyond 64 bits", varByte, repeated(64, {Int32Min, Int32Max}), "",
            "!Array too large: its bounds describe more than 9223372036854775807 elements"},
        {"text has no raw form", varOleStr, {{0, 0}}, "",
            "!Only arrays of fixed-width elements hold raw bytes, not arrays of OleStr"},
        {"decimal has no raw form", varDecimal, {{0, -1}}, "",
            "!Only arrays of fixed-width elements hold raw bytes, not arrays of Decimal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome([&] { return QString::number(SafeArray::FromRaw(c.type, c.bounds, c.data).ElementCount()); }),
            c.expected);
    }

    // Adopted, not copied.
    const QByteArray data("\x01\x00\x02\x00", 4);
    const SafeArray a = SafeArray::FromRaw(varWord, {{-1, 0}}, data);
    EXPECT_EQ(a.RawData().constData(), data.constData());
    EXPECT_EQ(a.GetElement(1), Variant::Typed(varWord, 2));
}

TEST(SafeArray, ElementsRunWithTheLastSubscriptFastest)
{
    // 2 x 3 integers, bounds -1..0 and 5..7, as they arrive: 0, 1, 2, ...
    QByteArray data;
    ByteWriter out(data);
    for (qint32 i = 0; i < 6; ++i)
        out.I32(i);
    const SafeArray a = SafeArray::FromRaw(varInteger, {{-1, 0}, {5, 7}}, data);
    struct Case {
        std::vector<qint32> subscripts;
        qint64 linear;
    };
    const Case cases[] = {{{-1, 5}, 0}, {{-1, 7}, 2}, {{0, 5}, 3}, {{0, 7}, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.linear);
        EXPECT_EQ(a.IndexOf(c.subscripts), c.linear);
        EXPECT_EQ(a.GetElement(a.IndexOf(c.subscripts)), Variant(int(c.linear)));
    }
    for (const std::vector<qint32>& wrong :
        {std::vector<qint32> {-2, 5}, {1, 5}, {0, 4}, {0, 8}, {0}, {0, 5, 0}, {Int32Min, Int32Max}}) {
        EXPECT_EQ(
            outcome([&] { return QString::number(a.IndexOf(wrong)); }), "!Variant or safe array index out of bounds");
    }
    EXPECT_EQ(outcome([&] { return a.GetElement(6).ToString(); }), "!Variant or safe array index out of bounds");
    EXPECT_EQ(outcome([&] { return a.GetElement(-1).ToString(); }), "!Variant or safe array index out of bounds");

    // An empty dimension has no subscripts at all.
    const SafeArray empty(varVariant, {{0, 1}, {3, 2}});
    EXPECT_EQ(empty.ElementCount(), 0);
    EXPECT_EQ(outcome([&] {
        return QString::number(empty.IndexOf({0, 3}));
    }),
        "!Variant or safe array index out of bounds");
}

TEST(SafeArray, BuilderTakesElementsAsTheyArrive)
{
    // Variants, 2 x 2 with bounds 1..2: elements (1,1), (1,2), (2,1), (2,2).
    SafeArrayBuilder variants(varVariant, {{1, 2}, {1, 2}});
    const Variant elements[] = {Variant(11), Variant(QStringLiteral("12")), Variant::Null(), Variant(22.0)};
    for (const Variant& e : elements) {
        EXPECT_FALSE(variants.IsComplete());
        variants.Append(e);
    }
    EXPECT_EQ(outcome([&] {
        variants.Append(Variant());
        return QString();
    }),
        "!More elements than the array's 4 elements");
    const SafeArray a = variants.Finish();
    EXPECT_EQ(a.GetElement(a.IndexOf({1, 2})), Variant(QStringLiteral("12")));
    EXPECT_EQ(a.GetElement(a.IndexOf({2, 1})), Variant::Null());
    EXPECT_EQ(outcome([&] {
        variants.Append(Variant());
        return QString();
    }),
        "!Invalid variant operation");

    // Elements are converted to the element type.
    SafeArrayBuilder texts(varOleStr, {{0, 0}});
    texts.Append(Variant(5));
    EXPECT_EQ(texts.Finish().GetElement(0), Variant(QStringLiteral("5")));
    SafeArrayBuilder words(varWord, {{0, 1}});
    words.Append(Variant(5));
    EXPECT_EQ(outcome([&] {
        words.Append(Variant(70000));
        return QString();
    }),
        overflow("Integer", "Word"));
    words.Append(Variant(QStringLiteral("65535")));
    EXPECT_EQ(words.Finish().RawData(), QByteArray("\x05\x00\xFF\xFF", 4));

    // A peer that claims 2^62 elements and sends one costs one element.
    SafeArrayBuilder claimed(varVariant, {{Int32Min, Int32Max}, {0, 0x3FFFFFFF}});
    EXPECT_EQ(claimed.ElementCount(), qint64(1) << 62);
    claimed.Append(Variant(1));
    EXPECT_EQ(outcome([&] { return QString::number(claimed.Finish().ElementCount()); }),
        "!The array ended after 1 of its 4611686018427387904 elements");

    EXPECT_EQ(outcome([] {
        return QString::number(SafeArrayBuilder(varDecimal, {{0, 0}}).ElementCount());
    }),
        "!Arrays cannot hold elements of type Decimal");
}

TEST(SafeArray, LocalArraysAreCappedBeforeAllocating)
{
    EXPECT_EQ(outcome([] {
        return QString::number(SafeArray(varInteger, {{0, 0x1FFFFFFF}}).ElementCount());
    }),
        "!Array too large");
    EXPECT_EQ(outcome([] {
        return QString::number(SafeArray(varVariant, {{Int32Min, Int32Max}}).ElementCount());
    }),
        "!Array too large");
    EXPECT_EQ(outcome([] {
        return QString::number(SafeArray(varEmpty, {{0, 0}}).ElementCount());
    }),
        "!Arrays cannot hold elements of type Empty");

    // Fresh elements are empty values of the element type.
    EXPECT_EQ(SafeArray(varOleStr, {{0, 0}}).GetElement(0), Variant(QString()));
    EXPECT_EQ(SafeArray(varDispatch, {{0, 0}}).GetElement(0), Variant(DispatchRef()));
    EXPECT_EQ(SafeArray(varDouble, {{-2, -2}, {0, 0}}).GetElement(0), Variant(0.0));
}

TEST(Variant, ByteArrayAdoptsBufferWithBoundsFromZero)
{
    QByteArray data("abc");
    const char* before = data.constData();
    const Variant v = Variant::FromBytes(data);
    EXPECT_EQ(v.VType(), varArray | varByte);
    ASSERT_EQ(v.Array()->DimCount(), 1);
    EXPECT_EQ(v.Array()->Bounds()[0], (ArrayBound {0, 2}));
    EXPECT_EQ(v.ByteArrayData().constData(), before); // shared, not copied

    const Variant empty = Variant::FromBytes(QByteArray());
    EXPECT_EQ(empty.Array()->Bounds()[0], (ArrayBound {0, -1}));
    EXPECT_EQ(empty.Array()->ElementCount(), 0);
}

TEST(Variant, ByteArrayDataRefusesOtherShapes)
{
    SafeArray twoDims(varByte, {{0, 1}, {0, 1}});
    SafeArray words(varWord, {{0, 3}});
    for (const Variant& v :
        {Variant(), Variant::Null(), Variant(QStringLiteral("x")), Variant(twoDims), Variant(words)}) {
        SCOPED_TRACE(Variant::TypeName(v.VType()).toStdString());
        EXPECT_THROW(v.ByteArrayData(), EVariantError);
    }
}

// ---- Copies and equality ---------------------------------------------------

TEST(Variant, CopiesShareArraysUntilOneSideWrites)
{
    QByteArray data("xyz");
    Variant a = Variant::FromBytes(data);
    Variant b = a;
    EXPECT_EQ(a.Array(), b.Array()); // shared

    SafeArray* own = b.MutableArray();
    EXPECT_NE(own, a.Array()); // copied on the first write
    own->SetElement(0, Variant::FromByte('q'));
    EXPECT_EQ(b.MutableArray(), own); // and not again
    EXPECT_EQ(a.ByteArrayData(), QByteArray("xyz"));
    EXPECT_EQ(b.ByteArrayData(), QByteArray("qyz"));

    // The adopted buffer is not written through either.
    a.MutableArray()->SetElement(2, Variant::FromByte('!'));
    EXPECT_EQ(data, QByteArray("xyz"));
    EXPECT_EQ(a.ByteArrayData(), QByteArray("xy!"));

    // Arrays of variants copy their elements the same way.
    SafeArray texts(varOleStr, {{0, 1}});
    texts.SetElement(0, Variant(QStringLiteral("one")));
    Variant c(texts);
    Variant d = c;
    d.MutableArray()->SetElement(0, Variant(QStringLiteral("two")));
    EXPECT_EQ(c.Array()->GetElement(0), Variant(QStringLiteral("one")));
    EXPECT_EQ(d.Array()->GetElement(0), Variant(QStringLiteral("two")));
}

TEST(Variant, EqualityIsSameTypeAndSameValue)
{
    const DispatchRef one = std::make_shared<Object>();
    const DispatchRef other = std::make_shared<Object>();
    qint32 x = 0;
    qint32 y = 0;
    struct Case {
        const char* name;
        Variant a;
        Variant b;
        bool equal;
    };
    const Case cases[] = {
        {"same integer", Variant(1), Variant(1), true},
        {"same number, other type", Variant(1), Variant(qint16(1)), false},
        {"empty and null", Variant(), Variant::Null(), false},
        {"empty text and empty", Variant(QString()), Variant(), false},
        {"same NaN", Variant(NaN), Variant(NaN), true},
        {"zero and minus zero", Variant(0.0), Variant(-0.0), false},
        {"same text", Variant(QStringLiteral("a")), Variant(QStringLiteral("a")), true},
        {"same object", Variant(one), Variant(one), true},
        {"other object", Variant(one), Variant(other), false},
        {"decimal tags", Variant::TagOnly(varDecimal), Variant::TagOnly(varDecimal), true},
        {"decimal and code 15", Variant::TagOnly(varDecimal), Variant::TagOnly(varReserved), false},
        {"same bytes", Variant::FromBytes("ab"), Variant::FromBytes("ab"), true},
        {"other bytes", Variant::FromBytes("ab"), Variant::FromBytes("ac"), false},
        {"same bytes, other bounds", Variant::FromBytes("ab"), Variant(SafeArray::FromRaw(varByte, {{1, 2}}, "ab")),
            false},
        {"same bytes, other shape", Variant(SafeArray::FromRaw(varByte, {{0, 1}, {0, 0}}, "ab")),
            Variant(SafeArray::FromRaw(varByte, {{0, 0}, {0, 1}}, "ab")), false},
        {"same target", Variant::ByRef(varInteger, &x), Variant::ByRef(varInteger, &x), true},
        {"other target, same value", Variant::ByRef(varInteger, &x), Variant::ByRef(varInteger, &y), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.b == c.a, c.equal);
    }
}
