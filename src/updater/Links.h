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
    Q_PROPERTY(QString Host MEMBER Host)
    Q_PROPERTY(int Port MEMBER Port)
    Q_PROPERTY(QString ServerName MEMBER ServerName)

public:
    using TComponent::TComponent;
    QString Host;
    int Port = 211;
    QString ServerName;
};

class UpdaterLinks {
public:
    virtual ~UpdaterLinks() = default;
    // The query on the given connection, owned by Owner.
    virtual TCustomQuery* CreateQuery(DataCenterConnection& connection, QObject* owner) = 0;
    // Opens the link and creates the remote object named by ServerName;
    // the answer is AppServer, a variant holding its dispatch reference.
    virtual Variant OpenAppServer(AppServerConnection& connection) = 0;
    // Releases AppServer and closes the link (the window is going away).
    virtual void CloseAppServer(Variant& appServer) { appServer = Variant(); }
};

// The links of this build.
std::unique_ptr<UpdaterLinks> MakeProductionLinks();

} // namespace velkaro
