// Builds without FFTW: no workspace is ever made, so every correlation is summed directly.
#include "engine/fft_correlation.h"

struct CorrelationWorkspace {};

std::shared_ptr<CorrelationWorkspace> makeCorrelationWorkspace(std::span<const int32_t>, uint64_t) {
  return nullptr;
}

bool fftSums(CorrelationWorkspace&, const SampleSource&, std::span<const int32_t>, uint64_t,
             std::span<int64_t>, CorrelationWorker*) {
  return false;
}

double lastRoundingResidual(const CorrelationWorkspace&) {
  return 0.0;
}
