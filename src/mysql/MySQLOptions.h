#pragma once
// The MySQL provider's options and the property ids its native objects
// take in SetProp / GetProp.

#include "mysql/OptionsList.h"

namespace velkaro {

// Class names the options apply to (TOption::Classes).
inline constexpr const char* MySQLConnectionClass = "TMySQLConnection";
inline constexpr const char* MySQLCommandClass = "TMySQLCommand";
inline constexpr const char* MySQLRecordsetClass = "TMySQLRecordset";

// Property ids.
namespace prop {
// set by the connection component
inline constexpr int DisconnectedMode = 31;
inline constexpr int Database = 38;
inline constexpr int Port = 39;
inline constexpr int EnableBCD = 41;
inline constexpr int EnableFMTBCD = 42;
// the HTTP tunnel
inline constexpr int HttpUrl = 57;
inline constexpr int HttpUsername = 58;
inline constexpr int HttpPassword = 59;
inline constexpr int ProxyHostname = 60;
inline constexpr int ProxyPort = 61;
inline constexpr int ProxyUsername = 62;
inline constexpr int ProxyPassword = 63;
// the MySQL connection
inline constexpr int ConnectionTimeout = 1001;
inline constexpr int Compress = 1007;
inline constexpr int Charset = 1009;
inline constexpr int Protocol = 1011;
inline constexpr int UseUnicode = 1018;
inline constexpr int EmbeddedParams = 1019;
inline constexpr int SSLChipherList = 1020;
inline constexpr int SSLCACert = 1021;
inline constexpr int SSLKey = 1022;
inline constexpr int SSLCert = 1023;
inline constexpr int Embedded = 1030;
inline constexpr int Direct = 1031;
inline constexpr int CheckPrecision = 1032; // set to true by the MySQL provider
inline constexpr int OptimizedBigint = 1033;
inline constexpr int CheckBackslashes = 1035;
inline constexpr int NullForZeroDateValue = 1041;
// the MySQL dataset (command and record set); ids of our own
inline constexpr int FetchAll = 1101;
inline constexpr int CommandTimeout = 1102;
inline constexpr int FieldsAsString = 1103;
inline constexpr int NullForZeroDate = 1104;
inline constexpr int CheckRowVersion = 1105;
inline constexpr int EnableBoolean = 1106;
inline constexpr int CreateConnection = 1107;
inline constexpr int BinaryAsString = 1108;
} // namespace prop

// The values of the "Protocol" option, in order; only mpDefault (TCP) is
// supported.
enum TMyProtocol { mpDefault, mpTCP, mpPipe, mpMemory, mpSocket, mpSSL, mpHttp };

// Built once, on first use; prefix "MySQL".
const TOptionsList& MySQLConnectionOptions();
const TOptionsList& MySQLDataSetOptions();

} // namespace velkaro
