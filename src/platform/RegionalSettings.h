#pragma once
// The user's regional settings and the clock, as the in-house units and the
// table engine need them. Read once at start; tests install their own.

#include <QDate>
#include <QDateTime>
#include <QString>

namespace velkaro::platform {

class RegionalSettings {
public:
    virtual ~RegionalSettings() = default;

    // The regional date reader for slashed texts: day/month/year with "/".
    // An impossible date or another shape raises EConvertError
    // "''%s'' is not a valid date".
    virtual QDate ReadSlashedDate(const QString& text) const = 0;
    // Long month name of month 1..12 (format letters "mmmm").
    virtual QString LongMonthName(int month) const = 0;
    // Short day name of the date (format letters "ddd").
    virtual QString ShortDayName(const QDate& date) const = 0;
    // The four-digit year of the date in the regional alternative calendar
    // (format letters "eeee"): Buddhist era under a Thai locale.
    virtual int AlternativeYear(const QDate& date) const = 0;
    // The ANSI code page of 8-bit texts (874, Thai, by default).
    virtual int AnsiCodePage() const = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() const = 0;
    QDate Today() const { return Now().date(); }
};

// The strict slashed-date reading both the real settings and test settings
// use: day/month/year with "/", day and month one or two digits, the year one
// to four, taken as written; anything else, or a date that does not exist,
// raises EConvertError "''%s'' is not a valid date".
QDate ReadDayMonthYear(const QString& text);

// The settings and clock in force: the user's own unless some were installed.
const RegionalSettings& Regional();
void SetRegionalSettings(const RegionalSettings* settings); // not owned; null restores
const Clock& SystemClock();
void SetClock(const Clock* clock); // not owned; null restores

} // namespace velkaro::platform
