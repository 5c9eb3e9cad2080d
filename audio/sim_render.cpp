#include "audio/sim_render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

// Windowed-sinc fractional delay: 32 taps under a Blackman window. Its passband error stays far
// below the 16-bit noise floor up to 0.8 of the Nyquist frequency, which covers every chirp the
// dialogs allow, and an integer delay is an exact copy.
constexpr int kHalfTaps = 16;
constexpr int kTaps = 2 * kHalfTaps;
using Kernel = std::array<double, kTaps>;

double blackman(double u) {
  const double a = std::numbers::pi * u / kHalfTaps;
  return 0.42 + 0.5 * std::cos(a) + 0.08 * std::cos(2.0 * a);
}

// Tap k weighs sample n0 - kHalfTaps + 1 + k for the position n0 + frac. `cut` below 1 lowers
// the interpolator's band edge when a slower input samples a faster output.
void makeKernel(double frac, double cut, Kernel& kernel) {
  for (int k = 0; k < kTaps; ++k) {
    const double u = frac + kHalfTaps - 1 - k;
    const double x = std::numbers::pi * cut * u;
    const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
    kernel[k] = cut * sinc * blackman(u);
  }
}

uint64_t splitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Uniform in (0, 1]: never 0, so the logarithm below stays finite.
double unitInterval(uint64_t bits) {
  return static_cast<double>((bits >> 11) + 1) * 0x1.0p-53;
}

// Adds one path's view of one played segment to the accumulator of the capture.
void addPath(const SimPath& path, const PlayedSegment& seg, const CaptureSpan& capture,
             uint64_t captureFrames, uint64_t inTicksPerFrame, std::span<float> acc) {
  const uint16_t inChannels = capture.format.channels;
  const uint16_t channels = std::min(inChannels, seg.channels);
  if (channels == 0 || seg.frames == 0) return;
  // Position in the segment, in its frames, of the capture frame f: (base + f * inTpf) / outTpf.
  const double outTpf = static_cast<double>(seg.ticksPerFrame);
  const double inTpf = static_cast<double>(inTicksPerFrame);
  const double base = (static_cast<double>(static_cast<int64_t>(capture.firstTick)) -
                       static_cast<double>(static_cast<int64_t>(seg.startTick))) -
                      path.delaySeconds * static_cast<double>(kSimTicksPerSecond);
  const double firstF = std::ceil((-kHalfTaps * outTpf - base) / inTpf);
  const double lastF =
      std::floor(((static_cast<double>(seg.frames) + kHalfTaps) * outTpf - base) / inTpf);
  const double cut = std::min(1.0, outTpf / inTpf);
  const auto from = static_cast<uint64_t>(std::max(0.0, firstF));
  const auto to = static_cast<uint64_t>(std::clamp(lastF + 1.0, 0.0, double(captureFrames)));
  Kernel kernel{};
  double kernelFrac = -1.0;
  for (uint64_t f = from; f < to; ++f) {
    const double p = (base + static_cast<double>(f) * inTpf) / outTpf;
    const double whole = std::floor(p);
    const double frac = p - whole;
    const auto n0 = static_cast<int64_t>(whole);
    float* out = &acc[f * inChannels];
    if (frac == 0.0 && cut == 1.0) {
      if (n0 < 0 || n0 >= static_cast<int64_t>(seg.frames)) continue;
      const float* in = &seg.samples[static_cast<uint64_t>(n0) * seg.channels];
      for (uint16_t c = 0; c < channels; ++c) out[c] += static_cast<float>(path.gain * in[c]);
      continue;
    }
    if (frac != kernelFrac) {
      makeKernel(frac, cut, kernel);
      kernelFrac = frac;
    }
    for (uint16_t c = 0; c < channels; ++c) {
      double sum = 0.0;
      for (int k = 0; k < kTaps; ++k) {
        const int64_t n = n0 - kHalfTaps + 1 + k;
        if (n < 0 || n >= static_cast<int64_t>(seg.frames)) continue;
        sum += kernel[k] * seg.samples[static_cast<uint64_t>(n) * seg.channels + c];
      }
      out[c] += static_cast<float>(path.gain * sum);
    }
  }
}

void storeSample(const CaptureSpan& capture, double value, uint64_t index,
                 std::span<uint8_t> bytes) {
  if (isSixteenBit(capture.format)) {
    const auto v = static_cast<int32_t>(std::clamp(std::lround(value), -32768l, 32767l));
    const auto u = static_cast<uint16_t>(v);
    if (2 * index < bytes.size()) bytes[2 * index] = static_cast<uint8_t>(u & 0xFF);
    if (2 * index + 1 < bytes.size()) bytes[2 * index + 1] = static_cast<uint8_t>(u >> 8);
  } else if (index < bytes.size()) {
    bytes[index] = static_cast<uint8_t>(std::clamp(std::lround(value / 256.0) + 128, 0l, 255l));
  }
}

}  // namespace

uint64_t simTicksPerFrame(uint32_t samplesPerSec) {
  if (samplesPerSec == 0 || kSimTicksPerSecond % samplesPerSec != 0) return 0;
  return kSimTicksPerSecond / samplesPerSec;
}

PlayedSegment decodePlayed(std::span<const uint8_t> bytes, const WaveFormat& format,
                           uint64_t startTick) {
  PlayedSegment seg;
  seg.startTick = startTick;
  seg.ticksPerFrame = std::max<uint64_t>(1, simTicksPerFrame(format.samplesPerSec));
  seg.channels = std::max<uint16_t>(1, format.channels);
  const bool wide = isSixteenBit(format);
  const size_t bytesPerSample = wide ? 2 : 1;
  const size_t frameBytes = bytesPerSample * seg.channels;
  seg.frames = (bytes.size() + frameBytes - 1) / frameBytes;
  seg.samples.assign(seg.frames * seg.channels, 0.0f);
  for (size_t i = 0; i < seg.samples.size(); ++i) {
    const size_t at = i * bytesPerSample;
    if (wide && at + 1 < bytes.size()) {
      const auto u = static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
      seg.samples[i] = static_cast<float>(static_cast<int16_t>(u));
    } else if (!wide && at < bytes.size()) {
      seg.samples[i] = static_cast<float>((static_cast<int32_t>(bytes[at]) - 128) * 256);
    }
  }
  return seg;
}

double roomNoise(uint64_t seed, uint32_t streamSerial, uint64_t frame, uint16_t channel) {
  uint64_t state = seed;
  state ^= splitMix64(state) + (static_cast<uint64_t>(streamSerial) << 32);
  state ^= splitMix64(state) + frame;
  state ^= splitMix64(state) + channel;
  const double u1 = unitInterval(splitMix64(state));
  const double u2 = unitInterval(splitMix64(state));
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

void renderCapture(const RoomSound& room, std::span<const PlayedSegment> played,
                   const CaptureSpan& capture, std::span<uint8_t> bytes,
                   std::vector<float>& scratch) {
  const WaveFormat& format = capture.format;
  const uint64_t inTpf = simTicksPerFrame(format.samplesPerSec);
  const uint64_t frameBytes =
      static_cast<uint64_t>(format.channels) * (isSixteenBit(format) ? 2 : 1);
  if (inTpf == 0 || frameBytes == 0) return;
  const uint64_t frames = (bytes.size() + frameBytes - 1) / frameBytes;
  scratch.assign(frames * format.channels, 0.0f);
  for (const PlayedSegment& seg : played) {
    for (const SimPath& path : room.paths) addPath(path, seg, capture, frames, inTpf, scratch);
  }
  for (uint64_t f = 0; f < frames; ++f) {
    for (uint16_t c = 0; c < format.channels; ++c) {
      const uint64_t index = f * format.channels + c;
      const double noise = room.noiseRms == 0.0
                               ? 0.0
                               : room.noiseRms * roomNoise(room.seed, capture.streamSerial,
                                                           capture.firstFrame + f, c);
      storeSample(capture, scratch[index] + noise, index, bytes);
    }
  }
}

uint64_t simAudibleTicks(std::span<const SimPath> paths, uint64_t ticksPerFrame) {
  double longest = 0.0;
  for (const SimPath& p : paths) longest = std::max(longest, p.delaySeconds);
  return static_cast<uint64_t>(std::ceil(longest * kSimTicksPerSecond)) +
         (kHalfTaps + 1) * ticksPerFrame;
}
