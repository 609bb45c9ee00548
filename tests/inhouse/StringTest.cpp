#include "inhouse/libString.h"

#include <QCheckBox>

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <string>

using namespace velkaro;
using velkaro::testing::S;
using velkaro::testing::U;

namespace {

using TextOp = QString (TObjString::*)(const QString&) const;

struct TextCase {
    const char* name;
    TextOp op;
    const char* input;
    const char* expected;
};

} // namespace

TEST(StringInstance, InitializeCreatesOnceAndFinalizeFrees)
{
    FinalizeLibString();
    EXPECT_EQ(ObjString, nullptr);
    InitializeLibString();
    TObjString* const created = ObjString;
    ASSERT_NE(created, nullptr);
    InitializeLibString();
    EXPECT_EQ(ObjString, created);
    FinalizeLibString();
    EXPECT_EQ(ObjString, nullptr);
}

TEST(StringTest, KeyAndLiteralTexts)
{
    const TObjString str {};
    const TextCase cases[] = {
        {"quote: each becomes underscore", &TObjString::ConvertQuoteToUnderScore, "a\"b\"\"c", "A_B__C"},
        {"quote: none only upper-cases", &TObjString::ConvertQuoteToUnderScore, "abc xyz", "ABC XYZ"},
        {"quote: alone", &TObjString::ConvertQuoteToUnderScore, "\"", "_"},
        {"quote: apostrophe stays", &TObjString::ConvertQuoteToUnderScore, "o'k", "O'K"},
        {"quote: Thai unchanged", &TObjString::ConvertQuoteToUnderScore, "ก\"x", "ก_X"},
        {"quote: empty", &TObjString::ConvertQuoteToUnderScore, "", ""},
        {"space: each becomes percent", &TObjString::ConvertSpaceToPercent, " a b  c", "%A%B%%C"},
        {"space: tab is no blank", &TObjString::ConvertSpaceToPercent, "a\tb", "A\tB"},
        {"space: Thai unchanged", &TObjString::ConvertSpaceToPercent, "ไทย a", "ไทย%A"},
        {"trim: inner blanks too", &TObjString::JackTrim, "  a b  c ", "ABC"},
        {"trim: blanks only", &TObjString::JackTrim, "    ", ""},
        {"trim: tab stays", &TObjString::JackTrim, "a\t b", "A\tB"},
        {"trim: Thai unchanged", &TObjString::JackTrim, " ไทย z ", "ไทยZ"},
        {"quoted: empty", &TObjString::Quoted, "", " '' "},
        {"quoted: Latin upper-cased", &TObjString::Quoted, "abc", " 'ABC' "},
        {"quoted: Thai unchanged", &TObjString::Quoted, "ไทยabc", " 'ไทยABC' "},
        {"quoted: apostrophe not doubled", &TObjString::Quoted, "o'k", " 'O'K' "},
        {"quoted: only a to z change", &TObjString::Quoted, "äéz1", " 'äéZ1' "},
        {"percent: empty", &TObjString::QuotedPercent, "", " '%%' "},
        {"percent: Latin upper-cased", &TObjString::QuotedPercent, "ab c", " '%AB C%' "},
        {"percent: Thai unchanged", &TObjString::QuotedPercent, "ไทย", " '%ไทย%' "},
        {"remove: dashes and dots mixed", &TObjString::RemoveNonCharacterString, "1-23.4-5.", "12345"},
        {"remove: case kept", &TObjString::RemoveNonCharacterString, "a.b-C", "abC"},
        {"remove: nothing else left", &TObjString::RemoveNonCharacterString, "-.-..", ""},
        {"remove: other marks stay", &TObjString::RemoveNonCharacterString, "a_b/c ก", "a_b/c ก"},
        {"prove: two apostrophes give four", &TObjString::ProveQuotedInString, "''", "''''"},
        {"prove: none unchanged", &TObjString::ProveQuotedInString, "abc ไทย", "abc ไทย"},
        {"prove: inner and last", &TObjString::ProveQuotedInString, "it's'", "it''s''"},
        {"prove: case kept", &TObjString::ProveQuotedInString, "o'k", "o''k"},
        {"prove: empty", &TObjString::ProveQuotedInString, "", ""},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S((str.*c.op)(U(c.input))), std::string(c.expected));
    }
}

TEST(StringTest, IdentificationNumbers)
{
    const TObjString str {};
    const TextCase cases[] = {
        {"separate: thirteen digits", &TObjString::SeperateCID, "1234567890123", "1-2345-67890-12-3"},
        {"separate: thirteen Thai letters", &TObjString::SeperateCID, "กขคงจฉชซฌญฎฏฐ", "ก-ขคงจ-ฉชซฌญ-ฎฏ-ฐ"},
        {"separate: twelve", &TObjString::SeperateCID, "123456789012", ""},
        {"separate: fourteen", &TObjString::SeperateCID, "12345678901234", ""},
        {"separate: empty", &TObjString::SeperateCID, "", ""},
        {"fuse: dashed", &TObjString::FusionCID, "1-2345-67890-12-3", "1234567890123"},
        {"fuse: separators dropped whatever they are", &TObjString::FusionCID, "1x2345y67890z12w3", "1234567890123"},
        {"fuse: sixteen", &TObjString::FusionCID, "1-2345-67890-123", ""},
        {"fuse: eighteen", &TObjString::FusionCID, "1-2345-67890-12-34", ""},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S((str.*c.op)(U(c.input))), std::string(c.expected));
    }
    for (const char* cid : {"1234567890123", "กขคงจฉชซฌญฎฏฐ", "-------------", "a b c d e f g"}) {
        SCOPED_TRACE(cid);
        const QString separated = str.SeperateCID(U(cid));
        EXPECT_EQ(separated.size(), 17);
        EXPECT_EQ(S(str.FusionCID(separated)), std::string(cid));
    }
}

TEST(StringTest, FillZero)
{
    const TObjString str {};
    const struct {
        const char* name;
        const char* id;
        int length;
        const char* expected;
    } cases[] = {
        {"filled to the width", "7", 5, "00007"},
        {"exactly the width", "12345", 5, "12345"},
        {"one wider", "12345", 6, "012345"},
        {"one narrower loses the first", "12345", 4, "2345"},
        {"longer keeps its last characters", "123456", 3, "456"},
        {"letters are filled too", "ab", 3, "0ab"},
        {"nineteen zeros", "7", 20, "00000000000000000007"},
        {"twenty zeros", "7", 21, "000000000000000000007"},
        {"never more than twenty zeros", "7", 22, "000000000000000000007"},
        {"far beyond", "7", 25, "000000000000000000007"},
        {"empty id", "", 5, ""},
        {"width zero", "7", 0, ""},
        {"negative width", "7", -3, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S(str.FillZero(U(c.id), c.length)), std::string(c.expected));
    }
}

TEST(StringTest, MonthNamesOneToTwelveOnly)
{
    const TObjString str {};
    const struct {
        int month;
        const char* expected;
    } cases[] = {{1, "มกราคม"}, {2, "กุมภาพันธ์"}, {7, "กรกฎาคม"}, {12, "ธันวาคม"}, {0, ""}, {13, ""}, {-1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.month);
        EXPECT_EQ(S(str.GetMonthName(c.month)), std::string(c.expected));
    }
}

TEST(StringTest, CheckBoxToTOrF)
{
    const TObjString str {};
    const struct {
        const char* name;
        Qt::CheckState state;
        const char* expected;
    } cases[] = {
        {"ticked", Qt::Checked, "T"},
        {"clear", Qt::Unchecked, "F"},
        {"partial is no tick", Qt::PartiallyChecked, "F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QCheckBox box;
        box.setTristate(c.state == Qt::PartiallyChecked);
        box.setCheckState(c.state);
        EXPECT_EQ(S(str.cbToF(box)), std::string(c.expected));
    }
}
