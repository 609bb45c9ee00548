#include "inhouse/Streamer.h"
#include "core/Collection.h"
#include "core/ComponentStreaming.h"
#include "core/Exceptions.h"
#include "data/ClientDataSet.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/Fixtures.h"
#include "support/StreamSamples.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>

using namespace velkaro;
using velkaro::testing::Hex;
using velkaro::testing::ReadFile;
using velkaro::testing::ToHex;
using velkaro::testing::TSample;
using velkaro::testing::TSampleItem;
using velkaro::testing::U;
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

// A memory stream that notes the size of each write.
class WriteCountingStream : public TMemoryStream {
public:
    qint64 Write(const void* buffer, qint64 count) override
    {
        writes.push_back(count);
        return TMemoryStream::Write(buffer, count);
    }
    std::vector<qint64> writes;
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
    QString message;
    try {
        streamer.VariantToFile(File("Velkaro.exe"), Variant::FromBytes(pattern(10000)));
    } catch (const Exception& e) {
        className = e.ClassName();
        message = e.Message();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(className, "EWriteError");
    EXPECT_EQ(message, "Stream write error: File too large") << "the system's reason comes along";
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
    EXPECT_TRUE(Convert->FCompressed);
    Convert->SetCompressed(false);
    EXPECT_FALSE(Convert->FCompressed);
    FinalizeStreamer();
    EXPECT_EQ(Convert, nullptr);
}

// ---- Blob fields -----------------------------------------------------------

namespace {

const QByteArray FiveBytes = Hex("01 02 03 04 05");

// A table with one row: a blob holding 01 02 03 04 05, an empty blob, a
// memo, a wide memo and three fields that are no blobs.
class BlobFields : public StreamerTest {
protected:
    void SetUp() override
    {
        table.SetName(QStringLiteral("cdsDocs"));
        table.FieldDefs() = {{QStringLiteral("Doc"), TFieldType::ftBlob}, {QStringLiteral("Copy"), TFieldType::ftBlob},
            {QStringLiteral("Note"), TFieldType::ftMemo}, {QStringLiteral("WNote"), TFieldType::ftWideMemo},
            {QStringLiteral("Title"), TFieldType::ftWideString, 10}, {QStringLiteral("Code"), TFieldType::ftString, 4},
            {QStringLiteral("Num"), TFieldType::ftInteger}};
        table.CreateDataSet();
        table.Append();
        Field("Doc")->SetAsBytes(FiveBytes);
        Field("Note")->SetAsBytes("memo");
        Field("WNote")->SetValue(Variant(U("บันทึก")));
        Field("Title")->SetValue(Variant(QStringLiteral("title")));
        Field("Code")->SetAsBytes("AB");
        Field("Num")->SetValue(Variant(42));
        table.Post();
    }

    TField* Field(const char* name) { return table.FieldByName(QString::fromLatin1(name)); }

    TClientDataSet table;
};

} // namespace

TEST_F(BlobFields, BlobToFileAndBackIntoAFieldInEditMode)
{
    EXPECT_TRUE(streamer.BlobToFile(table, QStringLiteral("Doc"), File("doc.bin")));
    EXPECT_EQ(ToHex(ReadFile(File("doc.bin"))), ToHex(FiveBytes));

    table.Edit();
    EXPECT_TRUE(streamer.FileToBlob(table, QStringLiteral("Copy"), File("doc.bin")));
    EXPECT_EQ(ToHex(Field("Copy")->AsBytes()), ToHex(FiveBytes));
    table.Post();
    EXPECT_EQ(ToHex(Field("Copy")->AsBytes()), ToHex(FiveBytes));

    // Not in edit mode: nothing is stored.
    WriteFile(File("other.bin"), "other");
    EXPECT_FALSE(streamer.FileToBlob(table, QStringLiteral("Copy"), File("other.bin")));
    EXPECT_EQ(ToHex(Field("Copy")->AsBytes()), ToHex(FiveBytes));
}

TEST_F(BlobFields, BlobToFileReplacesTheFileAsAWholeOrNotAtAll)
{
    const QByteArray old = pattern(3000);
    WriteFile(File("doc.bin"), old);
    EXPECT_TRUE(streamer.BlobToFile(table, QStringLiteral("Doc"), File("doc.bin")));
    EXPECT_EQ(ToHex(ReadFile(File("doc.bin"))), ToHex(FiveBytes)) << "nothing of the longer old file remains";
    EXPECT_TRUE(streamer.BlobToFile(table, QStringLiteral("Copy"), File("empty.bin")));
    EXPECT_EQ(ReadFile(File("empty.bin")), QByteArray());

    WriteFile(File("doc.bin"), old);
    try {
        streamer.BlobToFile(table, QStringLiteral("Nope"), File("doc.bin"));
        FAIL() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("cdsDocs: Field 'Nope' not found"));
    }
    EXPECT_EQ(ReadFile(File("doc.bin")), old);

    // A disk that takes only 1000 more bytes of this process's files.
    table.Edit();
    Field("Doc")->SetAsBytes(pattern(10000));
    table.Post();
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = streamer.BlobToFile(table, QStringLiteral("Doc"), File("doc.bin"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFile(File("doc.bin")), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList {"doc.bin", "empty.bin"})) << "no leftovers";
}

TEST_F(BlobFields, FilesThatCannotBeOpenedOrCreated)
{
    try {
        streamer.FileToBlob(table, QStringLiteral("Doc"), File("missing.bin"));
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(
            e.Message(), QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(File("missing.bin")));
    }
    try {
        streamer.BlobToFile(table, QStringLiteral("Doc"), File("no/such/folder/doc.bin"));
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_TRUE(
            e.Message().startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(File("no/such/folder/doc.bin"))))
            << e.what();
    }
}

TEST_F(BlobFields, LoadFromBlobWritesTheFieldsBytesAtThePositionThenRewinds)
{
    struct Case {
        const char* field;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"Doc", FiveBytes},
        {"Copy", QByteArray()}, // null: nothing is written
        {"Note", "memo"},
        {"WNote", U("บันทึก").toUtf8()},
        {"Title", "title"},
        {"Num", "42"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        TMemoryStream s(QByteArray("xyz"));
        s.SetPosition(1);
        EXPECT_TRUE(streamer.LoadFromBlob(Field(c.field), &s));
        EXPECT_EQ(ToHex(s.Bytes()), ToHex(QByteArray("x") + c.bytes + QByteArray("xyz").mid(1 + c.bytes.size())));
        EXPECT_EQ(s.Position(), 0);
    }
    TMemoryStream s;
    EXPECT_FALSE(streamer.LoadFromBlob(nullptr, &s));
    EXPECT_FALSE(streamer.LoadFromBlob(Field("Doc"), nullptr));
}

TEST_F(BlobFields, SaveToBlobStoresTheWholeStreamOnlyWhenTheFieldHoldsItExactly)
{
    struct Case {
        const char* name;
        const char* field;
        QByteArray stream;
        bool stored;
    };
    const Case cases[] = {
        {"bytes into a blob", "Doc", Hex("00 FF 00 7F"), true},
        {"nothing into a blob", "Doc", QByteArray(), true},
        {"8-bit text into a memo", "Note", Hex("A1 A2 41"), true},
        {"UTF-8 into a wide memo", "WNote", U("ข้อความ").toUtf8(), true},
        {"bytes that are not UTF-8 into a wide memo", "WNote", Hex("C3 28"), false},
        {"too long for the text field", "Code", "ABCDE", false},
        {"fits the text field", "Code", "ABCD", true},
        {"a number into a number", "Num", "123", true},
        {"text into a number", "Num", "12a", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        table.Edit();
        const QByteArray before = Field(c.field)->AsBytes();
        TMemoryStream s(c.stream);
        s.SetPosition(c.stream.size() / 2); // the whole stream counts
        EXPECT_EQ(streamer.SaveToBlob(&s, Field(c.field)), c.stored);
        EXPECT_EQ(ToHex(Field(c.field)->AsBytes()), ToHex(c.stored ? c.stream : before));
        table.Cancel();
    }

    // Not in edit or insert mode.
    TMemoryStream s(QByteArray("new"));
    EXPECT_FALSE(streamer.SaveToBlob(&s, Field("Doc")));
    EXPECT_EQ(ToHex(Field("Doc")->AsBytes()), ToHex(FiveBytes));
    EXPECT_FALSE(streamer.SaveToBlob(nullptr, Field("Doc")));
    table.Edit();
    EXPECT_FALSE(streamer.SaveToBlob(&s, nullptr));
    table.Cancel();
}

TEST_F(BlobFields, BlobFieldToOleVariantAndTheCompressOperations)
{
    const Variant doc = streamer.BlobFieldToOleVariant(table, QStringLiteral("Doc"));
    ASSERT_EQ(doc.VType(), varArray | varByte);
    EXPECT_EQ(ToHex(doc.ByteArrayData()), ToHex(FiveBytes));
    const Variant empty = streamer.BlobFieldToOleVariant(table, QStringLiteral("Copy"));
    ASSERT_EQ(empty.VType(), varArray | varByte);
    EXPECT_EQ(empty.Array()->Bounds()[0].low, 0);
    EXPECT_EQ(empty.Array()->Bounds()[0].high, -1);
    EXPECT_EQ(streamer.BlobFieldToOleVariant(table, QStringLiteral("WNote")).ByteArrayData(), U("บันทึก").toUtf8());
    EXPECT_TRUE(streamer.BlobFieldToOleVariant(table, QStringLiteral("Title")).IsNull());
    EXPECT_TRUE(streamer.BlobFieldToOleVariant(table, QStringLiteral("Num")).IsNull());
    EXPECT_THROW(streamer.BlobFieldToOleVariant(table, QStringLiteral("Nope")), EDatabaseError);

    table.Edit();
    TMemoryStream s(QByteArray("zzz"));
    EXPECT_FALSE(streamer.SaveToBlobCompress(&s, Field("Doc")));
    EXPECT_FALSE(streamer.LoadFromBlobCompress(Field("Doc"), &s));
    EXPECT_EQ(ToHex(Field("Doc")->AsBytes()), ToHex(FiveBytes));
    EXPECT_EQ(s.Bytes(), QByteArray("zzz"));
    table.Cancel();
}

// ---- Components and collections ----------------------------------------------

namespace {

class StreamerComponents : public StreamerTest {
protected:
    void SetUp() override { RegisterClass<TSample>(); }
    void TearDown() override { UnRegisterClass(TSample::staticMetaObject); }

    static TCollection* captions(TCollection* c, int count, int width)
    {
        for (int i = 0; i < count; ++i)
            static_cast<TSampleItem*>(c->Add())->Caption = QString(width, QChar(u'a' + i % 26));
        return c;
    }
    static QStringList captionsOf(const TCollection& c)
    {
        QStringList list;
        for (int i = 0; i < c.Count(); ++i)
            list.append(static_cast<TSampleItem*>(c.Items(i))->Caption);
        return list;
    }
};

} // namespace

TEST_F(StreamerComponents, ComponentsThroughByteArraysAndText)
{
    TSample owner;
    auto* original = new TSample(&owner);
    original->SetName(QStringLiteral("smpDoc"));
    original->Caption = U("เอกสาร");
    original->Lines = {QStringLiteral("a"), QStringLiteral("b")};
    captions(original->Items(), 2, 3);

    const Variant v = streamer.ComponentToVariant(*original);
    ASSERT_EQ(v.VType(), varArray | varByte);
    EXPECT_EQ(v.Array()->Bounds()[0].low, 0);
    EXPECT_EQ(v.ByteArrayData(), ComponentToBinary(*original));

    const std::unique_ptr<QObject> copy = streamer.VariantToComponent(v);
    auto* sample = qobject_cast<TSample*>(copy.get());
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->parent(), nullptr) << "a new component without an owner";
    EXPECT_EQ(sample->Name(), QStringLiteral("smpDoc"));
    EXPECT_EQ(sample->Caption, original->Caption);
    EXPECT_EQ(sample->Lines, original->Lines);
    EXPECT_EQ(captionsOf(*sample->Items()), captionsOf(*original->Items()));

    const QString text = streamer.ComponentToString(*original);
    EXPECT_TRUE(text.startsWith(QStringLiteral("object smpDoc: velkaro::testing::TSample\n"))) << text.toStdString();
    EXPECT_EQ(ObjectTextToBinary(text), v.ByteArrayData());

    EXPECT_THROW(streamer.VariantToComponent(Variant(QStringLiteral("object"))), EVariantError);
    try {
        streamer.VariantToComponent(Variant::FromBytes("not a component"));
        FAIL() << "no error";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid stream format"));
    }
}

TEST_F(StreamerComponents, CollectionsThroughStreamsUseA4096ByteBuffer)
{
    TCollection stored(ItemClassOf<TSampleItem>());
    captions(&stored, 100, 40); // about 10,000 bytes
    const QByteArray bytes = CollectionToBinary(stored);
    ASSERT_GT(bytes.size(), 8192);

    WriteCountingStream out;
    out.WriteBuffer("head", 4);
    streamer.SaveCollectionToStream(stored, out);
    EXPECT_EQ(out.writes, (std::vector<qint64> {4, 4096, 4096, bytes.size() - 8192}));
    EXPECT_EQ(out.Bytes().mid(4), bytes);

    // Read from the stream's position; the stream is left just after the collection.
    CountingStream in(QByteArray("head") + bytes + QByteArray("tail"));
    in.SetPosition(4);
    TCollection target(ItemClassOf<TSampleItem>());
    streamer.LoadCollectionFromStream(in, target);
    EXPECT_EQ(captionsOf(target), captionsOf(stored));
    EXPECT_EQ(in.Position(), 4 + bytes.size());
    for (qint64 n : in.reads)
        EXPECT_LE(n, 4096);

    // A failure leaves the collection and the stream's position alone.
    TSample notACollection;
    TMemoryStream wrong(ComponentToBinary(notACollection));
    wrong.SetPosition(0);
    try {
        streamer.LoadCollectionFromStream(wrong, target);
        FAIL() << "no error";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid property value"));
    }
    EXPECT_EQ(wrong.Position(), 0);
    EXPECT_EQ(target.Count(), 100);
}

TEST_F(StreamerComponents, CollectionsThroughFiles)
{
    TCollection stored(ItemClassOf<TSampleItem>());
    captions(&stored, 3, 5);
    WriteFile(File("items.vkc"), pattern(50000));
    streamer.SaveCollectionToFile(stored, File("items.vkc"));
    EXPECT_EQ(ReadFile(File("items.vkc")), CollectionToBinary(stored)) << "the longer old file is gone";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList {"items.vkc"});

    TCollection target(ItemClassOf<TSampleItem>());
    streamer.LoadCollectionFromFile(File("items.vkc"), target);
    EXPECT_EQ(captionsOf(target), captionsOf(stored));

    EXPECT_THROW(streamer.LoadCollectionFromFile(File("missing.vkc"), target), EFOpenError);
    EXPECT_THROW(streamer.SaveCollectionToFile(stored, File("no/such/folder/items.vkc")), EFCreateError);
}
