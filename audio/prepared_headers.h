#pragma once
#include <algorithm>
#include <vector>

#include "audio/audio_backend.h"

// What every back end's prepare does once it found the stream: a length with no memory behind
// it is refused, and a header is remembered once however often it is prepared.
inline WaveError rememberPrepared(std::vector<WaveHeader*>& prepared, WaveHeader& header) {
  if (header.data == nullptr && header.length != 0) return kWaveBadBuffer;
  if (std::find(prepared.begin(), prepared.end(), &header) == prepared.end()) {
    prepared.push_back(&header);
  }
  return kWaveOk;
}
