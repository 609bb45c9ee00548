#include "remote/VariantCodec.h"

#include "remote/RemoteErrors.h"
#include "remote/RemoteTestSupport.h"

#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

TVarFlags flags(bool byRef, bool variant = false)
{
    TVarFlags f;
    if (byRef)
        f.Include(vfByRef);
    if (variant)
        f.Include(vfVariant);
    return f;
}

struct Case {
    const char* name;
    Variant written;
    QByteArray bytes;
    Variant read; // what the bytes read back as
    TVarFlags readFlags;
};

Variant array(VarType type, std::vector<ArrayBound> bounds, const std::vector<Variant>& items)
{
    SafeArray a(type, std::move(bounds));
    for (size_t i = 0; i < items.size(); ++i)
        a.SetElement(qint64(i), items[i]);
    return Variant(std::move(a));
}

QByteArray encode(const Variant& value, IObjectReferences& objects)
{
    const DataBlockRef block = TDataBlock::Create();
    WriteVariant(value, *block, objects);
    return Payload(*block);
}

// Every kind of value, with its bytes; each case is run both ways.
class CodecTable : public ::testing::Test {
protected:
    Variant five = Variant(5);
    qint32 seven = 7;
    QString text = QStringLiteral("ab");
    Variant bytes3 = Variant::FromBytes(Hex("01 02 03"));
    RecordingReferences objects;

    std::vector<Case> Cases()
    {
        const Variant v2x2 = array(varVariant, {{1, 2}, {1, 2}}, {Variant(1), Variant(2), Variant(3), Variant(u"x")});
        return {
            {"empty", Variant(), Hex("00000000"), Variant(), flags(false)},
            {"null", Variant::Null(), Hex("01000000"), Variant::Null(), flags(false)},
            {"smallint", Variant(qint16(-2)), Hex("02000000 FEFF"), Variant(qint16(-2)), flags(false)},
            {"integer", Variant(5), Hex("03000000 05000000"), Variant(5), flags(false)},
            {"single", Variant::FromSingle(1.5f), Hex("04000000 0000C03F"), Variant::FromSingle(1.5f), flags(false)},
            {"double", Variant(1.5), Hex("05000000 000000000000F83F"), Variant(1.5), flags(false)},
            {"currency", Variant::FromCurrency(12345), Hex("06000000 3930000000000000"), Variant::FromCurrency(12345),
                flags(false)},
            {"date", Variant::FromDate(2.5), Hex("07000000 0000000000000440"), Variant::FromDate(2.5), flags(false)},
            {"empty text", Variant(QString()), Hex("08000000 00000000"), Variant(QString()), flags(false)},
            {"thai text", Variant(u"ก1"), Hex("08000000 02000000 010E 3100"), Variant(u"ก1"), flags(false)},
            {"error", Variant::FromError(qint32(0x80020004)), Hex("0A000000 04000280"),
                Variant::FromError(qint32(0x80020004)), flags(false)},
            {"true", Variant(true), Hex("0B000000 FFFF"), Variant(true), flags(false)},
            {"false", Variant(false), Hex("0B000000 0000"), Variant(false), flags(false)},
            {"shortint", Variant::Typed(varShortInt, -1), Hex("10000000 FF"), Variant::Typed(varShortInt, -1),
                flags(false)},
            {"byte", Variant::FromByte(200), Hex("11000000 C8"), Variant::FromByte(200), flags(false)},
            {"word", Variant::Typed(varWord, 0xBEEF), Hex("12000000 EFBE"), Variant::Typed(varWord, 0xBEEF),
                flags(false)},
            {"longword", Variant::Typed(varLongWord, 0xDEADBEEF), Hex("13000000 EFBEADDE"),
                Variant::Typed(varLongWord, 0xDEADBEEF), flags(false)},
            {"empty byte array", Variant::FromBytes(QByteArray()), Hex("11200000 01000000 00000000 FFFFFFFF 00000000"),
                Variant::FromBytes(QByteArray()), flags(false)},
            {"byte array", bytes3, Hex("11200000 01000000 00000000 02000000 03000000 010203"), bytes3, flags(false)},
            {"integer array from 1", array(varInteger, {{1, 2}}, {Variant(7), Variant(8)}),
                Hex("03200000 01000000 01000000 02000000 08000000 07000000 08000000"),
                array(varInteger, {{1, 2}}, {Variant(7), Variant(8)}), flags(false)},
            {"boolean array", array(varBoolean, {{0, 1}}, {Variant(true), Variant(false)}),
                Hex("0B200000 01000000 00000000 01000000 04000000 FFFF 0000"),
                array(varBoolean, {{0, 1}}, {Variant(true), Variant(false)}), flags(false)},
            {"smallint array 2x3", array(varSmallint, {{0, 1}, {0, 2}}, {1, 2, 3, 4, 5, 6}),
                Hex("02200000 02000000 00000000 00000000 01000000 02000000 0C000000 0100 0200 0300 0400 0500 0600"),
                array(varSmallint, {{0, 1}, {0, 2}}, {1, 2, 3, 4, 5, 6}), flags(false)},
            {"text array", array(varOleStr, {{0, 1}}, {Variant(u"a"), Variant()}),
                Hex("08200000 01000000 00000000 01000000 08000000 01000000 6100 08000000 00000000"),
                array(varOleStr, {{0, 1}}, {Variant(u"a"), Variant(QString())}), flags(false)},
            {"variant array 2x2", v2x2,
                Hex("0C200000 02000000 01000000 01000000 02000000 02000000"
                    "03000000 01000000 03000000 02000000 03000000 03000000 08000000 01000000 7800"),
                v2x2, flags(false)},
            {"variant by reference holding 5", Variant::ByRef(varVariant, &five), Hex("00400000 03000000 05000000"),
                Variant(5), flags(true, true)},
            {"7 by reference", Variant::ByRef(varInteger, &seven), Hex("03400000 07000000"), Variant(7), flags(true)},
            {"text by reference", Variant::ByRef(varOleStr, &text), Hex("08400000 02000000 6100 6200"), Variant(u"ab"),
                flags(true)},
            {"decimal, tag only", Variant::TagOnly(varDecimal), Hex("0E000000"), Variant::TagOnly(varDecimal),
                flags(false)},
            {"reserved code 15, tag only", Variant::TagOnly(varReserved), Hex("0F000000"),
                Variant::TagOnly(varReserved), flags(false)},
            {"integer array from -1 as the last value", array(varInteger, {{-1, 0}}, {Variant(7), Variant(8)}),
                Hex("03200000 01000000 FFFFFFFF 00000000 08000000 07000000 08000000"),
                array(varInteger, {{-1, 0}}, {Variant(7), Variant(8)}), flags(false)},
            {"null by reference", Variant::ByRef(varNull, static_cast<Variant*>(nullptr)), Hex("01400000"),
                Variant::Null(), flags(true)},
            {"byte array by reference", Variant::ByRef(varArray | varByte, &bytes3),
                Hex("11600000 01000000 00000000 02000000 03000000 010203"), bytes3, flags(true)},
        };
    }
};

TEST_F(CodecTable, EncodesEachValueToItsBytes)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToHex(encode(c.written, objects)), ToHex(c.bytes));
    }
}

TEST_F(CodecTable, DecodesEachValueWithItsFlags)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const DataBlockRef block = PayloadBlock(c.bytes);
        TVarFlags f;
        const Variant v = ReadVariant(f, *block, objects);
        EXPECT_EQ(v.VType(), c.read.VType());
        EXPECT_TRUE(v == c.read) << S(v.ToString());
        EXPECT_TRUE(f == c.readFlags);
        EXPECT_TRUE(block->Unread().isEmpty());
    }
}

TEST_F(CodecTable, EveryCutInsideAValueIsRefusedAndJunkAfterItIsLeftUnread)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        for (qsizetype cut = 1; cut < c.bytes.size(); ++cut) {
            SCOPED_TRACE(cut);
            const DataBlockRef block = PayloadBlock(c.bytes.first(cut));
            TVarFlags f;
            EXPECT_THROW(ReadVariant(f, *block, objects), EInterpreterError);
        }
        const DataBlockRef block = PayloadBlock(c.bytes + Hex("FFFFFFFF 00"));
        TVarFlags f;
        EXPECT_TRUE(ReadVariant(f, *block, objects) == c.read);
        EXPECT_EQ(ToHex(block->Unread().toByteArray()), "ff ff ff ff 00");
        try {
            ReadVariant(f, *block, objects);
            ADD_FAILURE() << "junk read as a value";
        } catch (const EInterpreterError& e) {
            EXPECT_EQ(S(e.Message()), "Unsupported variant type: FFFF");
        }
    }
}

TEST(VariantCodec, ReadingAtTheEndGivesUnassignedAndValuesFollowEachOther)
{
    RecordingReferences objects;
    const DataBlockRef block = PayloadBlock(Hex("03000000 01000000 08000000 01000000 6100"));
    TVarFlags f;
    EXPECT_EQ(ReadVariant(f, *block, objects).ToInt(), 1);
    EXPECT_EQ(S(ReadVariant(f, *block, objects).ToString()), "a");
    for (int i = 0; i < 2; ++i) {
        const Variant v = ReadVariant(f, *block, objects);
        EXPECT_TRUE(v.IsEmpty());
        EXPECT_TRUE(f == flags(false));
    }
}

TEST(VariantCodec, ObjectReferencesGoThroughTheObjectLists)
{
    RecordingReferences objects;
    const auto object = std::make_shared<NoObject>();
    EXPECT_EQ(ToHex(encode(Variant(DispatchRef(object)), objects)), "09 00 00 00 28 00 00 00");
    ASSERT_EQ(objects.stored.size(), 1u);
    EXPECT_EQ(objects.stored[0], object);

    const DataBlockRef block = PayloadBlock(Hex("09000000 07000000 09200000 01000000 00000000 00000000 09000000 "
                                                "08000000"));
    TVarFlags f;
    const Variant one = ReadVariant(f, *block, objects);
    ASSERT_EQ(one.VType(), varDispatch);
    EXPECT_EQ(std::static_pointer_cast<NoObject>(one.Dispatch())->index, 7);
    const Variant list = ReadVariant(f, *block, objects);
    ASSERT_EQ(list.VType(), varArray | varDispatch);
    EXPECT_EQ(std::static_pointer_cast<NoObject>(list.Array()->GetElement(0).Dispatch())->index, 8);
    EXPECT_EQ(objects.proxies, (std::vector<qint32> {7, 8}));
}

TEST(VariantCodec, TypesOutsideTheEncodingAreRefusedWhenRead)
{
    const struct {
        const char* bytes;
        const char* code;
    } cases[] = {
        {"0D000000", "000D"}, // interface reference
        {"0D400000", "000D"},
        {"0C000000", "000C"}, // a variant not held by reference
        {"0C400000", "000C"},
        {"14000000 0100000000000000", "0014"}, // 8-byte integers
        {"15000000 0100000000000000", "0015"},
        {"FF0F0000", "0FFF"},
        {"03100000 01000000", "1003"}, // bits outside 0x6FFF
        {"03800000 01000000", "8003"},
        {"03000100 01000000", "0003"},
        {"0A200000 01000000 00000000 00000000 04000000 00000000", "200A"}, // arrays of error codes
        {"00200000 01000000 00000000 FFFFFFFF", "2000"},
        {"01200000 01000000 00000000 FFFFFFFF", "2001"},
        {"0D200000 01000000 00000000 FFFFFFFF", "200D"},
        {"14200000 01000000 00000000 FFFFFFFF", "2014"},
    };
    RecordingReferences objects;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const DataBlockRef block = PayloadBlock(Hex(c.bytes));
        TVarFlags f;
        try {
            ReadVariant(f, *block, objects);
            ADD_FAILURE() << "read";
        } catch (const EInterpreterError& e) {
            EXPECT_EQ(S(e.Message()), std::string("Unsupported variant type: ") + c.code);
        }
    }
}

TEST(VariantCodec, ValuesOutsideTheEncodingAreRefusedWhenWrittenAndLeaveTheBlockAsItWas)
{
    Variant inner;
    DispatchRef object = std::make_shared<NoObject>();
    InterfaceRef unknown = std::make_shared<IInterface>();
    const struct {
        const char* name;
        Variant value;
        const char* code;
    } cases[] = {
        {"interface reference", Variant::FromInterface(std::make_shared<IInterface>()), "000D"},
        {"interface reference by reference", Variant::ByRef(varUnknown, &unknown), "400D"},
        {"8-byte integer", Variant::FromInt64(1), "0014"},
        {"unsigned 8-byte integer", Variant::Typed(varUInt64, 1), "0015"},
        {"object by reference", Variant::ByRef(varDispatch, &object), "4009"},
        {"empty by reference", Variant::ByRef(varEmpty, &inner), "4000"},
        {"array of 8-byte integers", Variant(SafeArray(varInt64, {{0, 0}})), "2014"},
        {"array of error codes", Variant(SafeArray(varError, {{0, 0}})), "200A"},
        {"8-byte integer inside a variant array", array(varVariant, {{0, 2}}, {1, 2, Variant::FromInt64(3)}), "0014"},
    };
    RecordingReferences objects;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DataBlockRef block = PayloadBlock(Hex("03000000 01000000"));
        try {
            WriteVariant(c.value, *block, objects);
            ADD_FAILURE() << "written";
        } catch (const EInterpreterError& e) {
            EXPECT_EQ(S(e.Message()), std::string("Unsupported variant type: ") + c.code);
        }
        EXPECT_EQ(ToHex(Payload(*block)), "03 00 00 00 01 00 00 00");
    }
}

// Array headers whose counts do not add up: none of them may allocate what
// it claims or read past the payload.
TEST(VariantCodec, HostileArraysAreRefusedBeforeAnythingIsAllocated)
{
    const struct {
        const char* name;
        QByteArray bytes;
        const char* message;
    } cases[] = {
        {"2 GiB byte array, nothing after", Hex("11200000 01000000 00000000 FEFFFF7F FFFFFF7F"),
            "An array of 2147483647 elements does not fit in the 0 bytes left in the data block"},
        {"byte count larger than the elements", Hex("11200000 01000000 00000000 02000000 04000000 01020304"),
            "An array's byte count 4 is not its 3 elements of 1 bytes"},
        {"byte count smaller than the elements", Hex("03200000 01000000 00000000 01000000 04000000 01000000"),
            "An array's byte count 4 is not its 2 elements of 4 bytes"},
        {"negative byte count", Hex("11200000 01000000 00000000 FFFFFFFF FFFFFFFF"),
            "An array's byte count -1 is not its 0 elements of 1 bytes"},
        {"huge variant array", Hex("0C200000 01000000 00000000 FFFFFF3F 03000000 01000000"),
            "An array of 1073741824 elements does not fit in the 8 bytes left in the data block"},
        {"huge text array", Hex("08200000 01000000 00000000 FFFFFF7F"),
            "An array of 2147483648 elements does not fit in the 0 bytes left in the data block"},
        {"element counts that multiply past 32 bits",
            Hex("11200000 03000000 00000000 00000000 00000000 FFFF0000 FFFF0000 FFFF0000"),
            "An array of 4294967296 elements does not fit in the 0 bytes left in the data block"},
        {"reversed bounds", Hex("11200000 01000000 05000000 02000000 00000000"),
            "Array bounds 5 to 2 are not possible"},
        {"no dimensions", Hex("11200000 00000000 00000000"), "An array of 0 dimensions is not accepted (1 to 64)"},
        {"negative dimensions", Hex("11200000 FFFFFFFF"), "An array of -1 dimensions is not accepted (1 to 64)"},
        {"65 dimensions", Hex("11200000 41000000") + QByteArray(65 * 8, '\0'),
            "An array of 65 dimensions is not accepted (1 to 64)"},
        {"negative text length", Hex("08000000 FFFFFFFF"), "A text of -1 characters is not possible"},
        {"text longer than the payload", Hex("08000000 FFFFFF7F 6100"), nullptr},
        {"text array holding a number", Hex("08200000 01000000 00000000 00000000 03000000 01000000"),
            "An array of OleStr holds a value of type Integer"},
        {"variant array cut after its first element", Hex("0C200000 01000000 00000000 01000000 03000000 01000000"),
            nullptr},
    };
    RecordingReferences objects;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DataBlockRef block = PayloadBlock(c.bytes);
        TVarFlags f;
        try {
            ReadVariant(f, *block, objects);
            ADD_FAILURE() << "read";
        } catch (const EInterpreterError& e) {
            if (c.message != nullptr)
                EXPECT_EQ(S(e.Message()), c.message);
            else
                EXPECT_TRUE(e.Message().startsWith(QStringLiteral("The data block ends inside a value")))
                    << S(e.Message());
        }
    }
}

QByteArray nestedArrays(int depth)
{
    QByteArray bytes;
    for (int i = 0; i < depth; ++i)
        bytes += Hex("0C200000 01000000 00000000 00000000");
    return bytes + Hex("03000000 05000000");
}

TEST(VariantCodec, ArraysNestAndHaveDimensionsUpToTheLimits)
{
    RecordingReferences objects;
    TVarFlags f;
    Variant v = ReadVariant(f, *PayloadBlock(nestedArrays(MaxArrayNesting)), objects);
    for (int i = 0; i < MaxArrayNesting; ++i) {
        ASSERT_EQ(v.VType(), varArray | varVariant);
        v = v.Array()->GetElement(0);
    }
    EXPECT_EQ(v.ToInt(), 5);
    try {
        ReadVariant(f, *PayloadBlock(nestedArrays(MaxArrayNesting + 1)), objects);
        ADD_FAILURE() << "33 levels read";
    } catch (const EInterpreterError& e) {
        EXPECT_EQ(S(e.Message()), "Arrays nested deeper than 32 levels are not accepted");
    }

    // 64 dimensions of one element each.
    QByteArray bytes = Hex("11200000 40000000") + QByteArray(64 * 8, '\0') + Hex("01000000 2A");
    v = ReadVariant(f, *PayloadBlock(bytes), objects);
    ASSERT_EQ(v.VType(), varArray | varByte);
    EXPECT_EQ(v.Array()->DimCount(), 64);
    EXPECT_EQ(ToHex(encode(v, objects)), ToHex(bytes));

    // Writing stops at the same depth.
    Variant deep = Variant(5);
    for (int i = 0; i < MaxArrayNesting + 1; ++i)
        deep = array(varVariant, {{0, 0}}, {deep});
    const DataBlockRef block = TDataBlock::Create();
    EXPECT_THROW(WriteVariant(deep, *block, objects), EInterpreterError);
    EXPECT_EQ(block->GetSize(), 0);
}

// The downloaded program arrives as the last value of its reply: the array
// takes over the block's buffer instead of copying the bytes.
TEST(VariantCodec, ALastRawArrayAdoptsTheBlocksBufferAndAnyOtherIsCopiedOnce)
{
    RecordingReferences objects;
    const QByteArray program(100000, 'p');
    const DataBlockRef last
        = PayloadBlock(Hex("03000000 00000000 11200000 01000000 00000000 9F860100 A0860100") + program);
    const char* where = last->Unread().data() + 8 + 20;
    TVarFlags f;
    ReadVariant(f, *last, objects);
    const Variant adopted = ReadVariant(f, *last, objects);
    EXPECT_EQ(adopted.ByteArrayData().constData(), where);
    EXPECT_EQ(adopted.ByteArrayData(), program);
    EXPECT_TRUE(ReadVariant(f, *last, objects).IsEmpty());

    const DataBlockRef integers = PayloadBlock(Hex("03200000 01000000 FFFFFFFF 00000000 08000000 07000000 08000000"));
    const char* elements = integers->Unread().data() + 20;
    const Variant adoptedIntegers = ReadVariant(f, *integers, objects);
    EXPECT_EQ(adoptedIntegers.Array()->RawData().constData(), elements);
    EXPECT_EQ(adoptedIntegers.Array()->GetElement(1).ToInt(), 8);

    const DataBlockRef notLast
        = PayloadBlock(Hex("11200000 01000000 00000000 01000000 02000000 0102 03000000 07000000"));
    const char* data = notLast->Unread().data() + 20;
    const Variant copied = ReadVariant(f, *notLast, objects);
    EXPECT_NE(copied.ByteArrayData().constData(), data);
    EXPECT_EQ(ToHex(copied.ByteArrayData()), "01 02");
    EXPECT_EQ(ReadVariant(f, *notLast, objects).ToInt(), 7);
}

} // namespace
