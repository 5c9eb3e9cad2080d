#include "dialogs/wave_format_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QPushButton>
#include <QRadioButton>

namespace {

template <typename Button>
Button* makeNamed(const char* id, const QString& text, QWidget* parent) {
  auto* button = new Button(text, parent);
  button->setObjectName(QString::fromLatin1(id));
  return button;
}

}  // namespace

WaveFormatDialog::WaveFormatDialog(Program& program, Shell& shell, QWidget* parent)
    : ModalDialog(parent), program_(program), shell_(shell) {
  stereo_ = makeNamed<QCheckBox>("1019", QStringLiteral("Stereo/mono"), this);
  sixteenBit_ = makeNamed<QCheckBox>("1020", QStringLiteral("8/16 bits"), this);
  rates_ = {makeNamed<QRadioButton>("1021", QStringLiteral("8.0 kHz"), this),
            makeNamed<QRadioButton>("1022", QStringLiteral("11.025 kHz"), this),
            makeNamed<QRadioButton>("1023", QStringLiteral("22.05 kHz"), this),
            makeNamed<QRadioButton>("1024", QStringLiteral("44.1 kHz"), this),
            makeNamed<QRadioButton>("1025", QStringLiteral("48 kHz"), this),
            makeNamed<QRadioButton>("1026", QStringLiteral("96 kHz"), this)};
  auto* rateGroup = new QButtonGroup(this);
  for (QRadioButton* rate : rates_) rateGroup->addButton(rate);
  const auto [ok, cancel] = makeOkCancelButtons(this);

  // The template's arrangement: the two switches beside OK and Cancel, the rates two by two,
  // the rates of today's sound hardware in a row of their own below.
  auto* grid = new QGridLayout(this);
  grid->addWidget(stereo_, 0, 0, 1, 2);
  grid->addWidget(ok, 0, 2);
  grid->addWidget(sixteenBit_, 1, 0, 1, 2);
  grid->addWidget(cancel, 1, 2);
  grid->setRowMinimumHeight(2, 10);
  grid->addWidget(rates_[0], 3, 0);
  grid->addWidget(rates_[2], 3, 1);
  grid->addWidget(rates_[1], 4, 0);
  grid->addWidget(rates_[3], 4, 1);
  grid->addWidget(rates_[4], 5, 0);
  grid->addWidget(rates_[5], 5, 1);
  grid->setRowStretch(6, 1);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);

  const WaveFormatControls c = waveFormatControlsFor(program_.settings.waveFormat);
  stereo_->setChecked(c.stereoChecked);
  sixteenBit_->setChecked(c.sixteenBitChecked);
  for (size_t i = 0; i < rates_.size(); ++i) {
    if (c.rateChecked[i]) rates_[i]->setChecked(true);
  }
}

WaveFormatControls WaveFormatDialog::readControls() const {
  WaveFormatControls c;
  c.stereoChecked = stereo_->isChecked();
  c.sixteenBitChecked = sixteenBit_->isChecked();
  for (size_t i = 0; i < rates_.size(); ++i) c.rateChecked[i] = rates_[i]->isChecked();
  return c;
}

void WaveFormatDialog::done(int result) {
  if (result == dialogCode(DialogResult::kOk)) commitWaveFormat(program_, shell_, readControls());
  ModalDialog::done(result);
}
