#pragma once
// The classes the update client's component streams may create. A stream
// (a window description in the binary or text form) can create only
// registered classes, so every class of a component on the window is listed
// here, one line each: a new component class is one more line.

namespace velkaro {

// Registers the window's classes and the GUI property types (fonts, colours,
// palettes); safe to call more than once. The program calls it at start.
void RegisterUpdaterClasses();

} // namespace velkaro
