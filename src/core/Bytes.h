#pragma once
// One bounds-checked reader and one writer for little-endian byte layouts:
// the table file and data packet, the variant's raw storage, the MySQL
// packets and the remote link's blocks all go through them.
//
// ByteReader reads from a view it does not own (the bytes must outlive it).
// Every read checks what is left before it touches memory; a failure raises
// EByteReadError, whose Kind tells apart input that ended early, a value that
// is not allowed, and bytes left over after the last value. The readers of
// each format catch it at their boundary and raise their own class and text
// (the reader knows bytes, not what they mean).
//
// ByteWriter appends to a QByteArray it does not own.

#include "core/Exceptions.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtEndian>

#include <bit>

namespace velkaro {

class EByteReadError : public Exception {
public:
    enum class Kind { EndedEarly, BadValue, LeftOver };
    EByteReadError(Kind kind, qsizetype offset, QString message)
        : Exception(std::move(message))
        , kind_(kind)
        , offset_(offset)
    {
    }
    const char* ClassName() const noexcept override { return "EByteReadError"; }
    Kind ErrorKind() const noexcept { return kind_; }
    // Where in the input the failing value starts.
    qsizetype Offset() const noexcept { return offset_; }

private:
    Kind kind_;
    qsizetype offset_;
};

class ByteReader {
public:
    explicit ByteReader(QByteArrayView bytes)
        : data_(bytes.data())
        , size_(bytes.size())
    {
    }

    qsizetype Position() const { return pos_; }
    qsizetype Remaining() const { return size_ - pos_; }
    bool AtEnd() const { return pos_ == size_; }
    // Moves to an absolute position within the input (EndedEarly beyond it).
    void Seek(qsizetype position);

    quint8 U8() { return quint8(Fixed<1>()); }
    qint8 I8() { return qint8(Fixed<1>()); }
    quint16 U16() { return quint16(Fixed<2>()); }
    qint16 I16() { return qint16(Fixed<2>()); }
    quint32 U24() { return quint32(Fixed<3>()); }
    quint32 U32() { return quint32(Fixed<4>()); }
    qint32 I32() { return qint32(Fixed<4>()); }
    quint64 U64() { return Fixed<8>(); }
    qint64 I64() { return qint64(Fixed<8>()); }
    // An unsigned integer of 1 to 8 bytes.
    quint64 UInt(int width);
    float F32();
    double F64();

    // The next N bytes, as a view into the input.
    QByteArrayView Bytes(qsizetype n)
    {
        Need(n);
        const QByteArrayView v(data_ + pos_, n);
        pos_ += n;
        return v;
    }
    // Copies the next N bytes to Dest.
    void CopyTo(void* dest, qsizetype n);
    void Skip(qsizetype n) { Bytes(n); }
    // The bytes up to the next zero byte, which is consumed but not returned.
    // Input without a zero byte ended early.
    QByteArrayView ZeroEnded();
    // The bytes up to the next zero byte or the end, whichever comes first;
    // a zero byte is consumed. Never fails.
    QByteArrayView UpToZeroOrEnd();
    // Everything that is left.
    QByteArrayView Rest() { return Bytes(Remaining()); }

    // LeftOver when anything is left.
    void ExpectEnd() const;
    // Raises BadValue at the current position (the caller says what is wrong).
    [[noreturn]] void BadValue(const QString& what) const;
    // Raises EndedEarly when fewer than N bytes are left, without reading.
    void Need(qsizetype n) const
    {
        if (n < 0 || n > Remaining())
            EndedEarly(n);
    }

private:
    template <int N> quint64 Fixed()
    {
        Need(N);
        quint64 v = 0;
        // The usual widths in one load (the compiler does not merge the
        // byte loop below into one).
        if constexpr (N == 2) {
            v = qFromLittleEndian<quint16>(data_ + pos_);
        } else if constexpr (N == 4) {
            v = qFromLittleEndian<quint32>(data_ + pos_);
        } else if constexpr (N == 8) {
            v = qFromLittleEndian<quint64>(data_ + pos_);
        } else {
            for (int i = N - 1; i >= 0; --i)
                v = (v << 8) | quint8(data_[pos_ + i]);
        }
        pos_ += N;
        return v;
    }
    [[noreturn]] void EndedEarly(qsizetype wanted) const;

    const char* data_;
    qsizetype size_;
    qsizetype pos_ = 0;
};

// The low N bytes of V at To, least significant first.
template <int N> void StoreLittleEndian(char* to, quint64 v)
{
    for (int i = 0; i < N; ++i)
        to[i] = char((v >> (8 * i)) & 0xFF);
}

class ByteWriter {
public:
    explicit ByteWriter(QByteArray& out)
        : out_(out)
    {
    }

    void U8(quint8 v) { out_.append(char(v)); }
    void I8(qint8 v) { U8(quint8(v)); }
    void U16(quint16 v) { Fixed<2>(v); }
    void I16(qint16 v) { Fixed<2>(quint16(v)); }
    void U24(quint32 v) { Fixed<3>(v); }
    void U32(quint32 v) { Fixed<4>(v); }
    void I32(qint32 v) { Fixed<4>(quint32(v)); }
    void U64(quint64 v) { Fixed<8>(v); }
    void I64(qint64 v) { Fixed<8>(quint64(v)); }
    // The low Width bytes of V (1 to 8).
    void UInt(quint64 v, int width);
    void F32(float v);
    void F64(double v);
    void Bytes(QByteArrayView bytes) { out_.append(bytes); }
    // The bytes followed by one zero byte.
    void ZeroEnded(QByteArrayView bytes)
    {
        out_.append(bytes);
        out_.append('\0');
    }
    void Fill(char byte, qsizetype count) { out_.append(count, byte); }

    QByteArray& Out() { return out_; }

private:
    template <int N> void Fixed(quint64 v)
    {
        char b[N];
        StoreLittleEndian<N>(b, v);
        out_.append(b, N);
    }

    QByteArray& out_;
};

// Raw bit patterns of IEEE numbers, as they are stored and sent.
inline quint64 DoubleBits(double d)
{
    return std::bit_cast<quint64>(d);
}
inline double BitsDouble(quint64 b)
{
    return std::bit_cast<double>(b);
}
inline quint32 SingleBits(float f)
{
    return std::bit_cast<quint32>(f);
}
inline float BitsSingle(quint32 b)
{
    return std::bit_cast<float>(b);
}

} // namespace velkaro
