#pragma once
// Byte streams: an abstract stream with a position and a size, a stream in
// memory and a stream on a named file.
//
// Positions and sizes are 64-bit. Read and Write move as many bytes as they
// can and say how many; ReadBuffer and WriteBuffer insist on the full count
// and raise EReadError "Stream read error" / EWriteError "Stream write error"
// otherwise. A stream is used by one thread at a time.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace velkaro {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Copies up to Count bytes into Buffer from the position on and moves
    // the position past them; returns the number copied (0 at or past the end).
    virtual qint64 Read(void* buffer, qint64 count) = 0;
    // Stores up to Count bytes at the position and moves past them; returns
    // the number stored.
    virtual qint64 Write(const void* buffer, qint64 count) = 0;
    // Moves the position and returns the new one.
    virtual qint64 Seek(qint64 offset, SeekOrigin origin) = 0;
    virtual qint64 Size();
    // Truncates or extends; the position is kept unless it lay beyond the
    // new end, in which case it moves to the end.
    virtual void SetSize(qint64 newSize) = 0;

    qint64 Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(qint64 position) { Seek(position, SeekOrigin::Beginning); }

    void ReadBuffer(void* buffer, qint64 count);
    void WriteBuffer(const void* buffer, qint64 count);

    // Copies Count bytes from Source's position into this stream, or, when
    // Count is 0, the whole of Source from its start. Returns the count
    // copied; a short read or write raises.
    qint64 CopyFrom(TStream& source, qint64 count);

protected:
    TStream() = default;
};

// A stream over one block of memory, held as a QByteArray that callers may
// adopt and expose without copying. Holds at most 2,147,483,647 bytes; growing
// beyond that raises EStreamError. Bytes that appear by extending the stream
// (SetSize, or writing past the end) are zero.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    // Adopts Bytes as the stream's content, positioned at 0.
    explicit TMemoryStream(QByteArray bytes);

    qint64 Read(void* buffer, qint64 count) override;
    qint64 Write(const void* buffer, qint64 count) override;
    qint64 Seek(qint64 offset, SeekOrigin origin) override;
    qint64 Size() override { return data_.size(); }
    void SetSize(qint64 newSize) override;

    // The stream's memory, Size() bytes; valid until the stream changes size.
    char* Memory() { return data_.data(); }
    const QByteArray& Bytes() const { return data_; }
    void Clear();

    static constexpr qint64 MaxSize = 2147483647;

private:
    void Grow(qint64 newSize); // resizes without filling

    QByteArray data_;
    qint64 position_ = 0;
};

enum class FileOpenMode {
    Read, // an existing file, read only
    Write, // an existing file, write only
    ReadWrite, // an existing file
    Create, // created, or emptied when it exists; read and write
};

// A stream on a named file, unbuffered: every Read and Write is one request
// to the system. A file that cannot be opened raises EFOpenError
// "Cannot open file "%s". %s", one that cannot be created EFCreateError
// "Cannot create file "%s". %s", with the absolute file name (native
// separators) and the system's reason. The file is held open, without
// sharing where the platform enforces sharing, until the stream is destroyed.
class TFileStream : public TStream {
public:
    TFileStream(const QString& fileName, FileOpenMode mode);

    qint64 Read(void* buffer, qint64 count) override;
    qint64 Write(const void* buffer, qint64 count) override;
    qint64 Seek(qint64 offset, SeekOrigin origin) override;
    qint64 Size() override;
    void SetSize(qint64 newSize) override;

    QString FileName() const { return file_.fileName(); }

private:
    QFile file_;
};

// The file name as the file errors show it.
QString FullFileName(const QString& fileName);

} // namespace velkaro
