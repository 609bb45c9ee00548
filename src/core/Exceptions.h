#pragma once
// Error classes of the system (header only, so every layer may raise them).
// The root class, Exception, and the conversion error live at the bottom
// (platform/Errors.h); these are the classes of the layers above.

#include "platform/Errors.h"

namespace velkaro {

VELKARO_ERROR_CLASS(EStreamError, Exception)
VELKARO_ERROR_CLASS(EFOpenError, EStreamError) // "Cannot open file ..."
VELKARO_ERROR_CLASS(EFCreateError, EStreamError) // "Cannot create file ..."
VELKARO_ERROR_CLASS(EReadError, EStreamError) // "Stream read error"
VELKARO_ERROR_CLASS(EWriteError, EStreamError) // "Stream write error"
VELKARO_ERROR_CLASS(EDatabaseError, Exception) // table and field errors
VELKARO_ERROR_CLASS(EVariantError, Exception) // variant conversions and operations
VELKARO_ERROR_CLASS(EComponentError, Exception) // names of components
VELKARO_ERROR_CLASS(EOleError, Exception) // late-bound call failures
VELKARO_ERROR_CLASS(EInvalidOperation, Exception) // a call the object's state does not allow
VELKARO_ERROR_CLASS(EClassNotFound, EStreamError) // "Class %s not found": a streamed class the program lacks
VELKARO_ERROR_CLASS(EParserError, EStreamError) // the text form of a component stream
VELKARO_ERROR_CLASS(EListError, Exception) // list positions
VELKARO_ERROR_CLASS(EInvalidGraphic, Exception) // bytes that are not a picture of their kind

// An error raised by a remote or local automation object, with its code.
class EOleException : public EOleError {
public:
    EOleException(QString message, qint32 errorCode)
        : EOleError(std::move(message))
        , errorCode_(errorCode)
    {
    }
    const char* ClassName() const noexcept override { return "EOleException"; }
    qint32 ErrorCode() const noexcept { return errorCode_; }

private:
    qint32 errorCode_;
};

// The stored message texts, with their placeholders.
namespace msg {
inline constexpr const char* FOpenError = "Cannot open file \"%1\". %2";
inline constexpr const char* FCreateError = "Cannot create file \"%1\". %2";
inline constexpr const char* ReadError = "Stream read error";
inline constexpr const char* WriteError = "Stream write error";
inline constexpr const char* DataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* FieldNotFound = "Field '%1' not found";
// Never raised in this build: the table engine (data/) is linked into both
// programs, so it cannot fail to load the way a separately loaded engine
// library can. The text is kept for the day the engine is loaded at run time.
inline constexpr const char* EngineNotLoadable = "Error loading table engine";
inline constexpr const char* InvalidVariantOperation = "Invalid variant operation";
inline constexpr const char* InvalidVariantTypeCast = "Invalid variant type conversion";
inline constexpr const char* DuplicateName = "A component named %1 already exists";
inline constexpr const char* InvalidImage = "Invalid stream format";
inline constexpr const char* ClassNotFound = "Class %1 not found";
inline constexpr const char* InvalidPropertyValue = "Invalid property value";
inline constexpr const char* UnknownProperty = "Property %1 does not exist";
inline constexpr const char* InvalidPropertyPath = "Invalid property path";
inline constexpr const char* ParseError = "%1 on line %2";
inline constexpr const char* ListIndexError = "List index out of bounds (%1)";
inline constexpr const char* InvalidBitmap = "Bitmap image is not valid";
} // namespace msg

// The integer-conversion error for the text that failed to convert.
[[noreturn]] inline void RaiseInvalidInteger(const QString& text)
{
    throw EConvertError(QString::fromLatin1(msg::InvalidInteger).arg(text));
}

} // namespace velkaro
