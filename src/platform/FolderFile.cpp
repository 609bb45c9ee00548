#include "platform/FolderFile.h"
#include "platform/FolderFile_p.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#endif

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace velkaro::platform {

namespace {

std::atomic<bool> openat2Used = true;

FolderFileResult result(FolderFileStatus status, int code = 0)
{
    return {status, code};
}

#ifndef _WIN32

FolderFileResult fromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return result(FolderFileStatus::NotFound, error);
    case EXDEV: // a resolution that would leave the folder
        return result(FolderFileStatus::Outside, error);
    default:
        return result(FolderFileStatus::Failed, error);
    }
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1)
        : fd_(fd)
    {
    }
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Pipes and devices must not block the open; the flag is cleared once the
// file is known to be a regular one.
constexpr int OpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

#ifdef __linux__
// The path the system opened for Fd, read back from /proc: for systems
// without openat2, the check that happens after the open and so cannot be
// raced.
bool openedBeneath(int folderFd, int fd)
{
    const QString folder = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(folderFd));
    const QString opened = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd));
    if (folder.isEmpty() || opened.isEmpty())
        return false;
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    return opened.startsWith(prefix);
}
#endif

// Opens Name below the folder open as FolderFd; -1 with errno on failure.
int openBeneath(int folderFd, [[maybe_unused]] const QString& folder, const QString& name)
{
    const QByteArray encoded = QFile::encodeName(name);
#ifdef __linux__
    open_how how {};
    how.flags = OpenFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0; openat2Used && attempt < 8; ++attempt) {
        const long fd = ::syscall(SYS_openat2, folderFd, encoded.constData(), &how, sizeof how);
        if (fd >= 0)
            return int(fd);
        // A rename racing with the look-up of ".." asks for a retry.
        if (errno == EAGAIN || errno == EINTR)
            continue;
        if (errno != ENOSYS)
            return -1;
        break;
    }
    Descriptor fd(::openat(folderFd, encoded.constData(), OpenFlags));
    if (fd.Get() < 0)
        return -1;
    if (!openedBeneath(folderFd, fd.Get())) {
        errno = EXDEV;
        return -1;
    }
    return fd.Release();
#else
    // Without a way to ask the system, the check comes before the open; a
    // link replaced in between is not caught.
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QString canonical = QFileInfo(folder + u'/' + name).canonicalFilePath();
    if (canonical.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    if (canonicalFolder.isEmpty() || !canonical.startsWith(canonicalFolder + u'/')) {
        errno = EXDEV;
        return -1;
    }
    return ::openat(folderFd, encoded.constData(), OpenFlags);
#endif
}

#endif // !_WIN32

} // namespace

void internal::UseOpenat2(bool use)
{
    openat2Used = use;
}

QString FolderFileResult::ErrorText() const
{
    if (code != 0 && status == FolderFileStatus::Failed)
        return qt_error_string(code);
    switch (status) {
    case FolderFileStatus::Ok:
        return {};
    case FolderFileStatus::NotFound:
        return QStringLiteral("No such file or directory");
    case FolderFileStatus::NotRegular:
        return QStringLiteral("Not a regular file");
    case FolderFileStatus::Outside:
        return QStringLiteral("Leads outside the folder");
    case FolderFileStatus::Failed:
        break;
    }
    return QStringLiteral("Unknown error");
}

FolderFileResult OpenFileInFolder(const QString& folder, const QString& name, QFile& file)
{
    file.close();
#ifndef _WIN32
    if (name.isEmpty() || name.contains(QChar(0)))
        return result(FolderFileStatus::NotFound, ENOENT);
    const Descriptor folderFd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.Get() < 0)
        return fromErrno(errno);
    Descriptor fd(openBeneath(folderFd.Get(), folder, name));
    if (fd.Get() < 0)
        return fromErrno(errno);
    struct stat info { };
    if (::fstat(fd.Get(), &info) != 0)
        return fromErrno(errno);
    if (!S_ISREG(info.st_mode))
        return result(FolderFileStatus::NotRegular);
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fromErrno(errno);
    if (!file.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return result(FolderFileStatus::Failed, EBADF);
    fd.Release();
    return result(FolderFileStatus::Ok);
#else
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QFileInfo info(folder + u'/' + name);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return result(FolderFileStatus::NotFound);
    if (canonicalFolder.isEmpty() || !canonical.startsWith(canonicalFolder + u'/'))
        return result(FolderFileStatus::Outside);
    if (!QFileInfo(canonical).isFile())
        return result(FolderFileStatus::NotRegular);
    file.setFileName(canonical);
    if (!file.open(QIODevice::ReadOnly))
        return result(FolderFileStatus::Failed);
    return result(FolderFileStatus::Ok);
#endif
}

} // namespace velkaro::platform
