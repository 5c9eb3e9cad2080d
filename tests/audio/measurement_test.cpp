#include <gtest/gtest.h>

#include <algorithm>

#include "audio_test_support.h"

namespace {

TEST(ResetToDefaults, GivesTheStartValuesAndAFreshPair) {
  SimRig rig;
  SonarSettings& s = rig.settings;
  s.chirpShape = 3;
  s.gainEnabled = 1;
  s.recordTime = 100;
  s.gain = 50;
  rebuildGainTable(s);
  rig.scan.scanColumn = 200;
  rig.scan.latestScan = 17;
  rig.scan.scanState = kRunning;
  rig.scan.tickCount = 3;
  rig.scan.scanOffsets.forScan(2) = 1234;
  rig.scan.peakAmplitude = 99;
  rig.useFormat(1, 8, 8000);
  ASSERT_EQ(rig.open(), kWaveOk);

  ASSERT_EQ(resetToDefaults(s, rig.scan, rig.pair, *rig.backend), kWaveOk);
  EXPECT_EQ(s.recordTime, 48u);
  EXPECT_EQ(s.inBufferBytes, 9670u);
  EXPECT_EQ(s.outBufferBytes, 352u);
  EXPECT_EQ(s.waveFormat.bitsPerSample, 16);
  EXPECT_EQ(s.waveFormat.samplesPerSec, 44100u);
  EXPECT_EQ(s.gain, 0);
  EXPECT_TRUE(
      std::all_of(s.gainTable.begin(), s.gainTable.end(), [](double g) { return g == 1.0; }));
  EXPECT_EQ(s.chirpShape, 3);  // not the reset's business
  EXPECT_EQ(s.gainEnabled, 1);
  EXPECT_EQ(rig.scan.scanState, kIdle);
  EXPECT_EQ(rig.scan.scanColumn, 1u);
  EXPECT_EQ(rig.scan.latestScan, 0u);
  EXPECT_EQ(rig.scan.tickCount, 0u);
  EXPECT_EQ(rig.scan.peakAmplitude, 99u);
  for (uint32_t k = 0; k <= 2; ++k) EXPECT_EQ(rig.scan.scanOffsets.forScan(k), 600u);
  // The 8-bit pair was closed, not abandoned; the new one runs the default format.
  EXPECT_EQ(rig.sim->openStreams(), 2u);
  EXPECT_TRUE(sameWaveFormat(rig.pair.openFormat, s.waveFormat));
  EXPECT_EQ(rig.pair.inHeader.length, 10670u);
  EXPECT_EQ(rig.measure().ping, kWaveOk);
}

TEST(ResetToDefaults, ReportsTheOpenFailureAndKeepsTheValues) {
  SimRig rig(defaultSimRoom(), true);
  rig.fault->failCall(BackendCall::kOpen, 2, hostWaveError(11));
  EXPECT_EQ(resetToDefaults(rig.settings, rig.scan, rig.pair, *rig.backend), hostWaveError(11));
  EXPECT_EQ(rig.settings.inBufferBytes, 9670u);
  EXPECT_EQ(rig.scan.scanColumn, 1u);
}

TEST(Measurement, TheManualStepCorrelatesOnlyTheRecordTime) {
  SimRig rig;
  EXPECT_EQ(correlationEndBytes(rig.settings, MeasureCaller::kManualStep), 9670u);
  EXPECT_EQ(correlationEndBytes(rig.settings, MeasureCaller::kTimedPing), 10670u);
  EXPECT_EQ(correlationEndBytes(rig.settings, MeasureCaller::kOffsetSearch), 10670u);
  rig.settings.inBufferBytes = UINT32_MAX - 10;
  EXPECT_EQ(correlationEndBytes(rig.settings, MeasureCaller::kTimedPing), UINT32_MAX);
}

// A failed warm-up is reported, and the ping and its analysis still run.
TEST(Measurement, AFailedWarmUpDoesNotStopThePing) {
  SimRig rig(defaultSimRoom(), true);
  ASSERT_EQ(rig.open(), kWaveOk);
  rig.fault->failCall(BackendCall::kAddCaptureBuffer, 1, hostWaveError(9));
  const MeasurementResult r = rig.measure(MeasureCaller::kManualStep);
  EXPECT_EQ(r.warmUp, hostWaveError(9));
  EXPECT_EQ(r.ping, kWaveOk);
  EXPECT_NEAR(r.arrival.offset, directLag(7.4, rig.settings.waveFormat), 10.0);
  EXPECT_GT(r.peakAmplitude, 1000u);
}

}  // namespace
