#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <sstream>

#include "app/distance_table.h"
#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "audio/measurement.h"
#include "cli/cli.h"
#include "engine/buffer_plan.h"
#include "tests/app/app_fixture.h"
#include "tests/cli/cli_result.h"

namespace {

class CliCommandTest : public ::testing::Test {
 protected:
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  static bool exists(const std::string& file) {
    return QFileInfo::exists(QString::fromStdString(file));
  }
  QTemporaryDir dir;
};

// The sweep the command line runs, started in-process: the same start, the same room, then the
// same ticks with a repaint after each.
struct InProcessSweep {
  InProcessSweep() {
    applyResetValues(program.settings, program.scan);
    planBuffers(program.settings);
    program.backend = makeRoom();
    openPairForPlan(program.settings, program.pair, *program.backend);
    paintPlot(app);
    dispatchCommand(app, CommandId::kStartSonar);
  }
  Program program;
  FakeShell shell;
  PlotSurface surface{kPlotClientWidth, kPlotClientHeight};
  App app{program, shell, surface};
};

// The command line's sweep step by step in-process, then Save and Replot.
QImage replotOfTheSameSweep(const std::string& savePath, uint32_t columns) {
  InProcessSweep sweep;
  while (sweep.program.scan.latestScan < columns + 1) timerTick(sweep.app);
  saveChosenFile(sweep.app, FileChoice{savePath, FileKind::kSonar});
  dispatchCommand(sweep.app, CommandId::kReplot);
  return sweep.surface.image();
}

TEST_F(CliCommandTest, SweepSavesAFileThatRendersAsTheSweepsReplot) {
  const CliResult sweep =
      cli({"sweep", "--columns", "20", "--save", path("s.son"), "--png", path("e.png"), "--json"});
  ASSERT_EQ(sweep.code, 0) << sweep.err;
  EXPECT_NE(sweep.out.find("\"columns\":20"), std::string::npos) << sweep.out;
  // The whole history, then the distances of column 0 (empty) to 21 (the sweep's last).
  EXPECT_GT(QFileInfo(QString::fromStdString(path("s.son"))).size(), 633600 + 12 + 22 * 5);
  const QImage live(QString::fromStdString(path("e.png")));
  EXPECT_EQ(live.size(), QSize(491, 512));

  const CliResult render = cli({"render", path("s.son"), "--png", path("r.png"), "--json"});
  ASSERT_EQ(render.code, 0) << render.err;
  EXPECT_EQ(render.out, "{\"columns\":20,\"scanColumn\":0}\n");
  const QImage rendered =
      QImage(QString::fromStdString(path("r.png"))).convertToFormat(QImage::Format_RGB32);
  const QImage expected =
      replotOfTheSameSweep(path("again.son"), 20).convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(rendered, expected);
}

// The name decides the kind, as with --load: a parameter file is the settings alone, and loading
// it gives the sweep's settings back.
TEST_F(CliCommandTest, SweepSavesAParameterFileByItsName) {
  const CliResult sweep =
      cli({"sweep", "--columns", "2", "--set", "chirpTime=3000", "--save", path("p.PAR")});
  ASSERT_EQ(sweep.code, 0) << sweep.err;
  EXPECT_EQ(QFileInfo(QString::fromStdString(path("p.PAR"))).size(), 1756);
  const CliResult settings = cli({"--load", path("p.PAR"), "settings", "--json"});
  ASSERT_EQ(settings.code, 0) << settings.err;
  EXPECT_NE(settings.out.find("\"chirpTime\":3000"), std::string::npos) << settings.out;
}

TEST_F(CliCommandTest, SweepRunsToTheEndOfTheSweepByDefault) {
  const CliResult sweep = cli({"sweep"});
  ASSERT_EQ(sweep.code, 0) << sweep.err;
  EXPECT_EQ(sweep.out.rfind("sweep: 348 columns, last offset ", 0), 0u) << sweep.out;
}

TEST_F(CliCommandTest, AFailedSaveWritesNoFileAndNoPicture) {
  const CliResult sweep =
      cli({"sweep", "--columns", "2", "--save", path("missing/s.son"), "--png", path("e.png")});
  EXPECT_EQ(sweep.code, 1);
  EXPECT_NE(sweep.err.find("Save failed!"), std::string::npos) << sweep.err;
  EXPECT_FALSE(exists(path("e.png")));
}

TEST_F(CliCommandTest, SearchOffsetFindsTheRoomsLatency) {
  const CliResult r = cli({"--room", "latency=5", "--json", "search-offset"});
  ASSERT_EQ(r.code, 0) << r.err;
  // 5 ms at 44100 Hz are 441 values of the stereo recording.
  const auto at = r.out.find("\"result\":");
  ASSERT_NE(at, std::string::npos) << r.out;
  const int result = std::stoi(r.out.substr(at + 9));
  EXPECT_NEAR(result, 441, 12);
  EXPECT_NE(r.out.find("\"offsetBytes\":" + std::to_string(result - result / 10)),
            std::string::npos);
  EXPECT_NE(r.out.find("\"strong\":true"), std::string::npos);
  EXPECT_NE(r.out.find("\"message\":\"The found offset is: " + std::to_string(result) + " bytes"),
            std::string::npos);
}

struct BadCase {
  const char* name;
  std::vector<std::string> words;
  int code;
};

class CliBadInputTest : public CliCommandTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(CliBadInputTest, EndsWithoutOutputFiles) {
  std::vector<std::string> words = GetParam().words;
  for (std::string& w : words) {
    if (w.rfind("@", 0) == 0) w = path(w.c_str() + 1);
  }
  const CliResult r = cli(words);
  EXPECT_EQ(r.code, GetParam().code) << r.err;
  EXPECT_FALSE(r.err.empty());
  EXPECT_FALSE(exists(path("out.png")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliBadInputTest,
    ::testing::Values(BadCase{"loadOtherExtension", {"--load", "@a.txt", "settings"}, 2},
                      BadCase{"loadMissingSonarFile", {"--load", "@none.son", "settings"}, 2},
                      BadCase{"renderMissingFile", {"render", "@none.son", "--png", "@out.png"}, 2},
                      BadCase{"renderWithoutPicture", {"render", "@none.son"}, 2},
                      BadCase{"sweepBadColumns", {"sweep", "--columns", "0"}, 2},
                      BadCase{"searchOffsetArgument", {"search-offset", "now"}, 2}),
    CaseName());

TEST_F(CliCommandTest, LoadedParameterFileSetsTheSettingsBeforeSet) {
  {
    Program program;
    applyResetValues(program.settings, program.scan);
    program.settings.offsetBytes = 1234;
    program.settings.cutOff = 7;
    FakeShell shell;
    PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
    App app{program, shell, surface};
    ASSERT_EQ(saveChosenFile(app, FileChoice{path("p.par"), FileKind::kParameters}),
              FileOutcome::kDone);
  }
  const CliResult r = cli({"--load", path("p.par"), "--set", "cutOff=9", "--json", "settings"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"offsetBytes\":1234"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"cutOff\":9"), std::string::npos) << r.out;
}

}  // namespace

namespace {

// The lines of a text file.
std::vector<std::string> fileLines(const std::string& file) {
  QFile f(QString::fromStdString(file));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly));
  std::vector<std::string> lines;
  for (const QByteArray& line : f.readAll().split('\n')) {
    if (!line.isEmpty()) lines.push_back(line.toStdString());
  }
  return lines;
}

// The rows the same sweep gives, built in-process ping by ping from what each ping left: its
// column, its found offset and its obstruction list.
std::vector<std::string> rowsOfTheSameSweep(uint32_t columns) {
  InProcessSweep sweep;
  Program& program = sweep.program;
  App& app = sweep.app;
  std::vector<std::string> rows;
  while (rows.size() < columns) {
    const uint32_t before = program.scan.latestScan;
    timerTick(app);
    if (program.scan.latestScan == before) continue;
    std::string row = std::to_string(program.scan.latestScan);
    row += ',';
    row += std::to_string(program.scan.scanOffsets.forScan(program.scan.latestScan));
    for (const double d : program.obstructionList) {
      if (d <= 0.0) continue;
      row += ',';
      row += fixedPointText(d, 3);
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

TEST_F(CliCommandTest, SweepCsvHasOneRowPerPingWithThatPingsEchoes) {
  const CliResult sweep = cli({"sweep", "--columns", "30", "--csv", path("d.csv")});
  ASSERT_EQ(sweep.code, 0) << sweep.err;
  const std::vector<std::string> lines = fileLines(path("d.csv"));
  ASSERT_EQ(lines.size(), 31u);
  EXPECT_EQ(lines[0],
            "column,found_offset_bytes,echo_1_m,echo_2_m,echo_3_m,echo_4_m,echo_5_m,echo_6_m,"
            "echo_7_m");
  const std::vector<std::string> expected = rowsOfTheSameSweep(30);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected);
  // Against the room itself: its reflectors stand at 0.80 m and 1.90 m.
  for (size_t i = 1; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    const QStringList fields = QString::fromStdString(lines[i]).split(',');
    ASSERT_GE(fields.size(), 4);
    EXPECT_NEAR(fields[2].toDouble(), 0.80, 0.05);
    EXPECT_NEAR(fields[3].toDouble(), 1.90, 0.05);
  }
}

TEST_F(CliCommandTest, SweepWritesNoCsvWhenItFails) {
  const CliResult sweep = cli({"sweep", "--columns", "3", "--csv", path("missing/dir/d.csv")});
  EXPECT_EQ(sweep.code, 1);
  EXPECT_NE(sweep.err.find("cannot write"), std::string::npos) << sweep.err;
}

// The same four pings of the same room read by the three front ends: the Ruler after the fourth
// column of a sweep, the sweep's own distance table, and ping --average over the four. The
// command line asks for each ping's own distances as it goes and the window does not: what the
// tracker learns must not depend on that.
TEST_F(CliCommandTest, RulerPingAverageAndSweepAgreeOnTheSamePings) {
  for (const char* room : {"preset=desk", "preset=office", "echo=0.3:0.2,noise=60"}) {
    SCOPED_TRACE(room);
    const CliResult ping = cli({"--room", room, "--json", "ping", "--count", "4", "--average"});
    ASSERT_EQ(ping.code, 0) << ping.err;
    const size_t average = ping.out.find("\"average\":");
    ASSERT_NE(average, std::string::npos) << ping.out;
    const size_t open = ping.out.find('[', ping.out.find("\"obstructions\"", average));
    const std::string fromPing = ping.out.substr(open + 1, ping.out.find(']', open) - open - 1);

    const CliResult sweep = cli({"--room", room, "sweep", "--columns", "4", "--csv",
                                 path((std::string(room).substr(0, 6) + ".csv").c_str())});
    ASSERT_EQ(sweep.code, 0) << sweep.err;
    const std::vector<std::string> lines =
        fileLines(path((std::string(room).substr(0, 6) + ".csv").c_str()));
    ASSERT_EQ(lines.size(), 5u);
    const QStringList fields = QString::fromStdString(lines.back()).split(',');
    const std::string fromSweep =
        fields.mid(2).filter(QRegularExpression(".+")).join(',').toStdString();
    EXPECT_FALSE(fromPing.empty());
    EXPECT_EQ(fromPing, fromSweep);
  }
}

namespace {

std::string contentOf(const std::string& file) {
  QFile f(QString::fromStdString(file));
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

// The command line reads a file's distances as the desktop's Export distances does: the same
// table the sweep wrote; a file without them is refused with the reason and nothing is written;
// what Open notes is printed.
TEST_F(CliCommandTest, RenderWritesTheDistancesTheSweepSaved) {
  const CliResult sweep =
      cli({"sweep", "--columns", "5", "--save", path("s.son"), "--csv", path("live.csv")});
  ASSERT_EQ(sweep.code, 0) << sweep.err;
  const CliResult render =
      cli({"render", path("s.son"), "--png", path("s.png"), "--csv", path("read.csv")});
  ASSERT_EQ(render.code, 0) << render.err;
  const std::string table = contentOf(path("read.csv"));
  EXPECT_EQ(table, contentOf(path("live.csv")));
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 6) << table;

  // The same history without its block: an earlier version's file.
  const std::string whole = contentOf(path("s.son")).substr(0, kSonarFileBytes);
  {
    QFile f(QString::fromStdString(path("old.son")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(whole.data(), static_cast<qint64>(whole.size()));
  }
  const CliResult none =
      cli({"render", path("old.son"), "--png", path("old.png"), "--csv", path("old.csv")});
  EXPECT_EQ(none.code, 2);
  EXPECT_NE(none.err.find("holds no distances"), std::string::npos) << none.err;
  EXPECT_FALSE(exists(path("old.csv")));
  EXPECT_FALSE(exists(path("old.png")));

  // Cut short: it opens, and says how much it holds.
  {
    QFile f(QString::fromStdString(path("cut.son")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(whole.data(), 400000);
  }
  const CliResult cut = cli({"render", path("cut.son"), "--png", path("cut.png")});
  EXPECT_EQ(cut.code, 0) << cut.err;
  EXPECT_NE(cut.err.find("mervane-cli: note: The file has 400000 bytes: it holds 227 whole "
                         "columns of the 360"),
            std::string::npos)
      << cut.err;
}

}  // namespace
