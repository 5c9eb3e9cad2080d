#pragma once
#include <QDialog>
#include <functional>
#include <optional>

#include "app/calibrate.h"
#include "engine/calibration.h"

class QLabel;
class QLineEdit;
class QPushButton;

// Settings > Calibration...: the air's temperature (empty until the user gives one) and
// relative humidity, and "Calibrate at a known distance": the user enters the distance to a wall
// in front of the device (and optionally to a second wall or object), presses Calibrate, and the
// dialog shows the solved offset (and speed) with the residual or why it refused. OK keeps what
// the fields and the latest calibration say; a field that does not read keeps the dialog open
// with the reason. The pings take about a second on a real device: they run elsewhere, the
// dialog says "Pinging..." meanwhile and stays open until they are done.
class CalibrationDialog : public QDialog {
  Q_OBJECT

 public:
  using Outcome = std::function<void(const CalibrationOutcome&)>;
  // Takes pings at known distances with the given air and no other calibration, and hands the
  // outcome to `done` on the window's thread, now or later.
  using Calibrate =
      std::function<void(const Calibration& air, const KnownDistances&, Outcome done)>;

  CalibrationDialog(const Calibration& current, Calibrate calibrate, QWidget* parent);

  // What OK keeps; valid after the dialog was accepted.
  const Calibration& calibration() const { return result_; }
  void accept() override;
  void reject() override;
  // Pings are being taken for the latest Calibrate.
  bool pinging() const { return pinging_; }

 private:
  // The air of the fields, or the reason they do not read.
  std::optional<Calibration> readAir(QString& problem) const;
  void calibrateNow();
  void showOutcome(const CalibrationOutcome& o, const KnownDistances& known);
  void forget();
  void showCurrent();

  Calibration current_;  // the calibration the dialog started from, or the latest solved
  Calibration result_;
  Calibrate calibrate_;
  bool pinging_ = false;
  QLineEdit* temperature_ = nullptr;
  QLineEdit* humidity_ = nullptr;
  QLineEdit* distance_ = nullptr;
  QLineEdit* secondDistance_ = nullptr;
  QPushButton* calibrateButton_ = nullptr;
  QLabel* inUse_ = nullptr;
  QLabel* resultLabel_ = nullptr;
};

// What About says of the scale: "speed of sound 337.6 m/s, offset 0.000 m (not calibrated)".
QString calibrationAboutText(const SonarSettings& settings);

// A decimal number typed by a user: a point or a comma, surrounding blanks allowed.
std::optional<double> readTypedNumber(const QString& text);
