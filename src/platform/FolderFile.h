#pragma once
// Opening a file by name inside one folder, for a server that hands out the
// files of a folder on request: nothing outside the folder is ever opened,
// whatever the name holds (an absolute path, "..") and whatever links the
// folder contains. Links that stay inside the folder are followed, so a
// release may point "Velkaro.exe" at "Velkaro-1.0.1.exe".
//
// Only regular files are opened; a pipe or a device in the folder is
// reported as NotRegular and never blocks the call.

#include <QString>

class QFile;

namespace velkaro::platform {

enum class FolderFileStatus {
    Ok,
    NotFound, // no such file, or the folder itself is missing
    NotRegular, // a folder, a pipe, a device
    Outside, // the name, or a link on the way, leads out of the folder
    Failed, // the system refused (code: its error number)
};

struct FolderFileResult {
    FolderFileStatus status = FolderFileStatus::Ok;
    int code = 0;

    bool Ok() const { return status == FolderFileStatus::Ok; }
    // The system's text for the code, or a text for the status.
    QString ErrorText() const;
};

// Opens Name, relative to Folder, for reading into File (which is closed
// first and owns the handle afterwards). The file's size is then read from
// the open file (QFile::size), so it matches the bytes that can be read even
// when the file is replaced meanwhile.
FolderFileResult OpenFileInFolder(const QString& folder, const QString& name, QFile& file);

} // namespace velkaro::platform
