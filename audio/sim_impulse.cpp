#include "audio/sim_impulse.h"

#include <algorithm>
#include <cmath>

#include "audio/sim_fft.h"
#include "audio/sim_kernel.h"
#include "audio/sim_render.h"
#include "audio/sim_response.h"
#include "audio/sim_shoebox.h"

namespace {

// The diffuse tail's own noise stream, apart from every input stream's.
constexpr uint32_t kTailStream = 0xFFFFFFFFu;

// The paths to the microphone of one channel, its direct sound first: the shoebox's arrivals (or
// the plain room's direct sound) and the reflectors of echo= keys, which echo 2 d / speed after
// that microphone's direct sound. Moving reflectors stay out: the response is made once.
std::vector<SimPath> channelPaths(const SimRoom& room, size_t channel, double speed) {
  if (!room.shoebox) return roomPaths(room, speed);
  std::vector<SimPath> paths;
  for (const ShoeboxArrival& a : shoeboxArrivals(room, channel, speed)) {
    paths.push_back({a.delaySeconds, a.gain});
  }
  // The image sources come in lattice order, not in time: the direct sound goes first, where the
  // case path looks for it.
  std::iter_swap(paths.begin(), std::min_element(paths.begin(), paths.end(),
                                                 [](const SimPath& a, const SimPath& b) {
                                                   return a.delaySeconds < b.delaySeconds;
                                                 }));
  const double direct = shoeboxDirectDelay(room, channel, speed);
  for (const SimEcho& e : room.echoes) {
    if (e.moving()) continue;  // rendered ping by ping
    paths.push_back({direct + 2.0 * e.distanceM / speed, e.gain});
  }
  return paths;
}

void addImpulse(std::vector<double>& response, double position, double gain) {
  const double whole = std::floor(position);
  SimKernel kernel{};
  makeSimKernel(position - whole, 1.0, kernel);
  const auto n0 = static_cast<int64_t>(whole);
  for (int k = 0; k < kSimTaps; ++k) {
    const int64_t at = n0 - kSimHalfTaps + 1 + k;
    if (at >= 0 && at < static_cast<int64_t>(response.size())) {
      response[static_cast<size_t>(at)] += gain * kernel[static_cast<size_t>(k)];
    }
  }
}

// `v` delayed by `shift` samples.
std::vector<double> placed(std::vector<double> v, int shift) {
  v.insert(v.begin(), static_cast<size_t>(shift), 0.0);
  return v;
}

// sum[k + shift] += v[k], growing `sum` where it must.
void addAt(std::vector<double>& sum, const std::vector<double>& v, int shift) {
  sum.resize(std::max(sum.size(), v.size() + static_cast<size_t>(shift)), 0.0);
  for (size_t k = 0; k < v.size(); ++k) sum[k + static_cast<size_t>(shift)] += v[k];
}

}  // namespace

RoomImpulse buildRoomImpulse(const SimRoom& room, double speed, uint32_t samplesPerSec) {
  RoomImpulse impulse;
  impulse.samplesPerSec = samplesPerSec;
  const double rate = samplesPerSec;
  std::vector<std::vector<SimPath>> paths;
  double first = INFINITY;
  double last = 0.0;
  for (size_t c = 0; c < kSimMicChannels; ++c) {
    paths.push_back(channelPaths(room, c, speed));
    for (const SimPath& p : paths.back()) {
      first = std::min(first, p.delaySeconds);
      last = std::max(last, p.delaySeconds);
    }
  }
  // The case's path: ahead of each channel's direct sound (its first path), through its own
  // response.
  const double caseLead = room.casePath ? room.casePath->leadMs * 1e-3 : 0.0;
  if (room.casePath) {
    for (const auto& p : paths) first = std::min(first, p.front().delaySeconds - caseLead);
  }
  const bool tail = room.shoebox && room.shoebox->tailGain > 0.0;
  if (tail) last = std::max(last, shoeboxTailEnd(room, speed));
  const int64_t start = static_cast<int64_t>(std::floor(first * rate)) - kSimHalfTaps;
  const auto length = static_cast<size_t>(std::ceil(last * rate) - start + kSimHalfTaps + 1);
  const ResponseFilter filter = designResponse(room.speaker, room.microphone, rate);
  const ResponseFilter caseFilter =
      room.casePath ? designResponse(room.casePath->response, SimResponse{}, rate) : filter;
  const int lead = std::max(filter.leadTaps, caseFilter.leadTaps);
  impulse.startFrame = start - lead;
  for (size_t c = 0; c < kSimMicChannels; ++c) {
    std::vector<double> response(length, 0.0);
    for (const SimPath& p : paths[c]) addImpulse(response, p.delaySeconds * rate - start, p.gain);
    if (tail) {
      for (size_t k = 0; k < length; ++k) {
        const double at = static_cast<double>(start + static_cast<int64_t>(k)) / rate;
        const double rms = shoeboxTailRms(room, at, rate, speed);
        if (rms > 0.0) {
          response[k] += rms * roomNoise(room.seed, kTailStream, k, static_cast<uint16_t>(c));
        }
      }
    }
    impulse.channels.push_back(placed(convolve(response, filter.taps), lead - filter.leadTaps));
    if (room.casePath) {
      std::vector<double> through(length, 0.0);
      const SimPath& direct = paths[c].front();
      addImpulse(through, (direct.delaySeconds - caseLead) * rate - static_cast<double>(start),
                 direct.gain * std::pow(10.0, room.casePath->db / 20.0));
      addAt(impulse.channels.back(), convolve(through, caseFilter.taps),
            lead - caseFilter.leadTaps);
    }
  }
  // Every channel as long as the longest.
  size_t frames = 0;
  for (const auto& ch : impulse.channels) frames = std::max(frames, ch.size());
  for (auto& ch : impulse.channels) ch.resize(frames, 0.0);
  return impulse;
}
