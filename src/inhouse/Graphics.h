#pragma once
// Colours, fonts and bitmaps as the streaming operations take them: a small
// layer over Qt's QColor, QFont and QImage.
//
// Pictures refuse bytes that are not a picture of their kind (EInvalidGraphic
// with a clear message) and never decode a picture whose header declares
// more than MaxPicturePixels pixels (256 MiB at 4 bytes a pixel); the header
// is checked before anything is decoded. A picture that fails to load keeps
// what it held. An empty picture is written as no bytes, and no bytes read
// as an empty picture.

#include <QFont>
#include <QImage>

namespace velkaro {

class TStream;

// A colour as the font record stores it: 0x00BBGGRR, or a system colour with
// the high byte 0xFF and the colour's index in the low byte.
using TColor = qint32;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWindowText = TColor(0xFF000008);

// The RGB colour of a plain colour value; an invalid QColor for a system colour.
QColor ColorToQColor(TColor color);
// The colour value of an RGB colour (alpha is dropped).
TColor QColorToColor(const QColor& color);

inline constexpr quint8 DEFAULT_CHARSET = 1;
inline constexpr quint8 THAI_CHARSET = 222;

// A font: Qt's font (face, height, weight, style flags, pitch and family)
// with the colour and character set a Windows font carries.
struct TFont {
    QFont Font;
    TColor Color = clWindowText;
    quint8 Charset = DEFAULT_CHARSET;
};

inline constexpr qint64 MaxPicturePixels = 64 * 1024 * 1024;

class TBitmap {
public:
    TBitmap() = default;
    explicit TBitmap(QImage image)
        : image_(std::move(image))
    {
    }

    const QImage& Image() const { return image_; }
    void SetImage(QImage image) { image_ = std::move(image); }
    bool Empty() const { return image_.isNull(); }
    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }

    // Writes the picture as a bitmap file ("BM" header): 24 bits a pixel, or
    // 32 when the picture has an alpha channel. Raises EWriteError on a short
    // write.
    void SaveToStream(TStream& stream) const;
    // Reads a bitmap file from the stream's position to its end. Raises
    // EInvalidGraphic "Bitmap image is not valid" for anything else, or
    // "Bitmap image is too large: ..." before decoding an oversized one.
    void LoadFromStream(TStream& stream);

private:
    QImage image_;
};

// Refuses a declared size above MaxPicturePixels (Kind names the picture
// kind in the message).
void CheckPictureSize(const char* kind, qint64 width, qint64 height);

} // namespace velkaro
