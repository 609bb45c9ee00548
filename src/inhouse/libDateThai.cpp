#include "inhouse/libDateThai.h"

#include "core/Exceptions.h"
#include "core/Text.h"
#include "platform/MessageDisplay.h"
#include "platform/RegionalSettings.h"

#include <algorithm>

namespace velkaro {

TDateThai* DateThai = nullptr;

void InitializeLibDateThai()
{
    if (DateThai == nullptr)
        DateThai = new TDateThai;
}

void FinalizeLibDateThai()
{
    delete DateThai;
    DateThai = nullptr;
}

namespace {

constexpr int EraOffset = 543;
const QString EraThreshold = QStringLiteral("2400");
// The platform's text for a day, month and year that form no date.
constexpr const char* DateEncodeError = "Invalid argument to date encode";

// Ordinal comparison, code unit by code unit: the era tests and the month
// stepping compare texts this way, never by locale.
bool TextLess(const QString& a, const QString& b)
{
    return std::lexicographical_compare(
        a.cbegin(), a.cend(), b.cbegin(), b.cend(), [](QChar x, QChar y) { return x.unicode() < y.unicode(); });
}

bool TextAbove(const QString& a, const QString& b)
{
    return TextLess(b, a);
}

QString Num(int value)
{
    return QString::number(value);
}

// One or two characters: a single character gets a leading "0", anything
// longer (a sign included) stays as it is.
QString TwoDigits(int value)
{
    const QString text = Num(value);
    return text.size() == 1 ? u'0' + text : text;
}

// Years are written with at least four digits, as the format letters
// "yyyy" do.
QString FourDigitYear(int year)
{
    return year >= 0 ? QStringLiteral("%1").arg(year, 4, 10, QLatin1Char('0')) : Num(year);
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Characters 1-4 above "2400" as text are kept, otherwise their number plus
// 543: the year 2400 itself counts as Christian.
QString YearPart(const QString& text)
{
    const QString year = Copy(text, 1, 4);
    if (TextAbove(year, EraThreshold))
        return year;
    return Num(StrToInt(year) + EraOffset);
}

// Characters 1-4 below "2400" as text moved to the Buddhist era; the rest
// of the text follows unchanged.
QString ToBuddhistIfBelowThreshold(const QString& text)
{
    const QString year = Copy(text, 1, 4);
    if (!TextLess(year, EraThreshold))
        return text;
    return Num(StrToInt(year) + EraOffset) + text.mid(std::min<qsizetype>(4, text.size()));
}

void ShowValidationMessage(QStringView text)
{
    platform::Messages().Show(
        platform::ApplicationTitle(), text.toString(), platform::MessageIcon::Warning, platform::MessageButtons::Ok);
}

QDate EncodeDate(int year, int month, int day)
{
    const QDate date(year, month, day);
    if (year < 1 || year > 9999 || !date.isValid())
        throw EConvertError(QString::fromLatin1(DateEncodeError));
    return date;
}

// Day and month as two characters (a leading "0" for one character), the
// year as a plain number: yyyymmdd for ordinary dates.
QString JoinDbForm(int year, int month, int day)
{
    return Num(year) + TwoDigits(month) + TwoDigits(day);
}

int FebruaryDays(int christianYear)
{
    return IsLeapYear(christianYear) ? 29 : 28;
}

} // namespace

QString TDateThai::ThaiDateShort(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Copy(DateReceiver, 7, 2) + u'/' + Copy(DateReceiver, 5, 2) + u'/' + YearPart(DateReceiver);
}

QString TDateThai::ThaiDateShortMonth(const QString& DateReceiver) const
{
    QString result;
    if (DateReceiver.size() == 8) {
        const int day = StrToInt(Copy(DateReceiver, 7, 2));
        const int month = StrToInt(Copy(DateReceiver, 5, 2));
        if (!THMonthInStr.Contains(month))
            return QString();
        result = Num(day) + u' ' + THMonthInStr[month].toString() + u' ';
    }
    return result + YearPart(DateReceiver);
}

QString TDateThai::ThaiDateLong(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    const QString day = Copy(DateReceiver, 7, 2);
    const QString month = Copy(DateReceiver, 5, 2);
    const QString bhudYear = Copy(DateReceiver, 1, 4);
    // A Christian year stays empty on purpose: validation then refuses the
    // text, since this form only accepts Buddhist dates.
    QString year;
    if (TextAbove(bhudYear, EraThreshold))
        year = Num(StrToInt(bhudYear) - EraOffset);
    if (!CheckDateValid(day + month + year))
        return QString();
    const QDate date = platform::Regional().ReadSlashedDate(day + u'/' + month + u'/' + year);
    const QString head = Num(date.day()) + u' ' + platform::Regional().LongMonthName(date.month()) + u' ';
    const int christYear = StrToInt(year);
    if (christYear < 2400)
        year = Num(christYear + EraOffset);
    return head + year;
}

QString TDateThai::ThaiDateLongChrist(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    const QString day = Copy(DateReceiver, 7, 2);
    const QString month = Copy(DateReceiver, 5, 2);
    const QString year = Num(StrToInt(Copy(DateReceiver, 1, 4)) - EraOffset);
    if (!CheckDateValid(day + month + year))
        return QString();
    const QDate date = platform::Regional().ReadSlashedDate(day + u'/' + month + u'/' + year);
    return Num(date.day()) + u' ' + platform::Regional().LongMonthName(date.month()) + u' '
        + FourDigitYear(date.year());
}

QString TDateThai::MonthThaiName(int MonthIDX) const
{
    return THMonthFullNameInStr[MonthIDX].toString();
}

QString TDateThai::NormalDate(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Copy(DateReceiver, 1, 2) + u'/' + Copy(DateReceiver, 3, 2) + u'/' + Copy(DateReceiver, 5, 4);
}

QString TDateThai::NormalTime(const QString& TimeReceiver) const
{
    switch (TimeReceiver.size()) {
    case 0:
        return QString();
    case 4:
        return Copy(TimeReceiver, 1, 2) + u':' + Copy(TimeReceiver, 3, 2);
    case 6:
        return Copy(TimeReceiver, 1, 2) + u':' + Copy(TimeReceiver, 3, 2) + u':' + Copy(TimeReceiver, 5, 2);
    default:
        return QStringLiteral("--:--");
    }
}

QString TDateThai::BhudToChrist(const QString& BhudDate) const
{
    if (BhudDate.size() != 8)
        return QString();
    return Num(StrToInt(Copy(BhudDate, 1, 4)) - EraOffset) + Copy(BhudDate, 5, 4);
}

QString TDateThai::ChristToBhud(const QString& ChristDate) const
{
    if (ChristDate.size() != 8)
        return QString();
    return ToBuddhistIfBelowThreshold(ChristDate);
}

QString TDateThai::NormalFormat2DbFormat(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Copy(DateReceiver, 5, 4) + Copy(DateReceiver, 3, 2) + Copy(DateReceiver, 1, 2);
}

QString TDateThai::DbFormat2NormalFormat(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Copy(DateReceiver, 7, 2) + Copy(DateReceiver, 5, 2) + Copy(DateReceiver, 1, 4);
}

QString TDateThai::DateToDbDate(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 10)
        return QString();
    const QDate date = platform::Regional().ReadSlashedDate(DateReceiver);
    return FourDigitYear(date.year()) + TwoDigits(date.month()) + TwoDigits(date.day());
}

QString TDateThai::DateFormatToDbDate(const QDate& DateReceiver) const
{
    const QString regionalYear = FourDigitYear(platform::Regional().AlternativeYear(DateReceiver));
    const QString monthDay = TwoDigits(DateReceiver.month()) + TwoDigits(DateReceiver.day());
    if (TextAbove(regionalYear, EraThreshold))
        return regionalYear + monthDay;
    return Num(StrToInt(regionalYear) + EraOffset) + monthDay;
}

QString TDateThai::GetStartDateOfMonth(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Copy(DateReceiver, 1, 6) + QStringLiteral("01");
}

QString TDateThai::GetEndDateOfMonth(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    const int days = GetDayInMonth(DateReceiver);
    if (days == 0)
        return QString();
    return Copy(DateReceiver, 1, 6) + Num(days);
}

int TDateThai::DaysInDateNormalFormat(const QString& DateReceiver) const
{
    return DateReceiver.size() == 8 ? StrToInt(Copy(DateReceiver, 1, 2)) : 0;
}

int TDateThai::MonthInDateNormalFormat(const QString& DateReceiver) const
{
    return DateReceiver.size() == 8 ? StrToInt(Copy(DateReceiver, 3, 2)) : 0;
}

int TDateThai::YearInDateNormalFormat(const QString& DateReceiver) const
{
    return DateReceiver.size() == 8 ? StrToInt(Copy(DateReceiver, 5, 4)) : 0;
}

QString TDateThai::BhudToChistNormalFormat(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Copy(DateReceiver, 1, 4) + Num(StrToInt(Copy(DateReceiver, 5, 4)) - EraOffset);
}

QString TDateThai::ChistToBhudNormalFormat(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Copy(DateReceiver, 1, 4) + Num(StrToInt(Copy(DateReceiver, 5, 4)) + EraOffset);
}

bool TDateThai::CheckDateValid(const QString& DateReceiver) const
{
    // All parts are read before any test, so a non-number raises before a
    // message could be shown.
    const int day = DaysInDateNormalFormat(DateReceiver);
    const int month = MonthInDateNormalFormat(DateReceiver);
    // Round trip through the Christian form: the year as written, except
    // where its Christian form is too short to be read back (then 0 + 543).
    const int year = YearInDateNormalFormat(BhudToChistNormalFormat(DateReceiver)) + EraOffset;

    if (DateReceiver.isEmpty())
        return true;
    if (DateReceiver.size() != 8) {
        ShowValidationMessage(ShowMessageDayInvalid);
        return false;
    }
    if (month < 1 || month > 12) {
        ShowValidationMessage(ShowMessageMonthOutOfLimit);
        return false;
    }
    const int limit = month == 2 ? FebruaryDays(year) : DaysInMonths[month];
    if (day > limit) {
        ShowValidationMessage(ShowMessageDayOutOfLimit);
        return false;
    }
    return true;
}

QString TDateThai::DayInDateDbFormat(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Num(StrToInt(Copy(DateReceiver, 7, 2)));
}

QString TDateThai::MonthInDateDbFormat(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Num(StrToInt(Copy(DateReceiver, 5, 2)));
}

QString TDateThai::YearInDateDbFormat(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        return QString();
    return Copy(DateReceiver, 1, 4);
}

QString TDateThai::DayInDate(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 10)
        return QString();
    return Num(platform::Regional().ReadSlashedDate(DateReceiver).day());
}

QString TDateThai::MonthInDate(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 10)
        return QString();
    return Num(platform::Regional().ReadSlashedDate(DateReceiver).month());
}

QString TDateThai::YearInDate(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 10)
        return QString();
    return FourDigitYear(platform::Regional().ReadSlashedDate(DateReceiver).year());
}

int TDateThai::DifMonth(const QString& StartMonth, const QString& EndMonth) const
{
    QString start = Copy(StartMonth, 1, 6);
    const QString end = Copy(EndMonth, 1, 6);
    int month = StrToInt(Copy(start, 5, 2));
    int year = StrToInt(Copy(start, 1, 4));

    int count = 0;
    if (TextAbove(end, start) && !TextLess(Copy(EndMonth, 7, 2), Copy(StartMonth, 7, 2)))
        count = 1;

    while (TextLess(start, end)) {
        ++month;
        if (month == 13) {
            month = 1;
            ++year;
        }
        // Every reachable month-form end has a four-digit year and a month
        // 01 to 12, so it is met by 999912 at the latest; a stepping that
        // would go beyond, or through a month no table has, never meets it.
        if (!MonthInStr.Contains(month) || year > 9999)
            return 0;
        start = Num(year) + MonthInStr[month].toString();
        ++count;
    }
    return count;
}

QString TDateThai::CalcNextMonth(const QString& CurrentDate) const
{
    if (CurrentDate.size() != 8)
        return QString();
    int day = StrToIntDef(Copy(CurrentDate, 7, 2), 0);
    int month = StrToIntDef(Copy(CurrentDate, 5, 2), 0);
    int year = StrToIntDef(Copy(CurrentDate, 1, 4), 0);

    ++month;
    int limit = 0;
    if (month == 13) {
        month = 1;
        limit = 31;
        ++year;
    } else if (month == 2) {
        // The year is taken as Buddhist even when it is not; a Christian
        // date keeps its era but is judged as if 543 years earlier.
        limit = FebruaryDays(year - EraOffset);
    } else if (DaysInMonths.Contains(month)) {
        limit = DaysInMonths[month];
    } else {
        return QString();
    }
    return JoinDbForm(year, month, std::min(day, limit));
}

QString TDateThai::CalcPreviousMonth(const QString& CurrentDate) const
{
    if (CurrentDate.size() != 8)
        return QString();
    int day = StrToIntDef(Copy(CurrentDate, 7, 2), 0);
    int month = StrToIntDef(Copy(CurrentDate, 5, 2), 0);
    int year = StrToIntDef(Copy(CurrentDate, 1, 4), 0);

    if (year < 2400)
        year += EraOffset;
    --month;
    int limit = 0;
    if (month == 0) {
        month = 12;
        limit = 31;
        --year;
    } else if (month == 2) {
        limit = FebruaryDays(year - EraOffset);
    } else if (DaysInMonths.Contains(month)) {
        limit = DaysInMonths[month];
    } else {
        return QString();
    }
    return JoinDbForm(year, month, std::min(day, limit));
}

QString TDateThai::GetYearIfMaybeBuddhistEra(const QString& strDate) const
{
    const QString yearText = Copy(strDate, 1, 4);
    const int year = StrToInt(yearText);
    return year <= 2400 ? yearText : Num(year - EraOffset);
}

int TDateThai::DifDay(const QString& StartDate, const QString& EndDate) const
{
    struct Parts {
        int day;
        int month;
        int year;
    };
    // Every part of both texts is read before either date is built, so a
    // text that is no number is reported ahead of a start that is no date.
    const auto read = [this](const QString& text) {
        Parts parts {};
        parts.day = StrToInt(Copy(text, 7, 2));
        parts.month = StrToInt(Copy(text, 5, 2));
        parts.year = StrToInt(GetYearIfMaybeBuddhistEra(text));
        return parts;
    };
    const Parts start = read(StartDate);
    const Parts end = read(EndDate);
    const QDate startDate = EncodeDate(start.year, start.month, start.day);
    const QDate endDate = EncodeDate(end.year, end.month, end.day);
    return int(std::abs(startDate.daysTo(endDate)));
}

QDate TDateThai::DbFormatToDate(const QString& DateReceiver) const
{
    if (DateReceiver.size() != 8)
        throw EConvertError(QString::fromLatin1(msg::InvalidDate).arg(DateReceiver));
    const QString year = Copy(DateReceiver, 1, 4);
    const QString dayMonth = Copy(DateReceiver, 7, 2) + u'/' + Copy(DateReceiver, 5, 2) + u'/';
    if (TextAbove(year, EraThreshold))
        return platform::Regional().ReadSlashedDate(dayMonth + Num(StrToInt(year) - EraOffset));
    return platform::Regional().ReadSlashedDate(dayMonth + year);
}

QString TDateThai::GetCurrentBudgetYear() const
{
    const QDate today = platform::SystemClock().Today();
    int year = today.year();
    if (!TextLess(TwoDigits(today.month()) + TwoDigits(today.day()), QStringLiteral("1001")))
        ++year;
    return Num(year + EraOffset);
}

QString TDateThai::GetBudgetYearFromDate(const QString& DateReceiver) const
{
    if (TextLess(Copy(DateReceiver, 5, 2), QStringLiteral("10")))
        return Copy(DateReceiver, 1, 4);
    return Num(StrToInt(Copy(DateReceiver, 1, 4)) + 1);
}

QString TDateThai::GetStartDateOfBudgetYear(const QString& DateReceiver) const
{
    const QString date = ToBuddhistIfBelowThreshold(DateReceiver);
    if (TextLess(Copy(date, 5, 2), QStringLiteral("10")))
        return Num(StrToInt(GetBudgetYearFromDate(date)) - 1) + QStringLiteral("1001");
    return Copy(date, 1, 4) + QStringLiteral("1001");
}

QString TDateThai::GetEndDateOfBudgetYear(const QString& DateReceiver) const
{
    return GetBudgetYearFromDate(ToBuddhistIfBelowThreshold(DateReceiver)) + QStringLiteral("0930");
}

QString TDateThai::DifTime(const QString& StartTime, const QString& EndTime) const
{
    // Hours before minutes, start before end: the first part that is no
    // number is the one the error names.
    const auto minutes = [](const QString& time) {
        const int hours = StrToInt(Copy(time, 1, 2));
        return hours * 60 + StrToInt(Copy(time, 4, 2));
    };
    const int start = minutes(StartTime);
    const int difference = minutes(EndTime) - start;
    // C++ division truncates toward zero and the remainder takes the sign
    // of the difference, which is the form wanted for negative spans.
    return TwoDigits(difference / 60) + u':' + TwoDigits(difference % 60);
}

int TDateThai::DifYear(const QString& StartDate, const QString& EndDate) const
{
    const int endYear = StrToInt(Copy(EndDate, 1, 4));
    const int startYear = StrToInt(Copy(StartDate, 1, 4));
    return (endYear - startYear - 1) * 12;
}

int TDateThai::GetDayInMonth(const QString& strDate) const
{
    const int month = StrToInt(Copy(strDate, 5, 2));
    if (month == 2)
        return FebruaryDays(StrToInt(Copy(strDate, 1, 4)) - EraOffset);
    return DaysInMonths[month];
}

bool TDateThai::CheckWeekEnd(const QDate& strDate) const
{
    const QString name = platform::Regional().ShortDayName(strDate);
    const QString upper = UpperAscii(name);
    return upper == u"SAT" || upper == u"SUN" || name == u"ส." || name == u"อา.";
}

QString TDateThai::GetMonthYearName(const QString& DateReceiver) const
{
    QString result;
    if (DateReceiver.size() == 6) {
        const int month = StrToInt(Copy(DateReceiver, 5, 2));
        if (!THMonthFullNameInStr.Contains(month))
            return QString();
        result = THMonthFullNameInStr[month].toString() + u' ';
    }
    return result + YearPart(DateReceiver);
}

QString TDateThai::FlipDBDateToNormalDate(const QString& DateReceiver) const
{
    return DbFormat2NormalFormat(DateReceiver);
}

QString TDateThai::FlipNormalDateToDBDate(const QString& DateReceiver) const
{
    return NormalFormat2DbFormat(DateReceiver);
}

} // namespace velkaro
