#pragma once
// TUniConnection: the database connection component (uniConnDataCenter).
// Its published settings name the provider, the server and the account;
// the provider (ProviderName, looked up in UniProviders()) makes the native
// connection that does the work.
//
// Contract:
// - Connect (or Connected = true, or opening a query on it): the provider is
//   resolved ("Provider is not defined", "<name> is not a valid provider
//   name"); the native connection is made on the first connect and kept,
//   and it gets the database (38), the port (39), disconnected mode (31),
//   EnableBCD (41) and EnableFMTBCD (42); the provider imports
//   SpecificOptions into it when it is new and whenever the list has
//   changed since the last import; then user, password and server, and the
//   native connect. Afterwards an empty Database is filled from the native
//   connection. No login dialog is shown (LoginPrompt has no effect).
// - Changing ProviderName while connected raises "This operation is not
//   allowed on active connection". Changing Server, Port, Database,
//   Username or Password while connected disconnects first.
// - Queries connect implicitly: each open counts (ConnectCount) and each
//   close uncounts; with DisconnectedMode on, the last close disconnects
//   unless a transaction is open. Otherwise the session stays open.
// - A fatal error of the native connection (the session is gone)
//   disconnects, swallowing errors on the way, before the error reaches the
//   caller; the next connect starts from scratch. Nothing is retried.
// - Disconnect closes the open queries on this connection, then the
//   session (COM_QUIT); it never raises. Destroying the component
//   disconnects.

#include "core/Component.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

namespace velkaro {

class TCRConnection;
class TUniProvider;
class TUniQuery;

class TUniConnection : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString ProviderName READ ProviderName WRITE SetProviderName)
    Q_PROPERTY(QString Server READ Server WRITE SetServer)
    Q_PROPERTY(int Port READ Port WRITE SetPort)
    Q_PROPERTY(QString Database READ Database WRITE SetDatabase)
    Q_PROPERTY(QString Username READ Username WRITE SetUsername)
    Q_PROPERTY(QString Password READ Password WRITE SetPassword)
    Q_PROPERTY(QStringList SpecificOptions READ SpecificOptions WRITE SetSpecificOptions)
    Q_PROPERTY(bool LoginPrompt READ LoginPrompt WRITE SetLoginPrompt)
    Q_PROPERTY(bool Connected READ Connected WRITE SetConnected)

public:
    explicit TUniConnection(QObject* owner = nullptr);
    ~TUniConnection() override;

    const QString& ProviderName() const { return providerName_; }
    void SetProviderName(const QString& name);
    const QString& Server() const { return server_; }
    void SetServer(const QString& server);
    // 0: the provider's default port.
    int Port() const { return port_; }
    void SetPort(int port);
    const QString& Database() const { return database_; }
    void SetDatabase(const QString& database);
    const QString& Username() const { return username_; }
    void SetUsername(const QString& username);
    const QString& Password() const { return password_; }
    void SetPassword(const QString& password);
    // Lines "Prefix.Name=Value" ("MySQL.UseUnicode=True").
    const QStringList& SpecificOptions() const { return specificOptions_; }
    void SetSpecificOptions(const QStringList& options);
    bool LoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool prompt) { loginPrompt_ = prompt; }

    // Component options (defaults off).
    bool DisconnectedMode() const { return disconnectedMode_; }
    void SetDisconnectedMode(bool on) { disconnectedMode_ = on; }
    bool EnableBCD() const { return enableBCD_; }
    void SetEnableBCD(bool on) { enableBCD_ = on; }
    bool EnableFMTBCD() const { return enableFMTBCD_; }
    void SetEnableFMTBCD(bool on) { enableFMTBCD_ = on; }

    bool Connected() const;
    void SetConnected(bool connected);
    void Connect();
    void Disconnect();
    int ConnectCount() const { return connectCount_; }

    // The provider ProviderName names (raises as Connect would).
    TUniProvider* Provider() const;
    // The native connection, made (with its options imported) when there
    // is none yet; nothing is connected here.
    TCRConnection* CheckIConnection();
    TCRConnection* InternalConnection() const { return iconnection_.get(); }

    // Transactions on the session (connecting first when needed).
    bool InTransaction() const;
    void StartTransaction();
    void Commit();
    void Rollback();

private:
    friend class TUniQuery;
    // A query's open and close.
    void InternalConnect();
    void InternalDisconnect();
    void AddQuery(TUniQuery* query);
    void RemoveQuery(TUniQuery* query);

    void importOptions();
    void disconnectFor(const QString& current, const QString& next);

    QString providerName_;
    QString server_;
    int port_ = 0;
    QString database_;
    QString username_;
    QString password_;
    QStringList specificOptions_;
    bool loginPrompt_ = true;
    bool disconnectedMode_ = false;
    bool enableBCD_ = false;
    bool enableFMTBCD_ = false;

    std::unique_ptr<TCRConnection> iconnection_;
    bool optionsChanged_ = true;
    int connectCount_ = 0;
    bool disconnecting_ = false;
    QList<QPointer<TUniQuery>> queries_;
};

} // namespace velkaro
