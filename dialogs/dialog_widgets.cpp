#include "dialogs/dialog_widgets.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "dialogs/field_text.h"
#include "dialogs/surface_view.h"

ModalDialog::ModalDialog(QWidget* parent, const QString& title) : QDialog(parent) {
  setModal(true);
  setWindowTitle(title);
}

void ModalDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  fitToScreen(*this);
}

QLineEdit* makeNumberField(const char* id, QWidget* parent, FieldChars chars) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(QString::fromLatin1(id));
  if (chars == FieldChars::kDigitsOnly) {
    field->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), field));
  }
  field->setAlignment(Qt::AlignRight);
  return field;
}

QLineEdit* makeDisplayField(const char* id, QWidget* parent) {
  QLineEdit* field = makeNumberField(id, parent);
  field->setEnabled(false);
  return field;
}

QLabel* makeLabel(const QString& text, QWidget* parent, Qt::Alignment align, const char* id) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(align | Qt::AlignVCenter);
  if (id != nullptr) label->setObjectName(QString::fromLatin1(id));
  return label;
}

QPushButton* makeButton(const char* id, const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(id));
  return button;
}

OkCancelButtons makeOkCancelButtons(ModalDialog* dialog) {
  QPushButton* ok = makeButton("1", QStringLiteral("OK"), dialog);
  ok->setDefault(true);
  QPushButton* cancel = makeButton("2", QStringLiteral("Cancel"), dialog);
  cancel->setAutoDefault(false);
  QObject::connect(ok, &QAbstractButton::clicked, dialog, &ModalDialog::accept);
  QObject::connect(cancel, &QAbstractButton::clicked, dialog, &ModalDialog::reject);
  return {ok, cancel};
}

QDialogButtonBox* makeDoneButtons(ModalDialog* dialog) {
  auto* box = new QDialogButtonBox(dialog);
  const OkCancelButtons buttons = makeOkCancelButtons(dialog);
  box->addButton(buttons.ok, QDialogButtonBox::AcceptRole);
  box->addButton(buttons.cancel, QDialogButtonBox::RejectRole);
  return box;
}

uint32_t fieldValue(const QLineEdit* field) {
  return readUnsignedField(field->text().toStdString());
}

void setFieldValue(QLineEdit* field, uint32_t value) {
  field->setText(QString::fromStdString(unsignedFieldText(value)));
}
