#include "appserver/AppServer.h"

#include "appserver/VelkaroDM.h"
#include "core/Exceptions.h"

#include <QElapsedTimer>

namespace velkaro {

using platform::SocketResult;
using platform::SocketStatus;

namespace {

constexpr int KeepAliveIdleMs = 60 * 1000;
constexpr int KeepAliveIntervalMs = 10 * 1000;
// A listener that fails for a lack of resources (no descriptors left) is
// tried again after this pause rather than at once.
constexpr int AcceptRetryMs = 200;

} // namespace

TAppServer::TAppServer(TAppServerSettings settings, TServerLog& log)
    : settings_(std::move(settings))
    , log_(log)
    , folder_(std::make_shared<TReleaseFolder>(settings_.releaseFolder))
{
    TRegisteredClass cls;
    cls.ProgID = QString::fromLatin1(TVelkaroDM::ProgID);
    cls.Factory = [folder = folder_]() -> DispatchRef { return std::make_shared<TVelkaroDM>(folder); };
    registry_.Register(std::move(cls));

    context_.registry = &registry_;
    context_.log = &log_;
    context_.idleTimeoutMs = settings_.idleTimeoutSeconds * 1000;
    context_.requestTimeoutMs = settings_.requestTimeoutSeconds * 1000;
}

TAppServer::~TAppServer()
{
    Stop();
    stopClients();
}

void TAppServer::Listen()
{
    const SocketResult r = listener_.Listen(settings_.listen);
    if (r.Ok())
        return;
    QString reason = r.ErrorText();
    if (r.status == SocketStatus::Failed && settings_.listen.port != 0 && settings_.listen.port < 1024)
        reason += QStringLiteral(" (ports below 1024 need root or the capability CAP_NET_BIND_SERVICE)");
    throw Exception(QStringLiteral("Cannot listen on %1: %2").arg(settings_.listen.ToString(), reason));
}

void TAppServer::Stop()
{
    stopping_ = true;
    wakeup_.Signal();
}

void TAppServer::Run()
{
    log_.Write(LogLevel::Errors,
        QStringLiteral("listening on %1, release folder %2, at most %3 clients at a time")
            .arg(platform::SocketAddress {settings_.listen.ip, Port()}.ToString(), folder_->Path(),
                QString::number(settings_.maxClients)));
    bool full = false;
    while (!stopping_) {
        reapFinished();
        if (active_ >= settings_.maxClients) {
            if (!full)
                log_.Write(LogLevel::Errors,
                    QStringLiteral("all %1 client slots are in use; new clients wait until one is free")
                        .arg(settings_.maxClients));
            full = true;
            wakeup_.Wait(platform::NoTimeLimit);
            continue;
        }
        full = false;
        platform::TcpSocket socket;
        const SocketResult r = listener_.Accept(socket, platform::NoTimeLimit, &wakeup_);
        if (r.status == SocketStatus::Woken || r.status == SocketStatus::TimedOut)
            continue;
        if (!r.Ok()) {
            log_.Write(LogLevel::Errors, QStringLiteral("accepting a client failed: %1").arg(r.ErrorText()));
            wakeup_.Wait(AcceptRetryMs);
            continue;
        }
        accepted(std::move(socket));
    }

    listener_.Close();
    log_.Write(LogLevel::Errors,
        QStringLiteral("stopping: no new clients; %1 connections still open").arg(QString::number(active_.load())));
    stopClients();
    log_.Write(LogLevel::Errors, QStringLiteral("stopped"));
}

void TAppServer::accepted(platform::TcpSocket socket)
{
    // Replies go out as soon as they are written; a client that vanishes
    // without closing is noticed, and one that stops reading is dropped.
    socket.SetNoDelay(true);
    socket.SetKeepAlive(true, KeepAliveIdleMs, KeepAliveIntervalMs);
    socket.SetSendTimeout(settings_.sendTimeoutSeconds * 1000);

    const std::lock_guard lock(clientsLock_);
    Client& client = clients_.emplace_back();
    client.connection = std::make_unique<TServedConnection>(std::move(socket), context_, ++numbered_);
    ++active_;
    client.thread = std::thread([this, &client] {
        client.connection->Run();
        client.done = true;
        --active_;
        wakeup_.Signal();
    });
}

void TAppServer::reapFinished()
{
    const std::lock_guard lock(clientsLock_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (!it->done) {
            ++it;
            continue;
        }
        it->thread.join();
        it = clients_.erase(it);
    }
}

void TAppServer::stopClients()
{
    {
        const std::lock_guard lock(clientsLock_);
        for (Client& client : clients_)
            client.connection->Stop();
    }
    QElapsedTimer waited;
    waited.start();
    const qint64 limitMs = qint64(settings_.stopTimeoutSeconds) * 1000;
    while (active_ > 0 && waited.elapsed() < limitMs)
        wakeup_.Wait(int(std::max<qint64>(1, limitMs - waited.elapsed())));
    {
        const std::lock_guard lock(clientsLock_);
        for (Client& client : clients_) {
            if (!client.done) {
                log_.Write(LogLevel::Errors,
                    QStringLiteral("%1 still busy after %2 s: cut off")
                        .arg(client.connection->Label(), QString::number(settings_.stopTimeoutSeconds)));
                client.connection->Abort();
            }
        }
    }
    const std::lock_guard lock(clientsLock_);
    for (Client& client : clients_) {
        if (client.thread.joinable())
            client.thread.join();
    }
    clients_.clear();
}

} // namespace velkaro
