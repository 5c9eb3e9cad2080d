#pragma once
// Sample values out of the PCM bytes a device plays or records and a file stores: 16-bit signed
// little-endian, or 8-bit unsigned with 128 as silence. Every reader of samples decodes through
// here, so the byte order and the 8-bit offset live in one place. Reads past the bytes' end are
// silence, never a read beyond the buffer.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

// An 8-bit byte as a signed value, -128 to 127.
constexpr int32_t pcm8Value(uint8_t byte) {
  return static_cast<int32_t>(byte) - 128;
}

// Two little-endian bytes as a 16-bit sample.
constexpr int16_t pcm16Value(uint8_t low, uint8_t high) {
  return static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
}

// Sample i of 8-bit PCM, 0 past the end.
constexpr int32_t pcm8At(std::span<const uint8_t> bytes, uint64_t i) {
  return i < bytes.size() ? pcm8Value(bytes[static_cast<size_t>(i)]) : 0;
}

// Sample i of 16-bit PCM (bytes 2i and 2i + 1). A byte past the end counts as 0, so a lone last
// byte is the low half of its sample, as a recording cut inside a sample was always read.
constexpr int16_t pcm16At(std::span<const uint8_t> bytes, uint64_t i) {
  if (i > bytes.size() / 2) return 0;  // also keeps 2i from wrapping
  const uint64_t at = 2 * i;
  const uint8_t low = at < bytes.size() ? bytes[static_cast<size_t>(at)] : 0;
  const uint8_t high = at + 1 < bytes.size() ? bytes[static_cast<size_t>(at + 1)] : 0;
  return pcm16Value(low, high);
}

// Sample i in the format's own scale: -32768 to 32767 for 16 bits, -128 to 127 for 8.
constexpr int32_t pcmSampleAt(std::span<const uint8_t> bytes, uint64_t i, bool sixteenBit) {
  return sixteenBit ? pcm16At(bytes, i) : pcm8At(bytes, i);
}

// How many whole samples the bytes hold.
constexpr uint64_t pcmSampleCount(std::span<const uint8_t> bytes, bool sixteenBit) {
  return sixteenBit ? bytes.size() / 2 : bytes.size();
}

// Decodes the 16-bit samples from .. to - 1 of `recording` into the same places of `samples`
// (those past its end are skipped); a correlation refreshes only the part it reads.
inline void refreshSamples(std::span<int16_t> samples, std::span<const uint8_t> recording,
                           uint64_t from, uint64_t to) {
  to = std::min<uint64_t>(to, samples.size());
  uint64_t k = from;
  if constexpr (std::endian::native == std::endian::little) {
    // Whole samples inside the recording are its bytes as they stand.
    const uint64_t whole = std::min<uint64_t>(to, recording.size() / 2);
    if (k < whole) {
      std::memcpy(samples.data() + k, recording.data() + 2 * k, 2 * (whole - k));
      k = whole;
    }
  }
  for (; k < to; ++k) samples[k] = pcm16At(recording, k);
}
