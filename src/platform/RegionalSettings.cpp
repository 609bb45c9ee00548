#include "platform/RegionalSettings.h"

#include "core/Exceptions.h"

#include <QLocale>
#include <QRegularExpression>

namespace velkaro::platform {

namespace {

// The user's locale: a Thai locale gives Thai names and the Buddhist
// calendar, any other its own names and the Christian calendar.
class LocaleRegionalSettings : public RegionalSettings {
public:
    LocaleRegionalSettings() : locale_(QLocale::system()) {}

    QDate ReadSlashedDate(const QString& text) const override
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

    QString LongMonthName(int month) const override { return locale_.standaloneMonthName(month, QLocale::LongFormat); }

    QString ShortDayName(const QDate& date) const override
    {
        return locale_.dayName(date.dayOfWeek(), QLocale::ShortFormat);
    }

    int AlternativeYear(const QDate& date) const override
    {
        return locale_.language() == QLocale::Thai ? date.year() + 543 : date.year();
    }

    int AnsiCodePage() const override { return 874; }

private:
    QLocale locale_;
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
