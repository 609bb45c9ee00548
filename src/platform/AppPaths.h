#pragma once
// Where the system's own files live: beside the running executable. The
// working directory plays no part.

#include <QString>

namespace velkaro::platform {

// The full path of the running executable cut after its last separator,
// the separator kept (for example "/opt/velkaro/").
QString ExecutableFolder();

// Tests point the programs at a temporary folder; an empty text restores
// the executable's own folder.
void SetExecutableFolderForTesting(const QString& folder);

} // namespace velkaro::platform
