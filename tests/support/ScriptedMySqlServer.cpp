#include "support/ScriptedMySqlServer.h"

#include "core/Bytes.h"
#include "mysql/MySqlFieldInfo.h"
#include "support/ScriptedVio.h"

namespace velkaro::testing {

namespace {

const QByteArray Scramble = "0123456789abcdefghij";

// One packet's sequence number and payload; an empty payload with seq -1
// when the client has gone.
struct Incoming {
    int seq = -1;
    QByteArray payload;
};

Incoming readPacket(platform::TcpSocket& client)
{
    const QByteArray header = TcpPeer::ReadExactly(client, 4);
    if (header.size() < 4)
        return {};
    const qsizetype length = quint8(header[0]) | quint8(header[1]) << 8 | quint8(header[2]) << 16;
    QByteArray payload = TcpPeer::ReadExactly(client, length);
    if (payload.size() < length)
        return {};
    return {quint8(header[3]), payload};
}

} // namespace

ScriptedMySqlServer::ScriptedMySqlServer(QHash<QByteArray, Answer> answers)
    : answers_(std::move(answers))
{
    peer_ = std::make_unique<TcpPeer>([this](platform::TcpSocket& client) { play(client); });
    port_ = peer_->Port();
}

ScriptedMySqlServer::Record ScriptedMySqlServer::Seen() const
{
    const std::lock_guard guard(lock_);
    return record_;
}

ScriptedMySqlServer::Record ScriptedMySqlServer::WaitUntilGone()
{
    peer_.reset();
    return Seen();
}

void ScriptedMySqlServer::play(platform::TcpSocket& client)
{
    TcpPeer::WriteAll(client, Packet(0, Greeting41(Scramble)));
    const Incoming login = readPacket(client);
    if (login.seq < 0)
        return;
    {
        // 4.1 login: flags, packet size, character set, 23 zero bytes, user.
        const std::lock_guard guard(lock_);
        ++record_.logins;
        ByteReader r(login.payload);
        r.Skip(8);
        record_.charset = r.U8();
        r.Skip(23);
        record_.user = r.ZeroEnded().toByteArray();
        r.Skip(r.U8());
        record_.database = r.ZeroEnded().toByteArray();
    }
    TcpPeer::WriteAll(client, Packet(2, OkPacket()));
    for (;;) {
        const Incoming command = readPacket(client);
        if (command.seq < 0 || command.payload.isEmpty())
            return;
        if (command.payload[0] == 1) {
            const std::lock_guard guard(lock_);
            record_.quit = true;
            return;
        }
        const QByteArray sql = command.payload.sliced(1);
        {
            const std::lock_guard guard(lock_);
            record_.statements.append(sql);
        }
        const auto it = answers_.constFind(sql);
        if (it == answers_.constEnd()) {
            const bool setNames = sql.startsWith("SET NAMES ");
            TcpPeer::WriteAll(client,
                Packet(1, setNames ? OkPacket() : ErrorPacket(1146, "#42S02Table 'VelkaroDB.unknown' doesn't exist")));
        } else if (it->errorCode != 0) {
            TcpPeer::WriteAll(client, Packet(1, ErrorPacket(it->errorCode, it->errorMessage)));
        } else if (it->columns.isEmpty()) {
            TcpPeer::WriteAll(client, Packet(1, OkPacket(quint64(it->rows.size()))));
        } else {
            TcpPeer::WriteAll(client, ResultPackets(it->columns, it->rows));
        }
    }
}

ScriptedMySqlServer::Answer VersionRows(const QList<QByteArray>& versions)
{
    ScriptedMySqlServer::Answer a;
    a.columns
        = {ColumnDef41("ID", mtLong, 11, PRI_KEY_FLAG | NOT_NULL_FLAG | AUTO_INCREMENT_FLAG, 63, 0, "tbVersionControl"),
            ColumnDef41("Version", mtVarString, 60, 0, 33, 0, "tbVersionControl")};
    int id = 1;
    for (const QByteArray& v : versions)
        a.rows.append({QByteArray::number(id++), v});
    return a;
}

} // namespace velkaro::testing
