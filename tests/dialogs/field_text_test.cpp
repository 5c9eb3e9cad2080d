#include "dialogs/field_text.h"

#include <gtest/gtest.h>

#include "case_name.h"

namespace {

struct FieldCase {
  const char* name;
  const char* text;
  uint32_t value;
};

class FieldTextTest : public testing::TestWithParam<FieldCase> {};

TEST_P(FieldTextTest, ReadsAsUnsignedDecimal) {
  EXPECT_EQ(readUnsignedField(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldTextTest,
    testing::Values(FieldCase{"Empty", "", 0}, FieldCase{"Blanks", "   ", 0},
                    FieldCase{"Plain", "8000", 8000}, FieldCase{"Padded", "  42 ", 42},
                    FieldCase{"LeadingZeros", "007", 7}, FieldCase{"Letters", "abc", 0},
                    FieldCase{"TrailingLetters", "12a", 0}, FieldCase{"Negative", "-5", 0},
                    FieldCase{"Fraction", "1.5", 0}, FieldCase{"Largest", "4294967295", UINT32_MAX},
                    FieldCase{"Overflow", "4294967296", 0},
                    FieldCase{"FarOverflow", "99999999999999999999999", 0}),
    caseName<FieldCase>);

TEST(FieldTextTest, ShowsValuesUnsigned) {
  EXPECT_EQ(unsignedFieldText(0), "0");
  EXPECT_EQ(unsignedFieldText(static_cast<uint32_t>(-5)), "4294967291");
}

}  // namespace
