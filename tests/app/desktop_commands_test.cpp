#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <clocale>

#include "app/distance_table.h"
#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "app/status_text.h"
#include "tests/app/app_fixture.h"
#include "tests/io/file_limit.h"

// The desktop's additions to the commands: nothing measured is lost without a question, the
// picture and the distances can be exported, and the status texts.

namespace {

class UnsavedSweepTest : public AppTest {
 protected:
  void measure(int pings) {
    ASSERT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
    program.settings.clockMultiplier = 0;
    tick(pings);
    ASSERT_TRUE(dispatchCommand(app, CommandId::kPauseSonar));
  }
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  QTemporaryDir dir;
};

TEST_F(UnsavedSweepTest, NothingMeasuredMeansNoQuestion) {
  ASSERT_TRUE(dispatchCommand(app, CommandId::kExit));
  EXPECT_EQ(shell.saveQuestions, 0);
  EXPECT_EQ(shell.closes, 1);
}

TEST_F(UnsavedSweepTest, ExitAsksAndCancelKeepsTheWindowAndTheSweep) {
  measure(3);
  EXPECT_TRUE(program.sweepUnsaved);
  shell.saveChoice = SaveChoice::kCancel;
  ASSERT_TRUE(dispatchCommand(app, CommandId::kExit));
  EXPECT_EQ(shell.saveQuestions, 1);
  EXPECT_EQ(shell.closes, 0);
  EXPECT_TRUE(program.sweepUnsaved);

  shell.saveChoice = SaveChoice::kDiscard;
  ASSERT_TRUE(dispatchCommand(app, CommandId::kExit));
  EXPECT_EQ(shell.closes, 1);
}

TEST_F(UnsavedSweepTest, SaveAtTheQuestionWritesASonarFileThenCloses) {
  measure(3);
  shell.saveChoice = SaveChoice::kSave;
  // Whatever filter the dialog was on, the sweep goes into a sonar file.
  shell.saveChoices.push_back(FileChoice{path("kept.son"), FileKind::kParameters});
  ASSERT_TRUE(dispatchCommand(app, CommandId::kExit));
  EXPECT_EQ(shell.closes, 1);
  EXPECT_FALSE(program.sweepUnsaved);
  QFile kept(dir.filePath("kept.son"));
  EXPECT_GE(kept.size(), static_cast<qint64>(kSonarFileBytes));

  // A save dialog that is cancelled keeps the window.
  measure(1);
  shell.saveChoices.push_back(std::nullopt);
  ASSERT_TRUE(dispatchCommand(app, CommandId::kExit));
  EXPECT_EQ(shell.closes, 1);
  EXPECT_TRUE(program.sweepUnsaved);
}

TEST_F(UnsavedSweepTest, OpenAsksFirstAndCancelOpensNothing) {
  measure(2);
  const uint32_t column = scan().scanColumn;
  shell.saveChoice = SaveChoice::kCancel;
  shell.openChoices.push_back(FileChoice{path("other.son"), FileKind::kSonar});
  ASSERT_TRUE(dispatchCommand(app, CommandId::kOpen));
  EXPECT_EQ(shell.saveQuestions, 1);
  EXPECT_EQ(shell.openChoices.size(), 1u) << "the file dialog did not open";
  EXPECT_EQ(scan().scanColumn, column);
  EXPECT_TRUE(shell.messages.empty());
}

// Only a sonar file keeps the sweep: after a parameter file, the question still comes; after a
// sonar file it does not, until the next ping.
TEST_F(UnsavedSweepTest, OnlyASonarFileSavesTheSweep) {
  measure(2);
  shell.saveChoices.push_back(FileChoice{path("p.par"), FileKind::kParameters});
  ASSERT_TRUE(dispatchCommand(app, CommandId::kSave));
  EXPECT_TRUE(program.sweepUnsaved);
  shell.saveChoices.push_back(FileChoice{path("s.son"), FileKind::kSonar});
  ASSERT_TRUE(dispatchCommand(app, CommandId::kSave));
  EXPECT_FALSE(program.sweepUnsaved);
  keyPressed(app, VirtualKey::kEnter);
  EXPECT_TRUE(program.sweepUnsaved) << "a manual step measures too";
  ASSERT_TRUE(dispatchCommand(app, CommandId::kClearScreen));
  EXPECT_FALSE(program.sweepUnsaved) << "Clear screen leaves nothing to lose";
}

TEST_F(UnsavedSweepTest, ExportsWriteThePictureAndTheDistancesOfEveryStoredColumn) {
  measure(4);  // columns 2 to 5 (a fresh start sits at column 1)
  shell.exportPath = path("e.png");
  ASSERT_TRUE(dispatchCommand(app, CommandId::kExportPicture));
  QImage picture(dir.filePath("e.png"));
  EXPECT_EQ(picture.size(), QSize(kPlotClientWidth + 1, kPlotClientHeight + 1));
  EXPECT_EQ(picture.pixel(100, 100), surface.image().pixel(100, 100));

  shell.exportPath = path("d.csv");
  ASSERT_TRUE(dispatchCommand(app, CommandId::kExportDistances));
  EXPECT_EQ(shell.exportKinds, (std::vector{ExportKind::kPicture, ExportKind::kDistances}));
  QFile csv(dir.filePath("d.csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll().toStdString(), distanceTableCsv(program));
  const std::string table = distanceTableCsv(program);
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 5);
  EXPECT_TRUE(shell.messages.empty());
}

// An export that cannot be written says so with its reason, and whatever was at the target
// stays as it was: a missing folder, a FIFO (never opened, so nothing waits on a reader), a disk
// that fills up halfway through the picture or the table.
TEST_F(UnsavedSweepTest, ExportsThatCannotBeWrittenAreToldAndKeepThePreviousFile) {
  measure(4);
  const auto exportTo = [this](CommandId command, const std::string& target) {
    shell.messages.clear();
    shell.exportPath = target;
    EXPECT_TRUE(dispatchCommand(app, command));
    EXPECT_EQ(shell.captions(), std::vector<std::string>{""}) << target;
    return shell.messages.empty() ? std::string() : shell.messages.front().text;
  };
  EXPECT_EQ(exportTo(CommandId::kExportDistances, path("no/such/folder/d.csv"))
                .rfind("Save failed!\r\n", 0),
            0u);
  EXPECT_FALSE(QFile::exists(dir.filePath("no/such/folder/d.csv")));

  ASSERT_EQ(mkfifo(path("fifo.png").c_str(), 0600), 0);
  for (const CommandId command : {CommandId::kExportPicture, CommandId::kExportDistances}) {
    const std::string told = exportTo(command, path("fifo.png"));
    EXPECT_NE(told.find("is a FIFO, not a regular file"), std::string::npos) << told;
  }
  struct stat st {};
  ASSERT_EQ(lstat(path("fifo.png").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  ASSERT_GT(distanceTableCsv(program).size(), 100u);
  for (const char* name : {"full.png", "full.csv"}) {
    {
      QFile previous(dir.filePath(name));
      ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
      previous.write("previous");
    }
    const bool picture = QString(name).endsWith(".png");
    std::string told;
    {
      const FileSizeLimit full(100);
      told =
          exportTo(picture ? CommandId::kExportPicture : CommandId::kExportDistances, path(name));
    }
    EXPECT_EQ(told.rfind("Save failed!\r\n", 0), 0u) << told;
    EXPECT_NE(told.find("File too large"), std::string::npos) << told;
    QFile kept(dir.filePath(name));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("previous")) << name;
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
            (QStringList{"fifo.png", "full.csv", "full.png"}))
      << "no temporary file is left behind";
}

TEST(DistanceTable, RowsFollowTheStoredColumnsAndTheirEchoes) {
  Program program;
  applyDefaultSettings(program.settings);
  // Lags at 44.1 kHz in air (337.6 m/s): 2 * 44100 / 337.6 lags a metre.
  const double lagsPerMetre = 2.0 * 44100 / 337.6;
  program.measured[3] = columnMeasurement(
      program.settings, 652, {0.8004 * lagsPerMetre, 1.8996 * lagsPerMetre, 2.5 * lagsPerMetre});
  program.measured[1] = columnMeasurement(program.settings, 600, {});
  EXPECT_EQ(distanceTableCsv(program),
            "column,found_offset_bytes,echo_1_m,echo_2_m,echo_3_m,echo_4_m,echo_5_m,echo_6_m,"
            "echo_7_m\n"
            "1,600\n"
            "3,652,0.800,1.900,2.500\n");
}

struct FixedCase {
  double value;
  int decimals;
  const char* text;
};

TEST(DistanceTable, NumbersHaveAPointAndNoMinusZeroWhateverTheLocale) {
  // A locale with a decimal comma where the system has one; the text must not follow it.
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  for (const FixedCase& c : {FixedCase{0.8, 3, "0.800"}, FixedCase{1.2345, 3, "1.235"},
                             FixedCase{12.0, 1, "12.0"}, FixedCase{-0.0004, 3, "0.000"},
                             FixedCase{-2.5, 2, "-2.50"}, FixedCase{1234567.891, 2, "1234567.89"},
                             FixedCase{0.05, 0, "0"}, FixedCase{1e300, 3, "nan"}}) {
    EXPECT_EQ(fixedPointText(c.value, c.decimals), c.text) << c.value;
  }
  std::setlocale(LC_NUMERIC, "C");
}

TEST_F(UnsavedSweepTest, StatusTextsFollowTheRun) {
  EXPECT_EQ(runStatusText(program, 0.0), "No echo | Paused");
  measure(2);
  EXPECT_EQ(nearestEchoText(program), "Nearest echo 0.800 m");
  ASSERT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
  EXPECT_EQ(runStatusText(program, 7.96), "Nearest echo 0.800 m | Running | 8.0 pings/s");
  program.settings.clockMultiplier = 0;
  tick(400);
  EXPECT_EQ(runStateText(scan()), "Sweep complete");
  stylusMoved(app, 0, 130);
  // Air, record time 48 ms, chirp 2000 us, tune scale 2: (46e-3 * 337.6 / 980) * 1.02 * 100.
  EXPECT_EQ(pointerReadingText(program), "Pointer row: 1.62 m");
}

}  // namespace
