#pragma once
// The root of the system's error classes, at the bottom so that every layer,
// the OS seams included, raises the same kind of error. Every error the
// programs raise is an Exception carrying its message text; the class name is
// what the fatal error box and the tests see, so each subclass reports its
// own. The classes of the layers above are in core/Exceptions.h.

#include <QString>
#include <exception>
#include <string>

namespace velkaro {

class Exception : public std::exception {
public:
    explicit Exception(QString message)
        : message_(std::move(message))
        , utf8_(message_.toStdString())
    {
    }
    const QString& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    QString message_;
    std::string utf8_;
};

#define VELKARO_ERROR_CLASS(Name, Base)                                                                                \
    class Name : public Base {                                                                                         \
    public:                                                                                                            \
        using Base::Base;                                                                                              \
        const char* ClassName() const noexcept override { return #Name; }                                              \
    };

VELKARO_ERROR_CLASS(EConvertError, Exception) // integer and date conversion

namespace msg {
inline constexpr const char* InvalidInteger = "''%1'' is not a valid integer value";
inline constexpr const char* InvalidDate = "''%1'' is not a valid date";
} // namespace msg

} // namespace velkaro
