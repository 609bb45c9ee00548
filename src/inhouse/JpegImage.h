#pragma once
// A JPEG picture: the JPEG file bytes it was loaded from, or a picture taken
// over from a bitmap that it compresses (with libjpeg) when it is saved.
//
// Loading decodes the whole picture, so bytes that are not a complete JPEG
// picture are refused at once with EInvalidGraphic "JPEG image is not valid:
// <libjpeg's reason>", and a picture whose header declares more than
// MaxPicturePixels pixels is refused before decoding. A picture that fails to
// load keeps what it held. No bytes read as an empty picture, and an empty
// picture is saved as no bytes.

#include "inhouse/Graphics.h"

#include <QByteArray>
#include <QImage>

namespace velkaro {

class TStream;

class TJPEGImage {
public:
    // 1 (smallest file) to 100 (best picture); 90 by default. Raises
    // EInvalidOperation for a value outside that range.
    int CompressionQuality() const { return quality_; }
    void SetCompressionQuality(int quality);

    // Takes over the bitmap's picture; the loaded bytes are dropped, so the
    // next save compresses the picture with the current quality.
    void Assign(const TBitmap& bitmap);

    // Writes the JPEG file bytes: those loaded, or the picture compressed now.
    void SaveToStream(TStream& stream);
    // Reads JPEG file bytes from the stream's position to its end.
    void LoadFromStream(TStream& stream);

    // The decoded picture (RGB, or 8-bit grey for a grey JPEG).
    const QImage& Image() const { return image_; }
    bool Empty() const { return image_.isNull(); }
    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }

private:
    QImage image_;
    QByteArray data_; // the loaded file; empty after Assign
    int quality_ = 90;
};

} // namespace velkaro
