#include "support/LinkPeer.h"

#include "core/Bytes.h"
#include "support/TcpPeer.h"

namespace velkaro::testing {

QByteArray ReadLinkBlock(platform::TcpSocket& socket)
{
    const QByteArray header = TcpPeer::ReadExactly(socket, 8);
    if (header.size() < 8)
        return header;
    const qint32 size = ByteReader(QByteArrayView(header).sliced(4)).I32();
    return header + TcpPeer::ReadExactly(socket, qMax(size, 0));
}

bool AwaitClientClose(platform::TcpSocket& socket, QList<QByteArray>* blocks)
{
    for (;;) {
        char first = 0;
        const platform::SocketResult r = socket.Read(&first, 1);
        // A client that closes with bytes unread resets the connection.
        if (!r.Ok())
            return r.status != platform::SocketStatus::TimedOut;
        if (r.count == 0)
            return true;
        const QByteArray rest = TcpPeer::ReadExactly(socket, 7);
        QByteArray block = QByteArray(1, first) + rest;
        if (block.size() == 8) {
            const qint32 size = ByteReader(QByteArrayView(block).sliced(4)).I32();
            block += TcpPeer::ReadExactly(socket, qMax(size, 0));
        }
        if (blocks != nullptr)
            blocks->append(block);
    }
}

} // namespace velkaro::testing
