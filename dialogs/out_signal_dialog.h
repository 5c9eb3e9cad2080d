#pragma once
#include <array>

#include "app/program.h"
#include "app/shell.h"
#include "dialogs/dialog_widgets.h"
#include "dialogs/out_signal_logic.h"

class QLineEdit;
class QRadioButton;

// Template 107: the chirp, the recording time and the medium, with a test ping ("Play") that
// also shows the planned buffer sizes and the greatest distance.
class OutSignalDialog : public ModalDialog {
 public:
  OutSignalDialog(Program& program, Shell& shell, QWidget* parent);

  OutSignalControls readControls() const;
  void done(int result) override;

 private:
  void fillControls(const OutSignalControls& controls);
  void play();
  void showFigures(const OutSignalFigures& figures);

  Program& program_;
  Shell& shell_;
  QLineEdit* startFrequency_;
  QLineEdit* endFrequency_;
  QLineEdit* recordTime_;
  QLineEdit* chirpTime_;
  QLineEdit* inBuffer_;
  QLineEdit* outBuffer_;
  QLineEdit* maxDistance_;
  QRadioButton* chirpBoth_;
  QRadioButton* chirpRising_;
  std::array<QRadioButton*, 4> media_;
  bool quietPreset_ = false;  // "Quiet chirp" was pressed
};
