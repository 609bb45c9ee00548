#include "mysql/MySQLOptions.h"

namespace velkaro {

namespace {

template <typename Option, typename... Args>
void add(TOptionsList& list, const char* name, int propId, const QStringList& classes, Args&&... args)
{
    list.Add(std::make_unique<Option>(QString::fromLatin1(name), propId, classes, std::forward<Args>(args)...));
}

void AddConnectionOptions(TOptionsList& l)
{
    const QStringList c {QString::fromLatin1(MySQLConnectionClass)};
    add<TIntegerOption>(l, "ConnectionTimeout", prop::ConnectionTimeout, c, 15);
    add<TStringOption>(l, "Charset", prop::Charset, c);
    add<TBooleanOption>(l, "UseUnicode", prop::UseUnicode, c, false);
    add<TBooleanOption>(l, "OptimizedBigint", prop::OptimizedBigint, c, false);
    add<TBooleanOption>(l, "NullForZeroDateValue", prop::NullForZeroDateValue, c, false);
    add<TBooleanOption>(l, "Compress", prop::Compress, c, false);
    add<TEnumeratorOption>(l, "Protocol", prop::Protocol, c,
        QStringList {QStringLiteral("mpDefault"), QStringLiteral("mpTCP"), QStringLiteral("mpPipe"),
            QStringLiteral("mpMemory"), QStringLiteral("mpSocket"), QStringLiteral("mpSSL"), QStringLiteral("mpHttp")},
        int(mpDefault));
    add<TBooleanOption>(l, "Embedded", prop::Embedded, c, false);
    add<TBooleanOption>(l, "Direct", prop::Direct, c, true);
    add<TStringOption>(l, "EmbeddedParams", prop::EmbeddedParams, c);
    add<TStringOption>(l, "SSLChipherList", prop::SSLChipherList, c);
    add<TStringOption>(l, "SSLCACert", prop::SSLCACert, c);
    add<TStringOption>(l, "SSLKey", prop::SSLKey, c);
    add<TStringOption>(l, "SSLCert", prop::SSLCert, c);
    add<TStringOption>(l, "HttpUrl", prop::HttpUrl, c);
    add<TStringOption>(l, "HttpUsername", prop::HttpUsername, c);
    add<TStringOption>(l, "HttpPassword", prop::HttpPassword, c);
    add<TStringOption>(l, "ProxyHostname", prop::ProxyHostname, c);
    add<TIntegerOption>(l, "ProxyPort", prop::ProxyPort, c, 0);
    add<TStringOption>(l, "ProxyUsername", prop::ProxyUsername, c);
    add<TStringOption>(l, "ProxyPassword", prop::ProxyPassword, c);
}

void AddDataSetOptions(TOptionsList& l)
{
    const QStringList r {QString::fromLatin1(MySQLRecordsetClass)};
    const QStringList cr {QString::fromLatin1(MySQLCommandClass), QString::fromLatin1(MySQLRecordsetClass)};
    add<TBooleanOption>(l, "FetchAll", prop::FetchAll, r, true);
    add<TIntegerOption>(l, "CommandTimeout", prop::CommandTimeout, cr, 0);
    add<TBooleanOption>(l, "FieldsAsString", prop::FieldsAsString, r, false);
    add<TBooleanOption>(l, "NullForZeroDate", prop::NullForZeroDate, r, true);
    add<TBooleanOption>(l, "CheckRowVersion", prop::CheckRowVersion, r, false);
    add<TBooleanOption>(l, "EnableBoolean", prop::EnableBoolean, r, true);
    add<TBooleanOption>(l, "CreateConnection", prop::CreateConnection, r, true);
    add<TBooleanOption>(l, "BinaryAsString", prop::BinaryAsString, r, true);
}

} // namespace

const TOptionsList& MySQLConnectionOptions()
{
    static const std::unique_ptr<const TOptionsList> list = [] {
        auto l = std::make_unique<TOptionsList>(QStringLiteral("MySQL"));
        AddConnectionOptions(*l);
        return l;
    }();
    return *list;
}

const TOptionsList& MySQLDataSetOptions()
{
    static const std::unique_ptr<const TOptionsList> list = [] {
        auto l = std::make_unique<TOptionsList>(QStringLiteral("MySQL"));
        AddDataSetOptions(*l);
        return l;
    }();
    return *list;
}

} // namespace velkaro
