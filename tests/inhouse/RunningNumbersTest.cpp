// Running document numbers from a document table of its own on the
// throwaway MariaDB that ctest starts, with the clock and the regional
// settings fixed for the year forms.

#include "core/Exceptions.h"
#include "inhouse/libAppServerUNI.h"
#include "mysql/MyError.h"
#include "mysql/MySQLUniProvider.h"
#include "mysql/UniConnection.h"
#include "mysql/UniQuery.h"
#include "support/Fixtures.h"
#include "support/MySqlTestServer.h"

#include <QCoreApplication>

#include <functional>

#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

// A document table of its own for each test (tests run side by side on the
// one server), and the query the numbers are read through.
class RunningNumbers : public ::testing::Test {
protected:
    void SetUp() override
    {
        VELKARO_NEED_MYSQL_SERVER();
        const MySqlTestServer& s = TestServer();
        connection = new TUniConnection(&owner);
        connection->SetProviderName(QStringLiteral("MySQL"));
        connection->SetServer(QString::fromLatin1(s.host));
        connection->SetPort(s.port);
        connection->SetDatabase(QString::fromLatin1(s.database));
        connection->SetUsername(QString::fromLatin1(s.user));
        connection->SetPassword(QString::fromLatin1(s.password));
        connection->SetSpecificOptions({QStringLiteral("MySQL.UseUnicode=True")});
        static int serial = 0;
        table = QStringLiteral("tbDocNo_%1_%2")
                    .arg(QString::number(QCoreApplication::applicationPid()), QString::number(++serial));
        Run(QStringLiteral("CREATE TABLE %1 (DocNo VARCHAR(40) NULL)").arg(table));
        created = true;
        qryMaxID = new TUniQuery(&owner);
        qryMaxID->SetName(QStringLiteral("qryMaxID"));
        qryMaxID->SetConnection(connection);
    }
    void TearDown() override
    {
        if (created)
            Run(QStringLiteral("DROP TABLE ") + table);
    }

    void Run(const QString& sql)
    {
        TUniQuery statement;
        statement.SetConnection(connection);
        statement.SQL() = {sql};
        statement.Execute();
    }
    // The series holds exactly these numbers (test literals, no quotes).
    void Hold(const QStringList& issued)
    {
        Run(QStringLiteral("DELETE FROM ") + table);
        for (const QString& number : issued)
            Run(QStringLiteral("INSERT INTO %1 (DocNo) VALUES ('%2')").arg(table, number));
    }
    QString MaxSql() const { return QStringLiteral("SELECT MAX(DocNo) AS MaxID FROM ") + table; }

    TMySQLUniProvider mysqlProvider;
    QObject owner;
    TUniConnection* connection = nullptr;
    TUniQuery* qryMaxID = nullptr;
    QString table;
    bool created = false;
    TObjAppServerUNI numbers;
};

// Today and the regional calendar, fixed while the object lives.
class Today {
public:
    Today(QDate date, bool buddhistCalendar)
        : clock_(QDateTime(date, QTime(9, 30)))
        , regional_(FixedRegionalSettings::Names::Thai, buddhistCalendar)
    {
        platform::SetClock(&clock_);
        platform::SetRegionalSettings(&regional_);
    }
    ~Today()
    {
        platform::SetClock(nullptr);
        platform::SetRegionalSettings(nullptr);
    }

private:
    FixedClock clock_;
    FixedRegionalSettings regional_;
};

} // namespace

TEST(FillZero, CutsFromTheZeroStock)
{
    TObjAppServerUNI numbers;
    struct Case {
        QString id;
        int width;
        QString expected;
    };
    const QString twenty(20, u'0');
    const Case cases[] = {
        {"", 5, ""},
        {"", 30, ""},
        {"42", 5, "00042"},
        {"12345", 3, "345"},
        {"12345", 5, "12345"},
        {"7", 0, ""},
        {"7", 20, twenty.left(19) + "7"},
        {"7", 21, twenty + "7"},
        {"7", 25, twenty + "7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(S(c.id) + " at width " + std::to_string(c.width));
        EXPECT_EQ(numbers.FillZero(c.id, c.width), c.expected);
    }
}

TEST_F(RunningNumbers, TheLastNumberOrZero)
{
    struct Case {
        const char* name;
        QStringList issued;
        QString sql; // MaxSql() when empty
        QString expected;
    };
    const Case cases[] = {
        {"empty series: a null maximum", {}, "", "0"},
        {"no row at all", {"INV0041"}, "SELECT DocNo AS MaxID FROM " + table + " WHERE 1 = 0", "0"},
        {"a blank maximum", {" "}, "", "0"},
        {"two blanks are a number", {"  "}, "", "  "},
        {"the highest number", {"INV0009", "INV0041", "INV0010"}, "", "INV0041"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Hold(c.issued);
        const QString sql = c.sql.isEmpty() ? MaxSql() : c.sql;
        EXPECT_EQ(numbers.MaxID(sql, qryMaxID), c.expected);
        EXPECT_TRUE(qryMaxID->Active()) << "the query stays open";
        EXPECT_EQ(numbers.MaxYearDashID(sql, qryMaxID), c.expected);
    }
}

TEST_F(RunningNumbers, ThePlainFormStepsInHexadecimal)
{
    struct Case {
        const char* name;
        QStringList issued;
        int width;
        QString expected;
    };
    const Case cases[] = {
        {"empty series", {}, 5, "00001"},
        {"a blank maximum", {" "}, 5, "00001"},
        {"a maximum of 0", {"0"}, 3, "001"},
        {"width 1", {}, 1, "1"},
        {"no width", {}, 0, "1"},
        {"9 steps to A", {"0003", "0009"}, 4, "000A"},
        {"the carry", {"00FF"}, 4, "0100"},
        {"all F wraps to all zeros", {"FFFF"}, 4, "0000"},
        {"the last number keeps its digits", {"0041"}, 8, "0042"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Hold(c.issued);
        EXPECT_EQ(numbers.GlobalAutoRun(MaxSql(), c.width, qryMaxID), c.expected);
    }
}

TEST_F(RunningNumbers, TwoCallersBeforeEitherStoresGetTheSameNumber)
{
    Hold({"0041"});
    const QString first = numbers.GlobalAutoRun(MaxSql(), 4, qryMaxID);
    EXPECT_EQ(numbers.GlobalAutoRun(MaxSql(), 4, qryMaxID), first) << "nothing reserves a number";
    Hold({"0041", first});
    EXPECT_EQ(numbers.GlobalAutoRun(MaxSql(), 4, qryMaxID), "0043");
}

TEST_F(RunningNumbers, ThePrefixedForm)
{
    struct Case {
        const char* name;
        QString prefix;
        bool hex;
        QStringList issued;
        int width;
        QString expected;
    };
    const QString longPrefix = QStringLiteral("ABCDEFGHIJKLMNOPQR"); // 18: the stock has two zeros after it
    const Case cases[] = {
        {"decimal step", "INV", false, {"INV0009", "INV0041"}, 4, "INV0042"},
        {"decimal carry", "INV", false, {"INV0009"}, 4, "INV0010"},
        {"decimal, no previous number", "INV", false, {}, 4, "INV0001"},
        {"decimal, a blank maximum", "INV", false, {" "}, 4, "INV0001"},
        {"decimal outgrows its width", "INV", false, {"INV9999"}, 4, "INV0000"},
        {"decimal without a prefix", "", false, {}, 3, "001"},
        {"decimal beyond 32-bit integers", "INV", false, {"INV002147483647"}, 12, "INV002147483648"},
        {"a part of 0: zeros cut from the stock", longPrefix, false, {longPrefix + "0"}, 5, longPrefix + "001"},
        {"decimal, long prefix, no previous number", longPrefix, false, {}, 5, longPrefix + "00001"},
        {"hexadecimal step", "INV", true, {"INV0009"}, 4, "INV000A"},
        {"hexadecimal wraps", "INV", true, {"INVFFFF"}, 4, "INV0000"},
        {"hexadecimal, no previous number", "INV", true, {}, 4, "INV0001"},
        {"hexadecimal, a maximum shorter than the prefix", "INV", true, {"IN"}, 4, "INV0001"},
        {"hexadecimal, long prefix, no previous number", longPrefix, true, {}, 5, longPrefix + "00001"},
        {"hexadecimal without a prefix", "", true, {"0FF"}, 3, "100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Hold(c.issued);
        EXPECT_EQ(numbers.GlobalAutoRunWithPrefix(MaxSql(), c.prefix, c.width, qryMaxID, c.hex), c.expected);
    }
}

TEST_F(RunningNumbers, TheYearForms)
{
    enum Form { Year, Budget };
    struct Case {
        const char* name;
        QDate today;
        bool buddhistCalendar;
        Form form;
        QStringList issued;
        QString expected; // width 4
    };
    const Case cases[] = {
        {"empty series in 2567", {2024, 6, 1}, true, Year, {}, "67-0001"},
        {"a blank maximum", {2024, 6, 1}, true, Year, {" "}, "67-0001"},
        {"next in the year", {2024, 12, 31}, true, Year, {"66-0500", "67-0123"}, "67-0124"},
        {"1 January 2568 restarts", {2025, 1, 1}, true, Year, {"67-0123"}, "68-0001"},
        {"Christian-era calendar: 2024 is 67", {2024, 6, 1}, false, Year, {"67-0041"}, "67-0042"},
        {"outgrows its width", {2024, 6, 1}, true, Year, {"67-9999"}, "67-0000"},
        {"budget year on 30 September", {2024, 9, 30}, true, Budget, {"67-0123"}, "67-0124"},
        {"budget year turns over on 1 October", {2024, 10, 1}, true, Budget, {"67-0123"}, "68-0001"},
        {"budget year, empty series", {2024, 10, 1}, true, Budget, {}, "68-0001"},
        {"budget year goes on after 1 January", {2025, 1, 2}, true, Budget, {"68-0007"}, "68-0008"},
        {"budget year outgrows its width", {2024, 6, 1}, true, Budget, {"67-9999"}, "67-0000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Hold(c.issued);
        const Today today(c.today, c.buddhistCalendar);
        const QString next = c.form == Year ? numbers.GlobalYearDashAutoRun(MaxSql(), 4, qryMaxID)
                                            : numbers.GlobalBudgetYearDashAutoRun(MaxSql(), 4, qryMaxID);
        EXPECT_EQ(next, c.expected);
    }
}

TEST_F(RunningNumbers, TheRemoteFormsReadTheirWidthWithADefaultOf1)
{
    const Today today({2024, 6, 1}, true);
    struct Case {
        const char* name;
        QStringList issued;
        std::function<Variant()> call;
        QString expected;
    };
    const Case cases[] = {
        {"LengthID abc", {}, [&] { return numbers.RunMaxID(MaxSql(), "abc", qryMaxID); }, "1"},
        {"LengthID empty", {}, [&] { return numbers.RunMaxID(MaxSql(), "", qryMaxID); }, "1"},
        {"LengthID 5", {}, [&] { return numbers.RunMaxID(MaxSql(), "5", qryMaxID); }, "00001"},
        {"hexadecimal", {"0009"}, [&] { return numbers.RunMaxID(MaxSql(), "4", qryMaxID); }, "000A"},
        {"prefixed steps in decimal", {"INV0009"},
            [&] { return numbers.RunMaxIDWithPrefix(MaxSql(), "INV", "4", qryMaxID); }, "INV0010"},
        {"prefixed LengthID abc", {}, [&] { return numbers.RunMaxIDWithPrefix(MaxSql(), "INV", "abc", qryMaxID); },
            "INV1"},
        {"year LengthID abc", {}, [&] { return numbers.RunMaxYearDashID(MaxSql(), "abc", qryMaxID); }, "67-1"},
        {"year LengthID 4", {"67-0041"}, [&] { return numbers.RunMaxYearDashID(MaxSql(), "4", qryMaxID); }, "67-0042"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Hold(c.issued);
        const Variant next = c.call();
        EXPECT_EQ(next.VType(), varOleStr);
        EXPECT_EQ(next.ToString(), c.expected);
    }
}

TEST_F(RunningNumbers, ErrorsTravelToTheCaller)
{
    const Today today({2024, 6, 1}, true);
    struct Case {
        const char* name;
        QStringList issued;
        std::function<QString()> call;
        std::string className;
        QString message; // its beginning
    };
    const QString noMaxID = QStringLiteral("SELECT MAX(DocNo) AS Top FROM ") + table;
    const Case cases[] = {
        {"a decimal part that is not a number", {"INV00A1"},
            [&] { return numbers.GlobalAutoRunWithPrefix(MaxSql(), "INV", 4, qryMaxID, false); }, "EConvertError",
            "''00A1'' is not a valid integer value"},
        {"a year part that is not a number", {"67-00X1"},
            [&] { return numbers.GlobalYearDashAutoRun(MaxSql(), 4, qryMaxID); }, "EConvertError",
            "''00X1'' is not a valid integer value"},
        {"a budget-year part that is not a number", {"67-00X1"},
            [&] { return numbers.GlobalBudgetYearDashAutoRun(MaxSql(), 4, qryMaxID); }, "EConvertError",
            "''00X1'' is not a valid integer value"},
        // The bit codec would drop the lower-case digits and answer 01, a
        // number lower than the last one.
        {"lower-case hexadecimal digits", {"00ff"}, [&] { return numbers.GlobalAutoRun(MaxSql(), 4, qryMaxID); },
            "EConvertError", "''00ff'' is not a valid integer value"},
        {"a prefixed part with a blank", {"INV00 1"},
            [&] { return numbers.GlobalAutoRunWithPrefix(MaxSql(), "INV", 4, qryMaxID, true); }, "EConvertError",
            "''00 1'' is not a valid integer value"},
        {"a year part read at a wider width", {"67-0041"},
            [&] { return numbers.GlobalYearDashAutoRun(MaxSql(), 5, qryMaxID); }, "EConvertError",
            "''-0041'' is not a valid integer value"},
        {"a decimal part with a sign", {"INV+041"},
            [&] { return numbers.GlobalAutoRunWithPrefix(MaxSql(), "INV", 4, qryMaxID, false); }, "EConvertError",
            "''+041'' is not a valid integer value"},
        {"no MaxID column", {"0041"}, [&] { return numbers.GlobalAutoRun(noMaxID, 4, qryMaxID); }, "EDatabaseError",
            "qryMaxID: Field 'MaxID' not found"},
        {"a missing table", {}, [&] { return numbers.MaxID(MaxSql() + "_gone", qryMaxID); }, "EMyError",
            "\n#42S02Table 'VelkaroDB." + table + "_gone' doesn't exist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Hold(c.issued);
        try {
            const QString next = c.call();
            ADD_FAILURE() << "no error but " << S(next);
        } catch (const Exception& e) {
            EXPECT_EQ(e.ClassName(), c.className);
            EXPECT_TRUE(e.Message().startsWith(c.message)) << S(e.Message());
        }
    }
}
