// VelkaroAppServer: the application server of the update client's link.
// See ServerSettings.h for its settings and AppServer.h for how it serves.

#include "appserver/AppServer.h"
#include "appserver/ServerSettings.h"
#include "platform/Errors.h"
#include "platform/Socket.h"
#include "platform/Termination.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <cstdio>
#include <thread>

#ifndef VELKARO_VERSION
#define VELKARO_VERSION "0"
#endif

using namespace velkaro;

namespace {

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    TCommandLine commandLine;
    try {
        commandLine = ParseCommandLine(arguments);
    } catch (const Exception& e) {
        print(stderr, QStringLiteral("VelkaroAppServer: %1\n").arg(e.Message()));
        return 2;
    }
    if (commandLine.action == TCommandLine::Action::Help) {
        print(stdout, UsageText());
        return 0;
    }
    if (commandLine.action == TCommandLine::Action::Version) {
        print(stdout, QStringLiteral("VelkaroAppServer %1\n").arg(QLatin1String(VELKARO_VERSION)));
        return 0;
    }

    TServerLog log(commandLine.settings.logLevel);
    const QString& folder = commandLine.settings.releaseFolder;
    if (!QFileInfo(folder).isDir()) {
        log.Write(
            LogLevel::Errors, QStringLiteral("the release folder %1 does not exist or is not a folder").arg(folder));
        return 1;
    }

    TAppServer server(commandLine.settings, log);
    try {
        server.Listen();
    } catch (const Exception& e) {
        log.Write(LogLevel::Errors, e.Message());
        return 1;
    }

    // SIGTERM and SIGINT wake a watcher, which stops the server; the server
    // itself never runs in a signal handler. The server has no event loop:
    // the request ends nothing by itself.
    QCoreApplication app(argc, argv);
    platform::TerminationRequests* requests = platform::TerminationRequests::Instance();
    requests->SetSignalEndsProgram(false);
    platform::SocketWaker wakeWatcher;
    std::atomic<bool> requested = false;
    const int ticket = requests->Subscribe([&] {
        requested = true;
        wakeWatcher.Signal();
    });
    std::thread watcher([&] {
        wakeWatcher.Wait(platform::NoTimeLimit);
        if (requested)
            log.Write(
                LogLevel::Errors, QStringLiteral("%1 received").arg(platform::TerminationRequests::LastSignalName()));
        server.Stop();
    });
    server.Run();
    wakeWatcher.Signal();
    watcher.join();
    requests->Unsubscribe(ticket);
    return 0;
}
