#include "support/ScriptedPeer.h"

#include <chrono>

namespace velkaro::testing {

using platform::SocketStatus;

ScriptedPeer::ScriptedPeer()
{
    const platform::SocketResult r = listener_.Listen({platform::SocketAddress::Loopback, 0});
    if (!r.Ok())
        fault(QStringLiteral("cannot listen: ") + r.ErrorText());
}

ScriptedPeer::~ScriptedPeer()
{
    stopping_ = true;
    stop_.Signal();
    if (thread_.joinable())
        thread_.join();
}

ScriptedPeer& ScriptedPeer::Expect(qint64 count)
{
    script_.push_back({Step::Expect, {}, count});
    return *this;
}

ScriptedPeer& ScriptedPeer::Send(const QByteArray& bytes)
{
    script_.push_back({Step::Send, bytes, 0});
    return *this;
}

ScriptedPeer& ScriptedPeer::Pause(int ms)
{
    script_.push_back({Step::Pause, {}, ms});
    return *this;
}

ScriptedPeer& ScriptedPeer::Close()
{
    script_.push_back({Step::Close, {}, 0});
    return *this;
}

void ScriptedPeer::Start()
{
    thread_ = std::thread([this] { run(); });
}

bool ScriptedPeer::Finish(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

QByteArray ScriptedPeer::Received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

QString ScriptedPeer::Fault() const
{
    std::lock_guard lock(mutex_);
    return fault_;
}

void ScriptedPeer::fault(const QString& text)
{
    std::lock_guard lock(mutex_);
    if (fault_.isEmpty())
        fault_ = text;
}

void ScriptedPeer::run()
{
    platform::TcpSocket connection;
    const platform::SocketResult accepted = listener_.Accept(connection, 10000, &stop_);
    if (!accepted.Ok())
        fault(QStringLiteral("no connection came"));
    for (const Step& step : script_) {
        if (!connection.IsOpen())
            break;
        switch (step.kind) {
        case Step::Expect: {
            QByteArray bytes(step.count, '\0');
            qint64 done = 0;
            while (done < step.count) {
                const platform::WaitResult ready = connection.WaitReadable(10000, &stop_);
                if (ready.status != platform::WaitStatus::Readable)
                    break;
                const platform::SocketResult r = connection.Read(bytes.data() + done, step.count - done);
                if (!r.Ok() || r.count == 0)
                    break;
                done += r.count;
            }
            std::lock_guard lock(mutex_);
            received_ += bytes.first(done);
            if (done < step.count && fault_.isEmpty())
                fault_ = QStringLiteral("expected %1 more bytes").arg(step.count - done);
            break;
        }
        case Step::Send: {
            const platform::SocketResult r = connection.WriteAll(step.bytes.constData(), step.bytes.size());
            if (!r.Ok())
                fault(QStringLiteral("send failed: ") + r.ErrorText());
            break;
        }
        case Step::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.count));
            break;
        case Step::Close:
            connection.Close();
            break;
        }
    }
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    changed_.notify_all();
    // The connection stays as the script left it until the peer goes. An
    // earlier wait may have taken the signal; the flag is set before it.
    while (!stopping_)
        stop_.Wait(platform::NoTimeLimit);
}

} // namespace velkaro::testing
