#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/program.h"

// The echoes of each column travel with a sonar file in a block after the whole history: "MVDB",
// a version (1), the column count, then per column its found offset, its echo count (at most
// seven) and each echo's lag beyond the direct sound. All numbers little-endian: offsets and
// counts as uint32 (the echo count as one byte), lags as float64 sample periods. Lags rather
// than metres, so that neither the medium nor a calibration ever changes a file's bytes; the
// distance table reads them at the speed in use. Readers of the shorter layouts stop before it.

constexpr uint32_t kDistanceBlockVersion = 1;
constexpr size_t kDistanceBlockHeadBytes = 12;  // magic, version, column count
constexpr size_t kDistanceEntryBytes = 4 + 1;   // found offset, echo count; then the lags
constexpr size_t kMaxDistanceBlockBytes =
    kDistanceBlockHeadBytes + kHistoryColumns * (kDistanceEntryBytes + kMaxEchoes * 8);

// The block of the measured columns: entries for columns 0 up to the last one measured (column 0
// holds the file header and is always empty; so is a column the sweep skipped).
std::vector<uint8_t> distanceBlockBytes(const std::array<ColumnMeasurement, kHistoryColumns>& m);

// Reads a block into `measured` (each column taken as measured at `samplesPerSec`); on a
// problem nothing is taken and the reason is returned in words. An empty block reads as none.
// A column whose entry is all empty (no offset, no echo) is not a measurement.
std::string readDistanceBlock(std::span<const uint8_t> block, uint32_t samplesPerSec,
                              std::array<ColumnMeasurement, kHistoryColumns>& measured);
