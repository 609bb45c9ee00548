#include "remote/DataBlock.h"

#include "remote/RemoteErrors.h"
#include "remote/RemoteTestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

// The process's resident memory in bytes, or -1 where the system does not
// say (Linux: /proc/self/statm, in pages).
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : -1;
}

TEST(DataBlock, TheHeaderCarriesTheSignatureAndThePayloadLength)
{
    const DataBlockRef block = TDataBlock::Create(CallSig | asFreeObject);
    EXPECT_EQ(block->GetBytesReserved(), 8);
    EXPECT_EQ(ToHex(block->GetMemory().toByteArray()), "05 da 00 00 00 00 00 00");
    block->WriteBytes(Hex("03000000 02000000"));
    EXPECT_EQ(block->GetSize(), 8);
    EXPECT_EQ(ToHex(block->GetMemory().toByteArray()), "05 da 00 00 08 00 00 00 03 00 00 00 02 00 00 00");
    block->SetSignature(0x1234DB04);
    EXPECT_EQ(block->GetSignature(), 0x1234DB04);

    // A stream taken earlier keeps its bytes when the block changes.
    const QByteArray stream = block->GetStream();
    block->WriteBytes(Hex("FF"));
    EXPECT_EQ(stream.size(), 16);
    EXPECT_EQ(ToHex(block->GetMemory().first(8).toByteArray()), "04 db 34 12 09 00 00 00");
}

TEST(DataBlock, ReadingTakesWhatIsLeftAndClearingKeepsTheSignatureForTheReply)
{
    const DataBlockRef block = TDataBlock::FromBytes(Hex("02DA0000 06000000 010203040506"));
    char buffer[4] = {};
    EXPECT_EQ(block->Read(buffer, 4), 4);
    EXPECT_EQ(ToHex(QByteArray(buffer, 4)), "01 02 03 04");
    EXPECT_EQ(block->Read(buffer, 4), 2);
    EXPECT_EQ(block->Read(buffer, 4), 0);

    block->Clear();
    EXPECT_EQ(block->GetSize(), 0);
    EXPECT_EQ(block->GetSignature(), 0xDA02);
    block->SetSignature(ResultSig | asInvoke);
    block->WriteBytes(Hex("0B000000 FFFF"));
    EXPECT_EQ(ToHex(block->GetStream()), "02 db 00 00 06 00 00 00 0b 00 00 00 ff ff");
    EXPECT_EQ(block->Read(buffer, 4), 4);
    EXPECT_EQ(ToHex(QByteArray(buffer, 4)), "0b 00 00 00");
}

TEST(DataBlock, SetSizeZeroFillsAndKeepsTheReadPositionInside)
{
    const DataBlockRef block = TDataBlock::FromBytes(Hex("02DA0000 04000000 01020304"));
    block->Skip(3);
    block->SetSize(2);
    EXPECT_TRUE(block->Unread().isEmpty());
    block->SetSize(5);
    EXPECT_EQ(ToHex(Payload(*block)), "01 02 00 00 00");
    EXPECT_EQ(ToHex(block->Unread().toByteArray()), "00 00 00");
    EXPECT_THROW(block->SetSize(MaxPayloadSize + 1), EInterpreterError);
    EXPECT_EQ(block->GetSize(), 5);
}

TEST(DataBlock, InitDataAdoptsTheBufferAndChecksItsLength)
{
    const QByteArray bytes = Hex("04DB0000 08000000 09000000 03000000");
    const DataBlockRef block = TDataBlock::FromBytes(bytes);
    EXPECT_EQ(block->Unread().data(), bytes.constData() + 8);
    EXPECT_EQ(block->GetSignature(), 0xDB04);

    for (const char* bad : {"", "04DB0000 080000", "04DB0000 09000000 09000000 03000000"}) {
        SCOPED_TRACE(bad);
        try {
            TDataBlock::FromBytes(Hex(bad));
            ADD_FAILURE() << "accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(S(e.Message()), "Invalid data packet");
        }
    }
    EXPECT_EQ(TDataBlock::FromBytes(Hex("04DB0000 09000000 09000000"), false)->GetSize(), 4);
}

TEST(DataBlock, TakeUnreadHandsOverThePayloadWithoutCopying)
{
    const DataBlockRef block = PayloadBlock(Hex("03000000 00000000 AABBCCDD"), 0xDB02);
    block->Skip(8);
    const char* where = block->Unread().data();
    const QByteArray rest = block->TakeUnread();
    EXPECT_EQ(rest.constData(), where);
    EXPECT_EQ(ToHex(rest), "aa bb cc dd");
    EXPECT_EQ(block->GetSize(), 0);
    EXPECT_EQ(block->GetSignature(), 0xDB02);
    block->WriteBytes(Hex("01000000"));
    EXPECT_EQ(ToHex(block->GetStream()), "02 db 00 00 04 00 00 00 01 00 00 00");
}

// A peer announcing 2 GiB and sending nothing must cost nothing: the room
// grows with the bytes that have arrived, never with the announcement.
TEST(DataBlock, RoomForArrivingBytesGrowsWithWhatArrivedNotWithWhatWasAnnounced)
{
    const DataBlockRef block = TDataBlock::Create(ResultSig | asInvoke);
    std::span<char> room = block->ReserveTail(MaxPayloadSize);
    EXPECT_EQ(room.size(), 64u * 1024);
    EXPECT_EQ(block->GetSize(), 0);
    block->CommitTail(0);

    qint64 arrived = 0;
    const qint64 total = 3 * 1024 * 1024 + 5;
    qint64 largestRoom = 0;
    while (arrived < total) {
        room = block->ReserveTail(total - arrived);
        ASSERT_FALSE(room.empty());
        largestRoom = std::max(largestRoom, qint64(room.size()));
        // The room never runs ahead of the block by more than its size.
        EXPECT_LE(qint64(room.size()), std::max(8 + arrived, qint64(64 * 1024)));
        const qint64 n = std::min(qint64(room.size()), qint64(1000));
        std::fill_n(room.data(), n, char('a' + arrived % 26));
        block->CommitTail(n);
        arrived += n;
        EXPECT_EQ(block->GetSize(), arrived);
    }
    EXPECT_GT(largestRoom, 64 * 1024);
    EXPECT_EQ(block->GetStream().size(), 8 + total);
    EXPECT_EQ(block->Unread()[0], 'a');

    // A room that is not committed is dropped by the next call.
    block->ReserveTail(10);
    block->WriteBytes(Hex("01"));
    EXPECT_EQ(block->GetSize(), total + 1);
}

// A large payload gets the rest of its room reserved at once when 8 MiB
// have arrived; the memory behind it is only taken as the bytes come, so a
// peer that announces 2 GiB and stops after 10 MiB costs about 10 MiB.
TEST(DataBlock, ALargeAnnouncedPayloadTakesMemoryOnlyAsItsBytesArrive)
{
    const qint64 before = residentBytes();
    const DataBlockRef block = TDataBlock::Create(ResultSig | asInvoke);
    const qint64 arrived = 10 * 1024 * 1024 + 7;
    qint64 done = 0;
    while (done < arrived) {
        const std::span<char> room = block->ReserveTail(MaxPayloadSize - done);
        ASSERT_FALSE(room.empty());
        const qint64 n = std::min({qint64(room.size()), qint64(100 * 1000), arrived - done});
        for (qint64 i = 0; i < n; ++i)
            room[size_t(i)] = char((done + i) % 251);
        block->CommitTail(n);
        done += n;
    }
    block->ReserveTail(MaxPayloadSize - done);
    block->CommitTail(0);
    EXPECT_EQ(block->GetSize(), arrived);
    const QByteArrayView payload = block->Unread();
    for (qint64 i = 0; i < arrived; i += 4093)
        ASSERT_EQ(payload[i], char(i % 251)) << i;
    if (before > 0) {
        EXPECT_LT(residentBytes() - before, 64 * 1024 * 1024);
    }

    // The payload is handed over without a copy and stays intact.
    const QByteArray taken = block->TakeUnread();
    EXPECT_EQ(taken.size(), arrived);
    EXPECT_EQ(taken.back(), char((arrived - 1) % 251));
}

} // namespace
