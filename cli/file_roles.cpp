#include "cli/file_roles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "io/path_names.h"

namespace {

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

// Where a file that does not exist yet would be made: its folder resolved, then its name.
std::string placeOf(const std::string& path) {
  // A link that cannot be followed is compared by its own name; saving through it fails later
  // with the reason.
  std::string unfollowed;
  const std::string last = followLinks(path, unfollowed).value_or(path);
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
