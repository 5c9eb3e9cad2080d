#pragma once
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"

// The files one run reads and writes, each with the option that named it, so that two names of
// one file (`y.son` and `./y.son`, a link and its target, a full path and a relative one) are
// caught before anything is measured: an output that is an input or another output would be
// lost under the other name.
struct NamedFile {
  std::string role;  // "--load", "--png", "the sonar file", ...
  std::string path;
  bool output = false;
};

// Every file the request names: --load, the command's outputs (--save, --png, --csv, --wav) and
// the files its plain arguments name (render, analyze).
std::vector<NamedFile> namedFiles(const CliRequest& request);

// Whether the two paths are one file: the same device and inode where the file exists, else
// the same resolved folder and name (links followed) where it will be made.
bool sameFile(const std::string& a, const std::string& b);

// The first pair of the files that are one file while one of them is written, as a sentence
// naming both; nothing when every output is a file of its own.
std::optional<std::string> clashingFiles(const std::vector<NamedFile>& files);
