#include "core/Exceptions.h"
#include "updater/Links.h"

namespace velkaro {

namespace {

// This build carries no application-server link yet: it says so plainly
// instead of pretending to connect.
class UnavailableLinks : public UpdaterLinks {
public:
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
