#include "updater/DeploymentSettings.h"

#include "core/Component.h"
#include "core/Exceptions.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaProperty>
#include <QStringDecoder>
#include <QStringList>

#include <iterator>
#include <optional>
#include <vector>

namespace velkaro {

namespace {

// A site's file holds a handful of lines; anything near this size is not one.
constexpr qint64 MaxFileSize = 64 * 1024;
// Texts from the file are shown at most this long in messages.
constexpr qsizetype MaxQuoted = 60;

enum class Kind { HostName, IPv4, Port, Name, Text, Options };

struct Setting {
    const char* component;
    const char* key;
    Kind kind;
    const char* excludes = nullptr; // a setting of the same component that empties this one
};

// What a site deploys: the connection settings of the two links.
constexpr Setting Deployable[] = {
    {"uniConnDataCenter", "Server", Kind::HostName},
    {"uniConnDataCenter", "Port", Kind::Port},
    {"uniConnDataCenter", "Database", Kind::Text},
    {"uniConnDataCenter", "Username", Kind::Text},
    {"uniConnDataCenter", "Password", Kind::Text},
    {"uniConnDataCenter", "ProviderName", Kind::Name},
    {"uniConnDataCenter", "SpecificOptions", Kind::Options},
    {"Socket1", "Host", Kind::HostName, "Address"},
    {"Socket1", "Address", Kind::IPv4, "Host"},
    {"Socket1", "Port", Kind::Port},
    {"Socket1", "ServerName", Kind::Name},
};

QString shortened(const QString& text)
{
    return text.size() <= MaxQuoted ? text : text.left(MaxQuoted) + QStringLiteral("...");
}

[[noreturn]] void fail(const QString& path, int line, const QString& what)
{
    throw Exception(QStringLiteral("%1, line %2: %3").arg(path, QString::number(line), what));
}

bool sameName(const QString& a, const char* b)
{
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

QStringList keysOf(const QString& component)
{
    QStringList keys;
    for (const Setting& s : Deployable) {
        if (sameName(component, s.component))
            keys.append(QLatin1String(s.key));
    }
    return keys;
}

const Setting* findSetting(const QString& component, const QString& key)
{
    for (const Setting& s : Deployable) {
        if (sameName(component, s.component) && sameName(key, s.key))
            return &s;
    }
    return nullptr;
}

bool isHostName(const QString& value)
{
    if (value.isEmpty() || value.size() > 255)
        return false;
    for (const QChar c : value) {
        if (c.isSpace())
            return false;
    }
    return true;
}

bool isIPv4(const QString& value)
{
    const QStringList parts = value.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

std::optional<int> portNumber(const QString& value)
{
    if (value.isEmpty() || value.size() > 5)
        return std::nullopt;
    for (const QChar c : value) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const int port = value.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

// "Prefix.Name=Value" entries separated by ";"; blanks around each dropped.
std::optional<QStringList> providerOptions(const QString& value)
{
    QStringList options;
    for (const QString& entry : value.split(u';')) {
        const QString option = entry.trimmed();
        if (option.isEmpty())
            continue;
        const qsizetype eq = option.indexOf(u'=');
        const qsizetype dot = option.indexOf(u'.');
        if (eq <= 0 || dot <= 0 || dot + 1 >= eq)
            return std::nullopt;
        options.append(option);
    }
    return options;
}

// The value as the setting takes it, or the reason it cannot.
QVariant typedValue(Kind kind, const QString& value, QString& why)
{
    switch (kind) {
    case Kind::HostName:
        if (isHostName(value))
            return value;
        why = QStringLiteral("a host name or address: not empty, no blanks, at most 255 characters");
        return {};
    case Kind::IPv4:
        if (isIPv4(value))
            return value;
        why = QStringLiteral("a dotted IPv4 address such as 10.0.0.5");
        return {};
    case Kind::Port:
        if (const auto port = portNumber(value))
            return *port;
        why = QStringLiteral("a port is a whole number from 1 to 65535");
        return {};
    case Kind::Name:
        if (!value.isEmpty())
            return value;
        why = QStringLiteral("it may not be empty");
        return {};
    case Kind::Text:
        return value;
    case Kind::Options:
        if (const auto options = providerOptions(value))
            return *options;
        why = QStringLiteral("options are Prefix.Name=Value entries separated by \";\"");
        return {};
    }
    return {};
}

// The file's lines, checked to be UTF-8 text without control characters.
QStringList readLines(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        const QString reason = info.isDir() ? QStringLiteral("Is a directory")
            : info.exists()                 ? QStringLiteral("Not a regular file")
                                            : QStringLiteral("No such file or directory"); // a link to nothing
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(path, reason));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(path, file.errorString()));
    QByteArray bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(path, file.errorString()));
    if (bytes.size() > MaxFileSize)
        throw Exception(QStringLiteral("%1: a deployment file holds at most %2 bytes; this one is larger")
                            .arg(path, QString::number(MaxFileSize)));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);

    QStringList lines;
    const QList<QByteArray> raw = bytes.split('\n');
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const int lineNo = int(i) + 1;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString line = decoder.decode(raw[i]);
        if (decoder.hasError())
            fail(path, lineNo, QStringLiteral("not UTF-8 text"));
        if (line.endsWith(u'\r'))
            line.chop(1);
        for (const QChar c : line) {
            if ((c < u' ' && c != u'\t') || c == QChar(0x7F))
                fail(path, lineNo,
                    QStringLiteral("control character U+%1 in the line")
                        .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0')));
        }
        lines.append(line);
    }
    return lines;
}

struct Assignment {
    QObject* component;
    const Setting* setting;
    QVariant value;
    int line;
};

} // namespace

void ApplyDeploymentSettings(QObject* owner, const QString& path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return;
    const QStringList lines = readLines(path);

    std::vector<Assignment> assignments;
    QObject* component = nullptr;
    QString section;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNo = int(i) + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']') || line.size() < 2)
                fail(path, lineNo, QStringLiteral("malformed section line \"%1\"").arg(shortened(line)));
            section = line.mid(1, line.size() - 2).trimmed();
            component = section.isEmpty() ? nullptr : FindComponent(owner, section);
            if (component == nullptr)
                fail(path, lineNo,
                    QStringLiteral("unknown section [%1]: the window has no component of that name")
                        .arg(shortened(section)));
            section = component->objectName();
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            fail(path, lineNo, QStringLiteral("expected key=value, found \"%1\"").arg(shortened(line)));
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (component == nullptr)
            fail(path, lineNo, QStringLiteral("key %1 stands before any [section]").arg(shortened(key)));

        const Setting* setting = findSetting(section, key);
        if (setting == nullptr) {
            const QStringList keys = keysOf(section);
            const QString hint = keys.isEmpty()
                ? QStringLiteral("[%1] has no deployment settings (only [uniConnDataCenter] and [Socket1] have)")
                      .arg(section)
                : QStringLiteral("[%1] takes %2").arg(section, keys.join(QStringLiteral(", ")));
            fail(path, lineNo, QStringLiteral("unknown key %1 in section [%2]; %3").arg(shortened(key), section, hint));
        }
        const QString name = QLatin1String(setting->key);
        for (const Assignment& earlier : assignments) {
            if (earlier.component != component)
                continue;
            if (earlier.setting == setting)
                fail(path, lineNo,
                    QStringLiteral("key %1 in section [%2] was already set on line %3")
                        .arg(name, section, QString::number(earlier.line)));
            if (setting->excludes != nullptr && sameName(QLatin1String(earlier.setting->key), setting->excludes))
                fail(path, lineNo,
                    QStringLiteral("key %1 in section [%2]: %3 was set on line %4; give one of the two")
                        .arg(name, section, QLatin1String(earlier.setting->key), QString::number(earlier.line)));
        }
        QString why;
        const QVariant typed = typedValue(setting->kind, value, why);
        if (!typed.isValid())
            fail(path, lineNo,
                QStringLiteral("invalid value \"%1\" for key %2 in section [%3]: %4")
                    .arg(shortened(value), name, section, why));
        assignments.push_back({component, setting, typed, lineNo});
    }

    for (const Assignment& a : assignments) {
        const QString name = QLatin1String(a.setting->key);
        const QString section = a.component->objectName();
        const QMetaObject* meta = a.component->metaObject();
        const int index = meta->indexOfProperty(a.setting->key);
        QVariant value = a.value;
        if (index < 0 || !meta->property(index).isWritable() || !value.convert(meta->property(index).metaType()))
            fail(path, a.line, QStringLiteral("key %1 in section [%2] cannot be set on this build").arg(name, section));
        try {
            meta->property(index).write(a.component, value);
        } catch (const Exception& e) {
            fail(path, a.line, QStringLiteral("key %1 in section [%2]: %3").arg(name, section, e.Message()));
        }
    }
}

} // namespace velkaro
