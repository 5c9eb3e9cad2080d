#pragma once
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

// While it lives, no file of the process may grow beyond `bytes`: a write past that fails with
// EFBIG ("File too large"), as a full disk fails with ENOSPC. The kernel's own limit, so the code
// under test meets a real failed write, not a model of one.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // else the signal ends the process
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = SIG_DFL;
};

// A file's bytes as they stand, to compare before and after a failed save.
inline std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
