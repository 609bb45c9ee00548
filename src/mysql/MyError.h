#pragma once
// EMyError: every failure of the MySQL client, with the MySQL error number.
//
// Client errors (2000 to 2047, and the few newer client codes this client
// raises) take the standard client text of their code as the message
// template; a code outside that set has an empty template. Extra text (a
// server message, a socket's last error) follows the template after a line
// break, so a server error's message starts with a line break:
//   MakeMyError(2013, "")            "Lost connection to MySQL server during query"
//   MakeMyError(2013, "reset")       "Lost connection to MySQL server during query\nreset"
//   MakeMyError(1045, "#28000...")   "\n#28000..."
// Templates keep their "%s" and "%d" unfilled unless the raiser fills them
// (FormatClientText), as the protocol's own raisers do.

#include "core/Exceptions.h"

namespace velkaro {

class EMyError : public EDatabaseError {
public:
    EMyError(int errorCode, QString message);
    const char* ClassName() const noexcept override { return "EMyError"; }

    int ErrorCode() const noexcept { return errorCode_; }
    // For 1064 (SQL syntax): the last run of decimal digits in the message,
    // scanning from its end (the server names the line there); 0 otherwise.
    int LineNumber() const noexcept { return lineNumber_; }
    // Server shut down, cannot connect, server gone, connection lost, and the
    // server's own word that it ends the connection (killed, idle too long):
    // the connection is unusable afterwards and is closed.
    bool IsFatal() const noexcept { return IsFatalCode(errorCode_); }
    static bool IsFatalCode(int code);

private:
    int errorCode_;
    int lineNumber_ = 0;
};

// Client error numbers this client raises.
namespace cr {
inline constexpr int UnknownError = 2000;
inline constexpr int ConnectionError = 2002;
inline constexpr int ConnHostError = 2003; // "Can't connect to MySQL server on '%s' (%d)"
inline constexpr int UnknownHost = 2005;
inline constexpr int ServerGoneError = 2006;
inline constexpr int VersionError = 2007;
inline constexpr int OutOfMemory = 2008;
inline constexpr int ServerLost = 2013;
inline constexpr int CommandsOutOfSync = 2014;
inline constexpr int NetPacketTooLarge = 2020;
inline constexpr int MalformedPacket = 2027;
inline constexpr int UnknownProtocol = 2046;
inline constexpr int AuthPluginCannotLoad = 2059; // "Authentication plugin '%s' is not supported"
// A server's request for a local file that the statement sent does not name.
inline constexpr int LoadDataLocalInfileRejected = 2068;
} // namespace cr

// Server error numbers the client itself raises or treats specially.
namespace er {
inline constexpr int ServerShutdown = 1053;
inline constexpr int DupEntry = 1062; // a key violation
inline constexpr int ParseError = 1064;
inline constexpr int NetPacketsOutOfOrder = 1156;
inline constexpr int NetUncompressError = 1157;
inline constexpr int ConnectionKilled = 1927; // MariaDB, before it closes a killed session
inline constexpr int ClientInteractionTimeout = 4031; // MySQL, before it closes an idle session
} // namespace er

// The template of a client code ("" for any other code).
QString ClientErrorText(int code);
// The template with its placeholders filled in order: each "%s" or "%d" takes
// the next argument.
QString FormatClientText(int code, const QStringList& args);
// The error for Code: its template, then Extra on a new line when Extra is
// not empty.
EMyError MakeMyError(int code, const QString& extra = QString());

} // namespace velkaro
