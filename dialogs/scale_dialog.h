#pragma once
#include "app/program.h"
#include "dialogs/dialog_widgets.h"
#include "dialogs/scale_logic.h"

class QCheckBox;
class QLineEdit;

// Template 121: cut-off, amplification, tune scale and the range gain. Done stores them (with
// silent replacements) and rebuilds the gain ramp; nothing is re-planned or redrawn. Values a
// file could not carry back are refused at Done with the reason, and the dialog stays open.
class ScaleDialog : public ModalDialog {
 public:
  ScaleDialog(Program& program, Shell& shell, QWidget* parent);

  ScaleControls readControls() const;
  void done(int result) override;

 private:
  Program& program_;
  Shell& shell_;
  QLineEdit* cutOff_;
  QLineEdit* amplification_;
  QLineEdit* tuneScale_;
  QLineEdit* gain_;
  QCheckBox* gainOn_;
};
