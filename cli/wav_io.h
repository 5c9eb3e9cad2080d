#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/wave_format.h"

// PCM WAV files through libsndfile, as raw sample bytes in the wave format's own encoding
// (unsigned 8-bit, or signed 16-bit little-endian), exactly as the devices play and record them.

struct WavRecording {
  WaveFormat format;
  std::vector<uint8_t> bytes;
};

// Writes `bytes` (whole frames only) to `path` through CheckedSave: all or nothing, never over
// one of `inputs`. Returns an empty string on success, else the reason.
std::string writeWav(const std::string& path, const WaveFormat& format,
                     std::span<const uint8_t> bytes, std::span<const std::string> inputs = {});

// Reads a PCM WAV of 8 or 16 bits, 1 or 2 channels, at one of the supported rates, at most
// `maxBytes` bytes of it. Returns an empty string on success, else the reason.
std::string readWav(const std::string& path, uint64_t maxBytes, WavRecording& recording);
