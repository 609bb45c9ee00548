#pragma once
// The data block of the application-server link: an 8-byte header followed by
// the payload, a run of encoded values.
//
//   offset 0  signature  signed 32-bit: bits 8-15 the kind, bits 0-7 the action
//   offset 4  size       signed 32-bit: payload bytes after the header
//   offset 8  payload
//
// In memory a block is one buffer whose first 8 bytes are the header, with a
// read position in the payload; writing appends to the payload. Blocks are
// reference-counted (DataBlockRef), and the block that carried a request is
// often cleared and refilled as its reply. A block belongs to one thread at a
// time: handing it to another thread hands over the reference.

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <span>

namespace velkaro {

// Kinds: signature AND KindMask.
inline constexpr qint32 KindMask = 0xFF00;
inline constexpr qint32 CallSig = 0xDA00;
inline constexpr qint32 ResultSig = 0xDB00;

// Actions: signature AND asMask. A reply carries the action of its request.
inline constexpr qint32 asMask = 0xFF;
inline constexpr qint32 asError = 0x01; // replies only: the payload is the error's text
inline constexpr qint32 asInvoke = 0x02;
inline constexpr qint32 asGetID = 0x03;
inline constexpr qint32 asCreateObject = 0x04;
inline constexpr qint32 asFreeObject = 0x05; // never answered
inline constexpr qint32 asGetServers = 0x10;
inline constexpr qint32 asGetGUID = 0x11; // not served
inline constexpr qint32 asGetAppServers = 0x12;
inline constexpr qint32 asSoapCommand = 0x14; // not served

// The largest payload a size field can announce.
inline constexpr qint64 MaxPayloadSize = 0x7FFFFFFF;

class IDataBlock {
public:
    virtual ~IDataBlock() = default;

    // The header length, 8.
    virtual qint32 GetBytesReserved() const = 0;
    // The whole block as it goes on the wire, the size field set to the
    // payload length. Valid until the block next changes.
    virtual QByteArrayView GetMemory() = 0;
    // The payload length.
    virtual qint64 GetSize() const = 0;
    // Makes the payload Size bytes long; new bytes are zero.
    virtual void SetSize(qint64 size) = 0;
    // The same bytes as GetMemory, shared instead of copied: they stay as
    // they are when the block changes afterwards.
    virtual QByteArray GetStream() = 0;
    virtual qint32 GetSignature() const = 0;
    virtual void SetSignature(qint32 signature) = 0;
    // Empties the payload and rewinds the read position; the signature stays.
    virtual void Clear() = 0;
    // Appends Count bytes to the payload. Raises EInterpreterError when the
    // payload would outgrow MaxPayloadSize.
    virtual void Write(const void* data, qint64 count) = 0;
    // Takes up to Count bytes from the read position and advances it; returns
    // how many it took: fewer, or none, when the payload ends first.
    virtual qint64 Read(void* data, qint64 count) = 0;
    // Fills the block from a buffer holding header and payload, adopting it
    // without a copy; the read position goes to the start of the payload.
    // Raises "Invalid data packet" for a buffer shorter than the header and,
    // with CheckLength, for a size field that differs from the payload length.
    virtual void InitData(QByteArray block, bool checkLength) = 0;

    // Readers that take bytes without copying them:
    // the payload from the read position on (valid until the block changes),
    virtual QByteArrayView Unread() const = 0;
    // moving the read position on by Count bytes, at most to the end,
    virtual void Skip(qint64 count) = 0;
    // and handing over the unread rest of the payload: its bytes are not
    // copied unless someone else shares the buffer. The block keeps its
    // signature and is left with an empty payload.
    virtual QByteArray TakeUnread() = 0;

    // Receivers that read straight into the payload: room for up to Count
    // more bytes at its end, and then how many of them arrived. The room
    // grows with what has arrived (doubling, from 64 KiB), never with what a
    // peer merely announces; it holds at least one byte when Count > 0.
    // Any other call on the block between the two drops the room.
    virtual std::span<char> ReserveTail(qint64 count) = 0;
    virtual void CommitTail(qint64 count) = 0;

    // Write for a run of bytes.
    void WriteBytes(QByteArrayView bytes) { Write(bytes.data(), bytes.size()); }
};

using DataBlockRef = std::shared_ptr<IDataBlock>;

class TDataBlock final : public IDataBlock {
public:
    TDataBlock();
    // A new, empty block with this signature.
    static DataBlockRef Create(qint32 signature = 0);
    // A block adopting received header-and-payload bytes (InitData).
    static DataBlockRef FromBytes(QByteArray block, bool checkLength = true);

    qint32 GetBytesReserved() const override { return HeaderSize; }
    QByteArrayView GetMemory() override;
    qint64 GetSize() const override;
    void SetSize(qint64 size) override;
    QByteArray GetStream() override;
    qint32 GetSignature() const override;
    void SetSignature(qint32 signature) override;
    void Clear() override;
    void Write(const void* data, qint64 count) override;
    qint64 Read(void* data, qint64 count) override;
    void InitData(QByteArray block, bool checkLength) override;
    QByteArrayView Unread() const override;
    void Skip(qint64 count) override;
    QByteArray TakeUnread() override;
    std::span<char> ReserveTail(qint64 count) override;
    void CommitTail(qint64 count) override;

    static constexpr qint32 HeaderSize = 8;

private:
    void dropRoom();
    void storeSize();
    qint64 end() const { return buffer_.size() - room_; }

    QByteArray buffer_; // header and payload, then the room of ReserveTail
    qint64 readPos_ = HeaderSize;
    qint64 room_ = 0;
};

} // namespace velkaro
