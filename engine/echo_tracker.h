#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "engine/correlation.h"
#include "engine/echo_distances.h"
#include "engine/echo_search.h"
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

struct EchoTracker {
  EchoTracker();

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
  // The echoes the latest search found, which the paths' fits leave out.
  std::array<PathEcho, kMaxSearchArrivals> knownEchoes{};
  size_t knownEchoCount = 0;

  // The latest measurement, as the echo search reads it: the channels' correlations combined,
  // lag 0 at the direct arrival's anchor, and the shape of one arrival in it.
  EchoSource source = EchoSource::kNothing;
  std::vector<double> combined;
  int64_t combinedFirstLag = 0;
  size_t combinedLags = 0;
  std::vector<double> shape;
  std::vector<double> shapeQuadrature;
  int shapeBefore = 0;
  size_t shapeLags = 0;
  int64_t directFrom = 0, directTo = 0;
  bool directConfirmed = false;    // the offset finder found the direct arrival there
  double metresPerLag = 0.0;       // at the calibrated speed
  double offsetMetres = 0.0;       // the calibration's, added to every distance
  double quantisationNoise = 0.0;  // the recording's rounding, in the combined signal's units

  // The run's average of the combined correlations, on the same lags: the sum of the pings in
  // it, and (over the latest few) each of them, so that the oldest drops out whole.
  std::vector<double> averageSum;
  std::vector<float> averageRing;  // kLatestAveragedPings rows of kTrackedLags
  std::vector<double> average;     // the sum divided, for the search
  int64_t averageFirstLag = 0;
  size_t averageLags = 0;
  uint32_t averagePings = 0;
  uint32_t averageNewest = 0;                    // the ring row of the latest ping
  uint32_t averageLimit = kLatestAveragedPings;  // 0: every ping since the restart

  // Working buffers.
  std::vector<double> played;       // each channel's played chirp, kMaxChirpFrames apart
  std::vector<double> recording;    // each channel's samples
  std::vector<double> correlation;  // each channel's correlation, kTrackedLags apart
  EchoSearchScratch search;
};

// Takes in the measurement the settings' buffers hold (its recording, and in the fallback its
// correlation sums): learns the path from its direct arrival and adds it to the run's average.
// `direct` is the offset finder's result. Allocates nothing.
void observeMeasurement(const SonarSettings& settings, DirectArrival direct, EchoTracker& tracker);

// The echo distances of the latest measurement, and of the run's average. Allocate nothing.
EchoDistances latestEchoes(EchoTracker& tracker);
EchoDistances averagedEchoes(EchoTracker& tracker);

// Seconds of one step of the program's correlation index: one sample of one channel.
double secondsPerLag(const WaveFormat& format);

// A new run: the average starts again, over the latest `pings` pings from now on (at most
// kLatestAveragedPings; 0: all of them, each with the same weight). The learned path stays.
void restartEchoAverage(EchoTracker& tracker, uint32_t pings);
