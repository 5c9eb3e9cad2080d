#pragma once
#include <cstdint>
#include <string_view>

#include "app/program.h"
#include "app/shell.h"

// The audio-system check: one long sweep through the loudspeaker, recorded by the microphone.
// The command around it saves and restores the four signal settings it overrides.

inline constexpr uint32_t kCheckRecordTimeMs = 900;
inline constexpr uint32_t kCheckStartFrequency = 20;   // [Hz]
inline constexpr uint32_t kCheckEndFrequency = 20000;  // [Hz]
inline constexpr uint32_t kCheckChirpTimeUs = 900000;
inline constexpr int kCheckWarmUps = 8;
inline constexpr std::string_view kCheckRecordedText = "The sound was successfully recorded. ";
inline constexpr std::string_view kCaptionInfo = "Info.";

// With a quiet chirp in the settings, first weighs it against the audible chirp
// (measureQuietChirpReach) and, once the sweep is recorded, says whether the devices carry it.
// Sets the sweep's values, plans (its result is not examined: the check never falls back to the
// defaults), prepares the devices, warms the microphone up, plays and records the sweep, reports
// the outcome and copies the recording into recordSamples for the plot. Device failures are
// reported under "WaveOut Error" and the check goes on. Between the steps the shell gets a
// progress note, so the windows stay painted during the second or so of audio.
void runAudioCheck(Program& program, Shell& shell);

// The plot reads 16-bit values whatever the format: entry i of recordSamples, from offsetBytes
// to inBufferBytes / 2, becomes the little-endian value of record bytes 2i and 2i + 1. Entries
// below the offset are left alone, and the copy stops where either buffer ends (after a failed
// plan the lengths can exceed the buffers of the previous plan).
void copyCheckRecording(SonarSettings& settings);
