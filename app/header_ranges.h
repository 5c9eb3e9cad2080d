#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/scan_state.h"
#include "engine/sonar_settings.h"

// What a sonar or parameter file's header may hold: every value the dialogs, the command line's
// `--set` and every earlier version of the program could write, and nothing else. Open refuses
// a header outside these ranges ("Read failed!" and the reason); `--set` refuses a setting
// outside them, so that every value saved is the value read back. README's Files section has
// the same table.

// Rate codes of header slot 102, code 1 first; 0 means no rate was saved (the file keeps the
// current rate).
constexpr std::array<uint32_t, 6> kRatesByCode{8000, 11025, 22050, 44100, 48000, 96000};

struct HeaderRange {
  std::string_view field;  // the settings field, as `--set` names it
  std::string_view what;   // the setting in words, for messages
  int64_t min, max;
  std::string_view unit;  // with its leading space, or empty
  int64_t (*value)(const SonarSettings&);
  // Stores a value of the range (a format field recomputes alignment and byte rate, the gain its
  // table), as Open would.
  void (*assign)(SonarSettings&, int64_t);
};

std::span<const HeaderRange> headerRanges();

// The first range the settings leave, or null.
const HeaderRange* outOfRange(const SonarSettings& settings);
// What a range accepts, in words ("1 to 255", "8 or 16 bits").
std::string acceptedValues(const HeaderRange& range);

// The first setting a file cannot hold or Open would refuse, in words with its accepted range
// ("the gain is 256, not 0 to 255"); empty when all fit. The record and chirp times must also
// fit the buffer plan, which is checked apart (see headerProblem).
std::string rangeProblem(const SonarSettings& settings);

// The first header slot whose word no version of Save writes (a byte slot above 255, a slot of
// one signed byte holding more, a rate code other than 0 to 6), in words; empty when all are.
std::string slotProblem(const ScanHistory& history);
