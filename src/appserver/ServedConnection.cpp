#include "appserver/ServedConnection.h"

#include "appserver/VelkaroDM.h"
#include "core/Bytes.h"
#include "remote/RemoteErrors.h"
#include "remote/VariantCodec.h"

#include <cstring>

namespace velkaro {

using platform::SocketResult;
using platform::SocketStatus;
using platform::WaitStatus;

namespace {

// Values read only to describe a request or a reply in the log: object
// references become references to nothing.
class NoReferences : public IObjectReferences {
public:
    qint32 StoreObject(const DispatchRef&) override
    {
        throw EInterpreterError(QStringLiteral("No object is sent from here"));
    }
    DispatchRef MakeProxy(qint32) override { return nullptr; }
};

Variant readValue(IDataBlock& block)
{
    NoReferences none;
    TVarFlags flags;
    return ReadVariant(flags, block, none);
}

qint32 readInt(IDataBlock& block)
{
    try {
        return readValue(block).ToInt();
    } catch (const EVariantError& e) {
        throw EInterpreterError(e.Message());
    }
}

// A second reader over the same bytes; the block itself is not moved on.
DataBlockRef peek(const DataBlockRef& block)
{
    return TDataBlock::FromBytes(block->GetStream());
}

QString actionName(qint32 action)
{
    switch (action) {
    case asInvoke:
        return QStringLiteral("Invoke");
    case asGetID:
        return QStringLiteral("GetIDsOfNames");
    case asCreateObject:
        return QStringLiteral("CreateObject");
    case asFreeObject:
        return QStringLiteral("FreeObject");
    case asGetServers:
        return QStringLiteral("GetServers");
    case asGetAppServers:
        return QStringLiteral("GetAppServers");
    default:
        return QStringLiteral("action 0x") + QString::number(action, 16).toUpper().rightJustified(2, u'0');
    }
}

QString hex32(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(8, u'0');
}

QString codeText(HRESULT code)
{
    return hex32(quint32(code)) + u' ' + ResultCodeText(code);
}

QString milliseconds(qint64 nanoseconds)
{
    return QString::number(double(nanoseconds) / 1e6, 'f', 1) + QStringLiteral(" ms");
}

} // namespace

struct TServedConnection::RequestRecord {
    qint32 action = 0;
    QString subject; // the name asked for, or the object
    QString outcome; // set where the request was answered in full
    DataBlockRef reply; // the reply the interpreter sent, if any
    qint64 bytesSent = 0;
    QElapsedTimer timer;
};

TServedConnection::TServedConnection(platform::TcpSocket socket, const TServerContext& context, quint64 number)
    : context_(context)
    , label_(QStringLiteral("#%1 %2").arg(QString::number(number), socket.PeerAddress().ToString()))
    , socket_(std::move(socket))
    , interpreter_(*this, context.registry)
{
    interpreter_.SetReleaseErrorHandler([this](std::exception_ptr) {
        context_.log->Write(LogLevel::Connections, label_ + QStringLiteral(" releasing a client's object failed"));
    });
    alive_.start();
}

TServedConnection::~TServedConnection() = default;

void TServedConnection::Stop()
{
    stopping_ = true;
    waker_.Signal();
}

void TServedConnection::Abort()
{
    Stop();
    const std::lock_guard lock(socketLock_);
    if (socket_.IsOpen())
        socket_.Shutdown();
}

void TServedConnection::closeSocket()
{
    const std::lock_guard lock(socketLock_);
    socket_.Close();
}

void TServedConnection::Run()
{
    TServerLog& log = *context_.log;
    log.Write(LogLevel::Connections, label_ + QStringLiteral(" connected"));
    QString reason;
    try {
        for (;;) {
            if (stopping_)
                throw LinkEnded {QStringLiteral("the server is stopping")};
            const platform::WaitResult ready = socket_.WaitReadable(context_.idleTimeoutMs, &waker_);
            if (ready.status == WaitStatus::Woken)
                continue;
            if (ready.status == WaitStatus::TimedOut)
                throw LinkEnded {QStringLiteral("no request for %1 s").arg(context_.idleTimeoutMs / 1000)};
            if (ready.status == WaitStatus::Failed)
                throw LinkEnded {SocketResult {SocketStatus::Failed, ready.code, 0}.ErrorText()};
            serve(readRequest());
        }
    } catch (const LinkEnded& ended) {
        reason = ended.reason;
    } catch (const std::exception& e) {
        // Nothing else is expected here; the link ends rather than the server.
        reason = QStringLiteral("unexpected error: %1").arg(QString::fromUtf8(e.what()));
    }
    closeSocket();
    log.Write(LogLevel::Connections,
        QStringLiteral("%1 closed: %2; %3 requests, %4 bytes received, %5 bytes sent in %6 s")
            .arg(label_, reason, QString::number(requests_), QString::number(bytesReceived_),
                QString::number(bytesSent_), QString::number(double(alive_.elapsed()) / 1000.0, 'f', 1)));
}

// ---- reading ----------------------------------------------------------------

// Reads up to Count - Done more bytes into Into + Done, waiting at most the
// request time limit for them. Where names the place for the log.
void TServedConnection::readSome(char* into, qint64 count, qint64& done, const char* where)
{
    const platform::WaitResult ready = socket_.WaitReadable(context_.requestTimeoutMs, &waker_);
    if (ready.status == WaitStatus::Woken)
        throw LinkEnded {QStringLiteral("the server is stopping (inside %1)").arg(QLatin1String(where))};
    if (ready.status == WaitStatus::TimedOut)
        throw LinkEnded {QStringLiteral("the client stopped sending inside %1 for %2 s")
                             .arg(QLatin1String(where), QString::number(context_.requestTimeoutMs / 1000))};
    const SocketResult r = socket_.Read(into + done, count - done);
    if (!r.Ok())
        throw LinkEnded {QStringLiteral("reading failed: %1").arg(r.ErrorText())};
    if (r.count == 0) {
        if (done == 0 && std::strcmp(where, "a block header") == 0)
            throw LinkEnded {QStringLiteral("the client closed the link")};
        throw LinkEnded {QStringLiteral("the client closed the link inside %1").arg(QLatin1String(where))};
    }
    done += r.count;
    bytesReceived_ += r.count;
}

DataBlockRef TServedConnection::readRequest()
{
    char header[TDataBlock::HeaderSize];
    qint64 done = 0;
    while (done < TDataBlock::HeaderSize)
        readSome(header, TDataBlock::HeaderSize, done, "a block header");
    ByteReader fields(QByteArrayView(header, TDataBlock::HeaderSize));
    const qint32 signature = fields.I32();
    const qint32 size = fields.I32();
    const qint32 kind = signature & KindMask;
    if (kind != CallSig && kind != ResultSig) {
        throw LinkEnded {
            QStringLiteral("invalid data packet (signature %1); the stream is out of step").arg(hex32(signature))};
    }
    if (size < 0)
        throw LinkEnded {QStringLiteral("invalid data packet (size %1)").arg(size)};
    if (size > context_.maxRequestSize) {
        throw LinkEnded {QStringLiteral("a request of %1 bytes was refused (at most %2)")
                             .arg(QString::number(size), QString::number(context_.maxRequestSize))};
    }

    const DataBlockRef block = TDataBlock::Create(signature);
    qint64 arrived = 0;
    while (arrived < size) {
        const std::span<char> room = block->ReserveTail(size - arrived);
        qint64 got = 0;
        try {
            readSome(room.data(), qint64(room.size()), got, "a block");
        } catch (...) {
            block->CommitTail(0);
            throw;
        }
        block->CommitTail(got);
        arrived += got;
    }
    return block;
}

// ---- writing ----------------------------------------------------------------

void TServedConnection::writeAll(const QByteArray& bytes)
{
    const SocketResult r = socket_.WriteAll(bytes.constData(), bytes.size());
    bytesSent_ += r.count;
    if (current_ != nullptr)
        current_->bytesSent += r.count;
    if (r.status == SocketStatus::TimedOut)
        throw LinkEnded {QStringLiteral("the client took no bytes for too long")};
    if (!r.Ok())
        throw LinkEnded {QStringLiteral("sending failed: %1").arg(r.ErrorText())};
}

DataBlockRef TServedConnection::Send(const DataBlockRef& block, bool waitForResult)
{
    if (waitForResult)
        throw EInterpreterError(QStringLiteral("The application server does not wait for replies of its clients"));
    const QByteArray bytes = block->GetStream();
    if (current_ != nullptr)
        current_->reply = TDataBlock::FromBytes(bytes);
    writeAll(bytes);
    return nullptr;
}

// ---- serving ----------------------------------------------------------------

void TServedConnection::serve(const DataBlockRef& request)
{
    ++requests_;
    RequestRecord record;
    record.timer.start();
    record.action = request->GetSignature() & asMask;
    current_ = &record;

    // The request as the log names it.
    try {
        const DataBlockRef look = peek(request);
        switch (record.action) {
        case asCreateObject:
            record.subject = TServerLog::Quoted(readValue(*look).ToString());
            break;
        case asGetID: {
            const qint32 index = readInt(*look);
            record.subject = QStringLiteral("%1 on object %2")
                                 .arg(TServerLog::Quoted(readValue(*look).ToString()), QString::number(index));
            break;
        }
        case asInvoke: {
            const qint32 index = readInt(*look);
            const qint32 dispId = readInt(*look);
            record.subject
                = QStringLiteral("dispid %1 on object %2").arg(QString::number(dispId), QString::number(index));
            break;
        }
        case asFreeObject:
            record.subject = QStringLiteral("object %1").arg(readInt(*look));
            break;
        default:
            break;
        }
    } catch (const Exception&) {
        record.subject = QStringLiteral("(malformed)");
    }

    QString endedReason;
    try {
        if ((request->GetSignature() & KindMask) != CallSig) {
            record.outcome = QStringLiteral("ignored: a reply that no request of the server waits for");
        } else if (record.action == asInvoke && serveDownload(request, record)) {
            // answered in full
        } else {
            interpreter_.InterpretData(request);
        }
    } catch (const LinkEnded& ended) {
        endedReason = ended.reason;
        if (record.outcome.isEmpty())
            record.outcome = QStringLiteral("failed: ") + ended.reason;
    } catch (const Exception& e) {
        // An error block from the client: nothing to answer.
        record.outcome = QStringLiteral("ignored: ") + TServerLog::Quoted(e.Message());
    }
    current_ = nullptr;

    if (record.outcome.isEmpty()) {
        // Served by the interpreter: its reply tells how it went.
        if (!record.reply) {
            record.outcome = QStringLiteral("done");
        } else {
            try {
                IDataBlock& reply = *record.reply;
                const qint32 action = reply.GetSignature() & asMask;
                if (action == asError) {
                    record.outcome = QStringLiteral("failed: ") + TServerLog::Quoted(readValue(reply).ToString());
                } else if (action == asCreateObject) {
                    // A reference: tag 9 and the object's index.
                    const QByteArrayView value = reply.Unread();
                    record.outcome = QStringLiteral("ok");
                    if (value.size() == 8 && ByteReader(value.first(4)).I32() == varDispatch)
                        record.outcome += QStringLiteral(", object %1").arg(ByteReader(value.sliced(4)).I32());
                } else if (action == asGetID || action == asInvoke) {
                    const HRESULT code = readInt(reply);
                    if (code == ResultCode::Ok && action == asGetID)
                        record.outcome = QStringLiteral("ok, dispid %1").arg(readInt(reply));
                    else if (code == ResultCode::Ok)
                        record.outcome = QStringLiteral("ok");
                    else
                        record.outcome = QStringLiteral("failed: ") + codeText(code);
                } else {
                    record.outcome = QStringLiteral("ok");
                }
            } catch (const Exception&) {
                record.outcome = QStringLiteral("answered");
            }
        }
    }

    QString name = actionName(record.action);
    if (record.action == asInvoke && record.subject.startsWith(u'"'))
        name = QStringLiteral("DownloadUpdate");
    QString line = QStringLiteral("%1 %2").arg(label_, name);
    if (!record.subject.isEmpty())
        line += u' ' + record.subject;
    line += QStringLiteral(": %1; %2 bytes in %3")
                .arg(record.outcome, QString::number(record.bytesSent), milliseconds(record.timer.nsecsElapsed()));
    context_.log->Write(LogLevel::Requests, line);

    if (!endedReason.isEmpty())
        throw LinkEnded {endedReason};
}

// DownloadUpdate on a VelkaroDM object, answered from the file. False when
// the request is anything else, or something the interpreter answers
// better (a malformed request, arguments of the wrong shape): the request is
// then left to it.
bool TServedConnection::serveDownload(const DataBlockRef& request, RequestRecord& record)
{
    const DataBlockRef look = peek(request);
    NoReferences none;
    DispParams params;
    QByteArray byRefValues; // the by-reference arguments as sent; they come back unchanged
    quint16 kind = 0;
    bool wantResult = false;
    TVelkaroDM* object = nullptr;
    DispatchRef held;
    try {
        const qint32 index = readInt(*look);
        const qint32 dispId = readInt(*look);
        held = interpreter_.LockObject(index);
        object = dynamic_cast<TVelkaroDM*>(held.get());
        if (object == nullptr || dispId != TVelkaroDM::DispIdDownloadUpdate)
            return false;
        kind = quint16(readInt(*look));
        wantResult = readValue(*look).ToBool();
        const qint32 argCount = readInt(*look);
        const qint32 namedCount = readInt(*look);
        if (argCount < 0 || namedCount < 0 || namedCount > argCount
            || qint64(argCount) + namedCount > look->Unread().size() / 4)
            return false;
        for (qint32 i = 0; i < namedCount; ++i)
            params.namedArgs.push_back(readInt(*look));
        for (qint32 i = 0; i < argCount; ++i) {
            const QByteArrayView before = look->Unread();
            TVarFlags flags;
            params.args.push_back(ReadVariant(flags, *look, none));
            if (flags.Contains(vfByRef))
                byRefValues += before.first(before.size() - look->Unread().size());
        }
    } catch (const Exception&) {
        return false;
    }

    TReleasedProgram program;
    ExcepInfo excepInfo;
    QString name;
    QString detail;
    const HRESULT code = object->PrepareDownload(kind, params, program, excepInfo, name, detail);
    if (code != ResultCode::Ok && code != ResultCode::ExceptionOccurred)
        return false;
    record.subject = TServerLog::Quoted(name);

    const DataBlockRef reply = TDataBlock::Create(ResultSig | asInvoke);
    NoReferences noObjects;
    WriteVariant(Variant(int(code)), *reply, noObjects);
    if (code == ResultCode::ExceptionOccurred) {
        WriteVariant(Variant(int(excepInfo.code)), *reply, noObjects);
        WriteVariant(Variant(excepInfo.description), *reply, noObjects);
    }
    reply->WriteBytes(byRefValues);
    if (code != ResultCode::Ok) {
        if (wantResult)
            WriteVariant(Variant(), *reply, noObjects);
        Send(reply, false);
        record.outcome = QStringLiteral("failed: %1 (%2)").arg(excepInfo.description, detail);
        return true;
    }
    if (!wantResult) {
        Send(reply, false);
        record.outcome = QStringLiteral("ok, but no result was asked for: no bytes sent");
        return true;
    }

    // Header, result code and the array's header now; the bytes follow from
    // the file. The size field counts them all.
    const qint64 size = program.size;
    QByteArray arrayHeader;
    ByteWriter writer(arrayHeader);
    for (const qint64 field : {qint64(varArray | varByte), qint64(1), qint64(0), size - 1, size})
        writer.I32(qint32(field));
    reply->WriteBytes(arrayHeader);
    QByteArray head = reply->GetStream();
    QByteArray sizeField;
    ByteWriter(sizeField).I32(qint32(reply->GetSize() + size));
    std::memcpy(head.data() + 4, sizeField.constData(), 4);
    writeAll(head);

    const SocketResult sent = socket_.SendFile(*program.file, 0, size);
    bytesSent_ += sent.count;
    record.bytesSent += sent.count;
    switch (sent.status) {
    case SocketStatus::Ok:
        record.outcome = QStringLiteral("ok");
        return true;
    case SocketStatus::EndOfFile:
        record.outcome = QStringLiteral("failed: the file ended after %1 of its %2 bytes")
                             .arg(QString::number(sent.count), QString::number(size));
        throw LinkEnded {QStringLiteral("the program's file ended after %1 of its %2 bytes while it was sent; "
                                        "the link was dropped so that the client takes no short program")
                             .arg(QString::number(sent.count), QString::number(size))};
    case SocketStatus::TimedOut:
        throw LinkEnded {QStringLiteral("the client took no bytes for too long")};
    default:
        throw LinkEnded {QStringLiteral("sending the program failed: %1").arg(sent.ErrorText())};
    }
}

} // namespace velkaro
