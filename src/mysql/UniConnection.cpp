#include "mysql/UniConnection.h"

#include "core/Exceptions.h"
#include "mysql/CRConnection.h"
#include "mysql/MySQLOptions.h"
#include "mysql/UniProvider.h"
#include "mysql/UniQuery.h"

#include <QScopedValueRollback>

namespace velkaro {

TUniConnection::TUniConnection(QObject* owner)
    : TComponent(owner)
{
}

TUniConnection::~TUniConnection()
{
    Disconnect();
    for (const QPointer<TUniQuery>& query : queries_) {
        if (query)
            query->connection_ = nullptr;
    }
}

void TUniConnection::SetProviderName(const QString& name)
{
    if (name == providerName_)
        return;
    if (Connected())
        throw EDatabaseError(QString::fromLatin1(msg::ActiveConnection));
    // Another provider makes another kind of native connection.
    if (name.trimmed().compare(providerName_.trimmed(), Qt::CaseInsensitive) != 0)
        iconnection_.reset();
    providerName_ = name;
}

void TUniConnection::disconnectFor(const QString& current, const QString& next)
{
    if (current != next && Connected())
        Disconnect();
}

void TUniConnection::SetServer(const QString& server)
{
    disconnectFor(server_, server);
    server_ = server;
}

void TUniConnection::SetPort(int port)
{
    if (port != port_ && Connected())
        Disconnect();
    port_ = port;
}

void TUniConnection::SetDatabase(const QString& database)
{
    disconnectFor(database_, database);
    database_ = database;
}

void TUniConnection::SetUsername(const QString& username)
{
    disconnectFor(username_, username);
    username_ = username;
}

void TUniConnection::SetPassword(const QString& password)
{
    disconnectFor(password_, password);
    password_ = password;
}

void TUniConnection::SetSpecificOptions(const QStringList& options)
{
    if (options == specificOptions_)
        return;
    specificOptions_ = options;
    optionsChanged_ = true;
    if (iconnection_)
        importOptions();
}

TUniProvider* TUniConnection::Provider() const
{
    return UniProviders().GetProvider(providerName_);
}

void TUniConnection::importOptions()
{
    TCRConnection* native = iconnection_.get();
    Provider()->SetConnectionProps(native->ClassName(), specificOptions_,
        [native](int propId, const Variant& value) { native->SetProp(propId, value); });
    optionsChanged_ = false;
}

TCRConnection* TUniConnection::CheckIConnection()
{
    if (!iconnection_) {
        TUniProvider* provider = Provider();
        std::unique_ptr<TCRConnection> native = provider->ConnectionFactory()();
        native->SetOnError([this](const Exception&, bool fatal) {
            if (fatal)
                Disconnect();
        });
        iconnection_ = std::move(native);
        optionsChanged_ = true;
    }
    if (optionsChanged_)
        importOptions();
    return iconnection_.get();
}

bool TUniConnection::Connected() const
{
    return iconnection_ && iconnection_->GetConnected();
}

void TUniConnection::SetConnected(bool connected)
{
    if (connected)
        Connect();
    else
        Disconnect();
}

void TUniConnection::Connect()
{
    if (Connected())
        return;
    TCRConnection* native = CheckIConnection();
    native->SetProp(prop::Database, Variant(database_));
    native->SetProp(prop::Port, Variant(port_));
    native->SetProp(prop::DisconnectedMode, Variant(disconnectedMode_));
    native->SetProp(prop::EnableBCD, Variant(enableBCD_));
    native->SetProp(prop::EnableFMTBCD, Variant(enableFMTBCD_));
    native->SetUsername(username_);
    native->SetPassword(password_);
    native->SetServer(server_);
    native->Connect();
    if (database_.isEmpty()) {
        Variant database;
        if (native->GetProp(prop::Database, database))
            database_ = database.ToString();
    }
}

void TUniConnection::Disconnect()
{
    if (disconnecting_)
        return;
    const QScopedValueRollback guard(disconnecting_, true);
    for (const QPointer<TUniQuery>& query : QList<QPointer<TUniQuery>>(queries_)) {
        if (!query || !query->Active())
            continue;
        try {
            query->Close();
        } catch (const Exception&) {
            // Closing its rows cannot fail for want of the session; nothing
            // else may keep the connection from closing.
        }
    }
    if (iconnection_)
        iconnection_->Disconnect();
    connectCount_ = 0;
}

void TUniConnection::InternalConnect()
{
    ++connectCount_;
    if (Connected())
        return;
    try {
        Connect();
    } catch (...) {
        if (connectCount_ > 0)
            --connectCount_;
        throw;
    }
}

void TUniConnection::InternalDisconnect()
{
    if (connectCount_ > 0)
        --connectCount_;
    if (connectCount_ == 0 && disconnectedMode_ && !disconnecting_ && !InTransaction())
        Disconnect();
}

void TUniConnection::AddQuery(TUniQuery* query)
{
    if (!queries_.contains(query))
        queries_.append(query);
}

void TUniConnection::RemoveQuery(TUniQuery* query)
{
    queries_.removeAll(query);
    queries_.removeAll(nullptr);
}

bool TUniConnection::InTransaction() const
{
    return Connected() && iconnection_->InTransaction();
}

void TUniConnection::StartTransaction()
{
    Connect();
    iconnection_->ExecuteStatement(QStringLiteral("START TRANSACTION"));
}

void TUniConnection::Commit()
{
    if (Connected())
        iconnection_->ExecuteStatement(QStringLiteral("COMMIT"));
}

void TUniConnection::Rollback()
{
    if (Connected())
        iconnection_->ExecuteStatement(QStringLiteral("ROLLBACK"));
}

} // namespace velkaro
