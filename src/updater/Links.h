#pragma once
// The update client's two outside links, as its window declares them: the
// data-centre database connection (uniConnDataCenter, with the query
// qryAnyPropose on it) and the application-server connection (Socket1, whose
// AppServer is the remote object). The components carry the published
// settings; the UpdaterLinks behind them make the query and open the link,
// so tests can install an in-process query and an in-process object.

#include "core/Component.h"
#include "core/Variant.h"

#include <QStringList>

#include <memory>

namespace velkaro {

class TCustomQuery;

class DataCenterConnection : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString ProviderName MEMBER ProviderName)
    Q_PROPERTY(QString Server MEMBER Server)
    Q_PROPERTY(int Port MEMBER Port)
    Q_PROPERTY(QString Database MEMBER Database)
    Q_PROPERTY(QString Username MEMBER Username)
    Q_PROPERTY(QString Password MEMBER Password)
    Q_PROPERTY(QStringList SpecificOptions MEMBER SpecificOptions)

public:
    using TComponent::TComponent;
    QString ProviderName;
    QString Server;
    int Port = 3306;
    QString Database;
    QString Username;
    QString Password;
    QStringList SpecificOptions;
};

class AppServerConnection : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Host MEMBER Host WRITE SetHost)
    Q_PROPERTY(QString Address MEMBER Address WRITE SetAddress)
    Q_PROPERTY(int Port MEMBER Port)
    Q_PROPERTY(QString ServerName MEMBER ServerName)

public:
    using TComponent::TComponent;
    // Host name or dotted IPv4 address; Address, a dotted IPv4 address used
    // without look-up, wins when both are set. Setting either to a
    // non-empty text empties the other.
    QString Host;
    QString Address;
    int Port = 211;
    QString ServerName;

    void SetHost(const QString& host)
    {
        Host = host;
        if (!host.isEmpty())
            Address.clear();
    }
    void SetAddress(const QString& address)
    {
        Address = address;
        if (!address.isEmpty())
            Host.clear();
    }
};

class UpdaterLinks {
public:
    virtual ~UpdaterLinks() = default;
    // The query on the given connection, owned by Owner. Called while the
    // window's components are created, before the deployment file is
    // applied: the query reads the connection's settings when it opens,
    // never here.
    virtual TCustomQuery* CreateQuery(DataCenterConnection& connection, QObject* owner) = 0;
    // Opens the link and creates the remote object named by ServerName;
    // the answer is AppServer, a variant holding its dispatch reference.
    // Called once the window's components have finished loading.
    virtual Variant OpenAppServer(AppServerConnection& connection) = 0;
    // Releases AppServer and closes the link (the window is going away).
    virtual void CloseAppServer(Variant& appServer) { appServer = Variant(); }
};

// The links of this build.
std::unique_ptr<UpdaterLinks> MakeProductionLinks();

} // namespace velkaro
