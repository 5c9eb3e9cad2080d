// Settings > Calibration... and the calibration each audio device keeps.

#include <QLabel>
#include <QSettings>
#include <memory>

#include "app/app_steps.h"
#include "app/calibration_file.h"
#include "app/commands.h"
#include "app/device_report.h"
#include "display/reports.h"
#include "gui/calibration_dialog.h"
#include "gui/main_window.h"
#include "gui/preferences.h"
#include "gui/qt_text.h"

QString calibrationAboutText(const SonarSettings& settings) {
  QString text = toQString(calibrationReportText(settings));
  text.replace(QStringLiteral("\r\n"), QStringLiteral(", "));
  return text.left(1).toLower() + text.mid(1);
}

void MainWindow::setAudioSetup(const AudioSetup& setup) {
  audioSetup_ = setup;
  useRememberedCalibration();
}

QString MainWindow::calibrationStatus() const {
  return calibrated(program_.settings.calibration) ? QStringLiteral("calibrated")
                                                   : QStringLiteral("not calibrated");
}

void MainWindow::showCalibration() {
  calibrationLabel_->setText(calibrationStatus());
  calibrationLabel_->setToolTip(calibrationAboutText(program_.settings));
  updateAboutContent();
}

// Another device reads with its own calibration, or none: a calibration is the device's.
void MainWindow::useRememberedCalibration() {
  QSettings settings;
  const std::optional<CalibrationRecord> record =
      rememberedCalibration(settings, calibrationDeviceText(audioSetup_));
  // A recorded session brings the calibration it was made with.
  const RecordedSession* session = replayedSession(program_.backend.get());
  const Calibration calibration = record    ? record->calibration
                                  : session ? session->info.calibration
                                            : Calibration{};
  const bool changed = calibration != program_.settings.calibration;
  program_.settings.calibration = calibration;
  showCalibration();
  if (changed) replot(app_);  // the scale follows at once
}

DialogResult MainWindow::chooseCalibration() {
  // The pings run with the dialog's air and nothing else, on the measuring thread as the scan's
  // do (a real device takes about a second): the window answers meanwhile and holds back what
  // would use the device. The program's calibration is put back when they end, and changes only
  // when OK keeps the result.
  auto calibrate = [this](const Calibration& air, const KnownDistances& known,
                          const CalibrationDialog::Outcome& done) {
    auto outcome = std::make_shared<CalibrationOutcome>();
    outcome->solution.problem = calibrationRefusal(program_.settings, known);
    if (outcome->solution.problem.empty() && (program_.pair.out == 0 || program_.pair.in == 0) &&
        !takeUpPair(app_, kCaptionWaveOut)) {
      outcome->solution.problem = "the sound device cannot be opened";
    }
    if (!outcome->solution.problem.empty()) {
      done(*outcome);
      return;
    }
    const Calibration kept = program_.settings.calibration;
    program_.settings.calibration = calibrationAir(air);
    measureOffThread(
        app_, [this, known, outcome] { *outcome = pingAtKnownDistance(program_, known); },
        [this, kept, outcome, done] {
          program_.settings.calibration = kept;
          if (outcome->error != kWaveOk) {
            outcome->solution.problem =
                "a ping failed: " + program_.backend->errorText(outcome->error);
          }
          done(*outcome);
        });
  };
  CalibrationDialog dialog(program_.settings.calibration, calibrate, this);
  if (dialog.exec() != QDialog::Accepted) return DialogResult::kCancel;
  program_.settings.calibration = dialog.calibration();
  const std::string device = calibrationDeviceText(audioSetup_);
  QSettings settings;
  if (calibrated(dialog.calibration())) {
    rememberCalibration(settings, device,
                        CalibrationRecord{dialog.calibration(), device, calibrationTimeNow()});
  } else {
    rememberCalibration(settings, device, std::nullopt);
  }
  showCalibration();
  return DialogResult::kOk;
}
