#pragma once
// How the programs show errors: the application's default error display for
// errors a program survives, and the run-time's fatal error box for those it
// does not. Both are boxes with the stop icon, so each is also written to
// stderr as one line (platform/MessageDisplay.h).

#include <QString>

#include <exception>

namespace velkaro {

// The message of an error: Exception's own text, what() of any other.
QString ErrorMessage(const std::exception& error);

// The default error display: a modal box with the stop icon and an OK
// button, titled with the application's title, showing the error's text.
void ShowErrorBox(const std::exception& error);

// The run-time's fatal error box, shown before a program ends with exit
// code 1: caption "Application Error", text "Exception <class> in module
// <program file>.", a line break and the message (ending in ".").
void ShowFatalError(const std::exception& error);

} // namespace velkaro
