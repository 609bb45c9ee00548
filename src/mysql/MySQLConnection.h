#pragma once
// TMySQLConnection: the native MySQL connection of a TUniConnection. It
// keeps the provider's connection options, opens a fresh TMySqlSession for
// every connect, starts the session ("SET NAMES ...") and raises the
// session's failures as EMyError.
//
// Connect, in this order: a fresh session; its connect timeout
// (ConnectionTimeout) and, when UseUnicode is on or Charset is "utf8", the
// character set name "utf8" (the login then announces character set 33 and
// texts travel in UTF-8); the client flags CLIENT_FOUND_ROWS |
// CLIENT_MULTI_STATEMENTS (| CLIENT_COMPRESS with Compress); the host, which
// is the server text before its first "," ("localhost" when empty), in the
// ANSI code page; user and password in UTF-8 when texts travel in UTF-8,
// else in the ANSI code page; the database in the ANSI code page; the port
// (0 is 3306); the login; then the server version is decoded and the
// session started: below 4.1 UseUnicode is switched off and nothing is sent,
// otherwise "SET NAMES utf8" with UseUnicode, "SET NAMES <Charset>" with a
// Charset, or nothing. A failure anywhere closes the half-open session
// before the error propagates.
//
// Errors: EMyError with the session's code and text (server texts decoded
// as the session speaks: UTF-8 with "utf8", else the ANSI code page).
// 1053, 2003, 2006 and 2013 (and MariaDB's 1927, "Connection was killed")
// are fatal: the connection is marked invalid and the component's handler
// disconnects before the error propagates (TCRConnection). There is no
// automatic reconnection; the next Connect starts from scratch.

#include "mysql/CRConnection.h"
#include "mysql/MySqlNet.h"
#include "mysql/MySqlSession.h"

#include <QByteArray>

#include <memory>

namespace velkaro {

class EMyError;

class TMySQLConnection : public TCRConnection {
public:
    // What the client reports as its own version.
    static constexpr const char* ClientVersion = "7.0.0 Direct";

    TMySQLConnection();
    // Disconnects (COM_QUIT) when connected.
    ~TMySQLConnection() override;

    QString ClassName() const override;
    // The ids of MySQLOptions.h: database (38), port (39), the connection
    // options (1001 ...), check precision (1032) and check backslashes
    // (1035). UseUnicode and Charset re-run the session start on an open
    // connection.
    bool SetProp(int prop, const Variant& value) override;
    bool GetProp(int prop, Variant& value) const override;

    void Connect() override;
    // Sends COM_QUIT and closes the socket; errors are ignored.
    void Disconnect() override;
    bool InTransaction() const override;
    std::unique_ptr<TCRRecordSet> CreateRecordSet() override;
    // With the connection timeout as its command timeout.
    void ExecuteStatement(const QString& sql) override;

    // How each fresh session makes its endpoint (tests); the TCP endpoint
    // when none is set.
    void SetVioFactory(TMySqlSession::VioFactory factory) { vioFactory_ = std::move(factory); }
    // The current session; null before the first connect. Replaced by every
    // connect: SessionGeneration tells a holder of its results whether they
    // are still its own.
    TMySqlSession* Session() const { return session_.get(); }
    quint64 SessionGeneration() const { return generation_; }

    // From the greeting of the last connect: "5.5.62-log" is 5, 5 and 62.
    const QByteArray& ServerVersion() const { return serverVersion_; }
    int ServerPrimaryVer() const { return primaryVer_; }
    int ServerMinorVer() const { return minorVer_; }
    int ServerReleaseVer() const { return releaseVer_; }
    // Milliseconds of the clock when the last connect succeeded.
    qint64 ConnectTime() const { return connectTime_; }

    bool UseUnicode() const { return useUnicode_; }
    // How statement texts go out: UTF-8 with UseUnicode, else the ANSI code page.
    TextCoding Coding() const { return useUnicode_ ? TextCoding::Utf8 : TextCoding::Ansi; }
    int ConnectionTimeout() const { return connectionTimeout_; }
    const QString& Charset() const { return charset_; }
    bool Compress() const { return compress_; }
    bool OptimizedBigint() const { return optimizedBigint_; }
    bool NullForZeroDateValue() const { return nullForZeroDateValue_; }
    bool CheckPrecision() const { return checkPrecision_; }
    bool NeedBackslashes() const { return needBackslashes_; }
    const QString& Database() const { return database_; }
    int Port() const { return port_; }

    // Raises Error as this connection's error: a fatal one marks the
    // connection invalid and lets the component disconnect first.
    [[noreturn]] void RaiseError(const EMyError& error);

private:
    void closeSession();
    void decodeServerVersion();
    void startSession();
    void checkBackslashes();

    std::unique_ptr<TMySqlSession> session_;
    TMySqlSession::VioFactory vioFactory_;
    quint64 generation_ = 0;

    QString database_;
    int port_ = 0;
    int connectionTimeout_ = 15;
    QString charset_;
    bool useUnicode_ = false;
    bool compress_ = false;
    int protocol_ = 0;
    bool direct_ = true;
    bool embedded_ = false;
    bool optimizedBigint_ = false;
    bool nullForZeroDateValue_ = false;
    bool checkPrecision_ = false;
    bool checkBackslashes_ = false;
    bool needBackslashes_ = true;
    // Options of transports this client does not have, kept as given.
    QString embeddedParams_;
    QString sslCipherList_, sslCACert_, sslKey_, sslCert_;
    QString httpUrl_, httpUsername_, httpPassword_, proxyHostname_, proxyUsername_, proxyPassword_;
    int proxyPort_ = 0;

    QByteArray serverVersion_;
    int primaryVer_ = 0;
    int minorVer_ = 0;
    int releaseVer_ = 0;
    qint64 connectTime_ = 0;
};

} // namespace velkaro
