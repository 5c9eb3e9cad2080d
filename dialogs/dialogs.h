#pragma once
#include "app/program.h"
#include "app/shell.h"

class QWidget;

// The modal settings and test windows. Each runs to its end and returns its result
// (1 = Done/OK, 2 = Cancel); each commits its own changes to the program.
int runOutSignalDialog(Program& program, Shell& shell, QWidget* parent);
int runWaveFormatDialog(Program& program, Shell& shell, QWidget* parent);
int runOffsetDialog(Program& program, Shell& shell, QWidget* parent);
int runScaleDialog(Program& program, Shell& shell, QWidget* parent);
int runAudioCheckDialog(Program& program, Shell& shell, QWidget* parent);
int runAnalyzeWindow(Program& program, Shell& shell, QWidget* parent);
int runAboutBox(QWidget* parent);
