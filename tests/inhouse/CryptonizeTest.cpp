#include "inhouse/libCryptonize.h"

#include <QCheckBox>

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velkaro;
using velkaro::testing::S;
using velkaro::testing::U;

namespace {

QString Codes(std::initializer_list<char16_t> codes)
{
    QString text;
    for (char16_t c : codes)
        text += QChar(c);
    return text;
}

std::vector<int> CodesOf(const QString& text)
{
    std::vector<int> codes;
    for (QChar c : text)
        codes.push_back(c.unicode());
    return codes;
}

const char* const BitGroups[16] = {"0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111", "1000", "1001",
    "1010", "1011", "1100", "1101", "1110", "1111"};
const char HexDigits[] = "0123456789ABCDEF";

} // namespace

TEST(CryptonizeInstance, InitializeCreatesOnceAndFinalizeFrees)
{
    FinalizeLibCryptonize();
    EXPECT_EQ(ObjCryptonize, nullptr);
    InitializeLibCryptonize();
    TObjCryptonize* const created = ObjCryptonize;
    ASSERT_NE(created, nullptr);
    InitializeLibCryptonize();
    EXPECT_EQ(ObjCryptonize, created);
    FinalizeLibCryptonize();
    EXPECT_EQ(ObjCryptonize, nullptr);
}

TEST(CryptonizeTest, CharacterShifts)
{
    const TObjCryptonize codec {};
    const struct {
        const char* name;
        bool up;
        char16_t code;
        char16_t expected;
    } cases[] = {
        {"up: digit 0", true, u'0', 128},
        {"up: digit 9", true, u'9', 137},
        {"up: letter A", true, u'A', 145},
        {"up: letter F", true, u'F', 150},
        {"up: highest without wrap", true, 175, 255},
        {"up: first wrap", true, 176, 1},
        {"up: 255 meets 0", true, 255, 80},
        {"up: 0", true, 0, 80},
        {"up: beyond 255 subtracts 175", true, 0x0E01, 0x0E01 - 175},
        {"up: highest code", true, 0xFFFF, 0xFFFF - 175},
        {"down: back to digit 0", false, 128, u'0'},
        {"down: back to letter F", false, 150, u'F'},
        {"down: 80 to 0", false, 80, 0},
        {"down: first wrap", false, 79, 254},
        {"down: 0", false, 0, 175},
        {"down: beyond 255", false, 0x0E01, 0x0E01 - 80},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString shifted = c.up ? codec.StringToAscii(QChar(c.code)) : codec.AsciiToString(QChar(c.code));
        EXPECT_EQ(CodesOf(shifted), std::vector<int> {c.expected});
    }
}

TEST(CryptonizeTest, ShiftDownUndoesShiftUpBelow255)
{
    const TObjCryptonize codec {};
    for (int code = 0; code <= 254; ++code) {
        SCOPED_TRACE(code);
        const QString up = codec.StringToAscii(QChar(char16_t(code)));
        EXPECT_EQ(CodesOf(codec.AsciiToString(up[0])), std::vector<int> {code});
    }
    EXPECT_EQ(CodesOf(codec.AsciiToString(codec.StringToAscii(QChar(char16_t(255)))[0])), std::vector<int> {0});
}

TEST(CryptonizeTest, BitGroupsAndHexDigits)
{
    const TObjCryptonize codec {};
    for (int value = 0; value < 16; ++value) {
        SCOPED_TRACE(value);
        const QString digit(QChar::fromLatin1(HexDigits[value]));
        EXPECT_EQ(S(codec.BinToHex(U(BitGroups[value]))), S(digit));
        EXPECT_EQ(S(codec.HexToBin(digit)), BitGroups[value]);
    }
    const struct {
        const char* name;
        bool toHex;
        const char* input;
    } outside[] = {
        {"bits: three", true, "101"},
        {"bits: five", true, "10101"},
        {"bits: empty", true, ""},
        {"bits: other character", true, "10a1"},
        {"bits: Thai digits", true, "๐๐๐๑"},
        {"hex: lower case", false, "a"},
        {"hex: beyond F", false, "G"},
        {"hex: two digits", false, "0A"},
        {"hex: empty", false, ""},
        {"hex: Thai digit", false, "๑"},
    };
    for (const auto& c : outside) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S(c.toHex ? codec.BinToHex(U(c.input)) : codec.HexToBin(U(c.input))), "");
    }
}

TEST(CryptonizeTest, Encryption)
{
    const TObjCryptonize codec {};
    const struct {
        const char* name;
        const char* bits;
        QString scrambled;
    } cases[] = {
        {"one bit is filled to 8", "1", Codes({136})},
        {"two bits", "10", Codes({136})},
        {"three bits", "101", Codes({145})},
        {"four bits need no fill", "1011", Codes({146})},
        {"five bits", "10110", Codes({146, 128})},
        {"F then 0", "11110000", Codes({150, 128})},
        {"every digit", "0000000100100011010001010110011110001001101010111100110111101111",
            Codes({128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 145, 146, 147, 148, 149, 150})},
        {"empty", "", QString()},
        {"a group outside the bits adds nothing", "1x011111", Codes({150})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CodesOf(codec.Encryption(U(c.bits))), CodesOf(c.scrambled));
    }
}

TEST(CryptonizeTest, Decryption)
{
    const TObjCryptonize codec {};
    const struct {
        const char* name;
        QString scrambled;
        const char* bits;
    } cases[] = {
        {"8", Codes({136}), "1000"},
        {"F then 0", Codes({150, 128}), "11110000"},
        {"empty", QString(), ""},
        {"plain letter A adds nothing", U("A"), ""},
        {"colon adds nothing", Codes({138}), ""},
        {"lower-case a adds nothing", Codes({177}), ""},
        {"outside characters among digits", Codes({129, 177, 150}), "00011111"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S(codec.Decryption(c.scrambled)), c.bits);
    }
}

TEST(CryptonizeTest, RoundTripsGiveTheBitsFilledToFour)
{
    const TObjCryptonize codec {};
    const struct {
        const char* bits;
        const char* filled;
    } cases[] = {
        {"", ""},
        {"1", "1000"},
        {"01", "0100"},
        {"111", "1110"},
        {"1111", "1111"},
        {"101100111", "101100111000"},
        {"1111000011110000", "1111000011110000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        EXPECT_EQ(S(codec.Decryption(codec.Encryption(U(c.bits)))), c.filled);
    }
}

TEST(CryptonizeTest, HexTextsAndBitTexts)
{
    const TObjCryptonize codec {};
    const struct {
        const char* name;
        bool toBits;
        const char* input;
        const char* expected;
    } cases[] = {
        {"to bits: two digits", true, "0F", "00001111"},
        {"to bits: letters and digits", true, "A9", "10101001"},
        {"to bits: empty", true, "", ""},
        {"to bits: lower case adds nothing", true, "0f", "0000"},
        {"to hex: two groups", false, "00001111", "0F"},
        {"to hex: six bits use four", false, "101010", "A"},
        {"to hex: seven bits use four", false, "1010111", "A"},
        {"to hex: shorter than four", false, "101", ""},
        {"to hex: empty", false, "", ""},
        {"to hex: group outside the bits adds nothing", false, "1010x0111111", "AF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S(c.toBits ? codec.StringToBin(U(c.input)) : codec.BinToString(U(c.input))), c.expected);
    }
}

TEST(CryptonizeTest, HexInc)
{
    const TObjCryptonize codec {};
    const struct {
        const char* name;
        const char* bits;
        const char* expected;
    } cases[] = {
        {"carry through", "0111", "1000"},
        {"all ones wrap", "1111", "0000"},
        {"no carry", "0110", "0111"},
        {"one bit up", "0", "1"},
        {"one bit wraps", "1", "0"},
        {"empty", "", ""},
        {"other character becomes 0 and stops", "1x11", "1000"},
        {"other character last", "0001x", "00010"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S(codec.HexInc(U(c.bits))), c.expected);
    }
}

TEST(CryptonizeTest, RunningNumberStepsHexByOne)
{
    const TObjCryptonize codec {};
    const struct {
        const char* hex;
        const char* next;
    } cases[] = {
        {"0F", "10"},
        {"FF", "00"},
        {"09", "0A"},
        {"1FF", "200"},
        {"0", "1"},
        {"F", "0"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(S(codec.BinToString(codec.HexInc(codec.StringToBin(U(c.hex))))), c.next);
    }
}

TEST(CryptonizeTest, CheckBoxAsOneBit)
{
    const TObjCryptonize codec {};
    const struct {
        const char* name;
        Qt::CheckState state;
        const char* bit;
    } reads[] = {
        {"ticked", Qt::Checked, "1"},
        {"clear", Qt::Unchecked, "0"},
        {"partial is no tick", Qt::PartiallyChecked, "0"},
    };
    for (const auto& c : reads) {
        SCOPED_TRACE(c.name);
        QCheckBox box;
        box.setTristate(c.state == Qt::PartiallyChecked);
        box.setCheckState(c.state);
        EXPECT_EQ(S(codec.ConvertToBin(box)), c.bit);
    }
    const struct {
        const char* name;
        const char* bit;
        bool before;
        bool after;
    } writes[] = {
        {"1 ticks", "1", false, true},
        {"1 keeps a tick", "1", true, true},
        {"0 never clears", "0", true, true},
        {"0 leaves clear", "0", false, false},
        {"other text leaves clear", "11", false, false},
        {"empty leaves clear", "", false, false},
    };
    for (const auto& c : writes) {
        SCOPED_TRACE(c.name);
        QCheckBox box;
        box.setChecked(c.before);
        codec.ConvertToCheckBox(U(c.bit), box);
        EXPECT_EQ(box.isChecked(), c.after);
    }
}
