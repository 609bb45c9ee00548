#include "inhouse/Graphics.h"

#include "core/Bytes.h"
#include "core/Exceptions.h"
#include "core/Streams.h"
#include "inhouse/Graphics_p.h"

#include <QBuffer>
#include <QColor>
#include <QImageWriter>

namespace velkaro {

QColor ColorToQColor(TColor color)
{
    const auto value = quint32(color);
    if ((value & 0xFF000000u) != 0)
        return QColor();
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

TColor QColorToColor(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return TColor(quint32(rgb.red()) | (quint32(rgb.green()) << 8) | (quint32(rgb.blue()) << 16));
}

QByteArray ReadToEnd(TStream& stream)
{
    const qint64 n = stream.Size() - stream.Position();
    if (n <= 0)
        return QByteArray();
    if (n > TMemoryStream::MaxSize)
        throw EStreamError(QStringLiteral("A picture of %1 bytes is too large").arg(n));
    QByteArray bytes(qsizetype(n), Qt::Uninitialized);
    stream.ReadBuffer(bytes.data(), n);
    return bytes;
}

void CheckPictureSize(const char* kind, qint64 width, qint64 height)
{
    if (width > 0 && height > 0 && width * height <= MaxPicturePixels)
        return;
    if (width > 0 && height > 0)
        throw EInvalidGraphic(QStringLiteral("%1 image is too large: %2 x %3 pixels, more than 256 MiB of pixels")
                                  .arg(QString::fromLatin1(kind), QString::number(width), QString::number(height)));
    throw EInvalidGraphic(QStringLiteral("%1 image is not valid").arg(QString::fromLatin1(kind)));
}

void TBitmap::SaveToStream(TStream& stream) const
{
    if (image_.isNull())
        return;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "bmp");
    if (!writer.write(image_))
        throw EInvalidGraphic(QStringLiteral("Bitmap image cannot be written: %1").arg(writer.errorString()));
    stream.WriteBuffer(bytes.constData(), bytes.size());
}

void TBitmap::LoadFromStream(TStream& stream)
{
    const QByteArray bytes = ReadToEnd(stream);
    if (bytes.isEmpty()) {
        image_ = QImage();
        return;
    }
    // The file header, then the size from the picture's own header: the
    // small (OS/2) header has 16-bit sizes, the others 32-bit ones, and a
    // negative height means rows stored top-down. Uncompressed rows must all
    // be there: a cut file is not a picture.
    qint64 width = 0;
    qint64 height = 0;
    qint64 needed = 0;
    try {
        ByteReader r(bytes);
        if (r.Bytes(2) != "BM")
            throw EInvalidGraphic(QString::fromLatin1(msg::InvalidBitmap));
        r.Seek(10);
        const quint32 pixelOffset = r.U32();
        const quint32 headerSize = r.U32();
        quint32 bitsPerPixel = 0;
        quint32 compression = 0;
        if (headerSize == 12) {
            width = r.U16();
            height = r.U16();
            r.U16(); // planes
            bitsPerPixel = r.U16();
        } else if (headerSize >= 40) {
            width = r.I32();
            height = r.I32();
            height = height < 0 ? -height : height;
            r.U16(); // planes
            bitsPerPixel = r.U16();
            compression = r.U32();
        } else {
            throw EInvalidGraphic(QString::fromLatin1(msg::InvalidBitmap));
        }
        constexpr quint32 BI_RGB = 0, BI_BITFIELDS = 3;
        if (compression == BI_RGB || compression == BI_BITFIELDS)
            needed = qint64(pixelOffset) + (width * bitsPerPixel + 31) / 32 * 4 * height;
    } catch (const EByteReadError&) {
        throw EInvalidGraphic(QString::fromLatin1(msg::InvalidBitmap));
    }
    if (width <= 0 || height <= 0)
        throw EInvalidGraphic(QString::fromLatin1(msg::InvalidBitmap));
    CheckPictureSize("Bitmap", width, height);
    if (needed > bytes.size())
        throw EInvalidGraphic(QString::fromLatin1(msg::InvalidBitmap));

    QImage image;
    if (!image.loadFromData(bytes, "BMP"))
        throw EInvalidGraphic(QString::fromLatin1(msg::InvalidBitmap));
    image_ = std::move(image);
}

} // namespace velkaro
