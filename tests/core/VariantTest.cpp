#include "core/Variant.h"
#include "core/Exceptions.h"

#include <gtest/gtest.h>

using namespace velkaro;

TEST(Variant, ByteArrayAdoptsBufferWithBoundsFromZero)
{
    QByteArray data("abc");
    const char* before = data.constData();
    const Variant v = Variant::FromBytes(data);
    EXPECT_EQ(v.VType(), varArray | varByte);
    ASSERT_EQ(v.Array()->DimCount(), 1);
    EXPECT_EQ(v.Array()->Bounds()[0].low, 0);
    EXPECT_EQ(v.Array()->Bounds()[0].high, 2);
    EXPECT_EQ(v.ByteArrayData().constData(), before); // shared, not copied

    const Variant empty = Variant::FromBytes(QByteArray());
    EXPECT_EQ(empty.Array()->Bounds()[0].high, -1);
    EXPECT_EQ(empty.Array()->ElementCount(), 0);
}

TEST(Variant, CopiesOfArraysAreValues)
{
    Variant a = Variant::FromBytes(QByteArray("xyz"));
    Variant b = a;
    b.MutableArray()->SetElement(0, Variant::FromByte('q'));
    EXPECT_EQ(a.ByteArrayData(), QByteArray("xyz"));
    EXPECT_EQ(b.ByteArrayData(), QByteArray("qyz"));
}

TEST(Variant, ByteArrayDataRefusesOtherShapes)
{
    SafeArray twoDims(varByte, {{0, 1}, {0, 1}});
    SafeArray words(varWord, {{0, 3}});
    for (const Variant& v :
        {Variant(), Variant::Null(), Variant(QStringLiteral("x")), Variant(twoDims), Variant(words)}) {
        SCOPED_TRACE(Variant::TypeName(v.VType()).toStdString());
        EXPECT_THROW(v.ByteArrayData(), EVariantError);
    }
}

TEST(Variant, TextForms)
{
    struct Case {
        Variant value;
        QString text;
    };
    const Case cases[] = {
        {Variant(), ""},
        {Variant(42), "42"},
        {Variant(true), "True"},
        {Variant(QStringLiteral("กข")), "กข"},
        {Variant::FromCurrency(-12500), "-1.25"},
        {Variant::Typed(varLongWord, 0xFFFFFFFF), "4294967295"},
        {Variant(2.5), "2.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(c.value.ToString(), c.text);
    }
    try {
        Variant::Null().ToString();
        FAIL() << "Null has no text form";
    } catch (const EVariantError& e) {
        EXPECT_EQ(e.Message(), "Could not convert variant of type (Null) into type (OleStr)");
    }
}

TEST(Variant, ByRefFollowsCallerStorage)
{
    QString text = "before";
    qint32 number = 7;
    Variant inner(5);
    const Variant refText = Variant::ByRef(varOleStr, &text);
    const Variant refInt = Variant::ByRef(varInteger, &number);
    const Variant refVariant = Variant::ByRef(varVariant, &inner);
    text = "after";
    number = 8;
    EXPECT_EQ(refText.VType(), varByRef | varOleStr);
    EXPECT_EQ(refText.Deref(), Variant(QStringLiteral("after")));
    EXPECT_EQ(refInt.Deref(), Variant(8));
    EXPECT_EQ(refVariant.Deref(), Variant(5));
}

TEST(Variant, ArrayBoundsAreChecked)
{
    EXPECT_THROW(SafeArray(varByte, {{0, -2}}), EVariantError);
    EXPECT_THROW(SafeArray(varInteger, {{0, 0x3FFFFFFF}}), EVariantError);
    SafeArray a(varVariant, {{1, 2}, {1, 2}});
    EXPECT_EQ(a.ElementCount(), 4);
    EXPECT_THROW(a.GetElement(4), EVariantError);
}
