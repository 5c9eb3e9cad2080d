#pragma once
#include <string>
#include <vector>

#include "app/shell.h"

// A shell without windows: it remembers every message and progress note.
struct ShownMessage {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::kNone;
  MessageOwner owner = MessageOwner::kNoOwner;
};

class RecordingShell : public Shell {
 public:
  void showMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageOwner owner) override {
    messages.push_back({std::string(text), std::string(caption), icon, owner});
  }
  std::optional<FileChoice> chooseFileToOpen() override { return std::nullopt; }
  std::optional<FileChoice> chooseFileToSave() override { return std::nullopt; }
  DialogResult runDialog(DialogId) override { return DialogResult::kCancel; }
  void requestRepaint() override { ++repaints; }
  void showSurfaceNow() override {}
  void showHelp() override {}
  void closeMainWindow() override {}
  void showProgress(std::string_view status) override { progress.emplace_back(status); }

  std::vector<std::string> captions() const {
    std::vector<std::string> result;
    for (const ShownMessage& m : messages) result.push_back(m.caption);
    return result;
  }

  std::vector<ShownMessage> messages;
  std::vector<std::string> progress;
  int repaints = 0;
};
