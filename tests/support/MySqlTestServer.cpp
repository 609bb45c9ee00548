#include "support/MySqlTestServer.h"

#include "platform/Errors.h"

#include <QFile>

namespace velkaro::testing {

namespace {

MySqlTestServer load()
{
    QString path = qEnvironmentVariable("VELKARO_MYSQL_ENV_FILE");
#ifdef VELKARO_MYSQL_ENV_FILE
    if (path.isEmpty())
        path = QStringLiteral(VELKARO_MYSQL_ENV_FILE);
#endif
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("no test MySQL server described in '%1': run the tests through ctest, or "
                                       "start one with scripts/test-mysql-server start FILE and set "
                                       "VELKARO_MYSQL_ENV_FILE=FILE")
                            .arg(path));
    MySqlTestServer server;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.first(eq);
        QByteArray value = line.sliced(eq + 1);
        if (value.startsWith('\'') && value.endsWith('\'') && value.size() >= 2)
            value = value.sliced(1, value.size() - 2);
        if (key == "VELKARO_MYSQL_HOST")
            server.host = value;
        else if (key == "VELKARO_MYSQL_PORT")
            server.port = value.toInt();
        else if (key == "VELKARO_MYSQL_USER")
            server.user = value;
        else if (key == "VELKARO_MYSQL_PASSWORD")
            server.password = value;
        else if (key == "VELKARO_MYSQL_DATABASE")
            server.database = value;
        else if (key == "VELKARO_MYSQL_UNAVAILABLE")
            server.unavailable = QString::fromUtf8(value);
    }
    if (server.unavailable.isEmpty() && (server.host.isEmpty() || server.port == 0))
        throw Exception(QStringLiteral("'%1' names no server").arg(path));
    return server;
}

} // namespace

const MySqlTestServer& TestServer()
{
    static const MySqlTestServer server = load();
    return server;
}

} // namespace velkaro::testing
