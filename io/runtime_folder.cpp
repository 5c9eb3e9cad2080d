#include "io/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

std::optional<std::string> provideRuntimeFolder() {
  if (const char* given = std::getenv("XDG_RUNTIME_DIR"); given != nullptr && *given != '\0') {
    return given;
  }
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  const std::string folder = base + "/runtime-mervane-" + std::to_string(geteuid());
  mkdir(folder.c_str(), 0700);
  // Someone else's folder, or one others may enter, would hand them our sockets and locks.
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0) {
    return std::nullopt;
  }
  if (setenv("XDG_RUNTIME_DIR", folder.c_str(), 1) != 0) return std::nullopt;
  return folder;
}
