#include "inhouse/libDateThai.h"

#include "core/Exceptions.h"
#include "platform/MessageDisplay.h"
#include "platform/RegionalSettings.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

using namespace velkaro;
using platform::MessageButtons;
using platform::MessageIcon;
using velkaro::testing::S;
using velkaro::testing::U;

namespace {

using Names = velkaro::testing::FixedRegionalSettings::Names;

QString IntegerError(const char* text)
{
    return U("''%1'' is not a valid integer value").arg(U(text));
}

QString DateError(const char* text)
{
    return U("''%1'' is not a valid date").arg(U(text));
}

const QString EncodeError = U("Invalid argument to date encode");

// Runs Call and checks that it raises EConvertError with Message.
void ExpectConvertError(const std::function<void()>& call, const QString& message)
{
    try {
        call();
        ADD_FAILURE() << "no error raised, expected: " << S(message);
    } catch (const EConvertError& e) {
        EXPECT_EQ(S(e.Message()), S(message));
    }
}

// Installs settings and puts back whatever was in force before.
class ScopedRegional {
public:
    explicit ScopedRegional(const platform::RegionalSettings& settings)
        : previous_(&platform::Regional())
    {
        platform::SetRegionalSettings(&settings);
    }
    ~ScopedRegional() { platform::SetRegionalSettings(previous_); }

private:
    const platform::RegionalSettings* previous_;
};

class ScopedClock {
public:
    explicit ScopedClock(const platform::Clock& clock) { platform::SetClock(&clock); }
    ~ScopedClock() { platform::SetClock(nullptr); }
};

// Regional settings whose short day name is the same text for every date.
class OneDayName : public velkaro::testing::FixedRegionalSettings {
public:
    explicit OneDayName(QString name)
        : name_(std::move(name))
    {
    }
    QString ShortDayName(const QDate&) const override { return name_; }

private:
    QString name_;
};

// Thai names and the Buddhist alternative year unless a test installs
// others; message boxes are recorded, never shown.
class DateThaiTest : public ::testing::Test {
protected:
    velkaro::testing::FixedRegionalSettings thai {Names::Thai, true};
    ScopedRegional regional {thai};
    platform::RecordingMessageDisplay display;
    platform::ScopedMessageDisplay displayGuard {display};
    const TDateThai dt {};

    // The texts shown so far, one per box.
    std::vector<std::string> Shown() const
    {
        std::vector<std::string> texts;
        for (const auto& entry : display.shown)
            texts.push_back(S(entry.text));
        return texts;
    }
};

using TextOp = QString (TDateThai::*)(const QString&) const;

struct TextCase {
    const char* name;
    TextOp op;
    const char* input;
    const char* expected;
};

void RunTextCases(const TDateThai& dt, std::initializer_list<TextCase> cases)
{
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S((dt.*c.op)(U(c.input))), std::string(c.expected));
    }
}

struct ErrorCase {
    const char* name;
    std::function<void(const TDateThai&)> call;
    QString message;
};

void RunErrorCases(const TDateThai& dt, std::initializer_list<ErrorCase> cases)
{
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectConvertError([&] { c.call(dt); }, c.message);
    }
}

} // namespace

TEST(DateThaiInstance, InitializeCreatesOnceAndFinalizeFrees)
{
    FinalizeLibDateThai();
    EXPECT_EQ(DateThai, nullptr);
    InitializeLibDateThai();
    TDateThai* const created = DateThai;
    ASSERT_NE(created, nullptr);
    InitializeLibDateThai();
    EXPECT_EQ(DateThai, created);
    EXPECT_EQ(S(DateThai->ThaiDateShort(U("25600315"))), "15/03/2560");
    FinalizeLibDateThai();
    EXPECT_EQ(DateThai, nullptr);
}

TEST(DateThaiTables, MonthTablesHoldTwelveEntriesAndNothingOutside)
{
    EXPECT_EQ(S(THMonthInStr[1].toString()), "ม.ค.");
    EXPECT_EQ(S(THMonthInStr[12].toString()), "ธ.ค.");
    EXPECT_EQ(S(THMonthFullNameInStr[2].toString()), "กุมภาพันธ์");
    EXPECT_EQ(S(MonthInStr[9].toString()), "09");
    EXPECT_EQ(DaysInMonths[2], 28);
    EXPECT_EQ(DaysInMonths[12], 31);
    for (int month : {0, 13, -1}) {
        SCOPED_TRACE(month);
        EXPECT_TRUE(THMonthInStr[month].isEmpty());
        EXPECT_TRUE(THMonthFullNameInStr[month].isEmpty());
        EXPECT_TRUE(MonthInStr[month].isEmpty());
        EXPECT_EQ(DaysInMonths[month], 0);
    }
}

TEST_F(DateThaiTest, ShortTextsWithThaiNames)
{
    RunTextCases(dt,
        {
            {"short: Buddhist year kept", &TDateThai::ThaiDateShort, "25600315", "15/03/2560"},
            {"short: Christian year plus 543", &TDateThai::ThaiDateShort, "20170315", "15/03/2560"},
            {"short: 2400 counts as Christian", &TDateThai::ThaiDateShort, "24000315", "15/03/2943"},
            {"short: 2401 counts as Buddhist", &TDateThai::ThaiDateShort, "24010315", "15/03/2401"},
            {"short: letters sort above 2400 and are kept unread", &TDateThai::ThaiDateShort, "abcd0315", "15/03/abcd"},
            {"short: seven characters", &TDateThai::ThaiDateShort, "2560031", ""},
            {"short: nine characters", &TDateThai::ThaiDateShort, "256003150", ""},
            {"short month: day without zero", &TDateThai::ThaiDateShortMonth, "25600305", "5 มี.ค. 2560"},
            {"short month: Christian year", &TDateThai::ThaiDateShortMonth, "20171231", "31 ธ.ค. 2560"},
            {"short month: 2400 counts as Christian", &TDateThai::ThaiDateShortMonth, "24000101", "1 ม.ค. 2943"},
            {"short month: 2401 kept", &TDateThai::ThaiDateShortMonth, "24010101", "1 ม.ค. 2401"},
            {"short month: a year alone", &TDateThai::ThaiDateShortMonth, "2560", "2560"},
            {"short month: a Christian year alone", &TDateThai::ThaiDateShortMonth, "2017", "2560"},
            {"short month: month 13 has no name", &TDateThai::ThaiDateShortMonth, "25601305", ""},
            {"short month: month 00 has no name", &TDateThai::ThaiDateShortMonth, "25600005", ""},
            {"month year: Christian March", &TDateThai::GetMonthYearName, "201703", "มีนาคม 2560"},
            {"month year: Buddhist December", &TDateThai::GetMonthYearName, "256012", "ธันวาคม 2560"},
            {"month year: 2400 counts as Christian", &TDateThai::GetMonthYearName, "240001", "มกราคม 2943"},
            {"month year: database form gives the year alone", &TDateThai::GetMonthYearName, "25600315", "2560"},
            {"month year: month 13 has no name", &TDateThai::GetMonthYearName, "256013", ""},
            {"month year: month 00 has no name", &TDateThai::GetMonthYearName, "256000", ""},
        });
}

TEST_F(DateThaiTest, MonthThaiNameCoversOneToTwelveOnly)
{
    const struct {
        int month;
        const char* expected;
    } cases[] = {{1, "มกราคม"}, {12, "ธันวาคม"}, {0, ""}, {13, ""}, {-1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.month);
        EXPECT_EQ(S(dt.MonthThaiName(c.month)), c.expected);
    }
}

TEST_F(DateThaiTest, EraConversions)
{
    RunTextCases(dt,
        {
            {"to Christ: minus 543", &TDateThai::BhudToChrist, "25600315", "20170315"},
            {"to Christ: no era test", &TDateThai::BhudToChrist, "20170315", "14740315"},
            {"to Christ: wrong length", &TDateThai::BhudToChrist, "2560031", ""},
            {"to Bhud: plus 543", &TDateThai::ChristToBhud, "20170315", "25600315"},
            {"to Bhud: 2399 moves", &TDateThai::ChristToBhud, "23990315", "29420315"},
            {"to Bhud: 2400 counts as Buddhist", &TDateThai::ChristToBhud, "24000315", "24000315"},
            {"to Bhud: letters sort above 2400, unchanged", &TDateThai::ChristToBhud, "abcd0315", "abcd0315"},
            {"to Bhud: wrong length", &TDateThai::ChristToBhud, "", ""},
            {"normal to Christ", &TDateThai::BhudToChistNormalFormat, "15032560", "15032017"},
            {"normal to Christ: no era test", &TDateThai::BhudToChistNormalFormat, "15032017", "15031474"},
            {"normal to Christ: below 1000 is shorter", &TDateThai::BhudToChistNormalFormat, "15031542", "1503999"},
            {"normal to Christ: wrong length", &TDateThai::BhudToChistNormalFormat, "1503256", ""},
            {"normal to Bhud", &TDateThai::ChistToBhudNormalFormat, "15032017", "15032560"},
            {"normal to Bhud: no era test", &TDateThai::ChistToBhudNormalFormat, "15032560", "15033103"},
            {"normal to Bhud: wrong length", &TDateThai::ChistToBhudNormalFormat, "150320170", ""},
            {"maybe Buddhist: 2400 kept", &TDateThai::GetYearIfMaybeBuddhistEra, "24000101", "2400"},
            {"maybe Buddhist: 2401 minus 543", &TDateThai::GetYearIfMaybeBuddhistEra, "24010101", "1858"},
            {"maybe Buddhist: a year alone", &TDateThai::GetYearIfMaybeBuddhistEra, "2560", "2017"},
            {"maybe Buddhist: kept as written", &TDateThai::GetYearIfMaybeBuddhistEra, "0999", "0999"},
        });
}

TEST_F(DateThaiTest, FormMoves)
{
    RunTextCases(dt,
        {
            {"normal date", &TDateThai::NormalDate, "15032560", "15/03/2560"},
            {"normal date: era unchanged", &TDateThai::NormalDate, "15032017", "15/03/2017"},
            {"normal date: wrong length", &TDateThai::NormalDate, "1503256", ""},
            {"time: empty", &TDateThai::NormalTime, "", ""},
            {"time: hhmm", &TDateThai::NormalTime, "0930", "09:30"},
            {"time: hhmmss", &TDateThai::NormalTime, "093015", "09:30:15"},
            {"time: two characters", &TDateThai::NormalTime, "09", "--:--"},
            {"time: five characters", &TDateThai::NormalTime, "09301", "--:--"},
            {"time: eight characters", &TDateThai::NormalTime, "09301500", "--:--"},
            {"normal to db", &TDateThai::NormalFormat2DbFormat, "15032560", "25600315"},
            {"normal to db: any characters", &TDateThai::NormalFormat2DbFormat, "abcdefgh", "efghcdab"},
            {"normal to db: wrong length", &TDateThai::NormalFormat2DbFormat, "1503256", ""},
            {"flip normal to db", &TDateThai::FlipNormalDateToDBDate, "15032560", "25600315"},
            {"flip normal to db: wrong length", &TDateThai::FlipNormalDateToDBDate, "150325600", ""},
            {"db to normal", &TDateThai::DbFormat2NormalFormat, "25600315", "15032560"},
            {"db to normal: round trip", &TDateThai::DbFormat2NormalFormat, "efghcdab", "abcdefgh"},
            {"db to normal: wrong length", &TDateThai::DbFormat2NormalFormat, "2560031", ""},
            {"flip db to normal", &TDateThai::FlipDBDateToNormalDate, "25600315", "15032560"},
            {"flip db to normal: wrong length", &TDateThai::FlipDBDateToNormalDate, "", ""},
            {"start of month", &TDateThai::GetStartDateOfMonth, "25600415", "25600401"},
            {"start of month: wrong length", &TDateThai::GetStartDateOfMonth, "2560041", ""},
        });
}

TEST_F(DateThaiTest, PartsOfDatabaseAndNormalForms)
{
    RunTextCases(dt,
        {
            {"db day without zero", &TDateThai::DayInDateDbFormat, "25600309", "9"},
            {"db day: wrong length", &TDateThai::DayInDateDbFormat, "2560030", ""},
            {"db month without zero", &TDateThai::MonthInDateDbFormat, "25600309", "3"},
            {"db month: wrong length", &TDateThai::MonthInDateDbFormat, "256003091", ""},
            {"db year never read", &TDateThai::YearInDateDbFormat, "abcdefgh", "abcd"},
            {"db year: wrong length", &TDateThai::YearInDateDbFormat, "abcdefg", ""},
        });
    using IntOp = int (TDateThai::*)(const QString&) const;
    const struct {
        const char* name;
        IntOp op;
        const char* input;
        int expected;
    } cases[] = {
        {"normal day", &TDateThai::DaysInDateNormalFormat, "09032560", 9},
        {"normal month", &TDateThai::MonthInDateNormalFormat, "09032560", 3},
        {"normal year", &TDateThai::YearInDateNormalFormat, "09032560", 2560},
        {"normal day: wrong length", &TDateThai::DaysInDateNormalFormat, "xx03256", 0},
        {"normal month: wrong length", &TDateThai::MonthInDateNormalFormat, "", 0},
        {"normal year: wrong length", &TDateThai::YearInDateNormalFormat, "090325600", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ((dt.*c.op)(U(c.input)), c.expected);
    }
}

TEST_F(DateThaiTest, RegionalReaderOperations)
{
    RunTextCases(dt,
        {
            {"to db: Buddhist year carried over", &TDateThai::DateToDbDate, "15/03/2560", "25600315"},
            {"to db: Christian year carried over", &TDateThai::DateToDbDate, "15/03/2017", "20170315"},
            {"to db: nine characters", &TDateThai::DateToDbDate, "5/03/2560", ""},
            {"day", &TDateThai::DayInDate, "05/03/2560", "5"},
            {"month", &TDateThai::MonthInDate, "05/03/2560", "3"},
            {"year as written", &TDateThai::YearInDate, "05/03/2560", "2560"},
            {"year: four digits", &TDateThai::YearInDate, "05/03/0999", "0999"},
            {"day: wrong length", &TDateThai::DayInDate, "5/3/2560", ""},
            {"month: wrong length", &TDateThai::MonthInDate, "05/03/25600", ""},
            {"year: wrong length", &TDateThai::YearInDate, "", ""},
        });
}

TEST_F(DateThaiTest, DbFormatToDateTakesEitherEra)
{
    const struct {
        const char* name;
        const char* input;
        QDate expected;
    } cases[] = {
        {"Buddhist", "25600315", QDate(2017, 3, 15)},
        {"Christian", "20170315", QDate(2017, 3, 15)},
        {"2400 counts as Christian", "24000315", QDate(2400, 3, 15)},
        {"2401 counts as Buddhist", "24010315", QDate(1858, 3, 15)},
        {"1858 Christian", "18580315", QDate(1858, 3, 15)},
        {"leap day in the Buddhist era", "25590229", QDate(2016, 2, 29)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dt.DbFormatToDate(U(c.input)), c.expected);
    }
}

TEST_F(DateThaiTest, DateFormatToDbDateIgnoresTheRegionalCalendar)
{
    const velkaro::testing::FixedRegionalSettings christian(Names::English, false);
    const struct {
        const char* name;
        QDate date;
        const char* buddhistCalendar;
        const char* christianCalendar;
    } cases[] = {
        {"ordinary date", QDate(2017, 3, 5), "25600305", "25600305"},
        {"leap day", QDate(2016, 2, 29), "25590229", "25590229"},
        {"regional year 2401", QDate(1858, 12, 31), "24011231", "24011231"},
        // The regional year 2400 is taken as Christian, like every year of
        // 2400 or below.
        {"regional year 2400", QDate(1857, 1, 1), "29430101", "24000101"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S(dt.DateFormatToDbDate(c.date)), c.buddhistCalendar);
        ScopedRegional other(christian);
        EXPECT_EQ(S(dt.DateFormatToDbDate(c.date)), c.christianCalendar);
    }
}

TEST_F(DateThaiTest, ConversionErrors)
{
    RunErrorCases(dt,
        {
            {"short: year not a number", [](const TDateThai& d) { d.ThaiDateShort(U("1abc0315")); },
                IntegerError("1abc")},
            {"short month: empty year part", [](const TDateThai& d) { d.ThaiDateShortMonth(U("")); }, IntegerError("")},
            {"short month: day not a number", [](const TDateThai& d) { d.ThaiDateShortMonth(U("256003xx")); },
                IntegerError("xx")},
            {"month year: empty year part", [](const TDateThai& d) { d.GetMonthYearName(U("")); }, IntegerError("")},
            {"month year: month not a number", [](const TDateThai& d) { d.GetMonthYearName(U("2560ab")); },
                IntegerError("ab")},
            {"to Christ: year not a number", [](const TDateThai& d) { d.BhudToChrist(U("abcd0315")); },
                IntegerError("abcd")},
            {"normal to Christ: Thai digits are no number",
                [](const TDateThai& d) { d.BhudToChistNormalFormat(U("1503๒๕๖๐")); }, IntegerError("๒๕๖๐")},
            {"maybe Buddhist: letters", [](const TDateThai& d) { d.GetYearIfMaybeBuddhistEra(U("abcd")); },
                IntegerError("abcd")},
            {"db day: letters", [](const TDateThai& d) { d.DayInDateDbFormat(U("256003xx")); }, IntegerError("xx")},
            {"normal day: letters", [](const TDateThai& d) { d.DaysInDateNormalFormat(U("xx032560")); },
                IntegerError("xx")},
            {"to db: impossible date", [](const TDateThai& d) { d.DateToDbDate(U("31/04/2560")); },
                DateError("31/04/2560")},
            {"to db: another shape", [](const TDateThai& d) { d.DateToDbDate(U("2560/03/15")); },
                DateError("2560/03/15")},
            {"day: impossible date", [](const TDateThai& d) { d.DayInDate(U("30/02/2560")); }, DateError("30/02/2560")},
            {"to date: impossible date is read in the Christian era",
                [](const TDateThai& d) { d.DbFormatToDate(U("25600229")); }, DateError("29/02/2017")},
            {"to date: wrong length has no date", [](const TDateThai& d) { d.DbFormatToDate(U("2560031")); },
                DateError("2560031")},
            {"to date: Buddhist year not a number", [](const TDateThai& d) { d.DbFormatToDate(U("a5600315")); },
                IntegerError("a560")},
        });
}

TEST_F(DateThaiTest, CheckDateValid)
{
    const char* const dayInvalid = "วันที่ไม่อยู่ในรูปแบบที่ถูกต้อง   ";
    const char* const monthOut = "กรุณาระบุเดือนในระหว่าง 01-12   ";
    const char* const dayOut = "วันที่เกินจำนวนวันของเดือน   ";
    const struct {
        const char* name;
        const char* input;
        bool valid;
        const char* message; // null: no box
    } cases[] = {
        {"empty is valid", "", true, nullptr},
        {"seven characters", "2902201", false, dayInvalid},
        {"nine characters", "290220170", false, dayInvalid},
        {"wrong length is never read", "abcdefg", false, dayInvalid},
        {"leap day of a leap Christian year", "29022016", true, nullptr},
        {"leap day of a common year", "29022017", false, dayOut},
        {"30 February of a leap year", "30022016", false, dayOut},
        {"31 April", "31042017", false, dayOut},
        {"31 May", "31052017", true, nullptr},
        {"31 December", "31122017", true, nullptr},
        {"month 13", "01132017", false, monthOut},
        {"month 00", "01002017", false, monthOut},
        {"month 13 with an impossible day too", "40132017", false, monthOut},
        {"day 00 passes", "00012017", true, nullptr},
        {"century is common", "29021900", false, dayOut},
        {"fourth century is leap", "29021600", true, nullptr},
        {"Buddhist year judged as written: 2560", "29022560", true, nullptr},
        {"Buddhist year judged as written: 2559", "29022559", false, dayOut},
        {"year 1543 still as written", "29021544", true, nullptr},
        // 0800 - 543 = 257 no longer fills four characters: judged as 543.
        {"short Christian form judged as 543", "29020800", false, dayOut},
        // 0400 - 543 = -143 fills four characters and reads back as 400.
        {"negative Christian form read back", "29020400", true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        display.shown.clear();
        EXPECT_EQ(dt.CheckDateValid(U(c.input)), c.valid);
        if (c.message == nullptr) {
            EXPECT_TRUE(display.shown.isEmpty());
            continue;
        }
        ASSERT_EQ(display.shown.size(), 1);
        const auto& box = display.shown.front();
        EXPECT_EQ(S(box.text), c.message);
        EXPECT_EQ(S(box.caption), S(platform::ApplicationTitle()));
        EXPECT_EQ(box.icon, MessageIcon::Warning);
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
    }
}

TEST_F(DateThaiTest, CheckDateValidReadsNumbersBeforeAnyMessage)
{
    RunErrorCases(dt,
        {
            {"day letters", [](const TDateThai& d) { d.CheckDateValid(U("ab022017")); }, IntegerError("ab")},
            {"month letters with day beyond", [](const TDateThai& d) { d.CheckDateValid(U("40ab2017")); },
                IntegerError("ab")},
            {"year letters", [](const TDateThai& d) { d.CheckDateValid(U("2902abcd")); }, IntegerError("abcd")},
        });
    EXPECT_TRUE(display.shown.isEmpty());
}

TEST_F(DateThaiTest, ValidationMessagesKeepTheirThreeTrailingBlanks)
{
    EXPECT_EQ(ShowMessageDayInvalid.size(), 34);
    EXPECT_EQ(ShowMessageMonthOutOfLimit.size(), 32);
    EXPECT_EQ(ShowMessageDayOutOfLimit.size(), 29);
    for (QStringView text : {ShowMessageDayInvalid, ShowMessageMonthOutOfLimit, ShowMessageDayOutOfLimit})
        EXPECT_TRUE(text.endsWith(u"   ") && !text.endsWith(u"    "));
}

TEST_F(DateThaiTest, LongThaiTexts)
{
    const char* const dayInvalid = "วันที่ไม่อยู่ในรูปแบบที่ถูกต้อง   ";
    const char* const dayOut = "วันที่เกินจำนวนวันของเดือน   ";
    const velkaro::testing::FixedRegionalSettings english(Names::English, false);
    const struct {
        const char* name;
        TextOp op;
        const char* input;
        Names names;
        const char* expected;
        const char* message; // null: no box
    } cases[] = {
        {"long: Buddhist date", &TDateThai::ThaiDateLong, "25600305", Names::Thai, "5 มีนาคม 2560", nullptr},
        {"long: regional names", &TDateThai::ThaiDateLong, "25601231", Names::English, "31 December 2560", nullptr},
        {"long: leap day of a leap Christian year", &TDateThai::ThaiDateLong, "25590229", Names::Thai,
            "29 กุมภาพันธ์ 2559", nullptr},
        {"long: leap day of a common year", &TDateThai::ThaiDateLong, "25600229", Names::Thai, "", dayOut},
        {"long: Christian date refused", &TDateThai::ThaiDateLong, "20170305", Names::Thai, "", dayInvalid},
        {"long: 2400 is Christian and refused", &TDateThai::ThaiDateLong, "24000305", Names::Thai, "", dayInvalid},
        {"long: 2401 is Buddhist", &TDateThai::ThaiDateLong, "24010305", Names::Thai, "5 มีนาคม 2401", nullptr},
        {"long: 2942 is the last Buddhist year shown", &TDateThai::ThaiDateLong, "29420305", Names::Thai,
            "5 มีนาคม 2942", nullptr},
        {"long: from 2943 the Christian year shows", &TDateThai::ThaiDateLong, "29430305", Names::Thai, "5 มีนาคม 2400",
            nullptr},
        {"long: wrong length", &TDateThai::ThaiDateLong, "2560030", Names::Thai, "", nullptr},
        {"Christ: Christian year printed", &TDateThai::ThaiDateLongChrist, "25600305", Names::Thai, "5 มีนาคม 2017",
            nullptr},
        {"Christ: regional names", &TDateThai::ThaiDateLongChrist, "25600305", Names::English, "5 March 2017", nullptr},
        {"Christ: no era test", &TDateThai::ThaiDateLongChrist, "24000305", Names::Thai, "5 มีนาคม 1857", nullptr},
        {"Christ: short year refused", &TDateThai::ThaiDateLongChrist, "14000305", Names::Thai, "", dayInvalid},
        {"Christ: leap day of a common year", &TDateThai::ThaiDateLongChrist, "25600229", Names::Thai, "", dayOut},
        {"Christ: wrong length", &TDateThai::ThaiDateLongChrist, "256003050", Names::Thai, "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        display.shown.clear();
        platform::SetRegionalSettings(c.names == Names::Thai ? &thai : &english);
        EXPECT_EQ(S((dt.*c.op)(U(c.input))), c.expected);
        if (c.message == nullptr) {
            EXPECT_TRUE(display.shown.isEmpty());
        } else {
            ASSERT_EQ(display.shown.size(), 1);
            EXPECT_EQ(S(display.shown.front().text), c.message);
        }
    }
    platform::SetRegionalSettings(&thai);
}

TEST_F(DateThaiTest, LongTextsRaiseForDayZeroAndLetters)
{
    RunErrorCases(dt,
        {
            {"long: day 00 passes validation, not the reader",
                [](const TDateThai& d) { d.ThaiDateLong(U("25600300")); }, DateError("00/03/2017")},
            {"Christ: day 00", [](const TDateThai& d) { d.ThaiDateLongChrist(U("25600300")); },
                DateError("00/03/2017")},
            {"long: letters above 2400", [](const TDateThai& d) { d.ThaiDateLong(U("abcd0305")); },
                IntegerError("abcd")},
            {"Christ: letters", [](const TDateThai& d) { d.ThaiDateLongChrist(U("25600x05")); }, IntegerError("0x")},
        });
    EXPECT_TRUE(display.shown.isEmpty());
}

TEST_F(DateThaiTest, MonthLengths)
{
    const struct {
        const char* name;
        const char* input;
        int days;
        const char* endOfMonth;
    } cases[] = {
        {"February of a leap year", "25590210", 29, "25590229"},
        {"February of a common year", "25600210", 28, "25600228"},
        {"February of a fourth century", "25430215", 29, "25430229"},
        {"February of a century", "24430215", 28, "24430228"},
        {"April", "25600410", 30, "25600430"},
        {"December", "25601201", 31, "25601231"},
        {"month 13", "25601310", 0, ""},
        {"month 00", "25600010", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dt.GetDayInMonth(U(c.input)), c.days);
        EXPECT_EQ(S(dt.GetEndDateOfMonth(U(c.input))), c.endOfMonth);
    }
    // Days in month does not test the length; the end of month does.
    EXPECT_EQ(dt.GetDayInMonth(U("256004")), 30);
    EXPECT_EQ(S(dt.GetEndDateOfMonth(U("256004"))), "");
    ExpectConvertError([&] { dt.GetDayInMonth(U("")); }, IntegerError(""));
    ExpectConvertError([&] { dt.GetDayInMonth(U("abcd0210")); }, IntegerError("abcd"));
}

TEST_F(DateThaiTest, MonthStepping)
{
    RunTextCases(dt,
        {
            {"next: 31 January to last of February", &TDateThai::CalcNextMonth, "25600131", "25600228"},
            {"next: into a leap February", &TDateThai::CalcNextMonth, "25590131", "25590229"},
            {"next: December to January", &TDateThai::CalcNextMonth, "25601215", "25610115"},
            {"next: 31 December keeps the day", &TDateThai::CalcNextMonth, "25601231", "25610131"},
            {"next: 31 March to 30 April", &TDateThai::CalcNextMonth, "25600331", "25600430"},
            {"next: zero filling", &TDateThai::CalcNextMonth, "25600805", "25600905"},
            {"next: Christian year judged as Buddhist", &TDateThai::CalcNextMonth, "20160131", "20160228"},
            {"next: month 00 steps to January", &TDateThai::CalcNextMonth, "25600015", "25600115"},
            {"next: letters count as 0", &TDateThai::CalcNextMonth, "abcdefgh", "00100"},
            {"next: month 13 has no next", &TDateThai::CalcNextMonth, "25601315", ""},
            {"next: wrong length", &TDateThai::CalcNextMonth, "2560013", ""},
            {"previous: 31 March to last of February", &TDateThai::CalcPreviousMonth, "25600331", "25600228"},
            {"previous: into a leap February", &TDateThai::CalcPreviousMonth, "25590331", "25590229"},
            {"previous: January to December", &TDateThai::CalcPreviousMonth, "25600115", "25591215"},
            {"previous: 31 January keeps the day", &TDateThai::CalcPreviousMonth, "25600131", "25591231"},
            {"previous: 31 May to 30 April", &TDateThai::CalcPreviousMonth, "25600531", "25600430"},
            {"previous: Christian date moves to Buddhist", &TDateThai::CalcPreviousMonth, "20170315", "25600215"},
            {"previous: Christian leap year", &TDateThai::CalcPreviousMonth, "20160331", "25590229"},
            {"previous: 2399 moves", &TDateThai::CalcPreviousMonth, "23990315", "29420215"},
            {"previous: 2400 is kept", &TDateThai::CalcPreviousMonth, "24000315", "24000215"},
            {"previous: month 13 steps to December", &TDateThai::CalcPreviousMonth, "25601331", "25601231"},
            {"previous: month 00 has no previous", &TDateThai::CalcPreviousMonth, "25600015", ""},
            {"previous: month 14 has no previous", &TDateThai::CalcPreviousMonth, "25601415", ""},
            {"previous: letters give month 00", &TDateThai::CalcPreviousMonth, "abcdefgh", ""},
            {"previous: wrong length", &TDateThai::CalcPreviousMonth, "256003150", ""},
        });
}

TEST_F(DateThaiTest, DifDay)
{
    const struct {
        const char* name;
        const char* start;
        const char* end;
        int days;
    } cases[] = {
        {"same date", "25600315", "25600315", 0},
        {"forward", "25600301", "25600310", 9},
        {"backward", "25600310", "25600301", 9},
        {"Buddhist and Christian of one day", "25600315", "20170315", 0},
        {"2401 is Buddhist", "24010101", "18580101", 0},
        {"2400 is Christian", "29430101", "24000101", 0},
        {"across a leap day", "25590228", "25590301", 2},
        {"across a common February end", "25600228", "25600301", 1},
        {"a whole year", "25600101", "25610101", 365},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dt.DifDay(U(c.start), U(c.end)), c.days);
    }
    RunErrorCases(dt,
        {
            {"impossible day", [](const TDateThai& d) { d.DifDay(U("25600230"), U("25600301")); }, EncodeError},
            {"day 00", [](const TDateThai& d) { d.DifDay(U("25600301"), U("25600300")); }, EncodeError},
            {"month 13", [](const TDateThai& d) { d.DifDay(U("25601301"), U("25600301")); }, EncodeError},
            {"year 0", [](const TDateThai& d) { d.DifDay(U("00000101"), U("25600301")); }, EncodeError},
            {"letters", [](const TDateThai& d) { d.DifDay(U("2560ab01"), U("25600301")); }, IntegerError("ab")},
            {"short text", [](const TDateThai& d) { d.DifDay(U("256003"), U("25600301")); }, IntegerError("")},
            // Both texts are read before any date is built.
            {"bad start date, letters in the end", [](const TDateThai& d) { d.DifDay(U("25600230"), U("2560ab01")); },
                IntegerError("ab")},
            {"letters in the start, bad end date", [](const TDateThai& d) { d.DifDay(U("2560cd01"), U("25600230")); },
                IntegerError("cd")},
            {"start's last part before the end's first",
                [](const TDateThai& d) { d.DifDay(U("25z00301"), U("256003xy")); }, IntegerError("25z0")},
        });
}

TEST_F(DateThaiTest, DifMonth)
{
    const struct {
        const char* name;
        const char* start;
        const char* end;
        int months;
    } cases[] = {
        {"15th to 15th two months later", "25600115", "25600315", 3},
        {"20th to 15th two months later", "25600120", "25600315", 2},
        {"31st to 1st of the next month", "25600131", "25600201", 1},
        {"same day a year later", "25600115", "25610115", 13},
        {"across the year end", "25601115", "25610215", 4},
        {"end month before start", "25600315", "25600115", 0},
        {"same month", "25600301", "25600331", 0},
        {"end day compared as text", "25600109", "25600210", 2},
        {"month texts only", "256001", "256003", 3},
        {"end never reached", "25600115", "abcdef01", 0},
        {"start month above 12", "25601315", "25610115", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dt.DifMonth(U(c.start), U(c.end)), c.months);
    }
    ExpectConvertError([&] { dt.DifMonth(U("2560ab15"), U("25610115")); }, IntegerError("ab"));
}

TEST_F(DateThaiTest, DifYearAndDifTime)
{
    const struct {
        const char* name;
        const char* start;
        const char* end;
        int months;
    } years[] = {
        {"same year", "25600101", "25601231", -12},
        {"consecutive years", "25601231", "25610101", 0},
        {"two apart", "25600101", "25620101", 12},
        {"backward", "25620101", "25600101", -36},
    };
    for (const auto& c : years) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dt.DifYear(U(c.start), U(c.end)), c.months);
    }
    const struct {
        const char* name;
        const char* start;
        const char* end;
        const char* expected;
    } times[] = {
        {"equal", "09:30", "09:30", "00:00"},
        {"forward", "09:30", "11:45", "02:15"},
        {"ninety minutes back", "11:00", "09:30", "-1:-30"},
        {"five minutes back", "09:00", "08:55", "00:-5"},
        {"ten hours", "00:00", "10:00", "10:00"},
        {"a hundred hours and more", "00:00", "99:99", "100:39"},
        {"separator not examined", "09x30", "11.45", "02:15"},
    };
    for (const auto& c : times) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S(dt.DifTime(U(c.start), U(c.end))), c.expected);
    }
    RunErrorCases(dt,
        {
            {"year letters", [](const TDateThai& d) { d.DifYear(U("25600101"), U("25x0")); }, IntegerError("25x0")},
            {"one-digit hour", [](const TDateThai& d) { d.DifTime(U("9:30"), U("10:00")); }, IntegerError("9:")},
            {"empty time", [](const TDateThai& d) { d.DifTime(U("09:30"), U("")); }, IntegerError("")},
            {"hours named before minutes", [](const TDateThai& d) { d.DifTime(U("h1:m1"), U("10:00")); },
                IntegerError("h1")},
            {"start minutes before end hours", [](const TDateThai& d) { d.DifTime(U("09:m1"), U("h2:00")); },
                IntegerError("m1")},
            {"end hours before end minutes", [](const TDateThai& d) { d.DifTime(U("09:30"), U("h2:m2")); },
                IntegerError("h2")},
        });
}

TEST_F(DateThaiTest, BudgetYearOfDates)
{
    RunTextCases(dt,
        {
            {"year of September", &TDateThai::GetBudgetYearFromDate, "25600930", "2560"},
            {"year of October", &TDateThai::GetBudgetYearFromDate, "25601001", "2561"},
            {"year of a Christian date", &TDateThai::GetBudgetYearFromDate, "20171015", "2018"},
            {"year of March, never read", &TDateThai::GetBudgetYearFromDate, "abcd0315", "abcd"},
            {"start from March", &TDateThai::GetStartDateOfBudgetYear, "25600315", "25591001"},
            {"start from 30 September", &TDateThai::GetStartDateOfBudgetYear, "25600930", "25591001"},
            {"start from 1 October", &TDateThai::GetStartDateOfBudgetYear, "25601001", "25601001"},
            {"start from December", &TDateThai::GetStartDateOfBudgetYear, "25601231", "25601001"},
            {"start from a Christian date", &TDateThai::GetStartDateOfBudgetYear, "20170315", "25591001"},
            {"start: 2399 moves", &TDateThai::GetStartDateOfBudgetYear, "23991015", "29421001"},
            {"start: 2400 counts as Buddhist", &TDateThai::GetStartDateOfBudgetYear, "24000315", "23991001"},
            {"end from March", &TDateThai::GetEndDateOfBudgetYear, "25600315", "25600930"},
            {"end from 30 September", &TDateThai::GetEndDateOfBudgetYear, "25600930", "25600930"},
            {"end from 1 October", &TDateThai::GetEndDateOfBudgetYear, "25601001", "25610930"},
            {"end from a Christian date", &TDateThai::GetEndDateOfBudgetYear, "20171001", "25610930"},
            {"end: 2399 moves", &TDateThai::GetEndDateOfBudgetYear, "23990315", "29420930"},
            {"end: 2400 counts as Buddhist", &TDateThai::GetEndDateOfBudgetYear, "24000315", "24000930"},
        });
    RunErrorCases(dt,
        {
            {"year of October, letters", [](const TDateThai& d) { d.GetBudgetYearFromDate(U("abcd1001")); },
                IntegerError("abcd")},
            {"start of an empty text", [](const TDateThai& d) { d.GetStartDateOfBudgetYear(U("")); }, IntegerError("")},
            {"end of a short year", [](const TDateThai& d) { d.GetEndDateOfBudgetYear(U("1x")); }, IntegerError("1x")},
        });
}

TEST_F(DateThaiTest, CurrentBudgetYearTurnsOverOnFirstOctober)
{
    const struct {
        const char* name;
        QDateTime now;
        const char* expected;
    } cases[] = {
        {"30 September, last minute", QDateTime(QDate(2017, 9, 30), QTime(23, 59)), "2560"},
        {"1 October, first minute", QDateTime(QDate(2017, 10, 1), QTime(0, 0)), "2561"},
        {"31 December", QDateTime(QDate(2017, 12, 31), QTime(12, 0)), "2561"},
        {"1 January", QDateTime(QDate(2018, 1, 1), QTime(12, 0)), "2561"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const velkaro::testing::FixedClock clock(c.now);
        ScopedClock guard(clock);
        EXPECT_EQ(S(dt.GetCurrentBudgetYear()), c.expected);
    }
}

TEST_F(DateThaiTest, WeekEndsUnderThaiAndEnglishDayNames)
{
    const velkaro::testing::FixedRegionalSettings english(Names::English, false);
    // 6 to 12 March 2017 run from Monday to Sunday.
    const std::initializer_list<const platform::RegionalSettings*> namings = {&thai, &english};
    for (const platform::RegionalSettings* settings : namings) {
        platform::SetRegionalSettings(settings);
        for (int day = 6; day <= 12; ++day) {
            const QDate date(2017, 3, day);
            SCOPED_TRACE(S(platform::Regional().ShortDayName(date)));
            EXPECT_EQ(dt.CheckWeekEnd(date), day >= 11);
        }
    }
    platform::SetRegionalSettings(&thai);
}

TEST_F(DateThaiTest, WeekEndDayNames)
{
    const struct {
        const char* name;
        bool weekEnd;
    } cases[] = {
        {"Sat", true},
        {"sat", true},
        {"SAT", true},
        {"sUn", true},
        {"ส.", true},
        {"อา.", true},
        {"Saturday", false},
        {"Sa", false},
        {" Sat", false},
        {"ส", false},
        {"อา", false},
        {"วันเสาร์", false},
        {"Mon", false},
        {"จ.", false},
        {"ＳＡＴ", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const OneDayName settings(U(c.name));
        ScopedRegional guard(settings);
        EXPECT_EQ(dt.CheckWeekEnd(QDate(2017, 3, 6)), c.weekEnd);
    }
}
