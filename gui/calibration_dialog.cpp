#include "gui/calibration_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>

#include "app/distance_table.h"
#include "engine/sonar_settings.h"
#include "gui/qt_text.h"

namespace {

QString metres(double value, int decimals) {
  return toQString(fixedPointText(value, decimals)) + QStringLiteral(" m");
}

QString speedText(double mps) {
  return toQString(fixedPointText(mps, 1)) + QStringLiteral(" m/s");
}

QLineEdit* field(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  return edit;
}

}  // namespace

std::optional<double> readTypedNumber(const QString& text) {
  const std::string s = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toStdString();
  double value = 0.0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

CalibrationDialog::CalibrationDialog(const Calibration& current, Calibrate calibrate,
                                     QWidget* parent)
    : QDialog(parent), current_(current), result_(current), calibrate_(std::move(calibrate)) {
  setWindowTitle(QStringLiteral("Calibration"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);

  auto* air = new QGroupBox(QStringLiteral("Air"), this);
  auto* airForm = new QFormLayout(air);
  temperature_ = field("temperature", air);
  temperature_->setPlaceholderText(QStringLiteral("not set: 337.6 m/s"));
  humidity_ = field("humidity", air);
  airForm->addRow(QStringLiteral("&Temperature [°C]:"), temperature_);
  airForm->addRow(QStringLiteral("&Humidity [%]:"), humidity_);

  auto* known = new QGroupBox(QStringLiteral("Calibrate at a known distance"), this);
  auto* knownForm = new QFormLayout(known);
  distance_ = field("distance", known);
  distance_->setPlaceholderText(QStringLiteral("to a wall in front"));
  secondDistance_ = field("secondDistance", known);
  secondDistance_->setPlaceholderText(QStringLiteral("optional: solves the speed too"));
  calibrateButton_ = new QPushButton(QStringLiteral("&Calibrate"), known);
  calibrateButton_->setObjectName(QStringLiteral("calibrate"));
  calibrateButton_->setAutoDefault(false);
  auto* forgetButton = new QPushButton(QStringLiteral("&Forget calibration"), known);
  forgetButton->setObjectName(QStringLiteral("forget"));
  forgetButton->setAutoDefault(false);
  resultLabel_ = new QLabel(known);
  resultLabel_->setObjectName(QStringLiteral("result"));
  resultLabel_->setWordWrap(true);
  resultLabel_->setTextFormat(Qt::PlainText);
  knownForm->addRow(QStringLiteral("&Distance [m]:"), distance_);
  knownForm->addRow(QStringLiteral("&Second distance [m]:"), secondDistance_);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addWidget(calibrateButton_);
  buttonRow->addWidget(forgetButton);
  buttonRow->addStretch();
  knownForm->addRow(buttonRow);
  knownForm->addRow(resultLabel_);

  inUse_ = new QLabel(this);
  inUse_->setObjectName(QStringLiteral("inUse"));
  inUse_->setWordWrap(true);
  auto* note = new QLabel(
      QStringLiteral("The offset is exact for walls straight in front of the device; walls to "
                     "the side or above keep a few millimetres of the loudspeaker's and "
                     "microphones' spacing."),
      this);
  note->setWordWrap(true);

  layout->addWidget(air);
  layout->addWidget(known);
  layout->addWidget(inUse_);
  layout->addWidget(note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CalibrationDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CalibrationDialog::reject);
  layout->addWidget(buttons);
  connect(calibrateButton_, &QPushButton::clicked, this, [this] { calibrateNow(); });
  connect(forgetButton, &QPushButton::clicked, this, [this] { forget(); });

  if (current.temperatureC)
    temperature_->setText(toQString(fixedPointText(*current.temperatureC, 1)));
  humidity_->setText(toQString(fixedPointText(current.humidityPercent, 0)));
  showCurrent();
}

void CalibrationDialog::showCurrent() {
  inUse_->setText(QStringLiteral("In use: speed of sound %1 in air, offset %2 (%3)")
                      .arg(speedText(speedInUse(kAir, current_)), metres(current_.offsetMetres, 3),
                           calibrated(current_) ? QStringLiteral("calibrated")
                                                : QStringLiteral("not calibrated")));
}

std::optional<Calibration> CalibrationDialog::readAir(QString& problem) const {
  Calibration air = current_;
  if (temperature_->text().trimmed().isEmpty()) {
    air.temperatureC.reset();
  } else {
    const auto t = readTypedNumber(temperature_->text());
    if (!t || *t < kMinAirTemperatureC || *t > kMaxAirTemperatureC) {
      problem = QStringLiteral(
          "The temperature must be a number of degrees Celsius from -40 to 60, "
          "or empty.");
      return std::nullopt;
    }
    air.temperatureC = *t;
  }
  const auto h = readTypedNumber(humidity_->text());
  if (!h || *h < 0.0 || *h > 100.0) {
    problem = QStringLiteral("The humidity must be a number of percent from 0 to 100.");
    return std::nullopt;
  }
  air.humidityPercent = *h;
  // A speed measured at two distances stands until the air is said to have changed.
  if (air.temperatureC != current_.temperatureC ||
      air.humidityPercent != current_.humidityPercent) {
    air.speedMps.reset();
  }
  return air;
}

void CalibrationDialog::calibrateNow() {
  QString problem;
  const std::optional<Calibration> air = readAir(problem);
  if (!air) {
    resultLabel_->setText(problem);
    return;
  }
  const auto d = readTypedNumber(distance_->text());
  const bool secondGiven = !secondDistance_->text().trimmed().isEmpty();
  const auto d2 = readTypedNumber(secondDistance_->text());
  if (!d || !(*d > 0.0) || (secondGiven && (!d2 || !(*d2 > 0.0)))) {
    resultLabel_->setText(QStringLiteral("Enter the distance to the wall in metres, above 0."));
    return;
  }
  KnownDistances known;
  known.distanceM = *d;
  if (secondGiven) known.secondDistanceM = *d2;
  resultLabel_->setText(QStringLiteral("Pinging..."));
  calibrateButton_->setEnabled(false);
  pinging_ = true;
  calibrate_(*air, known,
             [self = QPointer<CalibrationDialog>(this), known](const CalibrationOutcome& o) {
               if (self) self->showOutcome(o, known);
             });
}

void CalibrationDialog::showOutcome(const CalibrationOutcome& o, const KnownDistances& known) {
  pinging_ = false;
  calibrateButton_->setEnabled(true);
  if (!o.solution.solved()) {
    resultLabel_->setText(QStringLiteral("Refused: ") + toQString(o.solution.problem));
    return;
  }
  current_ = o.calibration;
  QString text = QStringLiteral("Offset %1").arg(metres(o.calibration.offsetMetres, 4));
  if (o.solution.speedMps)
    text += QStringLiteral(", speed of sound %1").arg(speedText(*o.solution.speedMps));
  text += QStringLiteral("; residual %1 mm over %2 pings.")
              .arg(toQString(fixedPointText(o.solution.residualMetres * 1000.0, 1)))
              .arg(known.pings);
  resultLabel_->setText(text);
  showCurrent();
}

void CalibrationDialog::forget() {
  current_ = Calibration{};
  temperature_->clear();
  humidity_->setText(toQString(fixedPointText(kDefaultHumidityPercent, 0)));
  resultLabel_->setText(
      QStringLiteral("Calibration forgotten: OK reads at the medium's own speed."));
  showCurrent();
}

void CalibrationDialog::reject() {
  // The pings use the program's device and buffers: the dialog waits for them, about a second.
  if (pinging_) return;
  QDialog::reject();
}

void CalibrationDialog::accept() {
  if (pinging_) return;
  QString problem;
  const std::optional<Calibration> air = readAir(problem);
  if (!air) {
    resultLabel_->setText(problem);
    return;
  }
  result_ = *air;
  QDialog::accept();
}
