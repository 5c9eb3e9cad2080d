#pragma once
#include <array>
#include <memory>
#include <string>

#include "app/tracking.h"
#include "audio/audio_backend.h"
#include "audio/session_recorder.h"
#include "audio/wave_pair.h"
#include "engine/change_view.h"
#include "engine/echo_tracker.h"
#include "engine/scan_state.h"
#include "engine/sonar_settings.h"

// One measured history column: its found offset and its echoes as lags beyond the direct sound
// [sample periods at samplesPerSec], nearest first, 0.0 = none. Lags, not metres: the distance
// table reads them at the speed in use, and the sonar file keeps them as they are.
struct ColumnMeasurement {
  bool stored = false;
  uint32_t foundOffset = 0;
  std::array<double, kMaxEchoes> lags{};
  uint32_t samplesPerSec = 0;
};

// What the stored columns' distance scale was measured with: the frame's axis and the envelope's
// bins follow these settings, so a column drawn against others is drawn at the wrong distances.
struct MeasuredScale {
  bool known = false;  // no column is stored, or nothing says how they were measured
  uint32_t recordTime = 0;
  uint32_t chirpTime = 0;
  uint32_t tuneScale = 0;
  WaveFormat waveFormat{};
};

// Everything the program keeps between events, owned by the front end and passed by reference.
// There are no globals: a test builds as many of these as it likes.
struct Program {
  SonarSettings settings;
  ScanState scan;
  ScanHistory history;
  WavePair pair;
  std::unique_ptr<AudioBackend> backend;
  std::array<double, kMaxEchoes> obstructionList{};  // metres, nearest first, 0.0 = none
  // The sound path learned from the pings and the run's average, behind obstructionList.
  EchoTracker echoTracker;
  // What each history column's measurement found, for the distance export: the history keeps
  // only the envelope; a sonar file carries these in its distance block.
  std::array<ColumnMeasurement, kHistoryColumns> measured{};
  // Why `measured` holds nothing although the history does (a file opened without distances),
  // in words; empty otherwise.
  std::string distancesMissing;
  // The scale the stored columns were measured with, for Replot.
  MeasuredScale historyScale;
  // A measurement went into the history since it was last saved to a sonar file (or emptied or
  // replaced by one): leaving now would lose it.
  bool sweepUnsaved = false;
  // Keeps every timed ping's and single step's recordings while the user records a session;
  // null otherwise.
  std::unique_ptr<SessionRecorder> recorder;
  // The change view over the still room: a way of drawing, never stored in files.
  ChangeView changeView;
  // The one echo the tracking window follows, and its points.
  Tracking tracking;
};
