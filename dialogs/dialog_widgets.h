#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Building blocks shared by the settings and test windows. Every control carries its template
// identifier as its objectName, so tests can find it.

inline constexpr int kDialogDone = 1;    // Done / OK
inline constexpr int kDialogCancel = 2;  // Cancel

// A modal window whose results are those of the templates: 1 for Done or OK, 2 for Cancel,
// including Escape and the window's close button (which Qt routes through reject()).
class ModalDialog : public QDialog {
 public:
  explicit ModalDialog(QWidget* parent);
  void reject() override { done(kDialogCancel); }
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
