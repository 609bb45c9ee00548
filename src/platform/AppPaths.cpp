#include "platform/AppPaths.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace velkaro::platform {

namespace {
QString& overrideFolder()
{
    static QString folder;
    return folder;
}
} // namespace

QString ExecutableFolder()
{
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    QString path = QCoreApplication::instance() != nullptr
        ? QCoreApplication::applicationFilePath()
        : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const qsizetype cut = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.left(cut + 1);
}

void SetExecutableFolderForTesting(const QString& folder)
{
    QString f = folder;
    if (!f.isEmpty() && !f.endsWith(u'/') && !f.endsWith(u'\\'))
        f += u'/';
    overrideFolder() = f;
}

} // namespace velkaro::platform
