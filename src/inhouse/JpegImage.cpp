#include "inhouse/JpegImage.h"

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "inhouse/Graphics_p.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
// jerror.h after jpeglib.h, which it needs.
#include <jerror.h>

namespace velkaro {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return
// (its default ends the program). Ours jumps back to the setjmp in the job
// that made the call. Between a setjmp and the libjpeg calls it guards there
// are only libjpeg's C frames and locals without destructors, so the jump
// skips no C++ clean-up.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool truncated;
};

extern "C" void onJpegError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings are not printed. A file that ends early is only a warning to
// libjpeg (it fills the rest with grey); to us it is not a whole picture.
extern "C" void onJpegMessage(j_common_ptr cinfo, int level)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF && !err->truncated) {
        err->truncated = true;
        (*cinfo->err->format_message)(cinfo, err->message);
    }
}

void installErrorManager(ErrorManager& err, jpeg_error_mgr*& target)
{
    target = jpeg_std_error(&err.pub);
    err.pub.error_exit = onJpegError;
    err.pub.emit_message = onJpegMessage;
    err.message[0] = '\0';
    err.truncated = false;
}

// Enough for the coefficient buffers of the largest picture we decode.
constexpr long MaxJpegMemory = 512L * 1024 * 1024;

struct DecodeJob {
    const unsigned char* data;
    unsigned long size;
    QImage* image;
    bool tooLarge;
    JDIMENSION width;
    JDIMENSION height;
    jpeg_decompress_struct cinfo;
    ErrorManager err;
};

// Returns false with err.message (or tooLarge) set when the bytes are refused.
bool runDecode(DecodeJob& job)
{
    installErrorManager(job.err, job.cinfo.err);
    if (setjmp(job.err.jump) != 0) {
        jpeg_destroy_decompress(&job.cinfo);
        return false;
    }
    jpeg_create_decompress(&job.cinfo);
    job.cinfo.mem->max_memory_to_use = MaxJpegMemory;
    jpeg_mem_src(&job.cinfo, job.data, job.size);
    jpeg_read_header(&job.cinfo, TRUE);

    job.width = job.cinfo.image_width;
    job.height = job.cinfo.image_height;
    if (qint64(job.width) * qint64(job.height) > MaxPicturePixels) {
        job.tooLarge = true;
        jpeg_destroy_decompress(&job.cinfo);
        return false;
    }
    const bool grey = job.cinfo.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = job.cinfo.jpeg_color_space == JCS_CMYK || job.cinfo.jpeg_color_space == JCS_YCCK;
    job.cinfo.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&job.cinfo);

    *job.image = QImage(int(job.cinfo.output_width), int(job.cinfo.output_height),
        grey       ? QImage::Format_Grayscale8
            : cmyk ? QImage::Format_RGB32
                   : QImage::Format_RGB888);
    if (job.image->isNull()) {
        std::strncpy(job.err.message, "Out of memory", JMSG_LENGTH_MAX - 1);
        jpeg_destroy_decompress(&job.cinfo);
        return false;
    }
    while (job.cinfo.output_scanline < job.cinfo.output_height) {
        JSAMPROW row = job.image->scanLine(int(job.cinfo.output_scanline));
        jpeg_read_scanlines(&job.cinfo, &row, 1);
        if (cmyk) {
            // Four bytes a pixel, inverted as Adobe writes them, turned into
            // RGB in place.
            uchar* px = job.image->scanLine(int(job.cinfo.output_scanline) - 1);
            for (JDIMENSION x = 0; x < job.cinfo.output_width; ++x, px += 4) {
                const unsigned k = px[3];
                reinterpret_cast<QRgb*>(px)[0] = qRgb(int(px[0] * k / 255), int(px[1] * k / 255), int(px[2] * k / 255));
            }
        }
    }
    jpeg_finish_decompress(&job.cinfo);
    jpeg_destroy_decompress(&job.cinfo);
    return !job.err.truncated;
}

struct EncodeJob {
    const QImage* image; // Format_RGB888 or Format_Grayscale8
    int quality;
    unsigned char* out;
    unsigned long outSize;
    jpeg_compress_struct cinfo;
    ErrorManager err;
};

bool runEncode(EncodeJob& job)
{
    installErrorManager(job.err, job.cinfo.err);
    if (setjmp(job.err.jump) != 0) {
        jpeg_destroy_compress(&job.cinfo);
        return false;
    }
    jpeg_create_compress(&job.cinfo);
    jpeg_mem_dest(&job.cinfo, &job.out, &job.outSize);
    const bool grey = job.image->format() == QImage::Format_Grayscale8;
    job.cinfo.image_width = JDIMENSION(job.image->width());
    job.cinfo.image_height = JDIMENSION(job.image->height());
    job.cinfo.input_components = grey ? 1 : 3;
    job.cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&job.cinfo);
    jpeg_set_quality(&job.cinfo, job.quality, TRUE);
    jpeg_start_compress(&job.cinfo, TRUE);
    while (job.cinfo.next_scanline < job.cinfo.image_height) {
        // libjpeg only reads the rows it is given.
        JSAMPROW row = const_cast<JSAMPROW>(job.image->constScanLine(int(job.cinfo.next_scanline)));
        jpeg_write_scanlines(&job.cinfo, &row, 1);
    }
    jpeg_finish_compress(&job.cinfo);
    jpeg_destroy_compress(&job.cinfo);
    return true;
}

[[noreturn]] void invalidJpeg(const char* reason)
{
    throw EInvalidGraphic(QStringLiteral("JPEG image is not valid: %1").arg(QString::fromLatin1(reason)));
}

} // namespace

void TJPEGImage::SetCompressionQuality(int quality)
{
    if (quality < 1 || quality > 100)
        throw EInvalidOperation(QStringLiteral("JPEG quality must be between 1 and 100, not %1").arg(quality));
    quality_ = quality;
}

void TJPEGImage::Assign(const TBitmap& bitmap)
{
    image_ = bitmap.Image();
    data_.clear();
}

void TJPEGImage::SaveToStream(TStream& stream)
{
    if (data_.isEmpty() && !image_.isNull()) {
        const QImage source
            = image_.format() == QImage::Format_Grayscale8 ? image_ : image_.convertToFormat(QImage::Format_RGB888);
        EncodeJob job {};
        job.image = &source;
        job.quality = quality_;
        const bool ok = runEncode(job);
        QByteArray bytes;
        if (ok)
            bytes = QByteArray(reinterpret_cast<const char*>(job.out), qsizetype(job.outSize));
        std::free(job.out);
        if (!ok)
            throw EInvalidGraphic(
                QStringLiteral("JPEG image cannot be written: %1").arg(QString::fromLatin1(job.err.message)));
        data_ = bytes;
    }
    stream.WriteBuffer(data_.constData(), data_.size());
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    const QByteArray bytes = ReadToEnd(stream);
    if (bytes.isEmpty()) {
        image_ = QImage();
        data_.clear();
        return;
    }
    QImage image;
    DecodeJob job {};
    job.data = reinterpret_cast<const unsigned char*>(bytes.constData());
    job.size = static_cast<unsigned long>(bytes.size());
    job.image = &image;
    if (!runDecode(job)) {
        if (job.tooLarge)
            CheckPictureSize("JPEG", job.width, job.height);
        invalidJpeg(job.err.message);
    }
    image_ = std::move(image);
    data_ = bytes;
}

} // namespace velkaro
