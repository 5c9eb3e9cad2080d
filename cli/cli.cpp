#include "cli/cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "app/chirp_warning.h"
#include "app/header_ranges.h"
#include "audio/measurement.h"
#include "cli/backend_setup.h"
#include "cli/calibration_options.h"
#include "cli/cli_shell.h"
#include "cli/commands.h"
#include "cli/file_roles.h"
#include "cli/session_options.h"
#include "cli/settings_fields.h"
#include "engine/buffer_plan.h"
#include "engine/quiet_chirp.h"

namespace {

constexpr const char* kUsage =
    "usage: mervane-cli [OPTIONS] COMMAND [ARGS]\n"
    "\n"
    "Options:\n"
    "  --backend sim|portaudio|replay:DIR\n"
    "                            audio back end (default sim); replay:DIR plays a recorded\n"
    "                            session back\n"
    "  --room ROOM               the simulated room, e.g. latency=7.4,echo=1.5:0.2,noise=30\n"
    "  --device NAME             PortAudio device name or index for both directions\n"
    "  --load FILE               load a .son sonar file or a .par parameter file\n"
    "  --set FIELD=VALUE         set one setting (repeatable)\n"
    "  --json                    print one JSON document instead of text\n"
    "  --temperature C           read distances at the speed of sound of air at C degrees\n"
    "                            Celsius (water: of water at C degrees)\n"
    "  --humidity P              the air's relative humidity with --temperature (default 50)\n"
    "  --calibration FILE        read distances with the calibration saved by calibrate --save\n"
    "  --quiet-chirp             the quiet chirp: 18-23 kHz at 48 kHz (18-28 kHz at 96 kHz),\n"
    "                            16 bits; applied after --load and before any --set\n"
    "  --help, --version\n"
    "\n"
    "Commands:\n"
    "  settings                  plan the buffers and print every setting\n"
    "  chirp [--wav FILE]        print the chirp reference and play buffer\n"
    "  ping [--count N] [--average] [--record DIR]\n"
    "                            N measurements, each as a timed ping takes it; --average adds\n"
    "                            the echoes of all N combined (weak far walls out of the noise)\n"
    "  analyze FILE.wav... [--average]\n"
    "                            analyse recordings, each as one ping in order, without devices;\n"
    "                            all must share one format; --average adds their combined echoes\n"
    "  analyze DIR               analyse every ping of a recorded session, printed as ping\n"
    "                            --average prints them\n"
    "  devices                   list the PortAudio devices, marking the defaults\n"
    "  sweep [--columns N] [--save FILE.son|FILE.par] [--png FILE.png] [--csv FILE.csv]\n"
    "        [--record DIR] [--changes] [--changes-time S]\n"
    "                            timed pings as the main window takes them, then save and draw\n"
    "  search-offset             find the playback-to-record latency (the Search offset command)\n"
    "  render FILE.son --png OUT.png [--csv OUT.csv] [--changes] [--changes-time S]\n"
    "                            draw a sonar file's echogram as File Open shows it; --csv\n"
    "                            writes its distances as sweep --csv does (exit 2 when the\n"
    "                            file holds none)\n"
    "  track --near D [--count N] [--csv FILE]\n"
    "                            follow the echo nearest D metres for N pings (default 100) to a\n"
    "                            fraction of a millimetre; --csv writes "
    "time_s,distance_m,amplitude\n"
    "  calibrate --distance D [--second-distance D2] [--count N] [--save FILE]\n"
    "                            with a wall D metres in front of the device, solve the offset\n"
    "                            its geometry adds (and with a second wall or object at D2 the\n"
    "                            speed of sound too) from N pings (default 4); --save writes the\n"
    "                            calibration file --calibration reads\n"
    "\n"
    "The simulated room (--room, MERVANE_ROOM): comma-separated KEY=VALUE, each optional.\n"
    "  latency=MS direct=GAIN echo=METRES:GAIN (repeatable) noise=RMS seed=N speed=M/S\n"
    "  temperature=C humidity=P  the room's air: its speed of sound instead of speed=\n"
    "                            a direct sound and point reflectors (default: echoes at 0.80\n"
    "                            and 1.90 m without --room)\n"
    "  echo=METRES:GAIN:move=M@HZ | echo=METRES:GAIN:vel=V | person=METRES\n"
    "                            a reflector swinging +-M metres at HZ, one moving at V m/s\n"
    "                            (positive away), a breathing person; on the room's clock, which\n"
    "                            starts at the first ping\n"
    "  preset=desk|office|hall   a laptop (two microphones above and behind its loudspeaker)\n"
    "                            facing a wall 0.75 m, 1.5 m or 5 m away; comes first, the\n"
    "                            keys after it refine it\n"
    "  size=L:W:H pos=X:Y:Z facing=DEG\n"
    "                            a shoebox room [m], the loudspeaker in it, its front [degrees\n"
    "                            from the length axis]; these keys, up to beam=, make the room a\n"
    "                            shoebox with image sources and a diffuse tail\n"
    "  spacing=M | mic=R:U:F (one per channel)\n"
    "                            microphone above the loudspeaker, or right/up/forward of it [m]\n"
    "  rt=S order=N scatter=S tail=GAIN air=DB_PER_M beam=B\n"
    "                            reverberation time, reflection order (0-12), scattered share,\n"
    "                            diffuse tail level, air absorption, loudspeaker beam (0-1)\n"
    "  speaker=RESP micresponse=RESP\n"
    "                            flat, lowpass:HZ[:ORDER], highpass:HZ, phase:DEG,\n"
    "                            resonant[:HZ:Q:DB], ringing[:HZ:Q:DB]\n"
    "  pink=RMS dc=OFFSET clip=FRACTION\n"
    "                            pink noise and DC offset [16-bit units], clipping [share\n"
    "                            of full scale]\n"
    "  case=MS:DB[:RESP]         sound through the device's case, MS milliseconds (0-5) before\n"
    "                            the air path's direct sound, DB decibels (-40 to 40) relative to\n"
    "                            it, through RESP (default lowpass:4000); also in the plain room\n"
    "Distances are half the way an echo travels beyond the direct sound: at the desk, with the\n"
    "microphones 17 cm above and 7 cm behind the loudspeaker, the wall 0.75 m away is at 0.70 m.\n"
    "\n"
    "Without --temperature or --calibration distances are read at the medium's own speed (air\n"
    "337.6 m/s) with no offset. With either, the JSON of ping, sweep and analyze starts with\n"
    "\"speedOfSound\" and \"offsetMetres\", and sweep --csv with the line\n"
    "'# speed of sound S m/s, offset O m'. The room keeps its own air: temperature=C and\n"
    "humidity=P (default 50) in --room make it that air's speed (not with speed=).\n"
    "\n"
    "ping prints each ping as it is measured. With --json its one document is streamed:\n"
    "'{\"pings\":[' on the first line, one ping object per line (each after the first\n"
    "starting with a comma), ']}' on the last, closed also when a ping fails; with\n"
    "--average the combined echoes follow the pings as the member \"average\".\n"
    "--record DIR keeps the warm-up and the recording of every ping in a new session folder\n"
    "(session.json, pings.jsonl, NNNNNN-warmup.wav, NNNNNN.wav) for --backend replay:DIR and\n"
    "'analyze DIR'; the offset search and the audio checks are not recorded. At the default\n"
    "format a ping takes about 25 KB (a 10 KB recording and its 15 KB warm-up), an hour of\n"
    "timed pings about 340 MB; recording does not start on a disk that cannot hold a minute.\n"
    "--changes draws each column as its change from a running estimate of the still room,\n"
    "per range bin: a still echo fades out within --changes-time S seconds (default 5),\n"
    "what moves stands out; saved files keep the raw columns. track prints one line per\n"
    "ping (with --json a streamed document like ping's, each ping with \"time\", \"track\",\n"
    "\"distance\" and \"amplitude\"); a ping that lost the echo says \"lost\" and leaves\n"
    "the distance out, and the next ping looks for the echo nearest its last distance.\n"
    "MERVANE_AUDIO=sim|portaudio|replay:DIR and MERVANE_ROOM=ROOM choose the back end and the "
    "room\n"
    "when --backend and --room do not; the room is ignored with portaudio.\n"
    "--set values must fit sonar and parameter files (README, Files); outputs that are\n"
    "one file under two names, or an input, are refused before anything is measured.\n"
    "Exit status: 0 success, 1 the operation ran and failed (a device, a save, the\n"
    "output), 2 bad usage or input. Files are replaced only by a complete new file.\n";

bool takesValue(const std::string& option) {
  return option == "--backend" || option == "--room" || option == "--device" ||
         option == "--load" || option == "--set" || option == "--temperature" ||
         option == "--humidity" || option == "--calibration";
}

void applyOption(const std::string& option, const std::string& value, CliRequest& request) {
  if (option == "--backend") request.backend = value;
  if (option == "--room") request.room = value;
  if (option == "--device") request.device = value;
  if (option == "--load") request.load = value;
  if (option == "--set") request.sets.push_back(value);
  if (option == "--temperature") request.temperature = value;
  if (option == "--humidity") request.humidity = value;
  if (option == "--calibration") request.calibrationFile = value;
}

// What a command printed must have reached its destination: a full disk or a closed pipe turns
// a success into a failure, with the reason.
int endOfOutput(std::ostream& out, std::ostream& err, int code) {
  if (out.good()) {
    errno = 0;
    if (out.flush()) return code;
  }
  // A stream that failed earlier keeps the reason of its failed write in errno, as a rule.
  const int error = errno;
  err << "mervane-cli: the output could not be written"
      << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
  return code == kExitOk ? kExitFailed : code;
}

}  // namespace

void warnOfFoldedChirp(CliRun& run) {
  if (const std::string warning = foldedChirpWarning(run.program.settings); !warning.empty()) {
    run.err << "mervane-cli: warning: " << warning << "\n";
  }
}

CliEnvironment processEnvironment() {
  CliEnvironment environment;
  // Empty counts as unset, as for the desktop program's MERVANE_AUDIO.
  if (const char* audio = std::getenv("MERVANE_AUDIO"); audio != nullptr && *audio != '\0') {
    environment.audio = audio;
  }
  if (const char* room = std::getenv("MERVANE_ROOM"); room != nullptr) environment.room = room;
  return environment;
}

std::optional<std::string> parseCliRequest(const std::vector<std::string>& words,
                                           CliRequest& request, const CliEnvironment& environment) {
  bool backendGiven = false;
  for (const std::string& w : words) {
    backendGiven = backendGiven || w == "--backend" || w.rfind("--backend=", 0) == 0;
  }
  if (environment.audio && !backendGiven) {
    if (*environment.audio != "sim" && *environment.audio != "portaudio" &&
        !isReplayBackend(*environment.audio)) {
      return "MERVANE_AUDIO: unknown back end '" + *environment.audio +
             "' (sim, portaudio or replay:DIR)";
    }
    request.backend = *environment.audio;
  }
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    // Global options may also follow the command; anything else there is the command's own.
    if (w == "--json") {
      request.json = true;
    } else if (w == "--quiet-chirp") {
      request.quietChirp = true;
    } else if (takesValue(w)) {
      if (i + 1 >= words.size()) return "option " + w + " needs a value";
      applyOption(w, words[++i], request);
    } else if (w.rfind("--", 0) == 0 && w.find('=') != std::string::npos &&
               takesValue(w.substr(0, w.find('=')))) {
      applyOption(w.substr(0, w.find('=')), w.substr(w.find('=') + 1), request);
    } else if (!request.command.empty()) {
      request.args.push_back(w);
    } else if (w.rfind("-", 0) == 0) {
      return "unknown option " + w;
    } else {
      request.command = w;
    }
  }
  if (request.command.empty()) return "no command given";
  if (request.backend != "sim" && request.backend != "portaudio" &&
      !isReplayBackend(request.backend)) {
    return "unknown back end '" + request.backend + "' (sim, portaudio or replay:DIR)";
  }
  if (request.backend == kReplayPrefix) return "--backend replay: needs a session folder";
  if (request.room && request.backend != "sim") return "--room needs --backend sim";
  // The variable describes the room the simulated back end uses; a sound card has none.
  if (environment.room && !request.room && request.backend == "sim") {
    request.room = *environment.room;
    request.roomOrigin = "MERVANE_ROOM";
  }
  return std::nullopt;
}

int runCli(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment) {
  for (const std::string& w : argv) {
    if (w == "--help" || w == "-h") {
      out << kUsage;
      return endOfOutput(out, err, kExitOk);
    }
    if (w == "--version") {
      out << "mervane-cli " << MERVANE_VERSION << "\n";
      return endOfOutput(out, err, kExitOk);
    }
  }
  CliRequest request;
  if (const auto problem = parseCliRequest(argv, request, environment)) {
    err << "mervane-cli: " << *problem << "\n" << kUsage;
    return kExitUsage;
  }
  const CliCommand* command = findCliCommand(request.command);
  if (command == nullptr) {
    err << "mervane-cli: unknown command '" << request.command << "'\n";
    return kExitUsage;
  }
  // Before any work: a clash found after a sweep would cost the user the sweep.
  if (const auto clash = clashingFiles(namedFiles(request))) {
    err << "mervane-cli: " << *clash << "\n";
    return kExitUsage;
  }
  CliRun run{request, out, err, {}, false};
  Program& program = run.program;
  applyResetValues(program.settings, program.scan);
  if (request.load) {
    if (const int code = loadRequestedFile(run, *request.load); code != kExitOk) return code;
  }
  if (request.quietChirp) applyQuietChirp(program.settings);
  for (const std::string& assignment : request.sets) {
    if (const std::string problem = setSettingsField(program.settings, assignment);
        !problem.empty()) {
      err << "mervane-cli: " << problem << "\n";
      return kExitUsage;
    }
  }
  // The settings as all --set left them, so their order never matters: what a file cannot hold
  // would come back as another value, and what Open refuses could not be read back at all.
  if (const HeaderRange* range = outOfRange(program.settings); range && !request.sets.empty()) {
    err << "mervane-cli: --set " << range->field << "=" << range->value(program.settings) << ": "
        << range->field << " takes " << acceptedValues(*range)
        << " (what sonar and parameter files hold)\n";
    return kExitUsage;
  }
  if (const std::string problem = applyCalibrationOptions(run); !problem.empty()) {
    err << "mervane-cli: " << problem << "\n";
    return kExitUsage;
  }
  // A replay's capture settings are the session's, whatever was loaded or set.
  const bool replay = command->needsAudio() && isReplayBackend(request.backend);
  if (replay) {
    if (const int code = loadReplaySession(run); code != kExitOk) return code;
  }
  run.planOk = planBuffers(program.settings);
  if (replay) {
    if (const int code = checkReplayPlan(run); code != kExitOk) return code;
  }
  // analyze replaces the format with its recording's and warns for that one.
  if (command->name != "analyze") warnOfFoldedChirp(run);
  if (command->needsAudio()) {
    if (const int code = setUpAudio(run); code != kExitOk) return code;
  }
  return endOfOutput(run.out, run.err, command->run(run));
}
