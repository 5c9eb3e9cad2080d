#pragma once
#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/temporary_names.h"

// Every file the programs write (sonar and parameter files, pictures, distances, WAVs) goes
// through here, so a full disk, a vanished folder or an odd target never costs the user a good
// file and is always told:
//  - the target must be a regular file or a link to one (or not exist yet), writable, and not
//    one of the files the same operation reads (an output that is its input would destroy it);
//  - the bytes go to an unnamed file in the target's folder (O_TMPFILE), every write is checked
//    to its end and synced, and only then is it linked under a unique hidden name and renamed
//    over the target at once (through a link, onto the file it names, so the link stays a
//    link); the existing file keeps its permissions and owner. A save killed while writing
//    leaves nothing behind. Where the file system has no unnamed files the hidden name is made
//    first. Such a named file left by a killed save is removed by the next save to that folder
//    (temporary_names.h: at once when its writer has provably ended);
//  - on any failure the temporary file is removed and the target is byte-identical to before.
// Paths are the file system's bytes, whatever their encoding.

// The file system calls of a save, replaceable so that tests can make each one fail as a disk
// does (a flush that fails with EIO, a rename that fails). The defaults are the real calls.
struct FileSystemCalls {
  int (*openFile)(const char* path, int flags, mode_t mode);
  int (*sync)(int fd);
  int (*linkAt)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
  int (*renameFile)(const char* from, const char* to);
};
const FileSystemCalls& realFileSystem();

// A temporary file of ours this old whose writer /proc cannot check, and whose process id is
// unused, is litter of a killed save [s]; one whose writer has provably ended is at any age.
constexpr int kStaleTemporarySeconds = 600;

class CheckedSave {
 public:
  // The step that failed, so callers can show their own message for it first.
  enum class Stage {
    kNone,     // nothing failed
    kTarget,   // the target is not a file that may be replaced, or no temporary file could be made
    kWriting,  // writing, syncing, closing or renaming
  };

  // Checks the target and creates the temporary file. `inputs` are files the operation reads.
  explicit CheckedSave(std::string path, std::span<const std::string> inputs = {},
                       const FileSystemCalls& calls = realFileSystem());
  ~CheckedSave();
  CheckedSave(const CheckedSave&) = delete;
  CheckedSave& operator=(const CheckedSave&) = delete;

  bool ready() const { return fd_ >= 0 && stage_ == Stage::kNone; }
  // Appends the bytes; false (with the reason kept) at the first failure.
  bool write(std::span<const uint8_t> bytes);
  bool write(std::string_view text);
  // Syncs, closes and renames over the target. False when anything failed before or now.
  bool commit();

  Stage failedStage() const { return stage_; }
  // Why the save failed, for the user ("No space left on device", "/x/y.son is a FIFO, not a
  // regular file"); empty while nothing failed.
  const std::string& problem() const { return problem_; }

 private:
  void fail(Stage stage, std::string reason);
  void discard();
  bool createTemporary();
  bool nameTemporary();

  FileSystemCalls calls_;
  std::string target_;     // where the bytes end up (a link's target, not the link)
  std::string temporary_;  // the temporary file's name; empty while it has none
  int fd_ = -1;
  Stage stage_ = Stage::kNone;
  std::string problem_;
};

// The whole save in one call; returns the reason on failure, empty on success.
std::string saveBytesChecked(const std::string& path, std::span<const uint8_t> bytes,
                             std::span<const std::string> inputs = {});
std::string saveTextChecked(const std::string& path, std::string_view text,
                            std::span<const std::string> inputs = {});
