#include "platform/Socket.h"
#include "platform/Socket_p.h"

// The parts of the socket seam that are the same on every system; the
// system calls are in SocketPosix.cpp.

namespace velkaro::platform {

QString SocketAddress::IpText() const
{
    return QString::number(ip >> 24) + u'.' + QString::number((ip >> 16) & 0xFF) + u'.'
        + QString::number((ip >> 8) & 0xFF) + u'.' + QString::number(ip & 0xFF);
}

QString SocketAddress::ToString() const
{
    return IpText() + u':' + QString::number(port);
}

SocketResult TcpSocket::WriteAll(const void* data, qint64 count)
{
    const char* p = static_cast<const char*>(data);
    qint64 done = 0;
    while (done < count) {
        SocketResult step = Write(p + done, count - done);
        done += step.count;
        if (!step.Ok()) {
            step.count = done;
            return step;
        }
    }
    return SocketResult {SocketStatus::Ok, 0, done};
}

qintptr internal::NativeHandle(const TcpSocket& socket)
{
    return socket.handle_;
}

} // namespace velkaro::platform
