// Table files: any bytes either decode or raise the packet error; nothing
// else may happen. What decodes is also read field by field, as a table
// shows it.
#include "core/Exceptions.h"
#include "data/DataPacket.h"
#include "data/FieldValue_p.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    using namespace velkaro;
    datapacket::Decoded table;
    try {
        table = datapacket::Decode(
            QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), datapacket::Source::TableFile);
    } catch (const EDatabaseError&) {
        return 0;
    }
    for (const QByteArrayView record : table.records) {
        for (int f = 0; f < table.fieldDefs.size(); ++f) {
            const StoredValue v = datapacket::DecodeValue(table.fieldDefs, record, f);
            fieldvalue::ToText(table.fieldDefs[f], v);
            fieldvalue::ToVariant(table.fieldDefs[f], v);
        }
    }
    return 0;
}
