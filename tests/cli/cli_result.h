#pragma once
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

// The command line run in this process, with what it printed.
struct CliResult {
  int code;
  std::string out, err;
};

inline CliResult cli(const std::vector<std::string>& words) {
  std::ostringstream out, err;
  const int code = runCli(words, out, err);
  return {code, out.str(), err.str()};
}

inline bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}
