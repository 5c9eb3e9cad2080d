// The command line when things go wrong: full disks, odd targets, failing output, odd file names,
// locales and arguments that make no sense. Most cases run in-process; the ones that depend on
// the process's own environment (locale, standard output) run the real program.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>
#include <QDir>
#include <QTemporaryDir>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <streambuf>

#include "cli/cli.h"
#include "cli/wav_io.h"
#include "tests/cli/cli_result.h"
#include "tests/io/file_limit.h"

namespace {

// Runs the installed-to-be program with an environment prefix through the shell.
CliResult program(const std::string& commandLine) {
  // The command line's own variables stay out of the way unless a test sets them.
  const std::string command =
      "{ unset MERVANE_ROOM MERVANE_AUDIO; " + commandLine + "; } 2>&1; echo \"exit=$?\"";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string text;
  std::array<char, 4096> buffer{};
  while (pipe && std::fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) {
    text += buffer.data();
  }
  const size_t at = text.rfind("exit=");
  return {at == std::string::npos ? -1 : std::stoi(text.substr(at + 5)), text.substr(0, at), {}};
}

class CliFailureTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const {
    return dir.filePath(QString::fromStdString(name)).toStdString();
  }
  QStringList entries() const {
    return QDir(dir.path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                   QDir::Name);
  }
  QTemporaryDir dir;
};

// Every save path of the command line on a "full disk": exit 1, the reason told, the previous
// file byte-identical and no temporary file left.
TEST_F(CliFailureTest, EverySavePathKeepsThePreviousFileWhenTheDiskIsFull) {
  ASSERT_EQ(cli({"sweep", "--columns", "2", "--save", path("s.son")}).code, 0);
  const std::vector<std::pair<std::string, std::vector<std::string>>> saves{
      {"p.par", {"sweep", "--columns", "2", "--save", path("p.par")}},
      {"t.son", {"sweep", "--columns", "2", "--save", path("t.son")}},
      {"e.png", {"sweep", "--columns", "2", "--png", path("e.png")}},
      {"d.csv", {"sweep", "--columns", "20", "--csv", path("d.csv")}},
      {"r.png", {"render", path("s.son"), "--png", path("r.png")}},
      {"c.wav", {"chirp", "--wav", path("c.wav")}},
  };
  for (const auto& [name, words] : saves) {
    std::ofstream(path(name), std::ios::binary) << "previous " << name;
    CliResult r;
    {
      const FileSizeLimit full(200);
      r = cli(words);
    }
    EXPECT_EQ(r.code, 1) << name << ": " << r.err;
    EXPECT_TRUE(has(r.err, "File too large")) << name << ": " << r.err;
    EXPECT_EQ(contentOf(path(name)), "previous " + name);
  }
  EXPECT_EQ(entries(),
            (QStringList{"c.wav", "d.csv", "e.png", "p.par", "r.png", "s.son", "t.son"}));
}

TEST_F(CliFailureTest, SaveMessagesNameTheProgramsTextAndTheReason) {
  const CliResult r = cli({"sweep", "--columns", "1", "--save", path("no/such/folder/a.son")});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.err, "cos nie tak: cannot create a file in ")) << r.err;
  EXPECT_TRUE(has(r.err, "No such file or directory; Save failed!")) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// Bad usage, so exit 2 before anything is measured, with both names told.
TEST_F(CliFailureTest, NoOutputReplacesItsOwnInput) {
  ASSERT_EQ(cli({"sweep", "--columns", "3", "--save", path("a.son")}).code, 0);
  const std::string before = contentOf(path("a.son"));
  const CliResult r = cli({"render", path("a.son"), "--png", path("a.son")});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(has(r.err, "the sonar file '" + path("a.son") + "' and --png '" + path("a.son") +
                             "' are the same file"))
      << r.err;
  for (const std::string output : {"--csv", "--png"}) {
    const CliResult sweep =
        cli({"--load", path("a.son"), "sweep", "--columns", "1", output, path("a.son")});
    EXPECT_EQ(sweep.code, 2) << output;
    EXPECT_TRUE(has(sweep.err, "an output may not replace a file the run reads")) << sweep.err;
    EXPECT_TRUE(sweep.out.empty()) << "measured before refusing: " << sweep.out;
  }
  EXPECT_EQ(cli({"--load", path("a.son"), "chirp", "--wav", path("a.son")}).code, 2);
  EXPECT_EQ(contentOf(path("a.son")), before);
  EXPECT_EQ(entries(), QStringList{"a.son"});
}

// Outputs compared as files, not as strings: another spelling, a full path against a relative
// one, a link to the file, for files that exist and for files still to be made.
TEST_F(CliFailureTest, TwoNamesOfOneFileAreOneOutput) {
  ASSERT_EQ(cli({"sweep", "--columns", "1", "--png", path("p.png")}).code, 0);
  const std::string picture = contentOf(path("p.png"));
  ASSERT_EQ(symlink("p.png", path("link.csv").c_str()), 0);
  ASSERT_EQ(symlink("later.son", path("later-link.png").c_str()), 0);
  const std::string dirName = dir.path().toStdString();
  const std::string sub = path("sub");
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  const std::vector<std::vector<std::string>> clashes{
      {"sweep", "--columns", "1", "--save", path("y.son"), "--csv", dirName + "/./y.son"},
      {"sweep", "--columns", "1", "--save", path("z.son"), "--png", sub + "/../z.son"},
      {"sweep", "--columns", "1", "--png", path("p.png"), "--csv", path("link.csv")},
      {"sweep", "--columns", "1", "--save", path("later.son"), "--png", path("later-link.png")},
      {"sweep", "--columns", "1", "--csv", path("p.png"), "--png", dirName + "//p.png"},
  };
  for (const auto& words : clashes) {
    const CliResult r = cli(words);
    EXPECT_EQ(r.code, 2) << words[4] << " " << words[6] << ": " << r.err;
    EXPECT_TRUE(has(r.err, "are the same file: each output needs a file of its own")) << r.err;
    EXPECT_TRUE(has(r.err, words[4]) && has(r.err, words[6])) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_EQ(contentOf(path("p.png")), picture);
  EXPECT_EQ(entries(), (QStringList{"later-link.png", "link.csv", "p.png", "sub"}));
  // A relative name is taken from the working folder, as the save itself takes it.
  const std::string here = QDir::currentPath().toStdString();
  ASSERT_EQ(chdir(dirName.c_str()), 0);
  const CliResult relative = cli({"sweep", "--columns", "1", "--save", "w.son", "--png",
                                  dirName + "/w.son", "--csv", "other.csv"});
  ASSERT_EQ(chdir(here.c_str()), 0);
  EXPECT_EQ(relative.code, 2) << relative.err;
  // Files of their own pass.
  EXPECT_EQ(cli({"sweep", "--columns", "1", "--save", path("a.son"), "--png", path("a.png"),
                 "--csv", path("a.csv")})
                .code,
            0);
}

TEST_F(CliFailureTest, SpecialFilesAreNeitherReplacedNorWaitedOn) {
  ASSERT_EQ(mkfifo(path("fifo.son").c_str(), 0600), 0);
  const CliResult save = cli({"sweep", "--columns", "1", "--save", path("fifo.son")});
  EXPECT_EQ(save.code, 1);
  EXPECT_TRUE(has(save.err, "is a FIFO, not a regular file")) << save.err;
  const CliResult table = cli({"sweep", "--columns", "1", "--csv", path("fifo.son")});
  EXPECT_EQ(table.code, 1);
  EXPECT_TRUE(has(table.err, "cannot write")) << table.err;
  EXPECT_TRUE(has(table.err, "is a FIFO, not a regular file")) << table.err;
  // Reading a FIFO would wait for a writer that never comes.
  const CliResult load = cli({"--load", path("fifo.son"), "settings"});
  EXPECT_EQ(load.code, 2);
  EXPECT_TRUE(has(load.err, "not a regular file")) << load.err;
  EXPECT_EQ(cli({"analyze", path("fifo.son")}).code, 2);
  struct stat st {};
  ASSERT_EQ(lstat(path("fifo.son").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A stream that refuses every byte, as standard output on a full disk does.
class FullStream : public std::streambuf {
 protected:
  int overflow(int) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(CliOutput, AnOutputThatCannotBeWrittenIsAFailure) {
  FullStream full;
  std::ostream out(&full);
  std::ostringstream err;
  EXPECT_EQ(runCli({"settings"}, out, err), 1);
  EXPECT_TRUE(has(err.str(), "the output could not be written")) << err.str();
  std::ostream jsonOut(&full);
  err.str("");
  EXPECT_EQ(runCli({"--json", "ping", "--count", "3"}, jsonOut, err), 1);
}

// --help and --version are output like any other: a full or closed standard output fails.
TEST(CliOutput, HelpAndVersionAreCheckedToo) {
  for (const char* option : {"--help", "--version"}) {
    const std::string cli = std::string(MERVANE_CLI) + " " + option;
    EXPECT_EQ(program(cli + " > /dev/null").code, 0) << option;
    const CliResult full = program(cli + " > /dev/full");
    EXPECT_EQ(full.code, 1) << option;
    EXPECT_TRUE(has(full.out, "the output could not be written: No space left on device"))
        << full.out;
    const CliResult closed = program(cli + " >&-");
    EXPECT_EQ(closed.code, 1) << option;
    EXPECT_TRUE(has(closed.out, "the output could not be written")) << closed.out;
  }
}

TEST(CliOutput, StandardOutputOnAFullDevice) {
  const CliResult r = program(std::string(MERVANE_CLI) + " settings > /dev/full");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.out, "the output could not be written: No space left on device")) << r.out;
}

// MERVANE_ROOM and MERVANE_AUDIO as the desktop program reads them; the command line wins, and
// the room is no error where the back end has none.
TEST(CliEnvironment, TheVariablesChooseWhatTheOptionsDoNotSay) {
  const CliEnvironment room{std::nullopt, "echo=1.50:0.2"};
  const auto pingWith = [](const std::vector<std::string>& words, const CliEnvironment& env) {
    std::ostringstream out, err;
    const int code = runCli(words, out, err, env);
    return CliResult{code, out.str(), err.str()};
  };
  const CliResult fromRoom = pingWith({"--json", "ping"}, room);
  ASSERT_EQ(fromRoom.code, 0) << fromRoom.err;
  EXPECT_TRUE(has(fromRoom.out, "\"obstructions\":[1.500]")) << fromRoom.out;
  const CliResult optionWins = pingWith({"--json", "--room", "echo=0.90:0.2", "ping"}, room);
  EXPECT_TRUE(has(optionWins.out, "\"obstructions\":[0.9")) << optionWins.out;
  const CliResult badRoom = pingWith({"ping"}, {std::nullopt, "rt=100"});
  EXPECT_EQ(badRoom.code, 2);
  EXPECT_TRUE(has(badRoom.err, "MERVANE_ROOM: room key rt has a bad value '100'")) << badRoom.err;
  const CliResult badAudio = pingWith({"settings"}, {"alsa", std::nullopt});
  EXPECT_EQ(badAudio.code, 2);
  EXPECT_TRUE(has(badAudio.err, "MERVANE_AUDIO: unknown back end 'alsa'")) << badAudio.err;

  CliRequest request;
  ASSERT_EQ(parseCliRequest({"settings"}, request, {"portaudio", "echo=1:0.1"}), std::nullopt);
  EXPECT_EQ(request.backend, "portaudio");
  EXPECT_FALSE(request.room) << "the room of a back end that has none";
  CliRequest sim;
  ASSERT_EQ(parseCliRequest({"--backend", "sim", "settings"}, sim, {"portaudio", "echo=1:0.1"}),
            std::nullopt);
  EXPECT_EQ(sim.backend, "sim");
  EXPECT_EQ(sim.room, "echo=1:0.1");

  // The real program reads them from its environment; an in-process run without one does not.
  const CliResult real =
      program("MERVANE_ROOM=echo=1.50:0.2 " + std::string(MERVANE_CLI) + " ping");
  EXPECT_TRUE(has(real.out, "1.50 m")) << real.out;
  EXPECT_EQ(real.code, 0);
}

// de_DE.UTF-8 writes a decimal comma; made here with localedef into a folder of our own, so the
// test needs no root and no locale installed beforehand (only the locale sources).
TEST_F(CliFailureTest, JsonNumbersAreTheSameUnderEveryLocale) {
  const std::string made =
      "localedef -i de_DE -f UTF-8 " + path("de_DE.UTF-8") + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(made.c_str()), 0) << "localedef failed (package locales missing?)";
  const std::string env = "LOCPATH=" + dir.path().toStdString() + " LC_ALL=de_DE.UTF-8 ";
  // The locale is real: the C library now prints a comma.
  EXPECT_EQ(program(env + "/usr/bin/printf '%.1f' 0.5").out, "0,5");
  const CliResult r = program(env + MERVANE_CLI + " --json sweep --columns 2");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(has(r.out, "\"obstructions\":[0.800,1.900]")) << r.out;
  const CliResult text = program(env + MERVANE_CLI + " sweep --columns 2");
  EXPECT_TRUE(has(text.out, "echoes 0.80 m 1.90 m")) << text.out;
}

// Names that are not UTF-8 are the file system's bytes like any other.
TEST_F(CliFailureTest, FileNamesThatAreNotUtf8) {
  const std::string son = dir.path().toStdString() + "/r\xe9sum\xe9.son";
  const std::string png = dir.path().toStdString() + "/caf\xe9.png";
  ASSERT_EQ(cli({"sweep", "--columns", "3", "--save", son}).code, 0);
  EXPECT_GT(contentOf(son).size(), 633600u);
  const CliResult r = cli({"render", son, "--png", png});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_FALSE(contentOf(png).empty());
  EXPECT_EQ(cli({"--load", son, "settings"}).code, 0);
  // Qt cannot list such names at all; the C library can.
  size_t files = 0;
  std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir.path().toLocal8Bit().constData()),
                                             closedir);
  while (const dirent* e = readdir(folder.get())) files += e->d_name[0] != '.';
  EXPECT_EQ(files, 2u);
  // Nor can it remove them: the folder would stay behind in /tmp.
  EXPECT_EQ(::unlink(son.c_str()), 0);
  EXPECT_EQ(::unlink(png.c_str()), 0);
}

struct UsageCase {
  const char* name;
  std::vector<std::string> words;
  const char* message;
};

class CliUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliUsageTest, SaysWhatIsWrongWithExit2) {
  const CliResult r = cli(GetParam().words);
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_TRUE(has(r.err, GetParam().message)) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CliUsageTest,
    ::testing::Values(
        UsageCase{"emptyWavName", {"chirp", "--wav", ""}, "--wav needs a file name"},
        UsageCase{"countZero", {"ping", "--count", "0"}, "--count needs a whole number from 1"},
        UsageCase{"countMissing", {"ping", "--count"}, "--count needs a whole number from 1"},
        UsageCase{"columnsZero", {"sweep", "--columns", "0"}, "got '0'"},
        UsageCase{"emptySaveName", {"sweep", "--save", ""}, "--save needs a file name"},
        UsageCase{"extraWordsAfterSettings", {"settings", "now"}, "settings takes no arguments"},
        UsageCase{"extraWordsAfterDevices", {"devices", "all"}, "devices takes no arguments"}),
    [](const auto& param) { return std::string(param.param.name); });

// A hand-written WAV header: canonical PCM (tag 1) or WAVE_FORMAT_EXTENSIBLE with the PCM
// sub-format, 16 bits, stereo, 44100 Hz, then the samples.
std::string wavBytes(bool extensible, uint32_t rate, const std::vector<int16_t>& samples) {
  std::string b;
  const auto u16 = [&b](uint32_t v) {
    b += static_cast<char>(v & 0xFF), b += static_cast<char>(v >> 8);
  };
  const auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  const uint32_t fmtSize = extensible ? 40 : 16;
  const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
  b += "RIFF";
  u32(4 + 8 + fmtSize + 8 + dataBytes);
  b += "WAVEfmt ";
  u32(fmtSize);
  u16(extensible ? 0xFFFE : 1);
  u16(2);
  u32(rate);
  u32(rate * 4);
  u16(4);
  u16(16);
  if (extensible) {
    u16(22);  // extension size
    u16(16);  // valid bits
    u32(3);   // front left and right
    // KSDATAFORMAT_SUBTYPE_PCM
    for (const uint8_t g : {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA,
                            0x00, 0x38, 0x9B, 0x71}) {
      b += static_cast<char>(g);
    }
  }
  b += "data";
  u32(dataBytes);
  for (const int16_t s : samples) u16(static_cast<uint16_t>(s));
  return b;
}

TEST_F(CliFailureTest, ExtensiblePcmIsReadLikePlainPcm) {
  std::vector<int16_t> samples(20000);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>((i * 7919) % 2000) - 1000;
  }
  std::ofstream(path("plain.wav"), std::ios::binary) << wavBytes(false, 44100, samples);
  std::ofstream(path("wavex.wav"), std::ios::binary) << wavBytes(true, 44100, samples);
  const CliResult plain = cli({"--json", "analyze", path("plain.wav")});
  const CliResult wavex = cli({"--json", "analyze", path("wavex.wav")});
  ASSERT_EQ(plain.code, 0) << plain.err;
  ASSERT_EQ(wavex.code, 0) << wavex.err;
  EXPECT_EQ(wavex.out, plain.out);
}

TEST_F(CliFailureTest, WavsWithoutSamplesOrRateAreRefusedClearly) {
  std::ofstream(path("empty.wav"), std::ios::binary) << wavBytes(false, 44100, {});
  const CliResult empty = cli({"analyze", path("empty.wav")});
  EXPECT_EQ(empty.code, 2);
  EXPECT_TRUE(has(empty.err, "holds no samples")) << empty.err;

  std::ofstream(path("zero.wav"), std::ios::binary) << wavBytes(false, 0, {1, 2, 3, 4});
  const CliResult zero = cli({"analyze", path("zero.wav")});
  EXPECT_EQ(zero.code, 2);
  EXPECT_TRUE(has(zero.err, "declares a sample rate of 0 Hz")) << zero.err;

  // Said in words with the rates that are read, not in libsndfile's terms.
  std::ofstream(path("huge.wav"), std::ios::binary) << wavBytes(false, 0xFFFFFFFF, {1, 2, 3, 4});
  const CliResult huge = cli({"analyze", path("huge.wav")});
  EXPECT_EQ(huge.code, 2);
  EXPECT_TRUE(has(huge.err,
                  "runs at 4294967295 Hz; 8000, 11025, 22050, 44100, 48000 or 96000 "
                  "Hz are supported"))
      << huge.err;
  EXPECT_FALSE(has(huge.err, "SF_INFO")) << huge.err;
}

// RF64 is the WAV of recorders that may pass 4 GB; its 16-bit PCM reads as any other.
TEST_F(CliFailureTest, Rf64PcmIsReadLikePlainPcm) {
  std::vector<int16_t> samples(4000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i * 7919) % 2001);
  std::ofstream(path("plain.wav"), std::ios::binary) << wavBytes(false, 44100, samples);
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
  SNDFILE* rf64 = sf_open(path("rf64.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(rf64, nullptr) << sf_strerror(nullptr);
  sf_write_short(rf64, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(rf64);
  const CliResult plain = cli({"--json", "analyze", path("plain.wav")});
  const CliResult wide = cli({"--json", "analyze", path("rf64.wav")});
  ASSERT_EQ(wide.code, 0) << wide.err;
  EXPECT_EQ(wide.out, plain.out);
}

// Any multiplier a file holds: the ticks between pings pass at once on the simulated room, and
// only pings that ran are counted.
TEST(CliSweep, TheLargestMultiplierEndsAtOnce) {
  const CliResult r = cli({"--set", "clockMultiplier=255", "--json", "sweep", "--columns", "2"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(has(r.out, "\"columns\":2,")) << r.out;
}

}  // namespace
