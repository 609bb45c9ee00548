// Starting a downloaded program: it arrives without execute bits and must
// start anyway, detached and without a shell.

#include "platform/Launcher.h"
#include "support/Fixtures.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

TEST(Launcher, StartsAPlainFileAfterMakingItExecutable)
{
    TempExeFolder folder;
    const QString marker = folder.File(QStringLiteral("started"));
    // The path has a blank and a quote: no shell may see it.
    const QString name = QStringLiteral("Velkaro 'new'.exe");
    folder.Write(name, "#!/bin/sh\necho \"$#\" > \"$(dirname \"$0\")/started\"\n");
    QFile::setPermissions(folder.File(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);

    ASSERT_TRUE(platform::Programs().Open(folder.File(name)));

    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(marker) && waited.elapsed() < 10000)
        QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(marker));
    QThread::msleep(50);
    EXPECT_EQ(folder.Read(QStringLiteral("started")), QByteArray("0\n")) << "started with no arguments";
    const auto p = QFile::permissions(folder.File(name));
    EXPECT_TRUE(p & QFile::ExeOwner);
    EXPECT_TRUE(p & QFile::ExeGroup);
    EXPECT_FALSE(p & QFile::ExeOther) << "only where the file was readable";
}

TEST(Launcher, MissingProgramIsReportedNotRaised)
{
    TempExeFolder folder;
    EXPECT_FALSE(platform::Programs().Open(folder.File(QStringLiteral("Velkaro.exe"))));
}
