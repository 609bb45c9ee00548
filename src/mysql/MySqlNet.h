#pragma once
// TMySqlNet: MySQL packets over one endpoint. A packet is a 3-byte
// little-endian payload length and a sequence number, then the payload; a
// payload of 0xFFFFFF bytes or more travels as several packets, the last one
// shorter than 0xFFFFFF (empty when the payload is an exact multiple).
//
// One byte buffer serves both directions. Outgoing payload is staged behind
// 4 reserved header bytes (Clear, Write*, then Send); Receive puts one whole
// logical payload at offset 0 and the Read* calls walk it from Position.
// Views returned by the Read* calls and GetBuffer point into that buffer and
// are valid until the next Receive, write or Clear.
//
// Errors (all EMyError):
//   2013 the endpoint moved fewer bytes than asked (its LastError on a new line)
//   1156 a packet's sequence number is not the expected one
//   1157 a compressed packet does not inflate to its announced length
//   2020 a logical payload would grow beyond MaxAllowedPacket
//   2027 a read runs past the payload, or a length inside it claims more
//        bytes than are left ("Malformed packet")
//   a server error packet (first byte 0xFF) raises the server's code, text
//   "\n" + message (see ReadError).
// Nothing is allocated for what a header merely claims: a payload's buffer
// grows as its bytes arrive.

#include "core/Bytes.h"
#include "mysql/CRVio.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

namespace velkaro {

class ByteReader;

// How 8-bit texts from the server (error messages, file names) read, and how
// texts go out: UTF-8 when the session speaks utf8, otherwise the system's
// ANSI code page.
enum class TextCoding { Ansi, Utf8 };
QString DecodeText(QByteArrayView bytes, TextCoding coding);
QByteArray EncodeText(const QString& text, TextCoding coding);

class TMySqlNet {
public:
    static constexpr qsizetype NET_HEADER_SIZE = 4;
    static constexpr qsizetype COMP_HEADER_SIZE = 3;
    // Initial capacity, and the most outgoing payload staged before
    // WriteOrSendBytes sends straight from the caller's memory.
    static constexpr qsizetype BufferLength = 8192;
    // Announced in the login packet; no logical payload may be larger.
    static constexpr quint32 MaxAllowedPacket = 0x40000000;
    static constexpr qsizetype MaxPacketLength = 0xFFFFFF;
    // ReadFieldLength's value for the NULL marker 0xFB.
    static constexpr qint64 NullLength = -1;
    // Outgoing data this short is sent uncompressed in the compressed framing.
    static constexpr qsizetype MinCompressLength = 50;

    TMySqlNet();
    ~TMySqlNet();
    TMySqlNet(const TMySqlNet&) = delete;
    TMySqlNet& operator=(const TMySqlNet&) = delete;

    // The endpoint, owned; replacing one closes and frees the earlier.
    void SetVio(std::unique_ptr<TCRVio> vio);
    TCRVio* GetVio() const { return vio_.get(); }
    // Empties the buffers, closes and frees the endpoint.
    void Close();

    // The compressed framing, switched on after a login that negotiated it.
    bool GetCompress() const { return compress_; }
    void SetCompress(bool on);
    // How error messages decode (ANSI until the session says otherwise).
    void SetTextCoding(TextCoding coding) { coding_ = coding; }
    TextCoding GetTextCoding() const { return coding_; }
    // The largest logical payload Receive accepts (MaxAllowedPacket unless
    // lowered); a longer one raises 2020 before its bytes are read.
    void SetMaxPayload(qsizetype bytes) { maxPayload_ = bytes; }
    // The sequence number the next packet carries or must carry.
    quint8 GetSequence() const { return seq_; }

    // --- writing
    // A new command: sequence numbers back to 0, buffer cleared.
    void NewCommand();
    // Drops staged output: position and length back to the 4 header bytes.
    void Clear();
    void WriteByte(quint8 value);
    void WriteBool(bool value);
    void WriteInt16(quint16 value);
    void WriteInt24(quint32 value);
    void WriteInt32(quint32 value);
    void WriteInt64(quint64 value);
    void WriteDouble(double value);
    void WriteBytes(QByteArrayView bytes);
    // The bytes and one 0 byte.
    void WriteString(QByteArrayView text);
    // Length-coded: up to 250 in one byte, up to 0xFFFF as 252 + 2 bytes, up
    // to 0xFFFFFF as 253 + 3 bytes, above as 254 + 8 bytes.
    void WriteFieldLength(quint64 value);
    void Fill(quint8 byte, qsizetype count);
    // The last write of a packet whose tail may be large. What fits in the
    // buffer is staged for Send; a longer payload goes out at once (header
    // and staged bytes, then the rest straight from Data, never copied), split
    // into 0xFFFFFF-byte packets where it reaches that size, and then Send
    // has nothing left to send.
    void WriteOrSendBytes(QByteArrayView data);
    // Sends the staged payload as one packet (nothing when none is staged)
    // and clears the buffer.
    void Send();
    // Sends a packet with an empty payload.
    void SendEmpty();

    // --- reading
    // One logical packet into the buffer, position 0. An error packet raises.
    void Receive();
    // One physical packet into a byte array of its own. A full 0xFFFFFF-byte
    // packet raises ("Cannot retrieve huge data in FetchAll mode"); an error
    // packet raises.
    QByteArray ReceiveBuffer();
    // Reads one physical packet and discards its payload in pieces of at most
    // Chunk bytes; its first SkipHeadLength bytes stay in the buffer. With
    // FirstPacket, an error packet raises. Returns the first payload byte (0
    // for an empty payload) and the payload length.
    static constexpr qsizetype SkipHeadLength = 9;
    struct Skipped {
        quint8 firstByte = 0;
        qsizetype length = 0;
    };
    Skipped SkipBuffer(qsizetype chunk, bool firstPacket);

    quint8 ReadByte();
    qint16 ReadInt16();
    quint16 ReadUInt16();
    quint32 ReadInt24();
    qint32 ReadInt32();
    qint64 ReadInt64();
    double ReadDouble();
    void ReadBytes(char* dest, qsizetype count);
    // Up to a 0 byte (consumed) or the end of the payload.
    QByteArrayView ReadString();
    // Exactly N bytes.
    QByteArrayView ReadString(qsizetype n);
    // A length-coded integer; NullLength for 0xFB. 0xFF raises 2027.
    qint64 ReadFieldLength();
    // A length-coded string, its length checked against the bytes left.
    // A NULL string reads as a null view.
    QByteArrayView ReadFieldString();
    // Raises the error packet at position 0: the 2-byte code, then the message
    // up to a 0 byte or the end; text = client template of the code + "\n" +
    // message.
    [[noreturn]] void ReadError();

    // The received payload (or the staged output, header bytes included).
    QByteArrayView GetBuffer() const { return QByteArrayView(buf_.constData(), len_); }
    qsizetype GetLength() const { return len_; }
    void SetLength(qsizetype length);
    qsizetype GetPosition() const { return pos_; }
    void SetPosition(qsizetype position);
    qsizetype Remaining() const { return len_ - pos_; }

private:
    template <class F> auto readWith(F f);
    void ensureCapacity(qsizetype size);
    void stageBytes(const void* data, qsizetype count);
    // A little-endian integer of N bytes, staged without a buffer of its own.
    template <int N> void stageFixed(quint64 value)
    {
        char b[N];
        StoreLittleEndian<N>(b, value);
        stageBytes(b, N);
    }
    void putHeader(char* at, qsizetype payloadLength);
    // Sends one physical packet made of Head (its 4 header bytes included)
    // and Tail.
    void sendPacket(QByteArrayView head, QByteArrayView tail);
    void sendCompressed(QByteArrayView bytes);
    void vioWrite(QByteArrayView bytes);
    void vioRead(char* dest, qsizetype count);
    // Packet bytes: straight from the endpoint, or from the inflated stream.
    void readWire(char* dest, qsizetype count);
    void readCompressedPacket();
    qsizetype receiveHeader();
    // Reads Count payload bytes to the end of the buffer, growing it as they
    // arrive.
    void receivePayload(qsizetype count);
    [[noreturn]] void lost();

    std::unique_ptr<TCRVio> vio_;
    QByteArray buf_; // its size is the capacity; len_ bytes are in use
    qsizetype len_ = 0;
    qsizetype pos_ = 0;
    quint8 seq_ = 0;
    quint8 compSeq_ = 0;
    bool compress_ = false;
    qsizetype maxPayload_ = MaxAllowedPacket;
    TextCoding coding_ = TextCoding::Ansi;
    QByteArray inflated_; // compressed framing: inflated bytes not yet read
    qsizetype inflatedPos_ = 0;
};

} // namespace velkaro
