#pragma once
#include <complex>
#include <vector>

#include "audio/sim_room.h"

// Loudspeaker and microphone responses of the simulated room: analog prototypes, and the FIR
// filter that stands for both at one sampling rate.

// The response at `hz` (a positive frequency): lowpass 1 / (1 + j f/fc); highpass
// (j f/fc) / (1 + j f/fc); phase e^(-j deg); resonant a peaking filter (hz, q, gainDb) on a
// second-order 500 Hz high-pass, as a small loudspeaker has; ringing the peaking filter alone.
std::complex<double> responseAt(const SimResponse& response, double hz);

// Loudspeaker and microphone in one FIR: taps[leadTaps] is time zero (a constant phase shift
// needs taps before it). Flat ones give the single tap 1. The filter follows the prototypes up to
// 95 % of the Nyquist frequency, above which its phase eases to 0.
struct ResponseFilter {
  std::vector<double> taps{1.0};
  int leadTaps = 0;
};
ResponseFilter designResponse(const SimResponse& speaker, const SimResponse& microphone,
                              double samplesPerSec);
