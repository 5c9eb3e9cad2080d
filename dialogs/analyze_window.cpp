#include "dialogs/analyze_window.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QSlider>

#include "dialogs/surface_view.h"
#include "display/analyze_traces.h"

namespace {

QSlider* makeSlider(const char* id, const QString& text, int minimum, int maximum, int tick,
                    QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setObjectName(QString::fromLatin1(id));
  slider->setAccessibleName(text);
  slider->setRange(minimum, maximum);
  slider->setTickInterval(tick);
  // The template hides the tick marks although it sets them.
  slider->setTickPosition(QSlider::NoTicks);
  return slider;
}

}  // namespace

AnalyzeWindow::AnalyzeWindow(const Program& program, QWidget* parent)
    : ModalDialog(parent, QStringLiteral("Analyze window")), program_(program) {
  const uint32_t inBytes = program_.settings.inBufferBytes;
  start_ = makeSlider("1000", QStringLiteral("Slider3"), 0, analyzeStartMaximum(inBytes),
                      static_cast<int>(inBytes / 2), this);
  zoom_ = makeSlider("1001", QStringLiteral("Slider2"), kAnalyzeMinZoom, kAnalyzeMaxZoom, 4, this);
  amplification_ = makeSlider("1002", QStringLiteral("Slider1"), kAnalyzeMinAmplification,
                              kAnalyzeMaxAmplification, 5, this);
  start_->setValue(0);
  zoom_->setValue(1);
  amplification_->setValue(0);  // below the range: the slider shows 1
  start_->setPageStep(480);
  view_ = new SurfaceView(kAnalyzeClientWidth, kAnalyzeClientHeight, this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(zoom_, 0, 0);
  grid->addWidget(amplification_, 0, 1);
  grid->addWidget(view_, 1, 0, 1, 2);
  grid->addWidget(start_, 2, 0, 1, 2);
  grid->addWidget(makeDoneButtons(this), 3, 0, 1, 2);

  for (QSlider* slider : {start_, zoom_, amplification_}) {
    connect(slider, &QSlider::valueChanged, this, [this] { redraw(); });
  }
  redraw();
}

void AnalyzeWindow::redraw() {
  drawAnalyzeTraces(view_->surface(), program_.settings, start_->value(), zoom_->value(),
                    amplification_->value());
  view_->update();
}
