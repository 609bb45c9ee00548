#include "mysql/MyError.h"

#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace velkaro;

TEST(MyError, MessagesAreTheTemplateThenTheExtraTextOnANewLine)
{
    struct Case {
        int code;
        QString extra;
        QString message;
    };
    const Case cases[] = {
        {2013, QString(), QStringLiteral("Lost connection to MySQL server during query")},
        {2013, QStringLiteral("reset by peer"),
            QStringLiteral("Lost connection to MySQL server during query\nreset by peer")},
        {2014, QString(), QStringLiteral("Commands out of sync;  You can't run this command now")},
        {2046, QString(), QStringLiteral("Wrong or unknown protocol")},
        {2047, QString(), QStringLiteral("Invalid connection handle")},
        {1045, QStringLiteral("#28000Access denied"), QStringLiteral("\n#28000Access denied")},
        {1999, QString(), QString()},
        {2048, QString(), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const EMyError e = MakeMyError(c.code, c.extra);
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(e.Message(), c.message);
        EXPECT_STREQ(e.ClassName(), "EMyError");
    }
}

TEST(MyError, TemplatesAreFilledInOrder)
{
    EXPECT_EQ(FormatClientText(2003, {QStringLiteral("db.example.org"), QStringLiteral("10061")}),
        QStringLiteral("Can't connect to MySQL server on 'db.example.org' (10061)"));
    EXPECT_EQ(FormatClientText(2007, {}), QStringLiteral("Protocol mismatch. Server Version = %d Client Version = %d"));
    EXPECT_EQ(FormatClientText(2059, {QStringLiteral("caching_sha2_password")}),
        QStringLiteral("Authentication plugin 'caching_sha2_password' is not supported"));
}

TEST(MyError, FatalCodesAndTheSyntaxErrorLine)
{
    for (int code : {1053, 2003, 2006, 2013, 1927, 4031})
        EXPECT_TRUE(EMyError::IsFatalCode(code)) << code;
    for (int code : {1045, 1062, 1064, 2014, 2027})
        EXPECT_FALSE(EMyError::IsFatalCode(code)) << code;

    const EMyError syntax(1064,
        QStringLiteral("\n#42000You have an error in your SQL syntax; check the manual that "
                       "corresponds to your MariaDB server version for the right syntax to "
                       "use near 'Selec 1' at line 12"));
    EXPECT_EQ(syntax.LineNumber(), 12);
    EXPECT_EQ(EMyError(1064, QStringLiteral("near 'x' at line 3.")).LineNumber(), 3);
    EXPECT_EQ(EMyError(1064, QStringLiteral("no digits")).LineNumber(), 0);
    EXPECT_EQ(EMyError(1146, QStringLiteral("table t1 at line 4")).LineNumber(), 0); // only for syntax errors
}
