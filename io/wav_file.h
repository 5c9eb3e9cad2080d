#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Plain PCM WAV files (a 44-byte canonical header, then the samples as the devices give them:
// unsigned 8-bit or signed 16-bit little-endian), written and read without any audio library so
// that the audio layer can keep and play back raw recordings.

struct PcmFormat {
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint16_t bitsPerSample = 0;

  uint32_t frameBytes() const { return uint32_t{channels} * bitsPerSample / 8; }
  bool operator==(const PcmFormat&) const = default;
};

// "44100 Hz, 16 bits, 2 channels", for messages.
std::string describePcmFormat(const PcmFormat& format);

// The complete file image: header and samples.
std::vector<uint8_t> wavImage(const PcmFormat& format, std::span<const uint8_t> samples);

// Creates `path` (which must not exist yet) and writes the file, checking every write and the
// close. Returns the reason on failure (the partial file is removed), empty on success.
std::string writeNewWavFile(const std::string& path, const PcmFormat& format,
                            std::span<const uint8_t> samples);

struct PcmWav {
  PcmFormat format;
  uint64_t dataBytes = 0;      // what the data chunk holds (bounded by the file's size)
  std::vector<uint8_t> bytes;  // the samples, when read
};

// Reads a PCM WAV (format tag 1, 1 or 2 channels, 8 or 16 bits) of at most `maxFileBytes`.
// With `samples` false only the header is checked and `bytes` stays empty. Returns the reason
// on failure, empty on success.
enum class WavPart : uint8_t { kHeaderOnly, kSamples };
std::string readPcmWavFile(const std::string& path, uint64_t maxFileBytes, WavPart part,
                           PcmWav& wav);

// The same on a file image in memory.
std::string parsePcmWav(std::span<const uint8_t> image, WavPart part, PcmWav& wav);
