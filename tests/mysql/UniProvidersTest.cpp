#include "mysql/MySQLUniProvider.h"

#include "core/Exceptions.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySQLOptions.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace velkaro;

namespace {

QString ResolveError(TUniProviders& registry, const QString& name)
{
    try {
        registry.GetProvider(name);
    } catch (const EDatabaseError& e) {
        return e.Message();
    }
    return QString();
}

} // namespace

TEST(UniProviders, TheMySQLProviderIsRegisteredAtStart)
{
    // Naming the component class links its unit, whose start-up registers it.
    const TMySQLUniProvider onTheWindow;
    TUniProvider* provider = UniProviders().GetProvider(QStringLiteral("  mysql "));
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(provider->GetProviderName(), QStringLiteral("MySQL"));
    EXPECT_NE(provider, &onTheWindow);
    EXPECT_EQ(UniProviders().GetProvider(QStringLiteral("MySQL")), provider);
    EXPECT_TRUE(UniProviders().ProviderNames().contains(QStringLiteral("MySQL")));
    EXPECT_NE(qobject_cast<TMySQLUniProvider*>(provider), nullptr);
}

TEST(UniProviders, ResolutionErrors)
{
    TUniProviders registry;
    registry.RegisterProvider(QStringLiteral("MySQL"), [] { return std::make_unique<TMySQLUniProvider>(); });
    EXPECT_EQ(ResolveError(registry, QString()), QStringLiteral("Provider is not defined"));
    EXPECT_EQ(ResolveError(registry, QStringLiteral(" \t")), QStringLiteral("Provider is not defined"));
    EXPECT_EQ(
        ResolveError(registry, QStringLiteral(" Oracle ")), QStringLiteral("Oracle is not a valid provider name"));
    EXPECT_EQ(ResolveError(registry, QStringLiteral("My SQL")), QStringLiteral("My SQL is not a valid provider name"));
    EXPECT_EQ(ResolveError(registry, QStringLiteral("MYSQL")), QString());
    EXPECT_EQ(registry.FindProvider(QStringLiteral("Oracle")), nullptr);

    registry.UnRegisterProvider(QStringLiteral("mysql"));
    EXPECT_EQ(ResolveError(registry, QStringLiteral("MySQL")), QStringLiteral("MySQL is not a valid provider name"));
    EXPECT_EQ(QString::fromLatin1(msg::ActiveConnection),
        QStringLiteral("This operation is not allowed on active connection"));
}

TEST(UniProviders, TheNativeConnectionComesFromTheProvider)
{
    TMySQLUniProvider provider;
    const std::unique_ptr<TCRConnection> native = provider.ConnectionFactory()();
    EXPECT_NE(dynamic_cast<TMySQLConnection*>(native.get()), nullptr);
    EXPECT_EQ(native->ClassName(), "TMySQLConnection");

    class Bare : public TUniProvider {
    public:
        QString GetProviderName() const override { return QStringLiteral("Bare"); }
        const TOptionsList& GetConnectionOptions() const override { return MySQLConnectionOptions(); }
        const TOptionsList& GetDataSetOptions() const override { return MySQLDataSetOptions(); }
    } bare;
    try {
        bare.ConnectionFactory();
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Provider Bare has no connection class"));
    }
}

TEST(UniProviders, RegistrationFromManyThreads)
{
    TUniProviders registry;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&registry, t] {
            for (int i = 0; i < 50; ++i) {
                const QString name = QStringLiteral("P%1_%2").arg(QString::number(t), QString::number(i));
                registry.RegisterProvider(name, [] { return std::make_unique<TMySQLUniProvider>(); });
                registry.FindProvider(name);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(registry.ProviderNames().size(), 200);
}
