#pragma once
#include <array>
#include <cstddef>
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

// The sampling rates the program plays, records, plans and stores [samples per second]. Files
// carry a rate as its code, its place in this list counted from 1: 1 to 4 are the rates of the
// first files, 48000 and 96000 came later (5 and 6), so older versions keep their own rate when
// they meet those.
inline constexpr std::array<uint32_t, 6> kSupportedRates = {8000,  11025, 22050,
                                                            44100, 48000, 96000};

// The file code of a supported rate, 0 for any other rate.
inline uint32_t rateCode(uint32_t samplesPerSec) {
  for (size_t i = 0; i < kSupportedRates.size(); ++i) {
    if (kSupportedRates[i] == samplesPerSec) return static_cast<uint32_t>(i) + 1;
  }
  return 0;
}

// The rate a file code stands for, 0 when the code stands for none.
inline uint32_t rateOfCode(uint32_t code) {
  return code >= 1 && code <= kSupportedRates.size() ? kSupportedRates[code - 1] : 0;
}
