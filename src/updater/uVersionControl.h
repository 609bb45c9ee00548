#pragma once
// The update client's window: a status line, the components of the version
// check and a one-shot timer whose first tick runs the update cycle.

#include "core/Variant.h"

#include <QString>
#include <QWidget>

class QLabel;
class QTimer;

namespace velkaro {

class AppServerConnection;
class TClientDataSet;
class TDataSetProvider;
class TMySQLUniProvider;
class TUniConnection;
class TUniQuery;
class UpdaterLinks;

namespace status {
inline const QString Checking = QStringLiteral("กำลังตรวจสอบเวอร์ชั่น");
inline const QString Updating = QStringLiteral("มีเวอร์ชั่นที่ใหม่กว่า กำลังทำการอัพเดตโปรแกรม");
inline const QString Done = QStringLiteral("อัพเดตเรียบร้อย กำลังเปิดโปรแกรม");
} // namespace status

class TfrmVersionControl : public QWidget {
    Q_OBJECT

public:
    // Creates the window, in this order:
    // 1. every component of the window description, with its compiled-in
    //    settings: lbStatus, MySQLUniProvider1, uniConnDataCenter,
    //    qryAnyPropose (on uniConnDataCenter), dspAnyPropose (on
    //    qryAnyPropose), cdsAnyPropose, cdsConfig, Socket1, Timer1; nothing
    //    is opened or connected yet;
    // 2. the deployment file (if DeploymentFile is not empty), which may set
    //    only the connection settings of uniConnDataCenter and Socket1
    //    (updater/DeploymentSettings.h);
    // 3. loaded: Socket1 opens the link to the application server and
    //    creates the remote object (AppServer). The database connection
    //    stays closed until the version query first opens.
    // Raises when the deployment file is wrong or the application server
    // cannot be reached; the window is then gone.
    TfrmVersionControl(UpdaterLinks& links, const QString& deploymentFile);
    // Ends the database session (COM_QUIT), then releases the remote object.
    ~TfrmVersionControl() override;

    QLabel* lbStatus = nullptr;
    TMySQLUniProvider* MySQLUniProvider1 = nullptr;
    TUniConnection* uniConnDataCenter = nullptr;
    TUniQuery* qryAnyPropose = nullptr;
    TDataSetProvider* dspAnyPropose = nullptr;
    TClientDataSet* cdsAnyPropose = nullptr;
    TClientDataSet* cdsConfig = nullptr;
    AppServerConnection* Socket1 = nullptr;
    QTimer* Timer1 = nullptr;

    QString vLastVersion;
    // Socket1's remote object, held from creation until the window goes.
    Variant AppServer;

    void FormShow();
    void Timer1Timer();
    void HasNewerVersion();
    void CheckHasVersionConfig();
    void DownloadAndExecute(const QString& AppPath);
    Variant dspAnyProposeDataRequest(TDataSetProvider* Sender, const Variant& Input);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void createComponents();
    void loaded();
    void setStatus(const QString& text);
    UpdaterLinks& links_;
};

} // namespace velkaro
