#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <sstream>

#include "app/distance_block.h"
#include "app/distance_table.h"
#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "tests/app/app_fixture.h"

// The distances travel with a sonar file, are read back at the speed in use, and a file that
// cannot give them (an older layout, one cut short, a damaged block) opens with a word about it.

namespace {

// The table's rows as numbers: column, then the echo distances [m].
std::vector<std::vector<double>> rowsOf(const std::string& csv) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(csv);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#' || line[0] == 'c') continue;
    std::vector<double> row;
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; std::getline(fields, field, ','); ++i) {
      if (i != 1) row.push_back(std::stod(field));  // the found offset is not a distance
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<uint8_t> bytesOf(const std::string& file) {
  QFile f(QString::fromStdString(file));
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray all = f.readAll();
  return {all.begin(), all.end()};
}

void writeBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
  QFile f(QString::fromStdString(file));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

TEST(DistanceBlock, IsLaidOutAsAgreedAndReadsBack) {
  std::array<ColumnMeasurement, kHistoryColumns> measured{};
  measured[2] = ColumnMeasurement{true, 652, {10.5, 300.25}, 44100};
  // Written out by hand: magic, version 1, three columns (0 to 2), columns 0 and 1 empty.
  const std::vector<uint8_t> expected{'M',  'V',  'D', 'B', 1, 0,    0,    0,
                                      3,    0,    0,   0,       // head
                                      0,    0,    0,   0,   0,  // column 0
                                      0,    0,    0,   0,   0,  // column 1
                                      0x8C, 0x02, 0,   0,   2,  // column 2: offset 652, 2 echoes
                                      0,    0,    0,   0,   0, 0,    0x25, 0x40,   // 10.5
                                      0,    0,    0,   0,   0, 0xC4, 0x72, 0x40};  // 300.25
  EXPECT_EQ(distanceBlockBytes(measured), expected);

  std::array<ColumnMeasurement, kHistoryColumns> read{};
  ASSERT_EQ(readDistanceBlock(expected, 22050, read), "");
  EXPECT_FALSE(read[0].stored);
  EXPECT_FALSE(read[1].stored);
  EXPECT_TRUE(read[2].stored);
  EXPECT_EQ(read[2].foundOffset, 652u);
  EXPECT_EQ(read[2].lags[0], 10.5);
  EXPECT_EQ(read[2].lags[1], 300.25);
  EXPECT_EQ(read[2].lags[2], 0.0);
  EXPECT_EQ(read[2].samplesPerSec, 22050u);
}

class DistanceFileTest : public AppTest {
 protected:
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  void measure(int pings) {
    neverHoldBack();
    for (int i = 0; i < pings; ++i) singleChirpStep(app);
  }
  void save(const std::string& file, FileKind kind = FileKind::kSonar) {
    shell.saveChoices.push_back(FileChoice{file, kind});
    ASSERT_TRUE(dispatchCommand(app, CommandId::kSave));
  }
  void open(const std::string& file, FileKind kind = FileKind::kSonar) {
    shell.openChoices.push_back(FileChoice{file, kind});
    ASSERT_TRUE(dispatchCommand(app, CommandId::kOpen));
  }
  // Export distances: the table written, or the message given instead.
  std::string exportDistances() {
    const std::string file = path("d.csv");
    QFile::remove(QString::fromStdString(file));
    shell.exportPath = file;
    EXPECT_TRUE(dispatchCommand(app, CommandId::kExportDistances));
    const std::vector<uint8_t> bytes = bytesOf(file);
    return std::string(bytes.begin(), bytes.end());
  }
  QTemporaryDir dir;
};

// The default room has reflectors at 0.80 and 1.90 m; a reopened sweep reads them where the live
// one did, to the millimetre, and where they are.
TEST_F(DistanceFileTest, AReopenedSweepExportsTheDistancesItWasMeasuredWith) {
  measure(6);
  const std::string live = exportDistances();
  ASSERT_EQ(rowsOf(live).size(), 6u) << live;
  save(path("a.son"));
  EXPECT_GT(bytesOf(path("a.son")).size(), kSonarFileBytes);

  ASSERT_TRUE(dispatchCommand(app, CommandId::kClearScreen));
  EXPECT_EQ(exportDistances(), "");
  shell.messages.clear();
  open(path("a.son"));
  EXPECT_TRUE(shell.messages.empty()) << shell.messages[0].text;
  EXPECT_EQ(exportDistances(), live);
  for (const std::vector<double>& row : rowsOf(live)) {
    ASSERT_GE(row.size(), 2u);
    EXPECT_NEAR(row[1], 0.80, 0.001) << "column " << row[0];
  }
}

// Lags, not metres: the same sweep saved with and without a calibration gives the same bytes,
// and the table follows the speed and calibration in use when it is exported.
TEST_F(DistanceFileTest, TheTableFollowsTheSpeedInUseAndTheFileDoesNot) {
  measure(4);
  save(path("plain.son"));
  program.settings.calibration.offsetMetres = 0.05;
  program.settings.calibration.temperatureC = 30.0;
  save(path("calibrated.son"));
  EXPECT_EQ(bytesOf(path("plain.son")), bytesOf(path("calibrated.son")));
  program.settings.calibration = Calibration{};

  open(path("plain.son"));
  const auto air = rowsOf(exportDistances());
  program.settings.calibration.offsetMetres = 0.05;
  const auto shifted = rowsOf(exportDistances());
  program.settings.calibration = Calibration{};
  program.settings.medium = kWater;
  const auto water = rowsOf(exportDistances());
  ASSERT_EQ(air.size(), 4u);
  ASSERT_EQ(shifted.size(), 4u);
  ASSERT_EQ(water.size(), 4u);
  // The same echo time in water: the 0.80 m reflector of the air reads 0.80 * c_water / c_air,
  // within the millimetre the air reading has, stretched as much.
  const double ratio = speedOfSound(kWater) / speedOfSound(kAir);
  for (size_t r = 0; r < air.size(); ++r) {
    EXPECT_NEAR(shifted[r][1] - air[r][1], 0.050, 0.0011);
    EXPECT_NEAR(water[r][1], 0.80 * ratio, 0.001 * ratio);
  }
}

TEST_F(DistanceFileTest, FilesWithoutDistancesSaySoAtExport) {
  ScanHistory h;
  encodeHeader(program.settings, scan(), h);
  h.at(5, 10) = 400;
  struct Layout {
    const char* name;
    size_t bytes;
    const char* reason;
  };
  for (const Layout& layout :
       {Layout{"old.son", kShortSonarFileBytes, "the older, shorter layout"},
        Layout{"whole.son", kSonarFileBytes, "saved without them, by an earlier version"}}) {
    writeBytes(path(layout.name), historyBytes(h, layout.bytes));
    shell.messages.clear();
    open(path(layout.name));
    EXPECT_TRUE(shell.messages.empty()) << layout.name;
    EXPECT_EQ(program.history.at(5, 10), 400);
    shell.exportKinds.clear();
    EXPECT_EQ(exportDistances(), "") << "no table of a header alone";
    EXPECT_TRUE(shell.exportKinds.empty()) << "no file dialog for nothing";
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].caption, "Export distances");
    EXPECT_NE(shell.messages[0].text.find("holds no distances"), std::string::npos);
    EXPECT_NE(shell.messages[0].text.find(layout.reason), std::string::npos)
        << shell.messages[0].text;
  }
  // Nothing measured since the start says so too.
  ASSERT_TRUE(dispatchCommand(app, CommandId::kClearScreen));
  shell.messages.clear();
  EXPECT_EQ(exportDistances(), "");
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_NE(shell.messages[0].text.find("no column has been measured"), std::string::npos);
}

struct DamagedBlock {
  const char* name;
  std::function<void(std::vector<uint8_t>& block)> spoil;
  const char* reason;
};

class DamagedBlockTest : public DistanceFileTest,
                         public ::testing::WithParamInterface<DamagedBlock> {};

// A block that does not read costs the distances, never the echogram: Open goes through and
// says why the distances are left out.
TEST_P(DamagedBlockTest, OpensTheEchogramAndTellsWhy) {
  measure(3);
  save(path("good.son"));
  std::vector<uint8_t> bytes = bytesOf(path("good.son"));
  std::vector<uint8_t> block(bytes.begin() + kSonarFileBytes, bytes.end());
  GetParam().spoil(block);
  bytes.resize(kSonarFileBytes);
  bytes.insert(bytes.end(), block.begin(), block.end());
  writeBytes(path("bad.son"), bytes);
  const std::vector<int32_t> history = program.history.values;

  ASSERT_TRUE(dispatchCommand(app, CommandId::kClearScreen));
  shell.messages.clear();
  open(path("bad.son"));
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].icon, MessageIcon::kInformation);
  EXPECT_NE(shell.messages[0].text.find(GetParam().reason), std::string::npos)
      << shell.messages[0].text;
  EXPECT_TRUE(std::equal(history.begin() + kHistoryRows, history.end(),
                         program.history.values.begin() + kHistoryRows));
  shell.messages.clear();
  EXPECT_EQ(exportDistances(), "");
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_NE(shell.messages[0].text.find(GetParam().reason), std::string::npos)
      << shell.messages[0].text;
}

// Column 1's entry (empty): its echo count becomes 1, and a lag of NaN follows.
void giveColumnOneALagOfNaN(std::vector<uint8_t>& b) {
  const size_t entry = kDistanceBlockHeadBytes + kDistanceEntryBytes;
  b[entry + 4] = 1;
  const uint8_t nan[8] = {0, 0, 0, 0, 0, 0, 0xF8, 0x7F};
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(entry + 5), nan, nan + 8);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, DamagedBlockTest,
    ::testing::Values(
        DamagedBlock{"cutShort", [](std::vector<uint8_t>& b) { b.pop_back(); }, "cut short"},
        DamagedBlock{"headOnly", [](std::vector<uint8_t>& b) { b.resize(6); }, "cut short"},
        DamagedBlock{"notABlock", [](std::vector<uint8_t>& b) { b[0] = 'X'; },
                     "not a distance block"},
        DamagedBlock{"laterVersion", [](std::vector<uint8_t>& b) { b[4] = 2; }, "version 2"},
        DamagedBlock{"tooManyColumns",
                     [](std::vector<uint8_t>& b) {
                       b[8] = 0x69;  // 361
                       b[9] = 0x01;
                     },
                     "361 columns"},
        DamagedBlock{"eightEchoes",
                     [](std::vector<uint8_t>& b) {
                       b[kDistanceBlockHeadBytes + 4] = 8;  // column 0's echo count
                     },
                     "8 echoes"},
        DamagedBlock{"moreAfterIt", [](std::vector<uint8_t>& b) { b.push_back(0); },
                     "1 bytes after its last column"},
        DamagedBlock{"lagNotANumber", giveColumnOneALagOfNaN, "hold a lag of"}),
    CaseName());

// A file longer than its header and shorter than a whole layout opens with a note of how much it
// holds; it is still listed among the recent files.
TEST_F(DistanceFileTest, AShortFileOpensWithANoteOfWhatItHolds) {
  ScanHistory h;
  encodeHeader(program.settings, scan(), h);
  for (uint32_t c = 1; c < kHistoryColumns; ++c) h.at(c, 200) = 300;
  struct Short {
    size_t bytes;
    const char* note;
  };
  for (const Short& s :
       {Short{1000, "The file has 1000 bytes: it holds 0 whole columns of the 360"},
        Short{400000,
              "The file has 400000 bytes: it holds 227 whole columns of "
              "the 360 a whole sonar file holds (633600 bytes)"}}) {
    writeBytes(path("short.son"), historyBytes(h, s.bytes));
    shell.messages.clear();
    open(path("short.son"));
    ASSERT_GE(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text.rfind(s.note, 0), 0u) << shell.messages[0].text;
    EXPECT_EQ(shell.messages[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(scan().scanColumn, 0u);  // opened as a sonar file
  }
  EXPECT_EQ(program.history.at(226, 200), 300);
  EXPECT_EQ(program.history.at(227, 200), 0);
}

}  // namespace
