#pragma once
// Writing to a file handle that someone else opened: the one place where the
// streaming code reaches the operating system's own file write. The handle is
// neither opened nor closed here.

#include <QByteArray>
#include <QList>

namespace velkaro::platform {

#ifdef _WIN32
using FileHandle = void*; // HANDLE
#else
using FileHandle = int; // file descriptor
#endif

class HandleWriter {
public:
    virtual ~HandleWriter() = default;
    // Writes Count bytes at the handle's current position. Partial writes
    // and interrupted calls are continued; returns how many bytes were
    // written before the system refused more (Count on success).
    virtual qint64 Write(FileHandle handle, const void* data, qint64 count) = 0;
};

// The installed writer: the system's file write unless a test replaced it.
HandleWriter& HandleWriters();
// Installs a writer (not owned); null restores the real one.
void SetHandleWriter(HandleWriter* writer);

// Keeps every block it is handed, one entry per call, and writes nothing.
class RecordingHandleWriter : public HandleWriter {
public:
    qint64 Write(FileHandle handle, const void* data, qint64 count) override
    {
        handles.append(handle);
        blocks.append(QByteArray(static_cast<const char*>(data), count));
        return count;
    }
    QList<FileHandle> handles;
    QList<QByteArray> blocks;
};

} // namespace velkaro::platform
