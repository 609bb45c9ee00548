#include "support/ScriptedVio.h"

#include "core/Bytes.h"
#include "mysql/MyError.h"

#include <algorithm>
#include <cstring>

namespace velkaro::testing {

namespace {

QString hex(QByteArrayView bytes)
{
    constexpr qsizetype Shown = 64;
    QString text = QString::fromLatin1(bytes.first(std::min(bytes.size(), Shown)).toByteArray().toHex(' '));
    if (bytes.size() > Shown)
        text += QStringLiteral(" ... (%1 bytes)").arg(bytes.size());
    return text;
}

} // namespace

ScriptedVio& ScriptedVio::Expect(QByteArray bytes)
{
    steps_.append({Kind::Expect, std::move(bytes)});
    return *this;
}

ScriptedVio& ScriptedVio::Answer(QByteArray bytes)
{
    steps_.append({Kind::Answer, std::move(bytes)});
    return *this;
}

ScriptedVio& ScriptedVio::Hangup()
{
    steps_.append({Kind::Hangup, {}});
    return *this;
}

void ScriptedVio::FailConnect(int code, QString lastError)
{
    failCode_ = code;
    failText_ = std::move(lastError);
}

void ScriptedVio::Connect()
{
    ++connects;
    ResetReadAhead();
    if (failCode_ != 0) {
        lastError_ = failText_;
        throw EMyError(failCode_, QStringLiteral("Socket error %1").arg(failCode_));
    }
    skipDone();
    if (current_ < steps_.size() && steps_[current_].kind == Kind::Hangup)
        ++current_;
    open_ = true;
}

void ScriptedVio::Close()
{
    if (open_)
        ++closes;
    open_ = false;
}

void ScriptedVio::skipDone()
{
    while (current_ < steps_.size() && steps_[current_].kind != Kind::Hangup
        && steps_[current_].done == steps_[current_].bytes.size())
        ++current_;
}

qsizetype ScriptedVio::ReadNoWait(char* buffer, qsizetype count)
{
    ++receives;
    lastError_.clear();
    skipDone();
    if (!open_ || current_ >= steps_.size() || steps_[current_].kind == Kind::Hangup)
        return 0;
    Step& step = steps_[current_];
    if (step.kind == Kind::Expect) {
        lastError_
            = QStringLiteral("scripted peer still waits for: ") + hex(QByteArrayView(step.bytes).sliced(step.done));
        return 0;
    }
    qsizetype n = std::min(count, step.bytes.size() - step.done);
    if (maxChunk_ > 0)
        n = std::min(n, maxChunk_);
    std::memcpy(buffer, step.bytes.constData() + step.done, n);
    step.done += n;
    return n;
}

qsizetype ScriptedVio::WriteNoWait(const char* buffer, qsizetype count)
{
    sends.append({buffer, count});
    lastError_.clear();
    skipDone();
    if (!open_ || (current_ < steps_.size() && steps_[current_].kind == Kind::Hangup)) {
        lastError_ = QStringLiteral("scripted peer closed");
        return 0;
    }
    written_.append(buffer, count);
    QByteArrayView data(buffer, count);
    while (!data.isEmpty()) {
        skipDone();
        if (current_ >= steps_.size()) {
            extra_.append(data);
            break;
        }
        Step& step = steps_[current_];
        if (step.kind != Kind::Expect) {
            if (mismatch_.isEmpty())
                mismatch_ = QStringLiteral("client wrote %1 while the peer's answer %2 was unread")
                                .arg(hex(data), hex(QByteArrayView(step.bytes).sliced(step.done)));
            break;
        }
        const qsizetype n = std::min(data.size(), step.bytes.size() - step.done);
        const QByteArrayView want = QByteArrayView(step.bytes).sliced(step.done, n);
        if (data.first(n) != want && mismatch_.isEmpty()) {
            qsizetype at = 0;
            while (data[at] == want[at])
                ++at;
            mismatch_ = QStringLiteral("client wrote, from byte %1 of the expected packet:\n  got  %2\n  want %3")
                            .arg(QString::number(step.done + at), hex(data.sliced(at, n - at)), hex(want.sliced(at)));
        }
        step.done += n;
        data = data.sliced(n);
    }
    return count;
}

bool ScriptedVio::WaitForData(int)
{
    skipDone();
    return open_ && current_ < steps_.size() && steps_[current_].kind == Kind::Answer;
}

QString ScriptedVio::Verify() const
{
    if (!mismatch_.isEmpty())
        return mismatch_;
    for (qsizetype i = 0; i < steps_.size(); ++i) {
        const Step& step = steps_[i];
        if (step.kind != Kind::Hangup && step.done < step.bytes.size())
            return QStringLiteral("step %1 (%2) not played: %3")
                .arg(QString::number(i),
                    step.kind == Kind::Expect ? QStringLiteral("expect") : QStringLiteral("answer"),
                    hex(QByteArrayView(step.bytes).sliced(step.done)));
    }
    return QString();
}

// The endpoint a session owns, playing a peer's script; its read-ahead and
// retries are its own, every receive and send is the peer's.
class ForwardingVio : public TCRVio {
public:
    explicit ForwardingVio(ScriptedVio& peer)
        : peer_(peer)
    {
    }
    int GetTimeout() const override { return peer_.GetTimeout(); }
    void SetTimeout(int seconds) override { peer_.SetTimeout(seconds); }
    void Connect() override
    {
        ResetReadAhead();
        try {
            peer_.Connect();
        } catch (...) {
            lastError_ = peer_.LastError();
            throw;
        }
    }
    void Close() override { peer_.Close(); }
    qsizetype ReadNoWait(char* buffer, qsizetype count) override
    {
        const qsizetype n = peer_.ReadNoWait(buffer, count);
        lastError_ = peer_.LastError();
        return n;
    }
    qsizetype WriteNoWait(const char* buffer, qsizetype count) override
    {
        const qsizetype n = peer_.WriteNoWait(buffer, count);
        lastError_ = peer_.LastError();
        return n;
    }
    bool WaitForData(int timeoutMs) override { return peer_.WaitForData(timeoutMs); }
    qintptr GetSocket() const override { return peer_.GetSocket(); }

protected:
    void Pause(int milliseconds) override { peer_.Pause(milliseconds); }

private:
    ScriptedVio& peer_;
};

TMySqlSession::VioFactory VioHandOver::Factory()
{
    return [this](const QByteArray& h, int p) -> std::unique_ptr<TCRVio> {
        host = h;
        port = p;
        return std::make_unique<ForwardingVio>(*peer);
    };
}

QByteArray Packet(quint8 seq, const QByteArray& payload)
{
    QByteArray out;
    ByteWriter w(out);
    w.U24(quint32(payload.size()));
    w.U8(seq);
    w.Bytes(payload);
    return out;
}

QByteArray LenEnc(const QByteArray& text)
{
    QByteArray out;
    ByteWriter w(out);
    if (text.size() <= 250) {
        w.U8(quint8(text.size()));
    } else if (text.size() <= 0xFFFF) {
        w.U8(252);
        w.U16(quint16(text.size()));
    } else if (text.size() <= 0xFFFFFF) {
        w.U8(253);
        w.U24(quint32(text.size()));
    } else {
        w.U8(254);
        w.U64(quint64(text.size()));
    }
    w.Bytes(text);
    return out;
}

QByteArray Greeting41(const QByteArray& scramble, quint16 capabilities, const QByteArray& version)
{
    QByteArray out;
    ByteWriter w(out);
    w.U8(10);
    w.ZeroEnded(version);
    w.U32(7);
    w.Bytes(scramble.first(8));
    w.U8(0);
    w.U16(capabilities);
    w.U8(8);
    w.U16(2);
    w.U16(0x81BF); // upper capability flags
    w.U8(21);
    w.Fill(0, 10);
    w.Bytes(scramble.sliced(8, 12));
    w.U8(0);
    w.ZeroEnded("mysql_native_password");
    return out;
}

QByteArray OkPacket(quint64 affected, quint64 insertId, quint16 status, quint16 warnings, const QByteArray& info)
{
    QByteArray out;
    ByteWriter w(out);
    w.U8(0);
    for (quint64 v : {affected, insertId}) {
        if (v < 251) {
            w.U8(quint8(v));
        } else {
            w.U8(254);
            w.U64(v);
        }
    }
    w.U16(status);
    w.U16(warnings);
    if (!info.isEmpty())
        out += LenEnc(info);
    return out;
}

QByteArray ErrorPacket(quint16 code, const QByteArray& message)
{
    QByteArray out;
    ByteWriter w(out);
    w.U8(0xFF);
    w.U16(code);
    w.Bytes(message);
    return out;
}

QByteArray EofPacket(quint16 warnings, quint16 status)
{
    QByteArray out;
    ByteWriter w(out);
    w.U8(0xFE);
    w.U16(warnings);
    w.U16(status);
    return out;
}

QByteArray ColumnDef41(const QByteArray& name, quint8 type, quint32 length, quint16 flags, quint16 charset,
    quint8 decimals, const QByteArray& table)
{
    QByteArray out = LenEnc("def") + LenEnc("VelkaroDB") + LenEnc(table) + LenEnc(table) + LenEnc(name) + LenEnc(name);
    ByteWriter w(out);
    w.U8(12);
    w.U16(charset);
    w.U32(length);
    w.U8(type);
    w.U16(flags);
    w.U8(decimals);
    w.U16(0);
    return out;
}

QByteArray Row(const QList<QByteArray>& values)
{
    QByteArray out;
    for (const QByteArray& v : values)
        out += v.isNull() ? QByteArray(1, char(0xFB)) : LenEnc(v);
    return out;
}

QByteArray QueryPacket(const QByteArray& sql)
{
    return Packet(0, QByteArray(1, char(3)) + sql);
}

QByteArray ResultPackets(
    const QList<QByteArray>& columnDefs, const QList<QList<QByteArray>>& rows, quint16 endStatus, quint8 firstSeq)
{
    quint8 seq = firstSeq;
    QByteArray out = Packet(seq++, QByteArray(1, char(columnDefs.size())));
    for (const QByteArray& def : columnDefs)
        out += Packet(seq++, def);
    out += Packet(seq++, EofPacket());
    for (const QList<QByteArray>& row : rows)
        out += Packet(seq++, Row(row));
    out += Packet(seq, EofPacket(0, endStatus));
    return out;
}

} // namespace velkaro::testing
