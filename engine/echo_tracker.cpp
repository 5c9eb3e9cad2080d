// [key]       the chirp and format the learned paths belong to;
// [channels]  each channel's samples correlated with its own played chirp;
// [anchor]    each channel's direct arrival, kept on the lag the path was learned at;
// [combine]   the channels weighted by their direct arrival and added;
// [fallback]  long chirps and many channels: the program's own sums against the ideal chirp;
// [whiten]    the background before the direct sound, whose filter the searches run through;
// [distances] the echo search on the latest measurement or the run's average.
#include "engine/echo_tracker.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "engine/chirp.h"
#include "engine/correlation.h"
#include "engine/correlation_sums.h"
#include "engine/pcm_samples.h"

namespace {

constexpr int kAlignReach = 2;    // lags the anchor may move to stay on the learned path
constexpr int kChannelReach = 6;  // lags between the channels' direct arrivals looked at first
// A channel is moved onto the first one's instant only where that adds their direct arrivals up to
// this much more energy: where their envelopes' peaks already agree, moving it costs its fit.
constexpr double kAlignGain = 1.5;
constexpr int64_t kDirectReach = 3;          // lags around the anchor where the direct peak may lie
constexpr double kFirstArrivalShare = 0.25;  // of the strongest envelope: the direct sound's least
constexpr double kRingSeconds = 0.004;       // a ringing response is learned over this long
constexpr double kUnconfirmedDirectOverNoise = 20.0;
constexpr int kIdealMaxHalfWidth = 1024;      // lags of the ideal response kept on each side
constexpr double kIdealBudget = 8.0e6;        // multiply-adds spent on the ideal response
constexpr double kDirectSpreadMetres = 0.02;  // of range: a desk bounce, the case
constexpr int64_t kNoiseLagsBefore = 128;
// Frames before a channel's anchor that may still hold the direct sound's onset (the shape's own
// guard and an interpolator's reach): the background ends there.
constexpr int64_t kBackgroundGuard = kShapeGuardLags + 32;
constexpr double kDirectWithinLags = 1.0;  // of the anchor, where the path was learned
constexpr uint32_t kYoungPathPings = 2;
// Echoes this many main lobes out leave the fit, and nearer ones when this strong (of the direct
// arrival): a weak arrival that near is as likely the loudspeaker's own ringing, which the path
// must learn, as an echo.
constexpr double kCleanFromLobes = 4.0;
constexpr double kCleanNearShare = 0.1;
// A path this young is refitted within a measurement.
constexpr int kYoungRefits = 2;

double playedValue(const SonarSettings& s, size_t i) {
  return pcmSampleAt(s.playBuffer, i, isSixteenBit(s.waveFormat));
}

double recordedValue(const SonarSettings& s, size_t i) {
  return pcmSampleAt(s.recordBuffer, i, isSixteenBit(s.waveFormat));
}

// Values of the play buffer that are played: the first outBufferBytes bytes.
size_t playedValues(const SonarSettings& s) {
  const size_t bytes = std::min<size_t>(s.outBufferBytes, s.playBuffer.size());
  return isSixteenBit(s.waveFormat) ? bytes / 2 : bytes;
}

// Values that both kinds of caller correlated: the manual step stops at inBufferBytes.
size_t recordedValues(const SonarSettings& s) {
  const size_t bytes = std::min<size_t>(s.inBufferBytes, s.recordBuffer.size());
  return isSixteenBit(s.waveFormat) ? bytes / 2 : bytes;
}

uint64_t hashPlayed(const SonarSettings& s, size_t values) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a over the played bytes
  const size_t bytes = isSixteenBit(s.waveFormat) ? 2 * values : values;
  for (size_t i = 0; i < bytes && i < s.playBuffer.size(); ++i) {
    h = (h ^ s.playBuffer[i]) * 1099511628211ull;
  }
  return h;
}

// [channels] r[k] = sum_j played[j] recording[k + j] for `lags` lags.
MERVANE_VECTOR_CLONES void correlateChannel(const double* played, size_t taps,
                                            const double* recording, double* r, size_t lags) {
  std::fill_n(r, lags, 0.0);
  for (size_t j = 0; j < taps; ++j) {
    const double t = played[j];
    const double* y = recording + j;
    for (size_t k = 0; k < lags; ++k) r[k] += t * y[k];
  }
}

struct Channels {
  size_t count = 0;
  size_t taps = 0;       // played frames of each channel
  int64_t firstLag = 0;  // frame lag of correlation[0]
  size_t lags = 0;
  std::array<int64_t, 2> anchors{};
  std::array<double, 2> strengths{};
};

// [key] A new chirp or format starts the paths and the average afresh.
void keyTo(const SonarSettings& s, size_t taps, EchoTracker& t) {
  const LearntPath::Key key{s.waveFormat.channels,
                            s.waveFormat.bitsPerSample,
                            s.waveFormat.samplesPerSec,
                            s.outBufferBytes,
                            s.startFrequency,
                            s.endFrequency,
                            hashPlayed(s, playedValues(s))};
  if (key == t.learnt.key && t.learnt.paths[0].lags() > 1) return;
  t.learnt.key = key;
  t.learnt.knownEchoCount = 0;
  t.learnt.channelOffsets = {};
  const auto ring = static_cast<int>(kRingSeconds * s.waveFormat.samplesPerSec);
  for (size_t c = 0; c < key.channels; ++c) {
    startPath(t.learnt.paths[c], std::span<const double>(&t.work.played[c * kMaxChirpFrames], taps),
              ring);
  }
  restartEchoAverage(t, t.run.limit);
}

void takePlayed(const SonarSettings& s, EchoTracker& t, const Channels& ch) {
  for (size_t c = 0; c < ch.count; ++c) {
    double* played = &t.work.played[c * kMaxChirpFrames];
    for (size_t j = 0; j < ch.taps; ++j) played[j] = playedValue(s, j * ch.count + c);
  }
}

// [channels] Each channel's samples (less their mean: a DC offset is no echo) and correlation
// with its played chirp. False when the recording holds no lag to correlate.
bool correlateChannels(const SonarSettings& s, EchoTracker& t, Channels& ch) {
  const size_t values = recordedValues(s);
  const size_t frames = values / ch.count;
  // From a path's length before the first lag the program correlates, so that a direct arrival
  // right there still has its whole response to learn from, and some lags before that, which
  // hold nothing but the noise.
  const int64_t offsetFrame = s.offsetBytes / ch.count;
  ch.firstLag = std::max<int64_t>(
      0, offsetFrame - static_cast<int64_t>(ch.taps) - kShapeGuardLags - kNoiseLagsBefore);
  if (frames < ch.taps + static_cast<size_t>(ch.firstLag) + 1) return false;
  ch.lags = std::min(frames - ch.taps - static_cast<size_t>(ch.firstLag) + 1, kTrackedLags);
  const size_t span = ch.lags + ch.taps - 1;
  for (size_t c = 0; c < ch.count; ++c) {
    const double* played = &t.work.played[c * kMaxChirpFrames];
    double* y = &t.work.recording[c * (kTrackedLags + kMaxChirpFrames)];
    double mean = 0.0;
    for (size_t f = 0; f < span; ++f) {
      y[f] = recordedValue(s, (static_cast<size_t>(ch.firstLag) + f) * ch.count + c);
      mean += y[f];
    }
    mean /= static_cast<double>(span);
    for (size_t f = 0; f < span; ++f) y[f] -= mean;
    correlateChannel(played, ch.taps, y, &t.work.correlation[c * kTrackedLags], ch.lags);
  }
  return true;
}

double correlationAt(const EchoTracker& t, const Channels& ch, size_t c, int64_t lag) {
  const int64_t i = lag - ch.firstLag;
  return i < 0 || i >= static_cast<int64_t>(ch.lags)
             ? 0.0
             : t.work.correlation[c * kTrackedLags + static_cast<size_t>(i)];
}

// A first look at channel c: the lag on the same instant as the first channel's anchor, where
// their direct arrivals match best (a desk bounce can put the peak of one envelope a lag or two
// off the other's, and channels added half a period apart cancel). The envelope of their cross-
// correlation picks the cycle, which a ringing response makes hard to tell from the carrier
// alone; the carrier then picks the lag. Returns the offset from the channel's own anchor, 0
// where adding it there gains little.
int channelOffset(EchoTracker& t, const Channels& ch, size_t c, int before, int after) {
  const int64_t first = ch.anchors[0];
  const int64_t own = ch.anchors[c];
  const int64_t from = own - kChannelReach - before;
  const auto count = static_cast<size_t>(before + after + 1 + 2 * kChannelReach);
  std::vector<double>& buffer = t.work.recording;  // free once the channels are correlated
  if (count > buffer.size() / 2) return 0;
  double* values = buffer.data();
  double* quadrature = values + count;
  for (size_t i = 0; i < count; ++i) {
    values[i] = correlationAt(t, ch, c, from + static_cast<int64_t>(i));
  }
  quadratureOf(std::span<const double>(values, count), std::span<double>(quadrature, count), 0);
  std::array<double, 2 * kChannelReach + 1> in{}, envelope{};
  for (int shift = -kChannelReach; shift <= kChannelReach; ++shift) {
    double p = 0.0, q = 0.0;
    for (int tau = -before; tau <= after; ++tau) {
      const double r = correlationAt(t, ch, 0, first + tau);
      const auto i = static_cast<size_t>(tau + before + kChannelReach + shift);
      p += r * values[i];
      q += r * quadrature[i];
    }
    in[static_cast<size_t>(shift + kChannelReach)] = p;
    envelope[static_cast<size_t>(shift + kChannelReach)] = p * p + q * q;
  }
  const auto peak =
      static_cast<int>(std::max_element(envelope.begin(), envelope.end()) - envelope.begin());
  int best = peak;
  for (int i = std::max(0, peak - 2); i <= std::min(2 * kChannelReach, peak + 2); ++i) {
    if (in[static_cast<size_t>(i)] > in[static_cast<size_t>(best)]) best = i;
  }
  // The energy of the two direct arrivals added at an offset: |a|^2 + |b|^2 + 2 <a, b>.
  const auto added = [&](int i) {
    double a = 0.0, b = 0.0;
    for (int tau = -before; tau <= after; ++tau) {
      a += std::pow(correlationAt(t, ch, 0, first + tau), 2);
      b += std::pow(correlationAt(t, ch, c, own + i - kChannelReach + tau), 2);
    }
    return a + b + 2.0 * in[static_cast<size_t>(i)];
  };
  return added(best) > kAlignGain * added(kChannelReach) ? best - kChannelReach : 0;
}

// [anchor] The direct arrival's lag in each channel: the peak of its correlation's envelope
// where the offset finder put it (or anywhere): where the carrier peaks depends on the channel's
// phase, the envelope does not, so the channels' anchors stay on the same instant. Once a path is
// learned, the anchor moves by up to kAlignReach lags to where the learned mean matches best, so
// that every ping adds to the mean on the same lag.
void anchorChannels(EchoTracker& t, int64_t from, int64_t to, Channels& ch) {
  for (size_t c = 0; c < ch.count; ++c) {
    const int64_t span = to - from + 1;
    const auto count = static_cast<size_t>(std::clamp<int64_t>(span, 1, kTrackedLags));
    double* r = &t.work.correlation[c * kTrackedLags + static_cast<size_t>(from - ch.firstLag)];
    double* quadrature = t.work.quadrature.data();
    quadratureOf({r, count}, {quadrature, count}, 0);
    const auto envelope = [&](size_t i) { return r[i] * r[i] + quadrature[i] * quadrature[i]; };
    double most = 0.0;
    for (size_t i = 0; i < count; ++i) most = std::max(most, envelope(i));
    // The direct sound is the first strong arrival, not always the strongest: a loudspeaker that
    // beams at a wall can hear it louder than a microphone behind it hears the loudspeaker.
    size_t i = 0;
    while (i + 1 < count && envelope(i) < kFirstArrivalShare * most) ++i;
    while (i + 1 < count && envelope(i + 1) >= envelope(i)) ++i;
    int64_t best = from + static_cast<int64_t>(i);
    const ChannelPath& path = t.learnt.paths[c];
    if (path.pings > 0) {
      const int64_t peak = best;
      double bestMatch = -INFINITY;
      for (int64_t shift = -kAlignReach; shift <= kAlignReach; ++shift) {
        double match = 0.0;
        for (int tau = -path.before; tau <= path.after; ++tau) {
          match += path.mean[static_cast<size_t>(tau + path.before)] *
                   correlationAt(t, ch, c, peak + shift + tau);
        }
        if (match > bestMatch) {
          bestMatch = match;
          best = peak + shift;
        }
      }
    }
    ch.anchors[c] = best;
    if (c > 0 && path.pings == 0) {
      t.learnt.channelOffsets[c] = channelOffset(t, ch, c, path.before, path.after);
    }
  }
}

// [anchor] Each channel's strength: its direct arrival under the path's model (or the ideal
// chirp's, while nothing is learned).
void weighChannels(const EchoTracker& t, Channels& ch) {
  for (size_t c = 0; c < ch.count; ++c) {
    const ChannelPath& path = t.learnt.paths[c];
    const std::vector<double>& model = path.fitted ? path.model : path.ideal;
    double match = 0.0, energy = 0.0;
    for (int tau = -path.before; tau <= path.after; ++tau) {
      const double m = model[static_cast<size_t>(tau + path.before)];
      match += m * correlationAt(t, ch, c, ch.anchors[c] + tau);
      energy += m * m;
    }
    ch.strengths[c] = energy > 0.0 ? match / energy : 0.0;
  }
}

// [anchor] Adds each channel's direct arrival to its path and fits the path again.
void learnChannels(EchoTracker& t, Channels& ch) {
  for (size_t c = 0; c < ch.count; ++c) {
    ChannelPath& path = t.learnt.paths[c];
    const int64_t first = ch.anchors[c] - path.before - ch.firstLag;
    if (first >= 0 && first + static_cast<int64_t>(path.lags()) <= static_cast<int64_t>(ch.lags)) {
      // A young path starts without poles: they could bend round a strong echo near the direct
      // sound before any search has seen it.
      const bool young = path.pings < kYoungPathPings;
      learnPath(path,
                {&t.work.correlation[c * kTrackedLags + static_cast<size_t>(first)], path.lags()},
                kPathMemoryPings, {t.learnt.knownEchoes.data(), t.learnt.knownEchoCount},
                young ? PathFit::kFirstLook : PathFit::kFull);
    }
  }
  weighChannels(t, ch);
}

void refitChannels(EchoTracker& t, Channels& ch) {
  for (size_t c = 0; c < ch.count; ++c) {
    fitPath(t.learnt.paths[c], {t.learnt.knownEchoes.data(), t.learnt.knownEchoCount},
            PathFit::kFull);
  }
  weighChannels(t, ch);
}

// The shape as the search sees it through the background's filter.
void whitenLatestShape(LatestMeasurement& m) {
  m.whiteShapeLags = 0;
  if (m.whitening.order == 0) return;
  m.whiteShapeLags = m.shapeLags + static_cast<size_t>(m.whitening.order);
  whitenShape(m.whitening, {m.shape.data(), m.shapeLags}, {m.whiteShape.data(), m.whiteShapeLags});
  quadratureOf({m.whiteShape.data(), m.whiteShapeLags},
               {m.whiteShapeQuadrature.data(), m.whiteShapeLags}, 0);
}

// [whiten] The background of every channel: its frames before the direct sound's onset, the
// latest kMostBackgroundFrames of them, less their mean.
void estimateBackground(const SonarSettings& s, EchoTracker& t, const Channels& ch) {
  t.latest.whitening = {};
  int64_t end = static_cast<int64_t>(recordedValues(s) / ch.count);
  for (size_t c = 0; c < ch.count; ++c) end = std::min(end, ch.anchors[c] - kBackgroundGuard);
  const int64_t begin = std::max<int64_t>(0, end - static_cast<int64_t>(kMostBackgroundFrames));
  if (end - begin < static_cast<int64_t>(kLeastBackgroundFrames)) return;
  const auto n = static_cast<size_t>(end - begin);
  double* frames = t.work.recording.data();  // free once the channels are correlated
  BackgroundSpectrum spectrum;
  for (size_t c = 0; c < ch.count; ++c) {
    double mean = 0.0;
    for (size_t i = 0; i < n; ++i) {
      frames[i] = recordedValue(s, (static_cast<size_t>(begin) + i) * ch.count + c);
      mean += frames[i];
    }
    mean /= static_cast<double>(n);
    for (size_t i = 0; i < n; ++i) frames[i] -= mean;
    addBackground(spectrum, {frames, n});
  }
  const double rate = s.waveFormat.samplesPerSec;
  const double low = std::min(s.startFrequency, s.endFrequency) / rate;
  const double high = std::max(s.startFrequency, s.endFrequency) / rate;
  t.latest.whitening = whiteningOf(spectrum, low, high);
}

// [combine] sum_c A_c r_c(anchor_c + offset_c + lag) / sum_c A_c^2, and the same weighting of
// the models: the direct arrival becomes the shape itself at lag 0, an echo a scaled copy of it.
void combineChannels(EchoTracker& t, const Channels& ch) {
  double norm = 0.0;
  for (size_t c = 0; c < ch.count; ++c) norm += ch.strengths[c] * ch.strengths[c];
  t.latest.lags = 0;
  if (!(norm > 0.0)) return;
  int64_t from = INT64_MIN, to = INT64_MAX;
  for (size_t c = 0; c < ch.count; ++c) {
    const int64_t at = ch.anchors[c] + t.learnt.channelOffsets[c];
    from = std::max(from, ch.firstLag - at);
    to = std::min(to, ch.firstLag + static_cast<int64_t>(ch.lags) - 1 - at);
  }
  if (to < from) return;
  t.latest.firstLag = from;
  t.latest.lags = std::min<size_t>(static_cast<size_t>(to - from + 1), kTrackedLags);
  // Rounding to whole units leaves white noise of 1 / sqrt 12 units a sample; through each
  // channel's correlation and weight it adds up to this much in the combined signal.
  double rounding = 0.0;
  for (size_t c = 0; c < ch.count; ++c) {
    double taps = 0.0;
    for (size_t j = 0; j < ch.taps; ++j)
      taps += t.work.played[c * kMaxChirpFrames + j] * t.work.played[c * kMaxChirpFrames + j];
    rounding += ch.strengths[c] * ch.strengths[c] * taps / 12.0;
  }
  t.latest.quantisationNoise = std::sqrt(rounding) / norm;
  for (size_t i = 0; i < t.latest.lags; ++i) {
    double v = 0.0;
    for (size_t c = 0; c < ch.count; ++c) {
      const int64_t at =
          ch.anchors[c] + t.learnt.channelOffsets[c] + from + static_cast<int64_t>(i);
      v += ch.strengths[c] * correlationAt(t, ch, c, at);
    }
    t.latest.combined[i] = v / norm;
  }
  t.latest.shapeBefore = t.learnt.paths[0].before;
  t.latest.shapeLags = 0;
  for (size_t c = 0; c < ch.count; ++c) {
    const ChannelPath& path = t.learnt.paths[c];
    t.latest.shapeLags = std::max(t.latest.shapeLags, path.fitted ? path.modelLags : path.lags());
  }
  for (size_t i = 0; i < t.latest.shapeLags; ++i) {
    double v = 0.0;
    for (size_t c = 0; c < ch.count; ++c) {
      const ChannelPath& path = t.learnt.paths[c];
      const int64_t k = static_cast<int64_t>(i) + t.learnt.channelOffsets[c];
      const auto own = static_cast<int64_t>(path.fitted ? path.modelLags : path.lags());
      const std::vector<double>& m = path.fitted ? path.model : path.ideal;
      if (k >= 0 && k < own) v += ch.strengths[c] * ch.strengths[c] * m[static_cast<size_t>(k)];
    }
    t.latest.shape[i] = v / norm;
  }
  quadratureOf({t.latest.shape.data(), t.latest.shapeLags},
               {t.latest.shapeQuadrature.data(), t.latest.shapeLags}, 0);
  whitenLatestShape(t.latest);
  t.latest.directFrom = -kDirectReach;
  t.latest.directTo = kDirectReach;
}

void addToAverage(EchoTracker& t) {
  if (t.run.pings == 0 || t.run.firstLag != t.latest.firstLag || t.run.lags != t.latest.lags) {
    // The first ping of a run, or a recording of another length: the average starts with it.
    t.run.pings = 0;
    t.run.firstLag = t.latest.firstLag;
    t.run.lags = t.latest.lags;
    std::fill_n(t.run.sum.begin(), t.latest.lags, 0.0);
  }
  const bool ring = t.run.limit > 0;
  if (ring) {
    // The oldest of the latest few leaves the sum as the newest enters it.
    t.run.newest = (t.run.newest + 1) % t.run.limit;
    float* row = &t.run.ring[t.run.newest * kTrackedLags];
    const bool full = t.run.pings == t.run.limit;
    for (size_t i = 0; i < t.latest.lags; ++i) {
      if (full) t.run.sum[i] -= row[i];
      row[i] = static_cast<float>(t.latest.combined[i]);
      t.run.sum[i] += row[i];
    }
    t.run.pings = std::min(t.run.pings + 1, t.run.limit);
  } else {
    for (size_t i = 0; i < t.latest.lags; ++i) t.run.sum[i] += t.latest.combined[i];
    t.run.pings = t.run.pings == UINT32_MAX ? UINT32_MAX : t.run.pings + 1;
  }
}

// [fallback] The program's correlation sums against the correlation of the played part of the
// play buffer with the template: the ideal chirp's arrival, as far as the budget reaches.
void observeIdeal(const SonarSettings& s, DirectArrival direct, EchoTracker& t) {
  const uint32_t foundOffset = direct.offset;
  const uint64_t end = isSixteenBit(s.waveFormat) ? s.inBufferBytes / 2 : s.inBufferBytes;
  const uint64_t first = s.offsetBytes;
  const uint64_t last = std::min<uint64_t>(end, s.correlationSums.size());
  if (last < first + 3) return;
  t.latest.firstLag = static_cast<int64_t>(first);
  t.latest.lags = std::min<size_t>(last - first, kTrackedLags);
  for (size_t i = 0; i < t.latest.lags; ++i) {
    t.latest.combined[i] = static_cast<double>(s.correlationSums[first + i]);
  }
  const auto taps =
      static_cast<int64_t>(std::min<size_t>(s.outBufferBytes, s.chirpReference.size()));
  const auto played = static_cast<int64_t>(playedValues(s));
  const double perLag = std::max<double>(1.0, static_cast<double>(taps));
  int half =
      static_cast<int>(std::clamp(kIdealBudget / perLag / 2.0, 8.0, 1.0 * kIdealMaxHalfWidth));
  half = std::min<int>({half, static_cast<int>(taps) + 4, (kMaxShapeLags - 1) / 2});
  t.latest.shapeBefore = half;
  t.latest.shapeLags = static_cast<size_t>(2 * half + 1);
  for (int tau = -half; tau <= half; ++tau) {
    // Template tap j meets played value j + tau; taps 0..3 stay out, as in the correlation.
    double sum = 0.0;
    for (int64_t j = std::max<int64_t>(4, -tau); j < std::min<int64_t>(taps, played - tau); ++j) {
      sum +=
          playedValue(s, static_cast<size_t>(j + tau)) * s.chirpReference[static_cast<size_t>(j)];
    }
    t.latest.shape[static_cast<size_t>(tau + half)] = sum;
  }
  quadratureOf({t.latest.shape.data(), t.latest.shapeLags},
               {t.latest.shapeQuadrature.data(), t.latest.shapeLags}, 0);
  const bool confirmed = direct.found && foundOffset >= first && foundOffset < last;
  t.latest.directConfirmed = confirmed;
  t.latest.directFrom = confirmed ? foundOffset : static_cast<int64_t>(first);
  t.latest.directTo =
      confirmed ? foundOffset + 2 * static_cast<int64_t>(half) : static_cast<int64_t>(last);
  t.latest.metresPerLag = secondsPerLag(s.waveFormat) * speedInUse(s) / 2.0;
  // This search's lags are interleaved values of every channel.
  t.latest.samplesPerLag = 1.0 / std::max<double>(1.0, s.waveFormat.channels);
  t.latest.offsetMetres = s.calibration.offsetMetres;
  t.latest.quantisationNoise = 0.0;
  t.latest.whitening = {};
  t.latest.source = EchoSource::kIdeal;
  t.run.pings = 0;  // no average of the fallback: its lags are the program's own
}

// [distances] The echo search on one combined signal, with the latest measurement's shape, both
// through the background's filter where it has one.
EchoSearchResult searchSignal(const LatestMeasurement& m, std::span<const double> signal,
                              int64_t firstLag, TrackerWork& work) {
  if (signal.empty() || m.shapeLags == 0) return {};
  ArrivalShape shape{
      {m.shape.data(), m.shapeLags}, {m.shapeQuadrature.data(), m.shapeLags}, m.shapeBefore};
  const auto order = static_cast<size_t>(m.whitening.order);
  if (order > 0 && m.whiteShapeLags > 0 && signal.size() > order) {
    const size_t n = signal.size() - order;
    whiten(m.whitening, signal, {work.whitened.data(), n});
    signal = {work.whitened.data(), n};
    firstLag += static_cast<int64_t>(order);
    shape = {{m.whiteShape.data(), m.whiteShapeLags},
             {m.whiteShapeQuadrature.data(), m.whiteShapeLags},
             m.shapeBefore};
  }
  EchoSearchLimits limits;
  limits.firstLag = firstLag;
  limits.directFrom = m.directFrom;
  limits.directTo = m.directTo;
  limits.directOverNoise = m.directConfirmed ? 0.0 : kUnconfirmedDirectOverNoise;
  limits.directSpread = static_cast<int>(std::ceil(kDirectSpreadMetres / m.metresPerLag));
  // The recording's rounding is white: the filter scales it by the root of its taps' squares.
  double gain = 1.0;
  if (shape.values.data() == m.whiteShape.data()) {
    gain = 0.0;
    for (const double a : m.whitening.taps) gain += a * a;
    gain = std::sqrt(gain);
  }
  limits.leastNoise = m.quantisationNoise * gain;
  if (m.source == EchoSource::kLearned) limits.directWithin = kDirectWithinLags;
  return searchEchoes(signal, shape, limits, work.search);
}

// What the paths' fits leave out: the parts of the direct arrival, echoes clear of its main
// lobes, and strong ones within them. A weak one that close may be no echo at all but what the
// path does not fit yet, and leaving it out would teach the path to keep it.
void rememberEchoes(const EchoSearchResult& found, LearntPath& learnt) {
  learnt.knownEchoCount = 0;
  for (size_t k = 1; k < found.arrivalCount && found.direct.amplitude != 0.0; ++k) {
    const FoundArrival& a = found.arrivals[k];
    const double share = a.amplitude / found.direct.amplitude;
    const bool near = a.lag - found.direct.lag < kCleanFromLobes * found.mainLobe;
    if (!a.partOfDirect && near && std::abs(share) < kCleanNearShare) continue;
    learnt.knownEchoes[learnt.knownEchoCount++] = {a.lag, share};
  }
}

// The found echoes in metres and as lags beyond the direct sound [samples], nearest first.
EchoDistances metresOf(const EchoSearchResult& found, const LatestMeasurement& m,
                       EchoDistances* sampleLags = nullptr) {
  EchoDistances metres{};
  EchoDistances lags{};
  size_t n = 0;
  for (size_t k = 0; k < found.echoCount && n < metres.size(); ++k) {
    const double lag = found.echoes[k].lag - found.direct.lag;
    const double beyond = lag * m.metresPerLag;
    const double d = beyond + m.offsetMetres;
    if (!(beyond > 0.0) || !(d > 0.0)) continue;
    size_t at = n++;
    for (; at > 0 && metres[at - 1] > d; --at) {
      metres[at] = metres[at - 1];
      lags[at] = lags[at - 1];
    }
    metres[at] = d;
    lags[at] = lag * m.samplesPerLag;
  }
  if (sampleLags != nullptr) *sampleLags = lags;
  return metres;
}

bool searchable(const LatestMeasurement& m) {
  return m.source == EchoSource::kLearned || m.source == EchoSource::kIdeal;
}

// [distances] The search on the run's average (the latest ping alone where there is none): its
// distances are the Ruler's, its echoes what the paths leave out from now on.
void searchAverage(EchoTracker& t) {
  t.run.distances = {};
  t.run.echoLags = {};
  if (!searchable(t.latest)) return;
  EchoSearchResult found;
  if (t.latest.source == EchoSource::kLearned && t.run.pings > 0) {
    const double scale = 1.0 / t.run.pings;
    for (size_t i = 0; i < t.run.lags; ++i) t.work.average[i] = t.run.sum[i] * scale;
    found = searchSignal(t.latest, {t.work.average.data(), t.run.lags}, t.run.firstLag, t.work);
  } else {
    found = searchSignal(t.latest, {t.latest.combined.data(), t.latest.lags}, t.latest.firstLag,
                         t.work);
  }
  rememberEchoes(found, t.learnt);
  t.run.distances = metresOf(found, t.latest, &t.run.echoLags);
}

}  // namespace

double secondsPerLag(const WaveFormat& format) {
  const double valuesPerSecond = static_cast<double>(format.samplesPerSec) * format.channels;
  return valuesPerSecond > 0 ? 1.0 / valuesPerSecond : 0.0;
}

LatestMeasurement::LatestMeasurement()
    : combined(kTrackedLags, 0.0),
      shape(kMaxShapeLags, 0.0),
      shapeQuadrature(kMaxShapeLags, 0.0),
      whiteShape(kMaxShapeLags + kWhiteningOrder, 0.0),
      whiteShapeQuadrature(kMaxShapeLags + kWhiteningOrder, 0.0) {}

RunAverage::RunAverage()
    : sum(kTrackedLags, 0.0),
      ring(static_cast<size_t>(kLatestAveragedPings) * kTrackedLags, 0.0f) {}

TrackerWork::TrackerWork()
    : played(2 * kMaxChirpFrames, 0.0),
      recording(2 * (kTrackedLags + kMaxChirpFrames), 0.0),
      correlation(2 * kTrackedLags, 0.0),
      quadrature(kTrackedLags, 0.0),
      average(kTrackedLags, 0.0),
      whitened(kTrackedLags, 0.0) {
  reserveEchoSearch(search, kTrackedLags, kMaxShapeLags + kWhiteningOrder);
}

namespace {

// Learns the path from the measurement and adds it to the average.
void takeIn(const SonarSettings& s, DirectArrival direct, EchoTracker& t) {
  const uint32_t foundOffset = direct.offset;
  t.latest.source = EchoSource::kNothing;
  t.latest.lags = 0;
  const WaveFormat& f = s.waveFormat;
  if (f.samplesPerSec == 0 || f.channels == 0 || (f.bitsPerSample != 8 && f.bitsPerSample != 16)) {
    return;
  }
  if (chirpSweep(s).folds()) {
    t.latest.source = EchoSource::kFolded;
    return;
  }
  Channels ch;
  ch.count = f.channels;
  ch.taps = playedValues(s) / ch.count;
  if (ch.count > t.learnt.paths.size() || ch.taps > static_cast<size_t>(kMaxChirpFrames) ||
      ch.taps < 8) {
    observeIdeal(s, direct, t);
    return;
  }
  takePlayed(s, t, ch);
  keyTo(s, ch.taps, t);
  if (!correlateChannels(s, t, ch)) return;
  const int64_t lastLag = ch.firstLag + static_cast<int64_t>(ch.lags) - 1;
  const int64_t foundFrame = static_cast<int64_t>(foundOffset / ch.count);
  t.latest.directConfirmed = direct.found && foundFrame >= ch.firstLag && foundFrame <= lastLag;
  const int64_t from =
      t.latest.directConfirmed ? std::max(ch.firstLag, foundFrame - 2) : ch.firstLag;
  const int64_t to = t.latest.directConfirmed
                         ? std::min(lastLag, foundFrame + 2 * static_cast<int64_t>(ch.taps) + 8)
                         : lastLag;
  anchorChannels(t, from, to, ch);
  estimateBackground(s, t, ch);
  learnChannels(t, ch);
  combineChannels(t, ch);
  if (t.latest.lags == 0) return;
  t.latest.metresPerLag = speedInUse(s) / (2.0 * f.samplesPerSec);
  t.latest.samplesPerLag = 1.0;
  t.latest.offsetMetres = s.calibration.offsetMetres;
  t.latest.source = EchoSource::kLearned;
  // A young path has seen too few searches to leave the echoes near the direct sound out of its
  // fit: the echoes of this very measurement are found and the fit done again without them.
  for (int round = 0; round < kYoungRefits && t.learnt.paths[0].pings <= kYoungPathPings; ++round) {
    rememberEchoes(searchSignal(t.latest, {t.latest.combined.data(), t.latest.lags},
                                t.latest.firstLag, t.work),
                   t.learnt);
    refitChannels(t, ch);
    combineChannels(t, ch);
  }
  addToAverage(t);
}

}  // namespace

void observeMeasurement(const SonarSettings& s, DirectArrival direct, EchoTracker& t) {
  takeIn(s, direct, t);
  searchAverage(t);
}

EchoDistances latestEchoes(const LearntPath&, const LatestMeasurement& latest, TrackerWork& work) {
  if (!searchable(latest)) return {};
  const EchoSearchResult found =
      searchSignal(latest, {latest.combined.data(), latest.lags}, latest.firstLag, work);
  return metresOf(found, latest);
}

EchoDistances averagedEchoes(const EchoTracker& t) {
  return t.run.distances;
}

EchoDistances averagedEchoLags(const EchoTracker& t) {
  return t.run.echoLags;
}

void restartEchoAverage(EchoTracker& t, uint32_t pings) {
  t.run.pings = 0;
  t.run.newest = 0;
  t.run.limit = std::min(pings, kLatestAveragedPings);
  t.run.distances = {};
  t.run.echoLags = {};
}
