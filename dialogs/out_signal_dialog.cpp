#include "dialogs/out_signal_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

QRadioButton* makeRadio(const char* id, const QString& text, QButtonGroup* group, QWidget* parent) {
  auto* radio = new QRadioButton(text, parent);
  radio->setObjectName(QString::fromLatin1(id));
  group->addButton(radio);
  return radio;
}

}  // namespace

OutSignalDialog::OutSignalDialog(Program& program, Shell& shell, QWidget* parent)
    : ModalDialog(parent), program_(program), shell_(shell) {
  startFrequency_ = makeNumberField("1007", this);
  endFrequency_ = makeNumberField("1008", this);
  recordTime_ = makeNumberField("1009", this);
  chirpTime_ = makeNumberField("1027", this);
  inBuffer_ = makeDisplayField("1012", this);
  outBuffer_ = makeDisplayField("1013", this);
  maxDistance_ = makeDisplayField("1016", this);
  QPushButton* playButton = makeButton("1011", QStringLiteral("Play"), this);
  playButton->setAutoDefault(false);
  connect(playButton, &QPushButton::clicked, this, [this] { play(); });
  QPushButton* quietButton = makeButton("1042", QStringLiteral("Quiet chirp"), this);
  quietButton->setAutoDefault(false);
  quietButton->setToolTip(QStringLiteral(
      "18 to 23 kHz at 48 kHz (18 to 28 kHz at 96 kHz), 16 bits: most adults do not hear it. "
      "Reaches less far; Tests > Check audio system says whether your devices carry it."));
  connect(quietButton, &QPushButton::clicked, this, [this] {
    quietPreset_ = true;
    fillControls(quietChirpControls(program_.settings, readControls()));
  });

  auto* shapes = new QButtonGroup(this);
  chirpBoth_ = makeRadio("1041", QStringLiteral("Chirp <>"), shapes, this);
  chirpRising_ = makeRadio("1040", QStringLiteral("Chirp <"), shapes, this);
  auto* media = new QButtonGroup(this);
  media_ = {makeRadio("1030", QStringLiteral("Air"), media, this),
            makeRadio("1031", QStringLiteral("Water"), media, this),
            makeRadio("1032", QStringLiteral("Steel"), media, this),
            makeRadio("1033", QStringLiteral("Granite"), media, this)};

  // Two columns as in the template: frequencies, shape and medium on the left; times, Play and
  // the derived figures on the right.
  auto* grid = new QGridLayout(this);
  const Qt::Alignment right = Qt::AlignRight;
  grid->addWidget(makeLabel(QStringLiteral("Start freq. [Hz]"), this), 0, 0);
  grid->addWidget(makeLabel(QStringLiteral("End freq. [Hz]"), this), 0, 1, 1, 2, right);
  grid->addWidget(startFrequency_, 1, 0);
  grid->addWidget(endFrequency_, 1, 1, 1, 2);
  grid->addWidget(chirpBoth_, 2, 0);
  grid->addWidget(chirpRising_, 2, 1, 1, 2);
  grid->addWidget(makeLabel(QStringLiteral("Record time [ms]"), this, right), 3, 1);
  grid->addWidget(recordTime_, 3, 2);
  grid->addWidget(media_[0], 4, 0);
  grid->addWidget(makeLabel(QStringLiteral("Chirp time [us]"), this, right), 4, 1);
  grid->addWidget(chirpTime_, 4, 2);
  grid->addWidget(media_[1], 5, 0);
  grid->addWidget(playButton, 5, 1, 1, 2, right);
  grid->addWidget(media_[2], 6, 0);
  grid->addWidget(media_[3], 7, 0);
  grid->addWidget(makeLabel(QStringLiteral("max distance [m]"), this, right, "1017"), 7, 1);
  grid->addWidget(maxDistance_, 7, 2);
  grid->addWidget(makeLabel(QStringLiteral("In buffer [Byte]"), this, Qt::AlignLeft, "1014"), 8, 0);
  grid->addWidget(makeLabel(QStringLiteral("Out buffer [Byte]"), this, right, "1015"), 8, 1, 1, 2);
  grid->addWidget(inBuffer_, 9, 0);
  grid->addWidget(outBuffer_, 9, 1, 1, 2);
  // The preset after the template's controls.
  grid->addWidget(quietButton, 10, 1, 1, 2, right);
  grid->setRowMinimumHeight(11, 8);
  grid->addWidget(makeDoneButtons(this), 12, 0, 1, 3);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);

  // The derived fields stay empty until Play: they show what a plan made, not a guess.
  fillControls(outSignalControlsFor(program_.settings));
}

void OutSignalDialog::fillControls(const OutSignalControls& c) {
  setFieldValue(startFrequency_, c.startFrequency);
  setFieldValue(endFrequency_, c.endFrequency);
  setFieldValue(recordTime_, c.recordTime);
  setFieldValue(chirpTime_, c.chirpTime);
  for (size_t i = 0; i < media_.size(); ++i) {
    if (c.mediumChecked[i]) media_[i]->setChecked(true);
  }
  if (c.chirpRisingChecked) chirpRising_->setChecked(true);
  if (c.chirpBothChecked) chirpBoth_->setChecked(true);
}

OutSignalControls OutSignalDialog::readControls() const {
  OutSignalControls c;
  for (size_t i = 0; i < media_.size(); ++i) c.mediumChecked[i] = media_[i]->isChecked();
  c.chirpBothChecked = chirpBoth_->isChecked();
  c.chirpRisingChecked = chirpRising_->isChecked();
  c.startFrequency = fieldValue(startFrequency_);
  c.endFrequency = fieldValue(endFrequency_);
  c.recordTime = fieldValue(recordTime_);
  c.chirpTime = fieldValue(chirpTime_);
  c.quietPreset = quietPreset_;
  return c;
}

void OutSignalDialog::play() {
  playOutSignal(program_, shell_, readControls(),
                [this](const OutSignalFigures& figures) { showFigures(figures); });
}

void OutSignalDialog::showFigures(const OutSignalFigures& figures) {
  setFieldValue(inBuffer_, figures.inBufferBytes);
  setFieldValue(outBuffer_, figures.outBufferBytes);
  setFieldValue(maxDistance_, figures.maxDistance);
  // The ping that follows blocks; let the figures appear first.
  repaint();
}

void OutSignalDialog::done(int result) {
  if (result == dialogCode(DialogResult::kOk)) commitOutSignal(program_, shell_, readControls());
  ModalDialog::done(result);
}
