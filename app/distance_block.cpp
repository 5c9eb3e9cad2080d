#include "app/distance_block.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace {

constexpr uint8_t kMagic[4] = {'M', 'V', 'D', 'B'};

void putUint32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putDouble(std::vector<uint8_t>& out, double v) {
  const auto bits = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

// Reads forward through the block; every read is checked against its end.
class BlockReader {
 public:
  explicit BlockReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool take(size_t count, const uint8_t*& at) {
    if (bytes_.size() - pos_ < count) return false;
    at = bytes_.data() + pos_;
    pos_ += count;
    return true;
  }
  bool uint32(uint32_t& v) {
    const uint8_t* at = nullptr;
    if (!take(4, at)) return false;
    v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | at[i];
    return true;
  }
  bool float64(double& v) {
    const uint8_t* at = nullptr;
    if (!take(8, at)) return false;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | at[i];
    v = std::bit_cast<double>(bits);
    return true;
  }
  size_t left() const { return bytes_.size() - pos_; }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

uint8_t echoCountOf(const ColumnMeasurement& m) {
  uint8_t n = 0;
  while (n < m.lags.size() && m.lags[n] > 0.0) ++n;
  return n;
}

std::string readEntry(BlockReader& in, uint32_t column, uint32_t rate, ColumnMeasurement& m) {
  const std::string where = "the distances of column " + std::to_string(column);
  const uint8_t* count = nullptr;
  if (!in.uint32(m.foundOffset) || !in.take(1, count)) return where + " are cut short";
  if (*count > kMaxEchoes) {
    return where + " list " + std::to_string(*count) + " echoes, more than " +
           std::to_string(kMaxEchoes);
  }
  for (uint8_t k = 0; k < *count; ++k) {
    if (!in.float64(m.lags[k])) return where + " are cut short";
    // A lag lies beyond the direct sound and inside any recording a plan can make.
    if (!(m.lags[k] > 0.0) || !(m.lags[k] < double{kMaxPlanBytes})) {
      return where + " hold a lag of " + std::to_string(m.lags[k]) + " samples";
    }
  }
  m.stored = column > 0 && (m.foundOffset != 0 || *count > 0);
  m.samplesPerSec = rate;
  return {};
}

}  // namespace

std::vector<uint8_t> distanceBlockBytes(const std::array<ColumnMeasurement, kHistoryColumns>& m) {
  uint32_t columns = 0;
  for (uint32_t c = 1; c < m.size(); ++c) {
    if (m[c].stored) columns = c + 1;
  }
  std::vector<uint8_t> out(std::begin(kMagic), std::end(kMagic));
  putUint32(out, kDistanceBlockVersion);
  putUint32(out, columns);
  for (uint32_t c = 0; c < columns; ++c) {
    const bool stored = c > 0 && m[c].stored;
    putUint32(out, stored ? m[c].foundOffset : 0);
    const uint8_t count = stored ? echoCountOf(m[c]) : 0;
    out.push_back(count);
    for (uint8_t k = 0; k < count; ++k) putDouble(out, m[c].lags[k]);
  }
  return out;
}

std::string readDistanceBlock(std::span<const uint8_t> block, uint32_t samplesPerSec,
                              std::array<ColumnMeasurement, kHistoryColumns>& measured) {
  BlockReader in(block);
  const uint8_t* magic = nullptr;
  uint32_t version = 0, columns = 0;
  if (!in.take(4, magic) || std::memcmp(magic, kMagic, 4) != 0) {
    return "what follows the history is not a distance block";
  }
  if (!in.uint32(version) || !in.uint32(columns)) return "the distance block is cut short";
  if (version != kDistanceBlockVersion) {
    return "the distance block is of version " + std::to_string(version) +
           ", which this version cannot read";
  }
  if (columns > kHistoryColumns) {
    return "the distance block lists " + std::to_string(columns) + " columns, more than the " +
           std::to_string(kHistoryColumns) + " of the history";
  }
  std::array<ColumnMeasurement, kHistoryColumns> read{};
  for (uint32_t c = 0; c < columns; ++c) {
    if (std::string problem = readEntry(in, c, samplesPerSec, read[c]); !problem.empty()) {
      return problem;
    }
  }
  if (in.left() != 0) {
    return "the distance block has " + std::to_string(in.left()) + " bytes after its last column";
  }
  measured = read;
  return {};
}
