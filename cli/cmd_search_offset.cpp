#include <ostream>

#include "app/app_steps.h"
#include "app/offset_search.h"
#include "cli/cli_shell.h"
#include "cli/commands.h"
#include "cli/json.h"

int runSearchOffsetCommand(CliRun& run) {
  if (!run.request.args.empty()) {
    run.err << "mervane-cli: search-offset takes no arguments, got '" << run.request.args[0]
            << "'\n";
    return kExitUsage;
  }
  CliFrontEnd& front = frontEndOf(run);
  CliShell& shell = front.shell();
  // The desktop program's messages ("Search offset: ...") are the command's output here; a device
  // failure is told once, in the line below.
  const bool echo = shell.setEcho(false);
  const size_t firstMessage = shell.messages().size();
  const OffsetSearchOutcome o = searchOffsetCommand(front.app());
  shell.setEcho(echo);
  const std::string failure = o.deviceFailed ? shell.reasonSince(firstMessage + 1) : std::string();
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    json.number("result", o.result);
    json.number("peakAmplitude", o.peakAmplitude);
    json.number("offsetBytes", run.program.settings.offsetBytes);
    json.boolean("strong", o.strong);
    json.string("message", o.deviceFailed ? failure : o.message);
    json.endObject();
    run.out << json.text() << "\n";
  } else if (!o.deviceFailed) {
    if (echo) run.err << shell.messagesSince(firstMessage);
    run.out << "search-offset: result " << o.result << " bytes, offsetBytes "
            << run.program.settings.offsetBytes << ", peak " << o.peakAmplitude << ", "
            << (o.strong ? "strong" : "weak") << "\n";
  }
  if (o.deviceFailed) {
    run.err << "mervane-cli: the offset search stopped, offsetBytes stays "
            << run.program.settings.offsetBytes << ": " << failure << "\n";
    return kExitFailed;
  }
  return kExitOk;
}
