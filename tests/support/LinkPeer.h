#pragma once
// For peers that play the application server (or its client) at the socket
// seam: one data block of the link as it arrives, header and payload.

#include "platform/Socket.h"

#include <QByteArray>

namespace velkaro::testing {

// The next whole block, or the bytes that came before the client closed.
QByteArray ReadLinkBlock(platform::TcpSocket& socket);

} // namespace velkaro::testing
