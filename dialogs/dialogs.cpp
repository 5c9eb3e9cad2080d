#include "dialogs/dialogs.h"

#include "dialogs/analyze_window.h"
#include "dialogs/audio_check_dialog.h"
#include "dialogs/offset_dialog.h"
#include "dialogs/out_signal_dialog.h"
#include "dialogs/scale_dialog.h"
#include "dialogs/wave_format_dialog.h"

DialogResult runOutSignalDialog(Program& program, Shell& shell, QWidget* parent) {
  OutSignalDialog dialog(program, shell, parent);
  return dialogResultOf(dialog.exec());
}

DialogResult runWaveFormatDialog(Program& program, Shell& shell, QWidget* parent) {
  WaveFormatDialog dialog(program, shell, parent);
  return dialogResultOf(dialog.exec());
}

DialogResult runOffsetDialog(Program& program, Shell& shell, QWidget* parent) {
  OffsetDialog dialog(program, shell, parent);
  return dialogResultOf(dialog.exec());
}

DialogResult runScaleDialog(Program& program, Shell& shell, QWidget* parent) {
  ScaleDialog dialog(program, shell, parent);
  return dialogResultOf(dialog.exec());
}

DialogResult runAudioCheckDialog(Program& program, Shell& shell, QWidget* parent) {
  AudioCheckDialog dialog(program, shell, parent);
  return dialogResultOf(dialog.exec());
}

DialogResult runAnalyzeWindow(Program& program, Shell&, QWidget* parent) {
  AnalyzeWindow window(program, parent);
  return dialogResultOf(window.exec());
}
