#pragma once
// Details of the folder-file seam that its tests reach.

#include "platform/FolderFile.h"

namespace velkaro::platform::internal {

// Where the system offers openat2 (Linux 5.6 on), the look-up itself stays
// inside the folder; elsewhere the opened file's path is checked after the
// open. Tests run the second way too.
void UseOpenat2(bool use);

} // namespace velkaro::platform::internal
