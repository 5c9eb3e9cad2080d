#pragma once
#include "engine/sonar_settings.h"

// Turns recordTime and chirpTime into inBufferBytes and outBufferBytes, allocates the working
// buffers for them and synthesises the chirp. Returns false when a length exceeds kMaxPlanBytes
// (leaving the placeholder 18706 or 352 in it, buffers untouched) or when the buffers cannot be
// allocated (leaving lengths and buffers exactly as they were).
bool planBuffers(SonarSettings& settings);

// The record and chirp lengths a plan derives from the settings, before its limit check.
struct PlannedLengths {
  uint32_t inBytes = 0;
  uint32_t outBytes = 0;

  bool fit() const { return inBytes <= kMaxPlanBytes && outBytes <= kMaxPlanBytes; }
};
PlannedLengths plannedLengths(const SonarSettings& settings);

// Entry counts of the working buffers for the given lengths, in 64 bits so that an offset brought
// in by a file cannot wrap them.
struct BufferSizes {
  uint64_t play, record, reference, samples, correlation;
};
BufferSizes bufferSizesFor(uint32_t outBytes, uint32_t inBytes, uint32_t offsetBytes);
