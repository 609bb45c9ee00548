#include "mysql/UniSqlText.h"

#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace velkaro;

TEST(UniSqlText, TheFinalTextOfTheLines)
{
    struct Case {
        const char* name;
        QStringList lines;
        QString text;
    };
    const Case cases[] = {
        {"the version query", {QStringLiteral("Select * From tbVersionControl")},
            QStringLiteral("Select * From tbVersionControl")},
        {"lines joined", {QStringLiteral("Select *"), QStringLiteral("From t")}, QStringLiteral("Select *\r\nFrom t")},
        {"blank lines and blanks at the end",
            {QStringLiteral("Select 1 \t"), QString(), QStringLiteral("  "), QStringLiteral("\x01")},
            QStringLiteral("Select 1")},
        {"blanks in front stay", {QStringLiteral("  Select 1")}, QStringLiteral("  Select 1")},
        {"nothing", {}, QString()},
        {"only blanks", {QStringLiteral("   "), QString()}, QString()},
        {"a comment on the last line", {QStringLiteral("Select 1 -- one")}, QStringLiteral("Select 1 /* one*/")},
        {"a comment between lines", {QStringLiteral("Select 1 -- one"), QStringLiteral("From t")},
            QStringLiteral("Select 1 /* one*/\r\nFrom t")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UniSqlFinalText(c.lines), c.text);
    }
}

TEST(UniSqlText, Rewriting)
{
    struct Case {
        const char* name;
        QString in;
        QString out;
    };
    const Case cases[] = {
        {"plain", QStringLiteral("Select a, b From t Where x = 1"), QStringLiteral("Select a, b From t Where x = 1")},
        {"quoted identifier", QStringLiteral(R"(Select "Version" From "tb Version")"),
            QStringLiteral("Select `Version` From `tb Version`")},
        {"doubled quote inside", QStringLiteral(R"(Select "a""b")"), QStringLiteral(R"(Select `a"b`)")},
        {"back quote inside", QStringLiteral(R"(Select "a`b")"), QStringLiteral("Select `a``b`")},
        {"empty identifier", QStringLiteral(R"(Select "")"), QStringLiteral("Select ``")},
        {"unterminated identifier", QStringLiteral(R"(Select "abc)"), QStringLiteral(R"(Select "abc)")},
        {"back-quoted", QStringLiteral("Select `a\"b`, `c``d`"), QStringLiteral("Select `a\"b`, `c``d`")},
        {"string", QStringLiteral(R"(Select 'say "hi" -- now')"), QStringLiteral(R"(Select 'say "hi" -- now')")},
        {"doubled quote in a string", QStringLiteral(R"(Select 'it''s "x"', "y")"),
            QStringLiteral(R"(Select 'it''s "x"', `y`)")},
        {"backslash in a string", QStringLiteral(R"(Select 'a\' "b" -- c', "d")"),
            QStringLiteral(R"(Select 'a\' "b" -- c', `d`)")},
        {"backslash before the end", QStringLiteral(R"(Select 'a\\', "d")"), QStringLiteral(R"(Select 'a\\', `d`)")},
        {"unterminated string", QStringLiteral(R"(Select 'a "b" -- c)"), QStringLiteral(R"(Select 'a "b" -- c)")},
        {"dash comment", QStringLiteral("Select 1 -- note\nFrom t"), QStringLiteral("Select 1 /* note*/\nFrom t")},
        {"dash comment with tab", QStringLiteral("Select 1 --\tnote"), QStringLiteral("Select 1 /*\tnote*/")},
        {"dash comment at the end", QStringLiteral("Select 1 --"), QStringLiteral("Select 1 /**/")},
        {"dash comment before CR LF", QStringLiteral("Select 1 -- a\r\nFrom t"),
            QStringLiteral("Select 1 /* a*/\r\nFrom t")},
        {"dash comment holding */", QStringLiteral("Select 1 -- a */ b\nFrom t"),
            QStringLiteral("Select 1 -- a */ b\nFrom t")},
        {"dash comment with quotes", QStringLiteral(R"(Select 1 -- it's "x")"),
            QStringLiteral(R"(Select 1 /* it's "x"*/)")},
        {"minus minus", QStringLiteral("Select 1--1"), QStringLiteral("Select 1--1")},
        {"minus minus before a name", QStringLiteral("Select a --b"), QStringLiteral("Select a --b")},
        {"block comment", QStringLiteral(R"(Select /* "x" -- y */ 1)"), QStringLiteral(R"(Select /* "x" -- y */ 1)")},
        {"unterminated block comment", QStringLiteral(R"(Select /* "x")"), QStringLiteral(R"(Select /* "x")")},
        {"hash comment", QStringLiteral("Select 1 # \"x\" -- y\nFrom \"t\""),
            QStringLiteral("Select 1 # \"x\" -- y\nFrom `t`")},
        {"braces pass", QStringLiteral("Select {fn NOW()}"), QStringLiteral("Select {fn NOW()}")},
        {"non-ASCII", QStringLiteral("Select \"ชื่อ\" From t -- ทดสอบ"), QStringLiteral("Select `ชื่อ` From t /* ทดสอบ*/")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UniSqlRewrite(c.in), c.out);
    }
}
