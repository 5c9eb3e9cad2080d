#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/correlation.h"
#include "engine/sonar_settings.h"

// Follows one echo from ping to ping to a fraction of a millimetre, from the phase of its
// carrier (a cycle of the carrier is 1.7 cm of range at 10 kHz in air).
//  [signal]   the program's correlation sums of each ping, lag by lag, made analytic (the sums
//             plus j times their quadrature): an arrival at lag tau reads A e^{j w (l - tau)}
//             near its peak, w being the carrier's angle per lag, measured on the direct sound;
//  [direct]   the direct sound's lag, from its phase, is the zero of the range: a latency that
//             moves between pings moves both;
//  [clutter]  a still reflector in the same range cell adds a constant C to the echo's value at
//             its reference lag, so the values of a moving echo lie on a circle around C, not
//             around 0. A running mean of the still room would take most of a breathing echo
//             with it (the mean of a swing of ±64 degrees keeps 72 % of it), so the background
//             at the reference lag is the centre of the circle fitted to the latest values
//             (Kasa's fit, forgetting the old ones), used once the arc is long enough to tell it;
//             the envelope search uses the running mean of the still room instead, which keeps
//             where an echo is even when it takes most of its strength;
//  [unwrap]   each ping's phase is taken on the cycle nearest the prediction (the latest lag
//             plus the velocity); where the matched fit (the envelope's peak, which tells the
//             cycles apart) says the echo moved more than a quarter cycle, the track is
//             re-anchored on the cycle the fit picks. The fit is read from where it usually sits
//             beside the phase's lag: 0 for a lone echo, but a body is a cluster of reflections
//             (chest, shoulders, head within a few centimetres) whose envelope peaks inside the
//             cluster, often near half a cycle behind the chest; taken as it stands, it would
//             pick the neighbouring cycle every time the breathing carried the phase across;
//  [lost]     the echo is lost when its amplitude stays below kLostShare of what it had when it
//             was found for kLostQuietPings pings, or when the fit lands more than half a cycle
//             from the prediction; the next ping looks for the echo nearest its last distance.
// Every buffer is made with the tracker: a ping allocates nothing.

constexpr size_t kTrackWindowLags = 512;  // lags of the correlation searched around the echo
constexpr uint32_t kLostQuietPings = 3;
constexpr double kLostShare = 0.25;  // of the amplitude at acquisition
// The echo is looked for within this much of the distance asked for [m].
constexpr double kAcquireWithinM = 0.15;

enum class TrackState : uint8_t {
  kSearching,  // no echo found yet near the distance asked for
  kTracking,
  kLost,  // this ping lost it; the next one looks again
};

// One ping as the tracker reads it.
struct TrackInput {
  std::span<const int64_t> sums;  // the correlation sums, index = lag
  int64_t firstLag = 0;           // the first lag the correlation computed
  DirectArrival direct;           // the offset finder's result
  uint16_t channels = 1;          // interleaved channels of the recording
  double metresPerLag = 0.0;      // range of one lag (> 0)
  double offsetM = 0.0;           // added to every distance: the calibration's [m]
  double seconds = 0.0;           // the back end's clock at this ping
};

struct TrackPoint {
  TrackState state = TrackState::kSearching;
  double seconds = 0.0;     // since the track's first ping
  double distanceM = 0.0;   // from the direct sound; valid while kTracking
  double amplitude = 0.0;   // the echo's, relative to the direct sound's
  bool reanchored = false;  // this ping took its cycle from the matched fit
  double phaseOnlyM = 0.0;  // the distance the phase alone unwrapped would give
  double fitOnlyM = 0.0;    // the distance of the matched fit alone
};

struct TargetTracker {
  TargetTracker();

  double nearM = 0.0;  // where to look for the echo [m], as the distances read
  TrackState state = TrackState::kSearching;
  bool started = false;
  double firstSeconds = 0.0;
  double lastSeconds = 0.0;

  // The direct sound: its reference lag, phase lag and the carrier's angle per lag.
  int64_t directRef = 0;
  double directLag = 0.0;
  double directAmplitude = 0.0;
  double radiansPerLag = 0.0;

  // The echo.
  int64_t windowFirst = 0;         // lag of the window's first entry
  int64_t reference = 0;           // the lag whose phase is followed
  double lag = 0.0;                // absolute, fractional
  double phaseLag = 0.0;           // the lag the phase alone, unwrapped, gives
  double velocity = 0.0;           // [lags per second]
  uint32_t fixes = 0;              // pings since the echo was found
  double fitOffset = 0.0;          // where the matched fit sits from `lag` [lags]
  bool fitOverBackground = false;  // the fit's envelope had the still room taken out
  uint32_t quietPings = 0;
  double foundAmplitude = 0.0;

  // The circle of the echo's values at the reference lag: weighted sums of x, y, x^2, y^2, xy,
  // and of z = x^2 + y^2 times 1, x, y.
  // Values are taken relative to the first one, in units of its size, so that the sums keep
  // their precision.
  struct CircleSums {
    double w = 0, x = 0, y = 0, xx = 0, yy = 0, xy = 0, z = 0, xz = 0, yz = 0;
    double originRe = 0, originIm = 0, scale = 0;
  } circle;

  // The clutter taken out at the reference lag, if any.
  bool centred = false;
  double centreRe = 0.0, centreIm = 0.0;

  // The still room over the window: the running mean of the analytic signal.
  uint32_t backgroundPings = 0;

  // Working buffers.
  std::vector<double> raw;  // the window's sums with a margin for the quadrature
  std::vector<double> re, im;
  std::vector<double> backRe, backIm;
  std::vector<double> envelope;
  std::vector<double> sorted;
};

// The latest measurement in the settings' buffers as the tracker reads it, at `seconds` on the
// back end's clock.
TrackInput trackInputOf(const SonarSettings& settings, DirectArrival direct, double seconds);

// Forgets any echo and looks for the one nearest `nearM` metres at the next ping.
void startTrack(TargetTracker& tracker, double nearM);

// Reads one ping. Allocates nothing.
TrackPoint trackPing(TargetTracker& tracker, const TrackInput& ping);
