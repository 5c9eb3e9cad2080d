#include "engine/buffer_plan.h"

#include <new>

#include "engine/chirp.h"
#include "engine/correlation.h"
#include "engine/numeric.h"

namespace {

constexpr uint32_t kRecordPlaceholder = 18706;
constexpr uint32_t kChirpPlaceholder = 352;

// No accepted plan needs more than about 2 million entries per buffer (two lengths of at most
// 650250 plus an offset inside the record length). Only an offset that wrapped the 32-bit record
// length sum asks for more; that is treated like a failed allocation rather than touching
// gigabytes.
constexpr uint64_t kMaxBufferEntries = 8u << 20;

struct NewBuffers {
  std::vector<uint8_t> play, record;
  std::vector<int32_t> reference;
  std::vector<int16_t> samples;
  std::vector<int32_t> correlation;
  std::vector<int64_t> sums;
};

bool allocate(const BufferSizes& n, NewBuffers& b) {
  if (n.record > kMaxBufferEntries || n.samples > kMaxBufferEntries ||
      n.correlation > kMaxBufferEntries) {
    return false;
  }
  try {
    b.play.assign(n.play, 0);
    b.record.assign(n.record, 0);
    b.reference.assign(n.reference, 0);
    b.samples.assign(n.samples, 0);
    b.correlation.assign(n.correlation, 0);
    b.sums.assign(n.correlation, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

uint32_t saturatingDouble(uint32_t v) {
  return v > UINT32_MAX / 2 ? UINT32_MAX : 2 * v;
}

}  // namespace

BufferSizes bufferSizesFor(uint32_t out, uint32_t in, uint32_t offset) {
  const uint64_t o = out, i = in, f = offset;
  return BufferSizes{2 * o + 5, o + f + i + 2000, o + 5, o + f + i + 1500, f + 2 * o + 2000 + i};
}

PlannedLengths plannedLengths(const SonarSettings& s) {
  const double valuesPerSecond = 2.0 * static_cast<double>(s.waveFormat.samplesPerSec);
  const uint32_t latencyTerm = s.tuneScale + s.offsetBytes;  // 32-bit sum, as stored
  const double in = s.recordTime * 0.001 * valuesPerSecond + static_cast<double>(latencyTerm);
  const double out = s.chirpTime * 0.000001 * valuesPerSecond;
  PlannedLengths lengths{truncToUint32(in), truncToUint32(out)};
  if (isSixteenBit(s.waveFormat)) {
    // Doubled without wrapping: a wrapped length could slip under the limit.
    lengths.inBytes = saturatingDouble(lengths.inBytes);
    lengths.outBytes = saturatingDouble(lengths.outBytes);
  }
  return lengths;
}

bool planBuffers(SonarSettings& s) {
  const uint32_t previousIn = s.inBufferBytes;
  const uint32_t previousOut = s.outBufferBytes;
  const PlannedLengths lengths = plannedLengths(s);
  s.inBufferBytes = lengths.inBytes;
  s.outBufferBytes = lengths.outBytes;
  if (s.inBufferBytes > kMaxPlanBytes) {
    s.inBufferBytes = kRecordPlaceholder;
    return false;
  }
  if (s.outBufferBytes > kMaxPlanBytes) {
    s.outBufferBytes = kChirpPlaceholder;
    return false;
  }
  NewBuffers fresh;
  if (!allocate(bufferSizesFor(s.outBufferBytes, s.inBufferBytes, s.offsetBytes), fresh)) {
    s.inBufferBytes = previousIn;
    s.outBufferBytes = previousOut;
    return false;
  }
  s.playBuffer.swap(fresh.play);
  s.recordBuffer.swap(fresh.record);
  s.chirpReference.swap(fresh.reference);
  s.recordSamples.swap(fresh.samples);
  s.correlationBuffer.swap(fresh.correlation);
  s.correlationSums.swap(fresh.sums);
  const double start = s.startFrequency;
  const double end = s.endFrequency;
  if (s.waveFormat.bitsPerSample == 8) {
    makeChirp8(start, end, s.playBuffer, s.outBufferBytes, s.chirpReference, s.waveFormat);
  } else if (s.waveFormat.bitsPerSample == 16) {
    makeChirp16(start, end, s.playBuffer, s.outBufferBytes, s.chirpReference, s.waveFormat);
  }
  s.correlationWorkspace = planCorrelation(s);
  s.correlationWorker = planCorrelationWorker(s);
  return true;
}
