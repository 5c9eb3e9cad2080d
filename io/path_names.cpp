#include "io/path_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// As many links as the kernel itself follows before it gives up (ELOOP).
constexpr int kMaxLinkHops = 40;

}  // namespace

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> followLinks(std::string path, std::string& reason) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n < 0) {
      reason = path + ": " + std::strerror(errno);
      return std::nullopt;
    }
    target.resize(static_cast<size_t>(n));
    path = target.front() == '/' ? target : folderOf(path) + "/" + target;
  }
  reason = path + ": " + std::strerror(ELOOP);
  return std::nullopt;
}
