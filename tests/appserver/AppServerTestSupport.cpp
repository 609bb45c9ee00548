#include "appserver/AppServerTestSupport.h"

#include "remote/RemoteTestSupport.h"
#include "support/LinkPeer.h"
#include "support/TcpPeer.h"

#include <QFile>
#include <QRandomGenerator>

#include <stdexcept>

namespace velkaro::testing {

RunningAppServer::RunningAppServer(const std::function<void(TAppServerSettings&)>& adjust)
{
    TAppServerSettings settings;
    settings.listen = {platform::SocketAddress::Loopback, 0};
    settings.releaseFolder = folder_.path();
    settings.stopTimeoutSeconds = 2;
    if (adjust)
        adjust(settings);
    log_.SetSink([this](const QString& line) {
        const std::lock_guard lock(lock_);
        lines_.append(line);
        logged_.notify_all();
    });
    server_ = std::make_unique<TAppServer>(settings, log_);
    server_->Listen();
    port_ = server_->Port();
    thread_ = std::thread([this] { server_->Run(); });
}

RunningAppServer::~RunningAppServer()
{
    Stop();
}

void RunningAppServer::Stop()
{
    if (!thread_.joinable())
        return;
    server_->Stop();
    thread_.join();
}

void RunningAppServer::Release(const QString& fileName, const QByteArray& bytes) const
{
    QFile file(folder_.path() + u'/' + fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write a released program");
}

QStringList RunningAppServer::Log() const
{
    const std::lock_guard lock(lock_);
    return lines_;
}

bool RunningAppServer::WaitForLog(const QString& part, int timeoutMs) const
{
    std::unique_lock lock(lock_);
    return logged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const QString& line : lines_) {
            if (line.contains(part))
                return true;
        }
        return false;
    });
}

LinkClient::LinkClient(quint16 port)
{
    transport.SetAddress(QStringLiteral("127.0.0.1"));
    transport.SetPort(port);
    transport.SetConnected(true);
}

LinkClient::~LinkClient() = default;

DataBlockRef LinkClient::Send(const DataBlockRef& block, bool waitForResult)
{
    transport.Send(block);
    if (!waitForResult)
        return nullptr;
    for (;;) {
        const DataBlockRef reply = transport.Receive(true);
        if ((reply->GetSignature() & KindMask) == ResultSig)
            return reply;
        interpreter.InterpretData(reply);
    }
}

RawClient::RawClient(quint16 port)
{
    if (!socket.Connect({platform::SocketAddress::Loopback, port}, Patience).Ok())
        throw std::runtime_error("cannot connect to the test server");
    socket.SetReceiveTimeout(Patience);
}

void RawClient::Write(const QByteArray& bytes)
{
    TcpPeer::WriteAll(socket, bytes);
}

QByteArray RawClient::ReadBlock()
{
    return ReadLinkBlock(socket);
}

QByteArray RawClient::Read(qsizetype size)
{
    return TcpPeer::ReadExactly(socket, size);
}

QByteArray RawClient::ReadToEnd()
{
    QByteArray all;
    char buffer[64 * 1024];
    for (;;) {
        const platform::SocketResult r = socket.Read(buffer, sizeof buffer);
        if (!r.Ok() || r.count == 0)
            return all;
        all.append(buffer, r.count);
    }
}

QByteArray CreateObjectRequest(const QString& className)
{
    return Block(CallSig | asCreateObject, Text(className));
}

QByteArray GetIDRequest(qint32 index, const QString& name)
{
    return Block(CallSig | asGetID, Int(index) + Text(name));
}

QByteArray DownloadRequest(qint32 index, qint32 dispId, const QString& name)
{
    return Block(
        CallSig | asInvoke, Int(index) + Int(dispId) + Int(1) + Hex("0B000000 FFFF") + Int(1) + Int(0) + Text(name));
}

QByteArray ProgramBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    qsizetype i = 0;
    for (; i + 4 <= size; i += 4) {
        const quint32 word = generator.generate();
        std::memcpy(bytes.data() + i, &word, 4);
    }
    for (; i < size; ++i)
        bytes[i] = char(generator.generate());
    return bytes;
}

} // namespace velkaro::testing
