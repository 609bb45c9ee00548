#include "core/AnsiCodec.h"

#include <gtest/gtest.h>

using namespace velkaro;

TEST(AnsiCodec, EncodesAndDecodesByCodePage)
{
    struct Case {
        const char* name;
        int codePage;
        QString text;
        QByteArray bytes;
        bool lossless;
        QString decoded; // what the bytes read back as
    };
    const QString thai = QStringLiteral("ไม่พบไฟล์ ฿๙");
    const Case cases[] = {
        {"ascii", 874, QStringLiteral("Section;Key 1"), QByteArray("Section;Key 1"), true,
            QStringLiteral("Section;Key 1")},
        {"ascii, then thai, then ascii", 874, QStringLiteral("Key 12345\u0E0167"),
            QByteArray("Key 12345\xA1"
                       "67"),
            true, QStringLiteral("Key 12345\u0E0167")},
        {"thai letters, tone marks, baht, digit", 874, thai,
            QByteArray("\xE4\xC1\xE8\xBE\xBA\xE4\xBF\xC5\xEC \xDF\xF9"), true, thai},
        {"cp874 punctuation", 874, QStringLiteral("\u20AC\u2026\u2018\u2014\u00A0"), QByteArray("\x80\x85\x91\x97\xA0"),
            true, QStringLiteral("\u20AC\u2026\u2018\u2014\u00A0")},
        {"latin letter not in 874", 874, QStringLiteral("caf\u00E9"), QByteArray("caf?"), false,
            QStringLiteral("caf?")},
        {"surrogate pair is one default char", 874, QStringLiteral("a\U0001F600b"), QByteArray("a?b"), false,
            QStringLiteral("a?b")},
        {"lone surrogate", 874, QString(QChar(0xD800)), QByteArray("?"), false, QStringLiteral("?")},
        {"surrogate pair after ascii words", 874, QStringLiteral("abcdefgh\U0001F600"), QByteArray("abcdefgh?"), false,
            QStringLiteral("abcdefgh?")},
        {"cp1252 latin", 1252, QStringLiteral("caf\u00E9 \u20AC\u0178"), QByteArray("caf\xE9 \x80\x9F"), true,
            QStringLiteral("caf\u00E9 \u20AC\u0178")},
        {"thai not in 1252", 1252, QStringLiteral("\u0E01x"), QByteArray("?x"), false, QStringLiteral("?x")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool lossless = !c.lossless;
        EXPECT_EQ(ansi::Encode(c.text, c.codePage, &lossless), c.bytes);
        EXPECT_EQ(lossless, c.lossless);
        EXPECT_EQ(ansi::Decode(c.bytes, c.codePage), c.decoded);
    }
}

TEST(AnsiCodec, EveryAssignedByteRoundTrips)
{
    for (int codePage : {874, 1252}) {
        for (int b = 0; b < 256; ++b) {
            const QByteArray one(1, char(b));
            const QString text = ansi::Decode(one, codePage);
            if (text == QString(QChar(0xFFFD)))
                continue; // unassigned in this code page
            SCOPED_TRACE(testing::Message() << codePage << " byte " << b);
            EXPECT_EQ(ansi::Encode(text, codePage), one);
        }
    }
    EXPECT_EQ(ansi::Decode(QByteArray("\xDB\xFC"), 874), QStringLiteral("\uFFFD\uFFFD"));
}

TEST(AnsiCodec, OrdersAsTheDecodedText)
{
    // Byte order and text order differ for 874's punctuation (0x80..0xA0 stand
    // for characters above the Thai block) and agree elsewhere.
    const QString texts[] = {QString(), QStringLiteral("A"), QStringLiteral("AB"), QStringLiteral("a"),
        QStringLiteral("\u0E01"), QStringLiteral("\u0E01\u0E02"), QStringLiteral("\u0E5B"), QStringLiteral("\u20AC"),
        QStringLiteral("\u2026"), QStringLiteral("\u00A0")};
    for (const QString& a : texts) {
        for (const QString& b : texts) {
            SCOPED_TRACE(testing::Message() << a.toStdString() << " vs " << b.toStdString());
            const int expected = a < b ? -1 : (b < a ? 1 : 0);
            EXPECT_EQ(ansi::CompareText(ansi::Encode(a, 874), ansi::Encode(b, 874), 874), expected);
        }
    }
    // Unassigned bytes decode alike but stay distinct.
    EXPECT_NE(ansi::CompareText(QByteArray("\xDB"), QByteArray("\xDC"), 874), 0);
}
