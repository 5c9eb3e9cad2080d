#include "audio/stderr_filter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

constexpr std::string_view kPrefixes[] = {"Expression '", "Assertion '"};

// A partial line that may still become a diagnostic is held back until its end comes.
bool mayBecomeDiagnostic(std::string_view start) {
  for (const std::string_view prefix : kPrefixes) {
    const size_t n = std::min(prefix.size(), start.size());
    if (start.substr(0, n) == prefix.substr(0, n)) return true;
  }
  return false;
}

void writeAll(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere left to report it
    text.remove_prefix(static_cast<size_t>(n));
  }
}

// The stream's state: text of a line not yet complete. The FILE's own lock serialises writers.
std::string pending;

ssize_t filteredWrite(void*, const char* data, size_t size) {
  pending.append(data, size);
  size_t start = 0;
  for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n', start)) {
    const std::string_view line(pending.data() + start, end - start + 1);
    if (!isPortAudioDiagnostic(line)) writeAll(line);
    start = end + 1;
  }
  pending.erase(0, start);
  if (!pending.empty() && !mayBecomeDiagnostic(pending)) {
    writeAll(pending);
    pending.clear();
  }
  return static_cast<ssize_t>(size);
}

}  // namespace

bool isPortAudioDiagnostic(std::string_view line) {
  for (const std::string_view prefix : kPrefixes) {
    if (line.substr(0, prefix.size()) == prefix && line.find("' failed in '") != line.npos) {
      return true;
    }
  }
  return false;
}

void filterPortAudioDiagnostics() {
  static std::once_flag once;
  std::call_once(once, [] {
    cookie_io_functions_t io{};
    io.write = filteredWrite;
    FILE* filtered = fopencookie(nullptr, "w", io);
    if (filtered == nullptr) return;
    setvbuf(filtered, nullptr, _IOLBF, BUFSIZ);
    fflush(stderr);
    stderr = filtered;
  });
}
