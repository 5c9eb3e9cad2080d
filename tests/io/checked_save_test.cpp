#include "io/checked_save.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
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
