#pragma once
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/program.h"

class CliFrontEnd;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the operation ran and failed
constexpr int kExitUsage = 2;   // bad usage or bad input

struct CliRequest {
  std::string backend = "sim";
  std::optional<std::string> room;
  std::string roomOrigin = "--room";  // where the room came from, for its messages
  std::optional<std::string> device;
  std::optional<std::string> load;
  std::vector<std::string> sets;
  std::optional<std::string> temperature;      // --temperature C
  std::optional<std::string> humidity;         // --humidity P
  std::optional<std::string> calibrationFile;  // --calibration FILE
  bool json = false;
  std::string command;
  std::vector<std::string> args;  // the command's own arguments
};

// Everything one run works on; built by runCli from the request before the command runs: the
// program with its reset values, the load, the --set fields and the buffer plan applied, and for
// a command that needs audio also the back end and the device pair opened for the plan.
struct CliRun {
  const CliRequest& request;
  std::ostream& out;
  std::ostream& err;
  Program program;
  bool planOk = false;
  // The window-free main window (shell, plot surface, App over `program`), made on first use
  // by the commands that draw or load files.
  std::unique_ptr<CliFrontEnd> frontEnd{};
};

// The variables the desktop program also reads: MERVANE_AUDIO chooses the back end and
// MERVANE_ROOM describes the simulated room; an option on the command line wins, and the room
// is ignored when the back end is not the simulated room. Unset is nullopt.
struct CliEnvironment {
  std::optional<std::string> audio;
  std::optional<std::string> room;
};
CliEnvironment processEnvironment();

// The whole command line front end, callable in-process so tests see exit codes and output.
// Without an environment it runs as if neither variable were set.
int runCli(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment = {});

// Tells on stderr when the settings' chirp folds at the Nyquist frequency.
void warnOfFoldedChirp(CliRun& run);

// Parses the command-line words after the program name. Returns the reason on bad usage.
std::optional<std::string> parseCliRequest(const std::vector<std::string>& words,
                                           CliRequest& request,
                                           const CliEnvironment& environment = {});
