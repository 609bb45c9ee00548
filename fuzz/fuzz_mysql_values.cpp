// MySQL row values: a column definition and the settings drawn from the
// first bytes, the rest is the value. Any column either makes a descriptor or
// raises, any value decodes or raises one of the error classes; the
// sanitizers catch every read past the value.
#include "core/Exceptions.h"
#include "mysql/MySQLFieldValue.h"

#include <QByteArray>

#include <memory>

namespace {

constexpr size_t HeadSize = 8;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    using namespace velkaro;
    if (size < HeadSize)
        return 0;
    TMySqlFieldInfo info;
    info.Name = "f";
    if (data[0] & 1)
        info.Table = info.OrgTable = "t";
    info.Type = data[1];
    info.Length = quint32(data[2]) | quint32(data[3]) << 8 | quint32(data[4] & 0x0F) << 16;
    info.Flags = quint32(data[5]) | quint32(data[6]) << 8;
    info.CharsetNr = data[0] & 2 ? BinaryCharsetNr : 33;
    info.Scale = data[4] >> 4;
    const quint8 o = data[7];
    TMySQLFieldOptions options;
    options.UseUnicode = o & 1;
    options.OptimizedBigint = o & 2;
    options.NullForZeroDate = o & 4;
    options.NullForZeroDateValue = o & 8;
    options.EnableBCD = o & 16;
    options.EnableFMTBCD = o & 32;
    options.BinaryAsString = o & 64;
    options.FieldsAsString = o & 128;
    options.AnsiCodePage = 874;

    // The value in a block of its own, exactly as long as it is.
    const size_t n = size - HeadSize;
    std::unique_ptr<char[]> value(new char[n]);
    std::copy(data + HeadSize, data + size, value.get());
    try {
        const TMySQLFieldDesc desc = MakeFieldDesc(info, 1, options);
        DecodeValue(desc, QByteArrayView(value.get(), qsizetype(n)), data[0] & 4);
    } catch (const EConvertError&) {
    } catch (const EDatabaseError&) {
    }
    return 0;
}
