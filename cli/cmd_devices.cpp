#include <ostream>

#include "audio/portaudio_backend.h"
#include "cli/commands.h"
#include "cli/json.h"

int runDevicesCommand(CliRun& run) {
  if (!run.request.args.empty()) {
    run.err << "mervane-cli: devices takes no arguments\n";
    return kExitUsage;
  }
  std::vector<AudioDeviceInfo> devices;
  if (const WaveError e = listAudioDevices(devices); e != kWaveOk) {
    run.err << "mervane-cli: " << portAudioErrorText(e) << "\n";
    return kExitFailed;
  }
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    json.beginArray("devices");
    for (const AudioDeviceInfo& d : devices) {
      json.beginObject();
      json.number("index", d.index);
      json.string("name", d.name);
      json.string("hostApi", d.hostApi);
      json.number("maxInputChannels", d.maxInputChannels);
      json.number("maxOutputChannels", d.maxOutputChannels);
      json.boolean("defaultInput", d.defaultInput);
      json.boolean("defaultOutput", d.defaultOutput);
      json.endObject();
    }
    json.endArray();
    json.endObject();
    run.out << json.text() << "\n";
    return kExitOk;
  }
  if (devices.empty()) run.out << "no audio devices\n";
  for (const AudioDeviceInfo& d : devices) {
    run.out << d.index << ": " << d.name << " (" << d.hostApi << ") in " << d.maxInputChannels
            << " out " << d.maxOutputChannels << (d.defaultInput ? " [default input]" : "")
            << (d.defaultOutput ? " [default output]" : "") << "\n";
  }
  return kExitOk;
}
