#include "support/Fixtures.h"

#include "core/Exceptions.h"
#include "data/ClientDataSet.h"

#include <QFile>
#include <QLocale>

namespace velkaro::testing {

TempExeFolder::TempExeFolder()
{
    platform::SetExecutableFolderForTesting(dir_.path());
}

TempExeFolder::~TempExeFolder()
{
    platform::SetExecutableFolderForTesting(QString());
}

void TempExeFolder::Write(const QString& name, const QByteArray& bytes) const
{
    WriteFile(File(name), bytes);
}

QByteArray TempExeFolder::Read(const QString& name) const
{
    QFile f(File(name));
    if (!f.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("test fixture: cannot read ") + f.fileName());
    return f.readAll();
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw Exception(QStringLiteral("test fixture: cannot write ") + path);
}

void WriteConfigFile(const QString& path, const QList<QStringList>& rows)
{
    TClientDataSet table;
    table.FieldDefs() = {TFieldDef {QStringLiteral("Section"), TFieldType::ftString, 20},
        TFieldDef {QStringLiteral("Key"), TFieldType::ftString, 20},
        TFieldDef {QStringLiteral("Value"), TFieldType::ftString, 255}};
    table.CreateDataSet();
    for (const QStringList& r : rows) {
        table.Append();
        for (int i = 0; i < 3; ++i)
            table.Fields(i)->SetAsString(r[i]);
        table.Post();
    }
    table.SaveToFile(path);
}

bool TempExeFolder::Exists(const QString& name) const
{
    return QFile::exists(File(name));
}

QDate FixedRegionalSettings::ReadSlashedDate(const QString& text) const
{
    return platform::ReadDayMonthYear(text);
}

QString FixedRegionalSettings::LongMonthName(int month) const
{
    const QLocale locale(names_ == Names::Thai ? QLocale::Thai : QLocale::English);
    return locale.standaloneMonthName(month, QLocale::LongFormat);
}

QString FixedRegionalSettings::ShortDayName(const QDate& date) const
{
    const QLocale locale(names_ == Names::Thai ? QLocale::Thai : QLocale::English);
    return locale.dayName(date.dayOfWeek(), QLocale::ShortFormat);
}

QByteArray Hex(const char* spacedHex)
{
    return QByteArray::fromHex(QByteArray(spacedHex).replace(' ', ""));
}

QString ToHex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

} // namespace velkaro::testing
