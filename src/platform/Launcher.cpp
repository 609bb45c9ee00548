#include "platform/Launcher.h"

#include <QFile>
#include <QProcess>

namespace velkaro::platform {

namespace {

class ProcessLauncher : public Launcher {
public:
    bool Open(const QString& path) override
    {
#ifndef Q_OS_WIN
        // A downloaded program arrives as plain bytes; give it the execute
        // bits its owner's read bits allow.
        QFile file(path);
        if (!file.exists())
            return false;
        QFile::Permissions p = file.permissions();
        if (p & QFile::ReadOwner)
            p |= QFile::ExeOwner | QFile::ExeUser;
        if (p & QFile::ReadGroup)
            p |= QFile::ExeGroup;
        if (p & QFile::ReadOther)
            p |= QFile::ExeOther;
        file.setPermissions(p);
#endif
        return QProcess::startDetached(path, {});
    }
};

Launcher*& installed()
{
    static Launcher* launcher = nullptr;
    return launcher;
}

} // namespace

Launcher& Programs()
{
    static ProcessLauncher real;
    return installed() != nullptr ? *installed() : real;
}

void SetLauncher(Launcher* launcher)
{
    installed() = launcher;
}

} // namespace velkaro::platform
