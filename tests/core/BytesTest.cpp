#include "core/Bytes.h"

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>

using namespace velkaro;
using namespace velkaro::testing;
using Kind = EByteReadError::Kind;

namespace {

// Runs Read over exactly Bytes and returns the kind of failure it raised.
std::optional<Kind> failureOf(const QByteArray& bytes, const std::function<void(ByteReader&)>& read)
{
    ByteReader r(bytes);
    try {
        read(r);
    } catch (const EByteReadError& e) {
        return e.ErrorKind();
    }
    return std::nullopt;
}

} // namespace

TEST(Bytes, WriterAndReaderAgreeOnEveryWidthLittleEndian)
{
    QByteArray out;
    ByteWriter w(out);
    w.U8(0xAB);
    w.I8(-2);
    w.U16(0x1234);
    w.I16(-3);
    w.U24(0xABCDEF);
    w.U32(0xDEADBEEF);
    w.I32(std::numeric_limits<qint32>::min());
    w.U64(0x0102030405060708ull);
    w.I64(-1);
    w.F32(1.5f);
    w.F64(-0.25);
    w.UInt(0x112233, 3);
    w.ZeroEnded("abc");
    w.Fill('x', 2);
    EXPECT_EQ(ToHex(out),
        ToHex(Hex("AB FE 34 12 FD FF EF CD AB EF BE AD DE 00 00 00 80 08 07 06 05 04 03 02 01"
                  " FF FF FF FF FF FF FF FF 00 00 C0 3F 00 00 00 00 00 00 D0 BF 33 22 11"
                  " 61 62 63 00 78 78")));

    ByteReader r(out);
    EXPECT_EQ(r.U8(), 0xAB);
    EXPECT_EQ(r.I8(), -2);
    EXPECT_EQ(r.U16(), 0x1234);
    EXPECT_EQ(r.I16(), -3);
    EXPECT_EQ(r.U24(), 0xABCDEFu);
    EXPECT_EQ(r.U32(), 0xDEADBEEFu);
    EXPECT_EQ(r.I32(), std::numeric_limits<qint32>::min());
    EXPECT_EQ(r.U64(), 0x0102030405060708ull);
    EXPECT_EQ(r.I64(), -1);
    EXPECT_EQ(r.F32(), 1.5f);
    EXPECT_EQ(r.F64(), -0.25);
    EXPECT_EQ(r.UInt(3), 0x112233u);
    EXPECT_EQ(r.ZeroEnded(), QByteArrayView("abc"));
    EXPECT_EQ(r.Remaining(), 2);
    EXPECT_EQ(r.Rest(), QByteArrayView("xx"));
    EXPECT_TRUE(r.AtEnd());
    EXPECT_NO_THROW(r.ExpectEnd());
}

TEST(Bytes, NaNAndInfinityKeepTheirBits)
{
    QByteArray out;
    ByteWriter w(out);
    w.U64(0x7FF8000000000001ull); // a NaN with a payload
    w.F64(std::numeric_limits<double>::infinity());
    ByteReader r(out);
    EXPECT_EQ(DoubleBits(r.F64()), 0x7FF8000000000001ull);
    EXPECT_TRUE(std::isinf(r.F64()));
}

TEST(Bytes, FailuresTellEndedEarlyBadValueAndLeftOver)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        std::function<void(ByteReader&)> read;
        std::optional<Kind> expected;
    };
    const Case cases[] = {
        {"U16 of one byte", Hex("01"), [](ByteReader& r) { r.U16(); }, Kind::EndedEarly},
        {"U24 of two bytes", Hex("01 02"), [](ByteReader& r) { r.U24(); }, Kind::EndedEarly},
        {"U32 of three bytes", Hex("01 02 03"), [](ByteReader& r) { r.U32(); }, Kind::EndedEarly},
        {"I64 of seven bytes", Hex("01 02 03 04 05 06 07"), [](ByteReader& r) { r.I64(); }, Kind::EndedEarly},
        {"F64 of nothing", QByteArray(), [](ByteReader& r) { r.F64(); }, Kind::EndedEarly},
        {"U8 of nothing", QByteArray(), [](ByteReader& r) { r.U8(); }, Kind::EndedEarly},
        {"bytes beyond the end", Hex("01 02"), [](ByteReader& r) { r.Bytes(3); }, Kind::EndedEarly},
        {"a negative count", Hex("01 02"), [](ByteReader& r) { r.Bytes(-1); }, Kind::EndedEarly},
        {"the largest count", Hex("01"), [](ByteReader& r) { r.Bytes(std::numeric_limits<qsizetype>::max()); },
            Kind::EndedEarly},
        {"copy beyond the end", Hex("01"),
            [](ByteReader& r) {
                char c[2];
                r.CopyTo(c, 2);
            },
            Kind::EndedEarly},
        {"zero-ended text without its zero", Hex("61 62"), [](ByteReader& r) { r.ZeroEnded(); }, Kind::EndedEarly},
        {"zero-ended text of nothing", QByteArray(), [](ByteReader& r) { r.ZeroEnded(); }, Kind::EndedEarly},
        {"seek past the end", Hex("01"), [](ByteReader& r) { r.Seek(2); }, Kind::EndedEarly},
        {"a value the caller refuses", Hex("07"),
            [](ByteReader& r) {
                if (r.U8() != 1)
                    r.BadValue(QStringLiteral("not one"));
            },
            Kind::BadValue},
        {"a byte left over", Hex("01 02 03"),
            [](ByteReader& r) {
                r.U16();
                r.ExpectEnd();
            },
            Kind::LeftOver},
        {"up to zero or end never fails", Hex("61 62"), [](ByteReader& r) { r.UpToZeroOrEnd(); }, std::nullopt},
        {"exactly enough", Hex("01 02 03 04"),
            [](ByteReader& r) {
                r.U32();
                r.ExpectEnd();
            },
            std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(failureOf(c.bytes, c.read), c.expected);
    }
}

TEST(Bytes, AFailedReadMovesNothing)
{
    const QByteArray bytes = Hex("01 02 03");
    ByteReader r(bytes);
    r.U8();
    EXPECT_THROW(r.U32(), EByteReadError);
    EXPECT_EQ(r.Position(), 1);
    EXPECT_EQ(r.U16(), 0x0302);
}

TEST(Bytes, UpToZeroOrEndConsumesTheZeroOnly)
{
    const QByteArray bytes = Hex("61 00 62 63");
    ByteReader r(bytes);
    EXPECT_EQ(r.UpToZeroOrEnd(), QByteArrayView("a"));
    EXPECT_EQ(r.Position(), 2);
    EXPECT_EQ(r.UpToZeroOrEnd(), QByteArrayView("bc"));
    EXPECT_TRUE(r.AtEnd());
    EXPECT_TRUE(r.UpToZeroOrEnd().isEmpty());
}

TEST(Bytes, TheFailureSaysWhereItHappened)
{
    const QByteArray bytes = Hex("01 02 03 04 05");
    ByteReader r(bytes);
    r.U32();
    try {
        r.U16();
        FAIL() << "no error";
    } catch (const EByteReadError& e) {
        EXPECT_EQ(e.Offset(), 4);
        EXPECT_EQ(e.Message(), QStringLiteral("the data ends early: 2 bytes wanted at offset 4, 1 left"));
    }
}
