// Component and collection streams: any bytes either read or raise one of the
// system's errors; nothing else may happen. What reads must write back to a
// stream that reads the same again. The first byte picks the reader: the
// binary form as a component, as a collection, or the text form.
#include "core/Collection.h"
#include "core/ComponentStreaming.h"
#include "core/Exceptions.h"
#include "support/StreamSamples.h"

#include <QByteArray>
#include <QString>

#include <cstdlib>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void readComponent(QByteArrayView bytes)
{
    const std::unique_ptr<QObject> component = BinaryToComponent(bytes);
    const QByteArray written = ComponentToBinary(*component);
    const std::unique_ptr<QObject> again = BinaryToComponent(written);
    check(ComponentToBinary(*again) == written);
    const QString text = ObjectBinaryToText(written);
    check(ObjectBinaryToText(ObjectTextToBinary(text)) == text);
}

void readCollection(QByteArrayView bytes)
{
    TCollection items(ItemClassOf<TSampleItem>());
    const qsizetype consumed = BinaryToCollection(bytes, items);
    check(consumed > 0 && consumed <= bytes.size());
    const QByteArray written = CollectionToBinary(items);
    TCollection again(ItemClassOf<TSampleItem>());
    BinaryToCollection(written, again);
    check(CollectionToBinary(again) == written);
}

void readText(QByteArrayView bytes)
{
    const QString text = QString::fromUtf8(bytes);
    const QByteArray binary = ObjectTextToBinary(text);
    const QString normal = ObjectBinaryToText(binary);
    check(ObjectTextToBinary(normal) == binary);
    readComponent(binary);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    RegisterClass<TSample>();
    RegisterClass<TOtherSample>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    try {
        switch (data[0] % 3) {
        case 0:
            readComponent(bytes);
            break;
        case 1:
            readCollection(bytes);
            break;
        default:
            readText(bytes);
            break;
        }
    } catch (const Exception&) {
    }
    return 0;
}
