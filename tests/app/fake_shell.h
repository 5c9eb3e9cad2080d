#pragma once
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/shell.h"

// A shell without a window: records what the application shows and answers the file dialogs and
// modal dialogs from a script.
class FakeShell final : public Shell {
 public:
  struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon;
    MessageOwner owner;
  };

  void showMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageOwner owner) override {
    messages.push_back({std::string(text), std::string(caption), icon, owner});
    if (onMessage) onMessage(messages.back());
  }
  std::optional<FileChoice> chooseFileToOpen() override { return next(openChoices); }
  std::optional<FileChoice> chooseFileToSave() override { return next(saveChoices); }
  DialogResult runDialog(DialogId dialog) override {
    dialogs.push_back(dialog);
    if (onDialog) onDialog(dialog);
    return dialogResult;
  }
  void requestRepaint() override { ++repaints; }
  void showSurfaceNow() override { ++surfaceShows; }
  std::optional<std::string> chooseExportFile(ExportKind kind) override {
    exportKinds.push_back(kind);
    return exportPath;
  }
  SaveChoice askToSaveSweep() override {
    ++saveQuestions;
    return saveChoice;
  }
  void showHelp() override { ++helps; }
  void closeMainWindow() override { ++closes; }
  void showProgress(std::string_view status) override {
    progress.emplace_back(status);
    if (onProgress) onProgress();
  }

  std::vector<std::string> captions() const {
    std::vector<std::string> c;
    for (const Message& m : messages) c.push_back(m.caption);
    return c;
  }

  std::vector<Message> messages;
  std::deque<std::optional<FileChoice>> openChoices;
  std::deque<std::optional<FileChoice>> saveChoices;
  std::vector<DialogId> dialogs;
  DialogResult dialogResult = DialogResult::kOk;
  std::function<void(DialogId)> onDialog;
  std::function<void()> onProgress;  // a test's chance to send events into a waiting step
  std::function<void(const Message&)> onMessage;  // sees each message as it is shown
  std::vector<std::string> progress;
  int repaints = 0;
  int surfaceShows = 0;
  int helps = 0;
  int saveQuestions = 0;
  std::vector<ExportKind> exportKinds;
  std::optional<std::string> exportPath;
  SaveChoice saveChoice = SaveChoice::kDiscard;
  int closes = 0;

 private:
  static std::optional<FileChoice> next(std::deque<std::optional<FileChoice>>& script) {
    if (script.empty()) return std::nullopt;
    std::optional<FileChoice> c = script.front();
    script.pop_front();
    return c;
  }
};
