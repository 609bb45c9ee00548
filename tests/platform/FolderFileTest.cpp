// Opening the files of one folder by name: nothing outside it is opened,
// whatever the name or the folder's links say.

#include "platform/FolderFile.h"
#include "platform/FolderFile_p.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace velkaro::platform;

namespace {

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

class FolderFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        folder_ = root_.path() + QStringLiteral("/release");
        ASSERT_TRUE(QDir().mkpath(folder_ + QStringLiteral("/sub")));
        write(folder_ + QStringLiteral("/Velkaro-1.0.1.exe"), "program");
        write(folder_ + QStringLiteral("/sub/Inner.exe"), "inner");
        write(root_.path() + QStringLiteral("/secret.txt"), "secret");
        ASSERT_TRUE(QFile::link(QStringLiteral("Velkaro-1.0.1.exe"), folder_ + QStringLiteral("/Velkaro.exe")));
        ASSERT_TRUE(QFile::link(root_.path() + QStringLiteral("/secret.txt"), folder_ + QStringLiteral("/Out.exe")));
        ASSERT_TRUE(QFile::link(QStringLiteral("../secret.txt"), folder_ + QStringLiteral("/Up.exe")));
        ASSERT_TRUE(QFile::link(QStringLiteral("/etc"), folder_ + QStringLiteral("/etc")));
        ASSERT_TRUE(QFile::link(QStringLiteral("Missing.exe"), folder_ + QStringLiteral("/Dangling.exe")));
        ASSERT_EQ(::mkfifo(QFile::encodeName(folder_ + QStringLiteral("/Pipe.exe")).constData(), 0600), 0);
    }

    QTemporaryDir root_;
    QString folder_;
};

TEST_F(FolderFileTest, OpensFilesInsideAndNothingOutside)
{
    const struct {
        const char* name;
        FolderFileStatus status;
        QByteArray content;
    } cases[] = {
        {"Velkaro-1.0.1.exe", FolderFileStatus::Ok, "program"},
        {"Velkaro.exe", FolderFileStatus::Ok, "program"}, // a link inside the folder
        {"sub/Inner.exe", FolderFileStatus::Ok, "inner"},
        {"Missing.exe", FolderFileStatus::NotFound, {}},
        {"Dangling.exe", FolderFileStatus::NotFound, {}},
        {"sub", FolderFileStatus::NotRegular, {}},
        {"Pipe.exe", FolderFileStatus::NotRegular, {}}, // and the open does not wait for a writer
        {"Out.exe", FolderFileStatus::Outside, {}}, // an absolute link out
        {"Up.exe", FolderFileStatus::Outside, {}}, // a relative link out
        {"../secret.txt", FolderFileStatus::Outside, {}},
        {"sub/../../secret.txt", FolderFileStatus::Outside, {}},
        {"etc/passwd", FolderFileStatus::Outside, {}},
        {"/etc/passwd", FolderFileStatus::Outside, {}},
    };
    for (const bool openat2 : {true, false}) {
        SCOPED_TRACE(openat2 ? "openat2" : "checked after the open");
        internal::UseOpenat2(openat2);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            QFile file;
            const FolderFileResult r = OpenFileInFolder(folder_, QString::fromLatin1(c.name), file);
            EXPECT_EQ(r.status, c.status) << r.ErrorText().toStdString();
            EXPECT_EQ(file.isOpen(), c.status == FolderFileStatus::Ok);
            if (c.status == FolderFileStatus::Ok) {
                EXPECT_EQ(file.size(), c.content.size());
                EXPECT_EQ(file.readAll(), c.content);
            } else {
                EXPECT_FALSE(r.ErrorText().isEmpty());
            }
        }
    }
    internal::UseOpenat2(true);
}

TEST_F(FolderFileTest, AMissingFolderIsNotFound)
{
    QFile file;
    EXPECT_EQ(OpenFileInFolder(folder_ + QStringLiteral("/none"), QStringLiteral("Velkaro.exe"), file).status,
        FolderFileStatus::NotFound);
}

// A file replaced after it was opened: the open file keeps its own size and
// bytes, which is what a server sends.
TEST_F(FolderFileTest, TheOpenFileKeepsItsSizeWhenTheNameIsReplaced)
{
    QFile file;
    ASSERT_TRUE(OpenFileInFolder(folder_, QStringLiteral("Velkaro-1.0.1.exe"), file).Ok());
    const QString replacement = folder_ + QStringLiteral("/new.tmp");
    write(replacement, "a much longer program than before");
    ASSERT_TRUE(QFile::remove(folder_ + QStringLiteral("/Velkaro-1.0.1.exe")));
    ASSERT_TRUE(QFile::rename(replacement, folder_ + QStringLiteral("/Velkaro-1.0.1.exe")));
    EXPECT_EQ(file.size(), 7);
    EXPECT_EQ(file.readAll(), QByteArray("program"));
}

} // namespace
