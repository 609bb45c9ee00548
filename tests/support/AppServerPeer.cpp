#include "support/AppServerPeer.h"

#include "core/Bytes.h"
#include "support/TcpPeer.h"

#include <chrono>

namespace velkaro::testing {

namespace {

// Only keeps a broken test from hanging the run.
constexpr int Patience = 10000;

QByteArray int32(qint32 v)
{
    QByteArray b;
    ByteWriter w(b);
    w.I32(3);
    w.I32(v);
    return b;
}

QByteArray reference(qint32 index)
{
    QByteArray b;
    ByteWriter w(b);
    w.I32(9);
    w.I32(index);
    return b;
}

QByteArray text(const QString& s)
{
    QByteArray b;
    ByteWriter w(b);
    w.I32(8);
    w.I32(qint32(s.size()));
    w.Bytes(QByteArrayView(reinterpret_cast<const char*>(s.utf16()), s.size() * 2));
    return b;
}

QByteArray block(qint32 signature, const QByteArray& payload)
{
    QByteArray b;
    ByteWriter w(b);
    w.I32(signature);
    w.I32(qint32(payload.size()));
    w.Bytes(payload);
    return b;
}

// Values of a request payload, as far as the scripted server needs them:
// integers and texts, in order; other values stop the reading.
struct Values {
    QList<qint32> ints;
    QStringList texts;
};

Values readValues(QByteArrayView payload)
{
    Values values;
    ByteReader r(payload);
    try {
        while (r.Remaining() >= 4) {
            const qint32 tag = r.I32();
            if (tag == 3 || tag == 0x4003) {
                values.ints.append(r.I32());
            } else if (tag == 11) {
                r.Skip(2);
            } else if (tag == 8 || tag == 0x4008) {
                const qint32 n = r.I32();
                const QByteArrayView bytes = r.Bytes(qsizetype(n) * 2);
                values.texts.append(QString(reinterpret_cast<const QChar*>(bytes.data()), n));
            } else {
                break;
            }
        }
    } catch (const Exception&) {
    }
    return values;
}

} // namespace

AppServerPeer::AppServerPeer(Script script, quint16 port)
    : script_(std::move(script))
{
    if (listener_.Listen(platform::SocketAddress {platform::SocketAddress::Loopback, port}).Ok())
        port_ = listener_.Port();
    acceptor_ = std::thread([this] {
        for (;;) {
            platform::TcpSocket client;
            const platform::SocketResult accepted = listener_.Accept(client, platform::NoTimeLimit, &stop_);
            if (!accepted.Ok())
                break;
            client.SetReceiveTimeout(Patience);
            {
                const std::lock_guard lock(mutex_);
                ++playing_;
            }
            clients_.emplace_back([this, client = std::move(client)]() mutable {
                play(client);
                client.Close();
                const std::lock_guard lock(mutex_);
                --playing_;
            });
        }
        for (std::thread& t : clients_)
            t.join();
    });
}

AppServerPeer::~AppServerPeer()
{
    // Clients that came are played with until they close.
    stop_.Signal();
    acceptor_.join();
}

QByteArray AppServerPeer::CreateRequest(const QString& name)
{
    return block(0xDA04, text(name));
}

QByteArray AppServerPeer::FreeRequest()
{
    return block(0xDA05, int32(ObjectIndex));
}

void AppServerPeer::record(const QByteArray& bytes, const QString& request)
{
    const std::lock_guard lock(mutex_);
    blocks_.append(bytes);
    requests_.append(request);
}

QStringList AppServerPeer::Requests() const
{
    const std::lock_guard lock(mutex_);
    return requests_;
}

QList<QByteArray> AppServerPeer::Blocks() const
{
    const std::lock_guard lock(mutex_);
    return blocks_;
}

bool AppServerPeer::WaitForBlocks(qsizetype count) const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Patience);
    while (std::chrono::steady_clock::now() < until) {
        {
            const std::lock_guard lock(mutex_);
            if (blocks_.size() >= count)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

QStringList AppServerPeer::WaitUntilGone() const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Patience);
    while (std::chrono::steady_clock::now() < until) {
        {
            const std::lock_guard lock(mutex_);
            if (playing_ == 0)
                return requests_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Requests();
}

void AppServerPeer::play(platform::TcpSocket& client)
{
    for (;;) {
        const QByteArray header = TcpPeer::ReadExactly(client, 8);
        if (header.size() < 8)
            return; // the client closed
        ByteReader h(header);
        const qint32 signature = h.I32();
        const qint32 size = h.I32();
        const QByteArray bytes = header + TcpPeer::ReadExactly(client, qMax(size, 0));
        const Values values = readValues(QByteArrayView(bytes).sliced(8));
        const auto firstText = [&] { return values.texts.isEmpty() ? QString() : values.texts.first(); };

        switch (signature & 0xFF) {
        case 0x04:
            record(bytes, QStringLiteral("create ") + firstText());
            if (!script_.refuseCreate.isEmpty()) {
                TcpPeer::WriteAll(client, block(0xDB01, text(script_.refuseCreate)));
                break;
            }
            TcpPeer::WriteAll(client, block(0xDB04, reference(ObjectIndex)));
            if (script_.dropAfterCreate)
                return;
            break;
        case 0x03:
            record(bytes, QStringLiteral("getid ") + firstText());
            TcpPeer::WriteAll(client,
                firstText() == QStringLiteral("DownloadUpdate") ? block(0xDB03, int32(0) + int32(DownloadId))
                                                                : block(0xDB03, int32(qint32(0x80020006u))));
            break;
        case 0x02: {
            record(bytes, QStringLiteral("invoke %1 %2").arg(QString::number(values.ints.value(1)), firstText()));
            if (!script_.failure.isEmpty()) {
                TcpPeer::WriteAll(client,
                    block(0xDB02,
                        int32(qint32(0x80020009u)) + int32(1001) + text(script_.failure)
                            + QByteArray::fromHex("00000000")));
                break;
            }
            QByteArray value = script_.result;
            if (value.isEmpty()) {
                ByteWriter w(value);
                w.I32(0x2011);
                w.I32(1);
                w.I32(0);
                w.I32(qint32(script_.program.size() - 1));
                w.I32(qint32(script_.program.size()));
                w.Bytes(script_.program);
            }
            const QByteArray reply = block(0xDB02, int32(0) + value);
            if (script_.dropInsideReply) {
                TcpPeer::WriteAll(client, QByteArrayView(reply).first(8 + (reply.size() - 8) / 2));
                return;
            }
            TcpPeer::WriteAll(client, reply);
            break;
        }
        case 0x05:
            record(bytes, QStringLiteral("free %1").arg(values.ints.value(0)));
            break;
        default:
            record(bytes, QStringLiteral("action %1").arg(signature & 0xFF));
            TcpPeer::WriteAll(
                client, block(0xDB01, text(QStringLiteral("Invalid action received: %1").arg(signature & 0xFF))));
            break;
        }
    }
}

} // namespace velkaro::testing
