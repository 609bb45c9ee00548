#pragma once
// Providers: a connection component names its database provider
// (ProviderName "MySQL"); the process-wide registry UniProviders() finds the
// provider of that name, which knows the provider's options and makes its
// native objects.
//
// A provider's unit registers it while the program starts (a static
// initialiser in its .cpp). Since the program links only the units it
// refers to, a provider is part of a program when something refers to it:
// placing the provider component (TMySQLUniProvider) on a window does that.

#include "core/Component.h"
#include "mysql/OptionsList.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace velkaro {

namespace msg {
inline constexpr const char* ProviderNotDefined = "Provider is not defined";
inline constexpr const char* InvalidProviderName = "%1 is not a valid provider name";
inline constexpr const char* ActiveConnection = "This operation is not allowed on active connection";
} // namespace msg

// The native connection, defined with the connection classes.
class TCRConnection;
using TCRConnectionFactory = std::function<std::unique_ptr<TCRConnection>()>;

class TUniProvider : public TComponent {
    Q_OBJECT

public:
    using TComponent::TComponent;

    virtual QString GetProviderName() const = 0;
    virtual const TOptionsList& GetConnectionOptions() const = 0;
    virtual const TOptionsList& GetDataSetOptions() const = 0;

    // Applies a component's SpecificOptions to its native connection or to
    // a native command / record set of ClassName (TOptionsList::ImportOptions).
    virtual void SetConnectionProps(
        const QString& className, const QStringList& specificOptions, const TSetPropFunc& setProp) const;
    virtual void SetDataSetProps(
        const QString& className, const QStringList& specificOptions, const TSetPropFunc& setProp) const;

    // How the provider makes its native connection; set by the unit that
    // defines the connection class. ConnectionFactory raises EDatabaseError
    // when none is set.
    void SetConnectionFactory(TCRConnectionFactory factory) { connectionFactory_ = std::move(factory); }
    const TCRConnectionFactory& ConnectionFactory() const;

private:
    TCRConnectionFactory connectionFactory_;
};

using TUniProviderCreate = std::function<std::unique_ptr<TUniProvider>()>;

// The registry. Every operation takes the registry's lock. A provider
// object is made on its first lookup and lives as long as the registry.
class TUniProviders {
public:
    // A name registered again takes the new creator; a provider already
    // made stays.
    void RegisterProvider(const QString& providerName, TUniProviderCreate create);
    // Frees the provider object too: nobody may hold it any more.
    void UnRegisterProvider(const QString& providerName);

    // The provider of that name (without regard to case), or null.
    TUniProvider* FindProvider(const QString& providerName);
    // The provider a connection's ProviderName selects: the name is trimmed;
    // raises EDatabaseError "Provider is not defined" for an empty name and
    // "<name> is not a valid provider name" for an unknown one.
    TUniProvider* GetProvider(const QString& providerName);
    QStringList ProviderNames() const;

private:
    struct TUniProviderDesc {
        QString ProviderName;
        TUniProviderCreate Create;
        std::unique_ptr<TUniProvider> Provider;
    };
    TUniProviderDesc* FindDesc(const QString& providerName);

    mutable std::mutex lock_;
    std::vector<std::unique_ptr<TUniProviderDesc>> list_;
};

// The process-wide registry.
TUniProviders& UniProviders();

} // namespace velkaro
