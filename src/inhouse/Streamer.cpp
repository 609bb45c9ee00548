#include "inhouse/Streamer.h"

#include "core/Exceptions.h"
#include "platform/AtomicFile.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace velkaro {

TStreamer* Convert = nullptr;

namespace {

constexpr qint64 MaxBytes = 2147483647;

// The bytes of a one-dimensional byte array of any lower bound, following a
// by-reference variant. The QByteArray shares the array's storage.
QByteArray arrayBytes(const Variant& v)
{
    if (v.IsByRef())
        return v.Deref().ByteArrayData();
    return v.ByteArrayData();
}

// Reads the whole stream from its start straight into the memory of a new
// byte array: the only copy the data goes through.
Variant readWholeStream(TStream& stream)
{
    const qint64 n = stream.Size();
    if (n > MaxBytes)
        throw EStreamError(
            QStringLiteral("A stream of %1 bytes does not fit a byte array (at most %2 bytes)").arg(n).arg(MaxBytes));
    QByteArray bytes(qsizetype(n), Qt::Uninitialized);
    stream.SetPosition(0);
    stream.ReadBuffer(bytes.data(), n);
    return Variant::FromBytes(std::move(bytes));
}

} // namespace

TStreamer::TStreamer(QObject* /*owner*/) { }

Variant TStreamer::FileToVariant(const QString& fileName)
{
    TFileStream file(fileName, FileOpenMode::Read);
    const qint64 n = file.Size();
    if (n > MaxBytes)
        throw EStreamError(QStringLiteral("File \"%1\" is too large: %2 bytes, a byte array holds at most %3")
                               .arg(FullFileName(fileName), QString::number(n), QString::number(MaxBytes)));
    return readWholeStream(file);
}

void TStreamer::VariantToFile(const QString& fileName, const Variant& aVariant)
{
    // Examine the argument first: a wrong one must not cost the old file.
    const QByteArray bytes = arrayBytes(aVariant);

    platform::AtomicFile file(fileName);
    if (!file.Open())
        throw EFCreateError(QString::fromLatin1(msg::FCreateError).arg(FullFileName(fileName), file.ErrorString()));
    if (!file.Write(bytes.constData(), bytes.size()))
        throw EWriteError(QString::fromLatin1(msg::WriteError));
    if (!file.Commit()) {
        if (file.RenameFailed())
            throw EFCreateError(QString::fromLatin1(msg::FCreateError).arg(FullFileName(fileName), file.ErrorString()));
        throw EWriteError(QString::fromLatin1(msg::WriteError));
    }
}

Variant TStreamer::MemoryStreamToOleVariant(TStream& strm)
{
    return readWholeStream(strm);
}

std::unique_ptr<TMemoryStream> TStreamer::OleVariantToMemoryStream(const Variant& ov)
{
    try {
        const QByteArray bytes = arrayBytes(ov);
        auto stream = std::make_unique<TMemoryStream>();
        stream->SetPosition(0);
        stream->WriteBuffer(bytes.constData(), bytes.size());
        return stream;
    } catch (const std::exception&) {
        return nullptr;
    }
}

void TStreamer::OleVariantToStream(const Variant& v, TStream& stream)
{
    const QByteArray bytes = arrayBytes(v);
    stream.SetPosition(0);
    stream.SetSize(bytes.size());
    stream.WriteBuffer(bytes.constData(), bytes.size());
    stream.SetPosition(0);
}

void TStreamer::StreamToOleVariant(TStream& stream, Variant& v)
{
    v = readWholeStream(stream);
}

void TStreamer::VariantToStream(const Variant& v, TStream& stream)
{
    OleVariantToStream(v, stream);
}

void TStreamer::StreamToVariant(TStream& stream, Variant& v)
{
    v = readWholeStream(stream);
}

void TStreamer::StreamToFile(TStream& stm, platform::FileHandle f)
{
    std::array<char, 8192> buffer;
    const qint64 size = stm.Size();
    for (qint64 position = stm.Position(); position < size;) {
        const qint64 k = std::min<qint64>(size - position, qint64(buffer.size()));
        stm.ReadBuffer(buffer.data(), k);
        if (platform::HandleWriters().Write(f, buffer.data(), k) != k)
            throw EWriteError(QString::fromLatin1(msg::WriteError));
        position += k;
    }
}

bool TStreamer::StreamEqual(TStream& source, TStream& dest)
{
    if (source.Size() != dest.Size())
        return false;
    source.SetPosition(0);
    dest.SetPosition(0);
    std::array<char, 4096> a;
    std::array<char, 4096> b;
    for (;;) {
        const qint64 c = source.Read(a.data(), qint64(a.size()));
        const qint64 d = dest.Read(b.data(), qint64(b.size()));
        if (c != d)
            return false;
        if (c <= 0)
            return true;
        if (std::memcmp(a.data(), b.data(), size_t(c)) != 0)
            return false;
    }
}

void InitializeStreamer()
{
    if (Convert == nullptr)
        Convert = new TStreamer(nullptr);
}

void FinalizeStreamer()
{
    delete Convert;
    Convert = nullptr;
}

} // namespace velkaro
