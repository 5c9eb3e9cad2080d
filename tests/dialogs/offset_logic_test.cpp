#include "dialogs/offset_logic.h"

#include <gtest/gtest.h>

#include "case_name.h"

#include "test_program.h"

namespace {

struct OffsetCase {
  const char* name;
  OffsetControls entered;
  OffsetControls stored;
};

class OffsetReplacementTest : public ProgramTest, public testing::WithParamInterface<OffsetCase> {};

TEST_P(OffsetReplacementTest, StoresOrReplacesSilently) {
  ASSERT_EQ(settings().inBufferBytes, 9670u);
  readOffsetControls(settings(), GetParam().entered);
  EXPECT_EQ(settings().offsetBytes, GetParam().stored.offsetBytes);
  EXPECT_EQ(settings().deltaOffsetBytes, GetParam().stored.deltaOffsetBytes);
  EXPECT_EQ(settings().clockMultiplier, GetParam().stored.clockMultiplier);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, OffsetReplacementTest,
    testing::Values(OffsetCase{"EmptyFields", {0, 0, 0}, {600, 1000, 10}},
                    OffsetCase{"LowestAccepted", {1, 1, 1}, {1, 1, 1}},
                    OffsetCase{"HighestAccepted", {32000, 9670, 100}, {32000, 9670, 100}},
                    OffsetCase{"JustAbove", {32001, 32001, 101}, {600, 1000, 10}},
                    // Beyond the current recording though within 32000.
                    OffsetCase{"DeltaAboveRecording", {600, 9671, 4}, {600, 1000, 4}}),
    caseName<OffsetCase>);

TEST_F(ProgramTest, OffsetOkReplansAndPreparesWithoutAPing) {
  const uint64_t before = static_cast<SimBackend&>(*program.backend).nowTicks();
  commitOffset(program, shell, {1000, 500, 4});
  EXPECT_EQ(settings().offsetBytes, 1000u);
  EXPECT_EQ(settings().inBufferBytes, 2 * 5235u);  // 4233.6 + 2 + 1000, doubled
  EXPECT_EQ(program.pair.inHeader.length, 2 * 5235u + 1000);
  EXPECT_EQ(static_cast<SimBackend&>(*program.backend).nowTicks(), before);
  EXPECT_TRUE(shell.messages.empty());
}

}  // namespace
