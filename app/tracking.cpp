#include "app/tracking.h"

#include <algorithm>
#include <cmath>

#include "app/distance_table.h"
#include "engine/calibration.h"
#include "engine/echo_tracker.h"

void startTracking(Tracking& t, double nearM) {
  if (!t.tracker) t.tracker = std::make_unique<TargetTracker>();
  t.rows.resize(kTrackTableRows);
  t.first = 0;
  t.count = 0;
  t.dropped = 0;
  t.lostTimes = 0;
  startTrack(*t.tracker, nearM);
  t.on = true;
}

void stopTracking(Tracking& t) {
  t.on = false;
}

void trackMeasurement(Tracking& t, const SonarSettings& settings, DirectArrival direct,
                      double seconds) {
  if (!t.on || !t.tracker || t.rows.empty()) return;
  const TrackState before = t.tracker->state;
  const TrackPoint point = trackPing(*t.tracker, trackInputOf(settings, direct, seconds));
  if (point.state == TrackState::kLost && before == TrackState::kTracking) ++t.lostTimes;
  if (t.count == t.rows.size()) {
    t.first = (t.first + 1) % t.rows.size();
    --t.count;
    ++t.dropped;
  }
  t.rows[(t.first + t.count) % t.rows.size()] = point;
  ++t.count;
}

const TrackPoint& trackRow(const Tracking& t, size_t i) {
  return t.rows[(t.first + i) % t.rows.size()];
}

namespace {

// The envelope's bins start at the found offset, where the direct sound's correlation begins to
// rise, a few bins before its peak; distances count from the peak, as the tracker's do.
constexpr size_t kDirectSoundBins = 16;

int directPeakBin(const SonarSettings& s) {
  const size_t n = std::min(kDirectSoundBins, s.correlationBuffer.size());
  size_t peak = 0;
  for (size_t i = 1; i < n; ++i) {
    if (s.correlationBuffer[i] > s.correlationBuffer[peak]) peak = i;
  }
  return static_cast<int>(peak);
}

}  // namespace

double binDistanceMetres(const SonarSettings& s, int bin) {
  // The bins as the offset finder makes them: an equal share of the lags after the direct sound.
  const bool wide = isSixteenBit(s.waveFormat);
  const int64_t start = wide ? s.offsetBytes / 2 : s.offsetBytes;
  const int64_t last = wide ? (static_cast<int64_t>(s.inBufferBytes) - s.outBufferBytes) / 2
                            : static_cast<int64_t>(s.inBufferBytes);
  const double width =
      last > start ? std::floor(static_cast<double>(last - start) / kEnvelopeBins) : 0.0;
  const double metresPerLag = secondsPerLag(s.waveFormat) * speedInUse(s) / 2.0;
  return static_cast<double>(bin - directPeakBin(s)) * width * metresPerLag +
         s.calibration.offsetMetres;
}

std::string trackCsvHeader(const SonarSettings& s) {
  std::string csv;
  if (calibrated(s.calibration)) {
    csv = "# speed of sound " + fixedPointText(speedInUse(s), 3) + " m/s, offset " +
          fixedPointText(s.calibration.offsetMetres, 4) + " m\n";
  }
  return csv + "time_s,distance_m,amplitude\n";
}

std::string trackCsvRow(const TrackPoint& p) {
  std::string row = fixedPointText(p.seconds, 3) + ",";
  if (p.state == TrackState::kTracking) row += fixedPointText(p.distanceM, 6);
  return row + "," + fixedPointText(p.amplitude, 4) + "\n";
}

std::string trackTableCsv(const Tracking& t, const SonarSettings& s) {
  std::string csv = trackCsvHeader(s);
  for (size_t i = 0; i < t.count; ++i) csv += trackCsvRow(trackRow(t, i));
  return csv;
}
