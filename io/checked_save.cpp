#include "io/checked_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>

namespace {

// As many links as the kernel itself follows before it gives up (ELOOP).
constexpr int kMaxLinkHops = 40;

std::string errnoText(int error) {
  return std::strerror(error);
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a chain of links ends at (which may not exist yet), or the reason it cannot be had.
std::optional<std::string> followLinks(std::string path, std::string& reason) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n < 0) {
      reason = path + ": " + errnoText(errno);
      return std::nullopt;
    }
    target.resize(static_cast<size_t>(n));
    path = target.front() == '/' ? target : folderOf(path) + "/" + target;
  }
  reason = path + ": " + errnoText(ELOOP);
  return std::nullopt;
}

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

bool sameFile(const struct stat& a, const std::string& other) {
  struct stat b {};
  return stat(other.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A new hidden file beside `target`, created with mode 0666 so the kernel applies the umask as
// for any new file (mkstemp would give 0600, and reading the umask means changing it for every
// thread). Returns the descriptor, or -1 with errno set.
int createTemporary(const std::string& target, std::string& temporary) {
  static std::atomic<uint64_t> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x%04x", random(),
                  static_cast<unsigned>(counter.fetch_add(1) & 0xFFFF));
    temporary = folderOf(target) + "/." + nameOf(target) + suffix;
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

CheckedSave::CheckedSave(std::string path, std::span<const std::string> inputs) {
  if (path.empty()) {
    fail(Stage::kTarget, "no file name given");
    return;
  }
  std::string reason;
  const std::optional<std::string> target = followLinks(path, reason);
  if (!target) {
    fail(Stage::kTarget, reason);
    return;
  }
  target_ = *target;
  struct stat st {};
  const bool exists = stat(target_.c_str(), &st) == 0;
  if (exists) {
    if (!S_ISREG(st.st_mode)) {
      fail(Stage::kTarget, path + " is " + kindOf(st.st_mode) + ", not a regular file");
      return;
    }
    for (const std::string& input : inputs) {
      if (sameFile(st, input)) {
        fail(Stage::kTarget, path + " is the file being read");
        return;
      }
    }
    if (access(target_.c_str(), W_OK) != 0) {
      fail(Stage::kTarget, path + ": " + errnoText(errno));
      return;
    }
  }
  std::string temporary;
  fd_ = createTemporary(target_, temporary);
  if (fd_ < 0) {
    fail(Stage::kTarget, "cannot create a file in " + folderOf(target_) + ": " + errnoText(errno));
    return;
  }
  temporary_ = temporary;
  if (exists) {
    // The replacement keeps what the user (or an administrator saving for them) gave the file.
    fchmod(fd_, st.st_mode & 07777);
    if (st.st_uid != geteuid() || st.st_gid != getegid()) {
      [[maybe_unused]] const int ignored = fchown(fd_, st.st_uid, st.st_gid);
    }
  }
}

CheckedSave::~CheckedSave() {
  discard();
}

void CheckedSave::fail(Stage stage, std::string reason) {
  if (stage_ != Stage::kNone) return;
  stage_ = stage;
  problem_ = std::move(reason);
  discard();
}

void CheckedSave::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

bool CheckedSave::write(std::span<const uint8_t> bytes) {
  if (!ready()) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write of 0 bytes on a regular file only happens when the space has run out.
      fail(Stage::kWriting, "writing " + target_ + ": " + errnoText(n < 0 ? errno : ENOSPC));
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool CheckedSave::write(std::string_view text) {
  return write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

bool CheckedSave::commit() {
  if (!ready()) return false;
  // File systems that allocate late report a full disk only here.
  if (fsync(fd_) != 0) {
    fail(Stage::kWriting, "writing " + target_ + ": " + errnoText(errno));
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    fail(Stage::kWriting, "writing " + target_ + ": " + errnoText(errno));
    return false;
  }
  if (rename(temporary_.c_str(), target_.c_str()) != 0) {
    fail(Stage::kWriting, "replacing " + target_ + ": " + errnoText(errno));
    return false;
  }
  temporary_.clear();
  return true;
}

std::string saveBytesChecked(const std::string& path, std::span<const uint8_t> bytes,
                             std::span<const std::string> inputs) {
  CheckedSave save(path, inputs);
  save.write(bytes);
  save.commit();
  return save.problem();
}

std::string saveTextChecked(const std::string& path, std::string_view text,
                            std::span<const std::string> inputs) {
  return saveBytesChecked(
      path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), inputs);
}
