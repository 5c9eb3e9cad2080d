#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Every file the programs write (sonar and parameter files, pictures, distances, WAVs) goes
// through here, so a full disk, a vanished folder or an odd target never costs the user a good
// file and is always told:
//  - the target must be a regular file or a link to one (or not exist yet), writable, and not
//    one of the files the same operation reads (an output that is its input would destroy it);
//  - the bytes go to a unique hidden file beside the target, every write is checked to its end,
//    synced and closed, and only then renamed over the target (through a link, onto the file it
//    names, so the link stays a link); the existing file keeps its permissions and owner;
//  - on any failure the temporary file is removed and the target is byte-identical to before.
// Paths are the file system's bytes, whatever their encoding.

class CheckedSave {
 public:
  // The step that failed, so callers can show their own message for it first.
  enum class Stage {
    kNone,     // nothing failed
    kTarget,   // the target is not a file that may be replaced, or no temporary file could be made
    kWriting,  // writing, syncing, closing or renaming
  };

  // Checks the target and creates the temporary file. `inputs` are files the operation reads.
  explicit CheckedSave(std::string path, std::span<const std::string> inputs = {});
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

  std::string target_;     // where the bytes end up (a link's target, not the link)
  std::string temporary_;  // empty when none exists
  int fd_ = -1;
  Stage stage_ = Stage::kNone;
  std::string problem_;
};

// The whole save in one call; returns the reason on failure, empty on success.
std::string saveBytesChecked(const std::string& path, std::span<const uint8_t> bytes,
                             std::span<const std::string> inputs = {});
std::string saveTextChecked(const std::string& path, std::string_view text,
                            std::span<const std::string> inputs = {});
