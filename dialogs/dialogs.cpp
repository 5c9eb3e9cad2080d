#include "dialogs/dialogs.h"

#include "dialogs/analyze_window.h"
#include "dialogs/audio_check_dialog.h"
#include "dialogs/offset_dialog.h"
#include "dialogs/out_signal_dialog.h"
#include "dialogs/scale_dialog.h"
#include "dialogs/wave_format_dialog.h"

int runOutSignalDialog(Program& program, Shell& shell, QWidget* parent) {
  OutSignalDialog dialog(program, shell, parent);
  return dialog.exec();
}

int runWaveFormatDialog(Program& program, Shell& shell, QWidget* parent) {
  WaveFormatDialog dialog(program, shell, parent);
  return dialog.exec();
}

int runOffsetDialog(Program& program, Shell& shell, QWidget* parent) {
  OffsetDialog dialog(program, shell, parent);
  return dialog.exec();
}

int runScaleDialog(Program& program, Shell&, QWidget* parent) {
  ScaleDialog dialog(program, parent);
  return dialog.exec();
}

int runAudioCheckDialog(Program& program, Shell& shell, QWidget* parent) {
  AudioCheckDialog dialog(program, shell, parent);
  return dialog.exec();
}

int runAnalyzeWindow(Program& program, Shell&, QWidget* parent) {
  AnalyzeWindow window(program, parent);
  return window.exec();
}
