#pragma once
// TSocketConnection: the application-server link over TCP, the update
// client's Socket1. Its published settings:
//
//   Connected         false    true opens the link and creates the remote
//                              object (applied when loading ends)
//   ServerName        ""       class of the remote object ("VelkaroAS.VelkaroDM")
//   ServerGUID        null     when set, sent instead of ServerName
//   Host              ""       host name or dotted IPv4 address; setting a
//                              non-empty Host empties Address
//   Address           ""       dotted IPv4 address, used without look-up;
//                              setting a non-empty Address empties Host;
//                              wins when both are set
//   Port              211      TCP port of the application server
//   SupportCallbacks  true     socket work on the transport thread, and
//                              the server's requests served during a wait
//   InterceptName, InterceptGUID, LoginPrompt: kept, without effect
//
// What the connection does, on which thread, and how it closes:
// remote/StreamedConnection.h.

#include "remote/StreamedConnection.h"

namespace velkaro {

class TSocketConnection : public TStreamedConnection {
    Q_OBJECT
    Q_PROPERTY(QString Host READ Host WRITE SetHost)
    Q_PROPERTY(QString Address READ Address WRITE SetAddress)
    Q_PROPERTY(int Port READ Port WRITE SetPort)

public:
    static constexpr int DefaultPort = 211;

    explicit TSocketConnection(QObject* owner = nullptr);
    ~TSocketConnection() override;

    QString Host() const { return host_; }
    void SetHost(const QString& host);
    QString Address() const { return address_; }
    void SetAddress(const QString& address);
    int Port() const { return port_; }
    void SetPort(int port) { port_ = port; }

protected:
    // A TSocketTransport with Host, Address and Port. Raises
    // ESocketConnectionError "No address specified" when Host and Address
    // are both empty, and ESocketConnectionError for a Port outside 0 to
    // 65535.
    std::unique_ptr<ITransport> CreateTransport() override;

private:
    QString host_;
    QString address_;
    int port_ = DefaultPort;
};

} // namespace velkaro
