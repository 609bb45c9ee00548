// The server's settings file and command line.

#include "appserver/ServerSettings.h"

#include "core/Exceptions.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

class ServerSettingsTest : public ::testing::Test {
protected:
    QString writeFile(const QByteArray& text)
    {
        const QString path = dir_.path() + QStringLiteral("/VelkaroAppServer.ini");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        return path;
    }
    QTemporaryDir dir_;
};

TEST_F(ServerSettingsTest, TheFileSetsEverySettingAndTheCommandLineWins)
{
    const QString path = writeFile("; sample\n"
                                   "[server]\n"
                                   "  Listen = 127.0.0.1\n"
                                   "PORT=2160\n"
                                   "MaxClients=8\n"
                                   "IdleTimeout=60\n"
                                   "RequestTimeout=5\n"
                                   "SendTimeout=7\n"
                                   "StopTimeout=0\n"
                                   "# the programs\n"
                                   "[Release]\n"
                                   "Folder=release\n"
                                   "[Log]\n"
                                   "Level=Connections\n");
    TCommandLine line = ParseCommandLine({QStringLiteral("--config"), path});
    EXPECT_EQ(line.action, TCommandLine::Action::Serve);
    const TAppServerSettings& s = line.settings;
    EXPECT_EQ(s.listen, (platform::SocketAddress {platform::SocketAddress::Loopback, 2160}));
    EXPECT_EQ(s.maxClients, 8);
    EXPECT_EQ(s.idleTimeoutSeconds, 60);
    EXPECT_EQ(s.requestTimeoutSeconds, 5);
    EXPECT_EQ(s.sendTimeoutSeconds, 7);
    EXPECT_EQ(s.stopTimeoutSeconds, 0);
    EXPECT_EQ(s.logLevel, LogLevel::Connections);
    // A relative folder is relative to the file.
    EXPECT_EQ(s.releaseFolder, dir_.path() + QStringLiteral("/release"));

    line = ParseCommandLine(
        {QStringLiteral("--port=216"), QStringLiteral("--config"), path, QStringLiteral("--release-folder"),
            QStringLiteral("/srv/velkaro"), QStringLiteral("--log-level"), QStringLiteral("errors")});
    EXPECT_EQ(line.settings.listen.port, 216);
    EXPECT_EQ(line.settings.releaseFolder, QStringLiteral("/srv/velkaro"));
    EXPECT_EQ(line.settings.logLevel, LogLevel::Errors);
    EXPECT_EQ(line.settings.maxClients, 8);
}

// The sample shipped for administrators holds the defaults, and stays valid.
TEST_F(ServerSettingsTest, TheShippedSampleFileIsValidAndHoldsTheDefaults)
{
    TAppServerSettings defaults;
    defaults.releaseFolder = QStringLiteral("/srv/velkaro/release");
    TAppServerSettings read;
    ReadSettingsFile(QStringLiteral(VELKARO_SAMPLE_SETTINGS), read);
    EXPECT_EQ(read.listen, defaults.listen);
    EXPECT_EQ(read.releaseFolder, defaults.releaseFolder);
    EXPECT_EQ(read.maxClients, defaults.maxClients);
    EXPECT_EQ(read.idleTimeoutSeconds, defaults.idleTimeoutSeconds);
    EXPECT_EQ(read.requestTimeoutSeconds, defaults.requestTimeoutSeconds);
    EXPECT_EQ(read.sendTimeoutSeconds, defaults.sendTimeoutSeconds);
    EXPECT_EQ(read.stopTimeoutSeconds, defaults.stopTimeoutSeconds);
    EXPECT_EQ(read.logLevel, defaults.logLevel);
}

TEST_F(ServerSettingsTest, DefaultsWithoutAFile)
{
    const TCommandLine line = ParseCommandLine({QStringLiteral("--release-folder"), QStringLiteral("/srv/r")});
    EXPECT_EQ(line.settings.listen, (platform::SocketAddress {platform::SocketAddress::Any, 216}));
    EXPECT_EQ(line.settings.maxClients, 64);
    EXPECT_EQ(line.settings.logLevel, LogLevel::Requests);
    EXPECT_EQ(ParseCommandLine({QStringLiteral("--help")}).action, TCommandLine::Action::Help);
    EXPECT_EQ(ParseCommandLine({QStringLiteral("--version")}).action, TCommandLine::Action::Version);
}

TEST_F(ServerSettingsTest, MistakesInTheFileNameTheLineAndTheKey)
{
    const struct {
        const char* text;
        const char* message; // after "<path>, "
    } cases[] = {
        {"[Server]\nPort=99999\n",
            "line 2: invalid value \"99999\" for key Port in section [Server]: a port is a whole number from 1 to "
            "65535 "
            "(0: any free port)"},
        {"[Server]\nPort=21x\n", "line 2: invalid value \"21x\" for key Port"},
        {"[Server]\nMaxClients=0\n",
            "line 2: invalid value \"0\" for key MaxClients in section [Server]: a whole "
            "number from 1 to 10000"},
        {"[Server]\nListen=not an address\n", "line 2: invalid value \"not an address\" for key Listen"},
        {"[Server]\nPort=216\nport=217\n", "line 3: key port in section [Server] is given twice"},
        {"[Server]\nColour=blue\n", "line 2: unknown key Colour in section [Server]"},
        {"[Release]\nListen=1.2.3.4\n", "line 2: unknown key Listen in section [Release]"},
        {"\n[Socket1]\nPort=216\n", "line 2: unknown section [Socket1]"},
        {"Port=216\n", "line 1: a setting before the first [Section]"},
        {"[Server\n", "line 1: a section line is [Name]"},
        {"[Server]\nPort\n", "line 2: a setting line is Key=Value"},
        {"[Log]\nLevel=verbose\n",
            "line 2: invalid value \"verbose\" for key Level in section [Log]: one of errors, "
            "connections, requests"},
        {"[Release]\nFolder=\n",
            "line 2: invalid value \"\" for key Folder in section [Release]: a folder may not be "
            "empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const QString path = writeFile(c.text);
        try {
            ParseCommandLine({QStringLiteral("--config"), path});
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_TRUE(e.Message().startsWith(path + QStringLiteral(", ") + QString::fromUtf8(c.message)))
                << S(e.Message());
        }
    }
}

TEST_F(ServerSettingsTest, MistakesOnTheCommandLine)
{
    const struct {
        QStringList arguments;
        const char* message;
    } cases[] = {
        {{}, "No release folder given: use --release-folder or Folder in section [Release]"},
        {{QStringLiteral("--colour"), QStringLiteral("x")}, "Unknown option --colour (see --help)"},
        {{QStringLiteral("serve")}, "Unexpected argument \"serve\" (see --help)"},
        {{QStringLiteral("--port")}, "The option --port needs a value"},
        {{QStringLiteral("--port"), QStringLiteral("-1"), QStringLiteral("--release-folder"), QStringLiteral("r")},
            "Invalid value \"-1\" for --port: a port is a whole number from 1 to 65535 (0: any free port)"},
        {{QStringLiteral("--config"), QStringLiteral("/nonexistent/VelkaroAppServer.ini")},
            "The settings file /nonexistent/VelkaroAppServer.ini does not exist or is not a file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(S(c.arguments.join(u' ')));
        try {
            ParseCommandLine(c.arguments);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QString::fromUtf8(c.message));
        }
    }
}

} // namespace
