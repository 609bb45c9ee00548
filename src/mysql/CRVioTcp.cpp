#include "mysql/CRVioTcp.h"

#include "mysql/MyError.h"

#include <limits>

namespace velkaro {

namespace {

// "... WSAGetLastError return 111($6F)": the system's error number.
QString socketErrorText(const char* operation, int code)
{
    return QStringLiteral("Socket error on %1. WSAGetLastError return %2($%3)")
        .arg(QLatin1String(operation))
        .arg(code)
        .arg(QString::number(quint32(code), 16).toUpper());
}

// Seconds as the socket's milliseconds; a year does not fit, a long wait does.
int toMilliseconds(int seconds)
{
    const qint64 ms = qint64(seconds) * 1000;
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(ms);
}

[[noreturn]] void raiseSocketError(int code)
{
    throw EMyError(code, QStringLiteral("Socket error %1").arg(code));
}

} // namespace

TCRVioTcp::TCRVioTcp(QByteArray host, int port)
    : host_(std::move(host))
    , port_(port)
{
}

TCRVioTcp::~TCRVioTcp()
{
    Close();
}

void TCRVioTcp::SetTimeout(int seconds)
{
    receiveTimeout_ = seconds;
    connectionTimeout_ = seconds;
    if (socket_.IsOpen())
        socket_.SetReceiveTimeout(toMilliseconds(seconds));
}

void TCRVioTcp::Connect()
{
    Close();
    ResetReadAhead();
    lastError_.clear();
    if (host_.isEmpty())
        host_ = QByteArrayLiteral("localhost");

    const platform::SocketResult opened = socket_.Open();
    if (!opened.Ok())
        throw EMyError(cr::UnknownHost, QStringLiteral("Socket error %1").arg(opened.code));

    int code = 0;
    quint32 ip = 0;
    const platform::SocketResult found = platform::LookUpIPv4(QString::fromLatin1(host_), ip);
    if (!found.Ok()) {
        lastError_ = socketErrorText("connect", found.code);
        code = cr::UnknownHost;
    } else {
        const int limitMs = connectionTimeout_ < 1 ? 0 : toMilliseconds(connectionTimeout_);
        const platform::SocketResult connected = socket_.Connect(platform::SocketAddress {ip, quint16(port_)}, limitMs);
        if (connected.status == platform::SocketStatus::TimedOut) {
            lastError_ = QStringLiteral("Connection timed out");
            code = cr::UnknownHost;
        } else if (!connected.Ok()) {
            lastError_ = socketErrorText("connect", connected.code);
            code = cr::ConnHostError;
        }
    }
    if (code == 0) {
        for (const platform::SocketResult& set :
            {socket_.SetNoDelay(true), socket_.SetKeepAlive(true, KeepAliveIdleMs, KeepAliveIntervalMs),
                socket_.SetReceiveTimeout(toMilliseconds(receiveTimeout_)),
                sendTimeout_ >= 1 ? socket_.SetSendTimeout(toMilliseconds(sendTimeout_)) : platform::SocketResult {}}) {
            if (!set.Ok() && code == 0) {
                lastError_ = socketErrorText("connect", set.code);
                code = cr::ConnHostError;
            }
        }
    }
    if (code != 0) {
        socket_.Close();
        raiseSocketError(code);
    }
}

void TCRVioTcp::Close()
{
    if (!socket_.IsOpen())
        return;
    socket_.Shutdown();
    socket_.Close();
}

qsizetype TCRVioTcp::ReadNoWait(char* buffer, qsizetype count)
{
    if (!socket_.IsOpen())
        return 0;
    const platform::SocketResult r = socket_.Read(buffer, count);
    if (r.Ok())
        return qsizetype(r.count); // 0: the server closed in order
    lastError_ = socketErrorText("read", r.code);
    return 0;
}

qsizetype TCRVioTcp::WriteNoWait(const char* buffer, qsizetype count)
{
    if (!socket_.IsOpen())
        return 0;
    const platform::SocketResult r = socket_.Write(buffer, count);
    if (!r.Ok())
        lastError_ = socketErrorText("write", r.code);
    return qsizetype(r.count);
}

qsizetype TCRVioTcp::Write(const char* buffer, qsizetype count)
{
    if (!socket_.IsOpen()) {
        lastError_.clear();
        return 0;
    }
    return TCRVio::Write(buffer, count);
}

bool TCRVioTcp::WaitForData(int timeoutMs)
{
    const platform::WaitResult r = socket_.WaitReadable(timeoutMs);
    if (r.status == platform::WaitStatus::Failed) {
        lastError_ = socketErrorText("select", r.code);
        throw MakeMyError(cr::ServerGoneError);
    }
    return r.status == platform::WaitStatus::Readable;
}

qintptr TCRVioTcp::GetSocket() const
{
    return socket_.IsOpen() ? platform::internal::NativeHandle(socket_) : -1;
}

} // namespace velkaro
