#include "updater/DeploymentSettings.h"

#include "core/Component.h"
#include "core/Exceptions.h"

#include <QFile>
#include <QMetaProperty>

namespace velkaro {

namespace {

[[noreturn]] void fail(const QString& path, int line, const QString& what)
{
    throw Exception(QStringLiteral("%1, line %2: %3").arg(path, QString::number(line), what));
}

} // namespace

void ApplyDeploymentSettings(QObject* owner, const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(path, file.errorString()));

    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    QObject* component = nullptr;
    QString section;
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        QString line = lines[i].trimmed();
        if (line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']'))
                fail(path, lineNo, QStringLiteral("malformed section line \"%1\"").arg(line));
            section = line.mid(1, line.size() - 2).trimmed();
            component = FindComponent(owner, section);
            if (component == nullptr)
                fail(path, lineNo,
                    QStringLiteral("unknown section [%1]: the window has no component of that name").arg(section));
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            fail(path, lineNo, QStringLiteral("expected key=value, found \"%1\"").arg(line));
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (component == nullptr)
            fail(path, lineNo, QStringLiteral("key %1 stands before any [section]").arg(key));
        const QMetaObject* meta = component->metaObject();
        const int index = meta->indexOfProperty(key.toUtf8().constData());
        if (index < 0 || key == QLatin1String("objectName") || key == QLatin1String("Name"))
            fail(path, lineNo, QStringLiteral("unknown key %1 in section [%2]").arg(key, section));
        const QMetaProperty property = meta->property(index);
        QVariant converted(value);
        if (!property.isWritable() || !converted.convert(property.metaType()))
            fail(path, lineNo,
                QStringLiteral("invalid value \"%1\" for key %2 in section [%3]").arg(value, key, section));
        if (property.metaType().id() == QMetaType::Bool
            && value.compare(QLatin1String("true"), Qt::CaseInsensitive) != 0
            && value.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0)
            fail(path, lineNo,
                QStringLiteral("invalid value \"%1\" for key %2 in section [%3]").arg(value, key, section));
        try {
            property.write(component, converted);
        } catch (const Exception& e) {
            fail(path, lineNo, QStringLiteral("key %1 in section [%2]: %3").arg(key, section, e.Message()));
        }
    }
}

} // namespace velkaro
