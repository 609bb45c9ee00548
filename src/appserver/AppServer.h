#pragma once
// The application server: listens for the update client's link, creates
// "VelkaroAS.VelkaroDM" objects for it and hands out the programs of the
// release folder. Each client is served on a thread of its own, at most
// MaxClients at a time; further clients wait in the listening queue until a
// connection ends.
//
// Stopping (Stop, from any thread): no new clients are accepted, idle links
// close at once, a request being served may finish within StopTimeout, and
// what is still running then is cut off. Run returns when every connection
// has ended.

#include "appserver/ReleaseFolder.h"
#include "appserver/ServedConnection.h"
#include "appserver/ServerLog.h"
#include "platform/Socket.h"
#include "remote/DataBlockInterpreter.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace velkaro {

struct TAppServerSettings {
    platform::SocketAddress listen {platform::SocketAddress::Any, 216}; // port 0: one the system chooses
    QString releaseFolder;
    int maxClients = 64;
    int idleTimeoutSeconds = 15 * 60;
    int requestTimeoutSeconds = 30;
    int sendTimeoutSeconds = 60; // a client that takes no bytes for this long is dropped
    int stopTimeoutSeconds = 10;
    LogLevel logLevel = LogLevel::Requests;
};

class TAppServer {
public:
    TAppServer(TAppServerSettings settings, TServerLog& log);
    ~TAppServer();
    TAppServer(const TAppServer&) = delete;
    TAppServer& operator=(const TAppServer&) = delete;

    // Opens the listening socket; raises Exception with a text for the
    // administrator when it cannot (the address in use, a port below 1024
    // without the right to it).
    void Listen();
    // The port listened on (the chosen one for port 0).
    quint16 Port() const { return listener_.Port(); }

    // Serves until Stop; returns once every connection has ended.
    void Run();
    // Any thread.
    void Stop();

    // The connections being served now.
    int ActiveClients() const { return active_.load(); }

private:
    struct Client {
        std::unique_ptr<TServedConnection> connection;
        std::thread thread;
        std::atomic<bool> done = false;
    };

    void accepted(platform::TcpSocket socket);
    void reapFinished();
    void stopClients();

    TAppServerSettings settings_;
    TServerLog& log_;
    std::shared_ptr<const TReleaseFolder> folder_;
    TClassRegistry registry_;
    TServerContext context_;
    platform::TcpListener listener_;
    platform::SocketWaker wakeup_; // Stop, and a connection that ended
    std::atomic<bool> stopping_ = false;
    std::atomic<int> active_ = 0;
    std::mutex clientsLock_;
    std::list<Client> clients_;
    quint64 numbered_ = 0;
};

} // namespace velkaro
