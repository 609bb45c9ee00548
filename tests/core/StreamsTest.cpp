#include "core/Streams.h"
#include "core/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace velkaro;
using velkaro::testing::ReadFile;
using velkaro::testing::WriteFile;

namespace {

} // namespace

TEST(MemoryStream, ReadWriteSeekAndSize)
{
    TMemoryStream s;
    EXPECT_EQ(s.Write("hello", 5), 5);
    EXPECT_EQ(s.Position(), 5);
    EXPECT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Seek(-3, SeekOrigin::End), 2);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 3); // only what is there
    EXPECT_EQ(QByteArray(buf, 3), QByteArray("llo"));
    EXPECT_EQ(s.Read(buf, 8), 0);

    // Writing past the end leaves zeros in the gap.
    s.SetPosition(7);
    s.WriteBuffer("!", 1);
    EXPECT_EQ(s.Bytes(), QByteArray("hello\0\0!", 8));

    // Shrinking pulls a position beyond the new end back to it.
    s.SetSize(3);
    EXPECT_EQ(s.Position(), 3);
    EXPECT_EQ(s.Bytes(), QByteArray("hel"));
    s.SetSize(5);
    EXPECT_EQ(s.Bytes(), QByteArray("hel\0\0", 5));
    EXPECT_EQ(QByteArray(s.Memory(), 3), QByteArray("hel"));
}

TEST(MemoryStream, AdoptsBytesWithoutCopying)
{
    QByteArray bytes("abcdef");
    TMemoryStream s(bytes);
    EXPECT_EQ(s.Bytes().constData(), bytes.constData());
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(s.Size(), 6);
}

TEST(MemoryStream, RefusesToGrowBeyondTheSizeLimit)
{
    TMemoryStream s;
    EXPECT_THROW(s.SetSize(TMemoryStream::MaxSize + 1), EStreamError);
    s.SetPosition(TMemoryStream::MaxSize);
    EXPECT_THROW(s.Write("x", 1), EStreamError);
    EXPECT_EQ(s.Size(), 0);
}

TEST(Stream, BufferOperationsRaiseOnShortCounts)
{
    TMemoryStream s(QByteArray("abc"));
    char buf[4];
    try {
        s.ReadBuffer(buf, 4);
        FAIL() << "no error";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Stream read error"));
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.bin"));
    WriteFile(path, "xyz");
    TFileStream readOnly(path, FileOpenMode::Read);
    try {
        readOnly.WriteBuffer("q", 1);
        FAIL() << "no error";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Stream write error"));
    }
}

TEST(Stream, CopyFromWholeSourceOrCount)
{
    TMemoryStream source(QByteArray(200000, 'a') + QByteArray("tail"));
    source.SetPosition(1000);
    TMemoryStream whole;
    EXPECT_EQ(whole.CopyFrom(source, 0), 200004);
    EXPECT_EQ(whole.Bytes(), source.Bytes());

    source.SetPosition(199998);
    TMemoryStream part;
    EXPECT_EQ(part.CopyFrom(source, 6), 6);
    EXPECT_EQ(part.Bytes(), QByteArray("aatail"));
    EXPECT_THROW(part.CopyFrom(source, 1), EReadError);
}

TEST(FileStream, CreateWriteReadAndResize)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    WriteFile(path, QByteArray(100, 'o'));
    {
        TFileStream s(path, FileOpenMode::Create); // empties the old content
        EXPECT_EQ(s.Size(), 0);
        s.WriteBuffer("0123456789", 10);
        s.SetPosition(2);
        char buf[3];
        s.ReadBuffer(buf, 3);
        EXPECT_EQ(QByteArray(buf, 3), QByteArray("234"));
        s.SetSize(4);
        EXPECT_EQ(s.Position(), 4);
        EXPECT_EQ(s.Size(), 4);
    }
    EXPECT_EQ(ReadFile(path), QByteArray("0123"));

    TFileStream r(path, FileOpenMode::Read);
    EXPECT_EQ(r.Seek(-1, SeekOrigin::End), 3);
    EXPECT_EQ(r.Seek(-10, SeekOrigin::Current), 3); // before the start: stays
}

TEST(FileStream, OpenAndCreateErrorsNameTheFileAndTheReason)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.bin"));
    const QString inMissingFolder = dir.filePath(QStringLiteral("no/such/folder/new.bin"));
    struct Case {
        const char* name;
        QString path;
        FileOpenMode mode;
        QString message;
    };
    const QString reason = QStringLiteral("No such file or directory");
    const Case cases[] = {
        {"read", missing, FileOpenMode::Read, QStringLiteral("Cannot open file \"%1\". %2").arg(missing, reason)},
        {"write", missing, FileOpenMode::ReadWrite, QStringLiteral("Cannot open file \"%1\". %2").arg(missing, reason)},
        {"create", inMissingFolder, FileOpenMode::Create,
            QStringLiteral("Cannot create file \"%1\". %2").arg(inMissingFolder, reason)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            TFileStream s(c.path, c.mode);
            ADD_FAILURE() << "opened";
        } catch (const EStreamError& e) {
            EXPECT_STREQ(e.ClassName(), c.mode == FileOpenMode::Create ? "EFCreateError" : "EFOpenError");
            EXPECT_EQ(e.Message(), c.message);
        }
    }
    EXPECT_FALSE(QFile::exists(missing));

    // A relative name is shown in full.
    const QString relative = QStringLiteral("velkaro-surely-missing.bin");
    try {
        TFileStream s(relative, FileOpenMode::Read);
        ADD_FAILURE() << "opened";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(),
            QStringLiteral("Cannot open file \"%1\". %2").arg(QDir::current().absoluteFilePath(relative), reason));
    }
}
