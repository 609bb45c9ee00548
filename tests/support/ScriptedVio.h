#pragma once
// An in-memory MySQL endpoint that plays the server from a script: "expect
// these bytes written, answer with those". Steps run in order; an answer is
// served only once the expectations before it are met, so a client that
// waits for a reply the script does not give reads nothing (and fails with
// 2013, LastError saying what the peer still waited for).

#include "mysql/CRVio.h"
#include "mysql/MySqlSession.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace velkaro::testing {

class ScriptedVio : public TCRVio {
public:
    // The client must write exactly these bytes next.
    ScriptedVio& Expect(QByteArray bytes);
    // The peer sends these bytes.
    ScriptedVio& Answer(QByteArray bytes);
    // The peer closes the connection in order; reads from here on bring
    // nothing, writes fail. A connect after it goes on with the steps that
    // follow: the script of the next connection.
    ScriptedVio& Hangup();
    // Connect fails with this code and LastError.
    void FailConnect(int code, QString lastError);
    // Each receive brings at most this many bytes (0: as many as asked).
    void SetMaxChunk(qsizetype bytes) { maxChunk_ = bytes; }

    // Empty when every step was played and nothing differed; otherwise what
    // went wrong, with the bytes in hex.
    QString Verify() const;
    // Everything the client wrote, and what it wrote after the script ended.
    const QByteArray& Written() const { return written_; }
    const QByteArray& WrittenAfterEnd() const { return extra_; }

    // What the client did with the endpoint.
    struct Send {
        const char* data;
        qsizetype size;
    };
    QList<Send> sends;
    int receives = 0;
    int pauses = 0;
    int connects = 0;
    int closes = 0;

    int GetTimeout() const override { return timeout_; }
    void SetTimeout(int seconds) override { timeout_ = seconds; }
    void Connect() override;
    void Close() override;
    qsizetype ReadNoWait(char* buffer, qsizetype count) override;
    qsizetype WriteNoWait(const char* buffer, qsizetype count) override;
    bool WaitForData(int) override;
    qintptr GetSocket() const override { return open_ ? 1 : -1; }

protected:
    friend class ForwardingVio;
    void Pause(int) override { ++pauses; }

private:
    enum class Kind { Expect, Answer, Hangup };
    struct Step {
        Kind kind;
        QByteArray bytes;
        qsizetype done = 0;
    };
    void skipDone();

    QList<Step> steps_;
    qsizetype current_ = 0;
    QByteArray written_;
    QByteArray extra_;
    QString mismatch_;
    qsizetype maxChunk_ = 0;
    int timeout_ = 0;
    bool open_ = false;
    int failCode_ = 0;
    QString failText_;
};

// A factory for TMySqlSession: the session gets an endpoint that plays Peer's
// script, while Peer itself stays here, to be inspected after the session
// has closed and freed its endpoint. Remembers the host and port asked for.
struct VioHandOver {
    std::unique_ptr<ScriptedVio> owned = std::make_unique<ScriptedVio>();
    ScriptedVio* peer = owned.get();
    QByteArray host;
    int port = 0;
    TMySqlSession::VioFactory Factory();
};

// --- bytes of the protocol, for scripts

// A packet: 3-byte length, sequence number, payload.
QByteArray Packet(quint8 seq, const QByteArray& payload);
// A length-coded string.
QByteArray LenEnc(const QByteArray& text);
// A 4.1 greeting from a 5.x server: version, thread id 7, the 20-byte
// scramble as 8 + 12 bytes and a 0 byte, capabilities (low 16 bits), the
// language 8 and status 2, then the plugin name.
QByteArray Greeting41(
    const QByteArray& scramble, quint16 capabilities = 0xF7FF, const QByteArray& version = "5.5.5-10.11.6-MariaDB");
// An OK packet of the 4.1 protocol.
QByteArray OkPacket(
    quint64 affected = 0, quint64 insertId = 0, quint16 status = 2, quint16 warnings = 0, const QByteArray& info = {});
QByteArray ErrorPacket(quint16 code, const QByteArray& message);
// A 4.1 end-of-data packet.
QByteArray EofPacket(quint16 warnings = 0, quint16 status = 2);
// A 4.1 column definition.
QByteArray ColumnDef41(const QByteArray& name, quint8 type, quint32 length, quint16 flags = 0, quint16 charset = 33,
    quint8 decimals = 0, const QByteArray& table = "t");
// A row of the text protocol; a null QByteArray is NULL.
QByteArray Row(const QList<QByteArray>& values);
// A command as the client sends it: COM_QUERY and the text, sequence 0.
QByteArray QueryPacket(const QByteArray& sql);
// The packets of one result set (4.1 protocol): the column count, the
// column definitions, an end packet, the rows, and an end packet carrying
// EndStatus; sequence numbers from FirstSeq on.
QByteArray ResultPackets(const QList<QByteArray>& columnDefs, const QList<QList<QByteArray>>& rows,
    quint16 endStatus = 2, quint8 firstSeq = 1);

} // namespace velkaro::testing
