#pragma once
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>

// Waits for the next modal window, lets the test look at it (and fill it in), then closes it
// unless the test already did. A test that expects no modal window never blocks on this: it just
// stops polling after a while.
class ModalCloser : public QObject {
 public:
  using Inspect = std::function<void(QWidget*)>;

  explicit ModalCloser(Inspect inspect = {}) : inspect_(std::move(inspect)) {
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &ModalCloser::check);
    poll_.start();
  }

  bool sawModal() const { return seen_ > 0; }
  int modalCount() const { return seen_; }

 private:
  static constexpr int kPollMs = 10;
  static constexpr int kGiveUpPolls = 1000;

  void check() {
    if (++polls_ > kGiveUpPolls) {
      poll_.stop();
      return;
    }
    QPointer<QWidget> modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == last_) return;
    last_ = modal;
    ++seen_;
    if (inspect_) inspect_(modal);
    if (modal == nullptr || !modal->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal.data())) {
      box->done(QMessageBox::Ok);
    } else if (auto* dialog = qobject_cast<QDialog*>(modal.data())) {
      dialog->reject();
    } else {
      modal->close();
    }
  }

  Inspect inspect_;
  QTimer poll_;
  QPointer<QWidget> last_;
  int polls_ = 0;
  int seen_ = 0;
};
