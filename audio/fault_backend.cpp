#include "audio/fault_backend.h"

#include <algorithm>

FaultBackend::FaultBackend(std::unique_ptr<AudioBackend> inner) : inner_(std::move(inner)) {}

void FaultBackend::failCall(BackendCall call, uint32_t nth, WaveError code) {
  faults_.push_back({call, nth, code});
}

void FaultBackend::failCallsFrom(BackendCall call, uint32_t nth, WaveError code) {
  faults_.push_back({call, nth, code, true});
}

void FaultBackend::clearFaults() {
  faults_.clear();
  completion_ = FaultCompletion::kNormal;
}

WaveError FaultBackend::injected(BackendCall call) {
  const uint32_t n = ++counts_[static_cast<size_t>(call)];
  for (const Fault& f : faults_) {
    if (f.call == call && (f.nth == n || (f.onward && n > f.nth))) return f.code;
  }
  return kWaveOk;
}

FaultBackend::Shadow* FaultBackend::shadowOf(StreamHandle handle, const WaveHeader& header) {
  const auto it = std::find_if(shadows_.begin(), shadows_.end(), [&](const Shadow& s) {
    return s.handle == handle && s.caller == &header;
  });
  return it == shadows_.end() ? nullptr : &*it;
}

WaveError FaultBackend::open(StreamDirection direction, const WaveFormat& format,
                             StreamHandle& handle) {
  handle = 0;
  if (const WaveError e = injected(BackendCall::kOpen); e != kWaveOk) return e;
  const WaveError e = inner_->open(direction, format, handle);
  if (e == kWaveOk) byteRates_.emplace_back(handle, format.avgBytesPerSec);
  return e;
}

WaveError FaultBackend::close(StreamHandle handle) {
  const WaveError e = injected(BackendCall::kClose);
  const WaveError closed = inner_->close(handle);
  std::erase_if(shadows_, [&](const Shadow& s) { return s.handle == handle; });
  std::erase_if(byteRates_, [&](const auto& r) { return r.first == handle; });
  return e != kWaveOk ? e : closed;
}

WaveError FaultBackend::prepare(StreamHandle handle, WaveHeader& header) {
  if (const WaveError e = injected(BackendCall::kPrepare); e != kWaveOk) return e;
  Shadow* s = shadowOf(handle, header);
  if (s == nullptr) {
    shadows_.push_back(Shadow{handle, &header});
    s = &shadows_.back();
  }
  s->header->data = header.data;
  s->header->length = header.length;
  const WaveError e = inner_->prepare(handle, *s->header);
  if (e != kWaveOk) std::erase_if(shadows_, [&](const Shadow& x) { return &x == s; });
  return e;
}

WaveError FaultBackend::unprepare(StreamHandle handle, WaveHeader& header) {
  const WaveError e = injected(BackendCall::kUnprepare);
  Shadow* s = shadowOf(handle, header);
  WaveError released = kWaveNotPrepared;
  if (s != nullptr) {
    released = inner_->unprepare(handle, *s->header);
    std::erase_if(shadows_, [&](const Shadow& x) { return &x == s; });
  }
  return e != kWaveOk ? e : released;
}

WaveError FaultBackend::queue(BackendCall call, StreamHandle handle, WaveHeader& header) {
  if (const WaveError e = injected(call); e != kWaveOk) return e;
  Shadow* s = shadowOf(handle, header);
  if (s == nullptr) return kWaveNotPrepared;
  s->header->data = header.data;
  s->header->length = header.length;
  const WaveError e = call == BackendCall::kWritePlayback
                          ? inner_->writePlayback(handle, *s->header)
                          : inner_->addCaptureBuffer(handle, *s->header);
  if (e != kWaveOk) return e;
  header.flags.store(0, std::memory_order_release);
  s->reported = false;
  s->staleDue = completion_ == FaultCompletion::kTwice && s->completedOnce;
  return kWaveOk;
}

WaveError FaultBackend::addCaptureBuffer(StreamHandle handle, WaveHeader& header) {
  return queue(BackendCall::kAddCaptureBuffer, handle, header);
}

WaveError FaultBackend::startCapture(StreamHandle handle) {
  if (const WaveError e = injected(BackendCall::kStartCapture); e != kWaveOk) return e;
  return inner_->startCapture(handle);
}

WaveError FaultBackend::writePlayback(StreamHandle handle, WaveHeader& header) {
  return queue(BackendCall::kWritePlayback, handle, header);
}

uint64_t FaultBackend::durationMs(const Shadow& s) const {
  for (const auto& [handle, rate] : byteRates_) {
    if (handle == s.handle && rate > 0) return uint64_t{s.header->length} * 1000u / rate;
  }
  return 0;
}

void FaultBackend::waitForDone(uint32_t timeoutMs) {
  for (Shadow& s : shadows_) {
    if (s.staleDue) {
      s.staleDue = false;
      s.caller->flags.fetch_or(kHeaderDone, std::memory_order_acq_rel);
      return;
    }
  }
  inner_->waitForDone(timeoutMs);
  for (Shadow& s : shadows_) {
    if (s.reported || !s.header->done()) continue;
    if (lateBuffers_ > 0) {
      if (s.dueMs == 0) s.dueMs = inner_->clockMs() + lateBuffers_ * durationMs(s);
      if (inner_->clockMs() < s.dueMs) continue;
      s.dueMs = 0;
    }
    s.reported = true;
    s.completedOnce = true;
    if (completion_ != FaultCompletion::kNever) {
      s.caller->flags.fetch_or(kHeaderDone, std::memory_order_acq_rel);
    }
  }
}

std::string FaultBackend::errorText(WaveError code) const {
  const std::string own = inner_->errorText(code);
  return own.empty() ? "Injected audio fault " + waveErrorNumber(code) + "." : own;
}
