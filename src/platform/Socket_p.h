#pragma once
// Details of the socket seam that its tests reach.

#include "platform/Socket.h"

namespace velkaro::platform::internal {

// SendFile's way where the system cannot send from a file to a socket
// itself: read and write through one small buffer.
SocketResult SendFileByCopy(TcpSocket& socket, QFile& file, qint64 offset, qint64 count);

// The system's handle, for tests that read the options back.
qintptr NativeHandle(const TcpSocket& socket);

} // namespace velkaro::platform::internal
