#pragma once
#include <string_view>

#include "cli/cli.h"

// One entry per command of the command-line interface.
struct CliCommand {
  std::string_view name;
  int (*run)(CliRun& run);
};

int runSettingsCommand(CliRun& run);
int runChirpCommand(CliRun& run);

const CliCommand* findCliCommand(std::string_view name);
