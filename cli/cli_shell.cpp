#include "cli/cli_shell.h"

#include <QGuiApplication>
#include <algorithm>
#include <cctype>
#include <clocale>
#include <ostream>

#include "app/sonar_files.h"
#include "display/echogram.h"

namespace {

// Message texts use "\r\n" line breaks; a terminal wants "\n".
std::string terminalText(std::string_view text) {
  std::string t;
  for (const char c : text) {
    if (c != '\r') t += c;
  }
  while (!t.empty() && t.back() == '\n') t.pop_back();
  return t;
}

std::string messageLine(const CliShell::Message& m) {
  return m.caption.empty() ? m.text : m.caption + ": " + m.text;
}

bool endsWithNoCase(const std::string& s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), s.end() - static_cast<ptrdiff_t>(suffix.size()),
                    [](unsigned char a, unsigned char b) {
                      // Paths come in UTF-8: <cctype> takes their bytes as unsigned char.
                      return std::tolower(a) == std::tolower(b);
                    });
}

// Qt's own chatter (a missing runtime folder, font notes) is not for the user of a command line;
// only critical messages pass.
void quietQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) qt_message_output(type, context, text);
}

// The offscreen platform needs no display, and the command line never shows a window.
std::unique_ptr<QGuiApplication> makeGuiIfNone(int& argc, char** argv) {
  if (QGuiApplication::instance() != nullptr) return nullptr;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(quietQtMessages);
  auto gui = std::make_unique<QGuiApplication>(argc, argv);
  // Qt takes the C locale from the environment; the picture's texts and every number the
  // command line prints keep their decimal point under any locale.
  std::setlocale(LC_NUMERIC, "C");
  return gui;
}

}  // namespace

void CliShell::showMessage(std::string_view text, std::string_view caption, MessageIcon,
                           MessageOwner) {
  messages_.push_back({terminalText(text), std::string(caption)});
  if (echo_) err_ << messageLine(messages_.back()) << "\n";
}

bool CliShell::takeRepaint() {
  const bool pending = repaintPending_;
  repaintPending_ = false;
  return pending;
}

std::string CliShell::reasonSince(size_t first) const {
  std::string reason;
  for (size_t i = first; i < messages_.size(); ++i) {
    std::string line = messageLine(messages_[i]);
    for (size_t at = line.find('\n'); at != std::string::npos; at = line.find('\n', at)) {
      line.replace(at, 1, ": ");
    }
    reason += (reason.empty() ? "" : "; ") + line;
  }
  return reason;
}

std::string CliShell::messagesSince(size_t first) const {
  std::string lines;
  for (size_t i = first; i < messages_.size(); ++i) lines += messageLine(messages_[i]) + "\n";
  return lines;
}

CliFrontEnd::CliFrontEnd(Program& program, std::ostream& err, bool echoMessages)
    : gui_(makeGuiIfNone(argc_, argv_)),
      shell_(err, echoMessages),
      surface_(kPlotClientWidth, kPlotClientHeight),
      app_{program, shell_, surface_} {}

CliFrontEnd::~CliFrontEnd() {
  if (gui_) qInstallMessageHandler(nullptr);
}

void CliFrontEnd::paintIfRequested() {
  if (shell_.takeRepaint()) paintPlot(app_);
}

CliFrontEnd& frontEndOf(CliRun& run) {
  if (!run.frontEnd) {
    run.frontEnd = std::make_unique<CliFrontEnd>(run.program, run.err, !run.request.json);
  }
  return *run.frontEnd;
}

std::optional<FileKind> fileKindOf(const std::string& path) {
  if (endsWithNoCase(path, ".son")) return FileKind::kSonar;
  if (endsWithNoCase(path, ".par")) return FileKind::kParameters;
  return std::nullopt;
}

int loadRequestedFile(CliRun& run, const std::string& path) {
  const std::optional<FileKind> kind = fileKindOf(path);
  if (!kind) {
    run.err << "mervane-cli: --load: '" << path
            << "' is neither a sonar file (.son) nor a parameter file (.par)\n";
    return kExitUsage;
  }
  CliShell& shell = frontEndOf(run).shell();
  const size_t first = shell.messages().size();
  const bool echo = shell.setEcho(false);
  const FileOutcome outcome = openChosenFile(frontEndOf(run).app(), FileChoice{path, *kind});
  shell.setEcho(echo);
  if (outcome != FileOutcome::kDone) {
    run.err << "mervane-cli: --load: cannot read '" << path << "': " << shell.reasonSince(first)
            << "\n";
    return kExitUsage;
  }
  printOpenNotes(run, shell, first);
  return kExitOk;
}

void printOpenNotes(CliRun& run, const CliShell& shell, size_t first) {
  for (size_t i = first; i < shell.messages().size(); ++i) {
    run.err << "mervane-cli: note: " << shell.messages()[i].text << "\n";
  }
}
