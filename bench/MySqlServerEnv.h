#pragma once
// The running MySQL server a benchmark talks to, as scripts/test-mysql-server
// describes it in its environment file (VELKARO_MYSQL_HOST=..., one a line).

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace velkaro::bench {

struct MySqlServerEnv {
    QString host, user, password, database;
    int port = 0;
};

// Ends the program with exit code 2 when the file cannot be read.
inline MySqlServerEnv ReadMySqlServerEnv(const char* path)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", path);
        std::exit(2);
    }
    MySqlServerEnv s;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.first(eq);
        const QString value = QString::fromUtf8(line.sliced(eq + 1));
        if (key == "VELKARO_MYSQL_HOST")
            s.host = value;
        else if (key == "VELKARO_MYSQL_PORT")
            s.port = value.toInt();
        else if (key == "VELKARO_MYSQL_USER")
            s.user = value;
        else if (key == "VELKARO_MYSQL_PASSWORD")
            s.password = value;
        else if (key == "VELKARO_MYSQL_DATABASE")
            s.database = value;
    }
    return s;
}

} // namespace velkaro::bench
