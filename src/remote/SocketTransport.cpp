#include "remote/SocketTransport.h"

#include "core/Bytes.h"
#include "remote/RemoteErrors.h"

#include <QStringList>

#include <cerrno>

namespace velkaro {

using platform::SocketResult;
using platform::SocketStatus;
using platform::WaitStatus;

namespace {

QString systemText(int code)
{
    return SocketResult {SocketStatus::Failed, code, 0}.ErrorText();
}

[[noreturn]] void readError()
{
    throw ESocketConnectionError(QString::fromLatin1(msg::SocketReadError));
}

// A dotted IPv4 address ("10.0.0.1"); false for anything else.
bool parseDotted(const QString& text, quint32& ip)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    ip = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 10);
        if (!ok || value > 255 || part.isEmpty() || part.size() > 3)
            return false;
        ip = (ip << 8) | value;
    }
    return true;
}

} // namespace

TSocketTransport::~TSocketTransport() = default;

[[noreturn]] void TSocketTransport::socketFailed(const SocketResult& result, const char* api)
{
    socket_.Close();
    waitEvent_ = false;
    throw ESocketError(QString::fromLatin1(msg::WindowsSocketError)
                           .arg(result.ErrorText(), QString::number(result.code), QString::fromLatin1(api)));
}

void TSocketTransport::SetConnected(bool value)
{
    if (!value) {
        socket_.Close();
        waitEvent_ = false;
        return;
    }
    if (GetConnected())
        return;
    connect();
}

void TSocketTransport::connect()
{
    if (address_.isEmpty() && host_.isEmpty())
        throw ESocketConnectionError(QString::fromLatin1(msg::NoAddress));
    if (!socket_.Open().Ok())
        throw ESocketError(QString::fromLatin1(msg::CantCreateSocket));

    platform::SocketAddress to;
    to.port = port_;
    if (!address_.isEmpty()) {
        if (!parseDotted(address_, to.ip))
            socketFailed(SocketResult {SocketStatus::Failed, EINVAL, 0}, "connect");
    } else {
        const SocketResult found = platform::LookUpIPv4(host_, to.ip);
        if (!found.Ok())
            socketFailed(found, "connect");
    }
    const SocketResult connected = socket_.Connect(to, platform::NoTimeLimit);
    if (!connected.Ok())
        socketFailed(connected, "connect");
}

void TSocketTransport::GetWaitEvent()
{
    const SocketResult result = socket_.SetNonBlocking(true);
    if (!result.Ok())
        throw ESocketConnectionError(result.ErrorText());
    waitEvent_ = true;
}

void TSocketTransport::Cancel()
{
    cancelled_ = true;
    cancel_.Signal();
}

TInputWait TSocketTransport::WaitForInput(platform::SocketWaker& waker)
{
    if (cancelled_)
        throw ESocketConnectionError(QString::fromLatin1(msg::TransportCancelled));
    const platform::WaitResult result = socket_.WaitReadable(platform::NoTimeLimit, &waker);
    switch (result.status) {
    case WaitStatus::Readable:
        return TInputWait::Readable;
    case WaitStatus::Woken:
        return TInputWait::Woken;
    case WaitStatus::TimedOut:
    case WaitStatus::Failed:
        break;
    }
    throw ESocketConnectionError(systemText(result.code));
}

// Waits until a read will not block; false when the time limit passed.
bool TSocketTransport::waitReadable(int timeoutMs, bool failureIsReadError)
{
    if (cancelled_)
        throw ESocketConnectionError(QString::fromLatin1(msg::TransportCancelled));
    const platform::WaitResult result = socket_.WaitReadable(timeoutMs, &cancel_);
    switch (result.status) {
    case WaitStatus::Readable:
        return true;
    case WaitStatus::TimedOut:
        return false;
    case WaitStatus::Woken:
        throw ESocketConnectionError(QString::fromLatin1(msg::TransportCancelled));
    case WaitStatus::Failed:
        break;
    }
    if (failureIsReadError)
        readError();
    throw ESocketConnectionError(systemText(result.code));
}

// A header field: its bytes may arrive in pieces, but the stream may not
// end inside it.
qint32 TSocketTransport::readField()
{
    char field[4];
    readExactly(field, 4);
    return ByteReader(QByteArrayView(field, 4)).I32();
}

void TSocketTransport::readExactly(char* into, qint64 count)
{
    qint64 done = 0;
    while (done < count) {
        const SocketResult r = socket_.Read(into + done, count - done);
        if (r.status == SocketStatus::WouldBlock) {
            waitReadable(platform::NoTimeLimit, true);
            continue;
        }
        if (!r.Ok())
            socketFailed(r, "recv");
        if (r.count == 0)
            readError();
        done += r.count;
    }
}

DataBlockRef TSocketTransport::Receive(bool waitForInput, qint32)
{
    if (!waitReadable(waitForInput ? platform::NoTimeLimit : 0, false))
        return nullptr;

    const DataBlockRef block = TDataBlock::Create(readField());
    const qint32 kind = block->GetSignature() & KindMask;
    if (kind != CallSig && kind != ResultSig) {
        SetConnected(false);
        throw Exception(QString::fromLatin1(msg::InvalidDataPacket));
    }
    const qint32 size = readField();
    if (size < 0)
        throw ESocketConnectionError(QString::fromLatin1(msg::InvalidDataPacket));

    // The payload goes straight into the block, which grows with what has
    // arrived. The end of the stream is passed over once per block.
    qint64 remaining = size;
    bool endSeen = false;
    while (remaining > 0) {
        // Waiting before each read keeps a silent peer cancellable.
        waitReadable(platform::NoTimeLimit, true);
        const std::span<char> room = block->ReserveTail(remaining);
        const SocketResult r = socket_.Read(room.data(), qint64(room.size()));
        block->CommitTail(r.Ok() ? r.count : 0);
        if (r.status == SocketStatus::WouldBlock)
            continue;
        if (!r.Ok())
            socketFailed(r, "recv");
        if (r.count == 0) {
            if (endSeen)
                readError();
            endSeen = true;
        }
        remaining -= r.count;
    }
    return block;
}

qint32 TSocketTransport::Send(const DataBlockRef& block)
{
    const QByteArrayView bytes = block->GetMemory();
    // A block goes out whole even when the socket does not block: the
    // writer waits for room rather than lose the rest.
    if (waitEvent_)
        socket_.SetNonBlocking(false);
    const SocketResult r = socket_.WriteAll(bytes.data(), bytes.size());
    if (waitEvent_)
        socket_.SetNonBlocking(true);
    if (!r.Ok())
        socketFailed(r, "send");
    return 0;
}

} // namespace velkaro
