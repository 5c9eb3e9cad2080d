#include "audio/sim_shoebox.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

struct Vec {
  double x = 0.0, y = 0.0, z = 0.0;
  Vec operator+(const Vec& o) const { return {x + o.x, y + o.y, z + o.z}; }
  Vec operator-(const Vec& o) const { return {x - o.x, y - o.y, z - o.z}; }
  Vec operator*(double k) const { return {x * k, y * k, z * k}; }
  double dot(const Vec& o) const { return x * o.x + y * o.y + z * o.z; }
  double norm() const { return std::sqrt(dot(*this)); }
};

Vec vec(const SimPoint& p) {
  return {p.x, p.y, p.z};
}

Vec facing(const SimShoebox& box) {
  const double a = box.facingDegrees * std::numbers::pi / 180.0;
  return {std::cos(a), std::sin(a), 0.0};
}

// The image of coordinate s in a box side of length l after |u| reflections (u < 0 starts at the
// wall at 0, u > 0 at the wall at l).
double imageCoordinate(int u, double s, double l) {
  return u % 2 == 0 ? u * l + s : (u + 1) * l - s;
}

// Loudspeaker directivity towards a direction: 1 ahead, 1 - beam behind.
double directivity(const SimShoebox& box, const Vec& direction) {
  const double n = direction.norm();
  const double cosine = n > 0.0 ? facing(box).dot(direction) / n : 1.0;
  return 1.0 - 0.5 * box.beam + 0.5 * box.beam * cosine;
}

double volume(const SimShoebox& b) {
  return b.size.x * b.size.y * b.size.z;
}
double surface(const SimShoebox& b) {
  return 2.0 * (b.size.x * b.size.y + b.size.x * b.size.z + b.size.y * b.size.z);
}

// Amplitude reflection factor of every wall, from RT60 by Eyring's formula.
double wallReflection(const SimShoebox& b, double speedMps) {
  const double sabineConstant = 24.0 * std::numbers::ln10;  // 55.26: 60 dB of energy decay
  const double exponent =
      sabineConstant * volume(b) / (speedMps * surface(b) * b.reverberationSeconds);
  const double absorption = std::clamp(1.0 - std::exp(-exponent), 0.0, 0.99);
  return std::sqrt(1.0 - absorption);
}

double airFactor(const SimShoebox& b, double metres) {
  return std::pow(10.0, -b.airDbPerM * metres / 20.0);
}

// Scale from (directivity / path length) to the recording's amplitude, fixed by the direct sound
// at the first microphone.
double amplitudeScale(const SimRoom& room) {
  const SimShoebox& b = *room.shoebox;
  const Vec s = vec(b.position);
  const Vec m = vec(microphonePosition(b, 0));
  const double d = std::max((m - s).norm(), 1e-3);
  return room.directGain * d / (directivity(b, m - s) * airFactor(b, d));
}

double directPath(const SimShoebox& b, size_t channel) {
  return std::max((vec(microphonePosition(b, channel)) - vec(b.position)).norm(), 1e-3);
}

}  // namespace

SimPoint microphonePosition(const SimShoebox& box, size_t channel) {
  const SimPoint offset = box.microphones.empty()
                              ? SimPoint{}
                              : box.microphones[std::min(channel, box.microphones.size() - 1)];
  const Vec forward = facing(box);
  const Vec up{0.0, 0.0, 1.0};
  const Vec right{forward.y, -forward.x, 0.0};  // forward x up
  const Vec p = vec(box.position) + right * offset.x + up * offset.y + forward * offset.z;
  return {p.x, p.y, p.z};
}

std::vector<ShoeboxArrival> shoeboxArrivals(const SimRoom& room, size_t channel, double speed) {
  const SimShoebox& b = *room.shoebox;
  const Vec m = vec(microphonePosition(b, channel));
  const double scale = amplitudeScale(room);
  const double beta = wallReflection(b, speed);
  const double specular = std::sqrt(1.0 - b.scatter);
  const double firstDirect = directPath(b, 0);
  const double ownDirect = directPath(b, channel);
  const double latency = room.latencyMs / 1000.0;
  std::vector<ShoeboxArrival> arrivals;
  const int n = b.order;
  for (int ux = -n; ux <= n; ++ux) {
    const int restX = n - std::abs(ux);
    for (int uy = -restX; uy <= restX; ++uy) {
      const int restY = restX - std::abs(uy);
      for (int uz = -restY; uz <= restY; ++uz) {
        const Vec image{imageCoordinate(ux, b.position.x, b.size.x),
                        imageCoordinate(uy, b.position.y, b.size.y),
                        imageCoordinate(uz, b.position.z, b.size.z)};
        Vec leaving = m - image;  // unfolded back to the direction it left the loudspeaker in
        if (ux % 2 != 0) leaving.x = -leaving.x;
        if (uy % 2 != 0) leaving.y = -leaving.y;
        if (uz % 2 != 0) leaving.z = -leaving.z;
        const double path = std::max((m - image).norm(), 1e-3);
        const int order = std::abs(ux) + std::abs(uy) + std::abs(uz);
        const double walls = std::pow(beta * specular, order);
        ShoeboxArrival a;
        a.delaySeconds = latency + (path - firstDirect) / speed;
        a.gain = scale * directivity(b, leaving) * walls * airFactor(b, path) / path;
        a.rangeM = (path - ownDirect) / 2.0;
        a.order = order;
        arrivals.push_back(a);
      }
    }
  }
  return arrivals;
}

double shoeboxDirectDelay(const SimRoom& room, size_t channel, double speed) {
  const SimShoebox& b = *room.shoebox;
  return room.latencyMs / 1000.0 + (directPath(b, channel) - directPath(b, 0)) / speed;
}

double shoeboxTailRms(const SimRoom& room, double delaySeconds, double samplesPerSec,
                      double speed) {
  const SimShoebox& b = *room.shoebox;
  const double firstDirect = directPath(b, 0);
  // Time since the sound left the loudspeaker, and the wall reflections an arrival of that age
  // has had on average (one per mean free path 4 V / S).
  const double age = delaySeconds - room.latencyMs / 1000.0 + firstDirect / speed;
  if (age <= firstDirect / speed) return 0.0;
  const double bounces =
      std::max(0.0, (age * speed - firstDirect) / (4.0 * volume(b) / surface(b)));
  // The image sources carry the specular share of arrivals up to about half their order in full,
  // then fewer and fewer of them; the tail carries the rest.
  const double n = b.order;
  const double covered = n <= 0.0 ? 0.0 : std::clamp((n - bounces) / (0.5 * n), 0.0, 1.0);
  const double share = 1.0 - std::pow(1.0 - b.scatter, bounces) * covered;
  // Energy per second of a diffuse field's impulse response: 4 pi c / V for a source whose
  // direct sound has amplitude 1 / r, decaying by 60 dB over RT60.
  const double a = 1.0 - 0.5 * b.beam;
  const double k = 0.5 * b.beam;
  const double meanDirectivity = a * a + k * k / 3.0;
  const double decay = std::exp(-6.0 * std::numbers::ln10 * age / b.reverberationSeconds);
  const double energyPerSample =
      4.0 * std::numbers::pi * speed / volume(b) * meanDirectivity * decay / samplesPerSec;
  return b.tailGain * amplitudeScale(room) * std::sqrt(std::max(0.0, share) * energyPerSample);
}

double shoeboxTailEnd(const SimRoom& room, double speed) {
  const SimShoebox& b = *room.shoebox;
  const double orderEnd = (b.order + 1) * std::max({b.size.x, b.size.y, b.size.z}) * 1.8 / speed;
  const double tailEnd = b.tailGain > 0.0 ? b.reverberationSeconds * 70.0 / 60.0 : 0.0;
  return room.latencyMs / 1000.0 + std::max(orderEnd, tailEnd);
}

double facingWallRange(const SimShoebox& box, size_t channel) {
  const Vec f = facing(box);
  const Vec s = vec(box.position);
  // The wall the facing ray meets first, and the loudspeaker's image in it.
  const auto reach = [](double dir, double pos, double size) -> double {
    if (dir > 1e-12) return (size - pos) / dir;
    if (dir < -1e-12) return -pos / dir;
    return INFINITY;
  };
  const double tx = reach(f.x, s.x, box.size.x);
  const double ty = reach(f.y, s.y, box.size.y);
  Vec image = s;
  if (tx <= ty) {
    image.x = imageCoordinate(f.x > 0 ? 1 : -1, s.x, box.size.x);
  } else {
    image.y = imageCoordinate(f.y > 0 ? 1 : -1, s.y, box.size.y);
  }
  const Vec m = vec(microphonePosition(box, channel));
  return ((m - image).norm() - (m - s).norm()) / 2.0;
}
