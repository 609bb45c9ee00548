#pragma once
// Helpers shared by the picture classes. Private to the in-house folder.

#include <QByteArray>

namespace velkaro {

class TStream;

// The bytes from the stream's position to its end (at most 2,147,483,647;
// more raises EStreamError before anything is read).
QByteArray ReadToEnd(TStream& stream);

} // namespace velkaro
