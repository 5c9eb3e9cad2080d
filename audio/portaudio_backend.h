#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/audio_backend.h"
#include "audio/duplex_transfer.h"

// Real sound through PortAudio. An output and an input device opened with the same format become
// the two halves of ONE full-duplex callback stream, started as soon as both are open and kept
// running while they stay open: separate streams or the blocking API lose sound or let the
// playback-to-record latency wander, a single running duplex stream keeps it constant to the
// sample once it has settled. A half with no partner (the stand-alone play and record) gets a
// stream of its own when it first needs one. Playback sounds a queued buffer, else silence;
// capture fills a queued buffer, else the frames are dropped.
class PortAudioBackend final : public AudioBackend {
 public:
  // `device`: empty for the system defaults, else a device name or index as listAudioDevices
  // gives them, used for both directions.
  explicit PortAudioBackend(const std::string& device = {});
  // The same with a device of its own for each direction (either may be empty: the default).
  PortAudioBackend(const std::string& inputDevice, const std::string& outputDevice);
  ~PortAudioBackend() override;
  PortAudioBackend(const PortAudioBackend&) = delete;
  PortAudioBackend& operator=(const PortAudioBackend&) = delete;

  // Why the named device cannot be used (no such name or index), empty when it can.
  const std::string& deviceProblem() const { return deviceProblem_; }

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
  // kWaveNoAnswer once a call into PortAudio did not return in time; kWaveDeviceStopped while a
  // stream that should run has stopped by itself (its sound server ended).
  WaveError deviceFault() const override;
  uint64_t progressCount() const override;

 private:
  struct Stream;
  struct Half {
    StreamDirection direction = StreamDirection::kOutput;
    WaveFormat format;
    int device = -1;
    std::vector<WaveHeader*> prepared;
    std::vector<WaveHeader*> queued;  // what the callback may hold, oldest first
    Stream* stream = nullptr;
    std::unique_ptr<TransferHalf> transfer = std::make_unique<TransferHalf>();
  };

  Half* find(StreamHandle handle);
  WaveError attach(Half& half);
  WaveError startStream(Half* out, Half* in);
  void stopStream(Stream* stream);
  void forgetStream(Stream* stream);
  // Runs a PortAudio call that a frozen sound server can block, bounded in time (callWithin).
  // A call that does not return marks the back end as not answering: from then on it answers
  // every operation with kWaveNoAnswer and never calls PortAudio again. A call for which no
  // thread could be started is not made and answers kWaveNoThread; later calls try again.
  template <typename Call>
  WaveError bounded(Call call);
  void takeBack(Half& half, const WaveHeader* cancelled);
  void requeue(Half& half, const WaveHeader* cancelled);
  bool mayRevive() const;
  void reviveEnded();
  WaveError enqueue(Half& half, WaveHeader& header);
  WaveError resynchronize(Stream& stream);

  WaveError initError_ = kWaveOk;
  bool noAnswer_ = false;
  std::string deviceProblem_;
  int inputDevice_ = -1;
  int outputDevice_ = -1;
  std::map<StreamHandle, Half> halves_;
  std::vector<std::unique_ptr<Stream>> streams_;
  // Streams given up inside a call that never returned: kept, never used again.
  std::vector<std::unique_ptr<Stream>> abandoned_;
  StreamHandle nextHandle_ = 1;
  // On the heap, with the streams and halves: a callback left behind in a call that never
  // returned may still reach them, so a back end that stopped answering leaks them on purpose.
  std::unique_ptr<DoneSignal> done_ = std::make_unique<DoneSignal>();
  std::mutex waitMutex_;
  uint64_t seenDone_ = 0;
  // The count of completed buffers when a stream that had ended by itself was last opened again
  // (reviveEnded), and whether that or opening a disturbed stream anew (resynchronize) failed.
  uint64_t revivedAt_ = UINT64_MAX;
  bool reviveFailed_ = false;
};

struct AudioDeviceInfo {
  int index = 0;
  std::string name;
  std::string hostApi;
  int maxInputChannels = 0;
  int maxOutputChannels = 0;
  bool defaultInput = false;
  bool defaultOutput = false;
};

// Every PortAudio device, through a PortAudio session of its own. Returns kWaveOk or the error
// of starting PortAudio; PortAudioBackend::errorText gives its text.
WaveError listAudioDevices(std::vector<AudioDeviceInfo>& devices);
// The text of a PortAudio or own code without a back end object.
std::string portAudioErrorText(WaveError code);
