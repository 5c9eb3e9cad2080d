#pragma once
#include <QPixmap>
#include <QString>

#include "app/program.h"
#include "app/shell.h"

class QWidget;

// The modal settings and test windows. Each runs to its end and returns how it ended; each
// commits its own changes to the program.
DialogResult runOutSignalDialog(Program& program, Shell& shell, QWidget* parent);
DialogResult runWaveFormatDialog(Program& program, Shell& shell, QWidget* parent);
DialogResult runOffsetDialog(Program& program, Shell& shell, QWidget* parent);
DialogResult runScaleDialog(Program& program, Shell& shell, QWidget* parent);
DialogResult runAudioCheckDialog(Program& program, Shell& shell, QWidget* parent);
DialogResult runAnalyzeWindow(Program& program, Shell& shell, QWidget* parent);
// What the About box shows besides its fixed text: its two pictures (87 x 57 and 18 x 18
// pixels) and which sound system the program runs on.
struct AboutContent {
  QPixmap banner;
  QPixmap emblem;
  QString soundSystem;
  QString calibration;  // the speed and offset distances are read with
};
DialogResult runAboutBox(QWidget* parent, const AboutContent& content);
