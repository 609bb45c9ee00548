#include "remote/DataBlock.h"

#include "core/Bytes.h"
#include "remote/RemoteErrors.h"

#include <algorithm>
#include <cstring>

namespace velkaro {

namespace {

// The first step of a growing payload, and the capacity above which a
// cleared block lets its buffer go rather than keep it for the next payload.
constexpr qint64 FirstRoom = 64 * 1024;
constexpr qint64 KeptCapacity = 1024 * 1024;

QByteArray emptyBlock(qint32 signature)
{
    QByteArray header;
    header.reserve(TDataBlock::HeaderSize);
    ByteWriter w(header);
    w.I32(signature);
    w.I32(0);
    return header;
}

void tooLarge()
{
    throw EInterpreterError(QStringLiteral("A data block holds at most %1 payload bytes").arg(MaxPayloadSize));
}

} // namespace

TDataBlock::TDataBlock()
    : buffer_(emptyBlock(0))
{
}

DataBlockRef TDataBlock::Create(qint32 signature)
{
    auto block = std::make_shared<TDataBlock>();
    block->SetSignature(signature);
    return block;
}

DataBlockRef TDataBlock::FromBytes(QByteArray block, bool checkLength)
{
    auto b = std::make_shared<TDataBlock>();
    b->InitData(std::move(block), checkLength);
    return b;
}

void TDataBlock::dropRoom()
{
    if (room_ > 0) {
        buffer_.resize(end());
        room_ = 0;
    }
}

void TDataBlock::storeSize()
{
    dropRoom();
    QByteArray size;
    ByteWriter(size).I32(qint32(buffer_.size() - HeaderSize));
    std::memcpy(buffer_.data() + 4, size.constData(), 4);
}

QByteArrayView TDataBlock::GetMemory()
{
    storeSize();
    return QByteArrayView(buffer_);
}

QByteArray TDataBlock::GetStream()
{
    storeSize();
    return buffer_;
}

qint64 TDataBlock::GetSize() const
{
    return end() - HeaderSize;
}

void TDataBlock::SetSize(qint64 size)
{
    dropRoom();
    if (size < 0 || size > MaxPayloadSize)
        tooLarge();
    const qint64 old = buffer_.size();
    buffer_.resize(HeaderSize + size);
    if (buffer_.size() > old)
        std::memset(buffer_.data() + old, 0, size_t(buffer_.size() - old));
    readPos_ = std::min(readPos_, qint64(buffer_.size()));
}

qint32 TDataBlock::GetSignature() const
{
    return ByteReader(QByteArrayView(buffer_.constData(), 4)).I32();
}

void TDataBlock::SetSignature(qint32 signature)
{
    dropRoom();
    QByteArray bytes;
    ByteWriter(bytes).I32(signature);
    std::memcpy(buffer_.data(), bytes.constData(), 4);
}

void TDataBlock::Clear()
{
    room_ = 0;
    if (buffer_.capacity() > KeptCapacity) {
        buffer_ = emptyBlock(GetSignature());
    } else {
        buffer_.resize(HeaderSize);
    }
    readPos_ = HeaderSize;
}

void TDataBlock::Write(const void* data, qint64 count)
{
    dropRoom();
    if (count <= 0)
        return;
    if (count > MaxPayloadSize - GetSize())
        tooLarge();
    buffer_.append(static_cast<const char*>(data), count);
}

qint64 TDataBlock::Read(void* data, qint64 count)
{
    const qint64 n = std::clamp(end() - readPos_, qint64(0), std::max(count, qint64(0)));
    if (n > 0)
        std::memcpy(data, buffer_.constData() + readPos_, size_t(n));
    readPos_ += n;
    return n;
}

void TDataBlock::InitData(QByteArray block, bool checkLength)
{
    if (block.size() < HeaderSize)
        throw Exception(QString::fromLatin1(msg::InvalidDataPacket));
    if (block.size() - HeaderSize > MaxPayloadSize)
        tooLarge();
    if (checkLength && ByteReader(QByteArrayView(block).sliced(4, 4)).I32() != block.size() - HeaderSize)
        throw Exception(QString::fromLatin1(msg::InvalidDataPacket));
    buffer_ = std::move(block);
    room_ = 0;
    readPos_ = HeaderSize;
}

QByteArrayView TDataBlock::Unread() const
{
    return QByteArrayView(buffer_.constData() + readPos_, end() - readPos_);
}

void TDataBlock::Skip(qint64 count)
{
    readPos_ += std::clamp(count, qint64(0), end() - readPos_);
}

QByteArray TDataBlock::TakeUnread()
{
    dropRoom();
    const qint32 signature = GetSignature();
    QByteArray rest = std::move(buffer_);
    // Removing from the front of a buffer nobody else holds only moves its
    // start: the payload is not copied.
    rest.remove(0, readPos_);
    buffer_ = emptyBlock(signature);
    readPos_ = HeaderSize;
    return rest;
}

std::span<char> TDataBlock::ReserveTail(qint64 count)
{
    dropRoom();
    count = std::min(count, HeaderSize + MaxPayloadSize - buffer_.size());
    if (count <= 0)
        return {};
    const qint64 size = buffer_.size();
    qint64 free = buffer_.capacity() - size;
    if (free <= 0 || !buffer_.isDetached()) {
        const qint64 step = std::min(count, std::max(size, FirstRoom));
        buffer_.reserve(size + step);
        free = step;
    }
    room_ = std::min(count, free);
    buffer_.resize(size + room_);
    return std::span<char>(buffer_.data() + size, size_t(room_));
}

void TDataBlock::CommitTail(qint64 count)
{
    buffer_.resize(end() + std::clamp(count, qint64(0), room_));
    room_ = 0;
}

} // namespace velkaro
