#pragma once
// The throwaway MariaDB server that ctest starts for the tests that need one
// (scripts/test-mysql-server, run as a test fixture). Its address comes from
// the file the script wrote: VELKARO_MYSQL_ENV_FILE in the environment, or
// the one in the build folder.

#include <QByteArray>
#include <QString>

namespace velkaro::testing {

struct MySqlTestServer {
    QByteArray host;
    int port = 0;
    QByteArray user;
    QByteArray password;
    QByteArray database;
    // Why there is no server (MariaDB is not installed); empty when there is.
    QString unavailable;
};

// Raises when the file is missing or unreadable: the tests were run outside
// ctest without a server.
const MySqlTestServer& TestServer();

} // namespace velkaro::testing

// In a test: skips with the reason when MariaDB is not installed.
#define VELKARO_NEED_MYSQL_SERVER()                                                                                    \
    do {                                                                                                               \
        if (!::velkaro::testing::TestServer().unavailable.isEmpty())                                                   \
            GTEST_SKIP() << "no MySQL server: " << ::velkaro::testing::TestServer().unavailable.toStdString();         \
    } while (false)
