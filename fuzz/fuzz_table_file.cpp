// Table files and data packets: any bytes either decode or raise the
// packet error; nothing else may happen.
#include "core/Exceptions.h"
#include "data/DataPacket.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    try {
        velkaro::datapacket::Decode(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    } catch (const velkaro::EDatabaseError&) {
    }
    return 0;
}
