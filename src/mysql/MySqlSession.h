#pragma once
// TMySqlSession: one MySQL session over one TMySqlNet: the greeting and
// login, text commands and their results, COM_QUIT.
//
// Contract for the layers above (command, record set, connection):
//   - A session is made fresh for every connect. Set the endpoint factory
//     (tests), ConnectTimeout and CharsetName, then Connect. A session that
//     failed to connect, or was closed, stays closed: make a new one.
//   - One command at a time, all on the caller's thread:
//       Query(sql)          sends COM_QUERY (state must be msReady)
//       ReadQueryResult()   reads the answer: 0 for an OK packet (see
//                           AffectedRows, InsertId, ServerStatus,
//                           WarningCount, Info), else the column count; the
//                           columns are then in Fields() and the state is
//                           msGetResult
//       UseResult()         claims the rows (msGetResult -> msUseResult)
//       TMySqlResultSet::Fetch()  one row at a time; false at the end of
//                           the rows, and the session is msReady again
//       FreeResult()        drains unread rows (msReady afterwards)
//       MoreResults() / NextResult()  further results of the same command
//   - Errors are EMyError. A server error packet leaves the session open
//     and msReady. A failure of the link or of the protocol (2013 and the
//     other codes of TMySqlNet, 2059) closes the session before the error
//     propagates; any later call raises 2006 "MySQL server has gone away".
//     Nothing is retried. ErrorNumber/ErrorText keep the last error.
//   - The column definitions and row values are the bytes as the server
//     sent them; decoding them is the record set's job.

#include "mysql/MySqlFieldInfo.h"
#include "mysql/MySqlNet.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace velkaro {

// Capability flags of the login.
enum : quint32 {
    CLIENT_LONG_PASSWORD = 0x00001,
    CLIENT_FOUND_ROWS = 0x00002,
    CLIENT_LONG_FLAG = 0x00004,
    CLIENT_CONNECT_WITH_DB = 0x00008,
    CLIENT_COMPRESS = 0x00020,
    CLIENT_LOCAL_FILES = 0x00080,
    CLIENT_PROTOCOL_41 = 0x00200,
    CLIENT_SSL = 0x00800,
    CLIENT_TRANSACTIONS = 0x02000,
    CLIENT_SECURE_CONNECTION = 0x08000,
    CLIENT_MULTI_STATEMENTS = 0x10000,
    CLIENT_MULTI_RESULTS = 0x20000,
    // Always asked for: long password, long flag, local files, 4.1
    // protocol, transactions, secure connection, multiple results.
    ClientFixedFlags = 0x3A285,
};

// Server status bits.
enum : quint16 {
    SERVER_STATUS_IN_TRANS = 0x0001,
    SERVER_STATUS_AUTOCOMMIT = 0x0002,
    SERVER_MORE_RESULTS_EXISTS = 0x0008,
};

// The session's command state.
enum TMySqlStatus { msReady = 0, msGetResult = 1, msUseResult = 2 };

class TMySqlSession;

// The rows of one claimed result, read one at a time from the socket. The
// current row's values are views into the session's packet buffer: valid
// until the next Fetch, or any other call on the session.
class TMySqlResultSet {
public:
    const QList<TMySqlFieldInfo>& Fields() const { return fields_; }
    int FieldCount() const { return int(fields_.size()); }

    // Reads the next row; false at the end of data (the session is msReady
    // again, with the end packet's warning count and server status). A server
    // error in place of a row ends the result and raises.
    bool Fetch();
    bool Eof() const { return eof_; }

    // The current row: per column, whether it is NULL, and its bytes (empty
    // for NULL) as an offset and length into Row().
    bool IsNull(int index) const { return cells_[index].null; }
    QByteArrayView Value(int index) const { return Row().sliced(cells_[index].offset, cells_[index].length); }
    qsizetype Offset(int index) const { return cells_[index].offset; }
    qsizetype Length(int index) const { return cells_[index].length; }
    QByteArrayView Row() const;

private:
    friend class TMySqlSession;
    TMySqlResultSet(TMySqlSession& session, QList<TMySqlFieldInfo> fields);

    struct Cell {
        qsizetype offset = 0;
        qsizetype length = 0;
        bool null = true;
    };
    TMySqlSession& session_;
    QList<TMySqlFieldInfo> fields_;
    std::vector<Cell> cells_;
    bool eof_ = false;
};

class TMySqlSession {
public:
    static constexpr int DefaultPort = 3306;
    static constexpr quint8 ProtocolVersion = 10;
    // Character set numbers of the login packet.
    static constexpr quint8 Utf8CharsetNr = 33;
    static constexpr quint8 Latin1CharsetNr = 8;
    // Unread rows are drained in pieces of this size.
    static constexpr qsizetype DrainChunk = 65536;
    // A command timeout of 0 stands for a year.
    static constexpr int NoCommandTimeout = 31536000;

    using VioFactory = std::function<std::unique_ptr<TCRVio>(const QByteArray& host, int port)>;

    TMySqlSession();
    // Closes the session (COM_QUIT) if it is open.
    ~TMySqlSession();
    TMySqlSession(const TMySqlSession&) = delete;
    TMySqlSession& operator=(const TMySqlSession&) = delete;

    // --- settings, before Connect
    // Makes the endpoint for host and port; the default is a TCP endpoint.
    void SetVioFactory(VioFactory factory) { vioFactory_ = std::move(factory); }
    // Seconds for the TCP connect and every read during the login.
    void SetConnectTimeout(int seconds) { connectTimeout_ = seconds; }
    int ConnectTimeout() const { return connectTimeout_; }
    // "utf8" makes the login announce character set 33 and server texts read
    // as UTF-8; anything else announces 8 and texts read in the ANSI code page.
    void SetCharsetName(const QByteArray& name) { charsetName_ = name; }
    const QByteArray& CharsetName() const { return charsetName_; }
    // Transport kind; only 0, TCP, is known (another raises 2046 at Connect).
    void SetProtocol(int protocol) { protocol_ = protocol; }
    // Seconds for the reads and writes of each later command; 0 is a year.
    void SetCommandTimeout(int seconds) { commandTimeout_ = seconds; }

    // Connects and logs in. Empty Host is "localhost", Port 0 is 3306. The
    // texts are bytes as the server should see them. ClientFlags are the
    // caller's requests (CLIENT_FOUND_ROWS, CLIENT_MULTI_STATEMENTS,
    // CLIENT_COMPRESS); the fixed flags are added. On failure the session is
    // closed and EMyError raised: 2003 when the endpoint cannot connect (with
    // the endpoint's LastError on a new line), 2007 for a protocol other than
    // 10, 2059 for an authentication method other than the native one, the
    // server's error (1045 ...) when it refuses the login.
    void Connect(const QByteArray& host, const QByteArray& user, const QByteArray& password, const QByteArray& database,
        int port, quint32 clientFlags);
    bool Closed() const { return closed_; }
    // Sends COM_QUIT (no reply awaited) and closes the endpoint; errors on
    // the way are ignored. Closing a closed session does nothing.
    void Close();

    // --- after Connect
    const QByteArray& ServerVersion() const { return serverVersion_; }
    quint32 ThreadId() const { return threadId_; }
    quint16 ServerCapabilities() const { return serverCapabilities_; }
    quint8 ServerLanguage() const { return serverLanguage_; }
    quint16 ServerStatus() const { return serverStatus_; }
    // The flags the login sent.
    quint32 ClientFlags() const { return clientFlags_; }
    const QByteArray& Host() const { return host_; }
    int Port() const { return port_; }
    // host + " via TCP/IP"
    const QByteArray& HostInfo() const { return hostInfo_; }
    const QByteArray& Database() const { return database_; }
    TextCoding Coding() const { return net_.GetTextCoding(); }

    // --- commands
    // Sends Sql as COM_QUERY, its text converted by Coding. Needs msReady
    // (else 2014). Clears the error, info and affected rows. The text is
    // assembled in one buffer shared by all sessions, under a process-wide
    // lock held until it is sent.
    void Query(const QString& sql, TextCoding coding);
    // Reads the answer to the command: returns 0 for an OK packet, else the
    // column count (columns in Fields(), state msGetResult). A request of the
    // server for a local file is answered here: honoured only when the
    // statement sent is a LOAD DATA LOCAL INFILE naming exactly that file;
    // otherwise (or when the file cannot be opened) an empty file is sent,
    // the server's answer read, and an error naming the file raised (2068,
    // or EFOpenError for a file that cannot be opened).
    quint64 ReadQueryResult();
    TMySqlStatus Status() const { return status_; }
    // Column definitions of the result read last (empty once claimed).
    const QList<TMySqlFieldInfo>& Fields() const { return fields_; }
    quint64 FieldCount() const { return fieldCount_; }
    // Claims the rows of the result (msGetResult, else 2014 with the state).
    // The result set belongs to the session: valid until FreeResult, Query,
    // NextResult or Close.
    TMySqlResultSet* UseResult();
    TMySqlResultSet* Result() const { return result_.get(); }
    // Reads and discards the rows still unread of the current result (in
    // 64 KiB pieces, without keeping them), forgets the result and returns
    // to msReady. A server error in place of the rest is ignored.
    void FreeResult();
    // The last OK or end packet said that more results follow.
    bool MoreResults() const { return (serverStatus_ & SERVER_MORE_RESULTS_EXISTS) != 0; }
    // Reads the next result as ReadQueryResult does (msReady, else 2014).
    quint64 NextResult();

    // 0 unless an OK packet carried a count; -1 after NextResult until then.
    qint64 AffectedRows() const { return affectedRows_; }
    quint64 InsertId() const { return insertId_; }
    quint16 WarningCount() const { return warningCount_; }
    const QByteArray& Info() const { return info_; }
    // The number after a result's column count, when the server sends one.
    qint64 ExtraInfo() const { return extraInfo_; }
    int ErrorNumber() const { return errorNumber_; }
    const QString& ErrorText() const { return errorText_; }

    // The packet layer (for tests and the rare caller that needs it).
    TMySqlNet& Net() { return net_; }

private:
    friend class TMySqlResultSet;

    template <class F> auto guarded(F f);
    void checkOpen() const;
    void closeLink();
    void readGreeting();
    void sendLogin(const QByteArray& user, const QByteArray& password, const QByteArray& database);
    void readLoginReply(const QByteArray& password);
    void answerAuthSwitch(const QByteArray& password);
    quint64 readResponse();
    void readOk();
    void answerLocalFile(QByteArrayView fileName);
    void readAnswerAfterRefusal();
    void readFields(quint64 count);
    bool fetchRow(TMySqlResultSet& result);
    void takeEof();
    void drain();
    bool protocol41() const { return (clientFlags_ & CLIENT_PROTOCOL_41) != 0; }

    TMySqlNet net_;
    VioFactory vioFactory_;
    int connectTimeout_ = 15;
    int commandTimeout_ = 0;
    int protocol_ = 0;
    QByteArray charsetName_;
    bool closed_ = true;

    QByteArray host_;
    int port_ = 0;
    QByteArray hostInfo_;
    QByteArray user_;
    QByteArray database_;
    QByteArray serverVersion_;
    quint32 threadId_ = 0;
    quint16 serverCapabilities_ = 0;
    quint8 serverLanguage_ = 0;
    quint16 serverStatus_ = 0;
    quint32 clientFlags_ = 0;
    QByteArray scramble_;
    bool scrambleComplete_ = false;

    TMySqlStatus status_ = msReady;
    quint64 fieldCount_ = 0;
    QList<TMySqlFieldInfo> fields_;
    std::unique_ptr<TMySqlResultSet> result_;
    qint64 affectedRows_ = 0;
    quint64 insertId_ = 0;
    quint16 warningCount_ = 0;
    QByteArray info_;
    qint64 extraInfo_ = 0;
    int errorNumber_ = 0;
    QString errorText_;
    // The file a LOAD DATA LOCAL INFILE statement just sent names (its
    // readings with and without backslash escapes); empty otherwise.
    QList<QByteArray> localFileNames_;
};

} // namespace velkaro
