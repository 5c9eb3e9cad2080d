#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

#include "app/shell.h"

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Building blocks shared by the settings and test windows. Every control carries its template
// identifier as its objectName, so tests can find it.

// A dialog's result as QDialog carries it, and back; anything but OK counts as Cancel.
constexpr int dialogCode(DialogResult result) {
  return static_cast<int>(result);
}
constexpr DialogResult dialogResultOf(int code) {
  return code == dialogCode(DialogResult::kOk) ? DialogResult::kOk : DialogResult::kCancel;
}

// A modal window whose results are those of the templates: OK for Done or OK, Cancel for Cancel,
// Escape and the window's close button (which Qt routes through reject()).
class ModalDialog : public QDialog {
 public:
  explicit ModalDialog(QWidget* parent);
  void reject() override { done(dialogCode(DialogResult::kCancel)); }
};

enum class FieldChars { kDigitsOnly, kAny };

QLineEdit* makeNumberField(const char* id, QWidget* parent,
                           FieldChars chars = FieldChars::kDigitsOnly);
// A field that only shows what the program computed.
QLineEdit* makeDisplayField(const char* id, QWidget* parent);
QLabel* makeLabel(const QString& text, QWidget* parent, Qt::Alignment align = Qt::AlignLeft,
                  const char* id = nullptr);
// A push button of the template ("1" OK, "2" Cancel, "1011" Play ...).
QPushButton* makeButton(const char* id, const QString& text, QWidget* parent);

// The Done button that windows without buttons of their own rely on, beside Cancel: OK ("1")
// runs onDone, which ends the dialog itself; Cancel ("2") rejects.
QDialogButtonBox* makeDoneButtons(ModalDialog* dialog, std::function<void()> onDone);

uint32_t fieldValue(const QLineEdit* field);
void setFieldValue(QLineEdit* field, uint32_t value);
