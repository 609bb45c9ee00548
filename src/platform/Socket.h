#pragma once
// TCP over IPv4: the one place where the MySQL client, the remote link and
// the application server reach the operating system's sockets.
//
// Results by value. No operation here throws; each returns what happened (a
// SocketResult or WaitResult: a status, the system's error code and a byte
// count), so every protocol layer raises its own errors with its own exact
// texts. ErrorText() gives the system's text for the code.
//
// Time limits are in milliseconds. NoTimeLimit (or any negative value) waits
// for ever; for Connect a limit of 0 means no limit too; for the receive and
// send timeouts 0 means none; for the waits 0 means "look and return".
//
// Threads. A socket, listener and waker belong to one thread at a time
// (objects may move between threads while nobody uses them), with two
// exceptions: SocketWaker::Signal() may be called from any thread, and
// TcpSocket::Shutdown() may be called from another thread to unblock the
// owner's read or write, as long as the owner does not close or destroy the
// socket meanwhile.
//
// Writes never raise SIGPIPE: a peer that has gone away is reported as an
// error of the write. Programs the process starts inherit none of these
// sockets.
//
// Handles are kept as qintptr, wide enough for a descriptor or a Windows
// SOCKET; -1 means none.

#include <QString>
#include <QtGlobal>

class QFile;

namespace velkaro::platform {

class TcpSocket;
namespace internal {
qintptr NativeHandle(const TcpSocket& socket); // for the seam's tests (Socket_p.h)
}

inline constexpr int NoTimeLimit = -1;

// An IPv4 address in host byte order (127.0.0.1 is 0x7F000001) and a port.
struct SocketAddress {
    static constexpr quint32 Any = 0; // listen on every interface
    static constexpr quint32 Loopback = 0x7F000001;

    quint32 ip = 0;
    quint16 port = 0;

    QString IpText() const; // "127.0.0.1"
    QString ToString() const; // "127.0.0.1:216"
    friend bool operator==(const SocketAddress&, const SocketAddress&) = default;
};

enum class SocketStatus {
    Ok,
    TimedOut, // the time limit passed first; code is the system's "timed out"
    WouldBlock, // non-blocking mode: nothing can move right now
    Woken, // a wait given a waker ended because the waker was signalled
    EndOfFile, // SendFile: the file ended before the range did
    Failed, // the system refused; code is its error number (errno)
    LookUpFailed, // the name did not resolve; code is the resolver's code
};

struct SocketResult {
    SocketStatus status = SocketStatus::Ok;
    int code = 0; // 0 when Ok, Woken or EndOfFile
    qint64 count = 0; // bytes moved, also when the operation stopped part way

    bool Ok() const { return status == SocketStatus::Ok; }
    // The system's text for the code ("Connection refused", "Name or service
    // not known"); empty when Ok or Woken.
    QString ErrorText() const;
};

enum class WaitStatus {
    Readable, // data, an orderly close, a reset or a pending connection: a read or accept will not block
    Woken,
    TimedOut,
    Failed, // code holds the system's error number
};

struct WaitResult {
    WaitStatus status = WaitStatus::TimedOut;
    int code = 0; // only when Failed
};

// Wakes a thread that waits on a socket, a listener or on the waker alone.
// A signal stays pending until a wait reports it (several signals before
// that count as one), so a signal sent just before the wait is not lost.
class SocketWaker {
public:
    SocketWaker();
    ~SocketWaker();
    SocketWaker(const SocketWaker&) = delete;
    SocketWaker& operator=(const SocketWaker&) = delete;

    // Any thread, any time while the waker exists; on POSIX also from a
    // signal handler (a server stopping on SIGTERM).
    void Signal();
    // Waits for a signal alone: Woken or TimedOut (or Failed).
    WaitResult Wait(int timeoutMs);

private:
    friend struct WakerAccess;
    qintptr readHandle_ = -1;
    qintptr writeHandle_ = -1; // the same as readHandle_ where one object serves both ends
    int openError_ = 0; // why the waker could not be made; every wait reports it
};

// A TCP client socket, or a connection a listener accepted. Move-only; the
// destructor closes it.
class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    bool IsOpen() const { return handle_ != -1; }

    // Creates the socket (blocking, TCP over IPv4); an open socket is closed
    // first. Connect does it when the socket is not open yet; a caller that
    // reports a failed creation apart from a failed connect calls it first.
    SocketResult Open();
    // Connects within timeoutMs (0 or below: no limit). A limit that passes
    // gives TimedOut; a refusal, an unreachable network and the like give
    // Failed. Any failure closes the socket. On success the socket blocks
    // again.
    SocketResult Connect(const SocketAddress& to, int timeoutMs);
    // Closes the socket; nothing happens when it is closed already.
    void Close();
    // Ends both directions: a read blocked in another thread returns 0
    // bytes, and the peer reads an orderly close. The socket stays open.
    SocketResult Shutdown();

    SocketResult SetNoDelay(bool on);
    // Keep-alive probes after idleMs without traffic, then every
    // intervalMs; the system counts in whole seconds, so both are rounded
    // up to at least 1 s.
    SocketResult SetKeepAlive(bool on, int idleMs, int intervalMs);
    SocketResult SetReceiveTimeout(int ms); // 0: none
    SocketResult SetSendTimeout(int ms); // 0: none
    // In non-blocking mode reads and writes that cannot move a byte at once
    // report WouldBlock instead of waiting.
    SocketResult SetNonBlocking(bool on);

    // One receive of up to count (> 0) bytes. count 0 with status Ok is the
    // peer's orderly close. A receive timeout gives TimedOut.
    SocketResult Read(void* buffer, qint64 count);
    // One send of up to count bytes; count tells how many went out.
    SocketResult Write(const void* data, qint64 count);
    // Sends until all count bytes are out or something stops it; count
    // tells how many went out either way.
    SocketResult WriteAll(const void* data, qint64 count);
    // Sends count bytes of an open file, starting at offset, straight from
    // the file to the socket without a buffer of that size; the file's own
    // position is not used nor moved. Stops and reports like WriteAll;
    // EndOfFile when the file is shorter than offset + count.
    SocketResult SendFile(QFile& file, qint64 offset, qint64 count);

    // Bytes received and not read yet, in count.
    SocketResult BytesAvailable() const;
    // Waits until a read will not block, or the waker (if given) is
    // signalled; when both hold, Woken is reported first and the socket
    // stays readable for the next wait.
    WaitResult WaitReadable(int timeoutMs, SocketWaker* waker = nullptr) const;

    // The connected peer's address (for logs); a zero address when unknown.
    SocketAddress PeerAddress() const;

private:
    friend class TcpListener;
    friend qintptr internal::NativeHandle(const TcpSocket&);
    explicit TcpSocket(qintptr handle)
        : handle_(handle)
    {
    }
    SocketResult fromError(int code, qint64 count) const;
    qintptr handle_ = -1;
    bool nonBlocking_ = false;
};

// A listening TCP socket for servers and test peers. Move-only; the
// destructor closes it.
class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(TcpListener&& other) noexcept;
    TcpListener& operator=(TcpListener&& other) noexcept;
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    bool IsOpen() const { return handle_ != -1; }

    // Binds (with address reuse, so a restarted server gets its port back
    // at once) and listens. Port 0 lets the system choose; Port() tells
    // which. A listener that was open is closed first.
    SocketResult Listen(const SocketAddress& at, int backlog = 128);
    quint16 Port() const { return port_; }
    void Close();

    // Waits up to timeoutMs for a connection and accepts it into accepted
    // (blocking, like a connected client socket). TimedOut when none came,
    // Woken when the waker was signalled first.
    SocketResult Accept(TcpSocket& accepted, int timeoutMs, SocketWaker* waker = nullptr);

private:
    qintptr handle_ = -1;
    quint16 port_ = 0;
};

// IPv4 name look-up: a dotted address is used as it stands, any other name
// is resolved and its first IPv4 address taken into ip (host byte order).
// A name that does not resolve gives LookUpFailed with the resolver's code.
SocketResult LookUpIPv4(const QString& host, quint32& ip);

} // namespace velkaro::platform
