#include "platform/RegionalSettings.h"

#include "core/Exceptions.h"
#include "support/Fixtures.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <string>

using namespace velkaro;
using velkaro::testing::S;
using velkaro::testing::U;

namespace {

// The real settings follow the program's locale; each test chooses it
// explicitly and puts the previous one back, so the machine's locale plays
// no part.
class RealRegionalSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetRegionalSettings(nullptr); }
    void TearDown() override { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

const QDate Saturday(2017, 3, 11);
const QDate Sunday(2017, 3, 12);
const QDate Monday(2017, 3, 13);

} // namespace

TEST_F(RealRegionalSettingsTest, NamesAndCalendarFollowTheLocale)
{
    const struct {
        const char* name;
        QLocale locale;
        const char* january;
        const char* march;
        const char* saturday;
        const char* sunday;
        const char* monday;
        int year2017;
    } cases[] = {
        {"Thai", QLocale(QLocale::Thai, QLocale::Thailand), "มกราคม", "มีนาคม", "ส.", "อา.", "จ.", 2560},
        {"English", QLocale(QLocale::English, QLocale::UnitedStates), "January", "March", "Sat", "Sun", "Mon", 2017},
        {"German", QLocale(QLocale::German, QLocale::Germany), "Januar", "März", "Sa.", "So.", "Mo.", 2017},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QLocale::setDefault(c.locale);
        const platform::RegionalSettings& settings = platform::Regional();
        EXPECT_EQ(S(settings.LongMonthName(1)), c.january);
        EXPECT_EQ(S(settings.LongMonthName(3)), c.march);
        EXPECT_EQ(S(settings.ShortDayName(Saturday)), c.saturday);
        EXPECT_EQ(S(settings.ShortDayName(Sunday)), c.sunday);
        EXPECT_EQ(S(settings.ShortDayName(Monday)), c.monday);
        EXPECT_EQ(settings.AlternativeYear(QDate(2017, 12, 31)), c.year2017);
    }
}

TEST_F(RealRegionalSettingsTest, ReadsDayMonthYearWhateverTheLocaleOrder)
{
    const struct {
        const char* text;
        QDate expected;
    } cases[] = {
        {"15/03/2560", QDate(2560, 3, 15)},
        {"05/03/2017", QDate(2017, 3, 5)},
        {"5/3/2017", QDate(2017, 3, 5)},
        {"13/01/2017", QDate(2017, 1, 13)},
        {"29/02/2016", QDate(2016, 2, 29)},
        {"01/01/0999", QDate(999, 1, 1)},
    };
    // English (United States) writes month first; the reader still takes
    // the day first.
    for (const QLocale& locale :
        {QLocale(QLocale::Thai, QLocale::Thailand), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        QLocale::setDefault(locale);
        for (const auto& c : cases) {
            SCOPED_TRACE(S(locale.name() + u' ' + U(c.text)));
            EXPECT_EQ(platform::Regional().ReadSlashedDate(U(c.text)), c.expected);
        }
    }
}

TEST_F(RealRegionalSettingsTest, RefusesImpossibleDatesAndOtherShapes)
{
    QLocale::setDefault(QLocale(QLocale::Thai, QLocale::Thailand));
    for (const char* text :
        {"29/02/2017", "31/04/2017", "00/03/2017", "15/13/2017", "15/00/2017", "15/03/0000", "2017/03/15", "15-03-2017",
            " 15/03/2017", "15/03/2017 ", "15/03/20170", "15/03", "", "๑๕/๐๓/๒๕๖๐", "+5/03/2017"}) {
        SCOPED_TRACE(text);
        try {
            platform::Regional().ReadSlashedDate(U(text));
            ADD_FAILURE() << "read without error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(S(e.Message()), S(U("''%1'' is not a valid date").arg(U(text))));
        }
    }
}

TEST(RegionalSeams, InstalledSettingsAndClockReplaceTheRealOnesUntilRemoved)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Thai, QLocale::Thailand));
    const velkaro::testing::FixedRegionalSettings english(
        velkaro::testing::FixedRegionalSettings::Names::English, false);
    platform::SetRegionalSettings(&english);
    EXPECT_EQ(&platform::Regional(), &english);
    platform::SetRegionalSettings(nullptr);
    EXPECT_NE(&platform::Regional(), &english);
    EXPECT_EQ(S(platform::Regional().LongMonthName(1)), "มกราคม");
    QLocale::setDefault(saved);

    const velkaro::testing::FixedClock clock(QDateTime(QDate(2017, 9, 30), QTime(23, 59, 59)));
    platform::SetClock(&clock);
    EXPECT_EQ(&platform::SystemClock(), &clock);
    EXPECT_EQ(platform::SystemClock().Today(), QDate(2017, 9, 30));
    platform::SetClock(nullptr);
    EXPECT_NE(&platform::SystemClock(), &clock);
}
