#pragma once
// The release folder: the programs the application server hands out, one
// file "<name>.exe" per program. A client names a program; the name is a
// plain file name and nothing else, and nothing outside the folder is ever
// read (links inside the folder are followed, links leading out are not).

#include "core/Dispatch.h"

#include <QFile>
#include <QString>

#include <memory>

namespace velkaro {

// A program that cannot be handed out, with the answer the client sees (a
// failed call, DISP_E_EXCEPTION, with this code and description) and what
// the server's log says about it.
struct TProgramUnavailable {
    qint32 code = 0; // a Windows error as a result code, for the client's error
    QString description; // what the client's user reads
    QString detail; // for the log: also what the client is not told
};

// An opened program, ready to send: Size is the open file's size.
struct TReleasedProgram {
    std::unique_ptr<QFile> file;
    qint64 size = 0;
};

class TReleaseFolder {
public:
    // Error codes of the answers (HRESULT_FROM_WIN32 of the Windows errors).
    static constexpr qint32 ErrorFileNotFound = qint32(0x80070002u);
    static constexpr qint32 ErrorAccessDenied = qint32(0x80070005u);
    static constexpr qint32 ErrorReadFault = qint32(0x8007001Eu);
    static constexpr qint32 ErrorInvalidName = qint32(0x8007007Bu);
    static constexpr qint32 ErrorFileTooLarge = qint32(0x800700DFu);

    static constexpr qsizetype MaxNameLength = 100;

    explicit TReleaseFolder(QString path);
    const QString& Path() const { return path_; }

    // Why Name is not a program name, or an empty text when it is one. A
    // program name is 1 to MaxNameLength characters; no folder separator
    // ("/", "\"), no control character, none of the characters Windows
    // forbids in file names (< > : " | ? *), no leading dot (".", "..",
    // hidden files) or blank, no trailing dot or blank.
    static QString NameProblem(const QString& name);

    // Opens "<Name>.exe" for sending. Raises nothing: an answer that cannot
    // be given is returned as Unavailable. Any thread.
    bool Open(const QString& name, TReleasedProgram& program, TProgramUnavailable& unavailable) const;

private:
    QString path_;
};

} // namespace velkaro
