#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>

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
  // `title` is the name of the menu item that opens the window, so the user finds it again.
  ModalDialog(QWidget* parent, const QString& title);
  void accept() override { done(dialogCode(DialogResult::kOk)); }
  void reject() override { done(dialogCode(DialogResult::kCancel)); }

 protected:
  // Every dialog comes up within the screen, whatever its scale factor.
  void showEvent(QShowEvent* event) override;
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

// The OK ("1", the default button) and Cancel ("2") pair of the templates, for a window that
// places them itself: OK accepts the dialog, Cancel rejects it.
struct OkCancelButtons {
  QPushButton* ok;
  QPushButton* cancel;
};
OkCancelButtons makeOkCancelButtons(ModalDialog* dialog);

// The same pair in a row, for the windows whose templates have no buttons of their own: the Done
// button they rely on, beside Cancel.
QDialogButtonBox* makeDoneButtons(ModalDialog* dialog);

uint32_t fieldValue(const QLineEdit* field);
void setFieldValue(QLineEdit* field, uint32_t value);
