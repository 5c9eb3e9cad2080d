#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/dialog_widgets.h"
#include "dialogs/dialogs.h"

namespace {

QString aboutText(const QString& soundSystem, const QString& calibration) {
  return QStringLiteral(
             "<h2>Mervane</h2>"
             "<p>Version %1</p>"
             "<p>An acoustic range finder: the computer's own loudspeaker and microphone "
             "become a sonar. Each ping plays a short chirp while recording, finds the sound's "
             "direct arrival and draws the echoes over distance as one column of a live "
             "echogram.</p>"
             "<p>Sound: %2</p>"
             "<p>Distances: %3</p>"
             "<p>Built with Qt, PortAudio, libsndfile and FFTW.</p>")
      .arg(QStringLiteral(MERVANE_VERSION), soundSystem.toHtmlEscaped(),
           calibration.toHtmlEscaped());
}

QLabel* pictureLabel(const QPixmap& picture, const char* name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setPixmap(picture);
  label->setFixedSize(picture.deviceIndependentSize().toSize());
  return label;
}

}  // namespace

DialogResult runAboutBox(QWidget* parent, const AboutContent& content) {
  ModalDialog box(parent);
  box.setWindowTitle(QStringLiteral("About"));
  auto* text = new QLabel(aboutText(content.soundSystem, content.calibration), &box);
  text->setObjectName(QStringLiteral("aboutText"));
  text->setWordWrap(true);
  text->setTextFormat(Qt::RichText);
  text->setMinimumWidth(320);
  auto* pictures = new QHBoxLayout;
  pictures->addWidget(pictureLabel(content.banner, "aboutBanner", &box));
  pictures->addStretch();
  pictures->addWidget(pictureLabel(content.emblem, "aboutEmblem", &box), 0, Qt::AlignTop);
  auto* layout = new QVBoxLayout(&box);
  layout->addLayout(pictures);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &ModalDialog::accept);
  layout->addWidget(buttons);
  return dialogResultOf(box.exec());
}
