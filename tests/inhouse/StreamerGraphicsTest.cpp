// Pictures, fonts and the GUI property types of component streams.

#include "inhouse/Streamer.h"

#include "core/Bytes.h"
#include "core/ComponentStreaming.h"
#include "core/Exceptions.h"
#include "inhouse/Graphics.h"
#include "inhouse/GuiSample.h"
#include "inhouse/JpegImage.h"
#include "support/Fixtures.h"

#include <QLabel>
#include <QPainter>
#include <QWidget>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

// A smooth picture, kind to JPEG.
QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
    }
    return image;
}

// A picture no compression likes.
QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245 + 12345;
            image.setPixel(x, y, QRgb(seed >> 8) | 0xFF000000u);
        }
    }
    return image;
}

double meanDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

QByteArray jpegBytes(const QImage& image, int quality = 90)
{
    TStreamer streamer;
    TJPEGImage jpeg;
    jpeg.SetCompressionQuality(quality);
    Variant v;
    streamer.JPEGToVariant(TBitmap(image), jpeg, v);
    return v.ByteArrayData();
}

// A bitmap file header and picture header declaring the size, without pixels.
QByteArray bitmapHeader(qint32 width, qint32 height, quint32 headerSize = 40)
{
    QByteArray bytes;
    ByteWriter w(bytes);
    w.Bytes("BM");
    w.U32(14 + headerSize);
    w.U32(0);
    w.U32(14 + headerSize);
    w.U32(headerSize);
    w.I32(width);
    w.I32(height);
    w.U16(1);
    w.U16(24);
    w.Fill('\0', headerSize - 16);
    return bytes;
}

// The JPEG with the size in its frame header replaced.
QByteArray withJpegSize(QByteArray jpeg, quint16 width, quint16 height)
{
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    EXPECT_GT(sof, 0);
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

class StreamerPictures : public ::testing::Test {
protected:
    TStreamer streamer;
};

} // namespace

TEST_F(StreamerPictures, BitmapsRoundTripAsBitmapFiles)
{
    const QImage cases[] = {gradient(7, 5), noise(64, 3), QImage(1, 1, QImage::Format_RGB32)};
    for (const QImage& image : cases) {
        SCOPED_TRACE(::testing::Message() << image.width() << "x" << image.height());
        Variant v;
        streamer.BMPToVariant(TBitmap(image), v);
        ASSERT_EQ(v.VType(), varArray | varByte);
        EXPECT_TRUE(v.ByteArrayData().startsWith("BM"));
        TBitmap back(noise(2, 2));
        streamer.VariantToBMP(v, back);
        EXPECT_EQ(back.Image().convertToFormat(QImage::Format_RGB32), image.convertToFormat(QImage::Format_RGB32));
    }

    Variant empty;
    streamer.BMPToVariant(TBitmap(), empty);
    EXPECT_EQ(empty.ByteArrayData().size(), 0);
    TBitmap cleared(noise(2, 2));
    streamer.VariantToBMP(empty, cleared);
    EXPECT_TRUE(cleared.Empty());
}

TEST_F(StreamerPictures, JpegTakesOverTheBitmapAndCompressesWithItsOwnQuality)
{
    const QImage picture = gradient(64, 48);
    TJPEGImage jpeg;
    streamer.VariantToJPEG(Variant::FromBytes(jpegBytes(noise(8, 8))), jpeg); // holds another picture
    Variant v;
    streamer.JPEGToVariant(TBitmap(picture), jpeg, v);
    EXPECT_EQ(jpeg.Width(), 64) << "the JPEG object now holds the bitmap's picture";
    const QByteArray bytes = v.ByteArrayData();
    EXPECT_TRUE(bytes.startsWith("\xFF\xD8\xFF")) << "JPEG file bytes";

    TJPEGImage back;
    streamer.VariantToJPEG(v, back);
    ASSERT_EQ(back.Width(), 64);
    ASSERT_EQ(back.Height(), 48);
    EXPECT_LT(meanDifference(back.Image(), picture), 3.0);

    // A loaded JPEG saves the bytes it was loaded from.
    TMemoryStream out;
    back.SaveToStream(out);
    EXPECT_EQ(out.Bytes(), bytes);

    // The object's quality decides the size.
    const QImage busy = noise(64, 64);
    EXPECT_LT(jpegBytes(busy, 10).size() * 2, jpegBytes(busy, 95).size());
    EXPECT_THROW(jpeg.SetCompressionQuality(0), EInvalidOperation);
    EXPECT_THROW(jpeg.SetCompressionQuality(101), EInvalidOperation);

    // Grey pictures stay grey.
    TJPEGImage grey;
    streamer.VariantToJPEG(
        Variant::FromBytes(jpegBytes(gradient(16, 16).convertToFormat(QImage::Format_Grayscale8))), grey);
    EXPECT_EQ(grey.Image().format(), QImage::Format_Grayscale8);
}

TEST_F(StreamerPictures, BytesThatAreNotAPictureOfTheirKindAreRefused)
{
    const QByteArray jpeg = jpegBytes(gradient(32, 32));
    const QByteArray bigJpeg = jpegBytes(noise(128, 128));
    Variant bmpVariant;
    streamer.BMPToVariant(TBitmap(gradient(32, 32)), bmpVariant);
    const QByteArray bmp = bmpVariant.ByteArrayData();

    struct Case {
        const char* name;
        bool asJpeg;
        QByteArray bytes;
        const char* message;
    };
    const Case cases[] = {
        {"a program as a bitmap", false, QByteArray("MZ\x90\0\x03\0\0\0", 8), "Bitmap image is not valid"},
        {"a JPEG as a bitmap", false, jpeg, "Bitmap image is not valid"},
        {"a bitmap header cut short", false, bmp.left(20), "Bitmap image is not valid"},
        {"a bitmap without its pixels", false, bmp.left(bmp.size() / 2), "Bitmap image is not valid"},
        {"a bitmap of width 0", false, bitmapHeader(0, 10), "Bitmap image is not valid"},
        {"a bitmap header of an unknown size", false, bitmapHeader(10, 10, 20), "Bitmap image is not valid"},
        {"a bitmap of 100000 x 100000", false, bitmapHeader(100000, 100000),
            "Bitmap image is too large: 100000 x 100000 pixels, more than 256 MiB of pixels"},
        {"a bitmap just above the limit, stored top-down", false, bitmapHeader(8193, -8192),
            "Bitmap image is too large: 8193 x 8192 pixels, more than 256 MiB of pixels"},
        {"a program as a JPEG", true, QByteArray("MZ\x90\0", 4),
            "JPEG image is not valid: Not a JPEG file: starts with 0x4d 0x5a"},
        {"a bitmap as a JPEG", true, bmp, "JPEG image is not valid: Not a JPEG file: starts with 0x42 0x4d"},
        {"a JPEG cut inside its pixels", true, bigJpeg.left(bigJpeg.size() / 2),
            "JPEG image is not valid: Premature end of JPEG file"},
        {"a JPEG of 9000 x 9000", true, withJpegSize(jpeg, 9000, 9000),
            "JPEG image is too large: 9000 x 9000 pixels, more than 256 MiB of pixels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage before = noise(3, 3);
        TBitmap bitmap(before);
        TJPEGImage picture;
        picture.Assign(bitmap);
        try {
            if (c.asJpeg)
                streamer.VariantToJPEG(Variant::FromBytes(c.bytes), picture);
            else
                streamer.VariantToBMP(Variant::FromBytes(c.bytes), bitmap);
            ADD_FAILURE() << "no error";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(c.message));
        }
        EXPECT_EQ(bitmap.Image(), before) << "the picture is kept";
        EXPECT_EQ(picture.Image(), before);
    }
}

// ---- Fonts -----------------------------------------------------------------

namespace {

// A stream that takes only Limit bytes.
class FullStream : public TMemoryStream {
public:
    explicit FullStream(qint64 limit)
        : limit_(limit)
    {
    }
    qint64 Write(const void* buffer, qint64 count) override
    {
        return TMemoryStream::Write(buffer, std::max<qint64>(0, std::min(count, limit_ - Position())));
    }

private:
    qint64 limit_;
};

TFont tahomaStatus()
{
    TFont font;
    font.Font = QFont(QStringLiteral("Tahoma"));
    font.Font.setPixelSize(37);
    font.Font.setWeight(QFont::Bold);
    font.Font.setItalic(true);
    font.Font.setUnderline(true);
    font.Font.setStrikeOut(true);
    font.Color = clBlue;
    font.Charset = THAI_CHARSET;
    return font;
}

} // namespace

TEST_F(StreamerPictures, FontRecordAsDocumented)
{
    TMemoryStream s;
    streamer.FontToStream(s, tahomaStatus());
    QByteArray face = QByteArray("T\0a\0h\0o\0m\0a\0", 12);
    face.append(64 - face.size(), '\0');
    const QByteArray expected
        = Hex("5C000000 0000FF00 DBFFFFFF 00000000 00000000 00000000 BC020000 01 01 01 DE 00 00 00 00") + face;
    EXPECT_EQ(ToHex(s.Bytes()), ToHex(expected));
    EXPECT_EQ(s.Bytes().size(), 100);
}

TEST_F(StreamerPictures, FontsRoundTripThroughTheRecord)
{
    struct Case {
        const char* name;
        std::function<void(TFont&)> set;
    };
    const Case cases[] = {
        {"bold italic Tahoma, Thai, blue", [](TFont& f) { f = tahomaStatus(); }},
        {"plain",
            [](TFont& f) {
                f.Font = QFont(QStringLiteral("Arial"));
                f.Font.setPixelSize(11);
                f.Color = clWindowText;
            }},
        {"light weight, fixed pitch, modern family",
            [](TFont& f) {
                f.Font = QFont(QStringLiteral("Courier New"));
                f.Font.setPixelSize(13);
                f.Font.setWeight(QFont::Light);
                f.Font.setFixedPitch(true);
                f.Font.setStyleHint(QFont::TypeWriter);
            }},
        {"a Thai face name",
            [](TFont& f) {
                f.Font = QFont(U("ฟอนต์ไทย"));
                f.Font.setPixelSize(20);
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFont original;
        c.set(original);
        TMemoryStream s;
        streamer.FontToStream(s, original);
        s.SetPosition(0);
        TFont read;
        read.Font = QFont(QStringLiteral("Other"));
        read.Font.setPointSize(30);
        streamer.StreamToFont(s, read);
        EXPECT_EQ(s.Position(), 100);
        EXPECT_EQ(read.Font.family(), original.Font.family());
        EXPECT_EQ(read.Font.pixelSize(), original.Font.pixelSize());
        EXPECT_EQ(read.Font.weight(), original.Font.weight());
        EXPECT_EQ(read.Font.italic(), original.Font.italic());
        EXPECT_EQ(read.Font.underline(), original.Font.underline());
        EXPECT_EQ(read.Font.strikeOut(), original.Font.strikeOut());
        EXPECT_EQ(read.Font.fixedPitch(), original.Font.fixedPitch());
        EXPECT_EQ(read.Charset, original.Charset);
        EXPECT_EQ(read.Color, original.Color);
    }
}

TEST_F(StreamerPictures, FontHeightsAndFaceNames)
{
    TFont points;
    points.Font = QFont(QStringLiteral("Tahoma"), 8);
    TFont longName;
    longName.Font = QFont(QString(40, u'F'));
    longName.Font.setPixelSize(9);
    TFont pairAtTheCut;
    pairAtTheCut.Font = QFont(QString(30, u'F') + QString::fromUcs4(U"\U0001F600"));
    pairAtTheCut.Font.setPixelSize(9);
    // Found by fuzzing: a face ending in a lone surrogate lost it on every
    // write, so the record changed each time it went round.
    TFont loneAtTheEnd;
    loneAtTheEnd.Font = QFont(QStringLiteral("F") + QChar(0xD8D8));
    loneAtTheEnd.Font.setPixelSize(9);

    struct Case {
        const char* name;
        const TFont& font;
        qint32 height;
        QString face;
    };
    const Case cases[] = {
        {"8 points at 96 dpi", points, -11, QStringLiteral("Tahoma")},
        {"a face name of 40 units keeps 31", longName, -9, QString(31, u'F')},
        {"a surrogate pair is not cut in half", pairAtTheCut, -9, QString(30, u'F')},
        {"a lone surrogate at the end stays", loneAtTheEnd, -9, QStringLiteral("F") + QChar(0xD8D8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryStream s;
        streamer.FontToStream(s, c.font);
        ByteReader r(s.Bytes());
        r.Skip(8);
        EXPECT_EQ(r.I32(), c.height);
        r.Seek(36);
        QString face;
        for (quint16 unit = r.U16(); unit != 0; unit = r.U16())
            face += QChar(unit);
        EXPECT_EQ(face, c.face);
        EXPECT_EQ(s.Bytes().at(99), '\0') << "always NUL-terminated";
    }
}

TEST_F(StreamerPictures, FontRecordsThatAreAbsentOrCutLeaveTheFontAlone)
{
    TMemoryStream full;
    streamer.FontToStream(full, tahomaStatus());

    struct Case {
        const char* name;
        QByteArray bytes;
        bool error;
        qint64 consumed;
    };
    const Case cases[] = {
        {"size 0: no font follows", Hex("00000000") + QByteArray(96, 'x'), false, 4},
        {"size 60: not a font description", Hex("3C000000") + full.Bytes().mid(4), false, 4},
        {"empty stream", QByteArray(), true, 0},
        {"cut inside the size", full.Bytes().left(2), true, 2},
        {"cut after the size", full.Bytes().left(4), true, 4},
        {"cut inside the colour", full.Bytes().left(6), true, 6},
        {"cut inside the face name", full.Bytes().left(80), true, 80},
        {"one byte short", full.Bytes().left(99), true, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryStream s(c.bytes);
        TFont font;
        font.Font = QFont(QStringLiteral("Arial"));
        font.Font.setPixelSize(12);
        font.Color = clBlack;
        const TFont before = font;
        if (c.error) {
            try {
                streamer.StreamToFont(s, font);
                ADD_FAILURE() << "no error";
            } catch (const EReadError& e) {
                EXPECT_EQ(e.Message(), QStringLiteral("Stream read error"));
            }
        } else {
            streamer.StreamToFont(s, font);
        }
        EXPECT_EQ(s.Position(), c.consumed);
        EXPECT_EQ(font.Font, before.Font);
        EXPECT_EQ(font.Color, before.Color);
        EXPECT_EQ(font.Charset, before.Charset);
    }

    for (qint64 room : {0, 4, 50, 99}) {
        SCOPED_TRACE(room);
        FullStream s(room);
        try {
            streamer.FontToStream(s, tahomaStatus());
            ADD_FAILURE() << "no error";
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Stream write error"));
        }
    }
}

TEST_F(StreamerPictures, FontDescriptionsFromOtherWriters)
{
    // Heights and weights another program may write: a positive cell height,
    // no height at all, weight 0 ("don't care").
    const auto record = [](qint32 height, qint32 weight) {
        QByteArray bytes;
        ByteWriter w(bytes);
        w.I32(92);
        w.I32(0x00112233);
        w.I32(height);
        w.Fill('\0', 12);
        w.I32(weight);
        w.Fill('\0', 8);
        for (char c : QByteArray("Tahoma"))
            w.U16(quint16(c));
        w.Fill('\0', 64 - 12);
        return bytes;
    };
    TFont font;
    TMemoryStream a(record(15, 0));
    streamer.StreamToFont(a, font);
    EXPECT_EQ(font.Font.pixelSize(), 15);
    EXPECT_EQ(font.Font.weight(), QFont::Normal);
    EXPECT_EQ(font.Color, 0x00112233);
    EXPECT_EQ(ColorToQColor(font.Color), QColor(0x33, 0x22, 0x11));

    const int defaultPointSize = QFont().pointSize();
    TMemoryStream b(record(0, 900));
    streamer.StreamToFont(b, font);
    EXPECT_EQ(font.Font.pointSize(), defaultPointSize);
    EXPECT_EQ(font.Font.weight(), QFont::Black);
}

// ---- GUI property types in component streams ----------------------------------

TEST_F(StreamerPictures, FontsColoursAndPalettesInComponentStreams)
{
    RegisterClass<TGuiSample>();
    TGuiSample original;
    original.SetName(QStringLiteral("smpGui"));
    original.Font = QFont(QStringLiteral("Tahoma"));
    original.Font.setPixelSize(37);
    original.Font.setBold(true);
    original.Color = QColor(255, 0, 0, 128);
    original.Palette.setColor(QPalette::WindowText, Qt::blue);
    original.Palette.setColor(QPalette::Disabled, QPalette::Base, Qt::red);

    for (bool viaText : {false, true}) {
        SCOPED_TRACE(viaText ? "text" : "binary");
        Variant v = streamer.ComponentToVariant(original);
        if (viaText)
            v = Variant::FromBytes(ObjectTextToBinary(streamer.ComponentToString(original)));
        const auto copy = streamer.VariantToComponent(v);
        const auto* sample = qobject_cast<TGuiSample*>(copy.get());
        ASSERT_NE(sample, nullptr);
        EXPECT_EQ(sample->Font, original.Font);
        EXPECT_EQ(sample->Color, original.Color);
        for (int g = 0; g < QPalette::NColorGroups; ++g) {
            for (int r = 0; r < QPalette::NColorRoles; ++r) {
                const auto group = QPalette::ColorGroup(g);
                const auto role = QPalette::ColorRole(r);
                SCOPED_TRACE(::testing::Message() << g << "/" << r);
                EXPECT_EQ(sample->Palette.isBrushSet(group, role), original.Palette.isBrushSet(group, role));
                if (original.Palette.isBrushSet(group, role)) {
                    EXPECT_EQ(sample->Palette.color(group, role), original.Palette.color(group, role));
                }
            }
        }
    }
    const QString text = streamer.ComponentToString(original);
    EXPECT_TRUE(text.contains(QStringLiteral("Color = '#80ff0000'"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("(Disabled Base '#ffff0000')"))) << text.toStdString();

    const QString head = QStringLiteral("object smpGui: velkaro::testing::TGuiSample\n");
    for (const char* bad : {"Color = 'no colour'", "Color = 5", "Font = 'a,b,c'", "Font = ''",
             "Palette = ((Active NoSuchRole '#ff000000'))", "Palette = ((Active WindowText))"}) {
        SCOPED_TRACE(bad);
        try {
            streamer.VariantToComponent(
                Variant::FromBytes(ObjectTextToBinary(head + QString::fromLatin1(bad) + QStringLiteral("\nend"))));
            ADD_FAILURE() << "no error";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Invalid property value"));
        }
    }
    UnRegisterClass(TGuiSample::staticMetaObject);
}

TEST_F(StreamerPictures, WidgetsAreCreatedOnTheirOwnerWidget)
{
    RegisterClass<QWidget>();
    RegisterClass<QLabel>();
    QWidget window;
    window.setObjectName(QStringLiteral("frmMain"));
    window.setWindowTitle(QStringLiteral("Velkaro Updater"));
    window.resize(825, 113);
    auto* label = new QLabel(&window);
    label->setObjectName(QStringLiteral("lbStatus"));
    label->setGeometry(8, 32, 809, 45);
    label->setText(U("กำลังตรวจสอบเวอร์ชั่น"));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(37);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(palette);

    const auto copy = streamer.VariantToComponent(streamer.ComponentToVariant(window));
    auto* copyWindow = qobject_cast<QWidget*>(copy.get());
    ASSERT_NE(copyWindow, nullptr);
    EXPECT_EQ(copyWindow->windowTitle(), window.windowTitle());
    EXPECT_EQ(copyWindow->size(), window.size());
    auto* copyLabel = copyWindow->findChild<QLabel*>(QStringLiteral("lbStatus"));
    ASSERT_NE(copyLabel, nullptr);
    EXPECT_EQ(copyLabel->parentWidget(), copyWindow);
    EXPECT_EQ(copyLabel->geometry(), label->geometry());
    EXPECT_EQ(copyLabel->text(), label->text());
    EXPECT_EQ(copyLabel->alignment(), label->alignment());
    EXPECT_EQ(copyLabel->font(), label->font());
    EXPECT_EQ(copyLabel->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_FALSE(copyLabel->isHidden()) << "shown with its window";

    // A widget cannot be owned by a component that is no widget.
    RegisterClass<TComponent>();
    try {
        BinaryToComponent(ObjectTextToBinary(QStringLiteral("object x: velkaro::TComponent object l: QLabel end end")));
        ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid stream format"));
    }
    UnRegisterClass(TComponent::staticMetaObject);
    UnRegisterClass(QLabel::staticMetaObject);
    UnRegisterClass(QWidget::staticMetaObject);
}
