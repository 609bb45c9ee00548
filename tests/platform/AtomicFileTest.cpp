// Replacing a file: a write refused part way says why and costs nothing.

#include "platform/AtomicFile.h"
#include "support/Fixtures.h"

#include <QDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace velkaro;
using namespace velkaro::testing;

TEST(AtomicFile, WriteRefusedPartWayGivesTheSystemsReasonAndKeepsTheTarget)
{
    TempExeFolder folder;
    const QString target = folder.File(QStringLiteral("Config.cds"));
    folder.Write(QStringLiteral("Config.cds"), QByteArray("old"));
    const QByteArray data(10000, 'x');

    platform::AtomicFile file(target);
    ASSERT_TRUE(file.Open());
    // Files of this process may not grow beyond 4096 bytes for a moment, as
    // on a full disk: the first 4096 bytes go, the rest is refused.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = file.Write(data.constData(), data.size());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(file.ErrorString(), QStringLiteral("File too large"));
    EXPECT_FALSE(file.RenameFailed());
    EXPECT_EQ(folder.Read(QStringLiteral("Config.cds")), QByteArray("old"));
    EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files), QStringList {"Config.cds"}) << "no temporary left";
}

TEST(AtomicFile, CommitReplacesTheTarget)
{
    TempExeFolder folder;
    folder.Write(QStringLiteral("f"), QByteArray("old content"));
    platform::AtomicFile file(folder.File(QStringLiteral("f")));
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write("new", 3));
    ASSERT_TRUE(file.Commit()) << file.ErrorString().toStdString();
    EXPECT_EQ(folder.Read(QStringLiteral("f")), QByteArray("new"));
    EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files), QStringList {"f"});
}
