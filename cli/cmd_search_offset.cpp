#include <ostream>

#include "app/app_steps.h"
#include "app/offset_search.h"
#include "cli/cli_shell.h"
#include "cli/commands.h"
#include "cli/json.h"

namespace {

bool deviceFailed(const CliShell& shell, size_t firstMessage) {
  for (size_t i = firstMessage; i < shell.messages().size(); ++i) {
    const std::string& caption = shell.messages()[i].caption;
    if (caption == kCaptionWaveOut || caption == kCaptionResetOpen) return true;
  }
  return false;
}

}  // namespace

int runSearchOffsetCommand(CliRun& run) {
  if (!run.request.args.empty()) {
    run.err << "mervane-cli: search-offset takes no arguments, got '" << run.request.args[0]
            << "'\n";
    return kExitUsage;
  }
  CliFrontEnd& front = frontEndOf(run);
  const size_t firstMessage = front.shell().messages().size();
  const OffsetSearchOutcome o = searchOffsetCommand(front.app());
  const bool failed = deviceFailed(front.shell(), firstMessage);
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    json.number("result", o.result);
    json.number("peakAmplitude", o.peakAmplitude);
    json.number("offsetBytes", run.program.settings.offsetBytes);
    json.boolean("strong", o.strong);
    json.string("message", o.message);
    json.endObject();
    run.out << json.text() << "\n";
    if (failed) run.err << front.shell().messagesSince(firstMessage);
  } else {
    run.out << "search-offset: result " << o.result << " bytes, offsetBytes "
            << run.program.settings.offsetBytes << ", peak " << o.peakAmplitude << ", "
            << (o.strong ? "strong" : "weak") << "\n";
  }
  return failed ? kExitFailed : kExitOk;
}
