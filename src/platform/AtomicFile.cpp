#include "platform/AtomicFile.h"

#include <QFileInfo>

#include <algorithm>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace velkaro::platform {

namespace {

// Large files are handed to the disk block by block while they are being
// written, so the flush before the rename has little left to wait for.
constexpr qint64 WriteBackBlock = 8 << 20;

void startWriteBack(int handle, qint64 offset, qint64 length)
{
#ifdef __linux__
    if (handle >= 0)
        ::sync_file_range(handle, offset, length, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(handle);
    Q_UNUSED(offset);
    Q_UNUSED(length);
#endif
}

bool syncToDisk(int handle)
{
#ifdef _WIN32
    return ::_commit(handle) == 0;
#else
    return ::fsync(handle) == 0;
#endif
}

} // namespace

AtomicFile::AtomicFile(const QString& path)
    : file_(path)
{
}

AtomicFile::~AtomicFile()
{
    if (file_.isOpen())
        file_.cancelWriting();
}

bool AtomicFile::fail()
{
    if (error_.isEmpty())
        error_ = file_.errorString();
    if (file_.isOpen())
        file_.cancelWriting();
    return false;
}

bool AtomicFile::Open()
{
    if (QFileInfo(file_.fileName()).isDir()) {
        error_ = QStringLiteral("Is a directory");
        return false;
    }
    // Unbuffered, so every refused write is seen here: a buffered save file
    // can commit a cut-off file without reporting it.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail();
    return true;
}

bool AtomicFile::Write(const char* data, qint64 count)
{
    for (qint64 at = 0; at < count;) {
        const qint64 n = std::min(WriteBackBlock - written_ % WriteBackBlock, count - at);
        if (file_.write(data + at, n) != n) {
            if (error_.isEmpty() && file_.error() == QFileDevice::NoError)
                error_ = QStringLiteral("The file could not be written completely");
            return fail();
        }
        at += n;
        written_ += n;
        if (written_ % WriteBackBlock == 0)
            startWriteBack(file_.handle(), written_ - WriteBackBlock, WriteBackBlock);
    }
    return true;
}

bool AtomicFile::Commit()
{
    if (!file_.flush() || !syncToDisk(file_.handle()))
        return fail();
    if (!file_.commit()) {
        error_ = file_.errorString();
        renameFailed_ = file_.error() == QFileDevice::RenameError;
        return false;
    }
    return true;
}

} // namespace velkaro::platform
