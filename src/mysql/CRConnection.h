#pragma once
// TCRConnection: the native connection under a connection component
// (TUniConnection). A provider makes one (TUniProvider::ConnectionFactory)
// when the component first connects; the component owns it and keeps it
// until the component goes.
//
// Contract:
// - Settings arrive by property id through SetProp (MySQLOptions.h names
//   the ids) and as the user name, password and server text; Connect uses
//   them as they are then. SetProp answers false for an id the connection
//   does not know, GetProp likewise.
// - Connect opens a fresh session (nothing when connected); a failure
//   leaves the connection disconnected. Disconnect ends the session and
//   ignores errors on the way; it never raises.
// - Errors reach the caller as exceptions. Before one propagates, the
//   component's error handler runs (SetOnError); for a fatal error (the
//   session is unusable) the connection is marked invalid first and the
//   handler disconnects. Nothing is retried.

#include "core/Variant.h"

#include <QString>

#include <functional>
#include <memory>

namespace velkaro {

class Exception;
class TCRRecordSet;

class TCRConnection {
public:
    TCRConnection() = default;
    virtual ~TCRConnection();
    TCRConnection(const TCRConnection&) = delete;
    TCRConnection& operator=(const TCRConnection&) = delete;

    // The class name the provider's option lists know it by.
    virtual QString ClassName() const = 0;

    // Disconnected mode (31), EnableBCD (41) and EnableFMTBCD (42) are kept
    // here; a subclass adds its own ids.
    virtual bool SetProp(int prop, const Variant& value);
    virtual bool GetProp(int prop, Variant& value) const;

    void SetUsername(const QString& username) { username_ = username; }
    void SetPassword(const QString& password) { password_ = password; }
    void SetServer(const QString& server) { server_ = server; }
    const QString& Username() const { return username_; }
    const QString& Password() const { return password_; }
    const QString& Server() const { return server_; }

    virtual void Connect() = 0;
    virtual void Disconnect() = 0;
    bool GetConnected() const { return connected_; }
    // False after a fatal error until the next connect.
    bool IsValid() const { return isValid_; }
    // The server reports an open transaction on this session.
    virtual bool InTransaction() const = 0;

    // A record set (with its command) on this connection; it must not
    // outlive the connection.
    virtual std::unique_ptr<TCRRecordSet> CreateRecordSet() = 0;
    // Runs a statement that gives no result set (session start, transaction
    // statements).
    virtual void ExecuteStatement(const QString& sql) = 0;

    bool DisconnectedMode() const { return disconnectedMode_; }
    bool EnableBCD() const { return enableBCD_; }
    bool EnableFMTBCD() const { return enableFMTBCD_; }

    // Called with every error of this connection before it propagates;
    // Fatal says the session is gone. Errors of the handler itself are
    // swallowed: the original error is the one the caller sees.
    using TErrorProc = std::function<void(const Exception& error, bool fatal)>;
    void SetOnError(TErrorProc onError) { onError_ = std::move(onError); }

protected:
    // Marks the connection invalid for a fatal error and runs the handler;
    // the caller then raises the error.
    void DoError(const Exception& error, bool fatal);

    QString username_;
    QString password_;
    QString server_;
    bool connected_ = false;
    bool isValid_ = false;

private:
    bool disconnectedMode_ = false;
    bool enableBCD_ = false;
    bool enableFMTBCD_ = false;
    TErrorProc onError_;
};

} // namespace velkaro
