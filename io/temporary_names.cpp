#include "io/temporary_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <optional>
#include <random>
#include <vector>

namespace {

std::string randomSuffix() {
  static std::atomic<uint64_t> counter{0};
  std::random_device random;
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "%08x%04x", random(),
                static_cast<unsigned>(counter.fetch_add(1) & 0xFFFF));
  return suffix;
}

enum class Lookup { kFound, kNoProcess, kUnknown };

// Field 22 of /proc/ENTRY/stat: the process's start in clock ticks after boot. The command name
// before it (field 2, in parentheses) may hold spaces and parentheses itself, so the fields are
// counted from the last ')'.
Lookup startTicks(const std::string& entry, uint64_t& ticks) {
  const std::string file = "/proc/" + entry + "/stat";
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ESRCH ? Lookup::kNoProcess : Lookup::kUnknown;
  char text[1024];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  const int readError = errno;
  ::close(fd);
  if (n < 0) return readError == ESRCH ? Lookup::kNoProcess : Lookup::kUnknown;
  const std::string_view stat(text, static_cast<size_t>(n));
  size_t at = stat.rfind(')');
  if (at == std::string_view::npos) return Lookup::kUnknown;
  // After ')' come field 3 (the state) onwards, each after one space.
  for (int field = 3; field <= 22; ++field) {
    at = stat.find(' ', at + 1);
    if (at == std::string_view::npos) return Lookup::kUnknown;
  }
  const char* begin = stat.data() + at + 1;
  const auto [end, error] = std::from_chars(begin, stat.data() + stat.size(), ticks);
  return error == std::errc{} && end != begin ? Lookup::kFound : Lookup::kUnknown;
}

// The inode of our process-id namespace: a process id means this process only inside it.
std::optional<uint64_t> pidNamespace() {
  struct stat st {};
  if (::stat("/proc/self/ns/pid", &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_ino);
}

std::vector<std::string_view> dashParts(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t from = 0;
  for (size_t dash; (dash = text.find('-', from)) != std::string_view::npos; from = dash + 1) {
    parts.push_back(text.substr(from, dash - from));
  }
  parts.push_back(text.substr(from));
  return parts;
}

template <typename Number>
bool parsed(std::string_view text, int base, Number& value) {
  if (text.empty() || text.size() > 20) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc{} && end == text.data() + text.size();
}

bool isRandomSuffix(std::string_view text) {
  uint64_t ignored = 0;
  return text.size() == 12 && parsed(text, 16, ignored);
}

}  // namespace

std::string temporaryName(const std::string& folder, const std::string& name) {
  const std::string pid = std::to_string(getpid());
  std::string writer = pid;
  uint64_t ticks = 0;
  const std::optional<uint64_t> space = pidNamespace();
  if (space && startTicks(pid, ticks) == Lookup::kFound) {
    char identity[48];
    std::snprintf(identity, sizeof identity, "-%llu-%llx", static_cast<unsigned long long>(ticks),
                  static_cast<unsigned long long>(*space));
    writer.append(identity);
  }
  return folder + "/." + name + std::string(kTemporaryMark) + writer + "-" + randomSuffix();
}

TemporaryOwner ownerOfTemporary(std::string_view name) {
  const size_t mark = name.rfind(kTemporaryMark);
  if (name.size() < 2 || name[0] != '.' || mark == std::string_view::npos || mark == 0) return {};
  const std::vector<std::string_view> parts = dashParts(name.substr(mark + kTemporaryMark.size()));
  pid_t pid = 0;
  if ((parts.size() != 2 && parts.size() != 4) || !parsed(parts[0], 10, pid) || pid <= 0 ||
      !isRandomSuffix(parts.back())) {
    return {};
  }
  if (parts.size() == 2) return {TemporaryWriter::kUnprovable, pid};
  uint64_t ticks = 0, space = 0;
  if (!parsed(parts[1], 10, ticks) || !parsed(parts[2], 16, space)) return {};
  uint64_t running = 0;
  if (pidNamespace() != space || startTicks("self", running) != Lookup::kFound) {
    return {TemporaryWriter::kUnprovable, pid};
  }
  switch (startTicks(std::to_string(pid), running)) {
    case Lookup::kNoProcess:
      return {TemporaryWriter::kGone, pid};
    case Lookup::kFound:
      // Another start time: the id now belongs to a later process.
      return {running == ticks ? TemporaryWriter::kRunning : TemporaryWriter::kGone, pid};
    case Lookup::kUnknown:
      break;
  }
  return {TemporaryWriter::kUnprovable, pid};
}
