#pragma once
// The application's default error display: a modal box with the stop icon
// and an OK button, titled with the application's title, showing the
// error's text.

#include <QString>

#include <exception>

namespace velkaro {

// The message of an error: Exception's own text, what() of any other.
QString ErrorMessage(const std::exception& error);

void ShowErrorBox(const std::exception& error);

} // namespace velkaro
