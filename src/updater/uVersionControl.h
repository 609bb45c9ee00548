#pragma once
// The update client's window: a status line, the components of the version
// check and a one-shot timer whose first tick runs the update cycle.

#include "core/Variant.h"

#include <QString>
#include <QWidget>

class QLabel;
class QTimer;

namespace velkaro {

class TClientDataSet;
class TDataSetProvider;
class TMySQLUniProvider;
class TSocketConnection;
class TUniConnection;
class TUniQuery;

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
    // 3. loaded: Socket1 (connected at load) opens the link to the
    //    application server and creates the remote object (its AppServer).
    //    The database connection stays closed until the version query first
    //    opens.
    // Raises when the deployment file is wrong or the application server
    // cannot be reached; the window is then gone.
    explicit TfrmVersionControl(const QString& deploymentFile);
    // Ends the database session (COM_QUIT), then closes the link: the
    // remote object is released (one asFreeObject) and the transport
    // thread ends.
    ~TfrmVersionControl() override;

    QLabel* lbStatus = nullptr;
    TMySQLUniProvider* MySQLUniProvider1 = nullptr;
    TUniConnection* uniConnDataCenter = nullptr;
    TUniQuery* qryAnyPropose = nullptr;
    TDataSetProvider* dspAnyPropose = nullptr;
    TClientDataSet* cdsAnyPropose = nullptr;
    TClientDataSet* cdsConfig = nullptr;
    TSocketConnection* Socket1 = nullptr;
    QTimer* Timer1 = nullptr;

    QString vLastVersion;

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
};

} // namespace velkaro
