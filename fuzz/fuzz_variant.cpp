// Values and arrays as a peer can send them: any type code with any bits,
// any bounds with any bytes. Every conversion, store and array check either
// works or raises EVariantError; nothing else may happen, and nothing is
// allocated beyond the bytes given.
#include "core/Bytes.h"
#include "core/Exceptions.h"
#include "core/Variant.h"

#include <QByteArray>

#include <tuple>

using namespace velkaro;

namespace {

using Storage = std::tuple<QString, Variant, DispatchRef, InterfaceRef, qint16, qint32, float, double, qint64, qint8,
    quint8, quint16, quint32, quint64>;

template <class F> void tolerate(F&& f)
{
    try {
        f();
    } catch (const EVariantError&) {
    }
}

Variant valueFrom(ByteReader& in)
{
    const VarType type = in.U16();
    const qint64 bits = in.I64();
    Variant v;
    tolerate([&] { v = Variant::Typed(type, bits); });
    tolerate([&] { v = Variant::TagOnly(type); });
    if (type == varOleStr)
        v = Variant(QString::number(double(BitsDouble(quint64(bits)))));
    return v;
}

void convert(const Variant& v, VarType to)
{
    tolerate([&] { v.ToString(); });
    tolerate([&] { v.ToInt64(); });
    tolerate([&] { v.ToInt(); });
    tolerate([&] { v.ToDouble(); });
    tolerate([&] { v.ToBool(); });
    tolerate([&] { v.ConvertTo(to).ToString(); });
    Storage storage;
    tolerate([&] {
        Variant ref = VisitRefStorage(to, [&]<class T>() {
            if constexpr (std::is_same_v<T, NoStorage>)
                return Variant::ByRef(to, static_cast<NoStorage*>(nullptr));
            else
                return Variant::ByRef(to, &std::get<T>(storage));
        });
        ref.StoreThroughRef(v);
        ref.Deref().ToString();
    });
}

void array(ByteReader& in)
{
    const VarType type = in.U16();
    const int dims = in.U8() % (MaxArrayDims + 2);
    std::vector<ArrayBound> bounds;
    for (int i = 0; i < dims; ++i) {
        const qint32 low = in.I32();
        bounds.push_back({low, in.I32()});
    }
    tolerate([&] { SafeArray::ElementCountOf(bounds); });
    tolerate([&] {
        const SafeArray a = SafeArray::FromRaw(type, bounds, in.Rest().toByteArray());
        if (a.ElementCount() > 0)
            Variant(a.GetElement(a.ElementCount() - 1)).ToString();
    });
    tolerate([&] {
        SafeArrayBuilder builder(type, bounds);
        for (int i = 0; i < 4 && !builder.IsComplete(); ++i)
            builder.Append(Variant(i));
        builder.Finish();
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    ByteReader in(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    try {
        if (in.U8() & 1) {
            array(in);
        } else {
            while (!in.AtEnd()) {
                const Variant v = valueFrom(in);
                convert(v, VarType(in.U8() % 24));
            }
        }
    } catch (const EByteReadError&) {
    }
    return 0;
}
