#pragma once
#include "app/program.h"
#include "app/shell.h"
#include "dialogs/dialog_widgets.h"
#include "dialogs/offset_logic.h"

class QLineEdit;
class QPixmap;

// Template 120: the latency offset, its tolerance and the ping interval, beside a small drawing
// that explains the two offsets. OK re-plans and prepares the devices.
class OffsetDialog : public ModalDialog {
 public:
  OffsetDialog(Program& program, Shell& shell, QWidget* parent);

  OffsetControls readControls() const;
  void done(int result) override;

 private:
  Program& program_;
  Shell& shell_;
  QLineEdit* offset_;
  QLineEdit* deltaOffset_;
  QLineEdit* clockInterval_;
};

// Bitmap 119: play starts, the recording starts an offset later, the delta-offset window sits
// where the recording starts. Drawn at `scale` times its 115 x 44 pixel design.
QPixmap drawOffsetExplanation(int scale);
