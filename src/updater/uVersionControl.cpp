#include "updater/uVersionControl.h"

#include "config/libConfigManager.h"
#include "core/ErrorDisplay.h"
#include "core/Exceptions.h"
#include "core/LateBound.h"
#include "data/ClientDataSet.h"
#include "data/Provider.h"
#include "inhouse/Streamer.h"
#include "inhouse/libAppServerUNI.h"
#include "mysql/MySQLUniProvider.h"
#include "mysql/UniConnection.h"
#include "mysql/UniQuery.h"
#include "platform/AppPaths.h"
#include "platform/Launcher.h"
#include "platform/MessageDisplay.h"
#include "remote/SocketConnection.h"
#include "updater/DeploymentSettings.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

namespace velkaro {

namespace {

const QString ClientProgram = QStringLiteral("Velkaro.exe");
const QString VersionSection = QStringLiteral("ClientVersion");
const QString VersionKey = QStringLiteral("Velkaro");

QFont tahoma(int pixelHeight)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelHeight);
    return font;
}

} // namespace

TfrmVersionControl::TfrmVersionControl(const QString& deploymentFile)
    : QWidget(nullptr,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    createComponents();
    if (!deploymentFile.isEmpty())
        ApplyDeploymentSettings(this, deploymentFile);
    loaded();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void TfrmVersionControl::createComponents()
{
    setObjectName(QStringLiteral("frmVersionControl"));
    setWindowTitle(QStringLiteral("Velkaro Updater"));
    setFont(tahoma(11));
    setFixedSize(825, 113);
    setAttribute(Qt::WA_DeleteOnClose); // closing frees the window, which ends the program

    lbStatus = new QLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    lbStatus->setGeometry(8, 32, 809, 45);
    lbStatus->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lbStatus->setFont(tahoma(37));
    QPalette palette = lbStatus->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    lbStatus->setPalette(palette);
    lbStatus->setText(status::Checking);

    MySQLUniProvider1 = new TMySQLUniProvider(this);
    MySQLUniProvider1->SetName(QStringLiteral("MySQLUniProvider1"));

    // The port stays 0: the MySQL default, 3306.
    uniConnDataCenter = new TUniConnection(this);
    uniConnDataCenter->SetName(QStringLiteral("uniConnDataCenter"));
    uniConnDataCenter->SetProviderName(QStringLiteral("MySQL"));
    uniConnDataCenter->SetDatabase(QStringLiteral("VelkaroDB"));
    uniConnDataCenter->SetSpecificOptions({QStringLiteral("MySQL.UseUnicode=True")});
    uniConnDataCenter->SetUsername(QStringLiteral("sa"));
    uniConnDataCenter->SetPassword(QStringLiteral("plovexirquan"));
    uniConnDataCenter->SetServer(QStringLiteral("127.0.0.1"));

    qryAnyPropose = new TUniQuery(this);
    qryAnyPropose->SetName(QStringLiteral("qryAnyPropose"));
    qryAnyPropose->SetConnection(uniConnDataCenter);

    dspAnyPropose = new TDataSetProvider(this);
    dspAnyPropose->SetName(QStringLiteral("dspAnyPropose"));
    dspAnyPropose->SetDataSet(qryAnyPropose);
    dspAnyPropose->SetOptions(poAllowCommandText | poUseQuoteChar);
    dspAnyPropose->OnDataRequest
        = [this](TDataSetProvider* sender, const Variant& input) { return dspAnyProposeDataRequest(sender, input); };

    cdsAnyPropose = new TClientDataSet(this);
    cdsAnyPropose->SetName(QStringLiteral("cdsAnyPropose"));
    cdsAnyPropose->SetProviderName(QStringLiteral("dspAnyPropose"));

    cdsConfig = new TClientDataSet(this);
    cdsConfig->SetName(QStringLiteral("cdsConfig"));
    cdsConfig->SetFileName(QStringLiteral("Config.cds"));
    cdsConfig->SetIndexFieldNames(QStringLiteral("Section;Key"));

    // Connected at load: the link opens once every component has its
    // settings, the deployment file's included.
    Socket1 = new TSocketConnection(this);
    Socket1->BeginLoading();
    Socket1->SetName(QStringLiteral("Socket1"));
    Socket1->SetServerName(QStringLiteral("VelkaroAS.VelkaroDM"));
    Socket1->SetHost(QStringLiteral("127.0.0.1"));
    Socket1->SetPort(216);
    Socket1->SetConnected(true);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TfrmVersionControl::Timer1Timer);
}

void TfrmVersionControl::loaded()
{
    // Socket1 connects; the database connection waits for the query's first
    // open.
    EndLoading(this);
}

TfrmVersionControl::~TfrmVersionControl()
{
    // The database session ends first (COM_QUIT), then the remote object goes.
    uniConnDataCenter->Disconnect();
    Socket1->Close();
}

void TfrmVersionControl::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmVersionControl::FormShow()
{
    Timer1->start();
}

void TfrmVersionControl::setStatus(const QString& text)
{
    lbStatus->setText(text);
    lbStatus->repaint();
    QCoreApplication::processEvents();
}

void TfrmVersionControl::Timer1Timer()
{
    Timer1->stop();
    try {
        setStatus(status::Checking);
        HasNewerVersion();
    } catch (const std::exception& e) {
        // The timer's handler hands every error to the default error display.
        ShowErrorBox(e);
    }
}

void TfrmVersionControl::HasNewerVersion()
{
    cdsAnyPropose->SetData(cdsAnyPropose->DataRequest(Variant(QStringLiteral("Select * From tbVersionControl"))));
    vLastVersion = cdsAnyPropose->FieldByName(QStringLiteral("Version"))->AsString();

    CheckHasVersionConfig();
    const QString local = ObjConfigManager->GetConfigValue(cdsConfig, VersionSection, VersionKey);
    const QString appPath = platform::ExecutableFolder() + ClientProgram;
    if (vLastVersion != local) {
        setStatus(status::Updating);
        DownloadAndExecute(appPath);
    }
    platform::Programs().Open(appPath); // a failed start is not reported
    close();
}

void TfrmVersionControl::CheckHasVersionConfig()
{
    if (!ObjConfigManager->LoadConfiguration(cdsConfig))
        return;
    if (ObjConfigManager->GetConfigValue(cdsConfig, VersionSection, VersionKey).isEmpty())
        ObjConfigManager->SetConfigValue(cdsConfig, VersionSection, VersionKey, QStringLiteral("0"));
}

void TfrmVersionControl::DownloadAndExecute(const QString& AppPath)
{
    static const QByteArray downloadUpdate
        = MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varUStrArg)), QByteArrayLiteral("DownloadUpdate"));
    const QString programName = QStringLiteral("Velkaro");
    // Socket1's object as it is now: Null once the link has dropped, and
    // then the call fails ("Invalid variant operation").
    const Variant answer = DispatchInvoke(Socket1->AppServer(), downloadUpdate, {CallArg(programName)});

    // Only a program replaces the program: anything but a non-empty byte
    // vector would leave a broken or empty Velkaro.exe behind.
    const bool isProgram = answer.VType() == (varArray | varByte) && answer.Array()->DimCount() == 1
        && answer.Array()->ElementCount() > 0;
    if (!isProgram) {
        throw EVariantError(QStringLiteral("The application server's answer to DownloadUpdate is not a program "
                                           "(expected bytes, got %1); \"%2\" was left unchanged")
                                .arg(answer.Array() != nullptr && answer.Array()->ElementCount() == 0
                                        ? QStringLiteral("an empty array")
                                        : Variant::TypeName(answer.VType()),
                                    AppPath));
    }
    Convert->VariantToFile(AppPath, answer);
    ObjConfigManager->SetConfigValue(cdsConfig, VersionSection, VersionKey, vLastVersion);
    setStatus(status::Done);
}

Variant TfrmVersionControl::dspAnyProposeDataRequest(TDataSetProvider* /*Sender*/, const Variant& Input)
{
    return ObjAppServerUNI->CentralDataRequest(qryAnyPropose, dspAnyPropose, Input);
}

} // namespace velkaro
