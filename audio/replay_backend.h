#pragma once
#include <deque>
#include <map>
#include <vector>

#include "audio/audio_backend.h"
#include "audio/recorded_session.h"

// The session ran out: every recorded ping has been played back.
constexpr WaveError kWaveSessionEnded{WaveCode::kSessionEnded};
// A recording of the session could not be read any more (the folder changed under the replay).
constexpr WaveError kWaveSessionUnreadable{WaveCode::kSessionUnreadable};
// The program asked for another format than the session was recorded in.
constexpr WaveError kWaveSessionFormat{WaveCode::kSessionFormat};

// A sound system that plays a recorded session back. A capture buffer queued while a playback
// is written is a ping: it receives the next ping's recording. Any other capture is a warm-up:
// it receives the warm-up recorded before the next ping (several warm-ups before one ping all
// receive that one). Buffers complete as soon as the caller waits, on a clock of their own
// duration, so the program runs at its own pace. When every ping has been played back, the next
// capture fails with kWaveSessionEnded, as a device that ran out. Only the session's own files
// are read (the names come from the ping index, never from the list).
class ReplayBackend final : public AudioBackend {
 public:
  explicit ReplayBackend(RecordedSession session);

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
  uint64_t clockMs() const override { return nowMs_; }
  WaveError deviceFault() const override { return fault_; }

  const RecordedSession& session() const { return session_; }
  size_t pingsPlayed() const { return next_; }

 private:
  struct Capture {
    WaveHeader* header = nullptr;
    bool ping = false;
  };
  struct Stream {
    StreamDirection direction = StreamDirection::kOutput;
    std::vector<WaveHeader*> prepared;
    std::deque<Capture> captures;
    std::deque<WaveHeader*> playbacks;
    bool capturing = false;
  };

  Stream* find(StreamHandle handle);
  void fill(Capture& capture);

  RecordedSession session_;
  WaveFormat format_;
  std::map<StreamHandle, Stream> streams_;
  StreamHandle nextHandle_ = 1;
  size_t next_ = 0;  // the ping the next capture belongs to
  uint64_t nowMs_ = 0;
  WaveError fault_ = kWaveOk;
  std::string readProblem_;
  PcmWav scratch_;
};
