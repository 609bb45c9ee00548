#include "remote/RemoteServer.h"

#include "core/Dispatch.h"
#include "core/Exceptions.h"

#include <utility>

namespace velkaro {

// ---- TCustomRemoteServer ---------------------------------------------------

TCustomRemoteServer::TCustomRemoteServer(QObject* owner)
    : TComponent(owner)
{
}

bool TCustomRemoteServer::Connected() const
{
    return appServer_.VType() == varDispatch && appServer_.Dispatch() != nullptr;
}

void TCustomRemoteServer::SetConnected(bool value)
{
    if (Loading()) {
        streamedConnected_ = value;
        return;
    }
    if (!value) {
        DoDisconnect();
        return;
    }
    if (Connected())
        return;
    appServer_ = DoConnect();
}

void TCustomRemoteServer::ReleaseAppServer()
{
    // The release may send a request, and that may serve incoming ones: the
    // component already reads as closed by then.
    Variant released = std::exchange(appServer_, Variant::Null());
    released = Variant();
}

void TCustomRemoteServer::Loaded()
{
    TComponent::Loaded();
    if (std::exchange(streamedConnected_, false))
        SetConnected(true);
}

// ---- TDispatchConnection ---------------------------------------------------

TDispatchConnection::TDispatchConnection(QObject* owner)
    : TCustomRemoteServer(owner)
{
}

void TDispatchConnection::SetServerName(const QString& name)
{
    serverName_ = name;
    if (!Loading())
        serverGUID_ = LocalClassID(name);
}

QString TDispatchConnection::RemoteObjectName() const
{
    if (!serverGUID_.isNull())
        return serverGUID_.toString(QUuid::WithBraces).toUpper();
    if (serverName_.isEmpty())
        throw Exception(QString::fromLatin1(msg::NoServerName).arg(objectName()));
    return serverName_;
}

QUuid TDispatchConnection::LocalClassID(const QString&) const
{
    return {};
}

} // namespace velkaro
