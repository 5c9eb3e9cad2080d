#pragma once
// The names the checked save gives its temporary files, and what a later save may conclude from
// such a name about the file's writer.

#include <sys/types.h>

#include <string>
#include <string_view>

// The name part that marks a temporary file of ours.
constexpr std::string_view kTemporaryMark = ".~mervane-";

// ".NAME.~mervane-PID-START-NS-RANDOM" in the target's folder: the writer's process id, its
// start time (clock ticks since boot) and its process-id namespace, which together name one
// process for as long as the machine runs, although process ids are used again. Where /proc
// cannot tell them, ".NAME.~mervane-PID-RANDOM".
std::string temporaryName(const std::string& folder, const std::string& name);

enum class TemporaryWriter {
  kNotOurs,     // not a name of our pattern: never touched
  kRunning,     // the process that made it still runs
  kGone,        // that process has ended (or the machine restarted since)
  kUnprovable,  // an older or foreign name: /proc cannot tell whether its writer runs
};

struct TemporaryOwner {
  TemporaryWriter writer = TemporaryWriter::kNotOurs;
  pid_t pid = 0;  // the writer's process id as the name gives it, for kUnprovable
};

// What the name says about its writer, checked against /proc.
TemporaryOwner ownerOfTemporary(std::string_view name);
