#include "appserver/ReleaseFolder.h"

#include "appserver/ServerLog.h"
#include "platform/FolderFile.h"

namespace velkaro {

namespace {

constexpr QStringView ForbiddenCharacters = u"<>:\"|?*";

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

} // namespace

TReleaseFolder::TReleaseFolder(QString path)
    : path_(std::move(path))
{
}

QString TReleaseFolder::NameProblem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("it is empty");
    if (name.size() > MaxNameLength)
        return QStringLiteral("it is longer than %1 characters").arg(MaxNameLength);
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\')
            return QStringLiteral("it contains a folder separator");
        if (isControl(c.unicode()))
            return QStringLiteral("it contains a control character");
        if (ForbiddenCharacters.contains(c))
            return QStringLiteral("it contains the character %1, which file names may not hold").arg(c);
    }
    if (name.startsWith(u'.'))
        return QStringLiteral("it starts with a dot");
    if (name.front().isSpace())
        return QStringLiteral("it starts with a blank");
    if (name.endsWith(u'.') || name.back().isSpace())
        return QStringLiteral("it ends with a dot or a blank");
    return {};
}

bool TReleaseFolder::Open(const QString& name, TReleasedProgram& program, TProgramUnavailable& unavailable) const
{
    const QString quoted = TServerLog::Quoted(name);
    if (const QString problem = NameProblem(name); !problem.isEmpty()) {
        unavailable = {ErrorInvalidName, QStringLiteral("%1 is not a program name: %2").arg(quoted, problem),
            QStringLiteral("refused name: %1").arg(problem)};
        return false;
    }
    const QString fileName = name + QStringLiteral(".exe");
    auto file = std::make_unique<QFile>();
    const platform::FolderFileResult opened = platform::OpenFileInFolder(path_, fileName, *file);
    const QString missing = QStringLiteral("The application server has no program %1 to hand out").arg(quoted);
    switch (opened.status) {
    case platform::FolderFileStatus::Ok:
        break;
    case platform::FolderFileStatus::NotFound:
        unavailable = {ErrorFileNotFound, missing, QStringLiteral("no file %1 in the release folder").arg(fileName)};
        return false;
    case platform::FolderFileStatus::NotRegular:
        unavailable = {ErrorFileNotFound, missing, QStringLiteral("%1 is not a regular file").arg(fileName)};
        return false;
    case platform::FolderFileStatus::Outside:
        unavailable = {ErrorAccessDenied, missing, QStringLiteral("%1 leads outside the release folder").arg(fileName)};
        return false;
    case platform::FolderFileStatus::Failed:
        unavailable = {ErrorReadFault,
            QStringLiteral("The application server cannot read the program %1: %2").arg(quoted, opened.ErrorText()),
            QStringLiteral("%1: %2").arg(fileName, opened.ErrorText())};
        return false;
    }
    program.size = file->size();
    program.file = std::move(file);
    return true;
}

} // namespace velkaro
