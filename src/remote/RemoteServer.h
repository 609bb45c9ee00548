#pragma once
// The connection components of the application-server link, from the top:
//
//   TCustomRemoteServer   Connected, and AppServer: the remote object
//   TDispatchConnection   which object to create: ServerName, ServerGUID
//   TStreamedConnection   blocks, interpreter, transport thread, the
//                         request/reply exchange (remote/StreamedConnection.h)
//   TSocketConnection     host, address and port (remote/SocketConnection.h)
//
// Components live on the GUI thread; nothing here may be called from
// another thread.

#include "core/Component.h"
#include "core/Variant.h"

#include <QUuid>

namespace velkaro {

namespace msg {
inline constexpr const char* NoServerName = "Cannot connect, %1 must contain a valid ServerName or ServerGUID";
} // namespace msg

class TCustomRemoteServer : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Connected READ Connected WRITE SetConnected)
    Q_PROPERTY(bool LoginPrompt READ LoginPrompt WRITE SetLoginPrompt)

public:
    explicit TCustomRemoteServer(QObject* owner = nullptr);

    // True while AppServer holds a reference to the remote object.
    bool Connected() const;
    // True opens the link and creates the remote object (nothing happens
    // when it is open); false closes whatever is open. While the component
    // is loading, the value is only remembered, and Loaded applies a true.
    // Opening raises what failed, with the link closed again.
    void SetConnected(bool value);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }

    // The remote object: a variant holding its dispatch reference while the
    // link is open, Null otherwise. Reading it never connects. Copies made
    // by callers keep the object alive until they go.
    Variant AppServer() const { return appServer_; }

    // No login dialogue: kept for the window descriptions that set it.
    bool LoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool value) { loginPrompt_ = value; }

    void Loaded() override;

protected:
    // Opens the link and returns the remote object, a dispatch reference;
    // raises with the link closed again when any step fails.
    virtual Variant DoConnect() = 0;
    // Closes whatever is open, starting with ReleaseAppServer. Called also
    // when nothing is open; raises nothing it can keep to itself.
    virtual void DoDisconnect() = 0;
    // Sets AppServer to Null; releasing the last reference to the remote
    // object tells the server (asFreeObject).
    void ReleaseAppServer();

private:
    Variant appServer_ = Variant::Null();
    bool streamedConnected_ = false;
    bool loginPrompt_ = false;
};

class TDispatchConnection : public TCustomRemoteServer {
    Q_OBJECT
    Q_PROPERTY(QString ServerName READ ServerName WRITE SetServerName)
    Q_PROPERTY(QUuid ServerGUID READ ServerGUID WRITE SetServerGUID)

public:
    explicit TDispatchConnection(QObject* owner = nullptr);

    QString ServerName() const { return serverName_; }
    // Outside loading, also sets ServerGUID to the class identifier under
    // which the name is registered locally (LocalClassID), or all-zero.
    void SetServerName(const QString& name);
    QUuid ServerGUID() const { return serverGUID_; }
    void SetServerGUID(const QUuid& guid) { serverGUID_ = guid; }

protected:
    // The name the server is asked to create: ServerGUID in braces when it
    // is set, otherwise ServerName. Raises "Cannot connect, %s must contain
    // a valid ServerName or ServerGUID" (the component's name) when both
    // are empty.
    QString RemoteObjectName() const;
    // The class identifier registered locally under Name; null when none.
    virtual QUuid LocalClassID(const QString& name) const;

private:
    QString serverName_;
    QUuid serverGUID_;
};

} // namespace velkaro
