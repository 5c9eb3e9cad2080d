#include "app/sonar_files.h"

#include <algorithm>
#include <array>

#include "app/header_ranges.h"
#include "engine/buffer_plan.h"

namespace {

// Header slots: the word of column 0 that carries each byte.
enum Slot : uint32_t {
  kMedium = 0,
  kDisplayMode = 1,
  kRecordTimeHigh = 3,
  kRecordTimeLow = 4,
  kChirpTimeHigh = 7,
  kChirpTimeLow = 8,
  kStartFrequency = 10,  // four slots, most significant byte first
  kEndFrequency = 20,    // four slots, most significant byte first
  kOffsetHigh = 30,
  kOffsetLow = 31,
  kDeltaOffsetHigh = 34,
  kDeltaOffsetLow = 35,
  kTuneScaleHigh = 37,
  kTuneScaleLow = 38,
  kScanColumn = 40,
  kClockMultiplier = 50,
  kCutOff = 51,
  kGainEnabled = 53,
  kGain = 54,
  kChannels = 100,
  kBitsPerSample = 101,
  kRateCode = 102,
};

int32_t byteAt(uint32_t value, int shift) {
  return static_cast<int32_t>((value >> shift) & 0xFF);
}
// The low byte as a signed byte widened to 32 bits.
int32_t signedLowByte(uint32_t value) {
  return static_cast<int8_t>(static_cast<uint8_t>(value));
}

void putBigEndian16(ScanHistory& h, uint32_t highSlot, uint32_t value) {
  h.at(0, highSlot) = byteAt(value, 8);
  h.at(0, highSlot + 1) = byteAt(value, 0);
}

void putBigEndian32(ScanHistory& h, uint32_t firstSlot, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i)
    h.at(0, firstSlot + i) = byteAt(value, 24 - 8 * static_cast<int>(i));
}

// Slot words are combined as whole 32-bit words, wrapping, as the files have always been read.
uint32_t word(const ScanHistory& h, uint32_t slot) {
  return static_cast<uint32_t>(h.at(0, slot));
}

uint32_t combine16(const ScanHistory& h, uint32_t highSlot) {
  return word(h, highSlot) * 256u + word(h, highSlot + 1);
}

uint32_t combine32(const ScanHistory& h, uint32_t firstSlot) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < 4; ++i) v = v * 256u + word(h, firstSlot + i);
  return v;
}

// The slots that carry one byte (saved as a signed byte widened) come back as that byte: the
// widening would turn a saved 200 into 4294967240.
uint32_t lowByte(const ScanHistory& h, uint32_t slot) {
  return word(h, slot) & 0xFFu;
}

}  // namespace

size_t bytesWritten(FileKind kind) {
  return kind == FileKind::kParameters ? kParameterFileWriteBytes : kSonarFileBytes;
}

size_t bytesRead(FileKind kind) {
  return kind == FileKind::kParameters ? kParameterFileReadBytes : kSonarFileBytes;
}

std::string fileMessage(std::string_view text, const std::string& reason) {
  std::string message(text);
  if (!reason.empty()) message += "\r\n" + reason;
  return message;
}

void encodeHeader(const SonarSettings& s, const ScanState& scan, ScanHistory& h) {
  h.at(0, kMedium) = s.medium;
  h.at(0, kDisplayMode) = s.displayMode;
  putBigEndian16(h, kRecordTimeHigh, s.recordTime);
  putBigEndian16(h, kChirpTimeHigh, s.chirpTime);
  putBigEndian32(h, kStartFrequency, s.startFrequency);
  putBigEndian32(h, kEndFrequency, s.endFrequency);
  putBigEndian16(h, kOffsetHigh, s.offsetBytes);
  putBigEndian16(h, kDeltaOffsetHigh, s.deltaOffsetBytes);
  putBigEndian16(h, kTuneScaleHigh, s.tuneScale);
  h.at(0, kScanColumn) = signedLowByte(scan.scanColumn);
  h.at(0, kClockMultiplier) = signedLowByte(s.clockMultiplier);
  h.at(0, kCutOff) = signedLowByte(static_cast<uint32_t>(s.cutOff));
  h.at(0, kGainEnabled) = signedLowByte(s.gainEnabled);
  h.at(0, kGain) = signedLowByte(static_cast<uint32_t>(s.gain));
  h.at(0, kChannels) = signedLowByte(s.waveFormat.channels);
  h.at(0, kBitsPerSample) = signedLowByte(s.waveFormat.bitsPerSample);
  const auto rate = std::find(kRatesByCode.begin(), kRatesByCode.end(), s.waveFormat.samplesPerSec);
  if (rate != kRatesByCode.end())
    h.at(0, kRateCode) = static_cast<int32_t>(rate - kRatesByCode.begin()) + 1;
}

void decodeHeader(const ScanHistory& h, SonarSettings& s, ScanState& scan) {
  s.medium = static_cast<int8_t>(static_cast<uint8_t>(word(h, kMedium)));
  s.displayMode = static_cast<uint8_t>(word(h, kDisplayMode));
  s.recordTime = combine16(h, kRecordTimeHigh);
  s.chirpTime = combine16(h, kChirpTimeHigh);
  s.startFrequency = combine32(h, kStartFrequency);
  s.endFrequency = combine32(h, kEndFrequency);
  s.offsetBytes = combine16(h, kOffsetHigh);
  s.deltaOffsetBytes = combine16(h, kDeltaOffsetHigh);
  s.tuneScale = combine16(h, kTuneScaleHigh);
  scan.scanColumn = word(h, kScanColumn);
  s.clockMultiplier = lowByte(h, kClockMultiplier);
  s.cutOff = static_cast<int32_t>(lowByte(h, kCutOff));
  // The switch is saved with the gain, so a file restores how its echogram was gained.
  s.gainEnabled = static_cast<uint8_t>(word(h, kGainEnabled));
  s.gain = static_cast<int32_t>(lowByte(h, kGain));
  s.waveFormat.channels = static_cast<uint16_t>(word(h, kChannels));
  s.waveFormat.bitsPerSample = static_cast<uint16_t>(word(h, kBitsPerSample));
  const uint32_t code = word(h, kRateCode);
  if (code >= 1 && code <= kRatesByCode.size()) s.waveFormat.samplesPerSec = kRatesByCode[code - 1];
  recomputeDerivedFormat(s.waveFormat);
}

std::string headerProblem(const SonarSettings& s) {
  if (std::string problem = rangeProblem(s); !problem.empty()) return problem;
  if (!plannedLengths(s).fit()) return "the record or chirp time is too long for the buffers";
  return {};
}

std::vector<uint8_t> historyBytes(const ScanHistory& h, size_t byteCount) {
  byteCount = std::min(byteCount, h.values.size() * 4);
  std::vector<uint8_t> bytes(byteCount);
  for (size_t i = 0; i < byteCount; ++i) {
    bytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(h.values[i / 4]) >> (8 * (i % 4)));
  }
  return bytes;
}

void loadHistoryBytes(std::span<const uint8_t> bytes, ScanHistory& h) {
  std::fill(h.values.begin(), h.values.end(), 0);
  const size_t count = std::min(bytes.size(), h.values.size() * 4);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t w =
        static_cast<uint32_t>(h.values[i / 4]) | (uint32_t{bytes[i]} << (8 * (i % 4)));
    h.values[i / 4] = static_cast<int32_t>(w);
  }
}
