#include <algorithm>
#include <ostream>
#include <span>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/wav_io.h"

namespace {

template <typename T>
void printList(std::ostream& out, const char* name, std::span<const T> values) {
  out << name;
  for (const T& v : values) out << " " << static_cast<int64_t>(v);
  out << "\n";
}

}  // namespace

int runChirpCommand(CliRun& run) {
  std::string wavPath;
  const auto& args = run.request.args;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--wav" && i + 1 < args.size() && !args[i + 1].empty()) {
      wavPath = args[++i];
    } else if (args[i] == "--wav") {
      run.err << "mervane-cli: chirp: --wav needs a file name\n";
      return kExitUsage;
    } else {
      run.err << "mervane-cli: chirp takes only --wav FILE, got '" << args[i] << "'\n";
      return kExitUsage;
    }
  }
  const SonarSettings& s = run.program.settings;
  if (!run.planOk) {
    run.err << "mervane-cli: the buffer plan failed, so there is no chirp for these settings\n";
    return kExitFailed;
  }
  // The plan computes outBufferBytes + 4 reference entries; the last one is margin.
  const std::span<const int32_t> reference(
      s.chirpReference.data(), std::min<size_t>(s.chirpReference.size(), s.outBufferBytes + 4u));
  const std::span<const uint8_t> play(s.playBuffer);
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    json.numbers("reference", reference);
    json.numbers("playBuffer", play);
    json.endObject();
    run.out << json.text() << "\n";
  } else {
    printList(run.out, "reference", reference);
    printList(run.out, "playBuffer", play);
  }
  if (!wavPath.empty()) {
    const auto played = play.first(std::min<size_t>(play.size(), s.outBufferBytes));
    const std::vector<std::string> inputs(run.request.load ? 1 : 0, run.request.load.value_or(""));
    if (const std::string problem = writeWav(wavPath, s.waveFormat, played, inputs);
        !problem.empty()) {
      run.err << "mervane-cli: cannot write '" << wavPath << "': " << problem << "\n";
      return kExitFailed;
    }
  }
  return kExitOk;
}
