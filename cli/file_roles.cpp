#include "cli/file_roles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace {

// As many links as the kernel itself follows before it gives up (ELOOP).
constexpr int kMaxLinkHops = 40;

bool isOutputOption(const std::string& word) {
  return word == "--save" || word == "--png" || word == "--csv" || word == "--wav";
}

// Command options that take a value that is not a file.
bool takesNumber(const std::string& word) {
  return word == "--columns" || word == "--count";
}

// Commands whose plain arguments are files they read.
bool readsPlainArguments(const std::string& command) {
  return command == "render" || command == "analyze";
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

// The path a chain of links ends at, whether or not that file exists yet.
std::string lastLink(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(PATH_MAX + 1, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) return path;
    target.resize(static_cast<size_t>(n));
    path = target.front() == '/' ? target : folderOf(path) + "/" + target;
  }
  return path;
}

// Where a file that does not exist yet would be made: its folder resolved, then its name.
std::string placeOf(const std::string& path) {
  const std::string last = lastLink(path);
  std::string folder = folderOf(last);
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(folder.c_str(), nullptr),
                                                             &std::free);
  if (resolved) folder = resolved.get();
  return folder + "/" + nameOf(last);
}

}  // namespace

std::vector<NamedFile> namedFiles(const CliRequest& request) {
  std::vector<NamedFile> files;
  if (request.load) files.push_back({"--load", *request.load, false});
  const std::vector<std::string>& args = request.args;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (isOutputOption(args[i]) && hasValue) {
      files.push_back({args[i], args[i + 1], true});
      ++i;
    } else if (takesNumber(args[i]) && hasValue) {
      ++i;
    } else if (readsPlainArguments(request.command) && args[i].rfind("--", 0) != 0) {
      files.push_back(
          {request.command == "render" ? "the sonar file" : "the recording", args[i], false});
    }
  }
  return files;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  const bool aExists = stat(a.c_str(), &sa) == 0;
  const bool bExists = stat(b.c_str(), &sb) == 0;
  if (aExists && bExists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (aExists != bExists) return false;
  return placeOf(a) == placeOf(b);
}

std::optional<std::string> clashingFiles(const std::vector<NamedFile>& files) {
  for (size_t i = 0; i < files.size(); ++i) {
    for (size_t j = i + 1; j < files.size(); ++j) {
      const NamedFile& a = files[i];
      const NamedFile& b = files[j];
      if ((!a.output && !b.output) || a.path.empty() || b.path.empty()) continue;
      if (!sameFile(a.path, b.path)) continue;
      const std::string both =
          a.role + " '" + a.path + "' and " + b.role + " '" + b.path + "' are the same file";
      if (!a.output || !b.output) return both + ": an output may not replace a file the run reads";
      return both + ": each output needs a file of its own";
    }
  }
  return std::nullopt;
}
