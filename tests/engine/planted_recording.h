#pragma once
// Recordings planted with known arrivals, written here from the play buffer and apart from the
// simulated room: the direct sound and each echo a copy of the played chirp through a device,
// delayed by a fractional number of frames (a windowed sinc of its own), plus Gaussian noise.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/buffer_plan.h"
#include "engine/correlation.h"
#include "engine/sonar_settings.h"

namespace planted {

struct Reflector {
  double metres, gain;
};

// A loudspeaker that colours the chirp, written here as recursive filters by the bilinear
// transform (RBJ's cookbook), apart from the simulated room's own frequency-sampled ones.
enum class Device { kFlat, kLowPass15k, kHighPass2k, kResonant, kRinging };

struct Scene {
  double latencyMs = 7.4;
  double direct = 0.3;
  std::vector<Reflector> echoes;
  double noiseRms = 30.0;  // in 16-bit units
  uint32_t seed = 1;
  Device device = Device::kFlat;
  // Steady tones at the microphone (a whine, a fan): each one's RMS relative to the direct
  // sound's, and its phase at the recording's first frame.
  struct Tone {
    double hz, db, phase = 0.3;
  };
  std::vector<Tone> tones;
};

struct Biquad {
  double b0, b1, b2, a1, a2;  // a0 = 1
};

inline Biquad biquadFor(Device d, double rate) {
  const auto first = [&](double hz, bool high) {  // first order: one pole, one zero
    const double k = std::tan(M_PI * hz / rate);
    const double n = 1.0 / (1.0 + k);
    return high ? Biquad{n, -n, 0.0, (k - 1.0) * n, 0.0}
                : Biquad{k * n, k * n, 0.0, (k - 1.0) * n, 0.0};
  };
  const auto peak = [&](double hz, double q, double db) {  // peaking EQ
    const double a = std::pow(10.0, db / 40.0), w = 2.0 * M_PI * hz / rate;
    const double alpha = std::sin(w) / (2.0 * q), a0 = 1.0 + alpha / a;
    return Biquad{(1.0 + alpha * a) / a0, -2.0 * std::cos(w) / a0, (1.0 - alpha * a) / a0,
                  -2.0 * std::cos(w) / a0, (1.0 - alpha / a) / a0};
  };
  switch (d) {
    case Device::kLowPass15k:
      return first(15000.0, false);
    case Device::kHighPass2k:
      return first(2000.0, true);
    case Device::kResonant:
      return peak(9000.0, 3.0, 6.0);
    case Device::kRinging:
      return peak(10000.0, 20.0, 12.0);
    case Device::kFlat:
      break;
  }
  return Biquad{1.0, 0.0, 0.0, 0.0, 0.0};
}

// The played samples of one channel through the device, run on past the chirp while it rings.
inline std::vector<double> throughDevice(std::vector<double> x, Device d, double rate) {
  const Biquad f = biquadFor(d, rate);
  x.resize(x.size() + 2048, 0.0);
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (double& v : x) {
    const double y = f.b0 * v + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
    x2 = x1;
    x1 = v;
    y2 = y1;
    y1 = y;
    v = y;
  }
  return x;
}

inline double sincDelayed(const std::vector<double>& x, double t) {
  const int base = static_cast<int>(std::floor(t));
  double sum = 0.0;
  for (int k = base - 31; k <= base + 32; ++k) {
    if (k < 0 || k >= static_cast<int>(x.size())) continue;
    const double u = t - k;
    const double w = 0.42 + 0.5 * std::cos(M_PI * u / 32) + 0.08 * std::cos(2 * M_PI * u / 32);
    sum += x[static_cast<size_t>(k)] * w * (u == 0 ? 1.0 : std::sin(M_PI * u) / (M_PI * u));
  }
  return sum;
}

inline void record(SonarSettings& s, const Scene& scene) {
  const WaveFormat& f = s.waveFormat;
  const bool wide = isSixteenBit(f);
  const int ch = f.channels;
  const double full = wide ? 1.0 : 1.0 / 256.0;  // noise is given in 16-bit units
  const size_t played = wide ? s.outBufferBytes / 2 : s.outBufferBytes;
  const size_t bytes = s.inBufferBytes + kRecordExtraBytes;
  const size_t total = wide ? bytes / 2 : bytes;
  std::mt19937 rng(scene.seed);
  std::normal_distribution<double> noise(0.0, scene.noiseRms * full);
  const double speed = speedOfSound(s.medium);
  std::vector<std::vector<double>> channel(static_cast<size_t>(ch));
  for (size_t i = 0; i < played; ++i) {
    const double v =
        wide ? static_cast<int16_t>(s.playBuffer[2 * i] | (s.playBuffer[2 * i + 1] << 8))
             : static_cast<int>(s.playBuffer[i]) - 128;
    channel[i % static_cast<size_t>(ch)].push_back(v);
  }
  for (auto& x : channel) x = throughDevice(std::move(x), scene.device, f.samplesPerSec);
  for (size_t i = 0; i < total; ++i) {
    const auto& x = channel[i % static_cast<size_t>(ch)];
    const double frame = static_cast<double>(i / static_cast<size_t>(ch));
    const double direct = scene.latencyMs * 1e-3 * f.samplesPerSec;
    double v = scene.direct * sincDelayed(x, frame - direct);
    for (const Reflector& e : scene.echoes) {
      v += e.gain * sincDelayed(x, frame - direct - 2 * e.metres / speed * f.samplesPerSec);
    }
    v += noise(rng);
    for (const Scene::Tone& t : scene.tones) {
      // The direct sound's RMS: its amplitude over the chirp's RMS of 1 / sqrt 2 of full scale.
      const double rms = scene.direct * 32767.0 * full / std::sqrt(2.0);
      v += std::sqrt(2.0) * rms * std::pow(10.0, t.db / 20.0) *
           std::sin(2.0 * M_PI * t.hz * frame / f.samplesPerSec + t.phase);
    }
    if (wide) {
      const auto q = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
      s.recordBuffer[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(q) & 0xFF);
      s.recordBuffer[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(q) >> 8);
    } else {
      s.recordBuffer[i] = static_cast<uint8_t>(std::clamp(std::lround(v) + 128, 0L, 255L));
    }
  }
}

enum class Format { kStereo16At44k, kMono8At8k };

inline SonarSettings planned(Format format, int8_t medium) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.medium = medium;
  if (format == Format::kMono8At8k) {
    s.waveFormat.channels = 1;
    s.waveFormat.bitsPerSample = 8;
    s.waveFormat.samplesPerSec = 8000;
    recomputeDerivedFormat(s.waveFormat);
    s.offsetBytes = 37;
    // Below the 4 kHz Nyquist limit (the 8-bit mono chirp sweeps from start to 2 x end - start),
    // and 8 ms long: 64 samples at 8 kHz give the pulse compression a 2 ms chirp has at 44.1 kHz.
    s.startFrequency = 500;
    s.endFrequency = 2200;
    s.chirpTime = 8000;
  }
  if (!planBuffers(s)) ADD_FAILURE() << "plan failed";
  return s;
}

}  // namespace planted
