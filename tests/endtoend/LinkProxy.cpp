#include "endtoend/LinkProxy.h"

#include "core/Bytes.h"

#include <stdexcept>

namespace velkaro::testing {

using platform::SocketResult;
using platform::TcpSocket;

LinkProxy::LinkProxy(quint16 serverPort, qint64 cutAfter)
    : serverPort_(serverPort)
    , cutAfter_(cutAfter)
{
    if (!listener_.Listen({platform::SocketAddress::Loopback, 0}).Ok())
        throw std::runtime_error("the proxy cannot listen");
    acceptor_ = std::thread([this] {
        while (!stopping_) {
            TcpSocket client;
            if (listener_.Accept(client, platform::NoTimeLimit, &stop_).Ok())
                serve(std::move(client));
        }
    });
}

LinkProxy::~LinkProxy()
{
    stopping_ = true;
    stop_.Signal();
    acceptor_.join();
    for (std::thread& pump : pumps_)
        pump.join();
}

QList<qint32> LinkProxy::ClientBlocks() const
{
    const std::lock_guard lock(lock_);
    QList<qint32> signatures;
    ByteReader blocks(fromClient_);
    while (blocks.Remaining() >= 8) {
        const qint32 signature = blocks.I32();
        const qint32 size = blocks.I32();
        if (size < 0 || size > blocks.Remaining())
            break;
        blocks.Skip(size);
        signatures.append(signature);
    }
    return signatures;
}

void LinkProxy::serve(TcpSocket client)
{
    auto server = std::make_shared<TcpSocket>();
    if (!server->Connect({platform::SocketAddress::Loopback, serverPort_}, 10000).Ok())
        return;
    auto downstream = std::make_shared<TcpSocket>(std::move(client));
    // Client to server: everything, noted.
    pumps_.emplace_back([this, server, downstream] {
        char buffer[64 * 1024];
        for (;;) {
            const SocketResult r = downstream->Read(buffer, sizeof buffer);
            if (!r.Ok() || r.count == 0)
                break;
            {
                const std::lock_guard lock(lock_);
                fromClient_.append(buffer, r.count);
            }
            if (!server->WriteAll(buffer, r.count).Ok())
                break;
        }
        server->Shutdown();
    });
    // Server to client: up to the cut.
    pumps_.emplace_back([this, server, downstream] {
        char buffer[64 * 1024];
        for (;;) {
            qint64 want = sizeof buffer;
            if (cutAfter_ >= 0)
                want = std::min(want, cutAfter_ - serverBytes_);
            if (want <= 0)
                break;
            const SocketResult r = server->Read(buffer, want);
            if (!r.Ok() || r.count == 0)
                break;
            serverBytes_ += r.count;
            if (!downstream->WriteAll(buffer, r.count).Ok())
                break;
        }
        downstream->Shutdown();
        server->Shutdown();
    });
}

} // namespace velkaro::testing
