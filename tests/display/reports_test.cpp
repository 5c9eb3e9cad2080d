#include <gtest/gtest.h>

#include <vector>

#include "display/reports.h"
#include "display_test_util.h"

namespace {

struct InfoCase {
  const char* name;
  std::vector<uint32_t> offsets;  // scans 1..N
  const char* average;
  const char* deviation;
  const char* last;
};

class InfoStatistics : public testing::TestWithParam<InfoCase> {};

std::string lineOf(const std::string& text, const std::string& prefix) {
  const size_t at = text.find(prefix);
  if (at == std::string::npos) return "";
  return text.substr(at, text.find("\r\n", at) - at);
}

TEST_P(InfoStatistics, AverageAndDeviationOfTheFoundOffsets) {
  const InfoCase& c = GetParam();
  ScanState scan;
  scan.scanOffsets.forScan(0) = 600;
  scan.scanColumn = static_cast<uint32_t>(c.offsets.size());
  for (size_t k = 0; k < c.offsets.size(); ++k) {
    scan.scanOffsets.forScan(static_cast<uint32_t>(k + 1)) = c.offsets[k];
  }
  const std::string text = infoReportText(displaytest::defaultSettings(), scan);
  EXPECT_EQ(lineOf(text, "Ave. offset"), std::string("Ave. offset ") + c.average + " B");
  EXPECT_EQ(lineOf(text, "Dev. of offset"), std::string("Dev. of offset ") + c.deviation + " B");
  EXPECT_EQ(lineOf(text, "Last offset"), std::string("Last offset ") + c.last + " B");
}

INSTANTIATE_TEST_SUITE_P(
    Sweeps, InfoStatistics,
    testing::Values(InfoCase{"ThreeOffsets", {600, 602, 607}, "603", "2", "607"},
                    InfoCase{"AllEqual", {650, 650, 650, 650}, "650", "0", "650"},
                    InfoCase{"TruncatedAverage", {1, 2}, "1", "0", "2"},
                    // 4097 squared is not a float: it rounds to 16785408, whose root is below 4097.
                    InfoCase{"SinglePrecisionSquares", {0, 8194}, "4097", "4096", "8194"},
                    InfoCase{"NoScansShowsScanZero", {}, "0", "0", "600"}),
    displaytest::CaseName());

TEST(InfoReport, FullTextAfterReset) {
  SonarSettings s = displaytest::defaultSettings();
  s.inBufferBytes = 9670;
  s.outBufferBytes = 352;
  ScanState scan;
  scan.scanColumn = 1;
  scan.scanOffsets.forScan(1) = 600;
  EXPECT_EQ(infoReportText(s, scan),
            "Nr. scans 1\r\nSet offset 600 B\r\nLast offset 600 B\r\nAve. offset 600 B\r\n"
            "Dev. of offset 0 B\r\nBuffer in 9670 B\r\nBuffer out 352 B\r\nTime in 48 ms\r\n"
            "Time out 2000 um\r\nStart freq. 8000 Hz\r\nEnd freq. 12000 Hz");
}

TEST(InfoReport, ColumnBeyondTheTableIsClamped) {
  ScanState scan;
  scan.scanColumn = 4000000000u;
  scan.scanOffsets.values.fill(10);
  const std::string text = infoReportText(displaytest::defaultSettings(), scan);
  EXPECT_EQ(lineOf(text, "Nr. scans"), "Nr. scans 358");
  EXPECT_EQ(lineOf(text, "Ave. offset"), "Ave. offset 10 B");
}

TEST(ObstructionReport, SevenLinesInMetres) {
  EXPECT_EQ(obstructionReportText({0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}),
            "Obstruction #1 0.00[m]\r\nObstruction #2 0.00[m]\r\nObstruction #3 0.00[m]\r\n"
            "Obstruction #4 0.00[m]\r\nObstruction #5 0.00[m]\r\nObstruction #6 0.00[m]\r\n"
            "Obstruction #7 0.00[m]\r\n");
  const std::string text = obstructionReportText({0.8, 1.904, 12.345, 0, 0, 0, 0});
  EXPECT_EQ(text.substr(0, 48), "Obstruction #1 0.80[m]\r\nObstruction #2 1.90[m]\r\n");
  EXPECT_NE(text.find("Obstruction #3 12.35[m]"), std::string::npos);
}

}  // namespace
