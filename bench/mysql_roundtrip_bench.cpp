// One version check of the update client, timed end to end, many times:
// TCP connect, greeting and login, "SET NAMES utf8", the data request
// through dspAnyPropose and CentralDataRequest (the SELECT, the packet, the
// provider's reset that runs the SELECT again), and COM_QUIT with the socket
// closed. bench/mysql-bench starts the server and times the server's own
// client tool doing a connect and one query for comparison.
//
// Usage: mysql_roundtrip_bench ENV_FILE [checks]

#include "MySqlServerEnv.h"

#include "data/Provider.h"
#include "inhouse/libAppServerUNI.h"
#include "mysql/MySQLUniProvider.h"
#include "mysql/UniConnection.h"
#include "mysql/UniQuery.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace velkaro;
using Clock = std::chrono::steady_clock;

namespace {

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: mysql_roundtrip_bench ENV_FILE [checks]\n");
        return 2;
    }
    const bench::MySqlServerEnv server = bench::ReadMySqlServerEnv(argv[1]);
    const int checks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
    InitializeLibAppServerUNI();
    TMySQLUniProvider provider;

    std::vector<double> times;
    times.reserve(size_t(checks));
    QString version;
    for (int i = 0; i < checks; ++i) {
        const Clock::time_point start = Clock::now();
        {
            QObject window;
            auto* connection = new TUniConnection(&window);
            connection->SetProviderName(QStringLiteral("MySQL"));
            connection->SetServer(server.host);
            connection->SetPort(server.port);
            connection->SetDatabase(server.database);
            connection->SetUsername(server.user);
            connection->SetPassword(server.password);
            connection->SetSpecificOptions({QStringLiteral("MySQL.UseUnicode=True")});
            auto* query = new TUniQuery(&window);
            query->SetConnection(connection);
            auto* dsp = new TDataSetProvider(&window);
            dsp->SetDataSet(query);
            const Variant packet = ObjAppServerUNI->CentralDataRequest(
                query, dsp, Variant(QStringLiteral("Select * From tbVersionControl")));
            version = query->FieldByName(QStringLiteral("Version"))->AsString();
            connection->Disconnect();
        }
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    FinalizeLibAppServerUNI();
    std::sort(times.begin(), times.end());
    std::printf("version check (connect, login, SET NAMES utf8, SELECT twice, COM_QUIT), %d times: median %.0f us, "
                "best %.0f us, 90th percentile %.0f us (version read: %s)\n",
        checks, times[times.size() / 2], times.front(), times[times.size() * 9 / 10], qPrintable(version));
    return 0;
}
