#include "platform/AtomicFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

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

// Writes all of Count bytes at the handle's position; false with errno set
// when the system refuses more. The system's own write is used so that the
// reason of a refusal after a partial write is not lost.
bool writeAll(int handle, const char* data, qint64 count)
{
    while (count > 0) {
#ifdef _WIN32
        const int n = ::_write(handle, data, unsigned(std::min<qint64>(count, 1 << 30)));
#else
        const ssize_t n = ::write(handle, data, size_t(std::min<qint64>(count, 1 << 30)));
#endif
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        count -= n;
    }
    return true;
}

// A rename is an entry in the folder: only a synced folder keeps it over a
// power cut. Windows commits the rename itself.
bool syncFolder(const QString& path, QString& reason)
{
#ifdef _WIN32
    Q_UNUSED(path);
    Q_UNUSED(reason);
    return true;
#else
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int handle = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        reason = qt_error_string(errno);
        return false;
    }
    // Some file systems cannot sync a folder at all; they say so with
    // EINVAL, and there is nothing more to be had from them.
    const bool synced = ::fsync(handle) == 0 || errno == EINVAL;
    if (!synced)
        reason = qt_error_string(errno);
    ::close(handle);
    return synced;
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
        if (!writeAll(file_.handle(), data + at, n)) {
            error_ = qt_error_string(errno);
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
    if (!syncFolder(file_.fileName(), error_))
        return false;
    return true;
}

} // namespace velkaro::platform
