#include <ostream>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/settings_fields.h"

namespace {

struct DerivedValue {
  const char* name;
  int64_t value;
};

}  // namespace

int runSettingsCommand(CliRun& run) {
  if (!run.request.args.empty()) {
    run.err << "mervane-cli: settings takes no arguments, got '" << run.request.args[0] << "'\n";
    return kExitUsage;
  }
  const SonarSettings& s = run.program.settings;
  const DerivedValue derived[] = {
      {"blockAlign", s.waveFormat.blockAlign},
      {"avgBytesPerSec", s.waveFormat.avgBytesPerSec},
      {"inBufferBytes", s.inBufferBytes},
      {"outBufferBytes", s.outBufferBytes},
  };
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    for (const std::string_view name : settingsFieldNames()) {
      json.number(name, settingsFieldValue(s, name));
    }
    for (const DerivedValue& d : derived) json.number(d.name, d.value);
    json.boolean("planOk", run.planOk);
    json.endObject();
    run.out << json.text() << "\n";
  } else {
    for (const std::string_view name : settingsFieldNames()) {
      run.out << name << " " << settingsFieldValue(s, name) << "\n";
    }
    for (const DerivedValue& d : derived) run.out << d.name << " " << d.value << "\n";
    run.out << "planOk " << (run.planOk ? "true" : "false") << "\n";
  }
  if (!run.planOk) {
    run.err << "mervane-cli: the buffer plan failed: a record or chirp length is above "
            << kMaxPlanBytes << " bytes\n";
    return kExitFailed;
  }
  return kExitOk;
}
