#include <QDialogButtonBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/dialog_widgets.h"
#include "dialogs/dialogs.h"

namespace {

QString aboutText() {
  return QStringLiteral(
             "<h2>Mervane</h2>"
             "<p>Version %1</p>"
             "<p>An acoustic range finder: the computer's own loudspeaker and microphone "
             "become a sonar. Each ping plays a short chirp while recording, finds the sound's "
             "direct arrival and draws the echoes over distance as one column of a live "
             "echogram.</p>"
             "<p>Built with Qt, PortAudio, libsndfile and FFTW.</p>")
      .arg(QStringLiteral(MERVANE_VERSION));
}

}  // namespace

DialogResult runAboutBox(QWidget* parent) {
  ModalDialog box(parent);
  box.setWindowTitle(QStringLiteral("About"));
  auto* text = new QLabel(aboutText(), &box);
  text->setObjectName(QStringLiteral("aboutText"));
  text->setWordWrap(true);
  text->setTextFormat(Qt::RichText);
  text->setMinimumWidth(320);
  auto* layout = new QVBoxLayout(&box);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &ModalDialog::accept);
  layout->addWidget(buttons);
  return dialogResultOf(box.exec());
}
