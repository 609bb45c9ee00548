// Fetching a whole result into a TUniQuery (FetchAll) from a running MySQL
// server: the time of the open (the statement, every row read from the
// socket, decoded and stored), the bytes the result took on the wire, and
// the process's memory: its peak growth during the first open and what the
// open dataset keeps. bench/mysql-bench starts the server, fills the table
// and runs the server's own client tool on the same rows for comparison.
//
// Usage: mysql_fetch_bench ENV_FILE [runs] [statement]
//   ENV_FILE  as scripts/test-mysql-server writes it

#include "MySqlServerEnv.h"

#include "mysql/CRVioTcp.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySQLUniProvider.h"
#include "mysql/UniConnection.h"
#include "mysql/UniQuery.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

using namespace velkaro;
using Clock = std::chrono::steady_clock;

namespace {

// The kernel's account of this process: resident now and its high-water mark.
qint64 statusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.sliced(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// The TCP endpoint, counting what it receives.
qint64 received = 0;
class CountingVio : public TCRVioTcp {
public:
    using TCRVioTcp::TCRVioTcp;
    qsizetype ReadNoWait(char* buffer, qsizetype count) override
    {
        const qsizetype n = TCRVioTcp::ReadNoWait(buffer, count);
        received += n;
        return n;
    }
};

double msSince(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: mysql_fetch_bench ENV_FILE [runs] [statement]\n");
        return 2;
    }
    const bench::MySqlServerEnv server = bench::ReadMySqlServerEnv(argv[1]);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const QString sql
        = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("SELECT id, name, created FROM bench_rows");

    TMySQLUniProvider provider;
    TUniConnection connection;
    connection.SetProviderName(QStringLiteral("MySQL"));
    connection.SetServer(server.host);
    connection.SetPort(server.port);
    connection.SetDatabase(server.database);
    connection.SetUsername(server.user);
    connection.SetPassword(server.password);
    connection.SetSpecificOptions({QStringLiteral("MySQL.UseUnicode=True")});
    static_cast<TMySQLConnection*>(connection.CheckIConnection())->SetVioFactory([](const QByteArray& host, int port) {
        return std::make_unique<CountingVio>(host, port);
    });
    connection.Connect();

    TUniQuery query;
    query.SetConnection(&connection);
    query.SQL() = {sql};

    std::vector<double> times;
    std::vector<double> cpuTimes; // this process's processor time (user and system)
    qint64 wireBytes = 0;
    qint64 peakGrowthKiB = 0;
    qint64 keptKiB = 0;
    int rows = 0;
    for (int run = 0; run < runs; ++run) {
        query.Close();
        const qint64 rssBefore = statusKiB("VmRSS:");
        received = 0;
        const std::clock_t cpuStart = std::clock();
        const Clock::time_point start = Clock::now();
        query.Open();
        times.push_back(msSince(start));
        cpuTimes.push_back(1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        if (run == 0) {
            wireBytes = received;
            peakGrowthKiB = statusKiB("VmHWM:") - rssBefore;
            keptKiB = statusKiB("VmRSS:") - rssBefore;
            rows = query.RecordCount();
        }
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double wireMiB = wireBytes / 1048576.0;
    std::printf("TUniQuery FetchAll: %d rows, %d runs\n", rows, runs);
    std::printf("  time: median %.0f ms, best %.0f ms, first %.0f ms\n", sorted[sorted.size() / 2], sorted.front(),
        times.front());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    std::printf("  processor time of this process: median %.0f ms an open\n", cpuTimes[cpuTimes.size() / 2]);
    std::printf("  result on the wire: %lld bytes (%.1f MiB)\n", static_cast<long long>(wireBytes), wireMiB);
    std::printf("  memory, first open: peak growth %.1f MiB (%.2fx the wire bytes), kept by the open query %.1f MiB "
                "(%.2fx)\n",
        peakGrowthKiB / 1024.0, peakGrowthKiB * 1024.0 / double(std::max<qint64>(wireBytes, 1)), keptKiB / 1024.0,
        keptKiB * 1024.0 / double(std::max<qint64>(wireBytes, 1)));
    std::printf("  process peak resident: %.1f MiB\n", statusKiB("VmHWM:") / 1024.0);
    return 0;
}
