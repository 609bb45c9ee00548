#include "mysql/MySQLUniProvider.h"

#include "mysql/MySQLConnection.h"
#include "mysql/MySQLOptions.h"

namespace velkaro {

namespace {

const bool Registered = [] {
    UniProviders().RegisterProvider(QStringLiteral("MySQL"), [] { return std::make_unique<TMySQLUniProvider>(); });
    return true;
}();

} // namespace

TMySQLUniProvider::TMySQLUniProvider(QObject* owner)
    : TUniProvider(owner)
{
    (void)Registered;
    SetConnectionFactory([] { return std::make_unique<TMySQLConnection>(); });
}

const TOptionsList& TMySQLUniProvider::GetConnectionOptions() const
{
    return MySQLConnectionOptions();
}

const TOptionsList& TMySQLUniProvider::GetDataSetOptions() const
{
    return MySQLDataSetOptions();
}

void TMySQLUniProvider::SetConnectionProps(
    const QString& className, const QStringList& specificOptions, const TSetPropFunc& setProp) const
{
    if (className == QLatin1String(MySQLConnectionClass))
        setProp(prop::CheckPrecision, Variant(true));
    TUniProvider::SetConnectionProps(className, specificOptions, setProp);
}

} // namespace velkaro
