#include "core/Exceptions.h"
#include "data/CustomQuery.h"
#include "updater/Links.h"

namespace velkaro {

namespace {

// This build carries neither the MySQL client nor the application-server
// link yet: both ends say so plainly instead of pretending to connect.
class UnavailableQuery : public TCustomQuery {
public:
    using TCustomQuery::TCustomQuery;

protected:
    void InternalOpen() override
    {
        throw Exception(QStringLiteral("This build has no MySQL client: the version query cannot run"));
    }
};

class UnavailableLinks : public UpdaterLinks {
public:
    TCustomQuery* CreateQuery(DataCenterConnection&, QObject* owner) override { return new UnavailableQuery(owner); }
    Variant OpenAppServer(AppServerConnection& connection) override
    {
        const QString& address = connection.Address.isEmpty() ? connection.Host : connection.Address;
        throw Exception(QStringLiteral("This build has no application-server link: cannot reach %1 on %2:%3")
                            .arg(connection.ServerName, address, QString::number(connection.Port)));
    }
};

} // namespace

std::unique_ptr<UpdaterLinks> MakeProductionLinks()
{
    return std::make_unique<UnavailableLinks>();
}

} // namespace velkaro
