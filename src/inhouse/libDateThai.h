#pragma once
// libDateThai: the Thai calendar toolkit. Dates travel as short texts of
// fixed layout and the year is written in the Buddhist era (BE, the Thai
// civil year) or the Christian era (CE); BE = CE + 543.
//
// Text forms (recognised by length alone; the characters are only examined
// when a part is read as a number):
//   database form  yyyymmdd   (8)     normal form  ddmmyyyy  (8)
//   slashed form   dd/mm/yyyy (10)    month form   yyyymm    (6)
//   time forms     hhmm, hhmmss (4, 6)
// Positions count UTF-16 code units from 1; cutting beyond the end gives
// fewer characters, never an error.
//
// Eras: a year above 2400 is Buddhist, 2400 or below Christian. Most
// operations decide this by comparing characters 1-4 with "2400" as text
// (code unit by code unit, never failing); each operation below says how it
// tests and on which side 2400 itself falls. Several "year parts" are built
// by the rule: characters 1-4 above "2400" as text are kept as they stand,
// otherwise their number plus 543.
//
// Numbers: a part read as a number goes through StrToInt (optional leading
// blanks, optional sign, digits, nothing after); anything else, the empty
// part included, raises EConvertError "''<part>'' is not a valid integer
// value". Only CalcNextMonth and CalcPreviousMonth count a non-number as 0.
// Numbers are written back in decimal without leading zeros unless stated.
//
// Slashed texts are read by platform::Regional().ReadSlashedDate, which
// raises EConvertError "''<text>'' is not a valid date" for an impossible
// date. Month names, short day names, the alternative-calendar year and the
// clock also come from the platform seams, so tests can install their own.
//
// Months outside 1 to 12 have no entry in any table here. Where a month read
// from a text falls outside 1 to 12 and must be looked up, the operation
// gives "" (texts) or 0 (numbers); each such case is named below. Nothing is
// ever read outside a table.
//
// Date values are QDate: whole days, no time of day. Operations taking one
// expect a valid date; a null QDate is no date and gives no meaningful text.

#include <QDate>
#include <QString>
#include <QStringView>

#include <array>

namespace velkaro {

// A constant table indexed by month 1 to 12. Any other month has no entry:
// operator[] then gives the empty value ("" or 0) rather than reading
// outside the table.
template <typename T> class MonthTable {
public:
    constexpr explicit MonthTable(const std::array<T, 12>& entries)
        : entries_(entries)
    {
    }
    static constexpr bool Contains(int month) { return month >= 1 && month <= 12; }
    constexpr T operator[](int month) const { return Contains(month) ? entries_[month - 1] : T {}; }

private:
    std::array<T, 12> entries_;
};

// Thai month abbreviations and full names.
inline constexpr MonthTable<QStringView> THMonthInStr({
    u"ม.ค.",
    u"ก.พ.",
    u"มี.ค.",
    u"เม.ย.",
    u"พ.ค.",
    u"มิ.ย.",
    u"ก.ค.",
    u"ส.ค.",
    u"ก.ย.",
    u"ต.ค.",
    u"พ.ย.",
    u"ธ.ค.",
});
inline constexpr MonthTable<QStringView> THMonthFullNameInStr({
    u"มกราคม",
    u"กุมภาพันธ์",
    u"มีนาคม",
    u"เมษายน",
    u"พฤษภาคม",
    u"มิถุนายน",
    u"กรกฎาคม",
    u"สิงหาคม",
    u"กันยายน",
    u"ตุลาคม",
    u"พฤศจิกายน",
    u"ธันวาคม",
});
// February is listed with 28 days; operations that need its length apply
// the Gregorian leap-year rule to a Christian-era year themselves.
inline constexpr MonthTable<int> DaysInMonths({31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31});
// Two-digit month texts, used to build month-form texts.
inline constexpr MonthTable<QStringView> MonthInStr({
    u"01",
    u"02",
    u"03",
    u"04",
    u"05",
    u"06",
    u"07",
    u"08",
    u"09",
    u"10",
    u"11",
    u"12",
});

// Stateless: every operation depends only on its arguments and the platform
// seams (regional settings, clock, message display).
class TDateThai {
public:
    // Database form -> dd/mm/<year part>; wrong length gives "". The year
    // "2400" counts as Christian (shown as 2943); "2401" is kept.
    QString ThaiDateShort(const QString& DateReceiver) const;
    // Database form -> "<day without zero> <month abbreviation> <year part>".
    // Another length gives the year part alone ("" raises: its year part is
    // empty). A month outside 1 to 12 gives "" (the year is then not read).
    QString ThaiDateShortMonth(const QString& DateReceiver) const;
    // Database form with a Buddhist year -> "<day> <regional long month
    // name> <BE year>". Characters 1-4 not above "2400" (a Christian year)
    // leave the year empty, so validation refuses the text. A text the
    // validation refuses gives "" after its message; a day 00 passes it and
    // then raises the date error.
    QString ThaiDateLong(const QString& DateReceiver) const;
    // As ThaiDateLong, but characters 1-4 minus 543 (no era test) and the
    // Christian year printed: "<day> <long month name> <yyyy>".
    QString ThaiDateLongChrist(const QString& DateReceiver) const;
    // Full Thai name of month 1 to 12; any other number gives "".
    QString MonthThaiName(int MonthIDX) const;
    // Normal form -> dd/mm/yyyy, era unchanged; wrong length gives "".
    QString NormalDate(const QString& DateReceiver) const;
    // hhmm -> hh:mm, hhmmss -> hh:mm:ss, "" -> "", any other length "--:--".
    QString NormalTime(const QString& TimeReceiver) const;
    // Database form, year minus 543 with no era test; wrong length gives "".
    QString BhudToChrist(const QString& BhudDate) const;
    // Database form: characters 1-4 below "2400" as text get plus 543, else
    // the text is unchanged (2400 counts as Buddhist). Wrong length gives "".
    QString ChristToBhud(const QString& ChristDate) const;
    // ddmmyyyy -> yyyymmdd by moving characters; wrong length gives "".
    QString NormalFormat2DbFormat(const QString& DateReceiver) const;
    // yyyymmdd -> ddmmyyyy by moving characters; wrong length gives "".
    QString DbFormat2NormalFormat(const QString& DateReceiver) const;
    // Slashed form -> database form through the regional date reader; the
    // year number is carried over in whichever era it is. Another length
    // gives "".
    QString DateToDbDate(const QString& DateReceiver) const;
    // Date value -> database form with a Buddhist year, whichever calendar
    // the regional settings' alternative year follows: a regional year
    // above "2400" as text is used as it stands, otherwise plus 543.
    QString DateFormatToDbDate(const QDate& DateReceiver) const;
    // Characters 1-6 followed by "01"; wrong length gives "".
    QString GetStartDateOfMonth(const QString& DateReceiver) const;
    // Characters 1-6 followed by GetDayInMonth; wrong length gives "", and
    // so does a month outside 1 to 12.
    QString GetEndDateOfMonth(const QString& DateReceiver) const;
    // Day, month and year numbers of a normal-form text; wrong length gives 0.
    int DaysInDateNormalFormat(const QString& DateReceiver) const;
    int MonthInDateNormalFormat(const QString& DateReceiver) const;
    int YearInDateNormalFormat(const QString& DateReceiver) const;
    // Normal form, year minus (plus) 543 with no era test; a year that falls
    // below 1000 comes out shorter than four characters. Wrong length gives "".
    QString BhudToChistNormalFormat(const QString& DateReceiver) const;
    QString ChistToBhudNormalFormat(const QString& DateReceiver) const;
    // Validates a normal-form text. "" is valid. Otherwise one warning box
    // (caption: the application title) explains a refusal: wrong length,
    // month outside 01-12, or day beyond the month's last day (day 00
    // passes). February is judged by the year number as written, in either
    // era, except that a year written 0444 to 1542 is judged as the common
    // year 543 (its Christian form no longer fills four characters). A
    // non-number in an eight-character text raises before any message.
    bool CheckDateValid(const QString& DateReceiver) const;
    // Day or month of a database-form text without leading zero; wrong
    // length gives "".
    QString DayInDateDbFormat(const QString& DateReceiver) const;
    QString MonthInDateDbFormat(const QString& DateReceiver) const;
    // Characters 1-4 as they stand (never read as a number); wrong length "".
    QString YearInDateDbFormat(const QString& DateReceiver) const;
    // Day, month (without leading zero) and four-digit year of a slashed
    // text read by the regional date reader; another length gives "".
    QString DayInDate(const QString& DateReceiver) const;
    QString MonthInDate(const QString& DateReceiver) const;
    QString YearInDate(const QString& DateReceiver) const;
    // Month steps from the month of StartMonth to that of EndMonth, plus one
    // when the end day (characters 7-8) is not below the start day as text;
    // an end month not after the start month gives 0. Month texts compare as
    // text. A stepping that cannot reach the end (it would pass a start
    // month outside 1 to 12, or years beyond 9999) gives 0.
    int DifMonth(const QString& StartMonth, const QString& EndMonth) const;
    // The same day one month later (clamped to the month's last day),
    // yyyymmdd with day and month zero-filled to two characters; the year is
    // not converted. Non-numbers count as 0. Wrong length gives "", and so
    // does a month that steps outside 1 to 12 (input month above 12 or
    // negative).
    QString CalcNextMonth(const QString& CurrentDate) const;
    // As CalcNextMonth one month back, but a year below 2400 is first moved
    // to the Buddhist era. An input month 0, negative or above 13 gives "".
    QString CalcPreviousMonth(const QString& CurrentDate) const;
    // Characters 1-4 read as a number: 2400 or less kept as they stand,
    // otherwise the number minus 543.
    QString GetYearIfMaybeBuddhistEra(const QString& strDate) const;
    // Days between two database-form dates in either era, never negative.
    // The day, month and year of both texts are read first (a part that is
    // no number raises the integer error, the start's parts before the
    // end's), then both dates are built: a day, month and year that form no
    // date (or a year outside 1 to 9999) raise EConvertError "Invalid
    // argument to date encode".
    int DifDay(const QString& StartDate, const QString& EndDate) const;
    // Database form -> date value. Characters 1-4 above "2400" as text are
    // taken as Buddhist (minus 543), 2400 or below as Christian. A text of
    // another length has no date: it raises the date error naming it.
    QDate DbFormatToDate(const QString& DateReceiver) const;
    // Buddhist-era budget year of today's date (platform clock): a year runs
    // from 1 October and is named by the year in which it ends.
    QString GetCurrentBudgetYear() const;
    // Budget year of a database-form date in the era of the date.
    QString GetBudgetYearFromDate(const QString& DateReceiver) const;
    // 1 October opening / 30 September closing the date's budget year, in
    // the database form with a Buddhist year (characters 1-4 below "2400"
    // as text are first moved to the Buddhist era; 2400 counts as Buddhist).
    QString GetStartDateOfBudgetYear(const QString& DateReceiver) const;
    QString GetEndDateOfBudgetYear(const QString& DateReceiver) const;
    // hh:mm texts (the character between is not examined): end minus start
    // as hours, ":", minutes, each zero-filled to two characters; negative
    // parts keep their sign ("-1:-30"). The parts are read start hours,
    // start minutes, end hours, end minutes: the integer error names the
    // first of them that is no number.
    QString DifTime(const QString& StartTime, const QString& EndTime) const;
    // (end year - start year - 1) * 12 from characters 1-4.
    int DifYear(const QString& StartDate, const QString& EndDate) const;
    // Days of the month of a database-form text with a Buddhist year; the
    // length is not tested. A month outside 1 to 12 gives 0.
    int GetDayInMonth(const QString& strDate) const;
    // True when the regional short day name is "SAT" or "SUN" (letters a to
    // z in any case) or exactly "ส." or "อา.".
    bool CheckWeekEnd(const QDate& strDate) const;
    // Month form -> "<full Thai month name> <year part>"; another length
    // gives the year part alone. A month outside 1 to 12 gives "".
    QString GetMonthYearName(const QString& DateReceiver) const;
    // Same as DbFormat2NormalFormat / NormalFormat2DbFormat.
    QString FlipDBDateToNormalDate(const QString& DateReceiver) const;
    QString FlipNormalDateToDBDate(const QString& DateReceiver) const;
};

// The messages CheckDateValid shows.
inline constexpr QStringView ShowMessageDayInvalid = u"วันที่ไม่อยู่ในรูปแบบที่ถูกต้อง   ";
inline constexpr QStringView ShowMessageMonthOutOfLimit = u"กรุณาระบุเดือนในระหว่าง 01-12   ";
inline constexpr QStringView ShowMessageDayOutOfLimit = u"วันที่เกินจำนวนวันของเดือน   ";

// The unit's instance, alive between InitializeLibDateThai and
// FinalizeLibDateThai (program start-up and shut-down).
extern TDateThai* DateThai;
void InitializeLibDateThai();
void FinalizeLibDateThai();

} // namespace velkaro
