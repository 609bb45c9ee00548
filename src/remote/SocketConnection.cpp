#include "remote/SocketConnection.h"

#include "remote/RemoteErrors.h"

namespace velkaro {

TSocketConnection::TSocketConnection(QObject* owner)
    : TStreamedConnection(owner)
{
}

// Closing runs in the base class, which needs nothing of this one.
TSocketConnection::~TSocketConnection() = default;

void TSocketConnection::SetHost(const QString& host)
{
    host_ = host;
    if (!host.isEmpty())
        address_.clear();
}

void TSocketConnection::SetAddress(const QString& address)
{
    address_ = address;
    if (!address.isEmpty())
        host_.clear();
}

std::unique_ptr<ITransport> TSocketConnection::CreateTransport()
{
    if (address_.isEmpty() && host_.isEmpty())
        throw ESocketConnectionError(QString::fromLatin1(msg::NoAddress));
    if (port_ < 0 || port_ > 65535)
        throw ESocketConnectionError(QStringLiteral("%1 is not a TCP port").arg(port_));
    auto transport = std::make_unique<TSocketTransport>();
    transport->SetHost(host_);
    transport->SetAddress(address_);
    transport->SetPort(quint16(port_));
    return transport;
}

} // namespace velkaro
