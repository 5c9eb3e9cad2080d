#pragma once
#include "app/program.h"
#include "app/shell.h"
#include "dialogs/dialog_widgets.h"

class SurfaceView;

// Template 108: runs the audio-system check before it is shown, then shows the recorded
// amplitude across the 20 Hz to 20 kHz sweep. It changes nothing after the measurement.
class AudioCheckDialog : public ModalDialog {
 public:
  // Measures (blocking, with progress notes through the shell) and draws the result.
  AudioCheckDialog(Program& program, Shell& shell, QWidget* parent);

  SurfaceView& view() { return *view_; }

 private:
  SurfaceView* view_;
};

// The plot reaches x = 480 and y = 530.
constexpr int kAudioCheckClientWidth = 480;
constexpr int kAudioCheckClientHeight = 530;
