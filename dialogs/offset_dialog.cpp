#include "dialogs/offset_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

OffsetDialog::OffsetDialog(Program& program, Shell& shell, QWidget* parent)
    : ModalDialog(parent, QStringLiteral("Set offset")), program_(program), shell_(shell) {
  offset_ = makeNumberField("1050", this);
  deltaOffset_ = makeNumberField("1051", this);
  clockInterval_ = makeNumberField("1052", this);
  const auto [ok, cancel] = makeOkCancelButtons(this);
  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("119"));
  picture->setPixmap(drawOffsetExplanation(2));

  const Qt::Alignment right = Qt::AlignRight;
  auto* grid = new QGridLayout(this);
  grid->addWidget(picture, 0, 0, 2, 2, Qt::AlignLeft | Qt::AlignTop);
  grid->addWidget(ok, 0, 2, Qt::AlignTop);
  grid->addWidget(cancel, 1, 2, Qt::AlignTop);
  grid->setRowMinimumHeight(2, 10);
  grid->addWidget(makeLabel(QStringLiteral("Offset [Bytes]"), this, right), 3, 0, 1, 2);
  grid->addWidget(offset_, 3, 2);
  grid->addWidget(makeLabel(QStringLiteral("delta offset [Bytes]"), this, right), 4, 0, 1, 2);
  grid->addWidget(deltaOffset_, 4, 2);
  grid->setRowMinimumHeight(5, 16);
  grid->addWidget(makeLabel(QStringLiteral("Clock interval 25 ms x"), this, right), 6, 0, 1, 2);
  grid->addWidget(clockInterval_, 6, 2);
  grid->setRowStretch(7, 1);
  grid->setColumnStretch(1, 1);

  const OffsetControls c = offsetControlsFor(program_.settings);
  setFieldValue(offset_, c.offsetBytes);
  setFieldValue(deltaOffset_, c.deltaOffsetBytes);
  setFieldValue(clockInterval_, c.clockMultiplier);
}

OffsetControls OffsetDialog::readControls() const {
  return {fieldValue(offset_), fieldValue(deltaOffset_), fieldValue(clockInterval_)};
}

void OffsetDialog::done(int result) {
  if (result == dialogCode(DialogResult::kOk)) commitOffset(program_, shell_, readControls());
  ModalDialog::done(result);
}
