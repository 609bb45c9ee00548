#include "core/Bytes.h"

namespace velkaro {

using Kind = EByteReadError::Kind;

void ByteReader::EndedEarly(qsizetype wanted) const
{
    throw EByteReadError(Kind::EndedEarly, pos_,
        QStringLiteral("the data ends early: %1 bytes wanted at offset %2, %3 left")
            .arg(QString::number(wanted), QString::number(pos_), QString::number(Remaining())));
}

void ByteReader::BadValue(const QString& what) const
{
    throw EByteReadError(Kind::BadValue, pos_, what);
}

void ByteReader::ExpectEnd() const
{
    if (!AtEnd()) {
        throw EByteReadError(Kind::LeftOver, pos_,
            QStringLiteral("%1 bytes left over at offset %2").arg(QString::number(Remaining()), QString::number(pos_)));
    }
}

void ByteReader::Seek(qsizetype position)
{
    if (position < 0 || position > size_) {
        throw EByteReadError(Kind::EndedEarly, pos_,
            QStringLiteral("the data ends early: offset %1 is outside its %2 bytes")
                .arg(QString::number(position), QString::number(size_)));
    }
    pos_ = position;
}

quint64 ByteReader::UInt(int width)
{
    Q_ASSERT(width >= 1 && width <= 8);
    Need(width);
    quint64 v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | quint8(data_[pos_ + i]);
    pos_ += width;
    return v;
}

float ByteReader::F32()
{
    return BitsSingle(U32());
}

double ByteReader::F64()
{
    return BitsDouble(U64());
}

void ByteReader::CopyTo(void* dest, qsizetype n)
{
    Need(n);
    if (n > 0)
        std::memcpy(dest, data_ + pos_, size_t(n));
    pos_ += n;
}

QByteArrayView ByteReader::ZeroEnded()
{
    const void* zero = Remaining() > 0 ? std::memchr(data_ + pos_, 0, size_t(Remaining())) : nullptr;
    if (zero == nullptr)
        EndedEarly(Remaining() + 1);
    const qsizetype n = static_cast<const char*>(zero) - (data_ + pos_);
    const QByteArrayView v(data_ + pos_, n);
    pos_ += n + 1;
    return v;
}

QByteArrayView ByteReader::UpToZeroOrEnd()
{
    const void* zero = Remaining() > 0 ? std::memchr(data_ + pos_, 0, size_t(Remaining())) : nullptr;
    const qsizetype n = zero != nullptr ? static_cast<const char*>(zero) - (data_ + pos_) : Remaining();
    const QByteArrayView v(data_ + pos_, n);
    pos_ += n + (zero != nullptr ? 1 : 0);
    return v;
}

void ByteWriter::UInt(quint64 v, int width)
{
    Q_ASSERT(width >= 1 && width <= 8);
    for (int i = 0; i < width; ++i)
        out_.append(char((v >> (8 * i)) & 0xFF));
}

void ByteWriter::F32(float v)
{
    U32(SingleBits(v));
}

void ByteWriter::F64(double v)
{
    U64(DoubleBits(v));
}

} // namespace velkaro
