#include "mysql/MySQLConnection.h"

#include "core/Exceptions.h"
#include "mysql/MyError.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLOptions.h"
#include "mysql/MySQLRecordset.h"
#include "platform/RegionalSettings.h"

namespace velkaro {

namespace {

// The leading decimal digits of Text from Pos; Pos moves past them.
int digitsAt(QByteArrayView text, qsizetype& pos)
{
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && value < 100000000)
        value = value * 10 + (text[pos++] - '0');
    return value;
}

} // namespace

TMySQLConnection::TMySQLConnection() = default;

TMySQLConnection::~TMySQLConnection()
{
    Disconnect();
}

QString TMySQLConnection::ClassName() const
{
    return QString::fromLatin1(MySQLConnectionClass);
}

bool TMySQLConnection::SetProp(int prop, const Variant& value)
{
    switch (prop) {
    case prop::Database:
        database_ = value.ToString();
        return true;
    case prop::Port:
        port_ = value.ToInt();
        return true;
    case prop::ConnectionTimeout:
        connectionTimeout_ = value.ToInt();
        return true;
    case prop::Charset:
        charset_ = value.ToString();
        if (connected_)
            startSession();
        return true;
    case prop::UseUnicode:
        useUnicode_ = value.ToBool();
        if (connected_)
            startSession();
        return true;
    case prop::Compress:
        compress_ = value.ToBool();
        return true;
    case prop::Protocol:
        protocol_ = value.ToInt();
        return true;
    case prop::Direct:
        direct_ = value.ToBool();
        return true;
    case prop::Embedded:
        embedded_ = value.ToBool();
        return true;
    case prop::OptimizedBigint:
        optimizedBigint_ = value.ToBool();
        return true;
    case prop::NullForZeroDateValue:
        nullForZeroDateValue_ = value.ToBool();
        return true;
    case prop::CheckPrecision:
        checkPrecision_ = value.ToBool();
        return true;
    case prop::CheckBackslashes:
        checkBackslashes_ = value.ToBool();
        return true;
    case prop::EmbeddedParams:
        embeddedParams_ = value.ToString();
        return true;
    case prop::SSLChipherList:
        sslCipherList_ = value.ToString();
        return true;
    case prop::SSLCACert:
        sslCACert_ = value.ToString();
        return true;
    case prop::SSLKey:
        sslKey_ = value.ToString();
        return true;
    case prop::SSLCert:
        sslCert_ = value.ToString();
        return true;
    case prop::HttpUrl:
        httpUrl_ = value.ToString();
        return true;
    case prop::HttpUsername:
        httpUsername_ = value.ToString();
        return true;
    case prop::HttpPassword:
        httpPassword_ = value.ToString();
        return true;
    case prop::ProxyHostname:
        proxyHostname_ = value.ToString();
        return true;
    case prop::ProxyPort:
        proxyPort_ = value.ToInt();
        return true;
    case prop::ProxyUsername:
        proxyUsername_ = value.ToString();
        return true;
    case prop::ProxyPassword:
        proxyPassword_ = value.ToString();
        return true;
    default:
        return TCRConnection::SetProp(prop, value);
    }
}

bool TMySQLConnection::GetProp(int prop, Variant& value) const
{
    switch (prop) {
    case prop::Database:
        value = Variant(database_);
        return true;
    case prop::Port:
        value = Variant(port_);
        return true;
    case prop::ConnectionTimeout:
        value = Variant(connectionTimeout_);
        return true;
    case prop::Charset:
        value = Variant(charset_);
        return true;
    case prop::UseUnicode:
        value = Variant(useUnicode_);
        return true;
    case prop::Compress:
        value = Variant(compress_);
        return true;
    case prop::Protocol:
        value = Variant(protocol_);
        return true;
    case prop::Direct:
        value = Variant(direct_);
        return true;
    case prop::Embedded:
        value = Variant(embedded_);
        return true;
    case prop::OptimizedBigint:
        value = Variant(optimizedBigint_);
        return true;
    case prop::NullForZeroDateValue:
        value = Variant(nullForZeroDateValue_);
        return true;
    case prop::CheckPrecision:
        value = Variant(checkPrecision_);
        return true;
    case prop::CheckBackslashes:
        value = Variant(checkBackslashes_);
        return true;
    case prop::EmbeddedParams:
        value = Variant(embeddedParams_);
        return true;
    case prop::SSLChipherList:
        value = Variant(sslCipherList_);
        return true;
    case prop::SSLCACert:
        value = Variant(sslCACert_);
        return true;
    case prop::SSLKey:
        value = Variant(sslKey_);
        return true;
    case prop::SSLCert:
        value = Variant(sslCert_);
        return true;
    case prop::HttpUrl:
        value = Variant(httpUrl_);
        return true;
    case prop::HttpUsername:
        value = Variant(httpUsername_);
        return true;
    case prop::HttpPassword:
        value = Variant(httpPassword_);
        return true;
    case prop::ProxyHostname:
        value = Variant(proxyHostname_);
        return true;
    case prop::ProxyPort:
        value = Variant(proxyPort_);
        return true;
    case prop::ProxyUsername:
        value = Variant(proxyUsername_);
        return true;
    case prop::ProxyPassword:
        value = Variant(proxyPassword_);
        return true;
    default:
        return TCRConnection::GetProp(prop, value);
    }
}

void TMySQLConnection::Connect()
{
    if (connected_)
        return;
    serverVersion_.clear();
    primaryVer_ = minorVer_ = releaseVer_ = 0;
    try {
        // Only the direct protocol over TCP is built in; the other modes the
        // options name are refused rather than quietly replaced.
        if (embedded_ || !direct_)
            throw EDatabaseError(QStringLiteral("This MySQL client has only the direct protocol: set "
                                                "MySQL.Direct=True and MySQL.Embedded=False"));
        session_ = std::make_unique<TMySqlSession>();
        ++generation_;
        if (vioFactory_)
            session_->SetVioFactory(vioFactory_);
        session_->SetConnectTimeout(connectionTimeout_);
        const bool utf8 = useUnicode_ || charset_.toLower() == QLatin1String("utf8");
        if (utf8)
            session_->SetCharsetName("utf8");
        // "mpTCP" is the default transport named explicitly.
        session_->SetProtocol(protocol_ == mpTCP ? mpDefault : protocol_);
        quint32 flags = CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS;
        if (compress_)
            flags |= CLIENT_COMPRESS;

        const qsizetype comma = server_.indexOf(u',');
        QString host = comma >= 0 ? server_.left(comma) : server_;
        if (host.isEmpty())
            host = QStringLiteral("localhost");
        const TextCoding credentials = utf8 ? TextCoding::Utf8 : TextCoding::Ansi;
        session_->Connect(EncodeText(host, TextCoding::Ansi), EncodeText(username_, credentials),
            EncodeText(password_, credentials), EncodeText(database_, TextCoding::Ansi), port_, flags);

        connected_ = true;
        isValid_ = true;
        connectTime_ = platform::SystemClock().Now().toMSecsSinceEpoch();
        serverVersion_ = session_->ServerVersion();
        decodeServerVersion();
        startSession();
        if (checkBackslashes_)
            checkBackslashes();
    } catch (const EMyError& e) {
        closeSession();
        RaiseError(e);
    } catch (...) {
        closeSession();
        throw;
    }
}

void TMySQLConnection::closeSession()
{
    if (session_)
        session_->Close();
    connected_ = false;
}

void TMySQLConnection::Disconnect()
{
    closeSession();
}

// The primary number before the first "."; the minor, the digits after it;
// the release, the digits from one character after the minor's end.
void TMySQLConnection::decodeServerVersion()
{
    const QByteArrayView v = serverVersion_;
    const qsizetype dot = v.indexOf('.');
    if (dot < 0) {
        qsizetype pos = 0;
        primaryVer_ = digitsAt(v, pos);
        return;
    }
    primaryVer_ = v.first(dot).toByteArray().toInt();
    qsizetype pos = dot + 1;
    minorVer_ = digitsAt(v, pos);
    pos += 1;
    releaseVer_ = digitsAt(v, pos);
}

void TMySQLConnection::startSession()
{
    if (primaryVer_ < 4 || (primaryVer_ == 4 && minorVer_ == 0)) {
        // Servers before 4.1 know no character sets to name.
        useUnicode_ = false;
        session_->Net().SetTextCoding(TextCoding::Ansi);
        return;
    }
    if (useUnicode_)
        ExecuteStatement(QStringLiteral("SET NAMES utf8"));
    else if (!charset_.isEmpty())
        ExecuteStatement(QStringLiteral("SET NAMES ") + charset_);
}

void TMySQLConnection::checkBackslashes()
{
    TMySQLCommand command(this);
    command.SetSQL({QStringLiteral("SELECT @@session.sql_mode")});
    command.SetCommandTimeout(connectionTimeout_);
    command.SetExpectResultSet(true);
    command.Execute();
    QByteArray mode;
    if (command.Result() != nullptr && command.Fetch())
        mode = command.Result()->Value(0).toByteArray();
    command.ReleaseResult();
    needBackslashes_ = !mode.toUpper().contains("NO_BACKSLASH_ESCAPES");
}

void TMySQLConnection::ExecuteStatement(const QString& sql)
{
    TMySQLCommand command(this);
    command.SetSQL({sql});
    command.SetCommandTimeout(connectionTimeout_);
    command.Execute();
}

bool TMySQLConnection::InTransaction() const
{
    return connected_ && session_ && (session_->ServerStatus() & SERVER_STATUS_IN_TRANS) != 0;
}

std::unique_ptr<TCRRecordSet> TMySQLConnection::CreateRecordSet()
{
    return std::make_unique<TMySQLRecordset>(this);
}

void TMySQLConnection::RaiseError(const EMyError& error)
{
    // A session that closed itself over the error is gone, whatever the code.
    const bool sessionGone = session_ && session_->Closed();
    if (sessionGone)
        connected_ = false;
    DoError(error, error.IsFatal() || sessionGone);
    throw error;
}

} // namespace velkaro
