#include <gtest/gtest.h>

#include <vector>

#include "audio_test_support.h"

namespace {

// A device that opens anything and accepts every call; what it does with the buffers is each
// test device's own.
class AcceptingBackend : public AudioBackend {
 public:
  WaveError open(StreamDirection, const WaveFormat&, StreamHandle& handle) override {
    handle = ++opened_;
    return kWaveOk;
  }
  WaveError close(StreamHandle) override { return kWaveOk; }
  WaveError prepare(StreamHandle, WaveHeader&) override { return kWaveOk; }
  WaveError unprepare(StreamHandle, WaveHeader&) override { return kWaveOk; }
  WaveError startCapture(StreamHandle) override { return kWaveOk; }
  std::string errorText(WaveError) const override { return {}; }

 private:
  StreamHandle opened_ = 0;
};

// A device that finishes every buffer the moment it gets it, and notes what it was given.
class InstantBackend final : public AcceptingBackend {
 public:
  std::vector<uint32_t> captureLengths;
  uint32_t waits = 0;

  WaveError addCaptureBuffer(StreamHandle, WaveHeader& h) override {
    captureLengths.push_back(h.length);
    h.flags.store(kHeaderDone);
    return kWaveOk;
  }
  WaveError writePlayback(StreamHandle, WaveHeader& h) override {
    h.flags.store(kHeaderDone);
    return kWaveOk;
  }
  void waitForDone(uint32_t) override { ++waits; }
};

TEST(WavePairInstantDevice, DoneHeadersCostNoWaitAndWarmUpsAre15000Bytes) {
  InstantBackend device;
  WavePair pair;
  std::vector<uint8_t> play(352), record(10670);
  for (const auto& [channels, bits, rate] :
       {std::tuple{2, 16, 44100}, std::tuple{1, 8, 8000}, std::tuple{2, 8, 22050}}) {
    WaveFormat f{1,
                 static_cast<uint16_t>(channels),
                 static_cast<uint32_t>(rate),
                 0,
                 0,
                 static_cast<uint16_t>(bits),
                 0};
    recomputeDerivedFormat(f);
    ASSERT_EQ(openPair(device, pair, f, play, 352, record, 10670), kWaveOk);
    ASSERT_EQ(flushInput(device, pair, f), kWaveOk);
    EXPECT_EQ(device.captureLengths.back(), kWarmUpBytes);
    ASSERT_EQ(pingPair(device, pair), kWaveOk);
  }
  EXPECT_EQ(device.waits, 0u);
}

TEST(WavePairOpen, ASecondOpenOnlyPreparesTheHeadersAgain) {
  SimRig rig(defaultSimRoom(), true);
  ASSERT_EQ(rig.open(), kWaveOk);
  const StreamHandle out = rig.pair.out, in = rig.pair.in;
  std::vector<uint8_t> play(100), record(500);
  ASSERT_EQ(openPair(*rig.backend, rig.pair, rig.settings.waveFormat, play, 80, record, 900),
            kWaveOk);
  EXPECT_EQ(rig.fault->callCount(BackendCall::kOpen), 2u);
  EXPECT_EQ(rig.fault->callCount(BackendCall::kPrepare), 4u);
  EXPECT_EQ(rig.pair.out, out);
  EXPECT_EQ(rig.pair.in, in);
  EXPECT_EQ(rig.pair.outHeader.data, play.data());
  EXPECT_EQ(rig.pair.outHeader.length, 80u);
  EXPECT_EQ(rig.pair.inHeader.data, record.data());
  EXPECT_EQ(rig.pair.inHeader.length, 500u);  // bounded by the buffer, not the length asked
  EXPECT_EQ(rig.sim->preparedHeaders(), 2u);  // the old buffers were let go of
  closePair(*rig.backend, rig.pair);
}

TEST(WavePairOpen, AnotherFormatReopensBothDevices) {
  SimRig rig;
  ASSERT_EQ(rig.open(), kWaveOk);
  const StreamHandle out = rig.pair.out, in = rig.pair.in;
  rig.useFormat(1, 8, 8000);
  ASSERT_EQ(rig.open(), kWaveOk);
  EXPECT_NE(rig.pair.out, out);
  EXPECT_NE(rig.pair.in, in);
  EXPECT_TRUE(sameWaveFormat(rig.pair.openFormat, rig.settings.waveFormat));
  EXPECT_EQ(rig.sim->openStreams(), 2u);
  EXPECT_EQ(rig.measure().ping, kWaveOk);
}

TEST(WavePairOpen, AFailingOutputOpenTouchesNothingElse) {
  SimRig rig(defaultSimRoom(), true);
  rig.fault->failCall(BackendCall::kOpen, 1, hostWaveError(2));
  EXPECT_EQ(rig.open(), hostWaveError(2));
  EXPECT_EQ(rig.fault->callCount(BackendCall::kOpen), 1u);
  EXPECT_EQ(rig.fault->callCount(BackendCall::kPrepare), 0u);
  EXPECT_EQ(rig.pair.out, 0u);
  EXPECT_EQ(rig.pair.in, 0u);
  EXPECT_EQ(rig.pair.outHeader.data, nullptr);
  EXPECT_EQ(rig.pair.inHeader.data, nullptr);
  // Later pings on the unopened pair fail instead of touching anything.
  const MeasurementResult r = rig.measure();
  EXPECT_EQ(r.warmUp, kWaveNotOpen);
  EXPECT_EQ(r.ping, kWaveNotOpen);
}

// One reset, one measurement and a close, with one call of the seam failing: every step reports
// the code of the first failure it met, and afterwards the device holds nothing of ours.
struct PairFault {
  const char* name;
  BackendCall call;
  uint32_t nth;
  WaveError open, warmUp, ping;
};

constexpr WaveError kInjected = hostWaveError(7);

class WavePairFaults : public testing::TestWithParam<PairFault> {};

TEST_P(WavePairFaults, ReportTheFirstFailureAndLeakNothing) {
  const PairFault& c = GetParam();
  SimRig rig(defaultSimRoom(), true);
  rig.fault->failCall(c.call, c.nth, kInjected);
  EXPECT_EQ(rig.open(), c.open);
  const MeasurementResult r = rig.measure();
  EXPECT_EQ(r.warmUp, c.warmUp);
  EXPECT_EQ(r.ping, c.ping);
  // The pair recovers: the next ping works on every pair that opened.
  if (c.open == kWaveOk) {
    EXPECT_EQ(rig.measure().ping, kWaveOk);
  }
  closePair(*rig.backend, rig.pair);
  EXPECT_EQ(rig.sim->openStreams(), 0u);
  EXPECT_EQ(rig.sim->preparedHeaders(), 0u);
}

constexpr WaveError kOk = kWaveOk;
INSTANTIATE_TEST_SUITE_P(
    EachCall, WavePairFaults,
    testing::Values(
        PairFault{"open_output", BackendCall::kOpen, 1, kInjected, kWaveNotOpen, kWaveNotOpen},
        PairFault{"open_input", BackendCall::kOpen, 2, kInjected, kWaveNotOpen, kWaveNotOpen},
        PairFault{"prepare_play", BackendCall::kPrepare, 1, kInjected, kOk, kWaveNotPrepared},
        PairFault{"prepare_record", BackendCall::kPrepare, 2, kInjected, kOk, kWaveNotPrepared},
        PairFault{"prepare_warm_up", BackendCall::kPrepare, 3, kOk, kInjected, kOk},
        PairFault{"queue_warm_up", BackendCall::kAddCaptureBuffer, 1, kOk, kInjected, kOk},
        PairFault{"start_warm_up", BackendCall::kStartCapture, 1, kOk, kInjected, kOk},
        PairFault{"release_warm_up", BackendCall::kUnprepare, 1, kOk, kInjected, kOk},
        PairFault{"queue_record", BackendCall::kAddCaptureBuffer, 2, kOk, kOk, kInjected},
        PairFault{"start_record", BackendCall::kStartCapture, 2, kOk, kOk, kInjected},
        PairFault{"play", BackendCall::kWritePlayback, 1, kOk, kOk, kInjected},
        PairFault{"close", BackendCall::kClose, 1, kOk, kOk, kOk}),
    [](const auto& named) { return std::string(named.param.name); });

TEST(WavePairDevices, ADeviceThatNeverFinishesTimesOutAndThePairRecovers) {
  SimRig rig(defaultSimRoom(), true);
  ASSERT_EQ(rig.open(), kWaveOk);
  rig.fault->setCompletion(FaultCompletion::kNever);
  const MeasurementResult stuck = rig.measure();
  EXPECT_EQ(stuck.warmUp, kWaveTimedOut);
  EXPECT_EQ(stuck.ping, kWaveTimedOut);
  EXPECT_NE(rig.backend->errorText(kWaveTimedOut).find("did not finish"), std::string::npos);
  EXPECT_EQ(rig.sim->preparedHeaders(), 2u);  // the pair's own headers, taken up again

  rig.fault->setCompletion(FaultCompletion::kNormal);
  const MeasurementResult r = rig.measure();
  EXPECT_EQ(r.ping, kWaveOk);
  EXPECT_NEAR(r.arrival.offset, directLag(7.4, rig.settings.waveFormat), 10.0);
}

TEST(WavePairDevices, ADeviceThatCompletesTwiceNeitherHangsNorLeaks) {
  SimRig rig(defaultSimRoom(), true);
  ASSERT_EQ(rig.open(), kWaveOk);
  rig.fault->setCompletion(FaultCompletion::kTwice);
  for (int i = 0; i < 20; ++i) rig.measure();
  closePair(*rig.backend, rig.pair);
  EXPECT_EQ(rig.sim->openStreams(), 0u);
  EXPECT_EQ(rig.sim->preparedHeaders(), 0u);
}

// The stand-alone routines close their device whatever goes wrong.
struct StandAloneFault {
  const char* name;
  StreamDirection direction;
  BackendCall call;
};

class StandAloneFaults : public testing::TestWithParam<StandAloneFault> {};

WaveError runOnce(SimRig& rig, StreamDirection direction, std::vector<uint8_t>& data) {
  const auto length = static_cast<uint32_t>(data.size());
  return direction == StreamDirection::kOutput
             ? playOnce(*rig.backend, data, length, rig.settings.waveFormat)
             : recordOnce(*rig.backend, data, length, rig.settings.waveFormat);
}

TEST_P(StandAloneFaults, ReturnTheCodeAndCloseTheDevice) {
  SimRig rig(defaultSimRoom(), true);
  std::vector<uint8_t> data(4000, 1);
  rig.fault->failCall(GetParam().call, 1, kInjected);
  EXPECT_EQ(runOnce(rig, GetParam().direction, data), kInjected);
  EXPECT_EQ(rig.sim->openStreams(), 0u);
  EXPECT_EQ(rig.sim->preparedHeaders(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EachCall, StandAloneFaults,
    testing::Values(
        StandAloneFault{"play_open", StreamDirection::kOutput, BackendCall::kOpen},
        StandAloneFault{"play_prepare", StreamDirection::kOutput, BackendCall::kPrepare},
        StandAloneFault{"play_write", StreamDirection::kOutput, BackendCall::kWritePlayback},
        StandAloneFault{"play_unprepare", StreamDirection::kOutput, BackendCall::kUnprepare},
        StandAloneFault{"play_close", StreamDirection::kOutput, BackendCall::kClose},
        StandAloneFault{"record_open", StreamDirection::kInput, BackendCall::kOpen},
        StandAloneFault{"record_prepare", StreamDirection::kInput, BackendCall::kPrepare},
        StandAloneFault{"record_queue", StreamDirection::kInput, BackendCall::kAddCaptureBuffer},
        StandAloneFault{"record_start", StreamDirection::kInput, BackendCall::kStartCapture},
        StandAloneFault{"record_unprepare", StreamDirection::kInput, BackendCall::kUnprepare},
        StandAloneFault{"record_close", StreamDirection::kInput, BackendCall::kClose}),
    [](const auto& named) { return std::string(named.param.name); });

TEST(StandAlone, PlayAndRecordTakeTheirBuffersTimeAndTimeOutOnADeadDevice) {
  SimRig rig(quietRoom(7.4, 0.3, 0), true);
  std::vector<uint8_t> data(17640, 0);  // 100 ms at the default format
  const uint64_t start = rig.sim->nowTicks();
  EXPECT_EQ(runOnce(rig, StreamDirection::kOutput, data), kWaveOk);
  EXPECT_EQ(rig.sim->nowTicks() - start, kSimTicksPerSecond / 10);
  EXPECT_EQ(runOnce(rig, StreamDirection::kInput, data), kWaveOk);
  EXPECT_EQ(rig.sim->nowTicks() - start, kSimTicksPerSecond / 5);

  rig.fault->setCompletion(FaultCompletion::kNever);
  EXPECT_EQ(runOnce(rig, StreamDirection::kOutput, data), kWaveTimedOut);
  EXPECT_EQ(runOnce(rig, StreamDirection::kInput, data), kWaveTimedOut);
  EXPECT_EQ(rig.sim->openStreams(), 0u);
  EXPECT_EQ(rig.sim->preparedHeaders(), 0u);
}

}  // namespace

namespace {

// A device that stops under a running ping: nothing ever completes, and after a given number of
// waits the back end reports the fault it has seen. Its clock moves only by the waits.
class StoppingBackend final : public AcceptingBackend {
 public:
  explicit StoppingBackend(uint32_t faultAfterWaits) : faultAfter_(faultAfterWaits) {}
  uint32_t waits = 0;
  uint64_t nowMs = 0;
  bool moving = false;  // sound keeps moving (a late device), though no buffer ever finishes

  uint64_t progressCount() const override { return moving ? waits : 0; }

  WaveError addCaptureBuffer(StreamHandle, WaveHeader&) override { return kWaveOk; }
  WaveError writePlayback(StreamHandle, WaveHeader&) override { return kWaveOk; }
  void waitForDone(uint32_t timeoutMs) override {
    ++waits;
    nowMs += timeoutMs;
  }
  uint64_t clockMs() const override { return nowMs; }
  WaveError deviceFault() const override {
    return waits >= faultAfter_ ? kWaveDeviceStopped : kWaveOk;
  }

 private:
  uint32_t faultAfter_;
};

WaveFormat stereoFormat() {
  WaveFormat f{1, 2, 44100, 0, 0, 16, 0};
  recomputeDerivedFormat(f);
  return f;
}

// A pair for one ping at 16-bit stereo 44.1 kHz, its buffers sized here.
WaveError openStereoPair(AudioBackend& device, WavePair& pair, std::vector<uint8_t>& play,
                         std::vector<uint8_t>& record) {
  play.assign(352, 0);
  record.assign(10670, 0);
  return openPair(device, pair, stereoFormat(), play, 352, record, 10670);
}

}  // namespace

// A server that ends under a ping is told at the next wake-up, not after the time-out.
TEST(WavePairDevices, AFaultTheBackEndSawEndsTheWaitAtOnce) {
  StoppingBackend device(1);
  WavePair pair;
  std::vector<uint8_t> play, record;
  ASSERT_EQ(openStereoPair(device, pair, play, record), kWaveOk);
  EXPECT_EQ(pingPair(device, pair), kWaveDeviceStopped);
  EXPECT_EQ(device.waits, 1u);
  EXPECT_NE(ownWaveErrorText(kWaveDeviceStopped).find("stopped"), std::string::npos);
}

// A frozen server: nothing completes and nothing is reported. The operation ends
// kLateAllowanceMs of the back end's clock after the buffer should have been done, and the front
// end is called between the short waits of the late part, so a window stays painted.
TEST(WavePairDevices, ALateDeviceIsGivenUpSoonAndTheWindowKeepsBeingPainted) {
  StoppingBackend device(UINT32_MAX);
  uint32_t stalls = 0;
  device.setStallHook([&stalls] { ++stalls; });
  WavePair pair;
  std::vector<uint8_t> play, record;
  ASSERT_EQ(openStereoPair(device, pair, play, record), kWaveOk);
  EXPECT_EQ(pingPair(device, pair), kWaveTimedOut);
  const uint64_t playMs = 352 * 1000 / 176400;
  EXPECT_LE(device.nowMs, playMs + kLateAllowanceMs + 2 * playMs);
  EXPECT_GE(device.nowMs, kLateAllowanceMs);
  // Every 100 ms once the buffer is a quarter second late.
  EXPECT_GE(stalls, (kLateAllowanceMs - 250) / 100);

  device.nowMs = 0;
  EXPECT_EQ(flushInput(device, pair, stereoFormat()), kWaveTimedOut);
  EXPECT_LE(device.nowMs, 3 * (kWarmUpBytes * 1000 / 176400) + kLateAllowanceMs);
}

// A device that keeps delivering is late, not stopped: it is waited for while sound moves, but
// a buffer that never finishes still ends the wait, kLateWaitsAtMost allowances after its end.
TEST(WavePairDevices, ADeviceThatStillMovesIsWaitedForButNotForever) {
  StoppingBackend device(UINT32_MAX);
  device.moving = true;
  WavePair pair;
  std::vector<uint8_t> play, record;
  ASSERT_EQ(openStereoPair(device, pair, play, record), kWaveOk);
  EXPECT_EQ(pingPair(device, pair), kWaveTimedOut);
  const uint64_t playMs = 352 * 1000 / 176400;
  const uint64_t allowance = kLateAllowanceMs + 2 * playMs;
  EXPECT_GT(device.nowMs, playMs + allowance) << "given up while sound still moved";
  EXPECT_LE(device.nowMs, playMs + kLateWaitsAtMost * allowance);
}

// Callbacks that a busy machine holds up by twice a buffer's duration: every buffer comes late,
// and the measurement is the same as on time. A 1.5 s recording makes the lateness (3 s) longer
// than the allowance of a stopped device.
TEST(WavePairDevices, ADeviceTwiceABufferLateIsHealthy) {
  SimRig rig(defaultSimRoom(), true);
  rig.settings.recordTime = 1500;
  ASSERT_TRUE(planBuffers(rig.settings));
  ASSERT_EQ(rig.open(), kWaveOk);
  rig.fault->setLateCompletions(2);
  const uint64_t start = rig.backend->clockMs();
  const MeasurementResult late = rig.measure();
  EXPECT_EQ(late.warmUp, kWaveOk);
  EXPECT_EQ(late.ping, kWaveOk);
  EXPECT_GT(rig.backend->clockMs() - start, 2 * 1500u) << "the completions were not late";
  EXPECT_NEAR(late.arrival.offset, directLag(7.4, rig.settings.waveFormat), 10.0);
  EXPECT_GT(late.peakAmplitude, 0u);
}
