#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/correlation.h"
#include "engine/sonar_settings.h"
#include "engine/target_tracker.h"

// Following one echo in the desktop program: the echo the user picked, followed ping by ping on
// what the window's thread stores after each measurement, and the table of its points for the
// tracking window and its export. Starting a track makes every buffer it needs; a ping then
// allocates nothing.

// The points a track keeps: about 3.6 hours at five pings a second, 3.7 MB. Older points make
// way for newer ones, and the table says how many went.
constexpr size_t kTrackTableRows = 65536;

struct Tracking {
  bool on = false;
  std::unique_ptr<TargetTracker> tracker;  // made at the first track
  std::vector<TrackPoint> rows;            // a ring of kTrackTableRows, oldest at `first`
  size_t first = 0;
  size_t count = 0;
  uint64_t dropped = 0;    // points the ring no longer holds
  uint64_t lostTimes = 0;  // times the echo was lost since the track began
};

// Starts following the echo nearest `nearM` metres (as the distances read, calibration
// included) from the next ping on; the table starts empty.
void startTracking(Tracking& tracking, double nearM);
// Stops following; the table stays for the export.
void stopTracking(Tracking& tracking);
// One stored measurement, at `seconds` on the back end's clock. Does nothing while no track
// runs. Allocates nothing.
void trackMeasurement(Tracking& tracking, const SonarSettings& settings, DirectArrival direct,
                      double seconds);

// The i-th point the table holds, oldest first (i < tracking.count).
const TrackPoint& trackRow(const Tracking& tracking, size_t i);

// The distance [m] of the echogram's bin row `bin` as the latest measurement's bins lie (from
// the direct sound's peak among the first bins), calibration included: where a click on the
// echogram picks an echo. Reads the settings' envelope: not while a ping is measured.
double binDistanceMetres(const SonarSettings& settings, int bin);

// The table as `mervane-cli track --csv` writes it: a header line (after the calibration's
// comment line when one is in use), then one row per ping: time [s] since the first ping on the
// back end's clock, distance [m] (empty where the echo was not followed: nothing is guessed),
// amplitude relative to the direct sound.
std::string trackCsvHeader(const SonarSettings& settings);
std::string trackCsvRow(const TrackPoint& point);
std::string trackTableCsv(const Tracking& tracking, const SonarSettings& settings);

struct App;
// File > Export... of the tracking window: the table to a file the user picks.
void exportTrack(App& app);
