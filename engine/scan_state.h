#pragma once
#include <array>
#include <cstdint>
#include <vector>

// Where the sweep stands: a plain record that the reset (audio/), the drawing and the reports
// (display/), the scan cycle and the files (app/) share, so it lives below all of them.

enum ScanStateCode : int8_t { kIdle = 0, kRunning = 1, kComplete = 2 };

constexpr uint32_t kScanColumns = 358;      // columns of the echogram (x = 10 to 367)
constexpr uint32_t kLastTimedColumn = 349;  // a timed sweep ends after this column
constexpr uint32_t kLastManualColumn = 358;
constexpr uint32_t kHistoryColumns = 360;
constexpr uint32_t kHistoryRows = 440;

struct StylusPosition {
  int32_t x = 0;
  int32_t y = 0;
};

// Found offsets per scan. The value for scan 0 sits in front of the 358 scan entries; scan k
// (1..358) is entry k - 1. `forScan` is the only accessor, and it clamps, so no caller can index
// outside the table whatever column a key or a file brought in.
struct ScanOffsets {
  std::array<uint32_t, kScanColumns + 1> values{};  // values[0] is scan 0, values[k] is scan k

  uint32_t& forScan(uint32_t scan) { return values[scan > kScanColumns ? kScanColumns : scan]; }
  uint32_t forScan(uint32_t scan) const {
    return values[scan > kScanColumns ? kScanColumns : scan];
  }
};

struct ScanState {
  int8_t scanState = kIdle;
  uint32_t tickCount = 0;
  uint32_t scanColumn = 0;
  uint32_t latestScan = 0;
  ScanOffsets scanOffsets;
  uint32_t peakAmplitude = 0;
  StylusPosition stylusPosition;
};

// The stored echogram: column c, row r at value c * 440 + r. Its first 103 values double as the
// header of the sonar and parameter files.
struct ScanHistory {
  std::vector<int32_t> values = std::vector<int32_t>(kHistoryColumns * kHistoryRows, 0);

  int32_t& at(uint32_t column, uint32_t row) { return values[column * kHistoryRows + row]; }
  int32_t at(uint32_t column, uint32_t row) const { return values[column * kHistoryRows + row]; }
};
