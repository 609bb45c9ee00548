// Downloading a 256 MiB program through our application server and the
// update client's own classes, up to the moment it has replaced Velkaro.exe
// on disk, timed against a plain TCP stream of the same file into a file.
//
// The client is the update client's own path: TSocketConnection's
// AppServer, the late-bound DownloadUpdate and Convert.VariantToFile. The
// server is the real VelkaroAppServer program, started once; its peak
// memory is read from /proc at the end. Each download and each plain stream
// runs in a forked child process, so each has its own peak resident memory
// (ru_maxrss). Runs alternate, each starts after a sync, and the medians
// count. The client replaces Velkaro.exe as the update client does
// (Convert.VariantToFile: a temporary file, flushed to disk, renamed over
// the old one), so the plain stream is timed twice: written only, and
// written, flushed and renamed like that.

#include "core/LateBound.h"
#include "inhouse/Streamer.h"
#include "remote/SocketConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace velkaro;

namespace {

constexpr qint64 ProgramSize = 256LL * 1024 * 1024;
const QString Root = QStringLiteral("/tmp/velkaro_download_bench");
const QString Release = Root + QStringLiteral("/release");
const QString Target = Root + QStringLiteral("/Velkaro.exe");

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "download_bench: %s (%s)\n", what, std::strerror(errno));
    std::exit(1);
}

bool makeProgram()
{
    QDir().mkpath(Release);
    QFile f(Release + QStringLiteral("/Velkaro.exe"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint64 x = 88172645463325252ull;
    for (qint64 written = 0; written < ProgramSize; written += block.size()) {
        for (qsizetype i = 0; i + 8 <= block.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::memcpy(block.data() + i, &x, 8);
        }
        if (f.write(block) != block.size())
            return false;
    }
    return true;
}

// ---- the two servers ---------------------------------------------------------

// Our application server, as a process; its port from its first log line.
pid_t startAppServer(quint16& port)
{
    int out[2];
    if (::pipe(out) != 0)
        die("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 2);
        ::close(out[0]);
        ::close(out[1]);
        const QByteArray folder = QFile::encodeName(Release);
        ::execl(VELKARO_APPSERVER_PROGRAM, VELKARO_APPSERVER_PROGRAM, "--listen", "127.0.0.1", "--port", "0",
            "--release-folder", folder.constData(), "--log-level", "errors", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string log;
    char buffer[256];
    for (;;) {
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        if (got <= 0)
            die("the application server did not start");
        log.append(buffer, size_t(got));
        const size_t at = log.find("listening on 127.0.0.1:");
        if (at != std::string::npos && log.find(',', at) != std::string::npos) {
            port = quint16(std::atoi(log.c_str() + at + 23));
            break;
        }
    }
    // The server's log is not needed further; keep the pipe drained.
    if (::fork() == 0) {
        while (::read(out[0], buffer, sizeof buffer) > 0) { }
        ::_exit(0);
    }
    ::close(out[0]);
    return pid;
}

int listenLoopback(quint16& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(fd, 8) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size) != 0)
        die("plain server");
    port = ntohs(at.sin_port);
    return fd;
}

// The plain sender: each connection gets the whole file by sendfile, as our
// server sends it.
pid_t startPlainServer(quint16& port)
{
    const int listener = listenLoopback(port);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const QByteArray path = QFile::encodeName(Release + QStringLiteral("/Velkaro.exe"));
        for (;;) {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0)
                continue;
            const int file = ::open(path.constData(), O_RDONLY);
            off_t offset = 0;
            while (offset<ProgramSize&& ::sendfile(client, file, &offset, size_t(ProgramSize - offset))> 0) { }
            ::close(file);
            ::close(client);
        }
    }
    ::close(listener);
    return pid;
}

int connectLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        die("connect");
    return fd;
}

// ---- the two clients, each in a child ---------------------------------------

struct Run {
    double seconds = 0; // as the child measured it
    double receiveSeconds = 0; // the download: until the answer was in memory
    double peakMiB = 0;
};

// Runs Work in a child process; Work returns its time(s) in seconds.
Run inChild(const std::function<Run()>& work)
{
    QFile::remove(Target);
    ::sync();
    int result[2];
    if (::pipe(result) != 0)
        die("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(result[0]);
        const Run r = work();
        const bool ok = ::write(result[1], &r, sizeof r) == ssize_t(sizeof r) && QFile(Target).size() == ProgramSize;
        ::_exit(ok ? 0 : 1);
    }
    ::close(result[1]);
    Run r;
    const bool got = ::read(result[0], &r, sizeof r) == ssize_t(sizeof r);
    ::close(result[0]);
    int status = 0;
    rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die("a benchmark child failed");
    r.peakMiB = double(usage.ru_maxrss) / 1024.0;
    return r;
}

// The update client's download path: its link (TSocketConnection, with
// the transport thread), the late-bound DownloadUpdate on AppServer, and
// Convert.VariantToFile.
Run download(quint16 port)
{
    int argc = 1;
    char name[] = "download_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    Run r;
    try {
        TSocketConnection socket1;
        socket1.SetServerName(QStringLiteral("VelkaroAS.VelkaroDM"));
        socket1.SetAddress(QStringLiteral("127.0.0.1"));
        socket1.SetPort(port);
        socket1.SetConnected(true);
        static const QByteArray desc
            = MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varUStrArg)), QByteArrayLiteral("DownloadUpdate"));
        const QString program = QStringLiteral("Velkaro");
        const auto start = Clock::now();
        const Variant answer = DispatchInvoke(socket1.AppServer(), desc, {CallArg(program)});
        r.receiveSeconds = since(start);
        TStreamer().VariantToFile(Target, answer);
        r.seconds = since(start);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "download failed: %s\n", e.what());
        ::_exit(1);
    }
    return r;
}

Run plainStream(quint16 port, bool durable)
{
    const QByteArray target = QFile::encodeName(Target);
    const QByteArray temporary = target + ".tmp";
    const auto start = Clock::now();
    const int socket = connectLoopback(port);
    const int file = ::open(durable ? temporary.constData() : target.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buffer(1 << 20);
    qint64 total = 0;
    for (;;) {
        const ssize_t got = ::read(socket, buffer.data(), buffer.size());
        if (got <= 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(file, buffer.data() + done, size_t(got - done));
            if (put <= 0)
                die("write");
            done += put;
        }
        total += got;
    }
    if (durable && (::fsync(file) != 0 || ::rename(temporary.constData(), target.constData()) != 0))
        die("fsync");
    ::close(file);
    ::close(socket);
    Run r;
    r.seconds = since(start);
    r.receiveSeconds = r.seconds;
    if (total != ProgramSize)
        die("short plain stream");
    return r;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long vmHwmKiB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    // The number of rounds: 5 unless given.
    const int Rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!makeProgram())
        die("cannot write the program");
    quint16 appPort = 0;
    quint16 plainPort = 0;
    const pid_t plainServer = startPlainServer(plainPort);
    const pid_t appServer = startAppServer(appPort);

    std::vector<double> ours, oursReceive, plain, plainDurable, oursPeak, plainPeak;
    for (int round = 0; round < Rounds; ++round) {
        const Run d = inChild([&] { return download(appPort); });
        ours.push_back(d.seconds);
        oursReceive.push_back(d.receiveSeconds);
        oursPeak.push_back(d.peakMiB);
        const Run p = inChild([&] { return plainStream(plainPort, false); });
        plain.push_back(p.seconds);
        plainPeak.push_back(p.peakMiB);
        plainDurable.push_back(inChild([&] { return plainStream(plainPort, true); }).seconds);
        std::printf("round %d: download %.3f s (in memory after %.3f s, peak %.1f MiB); plain %.3f s; plain "
                    "flushed and renamed %.3f s\n",
            round + 1, d.seconds, d.receiveSeconds, d.peakMiB, p.seconds, plainDurable.back());
    }
    const long serverPeakKiB = vmHwmKiB(appServer);
    ::kill(appServer, SIGTERM);
    ::kill(plainServer, SIGKILL);
    ::waitpid(appServer, nullptr, 0);
    ::waitpid(plainServer, nullptr, 0);
    QDir(Root).removeRecursively();

    const double mib = double(ProgramSize) / (1024.0 * 1024.0);
    const double clientLimit = 1.1 * mib + 32;
    std::printf("\nprogram: %lld bytes (%.0f MiB); medians of %d alternating runs, each client in its own process\n",
        static_cast<long long>(ProgramSize), mib, Rounds);
    std::printf("download through VelkaroAppServer to Velkaro.exe replaced:  %7.3f s (answer in memory after %.3f s)\n",
        median(ours), median(oursReceive));
    std::printf("plain TCP stream into a file:                               %7.3f s\n", median(plain));
    std::printf("plain TCP stream into a file, flushed and renamed:          %7.3f s\n", median(plainDurable));
    std::printf(
        "time ratio download / plain:                       %.2f (goal at most 2.0)\n", median(ours) / median(plain));
    std::printf("time ratio download / plain flushed and renamed:   %.2f (goal at most 2.0)\n",
        median(ours) / median(plainDurable));
    std::printf("client peak memory:  %7.1f MiB (max %.1f); limit 1.1 x %.0f + 32 = %.1f MiB; ratio to the program "
                "%.2f; plain client %.1f MiB\n",
        median(oursPeak), *std::max_element(oursPeak.begin(), oursPeak.end()), mib, clientLimit, median(oursPeak) / mib,
        median(plainPeak));
    std::printf("server peak memory:  %7.1f MiB (VmHWM of VelkaroAppServer over all runs); limit 32 MiB\n",
        double(serverPeakKiB) / 1024.0);
    return 0;
}
