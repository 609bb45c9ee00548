#pragma once
// A scripted application server at the socket seam, for the update client's
// tests: it listens on 127.0.0.1 on a port the system chooses, plays with
// each client that comes in a thread of its own and answers the download
// exchange, block by block, as the real server does:
//   asCreateObject  a reference to the object at ObjectIndex (or an error
//                   block, when the script refuses)
//   asGetID         DownloadId for "DownloadUpdate", DISP_E_UNKNOWNNAME else
//   asInvoke        result 0 and Program as a byte array (or the Result
//                   value as given); or DISP_E_EXCEPTION with Failure; or the
//                   link dropped inside the reply
//   asFreeObject    nothing (never answered)
// It records every block the clients send and plays with each until it
// closes (or the script drops the link). The destructor stops taking
// clients and waits for those that came to close.

#include "platform/Socket.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <mutex>
#include <thread>
#include <vector>

namespace velkaro::testing {

class AppServerPeer {
public:
    static constexpr qint32 ObjectIndex = 1;
    static constexpr qint32 DownloadId = 21;

    struct Script {
        QByteArray program = QByteArray("new program");
        QByteArray result; // when set: the encoded value answered instead of the program's bytes
        QString refuseCreate; // when set: the create is answered by an error block with this text
        QString failure; // when set: DownloadUpdate fails with this description
        bool dropAfterCreate = false; // the link drops while idle, right after opening
        bool dropInsideReply = false; // the link drops in the middle of the download's reply
    };

    // Port 0: one the system chooses. Port() is 0 when the port could not
    // be had.
    explicit AppServerPeer(Script script, quint16 port = 0);
    AppServerPeer()
        : AppServerPeer(Script {})
    {
    }
    ~AppServerPeer();
    AppServerPeer(const AppServerPeer&) = delete;
    AppServerPeer& operator=(const AppServerPeer&) = delete;

    int Port() const { return port_; }

    // What the client sent, in order, one entry per block: "create <name>",
    // "getid <name>", "invoke <dispid> <text argument>", "free <index>" or
    // "action <n>" for anything else.
    QStringList Requests() const;
    // The blocks themselves.
    QList<QByteArray> Blocks() const;
    // Waits until the clients have sent Count blocks (false when the
    // patience ran out).
    bool WaitForBlocks(qsizetype count) const;
    // Waits until every client that came has closed its end (at most a few
    // seconds), then what they sent.
    QStringList WaitUntilGone() const;

    // The blocks of the exchange, as the client sends them.
    static QByteArray CreateRequest(const QString& name);
    static QByteArray FreeRequest();

private:
    void play(platform::TcpSocket& client);
    void record(const QByteArray& block, const QString& request);

    Script script_;
    platform::TcpListener listener_;
    platform::SocketWaker stop_;
    int port_ = 0;
    mutable std::mutex mutex_;
    QList<QByteArray> blocks_;
    QStringList requests_;
    int playing_ = 0; // clients that have not closed yet
    std::vector<std::thread> clients_; // the acceptor's alone
    std::thread acceptor_;
};

} // namespace velkaro::testing
