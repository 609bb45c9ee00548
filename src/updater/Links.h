#pragma once
// The update client's link to the application server, as its window
// declares it: the connection component Socket1 carries the published
// settings, and the UpdaterLinks behind it open the link and give the remote
// object (AppServer), so tests can install an in-process object. (The
// database link is the window's own TUniConnection.)

#include "core/Component.h"
#include "core/Variant.h"

#include <memory>

namespace velkaro {

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
