#include <gtest/gtest.h>

#include "ErrorOf.h"
#include "automation/ComError.h"
#include "automation/Guid.h"
#include "automation/Variant.h"

using namespace carvo;
using carvo::test::errorOf;


TEST(Variant, TextToLongRoundsHalvesToEvenAndChecksRange) {
    EXPECT_EQ(Variant("2.5").toLong(), 2);
    EXPECT_EQ(Variant("3.5").toLong(), 4);
    EXPECT_EQ(Variant("-2.5").toLong(), -2);
    EXPECT_EQ(Variant(" 42 ").toLong(), 42);
    EXPECT_EQ(Variant("1e3").toLong(), 1000);
    EXPECT_EQ(Variant("2147483647").toLong(), 2147483647);
    EXPECT_EQ(Variant("-2147483648").toLong(), INT32_MIN);
    EXPECT_EQ(Variant("2147483647.4").toLong(), 2147483647);
    EXPECT_EQ(errorOf([] { Variant("2147483648").toLong(); }), hr::Overflow);
    EXPECT_EQ(errorOf([] { Variant("2147483647.5").toLong(); }), hr::Overflow);
    EXPECT_EQ(errorOf([] { Variant("-2147483649").toLong(); }), hr::Overflow);
    EXPECT_EQ(errorOf([] { Variant(1e300).toLong(); }), hr::Overflow);
}

TEST(Variant, NonNumericTextIsATypeMismatch) {
    for (const char* bad : {"", "   ", "abc", "12abc", "1.2.3x", "Select Chunk Size*", "+", ".", "0x10"})
        EXPECT_EQ(errorOf([bad] { Variant(bad).toLong(); }), hr::TypeMismatch) << bad;
    EXPECT_EQ(errorOf([] { Variant(ByteArray{1, 2}).toLong(); }), hr::TypeMismatch);
}

TEST(Variant, BooleansAreSixteenBitAndConvertLikeAutomation) {
    EXPECT_EQ(Variant::fromBool(VTrue).toString(), "True");
    EXPECT_EQ(Variant::fromBool(VFalse).toString(), "False");
    EXPECT_EQ(Variant("True").toBool(), VTrue);
    EXPECT_EQ(Variant("false").toBool(), VFalse);
    EXPECT_EQ(Variant("0").toBool(), VFalse);
    EXPECT_EQ(Variant("7").toBool(), VTrue);
    EXPECT_EQ(Variant(std::int32_t{5}).toBool(), VTrue);
    EXPECT_EQ(Variant().toBool(), VFalse);
    EXPECT_EQ(errorOf([] { Variant("maybe").toBool(); }), hr::TypeMismatch);
    EXPECT_EQ(Variant::fromBool(VTrue).toLong(), -1);
}

TEST(Variant, NumbersToTextAndIntegerRange) {
    EXPECT_EQ(Variant(std::int32_t{-17}).toString(), "-17");
    EXPECT_EQ(Variant(1.5).toString(), "1.5");
    EXPECT_EQ(Variant(1.5f).toString(), "1.5");
    EXPECT_EQ(Variant().toString(), "");
    EXPECT_EQ(Variant("32767").toInteger(), 32767);
    EXPECT_EQ(errorOf([] { Variant("32768").toInteger(); }), hr::Overflow);
    EXPECT_EQ(formatNumber(9.09, ','), "9,09");
}

TEST(Guid, ParsesAndPrintsTheRegistryForm) {
    auto g = Guid::parse("{04552374-e2a4-11d5-af92-edbf0b71f73e}");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->toString(), "{04552374-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(Guid::parse("04552374-E2A4-11D5-AF92-EDBF0B71F73E"), g);
    for (const char* bad : {"", "{04552374-E2A4-11D5-AF92-EDBF0B71F73}", "{04552374-E2A4-11D5-AF92_EDBF0B71F73E}",
                            "{0455237G-E2A4-11D5-AF92-EDBF0B71F73E}", "[04552374-E2A4-11D5-AF92-EDBF0B71F73E]"})
        EXPECT_FALSE(Guid::parse(bad)) << bad;
}
