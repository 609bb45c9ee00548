#include "platform/RegionalSettings.h"

#include "platform/Errors.h"

#include <QLocale>
#include <QRegularExpression>

namespace velkaro::platform {

namespace {

// The program's locale (QLocale(): the user's own unless the program chose
// another): a Thai locale gives Thai names and the Buddhist calendar, any
// other its own names and the Christian calendar. The locale is looked up
// at each call, so it follows QLocale::setDefault; the programs never call
// that, so for them it is read once and never changes.
class LocaleRegionalSettings : public RegionalSettings {
public:
    // Always day/month/year with "/", whatever the locale's own short-date
    // order: every text the system reads is written that way, and reading
    // it in another order would swap day and month silently.
    QDate ReadSlashedDate(const QString& text) const override { return ReadDayMonthYear(text); }

    QString LongMonthName(int month) const override
    {
        return QLocale().standaloneMonthName(month, QLocale::LongFormat);
    }

    QString ShortDayName(const QDate& date) const override
    {
        return QLocale().dayName(date.dayOfWeek(), QLocale::ShortFormat);
    }

    int AlternativeYear(const QDate& date) const override
    {
        return QLocale().language() == QLocale::Thai ? date.year() + 543 : date.year();
    }

    int AnsiCodePage() const override { return 874; }
};

class RealClock : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
};

const RegionalSettings*& installedSettings()
{
    static const RegionalSettings* settings = nullptr;
    return settings;
}

const Clock*& installedClock()
{
    static const Clock* clock = nullptr;
    return clock;
}

} // namespace

QDate ReadDayMonthYear(const QString& text)
{
    static const QRegularExpression shape(QStringLiteral("^([0-9]{1,2})/([0-9]{1,2})/([0-9]{1,4})$"));
    const QRegularExpressionMatch m = shape.match(text);
    QDate date;
    if (m.hasMatch())
        date = QDate(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    if (!date.isValid())
        throw EConvertError(QString::fromLatin1(msg::InvalidDate).arg(text));
    return date;
}

const RegionalSettings& Regional()
{
    static const LocaleRegionalSettings real;
    return installedSettings() != nullptr ? *installedSettings() : real;
}

void SetRegionalSettings(const RegionalSettings* settings)
{
    installedSettings() = settings;
}

const Clock& SystemClock()
{
    static const RealClock real;
    return installedClock() != nullptr ? *installedClock() : real;
}

void SetClock(const Clock* clock)
{
    installedClock() = clock;
}

} // namespace velkaro::platform
