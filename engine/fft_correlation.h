#pragma once
// FFT correlation for long templates. Internal to the engine. Built from fft_correlation.cpp
// (FFTW) with MERVANE_FFTW, else from fft_correlation_off.cpp, where no workspace is ever made
// and every correlation takes the direct path.
#include <cstdint>
#include <memory>
#include <span>

#include "engine/correlation_sums.h"

// FFT plans, the template's spectrum and the work array for one template and a largest number of
// lags: everything the FFT path needs, made once per buffer plan so that a ping neither plans nor
// allocates. Opaque outside fft_correlation.cpp.
struct CorrelationWorkspace;

// Null when this build has no FFT, the template is empty or wider than 16 bits, or the memory is
// not there; the direct path then does the work.
std::shared_ptr<CorrelationWorkspace> makeCorrelationWorkspace(std::span<const int32_t> taps,
                                                               uint64_t maxLags);

// The exact sums of correlation_sums.h through the FFT. Returns false, with sums unspecified,
// when the workspace does not fit the call (another template, more lags than it was made for,
// in use by another thread) or the rounding check fails; the caller then sums directly.
// With a worker, the element-wise passes between the transforms share their entries with it.
bool fftSums(CorrelationWorkspace& workspace, const SampleSource& source,
             std::span<const int32_t> taps, uint64_t firstIndex, std::span<int64_t> sums,
             CorrelationWorker* worker);

// The largest distance of an unrounded output from its integer in the latest fftSums call: the
// measured safety margin (exactness needs it below 1/2).
double lastRoundingResidual(const CorrelationWorkspace& workspace);
