#include "io/checked_save.h"
#include "io/path_names.h"
#include "io/runtime_folder.h"
#include "io/temporary_names.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/io/file_limit.h"

namespace {

void put(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

using Names = std::vector<std::string>;

// Everything in the folder, temporary files included (they start with a dot), sorted by name.
Names entriesOf(const std::string& folder) {
  Names names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh private folder per test, removed with everything in it afterwards.
class CheckedSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "checked-save-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    dir = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }
  std::string path(const char* name) const { return dir + "/" + name; }
  std::string dir;
};

TEST_F(CheckedSaveTest, ReplacesAFileKeepingItsModeAndALinkStaysALink) {
  put(path("a.par"), "old");
  chmod(path("a.par").c_str(), 0640);
  ASSERT_EQ(saveTextChecked(path("a.par"), "new contents"), "");
  EXPECT_EQ(contentOf(path("a.par")), "new contents");
  struct stat st {};
  ASSERT_EQ(stat(path("a.par").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A new file gets what any new file gets: 0666 less the umask.
  const mode_t mask = umask(027);
  ASSERT_EQ(saveTextChecked(path("new.par"), "n"), "");
  umask(mask);
  ASSERT_EQ(stat(path("new.par").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(unlink(path("new.par").c_str()), 0);

  ASSERT_EQ(symlink("a.par", path("link.par").c_str()), 0);
  ASSERT_EQ(saveTextChecked(path("link.par"), "through the link"), "");
  ASSERT_EQ(lstat(path("link.par").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(contentOf(path("a.par")), "through the link");
  EXPECT_EQ(entriesOf(dir), (Names{"a.par", "link.par"}));
}

TEST_F(CheckedSaveTest, RefusesWhatIsNotARegularFile) {
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/null", path("null-link").c_str()), 0);
  ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
  for (const auto& [target, kind] : {std::pair{path("fifo"), "a FIFO"},
                                     std::pair{std::string("/dev/null"), "a character device"},
                                     std::pair{path("null-link"), "a character device"},
                                     std::pair{path("folder"), "a folder"}}) {
    const std::string problem = saveTextChecked(target, "x");
    EXPECT_NE(problem.find(std::string("is ") + kind + ", not a regular file"), std::string::npos)
        << target << ": " << problem;
  }
  struct stat st {};
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  ASSERT_EQ(lstat(path("fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(saveTextChecked("", "x"), "no file name given");
}

TEST_F(CheckedSaveTest, RefusesToReplaceTheFileBeingRead) {
  put(path("a.son"), "sonar");
  ASSERT_EQ(symlink("a.son", path("same.son").c_str()), 0);
  ASSERT_EQ(link(path("a.son").c_str(), path("hard.son").c_str()), 0);
  const std::string inputs[] = {path("a.son")};
  for (const char* name : {"a.son", "same.son", "hard.son"}) {
    EXPECT_NE(saveTextChecked(path(name), "picture", inputs).find("is the file being read"),
              std::string::npos)
        << name;
  }
  EXPECT_EQ(contentOf(path("a.son")), "sonar");
  EXPECT_EQ(saveTextChecked(path("other.png"), "picture", inputs), "");
}

// A full disk, as the kernel reports it when a file would grow beyond what the process may
// write: the previous file is untouched and no temporary file is left.
TEST_F(CheckedSaveTest, AFailedWriteKeepsThePreviousFileAndLeavesNothing) {
  put(path("a.png"), "the good picture");
  {
    const FileSizeLimit limit(4096);
    const std::string problem = saveTextChecked(path("a.png"), std::string(10000, 'x'));
    EXPECT_NE(problem.find("File too large"), std::string::npos) << problem;
  }
  EXPECT_EQ(contentOf(path("a.png")), "the good picture");
  EXPECT_EQ(entriesOf(dir), Names{"a.png"});
}

// The same on a real full file system, where the system lets us mount one (as root, as CI runs).
TEST_F(CheckedSaveTest, AFullFileSystemKeepsThePreviousFile) {
  ASSERT_EQ(mkdir(path("small").c_str(), 0700), 0);
  const std::string small = path("small");
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "no small tmpfs can be mounted here (needs root): " << std::strerror(errno);
  }
  const std::string file = small + "/a.son";
  put(file, "previous sonar file");
  const std::string problem = saveTextChecked(file, std::string(200000, 's'));
  EXPECT_NE(problem.find("No space left on device"), std::string::npos) << problem;
  EXPECT_EQ(contentOf(file), "previous sonar file");
  EXPECT_EQ(entriesOf(small), Names{"a.son"});
  EXPECT_EQ(umount(small.c_str()), 0);
}

// Concurrent saves to one name never splice: the file is always one writer's whole content.
TEST_F(CheckedSaveTest, ConcurrentWritersNeverSplice) {
  const std::string target = path("shared.wav");
  std::vector<std::string> contents;
  for (char c : {'a', 'b', 'c', 'd'}) contents.emplace_back(50000, c);
  for (int round = 0; round < 30; ++round) {
    std::vector<std::thread> writers;
    for (const std::string& c : contents) {
      writers.emplace_back([&target, &c] { EXPECT_EQ(saveTextChecked(target, c), ""); });
    }
    for (std::thread& w : writers) w.join();
    const std::string now = contentOf(target);
    EXPECT_NE(std::find(contents.begin(), contents.end(), now), contents.end()) << round;
  }
  EXPECT_EQ(entriesOf(dir), Names{"shared.wav"});
}

TEST_F(CheckedSaveTest, NamesAreTheFileSystemsBytes) {
  const std::string latin1 = path("caf\xe9.son");  // not valid UTF-8
  ASSERT_EQ(saveTextChecked(latin1, "bytes"), "");
  EXPECT_EQ(contentOf(latin1), "bytes");
  EXPECT_EQ(entriesOf(dir).size(), 1u);
}

}  // namespace

namespace {

// ---- the file system calls failing as a disk fails ----

// The real calls, with one replaced.
FileSystemCalls with(int (*sync)(int), int (*renameFile)(const char*, const char*) = nullptr,
                     bool unnamed = true) {
  FileSystemCalls calls = realFileSystem();
  if (sync != nullptr) calls.sync = sync;
  if (renameFile != nullptr) calls.renameFile = renameFile;
  if (!unnamed) {
    // A file system without unnamed files: the temporary file has its name from the start.
    calls.openFile = [](const char* p, int flags, mode_t mode) {
      if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
      }
      return realFileSystem().openFile(p, flags, mode);
    };
  }
  return calls;
}

int failingSync(int) {
  errno = EIO;
  return -1;
}
int failingRename(const char*, const char*) {
  errno = EIO;
  return -1;
}

struct FailingCall {
  const char* name;
  FileSystemCalls calls;
  const char* reason;
};

class FailingCallTest : public CheckedSaveTest,
                        public ::testing::WithParamInterface<FailingCall> {};

// A disk that fails only at the flush, or at the rename: the reason is told, the old file is
// kept and no temporary file is left, whether the temporary file was unnamed or named.
TEST_P(FailingCallTest, KeepsTheOldFileAndLeavesNothing) {
  put(path("a.son"), "the good file");
  CheckedSave save(path("a.son"), {}, GetParam().calls);
  ASSERT_TRUE(save.ready()) << save.problem();
  EXPECT_TRUE(save.write(std::string_view("new contents")));
  EXPECT_FALSE(save.commit());
  EXPECT_EQ(save.failedStage(), CheckedSave::Stage::kWriting);
  EXPECT_EQ(save.problem(),
            std::string(GetParam().reason) + path("a.son") + ": Input/output error");
  EXPECT_EQ(contentOf(path("a.son")), "the good file");
  EXPECT_EQ(entriesOf(dir), Names{"a.son"});
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FailingCallTest,
    ::testing::Values(FailingCall{"flushUnnamed", with(failingSync), "writing "},
                      FailingCall{"flushNamed", with(failingSync, nullptr, false), "writing "},
                      FailingCall{"renameUnnamed", with(nullptr, failingRename), "replacing "},
                      FailingCall{"renameNamed", with(nullptr, failingRename, false),
                                  "replacing "}),
    [](const auto& param) { return std::string(param.param.name); });

// While a save writes, nothing of it can be seen beside the target; the named way, where it is
// needed, is named as ours.
TEST_F(CheckedSaveTest, AWriteInProgressHasNoNameUnlessTheFileSystemNeedsOne) {
  {
    CheckedSave save(path("a.son"));
    ASSERT_TRUE(save.write(std::string_view("half")));
    EXPECT_TRUE(entriesOf(dir).empty());
    EXPECT_TRUE(save.commit());
  }
  CheckedSave named(path("b.son"), {}, with(nullptr, nullptr, false));
  ASSERT_TRUE(named.ready());
  const Names during = entriesOf(dir);
  ASSERT_EQ(during.size(), 2u);
  EXPECT_EQ(during[0].rfind(".b.son.~mervane-" + std::to_string(getpid()) + "-", 0), 0u)
      << during[0];
  EXPECT_TRUE(named.commit());
  EXPECT_EQ(entriesOf(dir), (Names{"a.son", "b.son"}));
}

// ---- litter of killed saves ----

// A process id that belonged to a process that has ended.
pid_t endedProcess() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

void makeOld(const std::string& file, int ageSeconds) {
  const timespec times[2] = {{time(nullptr) - ageSeconds, 0}, {time(nullptr) - ageSeconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0) << file;
}

// The next save to a folder removes our temporary files older than ten minutes whose writer has
// ended, and nothing else: not a young one, not a live writer's, not a file of another pattern.
TEST_F(CheckedSaveTest, TheNextSaveRemovesStaleTemporaryFilesOfOurs) {
  const std::string dead = std::to_string(endedProcess());
  const std::string alive = std::to_string(getpid());
  const std::pair<std::string, int> files[] = {
      {".a.son.~mervane-" + dead + "-0123456789ab", 601},    // stale: goes
      {".b.png.~mervane-" + dead + "-abcdef012345", 3600},   // stale: goes
      {".c.son.~mervane-" + dead + "-0123456789ab", 590},    // younger than ten minutes
      {".d.son.~mervane-" + alive + "-0123456789ab", 3600},  // its writer still runs
      {".e.son.0123456789ab", 3600},                         // not ours to judge
      {".f.son.~mervane-" + dead + "-xyz", 3600},            // not our pattern
      {"g.son.~mervane-" + dead + "-0123456789ab", 3600},    // not hidden
  };
  for (const auto& [name, age] : files) {
    put(path(name.c_str()), "litter");
    makeOld(path(name.c_str()), age);
  }
  ASSERT_EQ(saveTextChecked(path("new.son"), "sonar"), "");
  Names expected;
  for (size_t i = 2; i < std::size(files); ++i) expected.push_back(files[i].first);
  expected.push_back("new.son");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entriesOf(dir), expected);
}

// This process's start in clock ticks after boot and its process-id namespace, read here from
// /proc by hand (the 22nd field, counted after the command name's closing parenthesis).
std::string ownStartTicks() {
  std::istringstream stat(contentOf("/proc/self/stat"));
  std::string all = stat.str();
  std::istringstream fields(all.substr(all.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 22; ++i) fields >> field;
  return field;
}

std::string ownNamespaceHex() {
  struct stat st {};
  if (stat("/proc/self/ns/pid", &st) != 0) return "";
  std::ostringstream hex;
  hex << std::hex << st.st_ino;
  return hex.str();
}

// A temporary file whose writer has provably ended (its process id is unused, or used by a
// process that started at another time) goes at the next save, however young; one whose writer
// runs stays however old; one from another process-id namespace keeps the ten-minute rule.
TEST_F(CheckedSaveTest, TemporariesWhoseWriterHasProvablyEndedGoAtOnce) {
  const std::string ns = ownNamespaceHex();
  if (ns.empty()) GTEST_SKIP() << "no /proc/self/ns/pid here";
  const std::string dead = std::to_string(endedProcess());
  const std::string self = std::to_string(getpid());
  const std::string ticks = ownStartTicks();
  const std::string otherNs = ns + "0";
  const std::pair<std::string, int> files[] = {
      {".a.son.~mervane-" + dead + "-" + ticks + "-" + ns + "-0123456789ab", 0},   // ended
      {".b.son.~mervane-" + self + "-1" + ticks + "-" + ns + "-0123456789ab", 0},  // id reused
      {".c.son.~mervane-" + dead + "-" + ticks + "-" + otherNs + "-abcdef012345", 601},  // old
      {".d.son.~mervane-" + self + "-" + ticks + "-" + ns + "-0123456789ab", 3600},      // runs
      {".e.son.~mervane-" + dead + "-" + ticks + "-" + otherNs + "-abcdef012345", 0},    // young
      {".f.son.~mervane-" + dead + "-" + ticks + "-" + ns + "-0123456789", 0},  // not our pattern
      {".g.son.~mervane-" + dead + "-x" + ticks + "-" + ns + "-0123456789ab", 0},  // not ours
  };
  for (const auto& [name, age] : files) {
    put(path(name.c_str()), "litter");
    makeOld(path(name.c_str()), age);
  }
  ASSERT_EQ(saveTextChecked(path("new.son"), "sonar"), "");
  Names expected;
  for (size_t i = 3; i < std::size(files); ++i) expected.push_back(files[i].first);
  expected.push_back("new.son");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entriesOf(dir), expected);
}

// The name a save gives its file carries the process that made it: while that process runs the
// file is its own, and once it has ended and been reaped, the file is litter.
TEST_F(CheckedSaveTest, ATemporaryNameTellsWhetherItsWriterRuns) {
  const std::string mine = nameOf(temporaryName(dir, "x.son"));
  if (ownNamespaceHex().empty()) GTEST_SKIP() << "no /proc/self/ns/pid here";
  EXPECT_EQ(mine.rfind(".x.son.~mervane-" + std::to_string(getpid()) + "-" + ownStartTicks() + "-" +
                           ownNamespaceHex() + "-",
                       0),
            0u)
      << mine;
  EXPECT_EQ(ownerOfTemporary(mine).writer, TemporaryWriter::kRunning);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  if (child == 0) {
    const std::string name = nameOf(temporaryName(dir, "x.son"));
    _exit(write(pipeEnds[1], name.data(), name.size()) == static_cast<ssize_t>(name.size()) ? 0
                                                                                            : 1);
  }
  close(pipeEnds[1]);
  char buffer[512];
  const ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
  close(pipeEnds[0]);
  ASSERT_GT(n, 0);
  const std::string childs(buffer, static_cast<size_t>(n));
  EXPECT_EQ(ownerOfTemporary(childs).writer, TemporaryWriter::kRunning) << childs;
  waitpid(child, nullptr, 0);
  EXPECT_EQ(ownerOfTemporary(childs).writer, TemporaryWriter::kGone) << childs;
  EXPECT_EQ(ownerOfTemporary(".x.son.~mervane-" + std::to_string(child) + "-0123456789ab").writer,
            TemporaryWriter::kUnprovable);
  EXPECT_EQ(ownerOfTemporary("x.son.~mervane-1-0123456789ab").writer, TemporaryWriter::kNotOurs);
}

// Saves killed at any moment leave the target, old or new and whole. A kill that falls between
// the naming of the complete file and its rename (a few microseconds) leaves it under our name,
// and the next save removes it: its writer has provably ended.
TEST_F(CheckedSaveTest, KilledSavesLeaveNothingButTheTarget) {
  const std::string target = path("killed.son");
  const std::string oldContent(633600, 'o'), newContent(633600, 'n');
  put(target, oldContent);
  for (int round = 0; round < 40; ++round) {
    const pid_t child = fork();
    if (child == 0) {
      for (;;) saveTextChecked(target, round % 2 ? newContent : oldContent);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500 + 997 * (round % 13)));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::string now = contentOf(target);
    EXPECT_TRUE(now == oldContent || now == newContent) << round;
  }
  for (const std::string& name : entriesOf(dir)) {
    if (name == "killed.son") continue;
    EXPECT_EQ(name.rfind(".killed.son.~mervane-", 0), 0u) << name;
  }
  ASSERT_EQ(saveTextChecked(target, "after"), "");
  EXPECT_EQ(entriesOf(dir), Names{"killed.son"});
}

}  // namespace

namespace {

// In a child process, so the test's own environment stays as it was. Returns the child's exit
// code: 0 when `check` held.
int inChild(bool (*check)(const std::string& tmp), const std::string& tmp) {
  const pid_t child = fork();
  if (child == 0) _exit(check(tmp) ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Without a runtime folder the process gets a private one, so Qt has nothing to warn about; a
// folder others may enter is not taken, and a given one is kept.
TEST_F(CheckedSaveTest, ARuntimeFolderOfOurOwnWhereTheSessionHasNone) {
  EXPECT_EQ(inChild(
                [](const std::string& tmp) {
                  unsetenv("XDG_RUNTIME_DIR");
                  setenv("TMPDIR", tmp.c_str(), 1);
                  const auto folder = provideRuntimeFolder();
                  struct stat st {};
                  return folder && *folder == std::string(std::getenv("XDG_RUNTIME_DIR")) &&
                         stat(folder->c_str(), &st) == 0 && (st.st_mode & 0777) == 0700 &&
                         folder->rfind(tmp, 0) == 0;
                },
                dir),
            0);
  EXPECT_EQ(inChild(
                [](const std::string& tmp) {
                  unsetenv("XDG_RUNTIME_DIR");
                  setenv("TMPDIR", tmp.c_str(), 1);
                  const std::string open = tmp + "/runtime-mervane-" + std::to_string(geteuid());
                  mkdir(open.c_str(), 0755);
                  chmod(open.c_str(), 0755);
                  return !provideRuntimeFolder() && std::getenv("XDG_RUNTIME_DIR") == nullptr;
                },
                (mkdir((dir + "/shared").c_str(), 0700), dir + "/shared")),
            0)
      << "a folder others may enter was taken";
  EXPECT_EQ(inChild(
                [](const std::string&) {
                  setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
                  return provideRuntimeFolder() == std::string("/run/user/1000");
                },
                dir),
            0);
}

}  // namespace
