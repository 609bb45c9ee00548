#pragma once
// The application server in the test process, and the two kinds of client
// the tests drive it with: the link's own classes (as the update client
// uses them) and a raw socket that sends exactly the bytes a test gives.

#include "appserver/AppServer.h"
#include "platform/Socket.h"
#include "remote/DataBlockInterpreter.h"
#include "remote/SocketTransport.h"

#include <QStringList>
#include <QTemporaryDir>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace velkaro::testing {

// Only keeps a broken build from hanging the run.
inline constexpr int Patience = 20000;

// A server on a free port of 127.0.0.1 with a release folder of its own,
// running on a thread until the object goes (or Stop).
class RunningAppServer {
public:
    explicit RunningAppServer(const std::function<void(TAppServerSettings&)>& adjust = {});
    ~RunningAppServer();

    quint16 Port() const { return port_; }
    QString Folder() const { return folder_.path(); }
    // Puts a file into the release folder.
    void Release(const QString& fileName, const QByteArray& bytes) const;

    QStringList Log() const;
    // Waits until a log line contains Part; false when none did in time.
    bool WaitForLog(const QString& part, int timeoutMs = Patience) const;

    // Stops the server and waits for Run to return.
    void Stop();
    TAppServer& Server() { return *server_; }

private:
    QTemporaryDir folder_;
    TServerLog log_;
    std::unique_ptr<TAppServer> server_;
    quint16 port_ = 0;
    std::thread thread_;
    mutable std::mutex lock_;
    mutable std::condition_variable logged_;
    QStringList lines_;
};

// The client side of the link as the update client has it: transport and
// interpreter, driven on the calling thread. Requests from the server that
// arrive while a reply is awaited are served.
class LinkClient final : public ISendDataBlock {
public:
    explicit LinkClient(quint16 port);
    ~LinkClient() override;
    DataBlockRef Send(const DataBlockRef& block, bool waitForResult) override;

    TSocketTransport transport;
    TDataBlockInterpreter interpreter {*this};
};

// A client that sends and reads raw bytes.
class RawClient {
public:
    explicit RawClient(quint16 port);
    void Write(const QByteArray& bytes);
    // The next whole block, or what came before the server closed.
    QByteArray ReadBlock();
    QByteArray Read(qsizetype size);
    // Reads until the server closes the link; what arrived.
    QByteArray ReadToEnd();
    platform::TcpSocket socket;
};

// Requests of the download exchange, as the update client sends them.
QByteArray CreateObjectRequest(const QString& className = QStringLiteral("VelkaroAS.VelkaroDM"));
QByteArray GetIDRequest(qint32 index, const QString& name = QStringLiteral("DownloadUpdate"));
QByteArray DownloadRequest(qint32 index, qint32 dispId, const QString& name);

// Bytes that look like a program: random, reproducible.
QByteArray ProgramBytes(qsizetype size, quint32 seed = 7);

} // namespace velkaro::testing
