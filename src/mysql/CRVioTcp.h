#pragma once
// TCRVioTcp: the MySQL endpoint on a TCP socket of the platform seam.
//
// Connect: an IPv4 name look-up (a dotted address is taken as it stands),
// then a connect that waits at most the connection timeout (none below 1 s).
// The connected socket gets TCP_NODELAY, keep-alive (15000 ms idle, 1000 ms
// between probes), the receive timeout, and the send timeout when it is
// 1 s or more. Failures raise EMyError "Socket error <code>" with
//   2005  the socket cannot be created, the name does not resolve, or the
//         connect wait expired (LastError "Connection timed out")
//   2003  the server refused or could not be reached
// and LastError "Socket error on connect. WSAGetLastError return <n>($<hex>)"
// with the system's error number; the socket is closed again.

#include "mysql/CRVio.h"
#include "platform/Socket.h"

#include <QByteArray>

namespace velkaro {

class TCRVioTcp : public TCRVio {
public:
    static constexpr int KeepAliveIdleMs = 15000;
    static constexpr int KeepAliveIntervalMs = 1000;

    TCRVioTcp(QByteArray host, int port);
    ~TCRVioTcp() override;

    // The receive and the connection timeout, in seconds (initially 30 and
    // 0); an open socket takes the new receive timeout at once.
    int GetTimeout() const override { return receiveTimeout_; }
    void SetTimeout(int seconds) override;
    // Sends have no time limit unless this is 1 s or more (applied at connect).
    void SetSendTimeout(int seconds) { sendTimeout_ = seconds; }

    void Connect() override;
    // Shuts both directions down and closes the socket.
    void Close() override;
    qsizetype ReadNoWait(char* buffer, qsizetype count) override;
    qsizetype WriteNoWait(const char* buffer, qsizetype count) override;
    // A closed socket writes nothing.
    qsizetype Write(const char* buffer, qsizetype count) override;
    // A failure of the wait raises EMyError 2006, LastError "Socket error on
    // select. WSAGetLastError return <n>($<hex>)".
    bool WaitForData(int timeoutMs) override;
    qintptr GetSocket() const override;

    const QByteArray& HostName() const { return host_; }
    int Port() const { return port_; }

private:
    QByteArray host_;
    int port_;
    int connectionTimeout_ = 0;
    int receiveTimeout_ = 30;
    int sendTimeout_ = 0;
    platform::TcpSocket socket_;
};

} // namespace velkaro
