#pragma once
#include <cstdint>

// The PCM format record both audio devices and every engine operation are given. Field for field
// the platform's published 18-byte PCM format record, so files and dialogs map onto it one to one.
struct WaveFormat {
  uint16_t formatTag = 0;  // 1 = PCM
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
};

inline bool isSixteenBit(const WaveFormat& format) {
  return format.bitsPerSample == 16;
}

// Block alignment and byte rate follow from channels, bits and rate; every editor of the format
// recomputes them the same way (16-bit alignment, 32-bit byte rate, both wrapping as stored).
// The product of channels and bits is a 32-bit word that wraps (a file may bring 65535 of each),
// divided as a signed number, truncating towards zero.
inline void recomputeDerivedFormat(WaveFormat& format) {
  const auto bits = static_cast<int32_t>(uint32_t{format.channels} * format.bitsPerSample);
  format.blockAlign = static_cast<uint16_t>(bits / 8);
  format.avgBytesPerSec = static_cast<uint32_t>(format.blockAlign) * format.samplesPerSec;
}
