// The VelkaroAppServer program itself: its command line, and stopping
// cleanly on SIGTERM and SIGINT.

#include "appserver/AppServerTestSupport.h"

#include "core/Exceptions.h"
#include "support/Fixtures.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

const QString Program = QStringLiteral(VELKARO_APPSERVER_PROGRAM);

// Reads the server's log until it says where it listens; 0 when it did not.
quint16 waitForPort(QProcess& server, QByteArray& log)
{
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    while (server.waitForReadyRead(Patience)) {
        log += server.readAllStandardError();
        const QRegularExpressionMatch m = listening.match(QString::fromUtf8(log));
        if (m.hasMatch())
            return quint16(m.captured(1).toUInt());
    }
    return 0;
}

TEST(AppServerProgram, StopsCleanlyOnSigtermAndSigint)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        QTemporaryDir release;
        QProcess server;
        server.setReadChannel(QProcess::StandardError);
        server.start(Program,
            {QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QStringLiteral("0"),
                QStringLiteral("--release-folder"), release.path(), QStringLiteral("--stop-timeout"),
                QStringLiteral("2")});
        QByteArray log;
        const quint16 port = waitForPort(server, log);
        ASSERT_NE(port, 0) << log.toStdString();

        // A client with an open, idle link.
        LinkClient client(port);
        const Variant appServer = client.interpreter.CallCreateObject(QStringLiteral("VelkaroAS.VelkaroDM"));
        ASSERT_EQ(appServer.VType(), varDispatch);

        ASSERT_EQ(::kill(pid_t(server.processId()), signal), 0);
        ASSERT_TRUE(server.waitForFinished(Patience));
        log += server.readAllStandardError();
        EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(server.exitCode(), 0);
        const QString text = QString::fromUtf8(log);
        EXPECT_TRUE(
            text.contains(signal == SIGTERM ? QStringLiteral("SIGTERM received") : QStringLiteral("SIGINT received")))
            << S(text);
        EXPECT_TRUE(text.contains(QStringLiteral("closed: the server is stopping"))) << S(text);
        EXPECT_TRUE(text.contains(QStringLiteral(" stopped\n"))) << S(text);
        // The client's link has ended.
        EXPECT_THROW(client.transport.Receive(true), Exception);
    }
}

TEST(AppServerProgram, TheCommandLineIsCheckedBeforeAnythingStarts)
{
    QTemporaryDir release;
    const struct {
        QStringList arguments;
        int exitCode;
        const char* output;
    } cases[] = {
        {{QStringLiteral("--help")}, 0, "Usage: VelkaroAppServer"},
        {{QStringLiteral("--bogus"), QStringLiteral("1")}, 2, "VelkaroAppServer: Unknown option --bogus (see --help)"},
        {{QStringLiteral("--release-folder"), release.path() + QStringLiteral("/none")}, 1,
            "does not exist or is not a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(S(c.arguments.join(u' ')));
        QProcess server;
        server.start(Program, c.arguments);
        ASSERT_TRUE(server.waitForFinished(Patience));
        EXPECT_EQ(server.exitCode(), c.exitCode);
        const QString output = QString::fromUtf8(server.readAllStandardOutput() + server.readAllStandardError());
        EXPECT_TRUE(output.contains(QString::fromUtf8(c.output))) << S(output);
    }
}

} // namespace
