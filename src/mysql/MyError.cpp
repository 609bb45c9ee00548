#include "mysql/MyError.h"

#include <QStringList>

#include <iterator>

namespace velkaro {

namespace {

// The standard client texts, by code from 2000, formats reduced to %s and %d.
const char* const ClientTexts[] = {
    "Unknown MySQL error", // 2000
    "Can't create UNIX socket (%d)", // 2001
    "Can't connect to local MySQL server through socket '%s' (%d)", // 2002
    "Can't connect to MySQL server on '%s' (%d)", // 2003
    "Can't create TCP/IP socket (%d)", // 2004
    "Unknown MySQL server host '%s' (%d)", // 2005
    "MySQL server has gone away", // 2006
    "Protocol mismatch. Server Version = %d Client Version = %d", // 2007
    "MySQL client ran out of memory", // 2008
    "Wrong host info", // 2009
    "Localhost via UNIX socket", // 2010
    "%s via TCP/IP", // 2011
    "Error in server handshake", // 2012
    "Lost connection to MySQL server during query", // 2013
    "Commands out of sync;  You can't run this command now", // 2014
    "Named pipe: %s", // 2015
    "Can't wait for named pipe to host: %s  pipe: %s (%d)", // 2016
    "Can't open named pipe to host: %s  pipe: %s (%d)", // 2017
    "Can't set state of named pipe to host: %s  pipe: %s (%d)", // 2018
    "Can't initialize character set %s (path: %s)", // 2019
    "Got packet bigger than 'max_allowed_packet' bytes", // 2020
    "Embedded server", // 2021
    "Error on SHOW SLAVE STATUS:", // 2022
    "Error on SHOW SLAVE HOSTS:", // 2023
    "Error connecting to slave:", // 2024
    "Error connecting to master:", // 2025
    "SSL connection error: %s", // 2026
    "Malformed packet", // 2027
    "This client library is licensed only for use with MySQL servers having '%s' license", // 2028
    "Invalid use of null pointer", // 2029
    "Statement not prepared", // 2030
    "No data supplied for parameters in prepared statement", // 2031
    "Data truncated", // 2032
    "No parameters exist in the statement", // 2033
    "Invalid parameter number", // 2034
    "Can't send long data for non-string/non-binary data types (parameter: %d)", // 2035
    "Using unsupported buffer type: %d  (parameter: %d)", // 2036
    "Shared memory: %s", // 2037
    "Can't open shared memory; client could not create request event (%d)", // 2038
    "Can't open shared memory; no answer event received from server (%d)", // 2039
    "Can't open shared memory; server could not allocate file mapping (%d)", // 2040
    "Can't open shared memory; server could not get pointer to file mapping (%d)", // 2041
    "Can't open shared memory; client could not allocate file mapping (%d)", // 2042
    "Can't open shared memory; client could not get pointer to file mapping (%d)", // 2043
    "Can't open shared memory; client could not create %s event (%d)", // 2044
    "Can't open shared memory; no answer from server (%d)", // 2045
    "Wrong or unknown protocol", // 2046
    "Invalid connection handle", // 2047
};

int lineNumberOf(const QString& message)
{
    qsizetype end = message.size();
    while (end > 0 && !message[end - 1].isDigit())
        --end;
    qsizetype start = end;
    while (start > 0 && message[start - 1].isDigit())
        --start;
    if (start == end)
        return 0;
    bool ok = false;
    const int line = message.mid(start, end - start).toInt(&ok);
    return ok ? line : 0;
}

} // namespace

EMyError::EMyError(int errorCode, QString message)
    : EDatabaseError(std::move(message))
    , errorCode_(errorCode)
{
    if (errorCode_ == er::ParseError)
        lineNumber_ = lineNumberOf(Message());
}

bool EMyError::IsFatalCode(int code)
{
    return code == er::ServerShutdown || code == cr::ConnHostError || code == cr::ServerGoneError
        || code == cr::ServerLost || code == er::ConnectionKilled || code == er::ClientInteractionTimeout;
}

QString ClientErrorText(int code)
{
    if (code >= 2000 && code < 2000 + int(std::size(ClientTexts)))
        return QString::fromLatin1(ClientTexts[code - 2000]);
    if (code == cr::AuthPluginCannotLoad)
        return QStringLiteral("Authentication plugin '%s' is not supported");
    if (code == cr::LoadDataLocalInfileRejected)
        return QStringLiteral("LOAD DATA LOCAL INFILE file request rejected due to restrictions on access.");
    return QString();
}

QString FormatClientText(int code, const QStringList& args)
{
    const QString pattern = ClientErrorText(code);
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%' && i + 1 < pattern.size() && (pattern[i + 1] == u's' || pattern[i + 1] == u'd')
            && next < args.size()) {
            out += args[next++];
            ++i;
            continue;
        }
        out += pattern[i];
    }
    return out;
}

EMyError MakeMyError(int code, const QString& extra)
{
    QString message = ClientErrorText(code);
    if (!extra.isEmpty())
        message += u'\n' + extra;
    return EMyError(code, message);
}

} // namespace velkaro
