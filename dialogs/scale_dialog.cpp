#include "dialogs/scale_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

ScaleDialog::ScaleDialog(Program& program, Shell& shell, QWidget* parent)
    : ModalDialog(parent, QStringLiteral("Set scale")), program_(program), shell_(shell) {
  cutOff_ = makeNumberField("1043", this);
  // The amplification field takes any text; what does not read as a number counts as 0.
  amplification_ = makeNumberField("1048", this, FieldChars::kAny);
  tuneScale_ = makeNumberField("1044", this);
  gain_ = makeNumberField("1045", this);
  gainOn_ = new QCheckBox(QStringLiteral("Gain on/off"), this);
  gainOn_->setObjectName(QStringLiteral("1046"));
  QLabel* heading = makeLabel(QStringLiteral("Scale"), this);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);

  const Qt::Alignment right = Qt::AlignRight;
  auto* grid = new QGridLayout(this);
  grid->addWidget(heading, 0, 0);
  grid->addWidget(makeLabel(QStringLiteral("Cut off"), this, right), 1, 1);
  grid->addWidget(cutOff_, 1, 2);
  grid->addWidget(makeLabel(QStringLiteral("Ampli."), this, right), 2, 1);
  grid->addWidget(amplification_, 2, 2);
  grid->addWidget(makeLabel(QStringLiteral("Tune scale"), this, right), 3, 1);
  grid->addWidget(tuneScale_, 3, 2);
  grid->setRowMinimumHeight(4, 16);
  grid->addWidget(gainOn_, 5, 0, 1, 2);
  grid->addWidget(makeLabel(QStringLiteral("Gain"), this, right), 6, 1);
  grid->addWidget(gain_, 6, 2);
  grid->setRowStretch(7, 1);
  grid->setRowMinimumHeight(7, 8);
  grid->addWidget(makeDoneButtons(this), 8, 0, 1, 3);
  grid->setColumnStretch(0, 1);

  const ScaleControls c = scaleControlsFor(program_.settings);
  setFieldValue(cutOff_, c.cutOff);
  setFieldValue(amplification_, c.amplification);
  setFieldValue(tuneScale_, c.tuneScale);
  setFieldValue(gain_, c.gain);
  gainOn_->setChecked(c.gainChecked);
}

ScaleControls ScaleDialog::readControls() const {
  ScaleControls c;
  c.cutOff = fieldValue(cutOff_);
  c.amplification = fieldValue(amplification_);
  c.tuneScale = fieldValue(tuneScale_);
  c.gain = fieldValue(gain_);
  c.gainChecked = gainOn_->isChecked();
  return c;
}

void ScaleDialog::done(int result) {
  if (result == dialogCode(DialogResult::kOk)) {
    const ScaleControls controls = readControls();
    if (const std::string problem = scaleProblem(program_.settings, controls); !problem.empty()) {
      shell_.showMessage("Nothing is stored: " + problem + ".", "Set scale", MessageIcon::kStop,
                         MessageOwner::kMainWindow);
      return;
    }
    commitScale(program_.settings, controls);
  }
  ModalDialog::done(result);
}
