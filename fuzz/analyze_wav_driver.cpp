#include <sstream>

#include "cli/cli.h"
#include "fuzz/drivers.h"
#include "fuzz/fuzz_support.h"

void runAnalyzeWavInput(std::span<const uint8_t> bytes) {
  const ScratchFile file(".wav", bytes);
  std::ostringstream out, err;
  runCli({"analyze", file.path(), "--json"}, out, err);
}
