#include "platform/Socket.h"
#include "platform/Socket_p.h"

// The socket seam on POSIX sockets. A Windows implementation goes beside it
// in a file of its own.

#ifndef _WIN32

#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#endif

#include <algorithm>
#include <utility>

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0 // such systems have SO_NOSIGPIPE on the socket instead
#endif

namespace velkaro::platform {

namespace {

// Largest amount handed to one system call: well inside every size type.
constexpr qint64 MaxChunk = 0x40000000;
constexpr qint64 CopyBufferSize = 64 * 1024;

SocketResult ok(qint64 count = 0)
{
    return {SocketStatus::Ok, 0, count};
}

SocketResult failed(int code, qint64 count = 0)
{
    return {SocketStatus::Failed, code, count};
}

int fdOf(qintptr handle)
{
    return int(handle);
}

bool setFlag(int fd, int flag, bool on)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    const int wanted = on ? (flags | flag) : (flags & ~flag);
    return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

bool setCloseOnExec(int fd)
{
    const int flags = ::fcntl(fd, F_GETFD);
    return flags >= 0 && ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

// A new TCP socket that a launched program does not inherit and whose
// writes raise no signal; -1 with errno set on failure.
int newTcpSocket()
{
#ifdef SOCK_CLOEXEC
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
#else
    const int fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#endif
    if (fd < 0)
        return -1;
    bool good = setCloseOnExec(fd);
#ifdef SO_NOSIGPIPE
    const int one = 1;
    good = good && ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one) == 0;
#endif
    if (!good) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

sockaddr_in toSockaddr(const SocketAddress& address)
{
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address.ip);
    sa.sin_port = htons(address.port);
    return sa;
}

int setIntOption(int fd, int level, int name, int value)
{
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0 ? 0 : errno;
}

int setTimeOption(int fd, int name, int ms)
{
    timeval tv {};
    if (ms > 0) {
        tv.tv_sec = ms / 1000;
        tv.tv_usec = (ms % 1000) * 1000;
    }
    return ::setsockopt(fd, SOL_SOCKET, name, &tv, sizeof tv) == 0 ? 0 : errno;
}

// Whole seconds, rounded up, within what the system takes.
int keepAliveSeconds(int ms)
{
    return int(std::clamp<qint64>((qint64(ms) + 999) / 1000, 1, 32767));
}

// The time left of a limit, for poll: -1 for no limit, never below 0.
class Deadline {
public:
    explicit Deadline(int timeoutMs)
        : unlimited_(timeoutMs < 0)
        , end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0)))
    {
    }
    int RemainingMs() const
    {
        if (unlimited_)
            return -1;
        const auto left = end_ - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return 0;
        return int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }

private:
    bool unlimited_;
    std::chrono::steady_clock::time_point end_;
};

bool isTemporaryAcceptError(int error)
{
    // A connection that went away between the wait and the accept, or a
    // network error the new connection already carries: wait for the next.
    switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENOPROTOOPT:
    case EOPNOTSUPP:
        return true;
    default:
        return false;
    }
}

} // namespace

// The waker's two ends, for the waits.
struct WakerAccess {
    static int ReadFd(const SocketWaker& waker) { return fdOf(waker.readHandle_); }
    static int OpenError(const SocketWaker& waker) { return waker.openError_; }

    // Takes the pending signal; false when there was none after all.
    static bool Consume(SocketWaker& waker)
    {
        const int fd = ReadFd(waker);
#ifdef __linux__
        quint64 value = 0;
        for (;;) {
            if (::read(fd, &value, sizeof value) == ssize_t(sizeof value))
                return true;
            if (errno != EINTR)
                return false;
        }
#else
        bool any = false;
        char drain[64];
        for (;;) {
            const ssize_t got = ::read(fd, drain, sizeof drain);
            if (got > 0) {
                any = true;
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            return any;
        }
#endif
    }
};

namespace {

// Waits on a socket (fd -1: none) and a waker (null: none).
WaitResult waitReadable(int fd, SocketWaker* waker, int timeoutMs)
{
    pollfd fds[2] {};
    nfds_t used = 0;
    int wakerIndex = -1;
    int socketIndex = -1;
    if (waker != nullptr) {
        if (WakerAccess::OpenError(*waker) != 0)
            return {WaitStatus::Failed, WakerAccess::OpenError(*waker)};
        fds[used] = {WakerAccess::ReadFd(*waker), POLLIN, 0};
        wakerIndex = int(used++);
    }
    if (fd >= 0) {
        fds[used] = {fd, POLLIN, 0};
        socketIndex = int(used++);
    }
    const Deadline deadline(timeoutMs);
    for (;;) {
        const int ready = ::poll(fds, used, deadline.RemainingMs());
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return {WaitStatus::Failed, errno};
        }
        if (ready == 0)
            return {WaitStatus::TimedOut, 0};
        for (const int index : {wakerIndex, socketIndex}) {
            if (index >= 0 && (fds[index].revents & POLLNVAL))
                return {WaitStatus::Failed, EBADF};
        }
        if (wakerIndex >= 0 && fds[wakerIndex].revents != 0 && WakerAccess::Consume(*waker))
            return {WaitStatus::Woken, 0};
        // Hang-up and error count as readable: the read that follows reports them.
        if (socketIndex >= 0 && fds[socketIndex].revents != 0)
            return {WaitStatus::Readable, 0};
    }
}

#ifdef __linux__
// sendfile has no flag against SIGPIPE: block the signal on this thread for
// the call and take back a SIGPIPE the call raised, so the process is not
// killed and a handler elsewhere sees nothing.
class SigpipeBlocked {
public:
    SigpipeBlocked()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        wasPending_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        blocked_ = ::pthread_sigmask(SIG_BLOCK, &pipe_, &previous_) == 0;
    }
    ~SigpipeBlocked()
    {
        if (!blocked_)
            return;
        if (raised_ && !wasPending_) {
            const timespec now {};
            while (::sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) { }
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    void Raised() { raised_ = true; }

private:
    sigset_t pipe_;
    sigset_t previous_;
    bool wasPending_ = false;
    bool blocked_ = false;
    bool raised_ = false;
};
#endif

} // namespace

// --- results -----------------------------------------------------------

QString SocketResult::ErrorText() const
{
    switch (status) {
    case SocketStatus::Ok:
    case SocketStatus::Woken:
        return {};
    case SocketStatus::EndOfFile:
        return QStringLiteral("End of file");
    case SocketStatus::LookUpFailed:
        return QString::fromLocal8Bit(::gai_strerror(code));
    case SocketStatus::TimedOut:
    case SocketStatus::WouldBlock:
    case SocketStatus::Failed:
        break;
    }
    return qt_error_string(code);
}

// --- waker -------------------------------------------------------------

SocketWaker::SocketWaker()
{
#ifdef __linux__
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        openError_ = errno;
        return;
    }
    readHandle_ = writeHandle_ = fd;
#else
    int ends[2];
    if (::pipe(ends) != 0) {
        openError_ = errno;
        return;
    }
    readHandle_ = ends[0];
    writeHandle_ = ends[1];
    for (const int fd : ends) {
        if (!setFlag(fd, O_NONBLOCK, true) || !setCloseOnExec(fd))
            openError_ = errno;
    }
#endif
}

SocketWaker::~SocketWaker()
{
    if (readHandle_ != -1)
        ::close(fdOf(readHandle_));
    if (writeHandle_ != -1 && writeHandle_ != readHandle_)
        ::close(fdOf(writeHandle_));
}

void SocketWaker::Signal()
{
    if (writeHandle_ == -1)
        return;
#ifdef __linux__
    const quint64 one = 1;
    const void* data = &one;
    const size_t size = sizeof one;
#else
    const char one = 1;
    const void* data = &one;
    const size_t size = 1;
#endif
    // A full pipe or counter already holds a pending signal. errno is kept
    // for the code a signal handler interrupted.
    const int savedErrno = errno;
    while (::write(fdOf(writeHandle_), data, size) < 0 && errno == EINTR) { }
    errno = savedErrno;
}

WaitResult SocketWaker::Wait(int timeoutMs)
{
    return waitReadable(-1, this, timeoutMs);
}

// --- client socket -----------------------------------------------------

TcpSocket::~TcpSocket()
{
    Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : handle_(std::exchange(other.handle_, -1))
    , nonBlocking_(std::exchange(other.nonBlocking_, false))
{
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
        nonBlocking_ = std::exchange(other.nonBlocking_, false);
    }
    return *this;
}

SocketResult TcpSocket::fromError(int code, qint64 count) const
{
    if (code == EAGAIN || code == EWOULDBLOCK) {
        // A blocking socket reports its receive or send timeout this way.
        if (nonBlocking_)
            return {SocketStatus::WouldBlock, EWOULDBLOCK, count};
        return {SocketStatus::TimedOut, ETIMEDOUT, count};
    }
    return failed(code, count);
}

SocketResult TcpSocket::Open()
{
    Close();
    const int fd = newTcpSocket();
    if (fd < 0)
        return failed(errno);
    handle_ = fd;
    return ok();
}

SocketResult TcpSocket::Connect(const SocketAddress& to, int timeoutMs)
{
    if (!IsOpen()) {
        const SocketResult opened = Open();
        if (!opened.Ok())
            return opened;
    }
    const int fd = fdOf(handle_);
    auto fail = [this](SocketResult result) {
        Close();
        return result;
    };
    if (!setFlag(fd, O_NONBLOCK, true))
        return fail(failed(errno));
    const sockaddr_in sa = toSockaddr(to);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        // An interrupted connect goes on in the background, like one in progress.
        if (errno != EINPROGRESS && errno != EINTR)
            return fail(failed(errno));
        pollfd p {fd, POLLOUT, 0};
        const Deadline deadline(timeoutMs > 0 ? timeoutMs : NoTimeLimit);
        for (;;) {
            const int ready = ::poll(&p, 1, deadline.RemainingMs());
            if (ready > 0)
                break;
            if (ready == 0)
                return fail({SocketStatus::TimedOut, ETIMEDOUT, 0});
            if (errno != EINTR)
                return fail(failed(errno));
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            return fail(failed(errno));
        if (error != 0)
            return fail(failed(error));
    }
    if (!setFlag(fd, O_NONBLOCK, false))
        return fail(failed(errno));
    nonBlocking_ = false;
    return ok();
}

void TcpSocket::Close()
{
    if (handle_ == -1)
        return;
    // Not retried on EINTR: the descriptor is released either way.
    ::close(fdOf(handle_));
    handle_ = -1;
    nonBlocking_ = false;
}

SocketResult TcpSocket::Shutdown()
{
    if (!IsOpen())
        return failed(EBADF);
    return ::shutdown(fdOf(handle_), SHUT_RDWR) == 0 ? ok() : failed(errno);
}

SocketResult TcpSocket::SetNoDelay(bool on)
{
    if (!IsOpen())
        return failed(EBADF);
    const int error = setIntOption(fdOf(handle_), IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
    return error == 0 ? ok() : failed(error);
}

SocketResult TcpSocket::SetKeepAlive(bool on, int idleMs, int intervalMs)
{
    if (!IsOpen())
        return failed(EBADF);
    const int fd = fdOf(handle_);
    int error = setIntOption(fd, SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0);
    if (error == 0 && on) {
#if defined(TCP_KEEPIDLE)
        error = setIntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, keepAliveSeconds(idleMs));
#elif defined(TCP_KEEPALIVE)
        error = setIntOption(fd, IPPROTO_TCP, TCP_KEEPALIVE, keepAliveSeconds(idleMs));
#endif
#if defined(TCP_KEEPINTVL)
        if (error == 0)
            error = setIntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, keepAliveSeconds(intervalMs));
#endif
    }
    return error == 0 ? ok() : failed(error);
}

SocketResult TcpSocket::SetReceiveTimeout(int ms)
{
    if (!IsOpen())
        return failed(EBADF);
    const int error = setTimeOption(fdOf(handle_), SO_RCVTIMEO, ms);
    return error == 0 ? ok() : failed(error);
}

SocketResult TcpSocket::SetSendTimeout(int ms)
{
    if (!IsOpen())
        return failed(EBADF);
    const int error = setTimeOption(fdOf(handle_), SO_SNDTIMEO, ms);
    return error == 0 ? ok() : failed(error);
}

SocketResult TcpSocket::SetNonBlocking(bool on)
{
    if (!IsOpen())
        return failed(EBADF);
    if (!setFlag(fdOf(handle_), O_NONBLOCK, on))
        return failed(errno);
    nonBlocking_ = on;
    return ok();
}

SocketResult TcpSocket::Read(void* buffer, qint64 count)
{
    if (!IsOpen())
        return failed(EBADF);
    const size_t wanted = size_t(std::clamp<qint64>(count, 0, MaxChunk));
    for (;;) {
        const ssize_t got = ::recv(fdOf(handle_), buffer, wanted, 0);
        if (got >= 0)
            return ok(got);
        if (errno != EINTR)
            return fromError(errno, 0);
    }
}

SocketResult TcpSocket::Write(const void* data, qint64 count)
{
    if (!IsOpen())
        return failed(EBADF);
    const size_t wanted = size_t(std::clamp<qint64>(count, 0, MaxChunk));
    for (;;) {
        const ssize_t sent = ::send(fdOf(handle_), data, wanted, MSG_NOSIGNAL);
        if (sent >= 0)
            return ok(sent);
        if (errno != EINTR)
            return fromError(errno, 0);
    }
}

SocketResult TcpSocket::SendFile(QFile& file, qint64 offset, qint64 count)
{
    if (!IsOpen() || file.handle() < 0)
        return failed(EBADF);
    if (offset < 0 || count < 0)
        return failed(EINVAL);
#ifdef __linux__
    SigpipeBlocked guard;
    qint64 done = 0;
    while (done < count) {
        off_t at = off_t(offset + done);
        const ssize_t sent = ::sendfile(fdOf(handle_), file.handle(), &at, size_t(std::min(count - done, MaxChunk)));
        if (sent > 0) {
            done += sent;
            continue;
        }
        if (sent == 0)
            return {SocketStatus::EndOfFile, 0, done};
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EPIPE)
            guard.Raised();
        // Files the system cannot send from directly go the long way.
        if ((error == EINVAL || error == ENOSYS) && done == 0)
            return internal::SendFileByCopy(*this, file, offset, count);
        return fromError(error, done);
    }
    return ok(done);
#else
    return internal::SendFileByCopy(*this, file, offset, count);
#endif
}

SocketResult internal::SendFileByCopy(TcpSocket& socket, QFile& file, qint64 offset, qint64 count)
{
    if (!socket.IsOpen() || file.handle() < 0)
        return failed(EBADF);
    if (offset < 0 || count < 0)
        return failed(EINVAL);
    const auto buffer = std::make_unique<char[]>(CopyBufferSize);
    qint64 done = 0;
    while (done < count) {
        const ssize_t got = ::pread(
            file.handle(), buffer.get(), size_t(std::min(count - done, CopyBufferSize)), off_t(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return failed(errno, done);
        }
        if (got == 0)
            return {SocketStatus::EndOfFile, 0, done};
        const SocketResult sent = socket.WriteAll(buffer.get(), got);
        done += sent.count;
        if (!sent.Ok())
            return {sent.status, sent.code, done};
    }
    return ok(done);
}

SocketResult TcpSocket::BytesAvailable() const
{
    if (!IsOpen())
        return failed(EBADF);
    int available = 0;
    if (::ioctl(fdOf(handle_), FIONREAD, &available) != 0)
        return failed(errno);
    return ok(available);
}

WaitResult TcpSocket::WaitReadable(int timeoutMs, SocketWaker* waker) const
{
    if (!IsOpen())
        return {WaitStatus::Failed, EBADF};
    return waitReadable(fdOf(handle_), waker, timeoutMs);
}

SocketAddress TcpSocket::PeerAddress() const
{
    sockaddr_in sa {};
    socklen_t size = sizeof sa;
    if (!IsOpen() || ::getpeername(fdOf(handle_), reinterpret_cast<sockaddr*>(&sa), &size) != 0
        || sa.sin_family != AF_INET)
        return {};
    return {ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

// --- listener ----------------------------------------------------------

TcpListener::~TcpListener()
{
    Close();
}

TcpListener::TcpListener(TcpListener&& other) noexcept
    : handle_(std::exchange(other.handle_, -1))
    , port_(std::exchange(other.port_, 0))
{
}

TcpListener& TcpListener::operator=(TcpListener&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
        port_ = std::exchange(other.port_, 0);
    }
    return *this;
}

SocketResult TcpListener::Listen(const SocketAddress& at, int backlog)
{
    Close();
    const int fd = newTcpSocket();
    if (fd < 0)
        return failed(errno);
    handle_ = fd;
    const sockaddr_in sa = toSockaddr(at);
    sockaddr_in bound {};
    socklen_t size = sizeof bound;
    int error = setIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    if (error == 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        error = errno;
    if (error == 0 && ::listen(fd, std::max(backlog, 0)) != 0)
        error = errno;
    if (error == 0 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        error = errno;
    // Never blocks in accept, even when a connection left between the wait and the accept.
    if (error == 0 && !setFlag(fd, O_NONBLOCK, true))
        error = errno;
    if (error != 0) {
        Close();
        return failed(error);
    }
    port_ = ntohs(bound.sin_port);
    return ok();
}

void TcpListener::Close()
{
    if (handle_ == -1)
        return;
    ::close(fdOf(handle_));
    handle_ = -1;
    port_ = 0;
}

SocketResult TcpListener::Accept(TcpSocket& accepted, int timeoutMs, SocketWaker* waker)
{
    if (!IsOpen())
        return failed(EBADF);
    const Deadline deadline(timeoutMs);
    for (;;) {
        const WaitResult waited = waitReadable(fdOf(handle_), waker, deadline.RemainingMs());
        switch (waited.status) {
        case WaitStatus::Readable:
            break;
        case WaitStatus::Woken:
            return {SocketStatus::Woken, 0, 0};
        case WaitStatus::TimedOut:
            return {SocketStatus::TimedOut, ETIMEDOUT, 0};
        case WaitStatus::Failed:
            return failed(waited.code);
        }
#ifdef SOCK_CLOEXEC
        const int fd = ::accept4(fdOf(handle_), nullptr, nullptr, SOCK_CLOEXEC);
#else
        const int fd = ::accept(fdOf(handle_), nullptr, nullptr);
#endif
        if (fd < 0) {
            if (isTemporaryAcceptError(errno))
                continue;
            return failed(errno);
        }
        TcpSocket socket(fd);
        // Some systems hand the listener's non-blocking mode down.
        bool good = setCloseOnExec(fd) && setFlag(fd, O_NONBLOCK, false);
#ifdef SO_NOSIGPIPE
        good = good && setIntOption(fd, SOL_SOCKET, SO_NOSIGPIPE, 1) == 0;
#endif
        if (!good)
            return failed(errno);
        accepted = std::move(socket);
        return ok();
    }
}

// --- names -------------------------------------------------------------

SocketResult LookUpIPv4(const QString& host, quint32& ip)
{
    ip = 0;
    const QByteArray name = host.toUtf8();
    if (name.contains('\0'))
        return {SocketStatus::LookUpFailed, EAI_NONAME, 0};
    in_addr dotted {};
    if (::inet_pton(AF_INET, name.constData(), &dotted) == 1) {
        ip = ntohl(dotted.s_addr);
        return ok();
    }
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int code = ::getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (code == EAI_SYSTEM)
        return failed(errno);
    if (code != 0)
        return {SocketStatus::LookUpFailed, code, 0};
    bool any = false;
    for (const addrinfo* each = found; each != nullptr && !any; each = each->ai_next) {
        if (each->ai_family == AF_INET && each->ai_addr != nullptr) {
            ip = ntohl(reinterpret_cast<const sockaddr_in*>(each->ai_addr)->sin_addr.s_addr);
            any = true;
        }
    }
    ::freeaddrinfo(found);
    return any ? ok() : SocketResult {SocketStatus::LookUpFailed, EAI_NONAME, 0};
}

} // namespace velkaro::platform

#endif // _WIN32
