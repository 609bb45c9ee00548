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

} // namespace velkaro::testing
