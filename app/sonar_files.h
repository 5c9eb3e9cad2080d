#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "app/application.h"
#include "engine/scan_state.h"
#include "engine/sonar_settings.h"

// Sonar files (*.son: settings and history) and parameter files (*.par: settings) are raw
// little-endian images of the front of the history. The settings travel in a header of one byte
// value per 32-bit word in column 0 (rows 0 to 102), so a replot shows the header in column 0.

constexpr size_t kSonarFileBytes = 315202;         // words 0..78799 and the low half of 78800
constexpr size_t kParameterFileWriteBytes = 1756;  // words 0..438
constexpr size_t kParameterFileReadBytes = 878;    // words 0..218 and the low half of 219

size_t bytesWritten(FileKind kind);
size_t bytesRead(FileKind kind);

// Writes the header slots into column 0 of the history; every other word keeps its value.
// Values are cut to the bits their slots carry.
void encodeHeader(const SonarSettings& settings, const ScanState& scan, ScanHistory& history);
// Reads the header slots back into the settings and scanColumn, with the block alignment and byte
// rate recomputed. A rate code other than 1..4 keeps the current rate. scanColumn is the whole
// slot word, as stored; the caller brings it into range.
void decodeHeader(const ScanHistory& history, SonarSettings& settings, ScanState& scan);

// The first byteCount bytes of the history, little-endian (byteCount is bounded by its size).
std::vector<uint8_t> historyBytes(const ScanHistory& history, size_t byteCount);
// Clears the history and fills it from the front with the bytes (as far as they go; a trailing
// partial word fills its low bytes).
void loadHistoryBytes(std::span<const uint8_t> bytes, ScanHistory& history);

// The File commands ("Open", "Save") through the shell's file dialogs.
void openFile(App& app);
void saveFile(App& app);

// Before a measured sweep is lost (Exit, closing the window, Open): asks whether to save it
// first, and saves it as a sonar file when told to. Returns whether the caller may go on: the
// sweep was saved or discarded, or nothing was unsaved; false when the user cancelled, at the
// question or the file dialog, or the save failed.
bool settleUnsavedSweep(App& app);

// File > Export picture and File > Export distances: the plot surface as PNG, the distance
// table as CSV, each written whole or not at all ("Save failed!" when it cannot be).
void exportPicture(App& app);
void exportDistances(App& app);
// Writes the text to the file through a temporary beside it; false when any step failed.
bool saveTextFile(const std::string& path, std::string_view text);

// Open of a file the user picked from the recent files: the same as Open after its dialog,
// including the question about an unsaved sweep.
void openRecentFile(App& app, const FileChoice& choice);

// The part of Open and Save after the dialog, for callers that already know the file (the
// command line). Failures are reported through the shell as the commands report them.
enum class FileOutcome { kDone, kCannotOpen, kReadFailed, kSaveFailed };
FileOutcome openChosenFile(App& app, const FileChoice& choice);
FileOutcome saveChosenFile(App& app, const FileChoice& choice);
