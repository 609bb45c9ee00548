#pragma once
// Error classes and stored texts of the application-server link.
//
// ESocketConnectionError means the link cannot go on: the connection closes
// the socket and its transport thread ends. ESocketError is a failed socket
// call (connect, send, recv). EInterpreterError is a value or a request that
// cannot be encoded, decoded or served; the link stays open after it.

#include "core/Exceptions.h"

namespace velkaro {

VELKARO_ERROR_CLASS(ESocketConnectionError, Exception)
VELKARO_ERROR_CLASS(ESocketError, Exception)
VELKARO_ERROR_CLASS(EInterpreterError, Exception)

namespace msg {
inline constexpr const char* NoAddress = "No address specified";
inline constexpr const char* CantCreateSocket = "Can't create new socket";
inline constexpr const char* WindowsSocketError = "Windows socket error: %1 (%2), on API '%3'";
inline constexpr const char* SocketReadError = "Error reading from socket";
inline constexpr const char* InvalidDataPacket = "Invalid data packet";
inline constexpr const char* UnsupportedVariantType = "Unsupported variant type: %1";
inline constexpr const char* InvalidAction = "Invalid action received: %1";
inline constexpr const char* ObjectNotAvailable = "Object not available: %1";
inline constexpr const char* NoReturnValue = "Expected return value not received";
inline constexpr const char* TransportCancelled = "The connection was closed";
} // namespace msg

} // namespace velkaro
