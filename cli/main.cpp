#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

int main(int argc, char** argv) {
  // A write beyond the file size limit (ulimit -f) fails with its reason instead of ending the
  // program with a core dump.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::vector<std::string> words(argv + 1, argv + argc);
  return runCli(words, std::cout, std::cerr, processEnvironment());
}
