#pragma once
#include <string_view>

#include "app/program.h"
#include "app/shell.h"

// How every part of the program tells the user of a device failure: the back end's text for the
// code in a message box without owner, under the caption of the step that failed.

inline constexpr std::string_view kCaptionWaveOut = "WaveOut Error";
inline constexpr std::string_view kCaptionResetOpen = "WaveOut 1 Error init";

// Does nothing for success. The program's back end must exist.
inline void reportWaveError(const Program& program, Shell& shell, WaveError code,
                            std::string_view caption) {
  if (code == kWaveOk) return;
  shell.showMessage(program.backend->errorText(code), caption, MessageIcon::kNone,
                    MessageOwner::kNoOwner);
}
