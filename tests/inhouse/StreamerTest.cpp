#include "inhouse/Streamer.h"
#include "core/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>

using namespace velkaro;
using velkaro::testing::ReadFile;
using velkaro::testing::WriteFile;

namespace {

QByteArray pattern(qsizetype n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

Variant byteArray(qint32 low, const QByteArray& bytes)
{
    return Variant(SafeArray::FromRaw(varByte, {{low, qint32(low + bytes.size() - 1)}}, bytes));
}

// A memory stream that notes how many bytes each read delivered.
class CountingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    qint64 Read(void* buffer, qint64 count) override
    {
        const qint64 n = TMemoryStream::Read(buffer, count);
        if (n > 0)
            reads.push_back(n);
        return n;
    }
    std::vector<qint64> reads;
};

// The file name of a folder that refuses new files while the object lives.
// Root passes permission checks regardless of mode bits, so a test run as
// root also gives up its file-system identity for the time being.
class WriteProtectedFolder {
public:
    explicit WriteProtectedFolder(const QString& path)
        : path_(path)
    {
        QFile::setPermissions(path_,
            QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                | QFile::ExeOther);
        if (::geteuid() == 0)
            ::setfsuid(65534);
    }
    ~WriteProtectedFolder()
    {
        if (::geteuid() == 0)
            ::setfsuid(0);
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private:
    QString path_;
};

class StreamerTest : public ::testing::Test {
protected:
    QString File(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    TStreamer streamer;
};

} // namespace

TEST_F(StreamerTest, FilesRoundTripThroughByteArrays)
{
    const QByteArray cases[] = {QByteArray(), QByteArray(1, '\0'), QByteArray("Velkaro"), pattern(100003)};
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.size());
        WriteFile(File("in.bin"), bytes);
        const Variant v = streamer.FileToVariant(File("in.bin"));
        ASSERT_EQ(v.VType(), varArray | varByte);
        ASSERT_EQ(v.Array()->DimCount(), 1);
        EXPECT_EQ(v.Array()->Bounds()[0].low, 0);
        EXPECT_EQ(v.Array()->Bounds()[0].high, bytes.size() - 1);
        EXPECT_EQ(v.ByteArrayData(), bytes);

        streamer.VariantToFile(File("out.bin"), v);
        EXPECT_EQ(ReadFile(File("out.bin")), bytes);
    }
}

TEST_F(StreamerTest, VariantToFileReplacesTheWholeOldContent)
{
    struct Case {
        const char* name;
        Variant value;
        QByteArray expected;
    };
    QByteArray abc("abc");
    const Case cases[] = {
        {"shorter array", Variant::FromBytes("new"), "new"},
        {"empty array", Variant::FromBytes(QByteArray()), ""},
        {"bounds 1 to 3", byteArray(1, "xyz"), "xyz"},
        {"bounds -5 to -4", byteArray(-5, "pq"), "pq"},
        {"array held by reference", Variant::ByRef(varVariant, new Variant(Variant::FromBytes(abc))), "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(File("Velkaro.exe"), pattern(5000));
        streamer.VariantToFile(File("Velkaro.exe"), c.value);
        EXPECT_EQ(ReadFile(File("Velkaro.exe")), c.expected);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList {"Velkaro.exe"}); // no leftovers
        if (c.value.IsByRef())
            delete static_cast<Variant*>(c.value.RefTarget());
    }
}

TEST_F(StreamerTest, VariantToFileRefusesOtherValuesAndKeepsTheOldFile)
{
    const Variant cases[] = {
        Variant(),
        Variant::Null(),
        Variant(42),
        Variant(QStringLiteral("MZ")),
        Variant(SafeArray(varByte, {{0, 1}, {0, 1}})),
        Variant(SafeArray(varWord, {{0, 3}})),
        Variant(SafeArray(varVariant, {{0, 3}})),
    };
    const QByteArray old = pattern(3000);
    for (const Variant& v : cases) {
        SCOPED_TRACE(Variant::TypeName(v.VType()).toStdString());
        WriteFile(File("Velkaro.exe"), old);
        EXPECT_THROW(streamer.VariantToFile(File("Velkaro.exe"), v), EVariantError);
        EXPECT_EQ(ReadFile(File("Velkaro.exe")), old);
        EXPECT_THROW(streamer.VariantToFile(File("new.exe"), v), EVariantError);
        EXPECT_FALSE(QFile::exists(File("new.exe")));
    }
}

TEST_F(StreamerTest, VariantToFileInAFolderThatRefusesNewFilesKeepsTheOldFile)
{
    ASSERT_TRUE(QFile::setPermissions(dir.path(),
        QFile::permissions(dir.path()) | QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));
    ASSERT_TRUE(QDir(dir.path()).mkdir("app"));
    const QString target = File("app/Velkaro.exe");
    const QByteArray old = pattern(3000);
    WriteFile(target, old);
    QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOther | QFile::WriteGroup);

    QString message;
    std::string className;
    {
        WriteProtectedFolder protect(File("app"));
        try {
            streamer.VariantToFile(target, Variant::FromBytes("new program"));
        } catch (const Exception& e) {
            className = e.ClassName();
            message = e.Message();
        }
    }
    EXPECT_EQ(className, "EFCreateError");
    EXPECT_EQ(message, QStringLiteral("Cannot create file \"%1\". Permission denied").arg(target));
    EXPECT_EQ(ReadFile(target), old);
}

TEST_F(StreamerTest, VariantToFileThatCannotWriteEverythingKeepsTheOldFile)
{
    const QByteArray old = pattern(3000);
    WriteFile(File("Velkaro.exe"), old);

    // Files of this process may not grow beyond 4096 bytes for a moment, as
    // on a full disk.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string className;
    try {
        streamer.VariantToFile(File("Velkaro.exe"), Variant::FromBytes(pattern(10000)));
    } catch (const Exception& e) {
        className = e.ClassName();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(className, "EWriteError");
    EXPECT_EQ(ReadFile(File("Velkaro.exe")), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList {"Velkaro.exe"});
}

TEST_F(StreamerTest, FileToVariantOfAMissingFile)
{
    try {
        streamer.FileToVariant(File("missing.exe"));
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(
            e.Message(), QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(File("missing.exe")));
    }
}

TEST_F(StreamerTest, RefusesFilesAboveTheSizeLimitBeforeReading)
{
    QFile sparse(File("huge.bin"));
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
    ASSERT_TRUE(sparse.resize(qint64(2147483647) + 1)); // a hole, no disk space
    sparse.close();
    EXPECT_THROW(streamer.FileToVariant(File("huge.bin")), EStreamError);
    TFileStream stream(File("huge.bin"), FileOpenMode::Read);
    EXPECT_THROW(streamer.MemoryStreamToOleVariant(stream), EStreamError);
    EXPECT_EQ(stream.Position(), 0);
}

TEST_F(StreamerTest, MemoryStreamsAndByteArrays)
{
    const QByteArray bytes = pattern(10000);
    using ToVariant = std::function<Variant(TStream&)>;
    const std::pair<const char*, ToVariant> readers[] = {
        {"MemoryStreamToOleVariant", [&](TStream& s) { return streamer.MemoryStreamToOleVariant(s); }},
        {"StreamToOleVariant",
            [&](TStream& s) {
                Variant v(1);
                streamer.StreamToOleVariant(s, v);
                return v;
            }},
        {"StreamToVariant",
            [&](TStream& s) {
                Variant v(1);
                streamer.StreamToVariant(s, v);
                return v;
            }},
    };
    for (const auto& [name, read] : readers) {
        SCOPED_TRACE(name);
        TMemoryStream s(bytes);
        s.SetPosition(1234); // the whole stream counts, wherever it stands
        const Variant v = read(s);
        EXPECT_EQ(v.Array()->Bounds()[0].low, 0);
        EXPECT_EQ(v.ByteArrayData(), bytes);
        EXPECT_EQ(s.Position(), bytes.size());
        TMemoryStream empty;
        EXPECT_EQ(read(empty).Array()->Bounds()[0].high, -1);
    }

    using FromVariant = std::function<void(const Variant&, TStream&)>;
    const std::pair<const char*, FromVariant> writers[] = {
        {"OleVariantToStream", [&](const Variant& v, TStream& s) { streamer.OleVariantToStream(v, s); }},
        {"VariantToStream", [&](const Variant& v, TStream& s) { streamer.VariantToStream(v, s); }},
    };
    for (const auto& [name, write] : writers) {
        SCOPED_TRACE(name);
        TMemoryStream s(pattern(20000)); // longer: the stream is cut to the array
        s.SetPosition(500);
        write(byteArray(1, bytes), s);
        EXPECT_EQ(s.Bytes(), bytes);
        EXPECT_EQ(s.Position(), 0);
        EXPECT_THROW(write(Variant(QStringLiteral("x")), s), EVariantError);
        EXPECT_EQ(s.Bytes(), bytes);
    }
}

TEST_F(StreamerTest, OleVariantToMemoryStream)
{
    const std::unique_ptr<TMemoryStream> s = streamer.OleVariantToMemoryStream(byteArray(1, "abc"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Bytes(), QByteArray("abc"));
    EXPECT_EQ(s->Position(), 3);

    const Variant notArrays[] = {Variant(), Variant::Null(), Variant(7), Variant(QStringLiteral("abc")),
        Variant(SafeArray(varInteger, {{0, 2}}))};
    for (const Variant& v : notArrays) {
        SCOPED_TRACE(Variant::TypeName(v.VType()).toStdString());
        EXPECT_EQ(streamer.OleVariantToMemoryStream(v), nullptr);
    }
}

TEST_F(StreamerTest, StreamEqualComparesSizesThenBlocks)
{
    struct Case {
        const char* name;
        QByteArray a;
        QByteArray b;
        bool equal;
        std::vector<qint64> reads;
    };
    QByteArray differs = pattern(10000);
    differs[9000] = char(~differs[9000]);
    const Case cases[] = {
        {"sizes 4096 and 4097", pattern(4096), pattern(4097), false, {}},
        {"equal 10,000 bytes", pattern(10000), pattern(10000), true, {4096, 4096, 1808}},
        {"last block differs", pattern(10000), differs, false, {4096, 4096, 1808}},
        {"both empty", QByteArray(), QByteArray(), true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CountingStream a(c.a);
        CountingStream b(c.b);
        a.SetPosition(c.a.size() / 2);
        EXPECT_EQ(streamer.StreamEqual(a, b), c.equal);
        EXPECT_EQ(a.reads, c.reads);
        EXPECT_EQ(b.reads, c.reads);
    }
}

TEST_F(StreamerTest, StreamToFileWritesFromThePositionInBlocksOf8192)
{
    struct Case {
        qint64 size;
        qint64 position;
        std::vector<qsizetype> blocks;
    };
    const Case cases[] = {
        {12000, 5000, {7000}},
        {20000, 0, {8192, 8192, 3616}},
        {8192, 0, {8192}},
        {100, 100, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.size << " from " << c.position);
        const QByteArray bytes = pattern(c.size);
        TMemoryStream s(bytes);
        s.SetPosition(c.position);
        platform::RecordingHandleWriter writer;
        platform::SetHandleWriter(&writer);
        streamer.StreamToFile(s, 42);
        platform::SetHandleWriter(nullptr);
        std::vector<qsizetype> sizes;
        for (const QByteArray& block : writer.blocks)
            sizes.push_back(block.size());
        EXPECT_EQ(sizes, c.blocks);
        EXPECT_EQ(writer.blocks.join(), bytes.mid(c.position));
        EXPECT_EQ(s.Position(), c.size);
        for (platform::FileHandle h : writer.handles)
            EXPECT_EQ(h, 42);
    }
}

TEST_F(StreamerTest, StreamToFileOnARealHandle)
{
    const QByteArray bytes = pattern(30000);
    TMemoryStream s(bytes);
    s.SetPosition(1000);
    const int fd = ::open(QFile::encodeName(File("out.bin")).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "head", 4), 4); // the handle's own position is respected
    streamer.StreamToFile(s, fd);
    ::close(fd);
    EXPECT_EQ(ReadFile(File("out.bin")), QByteArray("head") + bytes.mid(1000));

    // A handle that takes nothing is an error, not silent loss.
    TMemoryStream again(bytes);
    EXPECT_THROW(streamer.StreamToFile(again, -1), EWriteError);
}

TEST(Streamer, GlobalInstance)
{
    FinalizeStreamer();
    EXPECT_EQ(Convert, nullptr);
    InitializeStreamer();
    ASSERT_NE(Convert, nullptr);
    EXPECT_FALSE(Convert->FCompressed);
    FinalizeStreamer();
    EXPECT_EQ(Convert, nullptr);
}
