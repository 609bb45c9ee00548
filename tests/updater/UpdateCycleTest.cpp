// The update cycle from the window's point of view: the status line, the
// message boxes, the files beside the program and the program started. The
// window's real components talk to scripted servers on local sockets: its
// database to a scripted MySQL server (or to the throwaway MariaDB), Socket1
// to a scripted application server, reached through the deployment file.

#include "config/libConfigManager.h"
#include "core/Dispatch.h"
#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "data/Provider.h"
#include "inhouse/InhouseUnits.h"
#include "mysql/MySQLUniProvider.h"
#include "mysql/UniConnection.h"
#include "mysql/UniQuery.h"
#include "platform/Launcher.h"
#include "platform/MessageDisplay.h"
#include "platform/Socket.h"
#include "remote/SocketConnection.h"
#include "support/AppServerPeer.h"
#include "support/Fixtures.h"
#include "support/MySqlTestServer.h"
#include "support/ScriptedMySqlServer.h"
#include "support/ScriptedVio.h"
#include "updater/DeploymentSettings.h"
#include "updater/RunUpdater.h"
#include "updater/uVersionControl.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMetaProperty>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;
using platform::MessageIcon;

namespace {

const QString VersionQuery = QStringLiteral("Select * From tbVersionControl");
const QByteArray VersionQueryBytes = VersionQuery.toLatin1();

// A port on this machine where nobody listens.
int closedPort()
{
    platform::TcpListener listener;
    listener.Listen(platform::SocketAddress {platform::SocketAddress::Loopback, 0});
    return listener.Port();
}

// What the scripted application server hears from one window.
const QString Created = QStringLiteral("create VelkaroAS.VelkaroDM");
const QString Released = QStringLiteral("free 1");
const QStringList Downloaded = {Created, "getid DownloadUpdate", "invoke 21 Velkaro"};

// Values as the link carries them, for answers the update client cannot use.
QByteArray LinkValue(const char* hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}
QByteArray TextValue(const QString& text)
{
    QByteArray b = LinkValue("08000000");
    const qint32 n = qint32(text.size());
    b.append(reinterpret_cast<const char*>(&n), 4);
    b.append(reinterpret_cast<const char*>(text.utf16()), n * 2);
    return b;
}

class UpdateCycle : public ::testing::Test {
public:
    void SetUp() override
    {
        versions = VersionRows({"2.0.1"});
        databaseUp = true;
        appScript = AppServerPeer::Script {};
        folder.Write(QStringLiteral("Velkaro.exe"), QByteArray("old program"));
    }

    // The deployment file beside the program: Socket1 goes to Port, and
    // the lines of Extra follow.
    QString deploy(int port, const QByteArray& extra = {})
    {
        folder.Write(
            QStringLiteral("VelkaroVersionControl.ini"), "[Socket1]\nPort=" + QByteArray::number(port) + "\n" + extra);
        return folder.File(QStringLiteral("VelkaroVersionControl.ini"));
    }

    // A configuration file as the editor writes it, with these rows.
    void writeConfig(const QList<QStringList>& rows)
    {
        WriteConfigFile(folder.File(QStringLiteral("Config.cds")), rows);
    }

    QString recordedVersion()
    {
        TClientDataSet table;
        table.SetName(QStringLiteral("check"));
        table.SetIndexFieldNames(QStringLiteral("Section;Key"));
        table.LoadFromFile(folder.File(QStringLiteral("Config.cds")));
        if (!table.FindKey({Variant(QStringLiteral("ClientVersion")), Variant(QStringLiteral("Velkaro"))}))
            return QStringLiteral("<no row>");
        return table.FieldByName(QStringLiteral("Value"))->AsString();
    }

    // Creates the window with its application server on a scripted one
    // that plays AppScript; the database stays where the window has it.
    void openWindow()
    {
        appServer = std::make_unique<AppServerPeer>(appScript);
        form = new TfrmVersionControl(deploy(appServer->Port()));
    }

    // The same, with the database on a scripted server that
    // answers the version query with Versions (or on a port where nobody
    // listens).
    void createWindow()
    {
        openWindow();
        if (databaseUp) {
            mysql = std::make_unique<ScriptedMySqlServer>(
                QHash<QByteArray, ScriptedMySqlServer::Answer> {{VersionQueryBytes, versions}});
            form->uniConnDataCenter->SetPort(mysql->Port());
        } else {
            form->uniConnDataCenter->SetPort(closedPort());
        }
    }

    // Creates the window, runs one tick of the timer and lets a closing
    // window go. Settle: the event loop runs first until the link is no
    // longer connected (it dropped while idle).
    void runCycle(bool settle = false)
    {
        createWindow();
        if (settle) {
            QElapsedTimer waited;
            waited.start();
            while (form->Socket1->Connected() && waited.elapsed() < 10000)
                QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        form->show();
        form->Timer1Timer();
        statusAfter = form != nullptr ? form->lbStatus->text() : QString();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const auto& e : messages.shown)
            texts.append(e.text);
        return texts;
    }

    TempExeFolder folder;
    InhouseUnits units;
    platform::RecordingMessageDisplay messages;
    platform::ScopedMessageDisplay messagesInstalled {messages};
    platform::RecordingLauncher launcher;
    AppServerPeer::Script appScript;
    std::unique_ptr<AppServerPeer> appServer; // outlives the window, which releases its object
    ScriptedMySqlServer::Answer versions;
    bool databaseUp = true;
    std::unique_ptr<ScriptedMySqlServer> mysql; // outlives the window, which says goodbye to it
    QPointer<TfrmVersionControl> form;
    QString statusAfter;

public:
    UpdateCycle() { platform::SetLauncher(&launcher); }
    ~UpdateCycle() override
    {
        platform::SetLauncher(nullptr);
        delete form.data();
    }
};

// All bytes of a literal, zero bytes inside included.
template <size_t N> QByteArray Bytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

const QString MissingConfigText = QStringLiteral("ไม่พบไฟล์บันทึกการตั้งค่าของระบบ   ");

} // namespace

TEST_F(UpdateCycle, EqualVersionsLaunchWithoutDownloadOrWrite)
{
    writeConfig({{"ClientVersion", "Velkaro", "2.0.1"}, {"Other", "Key", "x"}});
    const QByteArray configBefore = folder.Read(QStringLiteral("Config.cds"));

    runCycle();

    EXPECT_TRUE(messages.shown.isEmpty()) << boxTexts().join(u'|').toStdString();
    EXPECT_EQ(statusAfter, status::Checking);
    EXPECT_EQ(folder.Read(QStringLiteral("Velkaro.exe")), QByteArray("old program"));
    EXPECT_EQ(folder.Read(QStringLiteral("Config.cds")), configBefore);
    EXPECT_EQ(launcher.opened, QStringList {folder.File(QStringLiteral("Velkaro.exe"))});
    EXPECT_TRUE(form.isNull()) << "the window closes after launching";
    // One login, one SET NAMES, and the statement twice: the provider resets
    // the query after packaging. Closing the window ends the session.
    const ScriptedMySqlServer::Record seen = mysql->WaitUntilGone();
    EXPECT_EQ(seen.logins, 1);
    EXPECT_EQ(seen.user, "sa");
    EXPECT_EQ(seen.database, "VelkaroDB");
    EXPECT_EQ(seen.charset, 33);
    EXPECT_EQ(seen.statements, QList<QByteArray>({"SET NAMES utf8", VersionQueryBytes, VersionQueryBytes}));
    EXPECT_TRUE(seen.quit);
    // The link opened as the window was made; nothing was downloaded, and
    // the window's end released the object once.
    EXPECT_EQ(appServer->WaitUntilGone(), QStringList({Created, Released}));
}

TEST_F(UpdateCycle, DifferingVersionsDownloadRecordAndLaunch)
{
    struct Case {
        const char* name;
        QList<QStringList> config;
        QList<QByteArray> serverVersions;
        QString recorded;
    };
    const Case cases[] = {
        {"first run creates the row with 0", {{"Other", "Key", "x"}}, {"2.0.1"}, "2.0.1"},
        {"a lower server version still installs", {{"ClientVersion", "Velkaro", "9.9"}}, {"2.0.1"}, "2.0.1"},
        {"case counts", {{"ClientVersion", "Velkaro", "2.0.1-A"}}, {"2.0.1-a"}, "2.0.1-a"},
        {"the first row decides", {{"ClientVersion", "Velkaro", "1"}}, {"3", "4"}, "3"},
        {"an empty version table downloads every run", {{"ClientVersion", "Velkaro", "1"}}, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.shown.clear();
        launcher.opened.clear();
        folder.Write(QStringLiteral("Velkaro.exe"), QByteArray("old program"));
        writeConfig(c.config);
        versions = VersionRows(c.serverVersions);

        runCycle();

        EXPECT_TRUE(messages.shown.isEmpty()) << boxTexts().join(u'|').toStdString();
        EXPECT_EQ(appServer->WaitUntilGone(), Downloaded + QStringList {Released});
        EXPECT_EQ(folder.Read(QStringLiteral("Velkaro.exe")), QByteArray("new program"));
        EXPECT_EQ(recordedVersion(), c.recorded);
        EXPECT_EQ(statusAfter, status::Done);
        EXPECT_EQ(launcher.opened, QStringList {folder.File(QStringLiteral("Velkaro.exe"))});
        EXPECT_TRUE(form.isNull());
        const ScriptedMySqlServer::Record seen = mysql->WaitUntilGone();
        EXPECT_EQ(seen.logins, 1);
        EXPECT_EQ(seen.statements, QList<QByteArray>({"SET NAMES utf8", VersionQueryBytes, VersionQueryBytes}));
        EXPECT_TRUE(seen.quit);
    }
}

TEST_F(UpdateCycle, FailuresShowTheErrorAndLaunchNothing)
{
    struct Case {
        const char* name;
        std::function<void(UpdateCycle&)> arrange;
        QStringList boxes;
        QString status;
        bool settle = false; // the event loop runs before the tick
    };
    const QString exe = folder.File(QStringLiteral("Velkaro.exe"));
    const Case cases[] = {
        {"database unreachable", [](UpdateCycle& t) { t.databaseUp = false; },
            {"Can't connect to MySQL server on '127.0.0.1' (10061)\nSocket error on connect. WSAGetLastError return "
             "111($6F)"},
            status::Checking},
        {"query fails",
            [](UpdateCycle& t) {
                t.versions.errorCode = 1146;
                t.versions.errorMessage = "#42S02Table 'VelkaroDB.tbVersionControl' doesn't exist";
            },
            {"\n#42S02Table 'VelkaroDB.tbVersionControl' doesn't exist"}, status::Checking},
        {"no Version column",
            [](UpdateCycle& t) {
                t.versions.columns[1] = ColumnDef41("Release", mtVarString, 60, 0, 33, 0, "tbVersionControl");
            },
            {"cdsAnyPropose: Field 'Version' not found"}, status::Checking},
        {"remote method raises",
            [](UpdateCycle& t) { t.appScript.failure = QStringLiteral("Update package missing. \r\n"); },
            {"Update package missing"}, status::Updating},
        {"the link drops while idle: the error once, then the call finds no object",
            [](UpdateCycle& t) { t.appScript.dropAfterCreate = true; },
            {"Error reading from socket", "Invalid variant operation"}, status::Updating, true},
        {"the link drops during the download", [](UpdateCycle& t) { t.appScript.dropInsideReply = true; },
            {"Error reading from socket"}, status::Updating},
        {"answer is not a byte array", [](UpdateCycle& t) { t.appScript.result = TextValue(QStringLiteral("oops")); },
            {QStringLiteral("The application server's answer to DownloadUpdate is not a program (expected bytes, got "
                            "OleStr); \"%1\" was left unchanged")
                    .arg(exe)},
            status::Updating},
        {"answer is an empty array",
            [](UpdateCycle& t) { t.appScript.result = LinkValue("11200000 01000000 00000000 FFFFFFFF 00000000"); },
            {QStringLiteral("The application server's answer to DownloadUpdate is not a program (expected bytes, got "
                            "an empty array); \"%1\" was left unchanged")
                    .arg(exe)},
            status::Updating},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        messages.shown.clear();
        launcher.opened.clear();
        writeConfig({{"ClientVersion", "Velkaro", "1.0"}});
        c.arrange(*this);

        runCycle(c.settle);

        EXPECT_EQ(boxTexts(), c.boxes);
        ASSERT_FALSE(messages.shown.isEmpty());
        EXPECT_EQ(messages.shown.last().icon, MessageIcon::Stop);
        EXPECT_EQ(messages.shown.last().caption, QApplication::applicationName());
        EXPECT_FALSE(form.isNull()) << "the window stays open";
        EXPECT_EQ(statusAfter, c.status);
        EXPECT_FALSE(form->Timer1->isActive());
        EXPECT_TRUE(launcher.opened.isEmpty());
        EXPECT_EQ(folder.Read(QStringLiteral("Velkaro.exe")), QByteArray("old program"));
        EXPECT_EQ(recordedVersion(), "1.0");
        delete form.data();
        mysql.reset();
        appServer.reset();
    }
}

TEST_F(UpdateCycle, MissingConfigurationShowsTheMessageTwiceThenTheClosedTableError)
{
    runCycle();

    EXPECT_EQ(boxTexts(),
        QStringList(
            {MissingConfigText, MissingConfigText, "cdsConfig: Cannot perform this operation on a closed dataset"}));
    EXPECT_EQ(statusAfter, status::Checking);
    EXPECT_TRUE(launcher.opened.isEmpty());
    EXPECT_FALSE(folder.Exists(QStringLiteral("Config.cds")));
    EXPECT_EQ(appServer->Requests(), QStringList {Created}) << "nothing downloaded";
}

TEST_F(UpdateCycle, ProgramThatCannotBeReplacedKeepsOldProgramAndVersion)
{
    writeConfig({{"ClientVersion", "Velkaro", "1.0"}});
    // A folder where the program should be: no write can replace it.
    QFile::remove(folder.File(QStringLiteral("Velkaro.exe")));
    QDir(folder.Path()).mkdir(QStringLiteral("Velkaro.exe"));

    runCycle();

    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].text.startsWith(
        QStringLiteral("Cannot create file \"%1\". ").arg(folder.File(QStringLiteral("Velkaro.exe")))))
        << messages.shown[0].text.toStdString();
    EXPECT_EQ(statusAfter, status::Updating);
    EXPECT_EQ(recordedVersion(), "1.0");
    EXPECT_TRUE(launcher.opened.isEmpty());
}

TEST_F(UpdateCycle, FailedLaunchStillClosesTheWindow)
{
    writeConfig({{"ClientVersion", "Velkaro", "2.0.1"}});
    launcher.succeed = false;
    runCycle();
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_EQ(launcher.opened.size(), 1);
    EXPECT_TRUE(form.isNull());
}

TEST_F(UpdateCycle, TimerRunsTheCycleOnceAboutASecondAfterShowing)
{
    writeConfig({{"ClientVersion", "Velkaro", "2.0.1"}});
    createWindow();
    EXPECT_FALSE(form->Timer1->isActive()) << "disabled until shown";
    EXPECT_EQ(form->Timer1->interval(), 1000);
    form->show();
    EXPECT_TRUE(form->Timer1->isActive());

    QElapsedTimer waited;
    waited.start();
    while (!form.isNull() && waited.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(form.isNull()) << "the cycle closed the window";
    EXPECT_EQ(launcher.opened.size(), 1);
}

TEST_F(UpdateCycle, WindowIsAsDescribed)
{
    openWindow();
    EXPECT_EQ(form->windowTitle(), "Velkaro Updater");
    EXPECT_EQ(form->size(), QSize(825, 113));
    EXPECT_EQ(form->lbStatus->geometry(), QRect(8, 32, 809, 45));
    EXPECT_EQ(form->lbStatus->text(), status::Checking);
    EXPECT_EQ(form->lbStatus->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(form->lbStatus->font().pixelSize(), 37);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    const TSocketConnection& link = *form->Socket1;
    EXPECT_EQ(link.Host(), "127.0.0.1");
    EXPECT_EQ(link.Address(), "");
    EXPECT_EQ(link.ServerName(), "VelkaroAS.VelkaroDM");
    EXPECT_TRUE(link.ServerGUID().isNull());
    EXPECT_TRUE(link.SupportCallbacks());
    EXPECT_FALSE(link.LoginPrompt());
    EXPECT_TRUE(link.Connected()) << "connected at load";
    EXPECT_EQ(appServer->Requests(), QStringList {Created});
    EXPECT_NE(qobject_cast<TMySQLUniProvider*>(form->MySQLUniProvider1), nullptr);
    const TUniConnection& db = *form->uniConnDataCenter;
    EXPECT_EQ(db.ProviderName(), "MySQL");
    EXPECT_EQ(db.Database(), "VelkaroDB");
    EXPECT_EQ(db.SpecificOptions(), QStringList {"MySQL.UseUnicode=True"});
    EXPECT_EQ(db.Username(), "sa");
    EXPECT_EQ(db.Password(), "plovexirquan");
    EXPECT_EQ(db.Server(), "127.0.0.1");
    EXPECT_EQ(db.Port(), 0) << "not set: the MySQL default port";
    EXPECT_FALSE(db.Connected()) << "not connected at load";
    EXPECT_EQ(form->qryAnyPropose->Connection(), form->uniConnDataCenter);
    EXPECT_EQ(form->dspAnyPropose->DataSet(), form->qryAnyPropose);
    EXPECT_EQ(form->dspAnyPropose->Options(), poAllowCommandText | poUseQuoteChar);
    EXPECT_EQ(form->cdsConfig->FileName(), "Config.cds");
}

// Without a deployment file the link goes where the window description says.
// Only when this machine's port 216 is free for the test.
TEST_F(UpdateCycle, WithoutADeploymentFileTheLinkGoesTo127001Port216)
{
    appServer = std::make_unique<AppServerPeer>(appScript, 216);
    if (appServer->Port() != 216)
        GTEST_SKIP() << "port 216 on 127.0.0.1 is in use here";
    form = new TfrmVersionControl(QString());
    EXPECT_EQ(form->Socket1->Port(), 216);
    EXPECT_EQ(appServer->Requests(), QStringList {Created});
}

TEST_F(UpdateCycle, UnreachableApplicationServerEndsWithTheFatalBoxAndALineOnStderr)
{
    deploy(closedPort());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunUpdater(), 1);
    const std::string stderrText = ::testing::internal::GetCapturedStderr();
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString error = QStringLiteral("Windows socket error: Connection refused (111), on API 'connect'.");
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_EQ(messages.shown[0].caption, "Application Error");
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("Exception ESocketError in module %1.\n%2").arg(module, error));
    EXPECT_EQ(stderrText,
        QStringLiteral("%1: Exception ESocketError in module %2. %3\n")
            .arg(QCoreApplication::applicationName(), module, error)
            .toStdString());
    EXPECT_TRUE(launcher.opened.isEmpty());
}

TEST_F(UpdateCycle, ErrorBoxOfTheCycleIsAlsoALineOnStderr)
{
    writeConfig({{"ClientVersion", "Velkaro", "1.0"}});
    versions.errorCode = 1146;
    versions.errorMessage = "#42S02Table 'VelkaroDB.tbVersionControl' doesn't exist";
    ::testing::internal::CaptureStderr();
    runCycle();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
        QCoreApplication::applicationName().toStdString()
            + ": #42S02Table 'VelkaroDB.tbVersionControl' doesn't exist\n");
}

// The deployment file: what a site deploys reaches the links before they open.
TEST_F(UpdateCycle, DeploymentFileSetsTheLinksConnectionSettingsBeforeTheyOpen)
{
    appServer = std::make_unique<AppServerPeer>();
    const QByteArray port = QByteArray::number(appServer->Port());
    folder.Write(QStringLiteral("VelkaroVersionControl.ini"),
        "\xEF\xBB\xBF; site settings\r\n[uniConnDataCenter]\r\nServer=db.example.org\r\n  port = 3307 \r\n"
        "Database=\nUsername=velkaro\nPassword= p=w;rd \nProviderName=MySQL\n"
        "SpecificOptions=MySQL.UseUnicode=True; MySQL.ConnectionTimeout=5\n\n"
        "[Socket1]\nHost=localhost\n[SOCKET1]\nPort="
            + port
            + "\nServerName=VelkaroAS.Other\n"
              "[uniConnDataCenter]\n# a section may come back\n");
    form = new TfrmVersionControl(folder.File(QStringLiteral("VelkaroVersionControl.ini")));
    const TUniConnection& db = *form->uniConnDataCenter;
    EXPECT_EQ(db.Server(), "db.example.org");
    EXPECT_EQ(db.Port(), 3307);
    EXPECT_EQ(db.Database(), "");
    EXPECT_EQ(db.Username(), "velkaro");
    EXPECT_EQ(db.Password(), "p=w;rd");
    EXPECT_EQ(db.ProviderName(), "MySQL");
    EXPECT_EQ(db.SpecificOptions(), QStringList({"MySQL.UseUnicode=True", "MySQL.ConnectionTimeout=5"}));
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(form->qryAnyPropose->Connection(), form->uniConnDataCenter)
        << "the query runs on the deployed connection";
    EXPECT_EQ(form->Socket1->Host(), "localhost");
    EXPECT_EQ(form->Socket1->Port(), appServer->Port());
    EXPECT_EQ(form->Socket1->ServerName(), "VelkaroAS.Other");
    EXPECT_EQ(appServer->Requests(), QStringList {"create VelkaroAS.Other"})
        << "the link opened after the file was applied";

    folder.Write(QStringLiteral("VelkaroVersionControl.ini"), "[Socket1]\nAddress=127.0.0.1\nPort=" + port + "\n");
    delete form.data();
    form = new TfrmVersionControl(folder.File(QStringLiteral("VelkaroVersionControl.ini")));
    EXPECT_EQ(form->Socket1->Address(), "127.0.0.1");
    EXPECT_EQ(form->Socket1->Host(), "") << "an address empties the host name";
    EXPECT_TRUE(form->Socket1->Connected());
}

TEST_F(UpdateCycle, DeploymentFileRefusesAnythingButTheLinksSettings)
{
    const QString ini = folder.File(QStringLiteral("VelkaroVersionControl.ini"));
    const QString socketKeys = "; [Socket1] takes Host, Address, Port, ServerName";
    const QString dbKeys
        = "; [uniConnDataCenter] takes Server, Port, Database, Username, Password, ProviderName, SpecificOptions";
    const QString port = ": a port is a whole number from 1 to 65535";
    const QString host = ": a host name or address: not empty, no blanks, at most 255 characters";
    struct Case {
        const char* name;
        QByteArray content;
        QString message; // after "<file>, "
    };
    const Case cases[] = {
        {"a table opened from the file (crashed once)", "[cdsAnyPropose]\nActive=true\n",
            "line 2: unknown key Active in section [cdsAnyPropose]; [cdsAnyPropose] has no deployment settings (only "
            "[uniConnDataCenter] and [Socket1] have)"},
        {"the query's text", "[qryAnyPropose]\nSQL=drop table x\n",
            "line 2: unknown key SQL in section [qryAnyPropose]; [qryAnyPropose] has no deployment settings (only "
            "[uniConnDataCenter] and [Socket1] have)"},
        {"a component's name", "[Socket1]\nName=Socket2\n",
            "line 2: unknown key Name in section [Socket1]" + socketKeys},
        {"a misspelled key", "[uniConnDataCenter]\nHost=x\n",
            "line 2: unknown key Host in section [uniConnDataCenter]" + dbKeys},
        {"unknown section", "[uniConnDataCentre]\nServer=x\n",
            "line 1: unknown section [uniConnDataCentre]: the window has no component of that name"},
        {"the window itself", "[frmVersionControl]\n",
            "line 1: unknown section [frmVersionControl]: the window has no component of that name"},
        {"empty section name", "[]\n", "line 1: unknown section []: the window has no component of that name"},
        {"unclosed section", "[Socket1\n", "line 1: malformed section line \"[Socket1\""},
        {"key before any section", "Host=x\n", "line 1: key Host stands before any [section]"},
        {"line without =", "[Socket1]\nHost\n", "line 2: expected key=value, found \"Host\""},
        {"port not a number", "[Socket1]\nPort=abc\n",
            "line 2: invalid value \"abc\" for key Port in section [Socket1]" + port},
        {"port that wrapped once", "[uniConnDataCenter]\nPort=99999999999\n",
            "line 2: invalid value \"99999999999\" for key Port in section [uniConnDataCenter]" + port},
        {"negative port", "[Socket1]\nPort=-5\n",
            "line 2: invalid value \"-5\" for key Port in section [Socket1]" + port},
        {"port 0", "[Socket1]\nPort=0\n", "line 2: invalid value \"0\" for key Port in section [Socket1]" + port},
        {"port 65536", "[Socket1]\nPort=65536\n",
            "line 2: invalid value \"65536\" for key Port in section [Socket1]" + port},
        {"empty port", "[Socket1]\nPort=\n", "line 2: invalid value \"\" for key Port in section [Socket1]" + port},
        {"empty server", "[uniConnDataCenter]\nServer=\n",
            "line 2: invalid value \"\" for key Server in section [uniConnDataCenter]" + host},
        {"blank in a host", "[Socket1]\nHost=app server\n",
            "line 2: invalid value \"app server\" for key Host in section [Socket1]" + host},
        {"empty server name", "[Socket1]\nServerName=\n",
            "line 2: invalid value \"\" for key ServerName in section [Socket1]: it may not be empty"},
        {"address out of range", "[Socket1]\nAddress=10.0.0.256\n",
            "line 2: invalid value \"10.0.0.256\" for key Address in section [Socket1]: a dotted IPv4 address such as "
            "10.0.0.5"},
        {"option without prefix", "[uniConnDataCenter]\nSpecificOptions=UseUnicode=True\n",
            "line 2: invalid value \"UseUnicode=True\" for key SpecificOptions in section [uniConnDataCenter]: options "
            "are Prefix.Name=Value entries separated by \";\""},
        {"a key given twice, across repeated sections",
            "[Socket1]\nPort=216\n[uniConnDataCenter]\n[Socket1]\nport=217\n",
            "line 5: key Port in section [Socket1] was already set on line 2"},
        {"host and address", "[Socket1]\nAddress=10.0.0.5\nHost=app\n",
            "line 3: key Host in section [Socket1]: Address was set on line 2; give one of the two"},
        {"binary junk", Bytes("[Socket1]\n\xff\xfe\x00\x01junk"), "line 2: not UTF-8 text"},
        {"a control character", Bytes("[Socket1]\nHost=a\x00\x1b[2Jb\n"),
            "line 2: control character U+0000 in the line"},
        {"a huge key is shortened", "[Socket1]\n" + QByteArray(5000, 'k') + "=1\n",
            "line 2: unknown key " + QString(60, u'k') + "... in section [Socket1]" + socketKeys},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.Write(QStringLiteral("VelkaroVersionControl.ini"), c.content);
        try {
            TfrmVersionControl refused(ini);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), ini + ", " + c.message);
        }
    }

    folder.Write(QStringLiteral("VelkaroVersionControl.ini"), QByteArray(64 * 1024 + 1, '#'));
    EXPECT_THROW(TfrmVersionControl {ini}, Exception) << "a file beyond 64 KiB";
    QFile::remove(ini);
    QDir(folder.Path()).mkdir(QStringLiteral("VelkaroVersionControl.ini"));
    try {
        TfrmVersionControl refused(ini);
        ADD_FAILURE() << "a folder was read";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot open file \"%1\". Is a directory").arg(ini));
    }
}

TEST_F(UpdateCycle, DeploymentFileCanSetNoOtherPropertyOfAnyComponent)
{
    openWindow();
    const QString ini = folder.File(QStringLiteral("VelkaroVersionControl.ini"));
    const QStringList deployable = {"uniConnDataCenter.Server", "uniConnDataCenter.Port", "uniConnDataCenter.Database",
        "uniConnDataCenter.Username", "uniConnDataCenter.Password", "uniConnDataCenter.ProviderName",
        "uniConnDataCenter.SpecificOptions", "Socket1.Host", "Socket1.Address", "Socket1.Port", "Socket1.ServerName"};
    int tried = 0;
    for (QObject* component : form->children()) {
        if (component->objectName().isEmpty())
            continue;
        const QMetaObject* meta = component->metaObject();
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QString name = QString::fromLatin1(meta->property(i).name());
            const QString setting = component->objectName() + u'.' + name;
            SCOPED_TRACE(setting.toStdString());
            folder.Write(QStringLiteral("VelkaroVersionControl.ini"),
                QStringLiteral("[%1]\n%2=1\n").arg(component->objectName(), name).toUtf8());
            ++tried;
            try {
                ApplyDeploymentSettings(form, ini);
                EXPECT_TRUE(deployable.contains(setting)) << "set by the file";
            } catch (const Exception& e) {
                EXPECT_EQ(
                    e.Message().contains(QStringLiteral("unknown key %1 ").arg(name)), !deployable.contains(setting))
                    << e.what();
            }
        }
    }
    EXPECT_GT(tried, 100);
    EXPECT_EQ(form->Socket1->Port(), 1) << "the one setting of each kind that was valid";

    // A faulty file changes nothing, not even the lines before the fault.
    folder.Write(QStringLiteral("VelkaroVersionControl.ini"), "[Socket1]\nServerName=changed\nPort=0\n");
    EXPECT_THROW(ApplyDeploymentSettings(form, ini), Exception);
    EXPECT_EQ(form->Socket1->ServerName(), "1");
}

TEST_F(UpdateCycle, DeploymentFileFaultEndsTheProgramWithTheFatalBox)
{
    appServer = std::make_unique<AppServerPeer>();
    deploy(appServer->Port(), "[cdsAnyPropose]\nActive=true\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunUpdater(), 1);
    const std::string stderrText = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_EQ(messages.shown[0].caption, "Application Error");
    EXPECT_TRUE(messages.shown[0].text.contains("unknown key Active in section [cdsAnyPropose]"));
    EXPECT_NE(stderrText.find("unknown key Active in section [cdsAnyPropose]"), std::string::npos) << stderrText;
    EXPECT_TRUE(appServer->Requests().isEmpty()) << "the link never opened";
    EXPECT_TRUE(launcher.opened.isEmpty());
}

// The whole version check against the throwaway MariaDB (its version table
// holds "1.0.0"), reached through the deployment file.
TEST_F(UpdateCycle, VersionCheckAgainstTheRealServer)
{
    VELKARO_NEED_MYSQL_SERVER();
    const MySqlTestServer& server = TestServer();
    appServer = std::make_unique<AppServerPeer>();
    const QString ini = deploy(appServer->Port(),
        QStringLiteral("[uniConnDataCenter]\nServer=%1\nPort=%2\n")
            .arg(QString::fromLatin1(server.host), QString::number(server.port))
            .toUtf8());
    struct Case {
        const char* local;
        bool downloads;
    };
    for (const Case& c : {Case {"1.0.0", false}, Case {"0.9", true}}) {
        SCOPED_TRACE(c.local);
        writeConfig({{"ClientVersion", "Velkaro", c.local}});
        const qsizetype heardBefore = appServer->Requests().size();
        launcher.opened.clear();
        form = new TfrmVersionControl(ini);
        form->show();
        form->Timer1Timer();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        EXPECT_TRUE(messages.shown.isEmpty()) << boxTexts().join(u'|').toStdString();
        EXPECT_TRUE(appServer->WaitForBlocks(heardBefore + (c.downloads ? 4 : 2)));
        EXPECT_EQ(appServer->Requests().mid(heardBefore),
            (c.downloads ? Downloaded : QStringList {Created}) + QStringList {Released});
        EXPECT_EQ(recordedVersion(), "1.0.0");
        EXPECT_EQ(launcher.opened.size(), 1);
        EXPECT_TRUE(form.isNull());
    }
}
