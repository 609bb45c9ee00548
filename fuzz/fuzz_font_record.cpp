// The font record: any bytes either give a font or raise the stream's read
// error; nothing else may happen. A font that was read writes a record that
// reads back to the same record.
#include "core/Exceptions.h"
#include "core/Streams.h"
#include "inhouse/Graphics.h"
#include "inhouse/Streamer.h"

#include <QGuiApplication>

#include <cstdlib>

using namespace velkaro;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv); // fonts want a GUI application
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    static TStreamer streamer;
    TMemoryStream in(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    TFont font;
    try {
        streamer.StreamToFont(in, font);
    } catch (const EReadError&) {
        return 0;
    }
    TMemoryStream first;
    streamer.FontToStream(first, font);
    first.SetPosition(0);
    TFont again;
    streamer.StreamToFont(first, again);
    TMemoryStream second;
    streamer.FontToStream(second, again);
    if (first.Bytes() != second.Bytes() || first.Bytes().size() != 100)
        std::abort();
    return 0;
}
