#include "audio/sim_render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "audio/sim_fft.h"
#include "audio/sim_kernel.h"
#include "engine/pcm_samples.h"

namespace {

constexpr int kHalfTaps = kSimHalfTaps;
constexpr int kTaps = kSimTaps;
constexpr int kPinkRows = 16;
constexpr size_t kMaxPinkChannels = 2;  // channels with a running pink stream

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

// Sound that paths reflect: the played samples of a segment, or what a realistic room's device
// makes of them.
struct SourceView {
  const float* samples = nullptr;
  uint16_t channels = 1;
  uint64_t frames = 0;
  double startTick = 0.0;
  uint64_t ticksPerFrame = 1;
};

SourceView playedView(const PlayedSegment& seg) {
  return {seg.samples.data(), seg.channels, seg.frames, static_cast<double>(seg.startTick),
          seg.ticksPerFrame};
}

// Which input channels a path reaches, and from which source channel: its own, or the one
// channel of a mono source.
struct ChannelSpan {
  uint16_t first = 0;
  uint16_t end = 0;
  bool monoSource = false;
};

// Adds one path's view of one source to the accumulator of the capture.
void addPath(const SimPath& path, const SourceView& src, const CaptureSpan& capture,
             uint64_t captureFrames, uint64_t inTicksPerFrame, ChannelSpan span,
             std::span<float> acc) {
  const uint16_t inChannels = capture.format.channels;
  span.end = std::min(span.end, inChannels);
  if (span.first >= span.end || src.frames == 0) return;
  // Position in the source, in its frames, of the capture frame f: (base + f * inTpf) / outTpf.
  const double outTpf = static_cast<double>(src.ticksPerFrame);
  const double inTpf = static_cast<double>(inTicksPerFrame);
  const double base =
      (static_cast<double>(static_cast<int64_t>(capture.firstTick)) - src.startTick) -
      path.delaySeconds * static_cast<double>(kSimTicksPerSecond);
  const double firstF = std::ceil((-kHalfTaps * outTpf - base) / inTpf);
  const double lastF =
      std::floor(((static_cast<double>(src.frames) + kHalfTaps) * outTpf - base) / inTpf);
  const double cut = std::min(1.0, outTpf / inTpf);
  const auto from = static_cast<uint64_t>(std::max(0.0, firstF));
  const auto to = static_cast<uint64_t>(std::clamp(lastF + 1.0, 0.0, double(captureFrames)));
  const auto frames = static_cast<int64_t>(src.frames);
  SimKernel kernel{};
  double kernelFrac = -1.0;
  for (uint64_t f = from; f < to; ++f) {
    const double p = (base + static_cast<double>(f) * inTpf) / outTpf;
    const double whole = std::floor(p);
    const double frac = p - whole;
    const auto n0 = static_cast<int64_t>(whole);
    float* out = &acc[f * inChannels];
    const bool exact = frac == 0.0 && cut == 1.0;
    if (!exact && frac != kernelFrac) {
      makeSimKernel(frac, cut, kernel);
      kernelFrac = frac;
    }
    for (uint16_t c = span.first; c < span.end; ++c) {
      const uint16_t sc = span.monoSource ? 0 : c;
      if (exact) {
        if (n0 >= 0 && n0 < frames) {
          out[c] += static_cast<float>(path.gain * src.samples[n0 * src.channels + sc]);
        }
        continue;
      }
      double sum = 0.0;
      for (int k = 0; k < kTaps; ++k) {
        const int64_t n = n0 - kHalfTaps + 1 + k;
        if (n < 0 || n >= frames) continue;
        sum += kernel[k] * src.samples[n * src.channels + sc];
      }
      out[c] += static_cast<float>(path.gain * sum);
    }
  }
}

// Adds the moving reflectors of one segment: every input channel hears its own microphone's
// paths.
void addMoving(const PlayedSegment& seg, bool realistic, const CaptureSpan& capture,
               uint64_t captureFrames, uint64_t inTicksPerFrame, std::span<float> acc) {
  SourceView src = playedView(seg);
  bool mono = false;
  if (realistic) {
    if (seg.movingSourceFrames == 0) return;
    src.samples = seg.movingSource.data();
    src.channels = seg.movingSourceChannels;
    src.frames = seg.movingSourceFrames;
    src.startTick +=
        static_cast<double>(seg.movingSourceStartFrame) * static_cast<double>(seg.ticksPerFrame);
    mono = src.channels == 1;
  }
  for (uint16_t c = 0; c < capture.format.channels; ++c) {
    if (!mono && c >= src.channels) break;
    const auto& paths = seg.movingPaths[std::min<size_t>(c, kSimMicChannels - 1)];
    for (const SimPath& path : paths) {
      addPath(path, src, capture, captureFrames, inTicksPerFrame,
              {c, static_cast<uint16_t>(c + 1), mono}, acc);
    }
  }
}

// Adds what a realistic room made of one segment to the accumulator of the capture. Sound of
// another rate than the capture's is not heard (the program never records at another rate than
// it plays).
void addHeard(const PlayedSegment& seg, const CaptureSpan& capture, uint64_t captureFrames,
              uint64_t inTicksPerFrame, std::span<float> acc) {
  if (seg.heardFrames == 0 || seg.ticksPerFrame != inTicksPerFrame) return;
  const auto tpf = static_cast<int64_t>(inTicksPerFrame);
  const int64_t offset =
      static_cast<int64_t>(capture.firstTick) - static_cast<int64_t>(seg.startTick);
  const int64_t whole = offset >= 0 ? offset / tpf : -((-offset + tpf - 1) / tpf);
  const double frac = static_cast<double>(offset - whole * tpf) / static_cast<double>(tpf);
  // Capture frame f hears heard sample (whole - heardStartFrame + f) + frac.
  const int64_t shift = whole - seg.heardStartFrame;
  const auto heardFrames = static_cast<int64_t>(seg.heardFrames);
  const int64_t from = std::max<int64_t>(0, -shift - kHalfTaps);
  const int64_t to =
      std::min<int64_t>(static_cast<int64_t>(captureFrames), heardFrames - shift + kHalfTaps);
  const uint16_t channels = capture.format.channels;
  SimKernel kernel{};
  if (frac != 0.0) makeSimKernel(frac, 1.0, kernel);
  for (uint16_t c = 0; c < channels; ++c) {
    const float* heard = &seg.heard[std::min<size_t>(c, kSimMicChannels - 1) * seg.heardFrames];
    for (int64_t f = from; f < to; ++f) {
      const int64_t n0 = f + shift;
      double v = 0.0;
      if (frac == 0.0) {
        if (n0 >= 0 && n0 < heardFrames) v = heard[n0];
      } else {
        for (int k = 0; k < kTaps; ++k) {
          const int64_t n = n0 - kHalfTaps + 1 + k;
          if (n >= 0 && n < heardFrames) v += kernel[static_cast<size_t>(k)] * heard[n];
        }
      }
      acc[static_cast<size_t>(f) * channels + c] += static_cast<float>(v);
    }
  }
}

// One row of the pink noise at `frame`: uniform on [-sqrt 3, sqrt 3] / 4 (sixteen rows sum to
// unit variance), the same for the 2^row frames that share frame >> row.
double pinkRow(uint64_t seed, uint32_t streamSerial, uint16_t channel, int row, uint64_t frame) {
  constexpr double kRowScale = 1.7320508075688772 / 4.0;
  uint64_t state = seed ^ 0x5049'4E4B'0000'0000ull;  // apart from the white noise's states
  state ^= splitMix64(state) + (static_cast<uint64_t>(streamSerial) << 32) + channel;
  state ^= splitMix64(state) + (static_cast<uint64_t>(row) << 56) + (frame >> row);
  return (2.0 * unitInterval(splitMix64(state)) - 1.0) * kRowScale;
}

// Pink noise of one channel along consecutive frames, as roomPinkNoise gives it: a row is drawn
// again only when its frame >> row changes, so a frame costs about two rows instead of sixteen.
class PinkStream {
 public:
  PinkStream(uint64_t seed, uint32_t streamSerial, uint16_t channel)
      : seed_(seed), serial_(streamSerial), channel_(channel) {}
  double at(uint64_t frame) {
    double sum = 0.0;
    for (int row = 0; row < kPinkRows; ++row) {
      const size_t r = static_cast<size_t>(row);
      if (!drawn_ || (frame >> row) != (frame_ >> row)) {
        rows_[r] = pinkRow(seed_, serial_, channel_, row, frame);
      }
      sum += rows_[r];
    }
    drawn_ = true;
    frame_ = frame;
    return sum;
  }

 private:
  uint64_t seed_;
  uint32_t serial_;
  uint16_t channel_;
  std::array<double, kPinkRows> rows_{};
  uint64_t frame_ = 0;
  bool drawn_ = false;
};

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
  // A sample cut short at the end of the bytes is not played; 8-bit samples on the 16-bit scale.
  const uint64_t whole = std::min<uint64_t>(pcmSampleCount(bytes, wide), seg.samples.size());
  for (size_t i = 0; i < whole; ++i) {
    seg.samples[i] = static_cast<float>(pcmSampleAt(bytes, i, wide) * (wide ? 1 : 256));
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
    addMoving(seg, room.realistic, capture, frames, inTpf, scratch);
    if (room.realistic) {
      addHeard(seg, capture, frames, inTpf, scratch);
      continue;
    }
    const ChannelSpan all{0, seg.channels, false};
    for (const SimPath& path : room.paths) {
      addPath(path, playedView(seg), capture, frames, inTpf, all, scratch);
    }
  }
  const double clip = room.clipLevel * 32767.0;
  std::array<PinkStream, kMaxPinkChannels> pink{PinkStream(room.seed, capture.streamSerial, 0),
                                                PinkStream(room.seed, capture.streamSerial, 1)};
  for (uint64_t f = 0; f < frames; ++f) {
    for (uint16_t c = 0; c < format.channels; ++c) {
      const uint64_t index = f * format.channels + c;
      const uint64_t frame = capture.firstFrame + f;
      double v = scratch[index] + room.dcOffset;
      if (room.noiseRms != 0.0) {
        v += room.noiseRms * roomNoise(room.seed, capture.streamSerial, frame, c);
      }
      if (room.pinkRms != 0.0) {
        v += room.pinkRms * (c < kMaxPinkChannels
                                 ? pink[c].at(frame)
                                 : roomPinkNoise(room.seed, capture.streamSerial, frame, c));
      }
      if (room.clipLevel < 1.0) v = std::clamp(v, -clip, clip);
      storeSample(capture, v, index, bytes);
    }
  }
}

double roomPinkNoise(uint64_t seed, uint32_t streamSerial, uint64_t frame, uint16_t channel) {
  double sum = 0.0;
  for (int row = 0; row < kPinkRows; ++row) sum += pinkRow(seed, streamSerial, channel, row, frame);
  return sum;
}

void hearSegment(const RoomImpulse& impulse, bool oneLoudspeaker, PlayedSegment& seg) {
  if (seg.frames == 0 || impulse.frames() == 0) return;
  std::vector<double> source(seg.frames);
  std::vector<std::vector<double>> heard;
  for (size_t mic = 0; mic < kSimMicChannels; ++mic) {
    const size_t own = std::min<size_t>(mic, seg.channels - 1u);
    for (uint64_t f = 0; f < seg.frames; ++f) {
      const float* frame = &seg.samples[f * seg.channels];
      double v = 0.0;
      if (oneLoudspeaker) {
        for (uint16_t c = 0; c < seg.channels; ++c) v += frame[c];
        v /= seg.channels;
      } else {
        v = frame[own];
      }
      source[f] = v;
    }
    heard.push_back(convolve(source, impulse.channels[mic]));
  }
  seg.heardFrames = heard[0].size();
  seg.heardStartFrame = impulse.startFrame;
  seg.heard.resize(seg.heardFrames * kSimMicChannels);
  for (size_t mic = 0; mic < kSimMicChannels; ++mic) {
    std::copy(heard[mic].begin(), heard[mic].end(), seg.heard.begin() + mic * seg.heardFrames);
  }
}

uint64_t simHeardUntilTick(const PlayedSegment& seg) {
  const int64_t lastFrame =
      seg.heardStartFrame + static_cast<int64_t>(seg.heardFrames) + kHalfTaps + 1;
  return seg.startTick + static_cast<uint64_t>(std::max<int64_t>(0, lastFrame)) * seg.ticksPerFrame;
}

uint64_t simMovingUntilTick(const PlayedSegment& seg) {
  uint64_t until = 0;
  for (const auto& paths : seg.movingPaths) {
    until = std::max(until, seg.endTick() + simAudibleTicks(paths, seg.ticksPerFrame));
  }
  const double lead = static_cast<double>(std::min<int64_t>(0, seg.movingSourceStartFrame));
  const double tail =
      static_cast<double>(seg.movingSourceFrames) + lead - static_cast<double>(seg.frames);
  return until + static_cast<uint64_t>(std::max(0.0, tail)) * seg.ticksPerFrame;
}

void colourMovingSource(std::span<const double> taps, int leadTaps, bool oneLoudspeaker,
                        PlayedSegment& seg) {
  const uint16_t channels = oneLoudspeaker ? 1 : seg.channels;
  std::vector<double> source(seg.frames);
  std::vector<std::vector<double>> coloured;
  for (uint16_t c = 0; c < channels; ++c) {
    for (uint64_t f = 0; f < seg.frames; ++f) {
      const float* frame = &seg.samples[f * seg.channels];
      double v = frame[c];
      if (oneLoudspeaker) {
        v = 0.0;
        for (uint16_t k = 0; k < seg.channels; ++k) v += frame[k];
        v /= seg.channels;
      }
      source[f] = v;
    }
    coloured.push_back(convolve(source, taps));
  }
  seg.movingSourceChannels = channels;
  seg.movingSourceFrames = coloured.empty() ? 0 : coloured[0].size();
  seg.movingSourceStartFrame = -leadTaps;
  seg.movingSource.assign(seg.movingSourceFrames * channels, 0.0f);
  for (uint16_t c = 0; c < channels; ++c) {
    for (uint64_t f = 0; f < seg.movingSourceFrames; ++f) {
      seg.movingSource[f * channels + c] = static_cast<float>(coloured[c][f]);
    }
  }
}

uint64_t simAudibleTicks(std::span<const SimPath> paths, uint64_t ticksPerFrame) {
  double longest = 0.0;
  for (const SimPath& p : paths) longest = std::max(longest, p.delaySeconds);
  return static_cast<uint64_t>(std::ceil(longest * kSimTicksPerSecond)) +
         (kHalfTaps + 1) * ticksPerFrame;
}
