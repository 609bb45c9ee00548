#include "mysql/MySqlNet.h"

#include "core/AnsiCodec.h"
#include "core/Bytes.h"
#include "mysql/MyError.h"
#include "platform/RegionalSettings.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace velkaro {

namespace {

// A payload buffer grows by at least this much, and at most by what it
// already holds, so a claimed length costs memory only as its bytes come.
constexpr qsizetype MinGrowth = 65536;

quint32 le24(const char* p)
{
    return quint32(quint8(p[0])) | quint32(quint8(p[1])) << 8 | quint32(quint8(p[2])) << 16;
}

void putLe24(char* p, quint32 v)
{
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
    p[2] = char((v >> 16) & 0xFF);
}

} // namespace

QString DecodeText(QByteArrayView bytes, TextCoding coding)
{
    if (coding == TextCoding::Utf8)
        return QString::fromUtf8(bytes);
    return ansi::Decode(bytes, platform::Regional().AnsiCodePage());
}

QByteArray EncodeText(const QString& text, TextCoding coding)
{
    if (coding == TextCoding::Utf8)
        return text.toUtf8();
    return ansi::Encode(text, platform::Regional().AnsiCodePage());
}

TMySqlNet::TMySqlNet()
{
    buf_.resize(BufferLength);
    Clear();
}

TMySqlNet::~TMySqlNet() = default;

void TMySqlNet::SetVio(std::unique_ptr<TCRVio> vio)
{
    if (vio_)
        vio_->Close();
    vio_ = std::move(vio);
}

void TMySqlNet::Close()
{
    Clear();
    inflated_.clear();
    inflatedPos_ = 0;
    if (vio_)
        vio_->Close();
    vio_.reset();
}

void TMySqlNet::SetCompress(bool on)
{
    compress_ = on;
    inflated_.clear();
    inflatedPos_ = 0;
}

// --- writing

void TMySqlNet::NewCommand()
{
    seq_ = 0;
    compSeq_ = 0;
    Clear();
}

void TMySqlNet::Clear()
{
    len_ = NET_HEADER_SIZE;
    pos_ = NET_HEADER_SIZE;
}

void TMySqlNet::ensureCapacity(qsizetype size)
{
    if (buf_.size() < size)
        buf_.resize(std::max(size, std::min<qsizetype>(buf_.size() * 2, size + buf_.size())));
}

void TMySqlNet::stageBytes(const void* data, qsizetype count)
{
    ensureCapacity(len_ + count);
    if (count > 0)
        std::memcpy(buf_.data() + len_, data, count);
    len_ += count;
    pos_ = len_;
}

void TMySqlNet::WriteByte(quint8 value)
{
    stageBytes(&value, 1);
}

void TMySqlNet::WriteBool(bool value)
{
    WriteByte(value ? 1 : 0);
}

void TMySqlNet::WriteInt16(quint16 value)
{
    stageFixed<2>(value);
}

void TMySqlNet::WriteInt24(quint32 value)
{
    stageFixed<3>(value);
}

void TMySqlNet::WriteInt32(quint32 value)
{
    stageFixed<4>(value);
}

void TMySqlNet::WriteInt64(quint64 value)
{
    stageFixed<8>(value);
}

void TMySqlNet::WriteDouble(double value)
{
    stageFixed<8>(DoubleBits(value));
}

void TMySqlNet::WriteBytes(QByteArrayView bytes)
{
    stageBytes(bytes.data(), bytes.size());
}

void TMySqlNet::WriteString(QByteArrayView text)
{
    WriteBytes(text);
    WriteByte(0);
}

void TMySqlNet::WriteFieldLength(quint64 value)
{
    if (value <= 250) {
        WriteByte(quint8(value));
    } else if (value <= 0xFFFF) {
        WriteByte(252);
        WriteInt16(quint16(value));
    } else if (value <= 0xFFFFFF) {
        WriteByte(253);
        WriteInt24(quint32(value));
    } else {
        WriteByte(254);
        WriteInt64(value);
    }
}

void TMySqlNet::Fill(quint8 byte, qsizetype count)
{
    ensureCapacity(len_ + count);
    std::memset(buf_.data() + len_, byte, count);
    len_ += count;
    pos_ = len_;
}

void TMySqlNet::putHeader(char* at, qsizetype payloadLength)
{
    putLe24(at, quint32(payloadLength));
    at[3] = char(seq_++);
}

void TMySqlNet::WriteOrSendBytes(QByteArrayView data)
{
    const qsizetype staged = len_ - NET_HEADER_SIZE;
    qsizetype total = staged + data.size();
    if (total < MaxPacketLength && len_ + data.size() <= BufferLength) {
        WriteBytes(data);
        return;
    }
    if (total < MaxPacketLength) {
        // Fill the buffer, then the rest goes out from the caller's memory.
        const qsizetype head = std::max<qsizetype>(0, BufferLength - len_);
        WriteBytes(data.first(head));
        putHeader(buf_.data(), total);
        sendPacket(QByteArrayView(buf_.constData(), len_), data.sliced(head));
        Clear();
        return;
    }
    // Full packets while at least 0xFFFFFF bytes remain; the first one counts
    // the staged bytes. The remainder, even an empty one, ends the payload.
    qsizetype used = 0;
    bool first = true;
    while (total >= MaxPacketLength) {
        const qsizetype fromData = first ? MaxPacketLength - staged : MaxPacketLength;
        const qsizetype headLength = first ? len_ : NET_HEADER_SIZE;
        putHeader(buf_.data(), MaxPacketLength);
        sendPacket(QByteArrayView(buf_.constData(), headLength), data.sliced(used, fromData));
        used += fromData;
        total -= MaxPacketLength;
        first = false;
    }
    putHeader(buf_.data(), total);
    sendPacket(QByteArrayView(buf_.constData(), NET_HEADER_SIZE), data.sliced(used));
    Clear();
}

void TMySqlNet::Send()
{
    if (len_ <= NET_HEADER_SIZE)
        return;
    putHeader(buf_.data(), len_ - NET_HEADER_SIZE);
    sendPacket(QByteArrayView(buf_.constData(), len_), {});
    Clear();
}

void TMySqlNet::SendEmpty()
{
    char header[NET_HEADER_SIZE];
    putHeader(header, 0);
    sendPacket(QByteArrayView(header, NET_HEADER_SIZE), {});
}

void TMySqlNet::sendPacket(QByteArrayView head, QByteArrayView tail)
{
    if (!compress_) {
        vioWrite(head);
        if (!tail.isEmpty())
            vioWrite(tail);
        return;
    }
    QByteArray whole;
    whole.reserve(head.size() + tail.size());
    whole.append(head);
    whole.append(tail);
    for (qsizetype at = 0; at < whole.size(); at += MaxPacketLength)
        sendCompressed(QByteArrayView(whole).sliced(at, std::min(MaxPacketLength, whole.size() - at)));
    seq_ = compSeq_;
}

void TMySqlNet::sendCompressed(QByteArrayView bytes)
{
    QByteArray packed;
    bool packedOk = false;
    if (bytes.size() > MinCompressLength) {
        uLongf packedLength = uLongf(bytes.size() + bytes.size() / 5 + 12);
        packed.resize(qsizetype(packedLength));
        packedOk = compress(reinterpret_cast<Bytef*>(packed.data()), &packedLength,
                       reinterpret_cast<const Bytef*>(bytes.data()), uLong(bytes.size()))
                == Z_OK
            && qsizetype(packedLength) <= MaxPacketLength;
        packed.resize(qsizetype(packedLength));
    }
    const QByteArrayView body = packedOk ? QByteArrayView(packed) : bytes;
    char header[NET_HEADER_SIZE + COMP_HEADER_SIZE];
    putLe24(header, quint32(body.size()));
    header[3] = char(compSeq_++);
    putLe24(header + 4, packedOk ? quint32(bytes.size()) : 0);
    vioWrite(QByteArrayView(header, sizeof header));
    vioWrite(body);
}

void TMySqlNet::vioWrite(QByteArrayView bytes)
{
    if (!vio_ || vio_->Write(bytes.data(), bytes.size()) != bytes.size())
        lost();
}

void TMySqlNet::lost()
{
    throw MakeMyError(cr::ServerLost, vio_ ? vio_->LastError() : QString());
}

// --- reading

void TMySqlNet::vioRead(char* dest, qsizetype count)
{
    if (!vio_ || vio_->Read(dest, count) != count)
        lost();
}

void TMySqlNet::readWire(char* dest, qsizetype count)
{
    if (!compress_) {
        vioRead(dest, count);
        return;
    }
    while (count > 0) {
        if (inflatedPos_ == inflated_.size())
            readCompressedPacket();
        const qsizetype n = std::min(count, inflated_.size() - inflatedPos_);
        std::memcpy(dest, inflated_.constData() + inflatedPos_, n);
        inflatedPos_ += n;
        dest += n;
        count -= n;
    }
}

void TMySqlNet::readCompressedPacket()
{
    char header[NET_HEADER_SIZE + COMP_HEADER_SIZE];
    vioRead(header, sizeof header);
    const quint8 received = quint8(header[3]);
    if (received != compSeq_)
        throw EMyError(er::NetPacketsOutOfOrder,
            QStringLiteral("ReceiveCompHeader: Net packets out of order: received[%1], expected[%2]")
                .arg(received)
                .arg(compSeq_));
    seq_ = ++compSeq_;
    const qsizetype packedLength = le24(header);
    const qsizetype plainLength = le24(header + 4);

    QByteArray packed;
    for (qsizetype got = 0; got < packedLength;) {
        const qsizetype chunk = std::min(packedLength - got, std::max(MinGrowth, got));
        packed.resize(got + chunk);
        vioRead(packed.data() + got, chunk);
        got += chunk;
    }
    inflatedPos_ = 0;
    if (plainLength == 0) {
        inflated_ = packed;
        return;
    }
    // Inflate as the output grows: the announced length is only a claim.
    inflated_.clear();
    z_stream z {};
    if (inflateInit(&z) != Z_OK)
        throw EMyError(er::NetUncompressError, QString());
    z.next_in = reinterpret_cast<Bytef*>(packed.data());
    z.avail_in = uInt(packed.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        const qsizetype have = inflated_.size();
        const qsizetype room = std::min(plainLength + 1 - have, std::max(MinGrowth, have));
        inflated_.resize(have + room);
        z.next_out = reinterpret_cast<Bytef*>(inflated_.data() + have);
        z.avail_out = uInt(room);
        rc = inflate(&z, Z_NO_FLUSH);
        inflated_.resize(have + room - qsizetype(z.avail_out));
        if (inflated_.size() > plainLength || (rc == Z_BUF_ERROR && z.avail_in == 0))
            break;
        if (rc == Z_BUF_ERROR)
            rc = Z_OK;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END || inflated_.size() != plainLength) {
        inflated_.clear();
        throw EMyError(er::NetUncompressError, QString());
    }
}

qsizetype TMySqlNet::receiveHeader()
{
    char header[NET_HEADER_SIZE];
    readWire(header, NET_HEADER_SIZE);
    const quint8 received = quint8(header[3]);
    if (!compress_) {
        if (received != seq_)
            throw EMyError(er::NetPacketsOutOfOrder,
                QStringLiteral("ReceiveHeader: Net packets out of order: received[%1], expected[%2]")
                    .arg(received)
                    .arg(seq_));
        compSeq_ = ++seq_;
    }
    return le24(header);
}

void TMySqlNet::receivePayload(qsizetype count)
{
    if (qint64(len_) + count > qint64(maxPayload_))
        throw MakeMyError(cr::NetPacketTooLarge);
    for (qsizetype got = 0; got < count;) {
        const qsizetype chunk = std::min(count - got, std::max(MinGrowth, len_));
        ensureCapacity(len_ + chunk);
        readWire(buf_.data() + len_, chunk);
        len_ += chunk;
        got += chunk;
    }
}

void TMySqlNet::Receive()
{
    len_ = 0;
    pos_ = 0;
    qsizetype length = 0;
    do {
        length = receiveHeader();
        receivePayload(length);
    } while (length == MaxPacketLength);
    if (len_ > 0 && quint8(buf_[0]) == 0xFF)
        ReadError();
}

QByteArray TMySqlNet::ReceiveBuffer()
{
    const qsizetype length = receiveHeader();
    if (length == MaxPacketLength)
        throw EMyError(cr::UnknownError, QStringLiteral("Cannot retrieve huge data in FetchAll mode"));
    len_ = 0;
    pos_ = 0;
    receivePayload(length);
    if (len_ > 0 && quint8(buf_[0]) == 0xFF)
        ReadError();
    return QByteArray(buf_.constData(), len_);
}

TMySqlNet::Skipped TMySqlNet::SkipBuffer(qsizetype chunk, bool firstPacket)
{
    const qsizetype length = receiveHeader();
    Skipped result;
    result.length = length;
    // The head stays in the buffer, so that an end packet can be read.
    const qsizetype head = std::min(length, SkipHeadLength);
    len_ = 0;
    pos_ = 0;
    receivePayload(head);
    if (head == 0)
        return result;
    result.firstByte = quint8(buf_[0]);
    if (firstPacket && result.firstByte == 0xFF) {
        receivePayload(length - head);
        ReadError();
    }
    QByteArray scratch(std::min(chunk, length - head), Qt::Uninitialized);
    for (qsizetype left = length - head; left > 0;) {
        const qsizetype n = std::min(left, scratch.size());
        readWire(scratch.data(), n);
        left -= n;
    }
    return result;
}

template <class F> auto TMySqlNet::readWith(F f)
{
    ByteReader reader(GetBuffer());
    try {
        reader.Seek(pos_);
        auto value = f(reader);
        pos_ = reader.Position();
        return value;
    } catch (const EByteReadError&) {
        throw MakeMyError(cr::MalformedPacket);
    }
}

quint8 TMySqlNet::ReadByte()
{
    return readWith([](ByteReader& r) { return r.U8(); });
}

qint16 TMySqlNet::ReadInt16()
{
    return readWith([](ByteReader& r) { return r.I16(); });
}

quint16 TMySqlNet::ReadUInt16()
{
    return readWith([](ByteReader& r) { return r.U16(); });
}

quint32 TMySqlNet::ReadInt24()
{
    return readWith([](ByteReader& r) { return r.U24(); });
}

qint32 TMySqlNet::ReadInt32()
{
    return readWith([](ByteReader& r) { return r.I32(); });
}

qint64 TMySqlNet::ReadInt64()
{
    return readWith([](ByteReader& r) { return r.I64(); });
}

double TMySqlNet::ReadDouble()
{
    return readWith([](ByteReader& r) { return r.F64(); });
}

void TMySqlNet::ReadBytes(char* dest, qsizetype count)
{
    readWith([&](ByteReader& r) {
        r.CopyTo(dest, count);
        return 0;
    });
}

QByteArrayView TMySqlNet::ReadString()
{
    return readWith([](ByteReader& r) { return r.UpToZeroOrEnd(); });
}

QByteArrayView TMySqlNet::ReadString(qsizetype n)
{
    return readWith([n](ByteReader& r) { return r.Bytes(n); });
}

qint64 TMySqlNet::ReadFieldLength()
{
    return readWith([](ByteReader& r) -> qint64 {
        const quint8 first = r.U8();
        switch (first) {
        case 251:
            return NullLength;
        case 252:
            return r.U16();
        case 253:
            return r.U24();
        case 254: {
            const quint64 v = r.U64();
            if (v > quint64(std::numeric_limits<qint64>::max()))
                r.BadValue(QStringLiteral("length-coded integer out of range"));
            return qint64(v);
        }
        case 255:
            r.BadValue(QStringLiteral("length-coded integer marker 255"));
        default:
            return first;
        }
    });
}

QByteArrayView TMySqlNet::ReadFieldString()
{
    const qint64 length = ReadFieldLength();
    if (length == NullLength)
        return QByteArrayView();
    if (length > Remaining())
        throw MakeMyError(cr::MalformedPacket);
    return ReadString(qsizetype(length));
}

void TMySqlNet::ReadError()
{
    pos_ = 0;
    int code = 0;
    QByteArrayView message;
    readWith([&](ByteReader& r) {
        r.U8();
        code = r.I16();
        message = r.UpToZeroOrEnd();
        return 0;
    });
    throw MakeMyError(code, DecodeText(message, coding_));
}

void TMySqlNet::SetLength(qsizetype length)
{
    ensureCapacity(length);
    len_ = length;
    pos_ = std::min(pos_, len_);
}

void TMySqlNet::SetPosition(qsizetype position)
{
    pos_ = std::clamp<qsizetype>(position, 0, len_);
}

} // namespace velkaro
