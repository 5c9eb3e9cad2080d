#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "engine/correlation.h"
#include "engine/echo_distances.h"
#include "engine/echo_search.h"
#include "engine/echo_whitening.h"
#include "engine/sonar_settings.h"
#include "engine/sound_path.h"

// Echo distances from the measurements, with what they teach about the sound path. One tracker
// belongs to the program (passed by reference like the settings): it learns the response of one
// arrival through the device from the direct sound of each ping, keeps it while the format and
// the chirp stay the same, and averages the pings of a run coherently. Every buffer is made with
// the tracker, so no measurement allocates.
//
// Each input channel is correlated with its own played chirp, anchored at its own direct arrival
// and weighted by its strength, then the channels are added: two microphones a few centimetres
// apart hear the direct sound at different times, but an echo the same time after it.
// Chirps longer than kMaxChirpFrames, and formats with more than two channels, fall back to the
// ideal chirp's correlation on the program's own correlation sums; a chirp that folds at the
// Nyquist frequency gives no echoes at all.

static_assert(kMaxEchoes == kMaxSearchEchoes);
constexpr size_t kTrackedLags = 16384;        // lags after the first correlated one analysed
constexpr uint32_t kPathMemoryPings = 16;     // pings the learned path is the mean of
constexpr uint32_t kLatestAveragedPings = 4;  // pings the Ruler's distances combine

enum class EchoSource : uint8_t {
  kNothing,  // no measurement, or none to analyse
  kFolded,   // the chirp folds at the Nyquist frequency: no distances
  kLearned,  // channels correlated here against the learned path
  kIdeal,    // the program's correlation against the ideal chirp
};

// What the tracker has learnt from the pings: the sound path of each channel, and the echoes the
// run's latest search found, which the paths' fits leave out. Only observeMeasurement writes it.
struct LearntPath {
  // What the learned paths hold for: format, chirp and its samples.
  struct Key {
    uint16_t channels = 0, bits = 0;
    uint32_t rate = 0, outBytes = 0, startHz = 0, endHz = 0;
    uint64_t playedHash = 0;
    bool operator==(const Key&) const = default;
  };
  Key key;
  std::array<ChannelPath, 2> paths;
  // Lags from each channel's anchor to where it is added to the first channel (found at the
  // first look, kept with the paths).
  std::array<int, 2> channelOffsets{};
  std::array<PathEcho, kMaxSearchArrivals> knownEchoes{};
  size_t knownEchoCount = 0;
};

// The latest measurement, as the echo search reads it: the channels' correlations combined, lag 0
// at the direct arrival's anchor, and the shape of one arrival in it.
struct LatestMeasurement {
  LatestMeasurement();
  EchoSource source = EchoSource::kNothing;
  std::vector<double> combined;
  int64_t firstLag = 0;
  size_t lags = 0;
  std::vector<double> shape;
  std::vector<double> shapeQuadrature;
  int shapeBefore = 0;
  size_t shapeLags = 0;
  int64_t directFrom = 0, directTo = 0;
  bool directConfirmed = false;    // the offset finder found the direct arrival there
  double metresPerLag = 0.0;       // at the calibrated speed
  double samplesPerLag = 1.0;      // a lag in samples of one channel, whatever the speed
  double offsetMetres = 0.0;       // the calibration's, added to every distance
  double quantisationNoise = 0.0;  // the recording's rounding, in the combined signal's units
  // The background's own filter (none where it is white), and the shape through it: what every
  // search of this measurement and of the run's average reads.
  Whitening whitening;
  std::vector<double> whiteShape;
  std::vector<double> whiteShapeQuadrature;
  size_t whiteShapeLags = 0;
};

// The run's average of the combined correlations, on the same lags: the sum of the pings in it,
// and (over the latest few) each of them, so that the oldest drops out whole; and the distances
// its search found after the latest ping.
struct RunAverage {
  RunAverage();
  std::vector<double> sum;
  std::vector<float> ring;  // kLatestAveragedPings rows of kTrackedLags
  int64_t firstLag = 0;
  size_t lags = 0;
  uint32_t pings = 0;
  uint32_t newest = 0;                    // the ring row of the latest ping
  uint32_t limit = kLatestAveragedPings;  // 0: every ping since the restart
  EchoDistances distances{};
  // The same echoes as lags beyond the direct sound [samples], which no speed or calibration
  // touches: what files keep.
  EchoDistances echoLags{};
};

// Buffers of one job each, free between calls: they carry nothing from one ping to the next.
struct TrackerWork {
  TrackerWork();
  std::vector<double> played;       // each channel's played chirp, kMaxChirpFrames apart
  std::vector<double> recording;    // each channel's samples
  std::vector<double> correlation;  // each channel's correlation, kTrackedLags apart
  std::vector<double> quadrature;   // of one channel's correlation, while it is anchored
  std::vector<double> average;      // the run's sum divided, for the search
  std::vector<double> whitened;     // the signal searched, through the background's filter
  EchoSearchScratch search;
};

struct EchoTracker {
  LearntPath learnt;
  LatestMeasurement latest;
  RunAverage run;
  TrackerWork work;
};

// The one step that learns from a ping. Takes in the measurement the settings' buffers hold (its
// recording, and in the fallback its correlation sums): learns the path from its direct arrival,
// adds it to the run's average, and searches the average for echoes, which the path's next fits
// leave out. `direct` is the offset finder's result. Allocates nothing.
void observeMeasurement(const SonarSettings& settings, DirectArrival direct, EchoTracker& tracker);

// The echo distances of the latest measurement on its own: a search in the working buffers, which
// reads and never writes what the tracker has learnt. Allocates nothing.
EchoDistances latestEchoes(const LearntPath& learnt, const LatestMeasurement& latest,
                           TrackerWork& work);
inline EchoDistances latestEchoes(EchoTracker& tracker) {
  return latestEchoes(tracker.learnt, tracker.latest, tracker.work);
}
// The distances of the run's average as the latest observeMeasurement found them: the Ruler's.
EchoDistances averagedEchoes(const EchoTracker& tracker);
// The averaged echoes as lags beyond the direct sound [samples], in the same order.
EchoDistances averagedEchoLags(const EchoTracker& tracker);

// Seconds of one step of the program's correlation index: one sample of one channel.
double secondsPerLag(const WaveFormat& format);

// A new run: the average starts again, over the latest `pings` pings from now on (at most
// kLatestAveragedPings; 0: all of them, each with the same weight). The learned path stays.
void restartEchoAverage(EchoTracker& tracker, uint32_t pings);
