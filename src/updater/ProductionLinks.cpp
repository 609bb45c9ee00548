#include "core/Exceptions.h"
#include "updater/Links.h"

namespace velkaro {

namespace {

// This build carries neither the MySQL client nor the application-server
// link yet: both ends say so plainly instead of pretending to connect.
class UnavailableLinks : public UpdaterLinks {
public:
    TCustomQuery* CreateQuery(DataCenterConnection&, QObject*) override
    {
        throw Exception(QStringLiteral("This build has no MySQL client: the version query cannot run"));
    }
    Variant OpenAppServer(AppServerConnection& connection) override
    {
        throw Exception(QStringLiteral("This build has no application-server link: cannot reach %1 on %2:%3")
                            .arg(connection.ServerName, connection.Host, QString::number(connection.Port)));
    }
};

} // namespace

std::unique_ptr<UpdaterLinks> MakeProductionLinks()
{
    return std::make_unique<UnavailableLinks>();
}

} // namespace velkaro
