#pragma once
// The property types of Qt's GUI library that component streams carry:
// QFont (as Qt's own font text, "Tahoma,-1,37,5,400,0,0,0,0,0,0,0,0,0,0,1"),
// QColor ("#AARRGGBB", or '' for no colour) and QPalette (the colour of
// every role the palette sets, as (Group Role '#AARRGGBB') triples; brushes
// other than plain colours travel as their colour). Widgets' fonts, colours
// and palettes can so be part of a window description.

namespace velkaro {

// Adds the types to the component streams; safe to call more than once and
// from any thread. The in-house streamer calls it when it is created.
void RegisterGuiPropertyTypes();

} // namespace velkaro
