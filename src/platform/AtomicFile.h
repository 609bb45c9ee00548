#pragma once
// Replacing a file as a whole. Writes go to a temporary file in the target's
// folder; Commit puts the bytes on the disk and only then renames the
// temporary file over the target. Until Commit succeeds the target keeps its
// previous content, whatever fails (a crash, a full disk, a refused write);
// an AtomicFile destroyed without a successful Commit removes its temporary
// file and leaves the target alone.

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
    // ErrorString(); after a failure only the destructor is left to run.
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
