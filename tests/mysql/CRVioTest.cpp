#include "mysql/CRVio.h"

#include "support/ScriptedVio.h"

#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

TEST(CRVio, SmallReadsAreServedFromTheReadAheadBuffer)
{
    ScriptedVio vio;
    vio.Connect();
    QByteArray stream(20000, Qt::Uninitialized);
    for (int i = 0; i < stream.size(); ++i)
        stream[i] = char(i);
    vio.Answer(stream);

    char header[4];
    ASSERT_EQ(vio.Read(header, 4), 4);
    EXPECT_EQ(vio.receives, 1); // one receive filled 16 KiB
    char small[100];
    ASSERT_EQ(vio.Read(small, 100), 100);
    EXPECT_EQ(vio.receives, 1);
    EXPECT_EQ(small[0], stream[4]);

    // A large read takes the rest of the buffer, then receives directly.
    QByteArray big(19896, Qt::Uninitialized);
    ASSERT_EQ(vio.Read(big.data(), big.size()), big.size());
    EXPECT_TRUE(big == stream.sliced(104));
    EXPECT_EQ(vio.receives, 2);
    EXPECT_EQ(vio.pauses, 0);
}

TEST(CRVio, AReceiveThatBringsNothingEndsTheReadAfterAPause)
{
    ScriptedVio vio;
    vio.Connect();
    vio.SetMaxChunk(1000);
    vio.Answer(QByteArray(3000, 'a')).Hangup();
    QByteArray big(5000, Qt::Uninitialized);
    EXPECT_EQ(vio.Read(big.data(), big.size()), 3000);
    EXPECT_EQ(vio.pauses, 1);
    EXPECT_EQ(vio.LastError(), QString()); // an orderly close
    char small[10];
    EXPECT_EQ(vio.Read(small, 10), 0);
    EXPECT_EQ(vio.pauses, 2);
}
