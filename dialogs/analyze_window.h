#pragma once
#include "app/program.h"
#include "dialogs/dialog_widgets.h"

class QSlider;
class SurfaceView;

// Template 106: the played chirp, the recording and the correlation of the latest measurement as
// traces, over a window chosen with three sliders: start ("1000", bytes of the recording),
// samples per pixel ("1001") and amplification of the recording ("1002"). Every slider change
// redraws the picture.
class AnalyzeWindow : public ModalDialog {
 public:
  AnalyzeWindow(const Program& program, QWidget* parent);

  SurfaceView& view() { return *view_; }

 private:
  void redraw();

  const Program& program_;
  QSlider* start_;
  QSlider* zoom_;
  QSlider* amplification_;
  SurfaceView* view_;
};

// The start slider's last position: 241 bytes before the end of the recording, 0 for a
// recording shorter than that.
int analyzeStartMaximum(uint32_t inBufferBytes);

// Client area the trace layout was made for: grid to x = 480, labels to y = 488.
constexpr int kAnalyzeClientWidth = 480;
constexpr int kAnalyzeClientHeight = 488;
