#pragma once
#include "app/program.h"
#include "dialogs/dialog_widgets.h"
#include "display/analyze_traces.h"

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
