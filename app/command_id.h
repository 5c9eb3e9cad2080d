#pragma once

// The identifiers the menu, the toolbar and the command dispatch share. The numbers are part of
// the window's interface: its actions carry them as data and in their object names ("cmd201").
enum class CommandId : int {
  kOpen = 199,               // "Open" (File)
  kStartSonar = 201,         // "Start sonar" (toolbar)
  kSave = 202,               // "Save" (File)
  kPlayRecordBuffer = 204,   // "Pley rec. buffer" (Analyze)
  kSingleChirp = 207,        // "Make chirp" (Analyze), "Single chirp" (toolbar)
  kAbout = 212,              // "About" (Help)
  kAnalyzeAndRepaint = 213,  // no menu or toolbar entry
  kAutoCorrelate = 214,      // "Auto correlate" (Analyze)
  kSetOutSignal = 220,       // "Set out signal" (Settings)
  kAnalyzeWindow = 221,      // "Analyze window" (Analyze)
  kPostProcessing = 225,     // "Post. Proc." (Analyze)
  kStopSonar = 226,          // "Stop sonar" (toolbar)
  kCheckAudioSystem = 227,   // "Check audio system " (Tests)
  kUnlabelled = 228,         // no entry; does nothing
  kSetWaveFormat = 229,      // "Set wave format" (Settings)
  kCheckRecording = 233,     // "Check recording" (Tests)
  kHelp = 234,               // "Help" (Help)
  kPauseSonar = 235,         // "Pause sonar" (toolbar)
  kAnalyzeWindowTool = 236,  // "Analyze window" (toolbar)
  kEmptyTool = 237,          // "empty" (toolbar); does nothing
  kClearScreen = 238,        // "Clear screen" (toolbar)
  kLinearMode = 239,         // "Linear mode" (toolbar)
  kAngularMode = 240,        // "Angular mode" (toolbar)
  kSearchOffset = 241,       // "Search offset" (Tests)
  kInfo = 242,               // "Info" (Settings)
  kUseRecordedChirp = 243,   // "Use recorded chirp" (Settings); no handler
  kSetOffset = 244,          // "Set offset" (Settings)
  kSetScale = 245,           // "Set scale" (Settings)
  kRuler = 246,              // "Ruler" (Analyze)
  kReplot = 247,             // "Replot" (Analyze)
  kCheckPlay = 248,          // "Check play" (Tests)
  kExit = 300,               // "Exit" (File)
  // Commands added later, numbered from 310 so they never meet the numbers above.
  kExportPicture = 310,    // "Export picture..." (File)
  kExportDistances = 311,  // "Export distances..." (File)
  kAudioDevice = 312,      // "Audio device..." (Settings)
  kCalibration = 313,      // "Calibration..." (Settings)
  kRecordPings = 314,      // "Record pings..." (File): the window keeps its check mark itself
  kChangeView = 320,       // "Change view" (Analyze): a way of drawing, toggled
  kTrackEcho = 321,        // "Track echo..." (Analyze): the tracking window
  kExportTrack = 322,      // "Export..." (File of the tracking window): its table as CSV
};

// The number a command travels as outside C++ (a QAction's data, an object name).
constexpr int commandNumber(CommandId id) {
  return static_cast<int>(id);
}
