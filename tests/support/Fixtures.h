#pragma once
// Small fixtures shared by the tests.

#include "platform/AppPaths.h"
#include "platform/RegionalSettings.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>

// Readable texts in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace velkaro::testing {

// A temporary folder that stands in for the executable's folder while the
// object lives.
class TempExeFolder {
public:
    TempExeFolder();
    ~TempExeFolder();
    QString Path() const { return dir_.path() + u'/'; }
    QString File(const QString& name) const { return Path() + name; }
    void Write(const QString& name, const QByteArray& bytes) const;
    QByteArray Read(const QString& name) const;
    bool Exists(const QString& name) const;

private:
    QTemporaryDir dir_;
};

// Regional settings chosen by the test: Thai or English names, Buddhist or
// Christian alternative year, code page 874.
class FixedRegionalSettings : public platform::RegionalSettings {
public:
    enum class Names { Thai, English };
    explicit FixedRegionalSettings(Names names = Names::Thai, bool buddhistYear = true)
        : names_(names)
        , buddhistYear_(buddhistYear)
    {
    }
    QDate ReadSlashedDate(const QString& text) const override;
    QString LongMonthName(int month) const override;
    QString ShortDayName(const QDate& date) const override;
    int AlternativeYear(const QDate& date) const override { return date.year() + (buddhistYear_ ? 543 : 0); }
    int AnsiCodePage() const override { return 874; }

private:
    Names names_;
    bool buddhistYear_;
};

class FixedClock : public platform::Clock {
public:
    explicit FixedClock(QDateTime now)
        : now_(std::move(now))
    {
    }
    QDateTime Now() const override { return now_; }

private:
    QDateTime now_;
};

// Texts from UTF-8 literals, and back for failure messages.
inline QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}
inline std::string S(const QString& text)
{
    return text.toStdString();
}

// Whole files, outside any code under test. ReadFile gives "<unreadable>"
// for a file that cannot be read; WriteFile raises.
QByteArray ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& bytes);

// A configuration table file with the editor's row layout and these rows
// (Section, Key, Value each).
void WriteConfigFile(const QString& path, const QList<QStringList>& rows);

// Byte vectors written the way the documented formats show them.
QByteArray Hex(const char* spacedHex);
QString ToHex(const QByteArray& bytes);

} // namespace velkaro::testing
