#pragma once
// The socket transport of the application-server link: one TCP client socket
// that writes and reads whole data blocks.
//
// A transport belongs to one thread (the connection's transport thread, or
// the caller's thread when the connection serves no callbacks); only Cancel
// may be called from another thread. Errors:
//   ESocketConnectionError  the link cannot go on ("No address specified",
//                           "Error reading from socket", a negative size
//                           "Invalid data packet", a failed wait with the
//                           system's text, a cancelled wait)
//   ESocketError            a failed socket call: "Windows socket error: %s
//                           (%d), on API '%s'" with connect, send or recv;
//                           "Can't create new socket"
//   Exception               "Invalid data packet" for a block whose kind is
//                           neither CallSig nor ResultSig; the rest of that
//                           block is still on the wire, so the transport
//                           disconnects before raising it
// A failed send or receive at socket level closes the socket too.

#include "platform/Socket.h"
#include "remote/DataBlock.h"

#include <QString>

#include <atomic>

namespace velkaro {

enum class TInputWait {
    Readable, // a block (or the end of the stream) is waiting to be read
    Woken, // the waker was signalled
};

class ITransport {
public:
    virtual ~ITransport() = default;

    // From now on the socket never blocks a read: Receive waits for
    // readiness instead, and the thread may wait for input or a request
    // (WaitForInput). Called once, right after connecting.
    virtual void GetWaitEvent() = 0;
    virtual bool GetConnected() const = 0;
    // True connects (nothing happens when connected already), false closes.
    virtual void SetConnected(bool value) = 0;
    // Reads one whole block. WaitForInput: waits without a time limit for
    // it to begin; otherwise only looks and returns null when nothing has
    // arrived. Context is not used.
    virtual DataBlockRef Receive(bool waitForInput, qint32 context = 0) = 0;
    // Writes the whole block, header and payload. Returns 0.
    virtual qint32 Send(const DataBlockRef& block) = 0;

    // Waits without a time limit until the socket is readable or Waker is
    // signalled (Woken is reported first when both hold).
    virtual TInputWait WaitForInput(platform::SocketWaker& waker) = 0;
    // Any thread: ends every wait of the transport, the one in progress and
    // all later ones, with ESocketConnectionError "The connection was
    // closed". For closing a link whose thread waits for a peer that does
    // not answer.
    virtual void Cancel() = 0;
};

class TSocketTransport final : public ITransport {
public:
    TSocketTransport() = default;
    ~TSocketTransport() override;

    // Host: a host name or dotted IPv4 address, looked up when connecting.
    // Address: a dotted IPv4 address, used without look-up; it wins when
    // both are set.
    QString Host() const { return host_; }
    void SetHost(const QString& host) { host_ = host; }
    QString Address() const { return address_; }
    void SetAddress(const QString& address) { address_ = address; }
    quint16 Port() const { return port_; }
    void SetPort(quint16 port) { port_ = port; }

    void GetWaitEvent() override;
    bool GetConnected() const override { return socket_.IsOpen(); }
    void SetConnected(bool value) override;
    DataBlockRef Receive(bool waitForInput, qint32 context = 0) override;
    qint32 Send(const DataBlockRef& block) override;
    TInputWait WaitForInput(platform::SocketWaker& waker) override;
    void Cancel() override;

private:
    void connect();
    bool waitReadable(int timeoutMs, bool failureIsReadError);
    qint32 readField();
    void readExactly(char* into, qint64 count);
    [[noreturn]] void socketFailed(const platform::SocketResult& result, const char* api);

    QString host_;
    QString address_;
    quint16 port_ = 211;
    platform::TcpSocket socket_;
    bool waitEvent_ = false;
    platform::SocketWaker cancel_;
    std::atomic<bool> cancelled_ = false;
};

} // namespace velkaro
