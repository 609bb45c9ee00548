#include "mysql/MySqlNet.h"

#include "mysql/MyError.h"
#include "support/Fixtures.h"
#include "support/Raised.h"
#include "support/ScriptedVio.h"

#include <gtest/gtest.h>

#include <zlib.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

constexpr qsizetype Max = TMySqlNet::MaxPacketLength;

// A packet layer over a scripted peer.
struct NetFixture {
    TMySqlNet net;
    ScriptedVio* peer;
    NetFixture()
    {
        auto vio = std::make_unique<ScriptedVio>();
        peer = vio.get();
        net.SetVio(std::move(vio));
        peer->Connect();
    }
};

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

QByteArray zlibPacked(const QByteArray& plain)
{
    uLongf size = compressBound(uLong(plain.size()));
    QByteArray out(qsizetype(size), '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.constData()),
        uLong(plain.size()));
    out.resize(qsizetype(size));
    return out;
}

QByteArray compressedPacket(quint8 seq, const QByteArray& body, quint32 plainLength)
{
    QByteArray out = Packet(seq, body);
    const char length[3] = {char(plainLength & 0xFF), char((plainLength >> 8) & 0xFF), char(plainLength >> 16)};
    out.insert(4, QByteArrayView(length, 3));
    return out;
}

} // namespace

TEST(MySqlNet, LengthCodedIntegersBothWays)
{
    struct Case {
        quint64 value;
        const char* bytes;
    };
    const Case cases[] = {
        {0, "00"},
        {250, "fa"},
        {251, "fc fb 00"},
        {10000, "fc 10 27"},
        {0xFFFF, "fc ff ff"},
        {0x10000, "fd 00 00 01"},
        {0xFFFFFF, "fd ff ff ff"},
        {0x1000000, "fe 00 00 00 01 00 00 00 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        NetFixture f;
        f.net.WriteFieldLength(c.value);
        EXPECT_EQ(ToHex(f.net.GetBuffer().sliced(4).toByteArray()), ToHex(Hex(c.bytes)));

        f.peer->Answer(Packet(0, Hex(c.bytes)));
        f.net.Receive();
        EXPECT_EQ(f.net.ReadFieldLength(), qint64(c.value));
        EXPECT_EQ(f.net.Remaining(), 0);
    }
    NetFixture f;
    f.peer->Answer(Packet(0, Hex("fb ff")));
    f.net.Receive();
    EXPECT_EQ(f.net.ReadFieldLength(), TMySqlNet::NullLength);
    EXPECT_EQ(Raised([&] { f.net.ReadFieldLength(); }).ErrorCode(), cr::MalformedPacket);
}

TEST(MySqlNet, ReadsPastThePayloadOrLyingLengthsAreMalformed)
{
    struct Case {
        const char* name;
        const char* payload;
        std::function<void(TMySqlNet&)> read;
    };
    const Case cases[] = {
        {"Int64 with 7 bytes", "01 02 03 04 05 06 07", [](TMySqlNet& n) { n.ReadInt64(); }},
        {"Double with 7 bytes", "01 02 03 04 05 06 07", [](TMySqlNet& n) { n.ReadDouble(); }},
        {"Int16 with 1 byte", "01", [](TMySqlNet& n) { n.ReadInt16(); }},
        {"string longer than the packet", "05 61 62 63", [](TMySqlNet& n) { n.ReadFieldString(); }},
        {"largest 8-byte length", "fe ff ff ff ff ff ff ff 7f 00", [](TMySqlNet& n) { n.ReadFieldString(); }},
        {"8-byte length above any size", "fe ff ff ff ff ff ff ff ff", [](TMySqlNet& n) { n.ReadFieldLength(); }},
        {"cut 3-byte length", "fd 01 00", [](TMySqlNet& n) { n.ReadFieldLength(); }},
        {"exact count past the end", "61 62", [](TMySqlNet& n) { n.ReadString(3); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NetFixture f;
        f.peer->Answer(Packet(0, Hex(c.payload)));
        f.net.Receive();
        const EMyError e = Raised([&] { c.read(f.net); });
        EXPECT_EQ(e.ErrorCode(), cr::MalformedPacket);
        EXPECT_EQ(S(e.Message()), S(QStringLiteral("Malformed packet")));
    }
}

TEST(MySqlNet, SendFramesThePayloadWithTheSequenceNumber)
{
    NetFixture f;
    f.peer->Expect(Hex("05 00 00 00 03 61 62 00 01"));
    f.peer->Expect(Hex("0b 00 00 01 34 12 56 34 12 78 56 34 12 2a 2a"));
    f.net.NewCommand();
    f.net.WriteByte(3);
    f.net.WriteString("ab");
    f.net.WriteBool(true);
    f.net.Send();
    f.net.Send(); // nothing staged: nothing sent
    f.net.WriteInt16(0x1234);
    f.net.WriteInt24(0x123456);
    f.net.WriteInt32(0x12345678);
    f.net.Fill('*', 2);
    f.net.Send();
    EXPECT_EQ(f.peer->Verify(), QString());
    EXPECT_EQ(f.net.GetSequence(), 2);
}

TEST(MySqlNet, SequenceNumbersWrapAndAreChecked)
{
    NetFixture f;
    QByteArray answer;
    for (int i = 0; i < 258; ++i)
        answer += Packet(quint8(i), "x");
    f.peer->Answer(answer);
    for (int i = 0; i < 258; ++i)
        f.net.Receive();
    EXPECT_EQ(f.net.GetSequence(), 2); // 257 + 1, wrapped

    NetFixture g;
    g.peer->Answer(Packet(1, "x"));
    const EMyError e = Raised([&] { g.net.Receive(); });
    EXPECT_EQ(e.ErrorCode(), 1156);
    EXPECT_EQ(S(e.Message()), S(QStringLiteral("ReceiveHeader: Net packets out of order: received[1], expected[0]")));
}

TEST(MySqlNet, LargePayloadsAreJoinedOnReceive)
{
    for (qsizetype size : {Max + 10, Max, Max * 2}) {
        SCOPED_TRACE(size);
        const QByteArray payload = pattern(size);
        NetFixture f;
        QByteArray wire;
        quint8 seq = 0;
        qsizetype at = 0;
        for (; size - at >= Max; at += Max)
            wire += Packet(seq++, payload.sliced(at, Max));
        wire += Packet(seq++, payload.sliced(at));
        f.peer->Answer(wire);
        f.net.Receive();
        ASSERT_EQ(f.net.GetLength(), size);
        EXPECT_TRUE(f.net.GetBuffer() == payload);
        EXPECT_EQ(f.peer->Verify(), QString());
    }
}

TEST(MySqlNet, LargePayloadsAreSplitOnSendWithoutCopying)
{
    struct Case {
        qsizetype size;
        QList<qsizetype> packets; // payload lengths on the wire
    };
    const Case cases[] = {
        {100, {101}},
        {9000, {9001}}, // above the staging buffer: one packet with the whole length
        {Max - 1, {Max}},
        {Max, {Max, 1}},
        {Max + 10, {Max, 11}},
        {
            2 * Max - 1,
            {Max, Max},
        },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const QByteArray data = pattern(c.size);
        const QByteArray payload = QByteArray(1, char(3)) + data;
        NetFixture f;
        QByteArray wire;
        qsizetype at = 0;
        quint8 seq = 0;
        for (qsizetype length : c.packets) {
            wire += Packet(seq++, payload.sliced(at, length));
            at += length;
        }
        if (payload.size() - at == 0 && c.packets.last() == Max)
            wire += Packet(seq++, {});
        f.peer->Expect(wire);
        f.net.NewCommand();
        f.net.WriteByte(3);
        f.net.WriteOrSendBytes(data);
        f.net.Send();
        EXPECT_EQ(f.peer->Verify(), QString());
        EXPECT_EQ(f.peer->WrittenAfterEnd().size(), 0);
        if (c.size > TMySqlNet::BufferLength) {
            // The tail went out from the caller's memory.
            bool direct = false;
            for (const ScriptedVio::Send& s : f.peer->sends)
                direct |= s.data >= data.constData() && s.data < data.constData() + data.size();
            EXPECT_TRUE(direct);
        }
    }
}

TEST(MySqlNet, ExactMultipleOfTheLargestPacketEndsWithAnEmptyPacket)
{
    const QByteArray data = pattern(Max - 1);
    NetFixture f;
    f.peer->Expect(Packet(0, QByteArray(1, char(3)) + data) + Packet(1, {}));
    f.net.NewCommand();
    f.net.WriteByte(3);
    f.net.WriteOrSendBytes(data);
    f.net.Send();
    EXPECT_EQ(f.peer->Verify(), QString());
}

TEST(MySqlNet, ErrorPacketsRaiseTheServerCodeAndMessage)
{
    NetFixture f;
    f.net.SetTextCoding(TextCoding::Utf8);
    f.peer->Answer(Packet(0, ErrorPacket(1146, "#42S02Table 'VelkaroDB.x' doesn't exist")));
    const EMyError e = Raised([&] { f.net.Receive(); });
    EXPECT_EQ(e.ErrorCode(), 1146);
    EXPECT_EQ(S(e.Message()), S(QStringLiteral("\n#42S02Table 'VelkaroDB.x' doesn't exist")));

    NetFixture g;
    g.net.SetTextCoding(TextCoding::Utf8);
    g.peer->Answer(Packet(0, ErrorPacket(2013, "gone\0trailing")));
    const EMyError e2 = Raised([&] { g.net.Receive(); });
    EXPECT_EQ(S(e2.Message()), S(QStringLiteral("Lost connection to MySQL server during query\ngone")));

    NetFixture h;
    h.peer->Answer(Packet(0, Hex("ff 15")));
    EXPECT_EQ(Raised([&] { h.net.Receive(); }).ErrorCode(), cr::MalformedPacket);
}

TEST(MySqlNet, AServerThatClosesMidPacketIsALostConnection)
{
    for (const char* wire : {"05 00 00 00 61 62", "05 00", ""}) {
        SCOPED_TRACE(wire);
        NetFixture f;
        f.peer->Answer(Hex(wire)).Hangup();
        const EMyError e = Raised([&] { f.net.Receive(); });
        EXPECT_EQ(e.ErrorCode(), 2013);
        EXPECT_EQ(S(e.Message()), S(QStringLiteral("Lost connection to MySQL server during query")));
    }
    NetFixture f;
    f.peer->Hangup();
    f.net.WriteByte(1);
    const EMyError e = Raised([&] { f.net.Send(); });
    EXPECT_EQ(S(e.Message()), S(QStringLiteral("Lost connection to MySQL server during query\nscripted peer closed")));
    EXPECT_EQ(f.peer->pauses, 2); // three tries, two pauses
}

TEST(MySqlNet, AClaimedLengthCostsMemoryOnlyAsItsBytesArrive)
{
    // A continuation packet that would pass the limit is refused at its
    // header, before its bytes are read.
    NetFixture g;
    g.net.SetMaxPayload(Max + 10);
    g.peer->Answer(Packet(0, pattern(Max)) + Hex("0b 00 00 01"));
    EXPECT_EQ(Raised([&] { g.net.Receive(); }).ErrorCode(), cr::NetPacketTooLarge);

    // A header claiming 16 MiB followed by 10 bytes and a close: the buffer
    // stays small.
    NetFixture h;
    h.peer->Answer(Hex("ff ff ff 00") + QByteArray(10, 'x')).Hangup();
    EXPECT_EQ(Raised([&] { h.net.Receive(); }).ErrorCode(), 2013);
    EXPECT_LE(h.net.GetBuffer().size(), 70000);
}

TEST(MySqlNet, ReceiveBufferAndSkipBufferReadOnePhysicalPacket)
{
    NetFixture f;
    f.peer->Answer(Packet(0, "row") + Packet(1, pattern(200000)) + Packet(2, EofPacket(0, 10)));
    EXPECT_EQ(f.net.ReceiveBuffer(), QByteArray("row"));
    const TMySqlNet::Skipped big = f.net.SkipBuffer(65536, true);
    EXPECT_EQ(big.length, 200000);
    EXPECT_EQ(big.firstByte, quint8(pattern(1)[0]));
    const TMySqlNet::Skipped eof = f.net.SkipBuffer(65536, true);
    EXPECT_EQ(eof.firstByte, 0xFE);
    EXPECT_EQ(eof.length, 5);
    EXPECT_TRUE(f.net.GetBuffer() == EofPacket(0, 10));

    NetFixture g;
    g.peer->Answer(Packet(0, ErrorPacket(1317, "#70100Query execution was interrupted")));
    EXPECT_EQ(Raised([&] { g.net.SkipBuffer(65536, true); }).ErrorCode(), 1317);

    NetFixture h;
    h.peer->Answer(Packet(0, pattern(Max)));
    const EMyError e = Raised([&] { h.net.ReceiveBuffer(); });
    EXPECT_EQ(S(e.Message()), S(QStringLiteral("Cannot retrieve huge data in FetchAll mode")));
}

TEST(MySqlNet, CompressedFramingBothWays)
{
    NetFixture f;
    f.net.SetCompress(true);
    // Short packets go out as they are, with uncompressed length 0.
    f.peer->Expect(compressedPacket(0, Packet(0, Hex("0e")), 0));
    const QByteArray query = QByteArray(1, char(3)) + QByteArray(300, 'a');
    f.peer->Expect(compressedPacket(0, zlibPacked(Packet(0, query)), quint32(query.size() + 4)));
    f.net.NewCommand();
    f.net.WriteByte(0x0E);
    f.net.Send();
    EXPECT_EQ(f.net.GetSequence(), 1);
    f.net.NewCommand();
    f.net.WriteByte(3);
    f.net.WriteOrSendBytes(QByteArray(300, 'a'));
    f.net.Send();
    EXPECT_EQ(f.peer->Verify(), QString());

    // Incoming: two packets in one compressed packet, then a raw one; the
    // compressed sequence is checked, the inner one is not.
    const QByteArray inner = Packet(1, OkPacket()) + Packet(5, QByteArray(100, 'z'));
    f.peer->Answer(compressedPacket(1, zlibPacked(inner), quint32(inner.size())));
    f.peer->Answer(compressedPacket(2, Packet(9, "raw"), 0));
    f.net.Receive();
    EXPECT_TRUE(f.net.GetBuffer() == OkPacket());
    f.net.Receive();
    EXPECT_TRUE(f.net.GetBuffer() == QByteArray(100, 'z'));
    f.net.Receive();
    EXPECT_TRUE(f.net.GetBuffer() == QByteArrayView("raw"));
    EXPECT_EQ(f.peer->Verify(), QString());
}

TEST(MySqlNet, CompressedFramingFaults)
{
    const QByteArray inner = Packet(0, QByteArray(100, 'z'));
    struct Case {
        const char* name;
        QByteArray wire;
        int code;
        QString message;
    };
    const QByteArray packed = zlibPacked(inner);
    const Case cases[] = {
        {"out of order", compressedPacket(3, packed, quint32(inner.size())), 1156,
            QStringLiteral("ReceiveCompHeader: Net packets out of order: received[3], expected[0]")},
        {"shorter than announced", compressedPacket(0, packed, quint32(inner.size() + 1)), 1157, QString()},
        {"longer than announced", compressedPacket(0, packed, quint32(inner.size() - 1)), 1157, QString()},
        {"not zlib", compressedPacket(0, QByteArray(20, 'q'), 100), 1157, QString()},
        // A tiny packet that claims 16 MiB is refused for what it holds.
        {"claims 16 MiB", compressedPacket(0, packed, 0xFFFFFF), 1157, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NetFixture f;
        f.net.SetCompress(true);
        f.peer->Answer(c.wire);
        const EMyError e = Raised([&] { f.net.Receive(); });
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(S(e.Message()), S(c.message));
    }
}
