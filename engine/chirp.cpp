#include "engine/chirp.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/numeric.h"
#include "engine/sonar_settings.h"

namespace {

// The angular step uses this decimal, not the full-precision 2 pi: stored chirps and their
// correlation peaks depend on it.
constexpr double kTwoPi = 6.2831853;
constexpr double kExactTwoPi = 2.0 * std::numbers::pi;

// Iterations past both spans change nothing, so a huge stale length costs no time.
uint64_t lastUsefulIndex(uint32_t length, uint64_t bufferIndexEnd, size_t referenceSize) {
  const uint64_t computed = static_cast<uint64_t>(length) + 4;
  return std::min<uint64_t>(computed, std::max<uint64_t>(bufferIndexEnd, referenceSize));
}

// The quiet chirp's envelope: a Hann window over the played samples, nothing after them. Cut off
// square, a chirp above the audible band spreads into it at both ends (a click); the window keeps
// the energy below 17 kHz of an 18-23 kHz chirp of 3 ms at 48 kHz 52 dB under its band's (a
// quarter of the chirp's length for each fade gives 42 dB, none 19 dB).
struct Fade {
  bool on = false;
  uint64_t played = 0;  // values of the buffer the device plays

  double at(uint64_t i) const {
    if (!on) return 1.0;
    if (i >= played) return 0.0;
    return 0.5 - 0.5 * std::cos(kExactTwoPi * static_cast<double>(i) / static_cast<double>(played));
  }
};

}  // namespace

bool ChirpSweep::quiet() const {
  return std::min(std::abs(fromHz), std::abs(toHz)) >= kQuietChirpLowestHz;
}

void makeChirp16(double startHz, double endHz, std::span<uint8_t> buffer, uint32_t length,
                 std::span<int32_t> reference, const WaveFormat& format) {
  const double step = ((endHz - startHz) / static_cast<double>(length)) * 0.5;
  double f = startHz * 0.5;
  const double w = kTwoPi / static_cast<double>(format.samplesPerSec);
  const double perValue = 0.5 * format.channels;  // as chirpSweep maps it
  const Fade fade{ChirpSweep{perValue * startHz, perValue * endHz, 0.0}.quiet(), length / 2u};
  const uint64_t zeroBytes = std::min<uint64_t>(static_cast<uint64_t>(length) + 4, buffer.size());
  std::fill_n(buffer.begin(), zeroBytes, uint8_t{0});

  const uint64_t end = lastUsefulIndex(length, buffer.size() / 2 + 1, reference.size());
  for (uint64_t i = 0; i < end; ++i) {
    f = f + step;
    const int32_t v =
        truncToInt32(std::sin((static_cast<double>(i) * w) * f) * 32767.0 * fade.at(i));
    if (i < reference.size()) reference[i] = v;
    if (i > 2 && i < static_cast<uint64_t>(length) + 2) {
      const auto sample = static_cast<uint16_t>(static_cast<int16_t>(v));
      if (2 * i < buffer.size()) buffer[2 * i] = static_cast<uint8_t>(sample & 0xFF);
      if (2 * i + 1 < buffer.size()) buffer[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
    }
  }
}

void makeChirp8(double startHz, double endHz, std::span<uint8_t> buffer, uint32_t length,
                std::span<int32_t> reference, const WaveFormat& format) {
  const double c = static_cast<double>(format.channels);
  const double step = ((endHz - startHz) / static_cast<double>(length)) / c;
  double f = startHz / c;
  const double w = kTwoPi / static_cast<double>(format.samplesPerSec);
  const Fade fade{ChirpSweep{startHz, 2.0 * endHz - startHz, 0.0}.quiet(), length};
  std::fill_n(buffer.begin(), std::min<uint64_t>(length, buffer.size()), uint8_t{128});

  const uint64_t end = lastUsefulIndex(length, buffer.size(), reference.size());
  for (uint64_t i = 0; i < end; ++i) {
    f = f + step;
    if (f > endHz) return;
    const int32_t v = truncToInt32(std::sin((static_cast<double>(i) * w) * f) * 127.0 * fade.at(i));
    if (i < reference.size()) reference[i] = v;
    if (i > 2 && i < static_cast<uint64_t>(length) + 2 && i < buffer.size()) {
      buffer[i] = static_cast<uint8_t>(v + 128);
    }
  }
}

ChirpSweep chirpSweep(const SonarSettings& s) {
  const double start = s.startFrequency;
  const double end = s.endFrequency;
  ChirpSweep sweep{start, end, 0.5 * static_cast<double>(s.waveFormat.samplesPerSec)};
  if (s.waveFormat.bitsPerSample == 8) {
    sweep.toHz = 2.0 * end - start;
  } else if (s.waveFormat.bitsPerSample == 16) {
    // The 16-bit synthesis steps through the interleaved values at the frame rate's pace.
    const double perValue = 0.5 * s.waveFormat.channels;
    sweep.fromHz = perValue * start;
    sweep.toHz = perValue * end;
  }
  return sweep;
}
