#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>

#include "app/distance_block.h"
#include "app/header_ranges.h"
#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "engine/buffer_plan.h"
#include "tests/app/app_fixture.h"

namespace {

// ---- the header and the byte image, without files ----

TEST(SonarHeader, DefaultSettingsGiveTheKnownSlotWords) {
  SonarSettings s;
  applyDefaultSettings(s);
  ScanState scan;
  scan.scanColumn = 200;  // 0xC8: a negative signed byte
  ScanHistory h;
  h.at(0, 2) = 1234;  // not a slot: left alone
  encodeHeader(s, scan, h);
  const std::vector<std::pair<uint32_t, int32_t>> expected{
      {0, 1},   {1, 0},   {2, 1234}, {3, 0},    {4, 48}, {7, 7},    {8, 208},  {10, 0},
      {11, 0},  {12, 31}, {13, 64},  {20, 0},   {21, 0}, {22, 46},  {23, 224}, {30, 2},
      {31, 88}, {34, 7},  {35, 208}, {37, 0},   {38, 2}, {40, -56}, {50, 4},   {51, 20},
      {53, 0},  {54, 0},  {100, 2},  {101, 16}, {102, 4}};
  for (const auto& [slot, value] : expected) EXPECT_EQ(h.at(0, slot), value) << "slot " << slot;
}

TEST(SonarHeader, BytesAreLittleEndianWordsAndAPartialWordFillsItsLowBytes) {
  ScanHistory h;
  h.values[0] = 0x01020304;
  h.values[1] = -2;
  EXPECT_EQ(historyBytes(h, 6), (std::vector<uint8_t>{4, 3, 2, 1, 0xFE, 0xFF}));
  EXPECT_EQ(historyBytes(h, 10'000'000).size(), kHistoryColumns * kHistoryRows * 4);

  ScanHistory loaded;
  loaded.values[5] = 99;  // cleared by the load
  const std::vector<uint8_t> bytes{4, 3, 2, 1, 0xFE, 0xFF};
  loadHistoryBytes(bytes, loaded);
  EXPECT_EQ(loaded.values[0], 0x01020304);
  EXPECT_EQ(loaded.values[1], 0xFFFE);
  EXPECT_EQ(loaded.values[5], 0);
}

struct SlotCase {
  const char* name;
  std::function<void(SonarSettings&)> set;
  std::function<int64_t(const SonarSettings&)> get;
  int64_t expected;
};

class SlotCutTest : public ::testing::TestWithParam<SlotCase> {};

TEST_P(SlotCutTest, ComesBackCutToItsSlots) {
  SonarSettings saved;
  applyDefaultSettings(saved);
  GetParam().set(saved);
  ScanState scan;
  ScanHistory h;
  encodeHeader(saved, scan, h);
  SonarSettings loaded;
  applyDefaultSettings(loaded);
  decodeHeader(h, loaded, scan);
  EXPECT_EQ(GetParam().get(loaded), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Slots, SlotCutTest,
    ::testing::Values(
        SlotCase{"startFrequencyKeepsFourBytes", [](SonarSettings& s) { s.startFrequency = 70000; },
                 [](const SonarSettings& s) { return s.startFrequency; }, 70000},
        SlotCase{"endFrequencyKeepsFourBytes",
                 [](SonarSettings& s) { s.endFrequency = 0x89ABCDEF; },
                 [](const SonarSettings& s) { return s.endFrequency; }, 0x89ABCDEF},
        SlotCase{"offsetKeepsTwoBytes", [](SonarSettings& s) { s.offsetBytes = 70000; },
                 [](const SonarSettings& s) { return s.offsetBytes; }, 4464},
        SlotCase{"recordTimeKeepsTwoBytes", [](SonarSettings& s) { s.recordTime = 65537; },
                 [](const SonarSettings& s) { return s.recordTime; }, 1},
        SlotCase{"deltaOffset", [](SonarSettings& s) { s.deltaOffsetBytes = 1234; },
                 [](const SonarSettings& s) { return s.deltaOffsetBytes; }, 1234},
        SlotCase{"tuneScale", [](SonarSettings& s) { s.tuneScale = 300; },
                 [](const SonarSettings& s) { return s.tuneScale; }, 300},
        SlotCase{"clockMultiplierOneByte", [](SonarSettings& s) { s.clockMultiplier = 300; },
                 [](const SonarSettings& s) { return s.clockMultiplier; }, 44},
        // Byte slots are written as signed bytes widened to 32 bits; they come back as the byte
        // that was saved, not as 4294967240.
        SlotCase{"clockMultiplierHighByte", [](SonarSettings& s) { s.clockMultiplier = 200; },
                 [](const SonarSettings& s) { return s.clockMultiplier; }, 200},
        SlotCase{"cutOffHighByte", [](SonarSettings& s) { s.cutOff = 200; },
                 [](const SonarSettings& s) { return s.cutOff; }, 200},
        SlotCase{"negativeCutOffKeepsItsByte", [](SonarSettings& s) { s.cutOff = -3; },
                 [](const SonarSettings& s) { return s.cutOff; }, 253},
        SlotCase{"gainHighByte", [](SonarSettings& s) { s.gain = 200; },
                 [](const SonarSettings& s) { return s.gain; }, 200},
        SlotCase{"gainSwitch", [](SonarSettings& s) { s.gainEnabled = 1; },
                 [](const SonarSettings& s) { return s.gainEnabled; }, 1},
        SlotCase{"medium", [](SonarSettings& s) { s.medium = kSteel; },
                 [](const SonarSettings& s) { return s.medium; }, kSteel},
        SlotCase{"displayMode", [](SonarSettings& s) { s.displayMode = 200; },
                 [](const SonarSettings& s) { return s.displayMode; }, 200},
        SlotCase{"monoEightBitFormat",
                 [](SonarSettings& s) {
                   s.waveFormat.channels = 1;
                   s.waveFormat.bitsPerSample = 8;
                 },
                 [](const SonarSettings& s) {
                   return s.waveFormat.blockAlign * 1000000 + s.waveFormat.avgBytesPerSec;
                 },
                 1 * 1000000 + 44100}),
    CaseName());

struct RateCase {
  const char* name;
  uint32_t savedRate;
  uint32_t loadedRate;  // the rate the loading program had before
  uint32_t expectedRate;
  int32_t code;  // slot 102 as saved
};

class RateCodeTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(RateCodeTest, KnownRatesTravelOthersKeepTheCurrentRate) {
  SonarSettings saved;
  applyDefaultSettings(saved);
  saved.waveFormat.samplesPerSec = GetParam().savedRate;
  saved.waveFormat.channels = 1;
  ScanState scan;
  ScanHistory h;
  h.at(0, 102) = 3;  // a code an earlier file left in the history
  encodeHeader(saved, scan, h);
  EXPECT_EQ(h.at(0, 102), GetParam().code);
  SonarSettings loaded;
  applyDefaultSettings(loaded);
  loaded.waveFormat.samplesPerSec = GetParam().loadedRate;
  decodeHeader(h, loaded, scan);
  EXPECT_EQ(loaded.waveFormat.samplesPerSec, GetParam().expectedRate);
  EXPECT_EQ(loaded.waveFormat.blockAlign, 2);  // one channel of 16 bits
  EXPECT_EQ(loaded.waveFormat.avgBytesPerSec, 2 * GetParam().expectedRate);
}

INSTANTIATE_TEST_SUITE_P(Rates, RateCodeTest,
                         ::testing::Values(RateCase{"r8000", 8000, 44100, 8000, 1},
                                           RateCase{"r11025", 11025, 44100, 11025, 2},
                                           RateCase{"r22050", 22050, 8000, 22050, 3},
                                           RateCase{"r44100", 44100, 8000, 44100, 4},
                                           RateCase{"r48000", 48000, 8000, 48000, 5},
                                           RateCase{"r96000", 96000, 44100, 96000, 6},
                                           // No code, and not the stale one of the history.
                                           RateCase{"unknownKeepsCurrent", 16000, 22050, 22050, 0}),
                         CaseName());

TEST(SonarHeader, UnknownRateCodeInTheFileKeepsTheCurrentRate) {
  ScanHistory h;
  h.at(0, 100) = 2;
  h.at(0, 101) = 8;
  h.at(0, 102) = 7;
  SonarSettings s;
  applyDefaultSettings(s);
  ScanState scan;
  decodeHeader(h, s, scan);
  EXPECT_EQ(s.waveFormat.samplesPerSec, 44100u);
  EXPECT_EQ(s.waveFormat.blockAlign, 2);
  EXPECT_EQ(s.waveFormat.avgBytesPerSec, 88200u);
}

// Channel and bit counts near 65535 make a product beyond 31 bits: it wraps to a negative word,
// and the signed division and 16-bit alignment follow from that, as for any other product.
TEST(SonarHeader, HugeChannelAndBitCountsWrapTheAlignment) {
  ScanHistory h;
  h.at(0, 100) = 0xFFE0;  // 65504 channels
  h.at(0, 101) = 0xFEFF;  // 65279 bits
  h.at(0, 102) = 4;
  SonarSettings s;
  ScanState scan;
  decodeHeader(h, s, scan);
  // 65504 * 65279 = 4276035616 wraps to -18931680; / 8 = -2366460; low 16 bits 58372.
  EXPECT_EQ(s.waveFormat.blockAlign, 58372);
  EXPECT_EQ(s.waveFormat.avgBytesPerSec, 58372u * 44100u);
}

// ---- the File commands through the shell ----

class FileCommandTest : public AppTest {
 protected:
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }

  void save(const std::string& file, FileKind kind) {
    shell.saveChoices.push_back(FileChoice{file, kind});
    ASSERT_TRUE(dispatchCommand(app, CommandId::kSave));
  }
  void open(const std::string& file, FileKind kind) {
    shell.openChoices.push_back(FileChoice{file, kind});
    ASSERT_TRUE(dispatchCommand(app, CommandId::kOpen));
  }
  static qint64 sizeOf(const std::string& file) {
    return QFileInfo(QString::fromStdString(file)).size();
  }
  static void writeBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
    QFile f(QString::fromStdString(file));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  }

  QTemporaryDir dir;
};

TEST_F(FileCommandTest, SonarFileRoundTripRestoresSettingsAndHistory) {
  neverHoldBack();
  for (int i = 0; i < 3; ++i) singleChirpStep(app);
  program.settings.startFrequency = 70000;
  program.settings.cutOff = 30;
  program.settings.gainEnabled = 1;
  program.history.at(178, 439) = 17;
  program.history.at(179, 39) = 0x12345678;  // the last whole word
  program.history.at(179, 40) = 0x12345678;  // only its low half travels
  const std::vector<int32_t> measured(program.history.values.begin() + 440,
                                      program.history.values.begin() + 5 * 440);
  program.history.at(357, 439) = -9;  // the last drawn column travels too
  const size_t block = distanceBlockBytes(program.measured).size();
  save(path("a.son"), FileKind::kSonar);
  EXPECT_EQ(sizeOf(path("a.son")), static_cast<qint64>(633600 + block));
  EXPECT_TRUE(shell.messages.empty());

  const SonarSettings saved = program.settings;
  program.settings.startFrequency = 1;
  program.settings.cutOff = 0;
  program.settings.gainEnabled = 0;
  std::fill(program.history.values.begin(), program.history.values.end(), 5);
  startSonar(app);
  shell.repaints = 0;
  open(path("a.son"), FileKind::kSonar);
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(program.settings.startFrequency, 70000u);
  EXPECT_EQ(program.settings.cutOff, 30);
  EXPECT_EQ(program.settings.gainEnabled, 1);
  EXPECT_EQ(program.settings.recordTime, saved.recordTime);
  EXPECT_EQ(program.settings.waveFormat.samplesPerSec, 44100u);
  EXPECT_TRUE(std::equal(measured.begin(), measured.end(), program.history.values.begin() + 440));
  EXPECT_EQ(program.history.at(178, 439), 17);
  EXPECT_EQ(program.history.at(179, 39), 0x12345678);
  EXPECT_EQ(program.history.at(179, 40), 0x12345678);
  EXPECT_EQ(program.history.at(357, 439), -9);
  EXPECT_EQ(scan().scanColumn, 0u);
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(shell.surfaceShows, 1);
  EXPECT_EQ(shell.repaints, 1);

  // The echogram stays on the surface through the repaint the load asked for.
  PlotSurface expected(kPlotClientWidth, kPlotClientHeight);
  drawEchogramFrame(expected, program.settings);
  replotHistory(expected, program.settings, program.history);
  drawStatusStrip(expected, program.settings, program.scan, program.scan.stylusPosition);
  paintPlot(app);
  EXPECT_EQ(surface.image(), expected.image());
}

TEST_F(FileCommandTest, ParameterFileWrites1756BytesAndReads878) {
  program.settings.offsetBytes = 1234;
  scan().scanColumn = 42;
  program.history.at(0, 219) = 0x0A0B0C0D;
  program.history.at(0, 220) = 99;
  program.history.at(3, 0) = 5;
  save(path("p.par"), FileKind::kParameters);
  EXPECT_EQ(sizeOf(path("p.par")), 1756);

  program.settings.offsetBytes = 1;
  scan().scanColumn = 7;
  open(path("p.par"), FileKind::kParameters);
  EXPECT_EQ(program.settings.offsetBytes, 1234u);
  EXPECT_EQ(scan().scanColumn, 42u);  // a parameter file brings its column
  EXPECT_EQ(program.history.at(0, 219), 0x0C0D);
  EXPECT_EQ(program.history.at(0, 220), 0);
  EXPECT_EQ(program.history.at(3, 0), 0);
  EXPECT_EQ(shell.surfaceShows, 0);
}

TEST_F(FileCommandTest, ParameterFileThroughTheSonarFilterIsReadAsASonarFile) {
  program.history.at(0, 300) = 77;  // beyond the header, inside the 1756 bytes
  save(path("p.par"), FileKind::kParameters);
  std::fill(program.history.values.begin(), program.history.values.end(), 0);
  open(path("p.par"), FileKind::kSonar);
  EXPECT_EQ(program.history.at(0, 300), 77);
  EXPECT_EQ(scan().scanColumn, 0u);
  EXPECT_EQ(shell.surfaceShows, 1);  // replotted
}

TEST_F(FileCommandTest, LoadedColumnIsBroughtIntoRange) {
  scan().scanColumn = 200;  // saved as the signed byte -56
  save(path("p.par"), FileKind::kParameters);
  open(path("p.par"), FileKind::kParameters);
  EXPECT_EQ(scan().scanColumn, kLastManualColumn);
  neverHoldBack();
  keyPressed(app, VirtualKey::kDown);
  EXPECT_EQ(scan().scanColumn, kLastManualColumn);
}

// A file of the layout that kept half the history opens as it always did: columns 0 to 178 and
// the low half of the word after them, the rest of the history empty.
TEST_F(FileCommandTest, TheShorterLayoutStillOpensAsBefore) {
  ScanHistory h;
  program.settings.tuneScale = 77;
  scan().scanColumn = 0;  // as the load leaves it, so both files carry the same header
  encodeHeader(program.settings, scan(), h);
  for (uint32_t c = 1; c < kHistoryColumns; ++c) h.at(c, 5) = static_cast<int32_t>(c);
  h.at(179, 40) = 0x12345678;
  writeBytes(path("old.son"), historyBytes(h, kShortSonarFileBytes));
  program.settings.tuneScale = 2;
  open(path("old.son"), FileKind::kSonar);
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(program.settings.tuneScale, 77u);
  EXPECT_EQ(program.history.at(178, 5), 178);
  EXPECT_EQ(program.history.at(179, 5), 179);
  EXPECT_EQ(program.history.at(179, 40), 0x5678);
  EXPECT_EQ(program.history.at(180, 5), 0);

  // What the shorter layout held is exactly the front of a file saved now.
  program.settings.tuneScale = 77;
  save(path("new.son"), FileKind::kSonar);
  QFile oldFile(QString::fromStdString(path("old.son")));
  QFile newFile(QString::fromStdString(path("new.son")));
  ASSERT_TRUE(oldFile.open(QIODevice::ReadOnly) && newFile.open(QIODevice::ReadOnly));
  const QByteArray oldBytes = oldFile.readAll();
  const QByteArray newBytes = newFile.readAll();
  ASSERT_EQ(newBytes.size(), 633600 + 12);  // the whole history, and a block of no columns
  EXPECT_EQ(newBytes.left(static_cast<qsizetype>(kShortSonarFileBytes - 2)),
            oldBytes.left(oldBytes.size() - 2));
}

struct RefusedCase {
  const char* name;
  std::function<void(SonarSettings&)> spoil;
};

class RefusedFileTest : public FileCommandTest,
                        public ::testing::WithParamInterface<RefusedCase> {};

// A header whose settings no dialog would give is refused with "Read failed!", and the settings
// and history stay as they were.
TEST_P(RefusedFileTest, LeavesSettingsAndHistoryAlone) {
  SonarSettings s = program.settings;
  GetParam().spoil(s);
  ScanHistory h;
  encodeHeader(s, scan(), h);
  writeBytes(path("bad.son"), historyBytes(h, kSonarFileBytes));
  writeBytes(path("bad.par"), historyBytes(h, kParameterFileWriteBytes));
  program.history.at(10, 10) = 3;
  program.settings.offsetBytes = 777;
  for (const auto& [file, kind] :
       {std::pair{"bad.son", FileKind::kSonar}, std::pair{"bad.par", FileKind::kParameters}}) {
    shell.messages.clear();
    open(path(file), kind);
    ASSERT_EQ(shell.messages.size(), 1u) << file;
    EXPECT_EQ(shell.messages[0].text.rfind("Read failed!\r\n", 0), 0u) << shell.messages[0].text;
    EXPECT_EQ(program.history.at(10, 10), 3);
    EXPECT_EQ(program.settings.offsetBytes, 777u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, RefusedFileTest,
    ::testing::Values(
        RefusedCase{"medium", [](SonarSettings& s) { s.medium = 9; }},
        RefusedCase{"offsetZero", [](SonarSettings& s) { s.offsetBytes = 0; }},
        RefusedCase{"offsetAbove32000", [](SonarSettings& s) { s.offsetBytes = 32001; }},
        RefusedCase{"deltaOffset", [](SonarSettings& s) { s.deltaOffsetBytes = 0; }},
        RefusedCase{"tuneScale", [](SonarSettings& s) { s.tuneScale = 10001; }},
        RefusedCase{"multiplierZero", [](SonarSettings& s) { s.clockMultiplier = 256; }},
        RefusedCase{"cutOffZero", [](SonarSettings& s) { s.cutOff = 0; }},
        RefusedCase{"gainSwitch", [](SonarSettings& s) { s.gainEnabled = 2; }},
        RefusedCase{"channels", [](SonarSettings& s) { s.waveFormat.channels = 3; }},
        RefusedCase{"bits", [](SonarSettings& s) { s.waveFormat.bitsPerSample = 12; }},
        RefusedCase{"recordTimeBeyondThePlan", [](SonarSettings& s) { s.recordTime = 3700; }}),
    CaseName());

struct DamagedWord {
  const char* name;
  uint32_t slot;
  uint32_t word;
  const char* reason;
};

class DamagedHeaderTest : public FileCommandTest,
                          public ::testing::WithParamInterface<DamagedWord> {};

// Words no version of Save writes: each is refused with the reason, not folded into a value.
TEST_P(DamagedHeaderTest, IsRefusedWithTheReason) {
  ScanHistory h;
  encodeHeader(program.settings, scan(), h);
  h.at(0, GetParam().slot) = static_cast<int32_t>(GetParam().word);
  if (GetParam().slot == 10) {  // all four bytes of the start frequency
    for (uint32_t slot = 11; slot <= 13; ++slot) h.at(0, slot) = 0xFF;
  }
  writeBytes(path("bad.son"), historyBytes(h, kSonarFileBytes));
  program.settings.offsetBytes = 777;
  open(path("bad.son"), FileKind::kSonar);
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].text, std::string("Read failed!\r\n") + GetParam().reason);
  EXPECT_EQ(program.settings.offsetBytes, 777u);
}

INSTANTIATE_TEST_SUITE_P(
    Words, DamagedHeaderTest,
    ::testing::Values(
        DamagedWord{"startFrequency", 10, 0xFF,
                    "the start frequency is 4294967295 Hz, not 0 to 1000000 Hz"},
        DamagedWord{"scanColumn", 40, 65535,
                    "header slot 40 (the scan column) holds 65535, which no version saves (a "
                    "byte, -128 to 127)"},
        DamagedWord{"displayMode", 1, 0xFFFFFFFF,
                    "header slot 1 (the display mode) holds -1, which no version saves (0 to "
                    "255)"},
        DamagedWord{"rateCode", 102, 255,
                    "the rate code is 255, not 1 to 6 (8000, 11025, 22050, 44100, 48000 or 96000 "
                    "Hz) or 0 (no rate saved)"},
        DamagedWord{"multiplierZero", 50, 0, "the clock interval multiplier is 0, not 1 to 255"},
        DamagedWord{"gainAboveAByte", 54, 256,
                    "header slot 54 (the gain) holds 256, which no version saves (a byte, -128 "
                    "to 127)"}),
    CaseName());

// Every end of every range survives its own file: saved as a parameter file and as a sonar file,
// opened again, the same value. The record and chirp times end where the buffer plan does.
TEST_F(FileCommandTest, EveryAcceptedExtremeComesBackFromItsFile) {
  const auto longestFitting = [](SonarSettings s, uint32_t SonarSettings::*time) {
    uint32_t low = 0, high = 65535;
    while (low < high) {
      const uint32_t mid = (low + high + 1) / 2;
      s.*time = mid;
      if (plannedLengths(s).fit()) {
        low = mid;
      } else {
        high = mid - 1;
      }
    }
    return low;
  };
  int checked = 0;
  for (const HeaderRange& range : headerRanges()) {
    std::vector<int64_t> values{range.min, range.max};
    if (range.field == "samplesPerSec") values.assign(kRatesByCode.begin(), kRatesByCode.end());
    for (const int64_t value : values) {
      for (const FileKind kind : {FileKind::kParameters, FileKind::kSonar}) {
        applyDefaultSettings(program.settings);
        shell.messages.clear();
        SonarSettings& s = program.settings;
        range.assign(s, value);
        if (range.field == "recordTime" && value == range.max) {
          s.recordTime = longestFitting(s, &SonarSettings::recordTime);
        }
        if (range.field == "chirpTime" && value == range.max) {
          s.chirpTime = longestFitting(s, &SonarSettings::chirpTime);
        }
        const SonarSettings saved = s;
        const std::string file = path(kind == FileKind::kSonar ? "x.son" : "x.par");
        save(file, kind);
        applyDefaultSettings(s);
        open(file, kind);
        ASSERT_TRUE(shell.messages.empty())
            << range.field << "=" << value << ": " << shell.messages[0].text;
        for (const HeaderRange& other : headerRanges()) {
          EXPECT_EQ(other.value(s), other.value(saved))
              << other.field << " after saving " << range.field << "=" << value;
        }
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 2 * (2 * static_cast<int>(headerRanges().size()) + 4));
}

TEST_F(FileCommandTest, AFileShorterThanItsHeaderIsRefused) {
  writeBytes(path("text.son"), {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'});
  SonarSettings s = program.settings;
  ScanHistory h;
  encodeHeader(s, scan(), h);
  writeBytes(path("cut.par"), historyBytes(h, kHeaderBytes - 1));
  program.settings.recordTime = 99;
  for (const auto& [file, kind] :
       {std::pair{"text.son", FileKind::kSonar}, std::pair{"cut.par", FileKind::kParameters}}) {
    shell.messages.clear();
    open(path(file), kind);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find("fewer than the 412 of its header"), std::string::npos)
        << shell.messages[0].text;
    EXPECT_EQ(program.settings.recordTime, 99u);
  }
  writeBytes(path("whole.par"), historyBytes(h, kHeaderBytes));
  shell.messages.clear();
  open(path("whole.par"), FileKind::kParameters);
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(program.settings.recordTime, 48u);
}

// The values the dialogs never give but a file has always carried still load: a start frequency
// of 70000 Hz, an offset cut to 4464, a rate code the program does not know, and a multiplier,
// cut-off and gain of 200.
TEST_F(FileCommandTest, ValuesFilesAlwaysCarriedStillLoad) {
  program.settings.startFrequency = 70000;
  program.settings.offsetBytes = 70000;
  program.settings.clockMultiplier = 200;
  program.settings.cutOff = 200;
  program.settings.gain = 200;
  save(path("p.par"), FileKind::kParameters);
  applyDefaultSettings(program.settings);
  open(path("p.par"), FileKind::kParameters);
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(program.settings.startFrequency, 70000u);
  EXPECT_EQ(program.settings.offsetBytes, 4464u);
  EXPECT_EQ(program.settings.clockMultiplier, 200u);
  EXPECT_EQ(program.settings.cutOff, 200);
  EXPECT_EQ(program.settings.gain, 200);
}

TEST_F(FileCommandTest, CancelledOpenKeepsTheSweepButStopsTheRun) {
  program.history.at(10, 10) = 3;
  program.settings.offsetBytes = 777;
  startSonar(app);
  shell.openChoices.push_back(std::nullopt);
  ASSERT_TRUE(dispatchCommand(app, CommandId::kOpen));
  EXPECT_EQ(program.history.at(10, 10), 3);
  EXPECT_EQ(program.settings.offsetBytes, 777u);
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_TRUE(shell.messages.empty());
}

TEST_F(FileCommandTest, FailedOpenReportsAndChangesNothing) {
  program.history.at(10, 10) = 3;
  program.settings.offsetBytes = 777;
  open(path("missing.son"), FileKind::kSonar);
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(shell.messages[0].text,
            "I can't open the file!\r\n" + path("missing.son") + ": No such file or directory");
  EXPECT_EQ(shell.messages[1].text, "Read failed!");
  for (const FakeShell::Message& m : shell.messages) {
    EXPECT_EQ(m.caption, "");
    EXPECT_EQ(m.icon, MessageIcon::kStop);
    EXPECT_EQ(m.owner, MessageOwner::kMainWindow);
  }
  EXPECT_EQ(program.history.at(10, 10), 3);
  EXPECT_EQ(program.settings.offsetBytes, 777u);

  shell.messages.clear();
  open(dir.path().toStdString(), FileKind::kSonar);  // a folder cannot be read as a file
  EXPECT_FALSE(shell.messages.empty());
  EXPECT_EQ(program.settings.offsetBytes, 777u);
}

TEST_F(FileCommandTest, FailedSaveLeavesNoFile) {
  const std::string target = path("no/such/folder/a.son");
  save(target, FileKind::kSonar);
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(shell.messages[0].text.rfind("cos nie tak\r\ncannot create a file in ", 0), 0u);
  EXPECT_NE(shell.messages[0].text.find("No such file or directory"), std::string::npos);
  EXPECT_EQ(shell.messages[1].text, "Save failed!");
  EXPECT_EQ(shell.messages[1].icon, MessageIcon::kStop);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(target)));
  EXPECT_EQ(program.history.at(0, 4), 48);  // the header was encoded all the same
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 0);
}

TEST_F(FileCommandTest, CancelledSaveWritesNothing) {
  shell.saveChoices.push_back(std::nullopt);
  ASSERT_TRUE(dispatchCommand(app, CommandId::kSave));
  EXPECT_EQ(program.history.at(0, 4), 0);
  EXPECT_TRUE(shell.messages.empty());
}

// Files that bring such settings are refused now, but the command line can still set them.
TEST_F(FileCommandTest, WildSettingsNeverReachPastTheBuffers) {
  SonarSettings& wild = program.settings;
  wild.offsetBytes = 65535;
  wild.recordTime = 65535;
  wild.chirpTime = 65535;
  wild.deltaOffsetBytes = 0;
  wild.medium = 9;
  wild.cutOff = -128;
  scan().scanColumn = kLastManualColumn;
  // No new plan: the buffers are the default plan's. Under the sanitizers this catches any read
  // past them.
  keyPressed(app, VirtualKey::kEnter);
  keyPressed(app, VirtualKey::kDown);
  paintPlot(app);
  ASSERT_TRUE(dispatchCommand(app, CommandId::kInfo));
  ASSERT_TRUE(dispatchCommand(app, CommandId::kReplot));
  program.settings.clockMultiplier = 0;
  startSonar(app);
  tick(3);
  paintPlot(app);
  EXPECT_LE(scan().scanColumn, kLastManualColumn);
}

}  // namespace
