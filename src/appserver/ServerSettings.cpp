#include "appserver/ServerSettings.h"

#include "core/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <functional>
#include <optional>
#include <set>

namespace velkaro {

namespace {

constexpr qint64 MaxFileSize = 64 * 1024;

using Setter = std::function<QString(TAppServerSettings&, const QString& value, const QString& baseFolder)>;

struct Setting {
    const char* section;
    const char* key;
    const char* option; // the command-line option that sets it too, or null
    Setter set;
};

std::optional<qint64> wholeNumber(const QString& value, qint64 low, qint64 high)
{
    if (value.isEmpty() || value.size() > 9)
        return std::nullopt;
    for (const QChar c : value) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const qint64 n = value.toLongLong();
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

Setter number(int TAppServerSettings::*field, qint64 low, qint64 high)
{
    return [=](TAppServerSettings& s, const QString& value, const QString&) -> QString {
        const auto n = wholeNumber(value, low, high);
        if (!n)
            return QStringLiteral("a whole number from %1 to %2").arg(QString::number(low), QString::number(high));
        s.*field = int(*n);
        return {};
    };
}

const std::vector<Setting>& settingsTable()
{
    static const std::vector<Setting> table = {
        {"Server", "Listen", "listen",
            [](TAppServerSettings& s, const QString& value, const QString&) -> QString {
                quint32 ip = 0;
                if (value.isEmpty() || !platform::LookUpIPv4(value, ip).Ok())
                    return QStringLiteral("an IPv4 address (0.0.0.0 for every interface) or a host name that resolves");
                s.listen.ip = ip;
                return {};
            }},
        {"Server", "Port", "port",
            [](TAppServerSettings& s, const QString& value, const QString&) -> QString {
                const auto n = wholeNumber(value, 0, 65535);
                if (!n)
                    return QStringLiteral("a port is a whole number from 1 to 65535 (0: any free port)");
                s.listen.port = quint16(*n);
                return {};
            }},
        {"Server", "MaxClients", "max-clients", number(&TAppServerSettings::maxClients, 1, 10000)},
        {"Server", "IdleTimeout", "idle-timeout", number(&TAppServerSettings::idleTimeoutSeconds, 1, 86400)},
        {"Server", "RequestTimeout", "request-timeout", number(&TAppServerSettings::requestTimeoutSeconds, 1, 3600)},
        {"Server", "SendTimeout", "send-timeout", number(&TAppServerSettings::sendTimeoutSeconds, 1, 3600)},
        {"Server", "StopTimeout", "stop-timeout", number(&TAppServerSettings::stopTimeoutSeconds, 0, 3600)},
        {"Release", "Folder", "release-folder",
            [](TAppServerSettings& s, const QString& value, const QString& baseFolder) -> QString {
                if (value.isEmpty())
                    return QStringLiteral("a folder may not be empty");
                s.releaseFolder = QDir::cleanPath(QDir(baseFolder).absoluteFilePath(value));
                return {};
            }},
        {"Log", "Level", "log-level",
            [](TAppServerSettings& s, const QString& value, const QString&) -> QString {
                const QString v = value.toLower();
                if (v == u"errors")
                    s.logLevel = LogLevel::Errors;
                else if (v == u"connections")
                    s.logLevel = LogLevel::Connections;
                else if (v == u"requests")
                    s.logLevel = LogLevel::Requests;
                else
                    return QStringLiteral("one of errors, connections, requests");
                return {};
            }},
    };
    return table;
}

bool sameName(const QString& a, const char* b)
{
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

QString shortened(const QString& text)
{
    constexpr qsizetype MaxQuoted = 60;
    return text.size() <= MaxQuoted ? text : text.left(MaxQuoted) + QStringLiteral("...");
}

[[noreturn]] void fail(const QString& path, int line, const QString& what)
{
    throw Exception(QStringLiteral("%1, line %2: %3").arg(path, QString::number(line), what));
}

} // namespace

void ReadSettingsFile(const QString& path, TAppServerSettings& settings)
{
    if (!QFileInfo(path).isFile())
        throw Exception(QStringLiteral("The settings file %1 does not exist or is not a file").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot read the settings file %1: %2").arg(path, file.errorString()));
    QByteArray bytes = file.read(MaxFileSize + 1);
    if (bytes.size() > MaxFileSize)
        throw Exception(
            QStringLiteral("%1: a settings file holds at most %2 bytes").arg(path, QString::number(MaxFileSize)));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw Exception(QStringLiteral("%1: the file is not UTF-8 text").arg(path));

    const QString baseFolder = QFileInfo(path).absolutePath();
    QString section;
    std::set<std::pair<QString, QString>> seen;
    int number = 0;
    for (const QString& raw : text.split(u'\n')) {
        ++number;
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']') || line.size() < 3)
                fail(path, number, QStringLiteral("a section line is [Name]"));
            section = line.mid(1, line.size() - 2).trimmed();
            bool known = false;
            for (const Setting& s : settingsTable())
                known = known || sameName(section, s.section);
            if (!known)
                fail(path, number,
                    QStringLiteral("unknown section [%1]; the sections are [Server], [Release] and [Log]")
                        .arg(shortened(section)));
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            fail(path, number, QStringLiteral("a setting line is Key=Value"));
        if (section.isEmpty())
            fail(path, number, QStringLiteral("a setting before the first [Section]"));
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        const Setting* setting = nullptr;
        for (const Setting& s : settingsTable()) {
            if (sameName(section, s.section) && sameName(key, s.key))
                setting = &s;
        }
        if (setting == nullptr)
            fail(path, number, QStringLiteral("unknown key %1 in section [%2]").arg(shortened(key), section));
        if (!seen.insert({QString::fromLatin1(setting->section), QString::fromLatin1(setting->key)}).second)
            fail(path, number, QStringLiteral("key %1 in section [%2] is given twice").arg(key, section));
        const QString why = setting->set(settings, value, baseFolder);
        if (!why.isEmpty())
            fail(path, number,
                QStringLiteral("invalid value \"%1\" for key %2 in section [%3]: %4")
                    .arg(shortened(value), key, section, why));
    }
}

TCommandLine ParseCommandLine(const QStringList& arguments)
{
    TCommandLine result;
    // The file first, so that the options given beside it win.
    std::vector<std::pair<const Setting*, QString>> options;
    QString configFile;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        if (name == u"-h" || name == u"--help") {
            result.action = TCommandLine::Action::Help;
            return result;
        }
        if (name == u"--version") {
            result.action = TCommandLine::Action::Version;
            return result;
        }
        if (!name.startsWith(QStringLiteral("--")))
            throw Exception(QStringLiteral("Unexpected argument \"%1\" (see --help)").arg(shortened(name)));
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf(u'='); eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        }
        name = name.mid(2);
        const Setting* setting = nullptr;
        for (const Setting& s : settingsTable()) {
            if (s.option != nullptr && name == QLatin1String(s.option))
                setting = &s;
        }
        if (setting == nullptr && name != u"config")
            throw Exception(QStringLiteral("Unknown option --%1 (see --help)").arg(shortened(name)));
        if (!value) {
            if (i + 1 >= arguments.size())
                throw Exception(QStringLiteral("The option --%1 needs a value").arg(name));
            value = arguments[++i];
        }
        if (setting == nullptr)
            configFile = *value;
        else
            options.emplace_back(setting, *value);
    }

    if (!configFile.isEmpty())
        ReadSettingsFile(configFile, result.settings);
    const QString workingFolder = QDir::currentPath();
    for (const auto& [setting, value] : options) {
        const QString why = setting->set(result.settings, value, workingFolder);
        if (!why.isEmpty())
            throw Exception(QStringLiteral("Invalid value \"%1\" for --%2: %3")
                                .arg(shortened(value), QLatin1String(setting->option), why));
    }
    if (result.settings.releaseFolder.isEmpty())
        throw Exception(QStringLiteral("No release folder given: use --release-folder or Folder in section [Release]"));
    return result;
}

QString UsageText()
{
    return QStringLiteral(
        "Usage: VelkaroAppServer [--config FILE] [options]\n"
        "\n"
        "Serves the update client's link: creates VelkaroAS.VelkaroDM objects and answers\n"
        "DownloadUpdate(name) with the file <release folder>/<name>.exe.\n"
        "\n"
        "  --config FILE          settings file (INI: [Server], [Release], [Log])\n"
        "  --listen ADDRESS       IPv4 address or host name to listen on (default 0.0.0.0)\n"
        "  --port N               TCP port (default 216; 0: any free port)\n"
        "  --release-folder DIR   folder of the released programs (required)\n"
        "  --max-clients N        clients served at a time (default 64)\n"
        "  --idle-timeout S       seconds without a request before a link is closed (default 900)\n"
        "  --request-timeout S    seconds a begun request may take to arrive (default 30)\n"
        "  --send-timeout S       seconds a client may take no bytes before it is dropped (default 60)\n"
        "  --stop-timeout S       seconds running requests get to finish on SIGTERM (default 10)\n"
        "  --log-level LEVEL      errors, connections or requests (default requests)\n"
        "  --help, --version\n"
        "\n"
        "Options given on the command line win over the file. The log goes to standard error.\n");
}

} // namespace velkaro
