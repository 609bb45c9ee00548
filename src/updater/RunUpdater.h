#pragma once
// The update client's program: creates the window and runs the message loop.

#include <QString>

#include <exception>

namespace velkaro {

// Creates the main window with the deployment file beside the executable and
// runs the message loop; returns the program's exit code. A failure while the
// window is created shows the fatal error box and gives 1.
int RunUpdater();

} // namespace velkaro
