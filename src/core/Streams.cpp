#include "core/Streams.h"

#include "core/Exceptions.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <vector>

namespace velkaro {

// ---- TStream ---------------------------------------------------------------

qint64 TStream::Size()
{
    const qint64 position = Seek(0, SeekOrigin::Current);
    const qint64 size = Seek(0, SeekOrigin::End);
    Seek(position, SeekOrigin::Beginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, qint64 count)
{
    if (count > 0 && Read(buffer, count) != count)
        throw EReadError(QString::fromLatin1(msg::ReadError));
}

void TStream::WriteBuffer(const void* buffer, qint64 count)
{
    if (count > 0 && Write(buffer, count) != count)
        throw EWriteError(QString::fromLatin1(msg::WriteError));
}

qint64 TStream::CopyFrom(TStream& source, qint64 count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr qint64 blockSize = 64 * 1024;
    std::vector<char> buffer(size_t(std::min(count, blockSize)));
    for (qint64 left = count; left > 0;) {
        const qint64 n = std::min(left, blockSize);
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return count;
}

// ---- TMemoryStream ---------------------------------------------------------

TMemoryStream::TMemoryStream(QByteArray bytes)
    : data_(std::move(bytes))
{
    if (data_.size() > MaxSize)
        throw EStreamError(QStringLiteral("Out of memory while expanding memory stream"));
}

qint64 TMemoryStream::Read(void* buffer, qint64 count)
{
    if (position_ < 0 || count <= 0 || position_ >= data_.size())
        return 0;
    const qint64 n = std::min(count, qint64(data_.size()) - position_);
    std::memcpy(buffer, data_.constData() + position_, size_t(n));
    position_ += n;
    return n;
}

qint64 TMemoryStream::Write(const void* buffer, qint64 count)
{
    if (position_ < 0 || count <= 0)
        return 0;
    const qint64 end = position_ + count;
    if (end > data_.size()) {
        // Only a gap before the position needs zeroing; the rest is about to
        // be overwritten.
        const qint64 oldSize = data_.size();
        Grow(end);
        if (position_ > oldSize)
            std::memset(data_.data() + oldSize, 0, size_t(position_ - oldSize));
    }
    std::memcpy(data_.data() + position_, buffer, size_t(count));
    position_ = end;
    return count;
}

qint64 TMemoryStream::Seek(qint64 offset, SeekOrigin origin)
{
    switch (origin) {
    case SeekOrigin::Beginning:
        position_ = offset;
        break;
    case SeekOrigin::Current:
        position_ += offset;
        break;
    case SeekOrigin::End:
        position_ = data_.size() + offset;
        break;
    }
    return position_;
}

void TMemoryStream::Grow(qint64 newSize)
{
    if (newSize < 0 || newSize > MaxSize)
        throw EStreamError(QStringLiteral("Out of memory while expanding memory stream"));
    const qint64 oldSize = data_.size();
    // Growing by small writes must not copy the whole block every time.
    if (newSize > data_.capacity() && oldSize > 0)
        data_.reserve(qsizetype(std::min(MaxSize, std::max(newSize, oldSize + oldSize / 2))));
    data_.resize(qsizetype(newSize));
}

void TMemoryStream::SetSize(qint64 newSize)
{
    const qint64 oldSize = data_.size();
    Grow(newSize);
    if (newSize > oldSize)
        std::memset(data_.data() + oldSize, 0, size_t(newSize - oldSize));
    if (position_ > newSize)
        position_ = newSize;
}

void TMemoryStream::Clear()
{
    data_.clear();
    position_ = 0;
}

// ---- TFileStream -----------------------------------------------------------

QString FullFileName(const QString& fileName)
{
    return QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
}

TFileStream::TFileStream(const QString& fileName, FileOpenMode mode)
    : file_(fileName)
{
    QIODevice::OpenMode openMode = QIODevice::Unbuffered;
    switch (mode) {
    case FileOpenMode::Read:
        openMode |= QIODevice::ReadOnly | QIODevice::ExistingOnly;
        break;
    case FileOpenMode::Write:
        openMode |= QIODevice::WriteOnly | QIODevice::ExistingOnly;
        break;
    case FileOpenMode::ReadWrite:
        openMode |= QIODevice::ReadWrite | QIODevice::ExistingOnly;
        break;
    case FileOpenMode::Create:
        openMode |= QIODevice::ReadWrite | QIODevice::Truncate;
        break;
    }
    if (file_.open(openMode))
        return;
    const QString name = FullFileName(fileName);
    if (mode == FileOpenMode::Create)
        throw EFCreateError(QString::fromLatin1(msg::FCreateError).arg(name, file_.errorString()));
    throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(name, file_.errorString()));
}

qint64 TFileStream::Read(void* buffer, qint64 count)
{
    if (count <= 0 || !file_.isReadable())
        return 0;
    const qint64 n = file_.read(static_cast<char*>(buffer), count);
    return n < 0 ? 0 : n;
}

qint64 TFileStream::Write(const void* buffer, qint64 count)
{
    if (count <= 0 || !file_.isWritable())
        return 0;
    const qint64 n = file_.write(static_cast<const char*>(buffer), count);
    return n < 0 ? 0 : n;
}

qint64 TFileStream::Seek(qint64 offset, SeekOrigin origin)
{
    qint64 target = offset;
    if (origin == SeekOrigin::Current)
        target += file_.pos();
    else if (origin == SeekOrigin::End)
        target += file_.size();
    // A position before the start is refused by the system; the stream stays
    // where it was and says so.
    if (target >= 0)
        file_.seek(target);
    return file_.pos();
}

qint64 TFileStream::Size()
{
    return file_.size();
}

void TFileStream::SetSize(qint64 newSize)
{
    const qint64 position = file_.pos();
    if (!file_.resize(newSize))
        throw EStreamError(file_.errorString());
    file_.seek(std::min(position, newSize));
}

} // namespace velkaro
