#include "io/checked_save.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

#include <cerrno>
#include <cstring>
#include <optional>

#include "io/path_names.h"
#include "io/temporary_names.h"

namespace {

std::string errnoText(int error) {
  return std::strerror(error);
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

int openReal(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

// Temporary files of ours that a killed save left in the folder. One whose writer has provably
// ended goes at once (a save of ours names its file only once it is complete, then renames it
// within microseconds: nothing else would finish it). One whose writer /proc cannot check goes
// once no save can still be writing it: ten minutes old and its process id unused. Anything
// else stays.
void removeStaleTemporaries(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  const time_t now = std::time(nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const TemporaryOwner owner = ownerOfTemporary(name);
    if (owner.writer == TemporaryWriter::kNotOurs || owner.writer == TemporaryWriter::kRunning) {
      continue;
    }
    struct stat st {};
    if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != geteuid()) {
      continue;
    }
    if (owner.writer == TemporaryWriter::kUnprovable &&
        (now - st.st_mtime < kStaleTemporarySeconds || kill(owner.pid, 0) == 0 || errno != ESRCH)) {
      continue;
    }
    unlinkat(dirfd(dir), name.c_str(), 0);
  }
  closedir(dir);
}

}  // namespace

const FileSystemCalls& realFileSystem() {
  static const FileSystemCalls calls{openReal, ::fsync, ::linkat, ::rename};
  return calls;
}

CheckedSave::CheckedSave(std::string path, std::span<const std::string> inputs,
                         const FileSystemCalls& calls)
    : calls_(calls) {
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
  removeStaleTemporaries(folderOf(target_));
  if (!createTemporary()) {
    fail(Stage::kTarget, "cannot create a file in " + folderOf(target_) + ": " + errnoText(errno));
    return;
  }
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

// An unnamed file in the target's folder where the file system has them, else a hidden named
// one. Mode 0666 so the kernel applies the umask as for any new file (mkstemp would give 0600,
// and reading the umask means changing it for every thread). False with errno set.
bool CheckedSave::createTemporary() {
  // Without /proc an unnamed file could not be given a name later.
  if (access("/proc/self/fd", X_OK) == 0) {
    fd_ = calls_.openFile(folderOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    // Only a file system without unnamed files gets the named way; any other failure is told.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = temporaryName(folderOf(target_), nameOf(target_));
    fd_ = calls_.openFile(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temporary_ = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Gives a complete unnamed file its unique hidden name, through /proc as the kernel allows
// without privileges. False with errno set.
bool CheckedSave::nameTemporary() {
  if (!temporary_.empty()) return true;
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = temporaryName(folderOf(target_), nameOf(target_));
    if (calls_.linkAt(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temporary_ = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
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
  if (calls_.sync(fd_) != 0) {
    fail(Stage::kWriting, "writing " + target_ + ": " + errnoText(errno));
    return false;
  }
  if (!nameTemporary()) {
    fail(Stage::kWriting, "writing " + target_ + ": " + errnoText(errno));
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    fail(Stage::kWriting, "writing " + target_ + ": " + errnoText(errno));
    return false;
  }
  if (calls_.renameFile(temporary_.c_str(), target_.c_str()) != 0) {
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
