#pragma once
#include <array>
#include <memory>
#include <vector>

#include "audio/audio_backend.h"

// The operations of the back-end seam that can be made to fail.
enum class BackendCall : uint8_t {
  kOpen,
  kClose,
  kPrepare,
  kUnprepare,
  kAddCaptureBuffer,
  kStartCapture,
  kWritePlayback,
};
constexpr size_t kBackendCalls = 7;

enum class FaultCompletion : uint8_t {
  kNormal,  // buffers complete when the inner back end completes them
  kNever,   // no buffer is ever reported done
  kTwice,   // a buffer queued again is reported done at once, before it is played or
            // captured, as a device that signals a stale completion would
};

// A back end that passes every call to another one and injects faults on request: the Nth call
// of an operation fails with a given code, and buffers can be kept from completing or be
// completed twice. The caller's headers never reach the inner back end: it works on shadow
// headers, whose completion is passed on (or not). A failing close or unprepare still lets go of
// the inner resource, like a driver that reports an error while releasing; any other failing
// call does nothing.
class FaultBackend final : public AudioBackend {
 public:
  explicit FaultBackend(std::unique_ptr<AudioBackend> inner);

  // The nth (1-based, counted from construction) call of `call` returns `code`.
  void failCall(BackendCall call, uint32_t nth, WaveError code);
  // Every call of `call` from the nth on returns `code`: a device that is gone until
  // clearFaults() brings it back.
  void failCallsFrom(BackendCall call, uint32_t nth, WaveError code);
  // Forgets every injected fault and lets buffers complete normally again; the counts go on.
  void clearFaults();
  void setCompletion(FaultCompletion completion) { completion_ = completion; }
  // Every completion reaches the caller `buffers` of its own buffer's duration late (by the
  // back end's clock), as from a device whose callbacks a busy machine holds up; 0 for none.
  void setLateCompletions(uint32_t buffers) { lateBuffers_ = buffers; }
  uint32_t callCount(BackendCall call) const { return counts_[static_cast<size_t>(call)]; }
  AudioBackend& inner() { return *inner_; }

  WaveError open(StreamDirection direction, const WaveFormat& format,
                 StreamHandle& handle) override;
  WaveError close(StreamHandle handle) override;
  WaveError prepare(StreamHandle handle, WaveHeader& header) override;
  WaveError unprepare(StreamHandle handle, WaveHeader& header) override;
  WaveError addCaptureBuffer(StreamHandle handle, WaveHeader& header) override;
  WaveError startCapture(StreamHandle handle) override;
  WaveError writePlayback(StreamHandle handle, WaveHeader& header) override;
  void waitForDone(uint32_t timeoutMs) override;
  std::string errorText(WaveError code) const override;
  uint64_t clockMs() const override { return inner_->clockMs(); }
  WaveError deviceFault() const override { return inner_->deviceFault(); }
  uint64_t progressCount() const override { return inner_->progressCount(); }

 private:
  struct Fault {
    BackendCall call;
    uint32_t nth;
    WaveError code;
    bool onward = false;  // also every later call
  };
  struct Shadow {
    StreamHandle handle = 0;
    WaveHeader* caller = nullptr;
    std::unique_ptr<WaveHeader> header = std::make_unique<WaveHeader>();
    bool reported = true;  // its latest completion was passed on (or it is not queued)
    bool completedOnce = false;
    bool staleDue = false;  // kTwice: a stale completion to report at the next wait
    uint64_t dueMs = 0;     // late completions: when the inner completion is passed on
  };

  // Counts the call and returns the injected code for it, or kWaveOk.
  WaveError injected(BackendCall call);
  Shadow* shadowOf(StreamHandle handle, const WaveHeader& header);
  uint64_t durationMs(const Shadow& s) const;  // of its buffer, at its stream's byte rate
  WaveError queue(BackendCall call, StreamHandle handle, WaveHeader& header);

  std::unique_ptr<AudioBackend> inner_;
  std::vector<Fault> faults_;
  std::array<uint32_t, kBackendCalls> counts_{};
  FaultCompletion completion_ = FaultCompletion::kNormal;
  std::vector<Shadow> shadows_;
  uint32_t lateBuffers_ = 0;
  std::vector<std::pair<StreamHandle, uint32_t>> byteRates_;  // of each open handle
};
