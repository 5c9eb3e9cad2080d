#pragma once
#include <cstdint>
#include <string>

#include "cli/cli.h"
#include "cli/ping_report.h"

// Each ping is printed the moment it is measured, so a run that fails half-way has shown every
// ping before the failure, and a long run needs no memory for its pings. In JSON the document is
// streamed: its opening on the first line, one ping object per line, its closing on the last,
// written also when a ping fails; the average of a whole run comes after the pings.
class PingPrinter {
 public:
  explicit PingPrinter(CliRun& run);
  ~PingPrinter();
  PingPrinter(const PingPrinter&) = delete;
  PingPrinter& operator=(const PingPrinter&) = delete;

  // False once the output cannot be written (a full disk, a closed pipe).
  bool print(uint32_t n, const PingReport& report);
  // The echoes of the latest pings combined, once every ping of the run has been measured.
  bool printAverage(uint32_t pings);

 private:
  CliRun& run_;
  std::string closing_;
};
