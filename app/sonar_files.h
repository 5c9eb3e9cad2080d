#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/application.h"
#include "engine/scan_state.h"
#include "engine/sonar_settings.h"

// Sonar files (*.son: settings and history) and parameter files (*.par: settings) are raw
// little-endian images of the front of the history. The settings travel in a header of one byte
// value per 32-bit word in column 0 (rows 0 to 102), so a replot shows the header in column 0.

// A sonar file holds the whole history, so every column of a sweep survives a Save, and after it
// the distance block of app/distance_block.h. Its front is byte for byte the shorter layout
// written before (words 0..78799 and the low half of 78800: columns 0 to 178), which is still
// read as it always was. A file shorter than either layout opens with a note of what it holds.
constexpr size_t kSonarFileBytes = size_t{kHistoryColumns} * kHistoryRows * 4;  // 633600
constexpr size_t kShortSonarFileBytes = 315202;
constexpr size_t kParameterFileWriteBytes = 1756;  // words 0..438
constexpr size_t kParameterFileReadBytes = 878;    // words 0..218 and the low half of 219
constexpr size_t kHeaderBytes = 103 * 4;           // slots 0..102: a file must hold them all

size_t bytesWritten(FileKind kind);
size_t bytesRead(FileKind kind);  // at most: a shorter file is read as far as it goes

// Writes the header slots into column 0 of the history; every other word keeps its value.
// Values are cut to the bits their slots carry.
void encodeHeader(const SonarSettings& settings, const ScanState& scan, ScanHistory& history);
// Reads the header slots back into the settings and scanColumn, with the block alignment and byte
// rate recomputed. A rate code the table does not know keeps the current rate. scanColumn is the
// whole slot word, as stored; the caller brings it into range.
void decodeHeader(const ScanHistory& history, SonarSettings& settings, ScanState& scan);
// Why decoded settings cannot be taken (outside the ranges of app/header_ranges.h, or record and
// chirp times the buffer plan refuses), in words with the accepted range; empty when they can.
std::string headerProblem(const SonarSettings& decoded);

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
// table as CSV, each written whole or not at all; when one cannot be, "Save failed!" and the
// reason. With no column's distances to export, the table is not written and the message says
// why (nothing measured yet, or a file opened without them).
void exportPicture(App& app);
void exportDistances(App& app);
// Why there are no distances to export, in words; empty when a column holds some.
std::string noDistancesText(const Program& program);

// Open of a file the user picked from the recent files: the same as Open after its dialog,
// including the question about an unsaved sweep.
void openRecentFile(App& app, const FileChoice& choice);

// The part of Open and Save after the dialog, for callers that already know the file (the
// command line). Failures are reported through the shell as the commands report them.
enum class FileOutcome { kDone, kCannotOpen, kReadFailed, kSaveFailed };
// File messages: the program's own text, then the reason on a line of its own.
std::string fileMessage(std::string_view text, const std::string& reason);
FileOutcome openChosenFile(App& app, const FileChoice& choice);
FileOutcome saveChosenFile(App& app, const FileChoice& choice);
