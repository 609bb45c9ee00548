// The whole update with the real programs and servers: the update client
// (offscreen), our application server releasing the sample client
// Velkaro.exe, and the throwaway MariaDB. The servers are ctest fixtures;
// each test runs the update client in a folder of its own.

#include "endtoend/LinkProxy.h"

#include "data/ClientDataSet.h"
#include "data/Field.h"
#include "support/Fixtures.h"
#include "support/MySqlTestServer.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

constexpr int Patience = 60000;
const QString Updater = QStringLiteral(VELKARO_UPDATER_PROGRAM);
const QString AppServerProgram = QStringLiteral(VELKARO_APPSERVER_PROGRAM);
const QString SampleVersion = QStringLiteral(VELKARO_SAMPLE_CLIENT_VERSION);

// The fixture's application server, from the file its start wrote.
struct AppServerFixture {
    quint16 port = 0;
    QString release;
};

const AppServerFixture& appServer()
{
    static const AppServerFixture fixture = [] {
        AppServerFixture f;
        QFile file(QStringLiteral(VELKARO_APPSERVER_ENV_FILE));
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error("no application server: run the tests through ctest");
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.startsWith("VELKARO_APPSERVER_PORT="))
                f.port = quint16(line.mid(23).toUInt());
            else if (line.startsWith("VELKARO_APPSERVER_RELEASE="))
                f.release = QString::fromUtf8(line.mid(26));
        }
        return f;
    }();
    return fixture;
}

// A port nothing listens on.
quint16 closedPort()
{
    platform::TcpListener listener;
    listener.Listen({platform::SocketAddress::Loopback, 0});
    return listener.Port();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A folder with the update client, its Config.cds and its deployment file.
class UpdaterFolder {
public:
    UpdaterFolder(quint16 databasePort, quint16 appServerPort, const QList<QStringList>& rows)
    {
        if (!QFile::copy(Updater, Path(QStringLiteral("VelkaroVersionControl"))))
            throw std::runtime_error("cannot copy the update client");
        WriteConfigFile(Path(QStringLiteral("Config.cds")), rows);
        QFile ini(Path(QStringLiteral("VelkaroVersionControl.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the deployment file");
        ini.write(
            QStringLiteral("[uniConnDataCenter]\nServer=127.0.0.1\nPort=%1\n\n[Socket1]\nAddress=127.0.0.1\nPort=%2\n")
                .arg(QString::number(databasePort), QString::number(appServerPort))
                .toUtf8());
    }

    QString Path(const QString& name) const { return dir_.path() + u'/' + name; }

    // The configuration value of Section/Key, "" when there is no such row.
    QString ConfigValue(const QString& section, const QString& key) const
    {
        TClientDataSet table;
        table.LoadFromFile(Path(QStringLiteral("Config.cds")));
        for (table.First(); !table.Eof(); table.Next()) {
            if (table.FieldByName(QStringLiteral("Section"))->AsString() == section
                && table.FieldByName(QStringLiteral("Key"))->AsString() == key)
                return table.FieldByName(QStringLiteral("Value"))->AsString();
        }
        return {};
    }

    // The lines the sample client wrote when it started ("<version> <pid>").
    QStringList Started(int atLeast = 0) const
    {
        QStringList lines;
        for (int waited = 0; waited < Patience; waited += 50) {
            lines = QString::fromUtf8(readFile(Path(QStringLiteral("started.txt")))).split(u'\n', Qt::SkipEmptyParts);
            if (lines.size() >= atLeast)
                break;
            QThread::msleep(50);
        }
        return lines;
    }

    struct Run {
        bool ended = false; // by itself, rather than stopped by the test
        int exitCode = -1;
        QString errors; // its standard error
    };

    // Runs the update client. With Until, it is stopped once its standard
    // error holds that text: a failed cycle leaves the window open.
    Run RunUpdater(const QString& until = {}) const
    {
        QProcess updater;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("VELKARO_SAMPLE_CLIENT_MARKER"), Path(QStringLiteral("started.txt")));
        updater.setProcessEnvironment(environment);
        updater.setReadChannel(QProcess::StandardError);
        updater.start(Path(QStringLiteral("VelkaroVersionControl")), {});
        Run run;
        QByteArray errors;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < Patience) {
            if (updater.waitForFinished(50)) {
                run.ended = true;
                break;
            }
            errors += updater.readAllStandardError();
            if (!until.isEmpty() && QString::fromUtf8(errors).contains(until))
                break;
        }
        if (!run.ended) {
            updater.kill();
            updater.waitForFinished(Patience);
        }
        errors += updater.readAllStandardError();
        run.exitCode = run.ended ? updater.exitCode() : -1;
        run.errors = QString::fromUtf8(errors);
        return run;
    }

private:
    QTemporaryDir dir_;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { VELKARO_NEED_MYSQL_SERVER(); }
    static quint16 databasePort() { return quint16(TestServer().port); }
    static QString databaseVersion() { return QStringLiteral("1.0.0"); } // the fixture's tbVersionControl
};

// The success path, then a second run with the versions equal.
TEST_F(EndToEnd, TheUpdateDownloadsRecordsAndStartsTheClientAndASecondRunOnlyStartsIt)
{
    LinkProxy proxy(appServer().port);
    UpdaterFolder folder(
        databasePort(), proxy.Port(), {{QStringLiteral("Other"), QStringLiteral("Key"), QStringLiteral("kept")}});

    const UpdaterFolder::Run first = folder.RunUpdater();
    EXPECT_TRUE(first.ended);
    EXPECT_EQ(first.exitCode, 0) << S(first.errors);
    const QByteArray released = readFile(appServer().release + QStringLiteral("/Velkaro.exe"));
    ASSERT_FALSE(released.isEmpty());
    EXPECT_TRUE(readFile(folder.Path(QStringLiteral("Velkaro.exe"))) == released);
    EXPECT_EQ(folder.ConfigValue(QStringLiteral("ClientVersion"), QStringLiteral("Velkaro")), databaseVersion());
    EXPECT_EQ(folder.ConfigValue(QStringLiteral("Other"), QStringLiteral("Key")), QStringLiteral("kept"));
    QStringList started = folder.Started(1);
    ASSERT_EQ(started.size(), 1);
    EXPECT_TRUE(started[0].startsWith(SampleVersion + u' ')) << S(started[0]);
    // Created, looked up, invoked, freed: the exchange of a download.
    EXPECT_EQ(proxy.ClientBlocks(), (QList<qint32> {0xDA04, 0xDA03, 0xDA02, 0xDA05}));

    const QDateTime written = QFileInfo(folder.Path(QStringLiteral("Velkaro.exe"))).lastModified();
    QThread::msleep(20);
    const UpdaterFolder::Run second = folder.RunUpdater();
    EXPECT_TRUE(second.ended);
    EXPECT_EQ(second.exitCode, 0) << S(second.errors);
    EXPECT_EQ(QFileInfo(folder.Path(QStringLiteral("Velkaro.exe"))).lastModified(), written);
    started = folder.Started(2);
    EXPECT_EQ(started.size(), 2);
    // The second link: created and freed, nothing downloaded.
    EXPECT_EQ(proxy.ClientBlocks(), (QList<qint32> {0xDA04, 0xDA03, 0xDA02, 0xDA05, 0xDA04, 0xDA05}));
}

// A failed cycle leaves the old program and the recorded version as they
// were, and starts nothing.
class FailedUpdate : public EndToEnd {
protected:
    void expectNothingChanged(const UpdaterFolder& folder)
    {
        EXPECT_EQ(readFile(folder.Path(QStringLiteral("Velkaro.exe"))), QByteArray("the old program"));
        EXPECT_EQ(
            folder.ConfigValue(QStringLiteral("ClientVersion"), QStringLiteral("Velkaro")), QStringLiteral("0.9"));
        EXPECT_TRUE(folder.Started().isEmpty());
    }
    static QList<QStringList> oldRows()
    {
        return {{QStringLiteral("ClientVersion"), QStringLiteral("Velkaro"), QStringLiteral("0.9")}};
    }
    static void writeOldProgram(const UpdaterFolder& folder)
    {
        QFile program(folder.Path(QStringLiteral("Velkaro.exe")));
        ASSERT_TRUE(program.open(QIODevice::WriteOnly));
        program.write("the old program");
    }
};

TEST_F(FailedUpdate, TheApplicationServerDownAtStartIsFatal)
{
    UpdaterFolder folder(databasePort(), closedPort(), oldRows());
    writeOldProgram(folder);
    const UpdaterFolder::Run run = folder.RunUpdater();
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.contains(QStringLiteral("VelkaroVersionControl: Exception ")));
    EXPECT_TRUE(run.errors.contains(QStringLiteral("in module VelkaroVersionControl.")));
    EXPECT_TRUE(run.errors.contains(QStringLiteral("Connection refused"))) << S(run.errors);
    expectNothingChanged(folder);
}

TEST_F(FailedUpdate, TheServerDroppingTheLinkMidDownloadChangesNothing)
{
    // The create and look-up replies (16 and 24 bytes), the download's
    // header (36 bytes) and a little of the program, then nothing.
    LinkProxy proxy(appServer().port, 16 + 24 + 36 + 5000);
    UpdaterFolder folder(databasePort(), proxy.Port(), oldRows());
    writeOldProgram(folder);
    const UpdaterFolder::Run run = folder.RunUpdater(QStringLiteral("Error reading from socket"));
    EXPECT_FALSE(run.ended) << "a failed cycle keeps the window open";
    EXPECT_TRUE(run.errors.contains(QStringLiteral("VelkaroVersionControl: Error reading from socket")))
        << S(run.errors);
    EXPECT_EQ(proxy.ClientBlocks().mid(0, 3), (QList<qint32> {0xDA04, 0xDA03, 0xDA02}));
    expectNothingChanged(folder);
}

TEST_F(FailedUpdate, AProgramTheServerDoesNotHoldIsReportedWithTheServersDescription)
{
    // A server of its own, with an empty release folder.
    QTemporaryDir release;
    QProcess server;
    server.setReadChannel(QProcess::StandardError);
    server.start(AppServerProgram,
        {QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QStringLiteral("0"),
            QStringLiteral("--release-folder"), release.path()});
    QByteArray log;
    quint16 port = 0;
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    while (port == 0 && server.waitForReadyRead(Patience)) {
        log += server.readAllStandardError();
        const QRegularExpressionMatch m = listening.match(QString::fromUtf8(log));
        if (m.hasMatch())
            port = quint16(m.captured(1).toUInt());
    }
    ASSERT_NE(port, 0) << log.toStdString();

    UpdaterFolder folder(databasePort(), port, oldRows());
    writeOldProgram(folder);
    const QString description = QStringLiteral("The application server has no program \"Velkaro\" to hand out");
    const UpdaterFolder::Run run = folder.RunUpdater(description);
    server.terminate();
    server.waitForFinished(Patience);
    EXPECT_FALSE(run.ended);
    EXPECT_TRUE(run.errors.contains(QStringLiteral("VelkaroVersionControl: ") + description)) << S(run.errors);
    expectNothingChanged(folder);
}

TEST_F(FailedUpdate, TheDatabaseDownStopsTheCycleBeforeAnyDownload)
{
    LinkProxy proxy(appServer().port);
    UpdaterFolder folder(closedPort(), proxy.Port(), oldRows());
    writeOldProgram(folder);
    const UpdaterFolder::Run run = folder.RunUpdater(QStringLiteral("Can't connect to MySQL server"));
    EXPECT_FALSE(run.ended);
    EXPECT_TRUE(run.errors.contains(QStringLiteral("VelkaroVersionControl: Can't connect to MySQL server")))
        << S(run.errors);
    EXPECT_FALSE(proxy.ClientBlocks().contains(0xDA02));
    expectNothingChanged(folder);
}

} // namespace
