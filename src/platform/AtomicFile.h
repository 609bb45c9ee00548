#pragma once
// Replacing a file as a whole. Writes go to a temporary file in the target's
// folder; Commit puts the bytes on the disk, only then renames the temporary
// file over the target, and then syncs the folder, so that the rename too
// survives a power cut: once Commit succeeds the new content is on the disk.
// Until the rename the target keeps its previous content, whatever fails (a
// crash, a full disk, a refused write); an AtomicFile destroyed without a
// successful Commit removes its temporary file and leaves the target alone.
// The one failure after the rename is a folder that cannot be synced: the
// target may then already hold the new content, but it is not known to be
// on the disk, and Commit reports that.

#include <QSaveFile>
#include <QString>

namespace velkaro::platform {

class AtomicFile {
public:
    explicit AtomicFile(const QString& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Each step returns false on failure, with the system's reason in
    // ErrorString() ("No space left on device", "Permission denied", ...),
    // also when a write stopped part way; after a failure only the
    // destructor is left to run.
    bool Open();
    bool Write(const char* data, qint64 count); // all of it, or false
    bool Commit();

    QString ErrorString() const { return error_; }
    // Whether the failure was the final rename (the target could not be
    // replaced) rather than writing the bytes.
    bool RenameFailed() const { return renameFailed_; }

private:
    bool fail();
    QSaveFile file_;
    qint64 written_ = 0;
    QString error_;
    bool renameFailed_ = false;
};

} // namespace velkaro::platform
