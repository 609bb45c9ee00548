#include "mysql/MySqlSession.h"

#include "core/Bytes.h"
#include "mysql/CRVioTcp.h"
#include "mysql/MyError.h"
#include "mysql/MySqlAuth.h"

#include <QFile>
#include <QMutex>
#include <QStringEncoder>

#include <algorithm>

namespace velkaro {

namespace {

constexpr quint8 COM_QUIT = 1;
constexpr quint8 COM_QUERY = 3;
constexpr quint8 EofByte = 0xFE;
// An end-of-data packet is 0xFE and shorter than this; a longer one is a
// row (or a length-coded 8-byte integer).
constexpr qsizetype EofLimit = 9;
// Local files go to the server in packets of this size.
constexpr qsizetype LocalFileChunk = 8192;

const QByteArray NativePasswordMethod = QByteArrayLiteral("mysql_native_password");

// The COM_QUERY buffer all sessions share; it grows as needed and is never
// shrunk, so a program sending the same statements allocates once.
QMutex queryBufferLock;
QByteArray queryBuffer;

// Codes that leave the link in an unknown state: the session closes.
bool breaksLink(int code)
{
    switch (code) {
    case cr::ServerLost:
    case cr::ServerGoneError:
    case cr::UnknownError:
    case cr::NetPacketTooLarge:
    case cr::MalformedPacket:
    case cr::AuthPluginCannotLoad:
    case cr::VersionError:
    case er::NetPacketsOutOfOrder:
    case er::NetUncompressError:
        return true;
    default:
        return false;
    }
}

// --- LOAD DATA LOCAL INFILE statements

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

class StatementWords {
public:
    explicit StatementWords(QByteArrayView text)
        : text_(text)
    {
    }
    void SkipBlanks()
    {
        while (pos_ < text_.size() && isSpace(text_[pos_]))
            ++pos_;
    }
    // The next word, when it is Word (any case) and followed by a blank.
    bool Take(QByteArrayView word)
    {
        SkipBlanks();
        const qsizetype end = pos_ + word.size();
        if (end >= text_.size() || !isSpace(text_[end]))
            return false;
        if (QByteArrayView(text_.sliced(pos_, word.size())).compare(word, Qt::CaseInsensitive) != 0)
            return false;
        pos_ = end;
        return true;
    }
    // A quoted literal, read with and without backslash escapes.
    bool Literal(QList<QByteArray>& readings)
    {
        SkipBlanks();
        if (pos_ >= text_.size() || (text_[pos_] != '\'' && text_[pos_] != '"'))
            return false;
        const char quote = text_[pos_];
        QByteArray escaped;
        QByteArray plain;
        bool escapedDone = false;
        bool plainDone = false;
        // Without escapes: up to the first single quote that is not doubled.
        for (qsizetype i = pos_ + 1; i < text_.size(); ++i) {
            if (text_[i] == quote) {
                if (i + 1 < text_.size() && text_[i + 1] == quote) {
                    plain.append(quote);
                    ++i;
                    continue;
                }
                plainDone = true;
                break;
            }
            plain.append(text_[i]);
        }
        for (qsizetype i = pos_ + 1; i < text_.size(); ++i) {
            const char c = text_[i];
            if (c == '\\' && i + 1 < text_.size()) {
                const char n = text_[++i];
                switch (n) {
                case '0':
                    escaped.append('\0');
                    break;
                case 'b':
                    escaped.append('\b');
                    break;
                case 'n':
                    escaped.append('\n');
                    break;
                case 'r':
                    escaped.append('\r');
                    break;
                case 't':
                    escaped.append('\t');
                    break;
                case 'Z':
                    escaped.append('\x1A');
                    break;
                case '%':
                case '_':
                    escaped.append('\\');
                    escaped.append(n);
                    break;
                default:
                    escaped.append(n);
                }
                continue;
            }
            if (c == quote) {
                if (i + 1 < text_.size() && text_[i + 1] == quote) {
                    escaped.append(quote);
                    ++i;
                    continue;
                }
                escapedDone = true;
                break;
            }
            escaped.append(c);
        }
        if (escapedDone)
            readings.append(escaped);
        if (plainDone && (!escapedDone || plain != escaped))
            readings.append(plain);
        return !readings.isEmpty();
    }

private:
    QByteArrayView text_;
    qsizetype pos_ = 0;
};

// The file a LOAD DATA [LOW_PRIORITY | CONCURRENT] LOCAL INFILE 'name'
// statement names: the literal's readings with and without backslash
// escapes (the server's SQL mode decides which one it asks for). Empty for
// any other statement.
QList<QByteArray> localInfileNames(QByteArrayView sql)
{
    QList<QByteArray> names;
    StatementWords words(sql);
    if (!words.Take("LOAD") || !words.Take("DATA"))
        return names;
    if (!words.Take("LOW_PRIORITY"))
        words.Take("CONCURRENT");
    if (!words.Take("LOCAL") || !words.Take("INFILE"))
        return names;
    words.Literal(names);
    return names;
}

} // namespace

// --- result set

TMySqlResultSet::TMySqlResultSet(TMySqlSession& session, QList<TMySqlFieldInfo> fields)
    : session_(session)
    , fields_(std::move(fields))
    , cells_(fields_.size())
{
}

bool TMySqlResultSet::Fetch()
{
    return session_.fetchRow(*this);
}

QByteArrayView TMySqlResultSet::Row() const
{
    return session_.net_.GetBuffer();
}

// --- session

TMySqlSession::TMySqlSession()
    : scramble_(mysqlauth::ScrambleLength, '\0')
{
}

TMySqlSession::~TMySqlSession()
{
    Close();
}

template <class F> auto TMySqlSession::guarded(F f)
{
    try {
        return f();
    } catch (const EMyError& e) {
        errorNumber_ = e.ErrorCode();
        errorText_ = e.Message();
        if (breaksLink(e.ErrorCode()))
            closeLink();
        throw;
    } catch (const Exception&) {
        throw;
    } catch (...) {
        closeLink();
        throw;
    }
}

void TMySqlSession::checkOpen() const
{
    if (closed_)
        throw MakeMyError(cr::ServerGoneError);
}

void TMySqlSession::closeLink()
{
    net_.Close();
    closed_ = true;
    status_ = msReady;
    fields_.clear();
    if (result_)
        result_->eof_ = true;
}

void TMySqlSession::Close()
{
    if (closed_)
        return;
    try {
        net_.NewCommand();
        net_.WriteByte(COM_QUIT);
        net_.Send();
    } catch (const Exception&) {
        // The server may be gone already; the session ends either way.
    }
    closeLink();
}

void TMySqlSession::Connect(const QByteArray& host, const QByteArray& user, const QByteArray& password,
    const QByteArray& database, int port, quint32 clientFlags)
{
    guarded([&] {
        port_ = port != 0 ? port : (port_ != 0 ? port_ : DefaultPort);
        host_ = host.isEmpty() ? QByteArrayLiteral("localhost") : host;
        serverStatus_ = SERVER_STATUS_AUTOCOMMIT;
        net_.SetTextCoding(charsetName_ == "utf8" ? TextCoding::Utf8 : TextCoding::Ansi);
        if (protocol_ != 0)
            throw MakeMyError(cr::UnknownProtocol);

        std::unique_ptr<TCRVio> vio
            = vioFactory_ ? vioFactory_(host_, port_) : std::make_unique<TCRVioTcp>(host_, port_);
        hostInfo_ = host_ + " via TCP/IP";
        TCRVio* endpoint = vio.get();
        net_.SetVio(std::move(vio));
        endpoint->SetTimeout(connectTimeout_);
        try {
            endpoint->Connect();
        } catch (const Exception&) {
            QString message
                = FormatClientText(cr::ConnHostError, {QString::fromLatin1(host_), QStringLiteral("10061")});
            if (!endpoint->LastError().isEmpty())
                message += u'\n' + endpoint->LastError();
            closeLink();
            throw EMyError(cr::ConnHostError, message);
        }
        closed_ = false;
        try {
            readGreeting();
            clientFlags_ = clientFlags | ClientFixedFlags | CLIENT_CONNECT_WITH_DB;
            if (clientFlags & CLIENT_MULTI_STATEMENTS)
                clientFlags_ |= CLIENT_MULTI_RESULTS;
            // No secure transport: CLIENT_SSL never stays.
            for (quint32 flag : {quint32(CLIENT_COMPRESS), quint32(CLIENT_PROTOCOL_41), quint32(CLIENT_SSL)})
                if (!(serverCapabilities_ & flag) || flag == CLIENT_SSL)
                    clientFlags_ &= ~flag;
            user_ = user;
            sendLogin(user, password, database);
            readLoginReply(password);
            net_.SetCompress((clientFlags_ & CLIENT_COMPRESS) != 0);
            status_ = msReady;
        } catch (...) {
            closeLink();
            throw;
        }
    });
}

void TMySqlSession::readGreeting()
{
    net_.Receive();
    ByteReader r(net_.GetBuffer());
    try {
        const quint8 protocol = r.U8();
        if (protocol != ProtocolVersion)
            throw MakeMyError(cr::VersionError);
        serverVersion_ = r.ZeroEnded().toByteArray();
        threadId_ = r.U32();
        r.CopyTo(scramble_.data(), mysqlauth::OldScrambleLength);
        scrambleComplete_ = false;
        r.Skip(1); // filler
    } catch (const EByteReadError&) {
        throw MakeMyError(cr::MalformedPacket);
    }
    // Past the first scramble part every field is optional: a short greeting
    // comes from an old server.
    const qsizetype p = r.Position() - 1;
    const qsizetype length = net_.GetLength();
    serverCapabilities_ = 0;
    if (length > p + 2)
        serverCapabilities_ = r.U16();
    if (length >= p + 18) {
        serverLanguage_ = r.U8();
        serverStatus_ = r.U16();
    }
    // The rest of the scramble: 12 bytes from p + 19 (the upper capability
    // flags, the scramble length and reserved bytes come before).
    if (length >= p + 31) {
        r.Seek(p + 19);
        r.CopyTo(
            scramble_.data() + mysqlauth::OldScrambleLength, mysqlauth::ScrambleLength - mysqlauth::OldScrambleLength);
        scrambleComplete_ = true;
    }
}

void TMySqlSession::sendLogin(const QByteArray& user, const QByteArray& password, const QByteArray& database)
{
    net_.Clear();
    if (protocol41()) {
        net_.WriteInt32(clientFlags_);
        net_.WriteInt32(TMySqlNet::MaxAllowedPacket);
        net_.WriteByte(charsetName_ == "utf8" ? Utf8CharsetNr : Latin1CharsetNr);
        net_.Fill(0, 23);
    } else {
        net_.WriteInt16(quint16(clientFlags_));
        net_.WriteInt24(TMySqlNet::MaxAllowedPacket & 0xFFFF);
    }
    net_.WriteString(user);
    if (serverCapabilities_ & CLIENT_SECURE_CONNECTION) {
        if (password.isEmpty()) {
            net_.WriteByte(0);
        } else if (scrambleComplete_) {
            net_.WriteByte(quint8(mysqlauth::ScrambleLength));
            net_.WriteBytes(mysqlauth::NativeProof(password, scramble_));
        } else {
            net_.Fill('x', mysqlauth::OldScrambleLength);
            net_.WriteByte(0);
        }
    } else if (password.isEmpty()) {
        net_.WriteByte(0);
    } else {
        net_.WriteBytes(mysqlauth::OldScramble(password, scramble_));
    }
    if (serverCapabilities_ & CLIENT_CONNECT_WITH_DB) {
        net_.WriteString(database);
        database_ = database;
    }
    net_.Send();
}

void TMySqlSession::readLoginReply(const QByteArray& password)
{
    net_.Receive();
    const QByteArrayView reply = net_.GetBuffer();
    if (!reply.isEmpty() && quint8(reply[0]) == EofByte && reply.size() > 1) {
        answerAuthSwitch(password);
        return;
    }
    if (!(serverCapabilities_ & CLIENT_SECURE_CONNECTION))
        return;
    if (reply.size() == 1 && quint8(reply[0]) == EofByte) {
        net_.Clear();
        net_.WriteBytes(mysqlauth::OldScramble(password, scramble_));
        net_.Send();
        net_.Receive();
        return;
    }
    if (reply.size() == 24 && reply[0] != 0) {
        const QByteArray r = reply.toByteArray();
        net_.Clear();
        net_.WriteBytes(mysqlauth::TwoStageAnswer(password, r, scramble_));
        net_.Send();
        net_.Receive();
    }
}

// A newer server names the method it wants: 0xFE, the method's name and a 0
// byte, then the method's data (for the native method a fresh 20-byte
// scramble, usually followed by a 0 byte).
void TMySqlSession::answerAuthSwitch(const QByteArray& password)
{
    net_.SetPosition(1);
    const QByteArray method = net_.ReadString().toByteArray();
    if (method != NativePasswordMethod)
        throw EMyError(cr::AuthPluginCannotLoad,
            FormatClientText(cr::AuthPluginCannotLoad, {DecodeText(method, net_.GetTextCoding())}));
    const QByteArrayView data = net_.GetBuffer().sliced(net_.GetPosition());
    if (data.size() < mysqlauth::ScrambleLength)
        throw MakeMyError(cr::MalformedPacket);
    scramble_ = data.first(mysqlauth::ScrambleLength).toByteArray();
    scrambleComplete_ = true;
    const QByteArray proof = password.isEmpty() ? QByteArray() : mysqlauth::NativeProof(password, scramble_);
    net_.Clear();
    net_.WriteBytes(proof);
    if (proof.isEmpty())
        net_.SendEmpty();
    else
        net_.Send();
    net_.Receive();
    const QByteArrayView reply = net_.GetBuffer();
    if (!reply.isEmpty() && quint8(reply[0]) == EofByte)
        throw MakeMyError(cr::MalformedPacket);
}

// --- commands

void TMySqlSession::Query(const QString& sql, TextCoding coding)
{
    guarded([&] {
        checkOpen();
        QMutexLocker lock(&queryBufferLock);
        if (status_ != msReady)
            throw MakeMyError(cr::CommandsOutOfSync);
        errorNumber_ = 0;
        errorText_.clear();
        info_.clear();
        affectedRows_ = 0;
        result_.reset();
        fields_.clear();
        fieldCount_ = 0;

        qsizetype size = 0;
        if (coding == TextCoding::Utf8) {
            QStringEncoder encoder(QStringEncoder::Utf8);
            const qsizetype need = encoder.requiredSpace(sql.size());
            if (queryBuffer.size() < need)
                queryBuffer.resize(need);
            size = encoder.appendToBuffer(queryBuffer.data(), sql) - queryBuffer.data();
        } else {
            const QByteArray bytes = EncodeText(sql, coding);
            if (queryBuffer.size() < bytes.size())
                queryBuffer.resize(bytes.size());
            std::copy(bytes.begin(), bytes.end(), queryBuffer.begin());
            size = bytes.size();
        }
        const QByteArrayView bytes(queryBuffer.constData(), size);
        localFileNames_ = localInfileNames(bytes);

        net_.GetVio()->SetTimeout(commandTimeout_ == 0 ? NoCommandTimeout : commandTimeout_);
        net_.NewCommand();
        net_.WriteByte(COM_QUERY);
        net_.WriteOrSendBytes(bytes);
        net_.Send();
    });
}

quint64 TMySqlSession::ReadQueryResult()
{
    return guarded([&] {
        checkOpen();
        return readResponse();
    });
}

quint64 TMySqlSession::NextResult()
{
    return guarded([&] {
        checkOpen();
        if (status_ != msReady)
            throw MakeMyError(cr::CommandsOutOfSync, QStringLiteral("mysql.status = %1").arg(int(status_)));
        result_.reset();
        fields_.clear();
        fieldCount_ = 0;
        affectedRows_ = -1;
        return readResponse();
    });
}

quint64 TMySqlSession::readResponse()
{
    for (;;) {
        serverStatus_ = SERVER_STATUS_AUTOCOMMIT;
        net_.Receive();
        const qint64 count = net_.ReadFieldLength();
        if (count == 0) {
            readOk();
            return 0;
        }
        if (count == TMySqlNet::NullLength) {
            answerLocalFile(net_.ReadString());
            continue;
        }
        if (!(serverStatus_ & SERVER_STATUS_AUTOCOMMIT))
            serverStatus_ |= SERVER_STATUS_IN_TRANS;
        extraInfo_ = net_.Remaining() > 0 ? net_.ReadFieldLength() : 0;
        readFields(quint64(count));
        fieldCount_ = quint64(count);
        status_ = msGetResult;
        warningCount_ = 0;
        return fieldCount_;
    }
}

void TMySqlSession::readOk()
{
    affectedRows_ = net_.ReadFieldLength();
    insertId_ = quint64(net_.ReadFieldLength());
    if (protocol41() || (serverCapabilities_ & CLIENT_TRANSACTIONS))
        serverStatus_ = net_.ReadUInt16();
    if (protocol41())
        warningCount_ = net_.ReadUInt16();
    // The info text is length-coded, as servers have always sent it.
    info_.clear();
    if (net_.Remaining() > 0)
        info_ = net_.ReadFieldString().toByteArray();
}

void TMySqlSession::answerLocalFile(QByteArrayView fileName)
{
    const QByteArray name = fileName.toByteArray();
    const bool named = localFileNames_.contains(name);
    localFileNames_.clear(); // one file per statement
    const QString path = DecodeText(name, net_.GetTextCoding());

    net_.Clear();
    if (!named) {
        // Nothing is read from disk: the server gets an empty file.
        net_.SendEmpty();
        readAnswerAfterRefusal();
        throw EMyError(cr::LoadDataLocalInfileRejected,
            ClientErrorText(cr::LoadDataLocalInfileRejected)
                + QStringLiteral("\nThe server asked for the file '%1', which the statement sent does not name.")
                      .arg(path));
    }
    QFile file(path);
    QString failure;
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray chunk(LocalFileChunk, Qt::Uninitialized);
        for (;;) {
            const qint64 n = file.read(chunk.data(), chunk.size());
            if (n < 0) {
                failure = file.errorString();
                break;
            }
            if (n == 0)
                break;
            net_.WriteBytes(QByteArrayView(chunk.constData(), n));
            net_.Send();
        }
    } else {
        failure = file.errorString();
    }
    net_.SendEmpty();
    if (failure.isEmpty())
        return;
    readAnswerAfterRefusal();
    throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(path, failure));
}

// The server's answer to the empty file that replaced a refused one; the
// refusal is the error the caller sees, so a server error here only ends it.
void TMySqlSession::readAnswerAfterRefusal()
{
    try {
        readResponse();
    } catch (const EMyError& e) {
        if (breaksLink(e.ErrorCode()))
            throw;
    }
}

void TMySqlSession::readFields(quint64 count)
{
    fields_.clear();
    for (;;) {
        net_.Receive();
        const QByteArrayView packet = net_.GetBuffer();
        if (!packet.isEmpty() && quint8(packet[0]) == EofByte && packet.size() < EofLimit) {
            takeEof();
            break;
        }
        TMySqlFieldInfo f;
        if (protocol41()) {
            net_.ReadFieldString(); // catalog
            f.Database = net_.ReadFieldString().toByteArray();
            f.Table = net_.ReadFieldString().toByteArray();
            f.OrgTable = net_.ReadFieldString().toByteArray();
            f.Name = net_.ReadFieldString().toByteArray();
            f.OrgName = net_.ReadFieldString().toByteArray();
            const QByteArrayView fixed = net_.ReadFieldString();
            ByteReader r(fixed);
            try {
                f.CharsetNr = r.U16();
                f.Length = r.U32();
                f.Type = r.U8();
                f.Flags = r.U16();
                f.Scale = r.U8();
            } catch (const EByteReadError&) {
                throw MakeMyError(cr::MalformedPacket);
            }
        } else {
            // Before 4.1 every item is length-coded, the numbers included.
            f.Table = net_.ReadFieldString().toByteArray();
            f.Name = net_.ReadFieldString().toByteArray();
            const QByteArrayView length = net_.ReadFieldString();
            const QByteArrayView type = net_.ReadFieldString();
            const QByteArrayView flags = net_.ReadFieldString();
            const bool longFlag = serverCapabilities_ & CLIENT_LONG_FLAG;
            if (length.size() < 3 || type.size() < 1 || flags.size() < (longFlag ? 3 : 2))
                throw MakeMyError(cr::MalformedPacket);
            ByteReader r(length);
            f.Length = r.U24();
            f.Type = quint8(type[0]);
            ByteReader fr(flags);
            f.Flags = longFlag ? fr.U16() : fr.U8();
            f.Scale = fr.U8();
        }
        if (IsNumericType(f.Type, f.Length))
            f.Flags |= NUM_FLAG;
        fields_.append(std::move(f));
    }
    if (quint64(fields_.size()) != count)
        throw MakeMyError(cr::MalformedPacket);
}

void TMySqlSession::takeEof()
{
    if (net_.GetLength() >= 5) {
        net_.SetPosition(1);
        warningCount_ = net_.ReadUInt16();
        serverStatus_ = net_.ReadUInt16();
    }
}

TMySqlResultSet* TMySqlSession::UseResult()
{
    return guarded([&] {
        checkOpen();
        if (status_ != msGetResult)
            throw MakeMyError(cr::CommandsOutOfSync, QStringLiteral("mysql.status = %1").arg(int(status_)));
        result_.reset(new TMySqlResultSet(*this, std::move(fields_)));
        fields_.clear();
        status_ = msUseResult;
        return result_.get();
    });
}

bool TMySqlSession::fetchRow(TMySqlResultSet& result)
{
    return guarded([&] {
        if (result.eof_)
            return false;
        checkOpen();
        try {
            net_.Receive();
        } catch (const Exception&) {
            result.eof_ = true;
            status_ = msReady;
            throw;
        }
        const QByteArrayView packet = net_.GetBuffer();
        if (!packet.isEmpty() && quint8(packet[0]) == EofByte && packet.size() < EofLimit) {
            takeEof();
            result.eof_ = true;
            status_ = msReady;
            return false;
        }
        for (TMySqlResultSet::Cell& cell : result.cells_) {
            const qint64 length = net_.ReadFieldLength();
            cell.null = length == TMySqlNet::NullLength;
            cell.offset = net_.GetPosition();
            cell.length = cell.null ? 0 : qsizetype(length);
            if (cell.length > net_.Remaining())
                throw MakeMyError(cr::MalformedPacket);
            net_.SetPosition(cell.offset + cell.length);
        }
        if (net_.Remaining() != 0)
            throw MakeMyError(cr::MalformedPacket);
        return true;
    });
}

void TMySqlSession::FreeResult()
{
    guarded([&] {
        const bool pending = status_ == msGetResult || (status_ == msUseResult && result_ && !result_->eof_);
        if (pending && !closed_)
            drain();
        status_ = msReady;
        fields_.clear();
        result_.reset();
    });
}

void TMySqlSession::drain()
{
    bool continuation = false;
    for (;;) {
        TMySqlNet::Skipped s;
        try {
            s = net_.SkipBuffer(DrainChunk, !continuation);
        } catch (const EMyError& e) {
            if (breaksLink(e.ErrorCode()))
                throw;
            return; // the server ended the result with an error: ignored here
        }
        if (!continuation && s.firstByte == EofByte && s.length < EofLimit) {
            takeEof();
            return;
        }
        continuation = s.length == TMySqlNet::MaxPacketLength;
    }
}

} // namespace velkaro
