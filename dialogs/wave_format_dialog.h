#pragma once
#include <array>

#include "app/program.h"
#include "app/shell.h"
#include "dialogs/dialog_widgets.h"
#include "dialogs/wave_format_logic.h"

class QCheckBox;
class QRadioButton;

// Template 111: mono or stereo, 8 or 16 bits and one of four rates. OK re-plans, reopens the
// devices in the new format and pings once.
class WaveFormatDialog : public ModalDialog {
 public:
  WaveFormatDialog(Program& program, Shell& shell, QWidget* parent);

  WaveFormatControls readControls() const;
  void done(int result) override;

 private:
  Program& program_;
  Shell& shell_;
  QCheckBox* stereo_;
  QCheckBox* sixteenBit_;
  std::array<QRadioButton*, kDialogRates.size()> rates_;
};
