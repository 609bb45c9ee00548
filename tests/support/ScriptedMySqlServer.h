#pragma once
// A MySQL server at the socket seam for the tests of whole programs: it
// listens on 127.0.0.1 (TcpPeer), greets one client as a 5.5 server does,
// takes any login, and answers each statement from a table: a result set,
// an OK packet, or an error packet. It records what the client did. The
// destructor waits until the client has gone (COM_QUIT or a closed socket).

#include "support/TcpPeer.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <memory>
#include <mutex>

namespace velkaro::testing {

class ScriptedMySqlServer {
public:
    struct Answer {
        QList<QByteArray> columns; // column definitions (ColumnDef41); none: an OK packet
        QList<QList<QByteArray>> rows;
        quint16 errorCode = 0; // not 0: an error packet with ErrorMessage instead
        QByteArray errorMessage;
    };
    // Statements not in the table get error 1146; "SET NAMES ..." gets OK.
    explicit ScriptedMySqlServer(QHash<QByteArray, Answer> answers);

    int Port() const { return port_; }

    struct Record {
        int logins = 0;
        QByteArray user;
        QByteArray database;
        quint8 charset = 0;
        QList<QByteArray> statements; // in order
        bool quit = false; // the client said COM_QUIT
    };
    // What the client did so far.
    Record Seen() const;
    // Waits until the client has gone (it said COM_QUIT or closed the
    // socket; at most a few seconds), then what it did.
    Record WaitUntilGone();

private:
    void play(platform::TcpSocket& client);

    QHash<QByteArray, Answer> answers_;
    mutable std::mutex lock_;
    Record record_;
    std::unique_ptr<TcpPeer> peer_;
    int port_ = 0;
};

// The version table as the update client reads it.
ScriptedMySqlServer::Answer VersionRows(const QList<QByteArray>& versions);

} // namespace velkaro::testing
