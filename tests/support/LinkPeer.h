#pragma once
// For peers that play the application server (or its client) at the socket
// seam: one data block of the link as it arrives, header and payload.

#include "platform/Socket.h"

#include <QByteArray>
#include <QList>

namespace velkaro::testing {

// The next whole block, or the bytes that came before the client closed.
QByteArray ReadLinkBlock(platform::TcpSocket& socket);

// Reads blocks until the client closes its end, appending them to Blocks
// (when given). True when the client closed (also abortively, with bytes
// left unread); false when the peer's patience ran out first.
bool AwaitClientClose(platform::TcpSocket& socket, QList<QByteArray>* blocks = nullptr);

} // namespace velkaro::testing
