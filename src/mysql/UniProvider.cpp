#include "mysql/UniProvider.h"

#include "core/Exceptions.h"

namespace velkaro {

void TUniProvider::SetConnectionProps(
    const QString& className, const QStringList& specificOptions, const TSetPropFunc& setProp) const
{
    GetConnectionOptions().ImportOptions(specificOptions, className, setProp);
}

void TUniProvider::SetDataSetProps(
    const QString& className, const QStringList& specificOptions, const TSetPropFunc& setProp) const
{
    GetDataSetOptions().ImportOptions(specificOptions, className, setProp);
}

const TCRConnectionFactory& TUniProvider::ConnectionFactory() const
{
    if (!connectionFactory_)
        throw EDatabaseError(QStringLiteral("Provider %1 has no connection class").arg(GetProviderName()));
    return connectionFactory_;
}

TUniProviders::TUniProviderDesc* TUniProviders::FindDesc(const QString& providerName)
{
    for (const auto& desc : list_) {
        if (desc->ProviderName.compare(providerName, Qt::CaseInsensitive) == 0)
            return desc.get();
    }
    return nullptr;
}

void TUniProviders::RegisterProvider(const QString& providerName, TUniProviderCreate create)
{
    const std::lock_guard guard(lock_);
    if (TUniProviderDesc* desc = FindDesc(providerName)) {
        desc->Create = std::move(create);
        return;
    }
    list_.push_back(std::make_unique<TUniProviderDesc>(TUniProviderDesc {providerName, std::move(create), nullptr}));
}

void TUniProviders::UnRegisterProvider(const QString& providerName)
{
    const std::lock_guard guard(lock_);
    std::erase_if(
        list_, [&](const auto& desc) { return desc->ProviderName.compare(providerName, Qt::CaseInsensitive) == 0; });
}

TUniProvider* TUniProviders::FindProvider(const QString& providerName)
{
    const std::lock_guard guard(lock_);
    TUniProviderDesc* desc = FindDesc(providerName);
    if (desc == nullptr)
        return nullptr;
    if (!desc->Provider)
        desc->Provider = desc->Create();
    return desc->Provider.get();
}

TUniProvider* TUniProviders::GetProvider(const QString& providerName)
{
    const QString name = providerName.trimmed();
    if (name.isEmpty())
        throw EDatabaseError(QString::fromLatin1(msg::ProviderNotDefined));
    TUniProvider* provider = FindProvider(name);
    if (provider == nullptr)
        throw EDatabaseError(QString::fromLatin1(msg::InvalidProviderName).arg(name));
    return provider;
}

QStringList TUniProviders::ProviderNames() const
{
    const std::lock_guard guard(lock_);
    QStringList names;
    for (const auto& desc : list_)
        names << desc->ProviderName;
    return names;
}

TUniProviders& UniProviders()
{
    static TUniProviders registry;
    return registry;
}

} // namespace velkaro
