#pragma once
// One client of the application server: its link, served on a thread of
// its own until the client closes it, it stays idle too long, it breaks the
// protocol, or the server stops.
//
// Requests are served by the link's interpreter (TDataBlockInterpreter with
// the server's classes), except DownloadUpdate on a VelkaroAS.VelkaroDM
// object: its reply (header, result code, array header) is written first and
// the program follows straight from its file, so a large program costs no
// buffer of its size. The reply's size is the open file's size; a file that
// ends early drops the link rather than hand the client a short program.
//
// The server never waits for a reply of the client: it sends no requests,
// only the release of an object the client handed over (which nothing in
// this system does).

#include "appserver/ServerLog.h"
#include "platform/Socket.h"
#include "remote/DataBlockInterpreter.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <mutex>

namespace velkaro {

// What every connection of one server shares; it outlives them all.
struct TServerContext {
    const TClassRegistry* registry = nullptr;
    TServerLog* log = nullptr;
    int idleTimeoutMs = 15 * 60 * 1000; // no request for this long ends the link
    int requestTimeoutMs = 30 * 1000; // a request that has begun arrives whole within this
    qint64 maxRequestSize = 1024 * 1024; // larger request payloads end the link
};

class TServedConnection final : private ISendDataBlock {
public:
    // Number names the connection in the log.
    TServedConnection(platform::TcpSocket socket, const TServerContext& context, quint64 number);
    ~TServedConnection() override;
    TServedConnection(const TServedConnection&) = delete;
    TServedConnection& operator=(const TServedConnection&) = delete;

    // Serves requests until the link ends; closes the socket and logs
    // why. Raises nothing.
    void Run();

    // Any thread. Stop ends Run once the request being served (if any) is
    // answered; Abort also ends a reply being sent, by shutting the socket.
    void Stop();
    void Abort();

    // "#12 10.0.0.7:51234", for the log.
    const QString& Label() const { return label_; }

private:
    struct RequestRecord;
    struct LinkEnded {
        QString reason;
    };

    DataBlockRef Send(const DataBlockRef& block, bool waitForResult) override;

    // The next whole request; raises LinkEnded when there is none to come.
    DataBlockRef readRequest();
    void readSome(char* into, qint64 count, qint64& done, const char* where);
    void serve(const DataBlockRef& request);
    bool serveDownload(const DataBlockRef& request, RequestRecord& record);
    void writeAll(const QByteArray& bytes);
    void closeSocket();

    const TServerContext& context_;
    const QString label_;
    platform::TcpSocket socket_;
    std::mutex socketLock_; // between Abort and the closing of the socket
    platform::SocketWaker waker_;
    std::atomic<bool> stopping_ = false;
    TDataBlockInterpreter interpreter_;

    RequestRecord* current_ = nullptr; // the request being served, for Send
    qint64 requests_ = 0;
    qint64 bytesSent_ = 0;
    qint64 bytesReceived_ = 0;
    QElapsedTimer alive_;
};

} // namespace velkaro
