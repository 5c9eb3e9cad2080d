#include "gui/track_window.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/program.h"
#include "app/tracking.h"

namespace {

// The plot shows the latest this many pings: about a minute at the usual rate, long enough for
// several breaths.
constexpr size_t kShownPings = 300;
// The scatter is taken over this many followed pings: a few seconds, shorter than a breath.
constexpr size_t kScatterPings = 16;
// The plot's distance span never shrinks below this [m]: a still echo's noise would otherwise
// fill the picture as if it moved.
constexpr double kLeastSpanM = 0.002;
constexpr double kMaxNearM = 1000.0;

QString metresText(double metres) {
  return QString::number(metres, 'f', 4) + QStringLiteral(" m");
}

}  // namespace

TrackScatter trackScatter(const Tracking& t, size_t pings) {
  double sum = 0.0, sum2 = 0.0;
  size_t n = 0;
  // Two passes around the first value keep the precision of millimetres on metres.
  double origin = 0.0;
  for (size_t k = t.count; k > 0 && n < pings; --k) {
    const TrackPoint& p = trackRow(t, k - 1);
    if (p.state != TrackState::kTracking) continue;
    if (n == 0) origin = p.distanceM;
    const double d = p.distanceM - origin;
    sum += d;
    sum2 += d * d;
    ++n;
  }
  if (n < 2) return {0.0, n};
  const double mean = sum / static_cast<double>(n);
  const double variance = std::max(0.0, sum2 / static_cast<double>(n) - mean * mean);
  return {std::sqrt(variance * static_cast<double>(n) / static_cast<double>(n - 1)), n};
}

TrackPlot::TrackPlot(const Tracking& tracking, QWidget* parent)
    : QWidget(parent), tracking_(tracking) {
  setObjectName(QStringLiteral("trackPlot"));
  setMinimumSize(320, 160);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrackPlot::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  const Tracking& t = tracking_;
  const size_t shown = std::min(t.count, kShownPings);
  const size_t from = t.count - shown;
  double low = INFINITY, high = -INFINITY;
  for (size_t i = from; i < t.count; ++i) {
    const TrackPoint& p = trackRow(t, i);
    if (p.state != TrackState::kTracking) continue;
    low = std::min(low, p.distanceM);
    high = std::max(high, p.distanceM);
  }
  const QRect box = rect().adjusted(70, 10, -10, -28);
  painter.setPen(QColor(90, 90, 90));
  painter.drawRect(box);
  if (shown == 0) return;
  if (!std::isfinite(low)) low = high = 0.0;
  const double middle = 0.5 * (low + high);
  const double span = std::max(kLeastSpanM, 1.1 * (high - low));
  low = middle - span / 2.0;
  high = middle + span / 2.0;
  const double t0 = trackRow(t, from).seconds;
  const double t1 = std::max(trackRow(t, t.count - 1).seconds, t0 + 1.0);
  auto xOf = [&](double s) { return box.left() + (s - t0) / (t1 - t0) * box.width(); };
  auto yOf = [&](double m) { return box.bottom() - (m - low) / (high - low) * box.height(); };

  const QColor text(250, 250, 50);  // the program's text colour on black
  painter.setPen(text);
  painter.drawText(QRect(0, box.top(), box.left() - 4, 16), Qt::AlignRight,
                   QString::number(high, 'f', 4));
  painter.drawText(QRect(0, box.bottom() - 14, box.left() - 4, 16), Qt::AlignRight,
                   QString::number(low, 'f', 4));
  painter.drawText(QRect(0, box.center().y() - 8, box.left() - 4, 16), Qt::AlignRight,
                   QStringLiteral("m"));
  painter.drawText(QRect(box.left(), box.bottom() + 4, 80, 16), Qt::AlignLeft,
                   QString::number(t0, 'f', 1) + QStringLiteral(" s"));
  painter.drawText(QRect(box.right() - 80, box.bottom() + 4, 80, 16), Qt::AlignRight,
                   QString::number(t1, 'f', 1) + QStringLiteral(" s"));

  painter.setRenderHint(QPainter::Antialiasing);
  QPen curve(QColor(0, 230, 120), 1.6);
  bool drawing = false;
  QPointF last;
  for (size_t i = from; i < t.count; ++i) {
    const TrackPoint& p = trackRow(t, i);
    if (p.state != TrackState::kTracking) {
      // Nothing is drawn across a ping that did not follow the echo: a gap, and a red mark.
      drawing = false;
      painter.setPen(QPen(QColor(230, 40, 40), 2.0));
      const double x = xOf(p.seconds);
      painter.drawLine(QPointF(x, box.bottom() - 8), QPointF(x, box.bottom()));
      continue;
    }
    const QPointF here(xOf(p.seconds), yOf(p.distanceM));
    painter.setPen(curve);
    if (drawing) {
      painter.drawLine(last, here);
    } else {
      painter.drawPoint(here);
    }
    last = here;
    drawing = true;
  }
}

TrackWindow::TrackWindow(Program& program, std::function<void(CommandId)> runCommand,
                         QWidget* parent)
    : QMainWindow(parent, Qt::Window), program_(program) {
  setObjectName(QStringLiteral("trackWindow"));
  setWindowTitle(QStringLiteral("Track echo"));
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  auto* pick = new QHBoxLayout;
  pick->addWidget(new QLabel(QStringLiteral("Follow the echo near"), central));
  near_ = new QDoubleSpinBox(central);
  near_->setObjectName(QStringLiteral("trackNear"));
  near_->setDecimals(3);
  near_->setRange(0.001, kMaxNearM);
  near_->setSingleStep(0.01);
  near_->setSuffix(QStringLiteral(" m"));
  near_->setValue(1.0);
  pick->addWidget(near_);
  auto* followButton = new QPushButton(QStringLiteral("&Follow"), central);
  followButton->setObjectName(QStringLiteral("trackFollow"));
  connect(followButton, &QPushButton::clicked, this, [this] { follow(near_->value()); });
  pick->addWidget(followButton);
  auto* ruler = new QToolButton(central);
  ruler->setText(QStringLiteral("&Ruler"));
  ruler->setToolTip(QStringLiteral("Follow one of the echoes the Ruler lists"));
  ruler->setPopupMode(QToolButton::InstantPopup);
  rulerMenu_ = new QMenu(ruler);
  rulerMenu_->setObjectName(QStringLiteral("trackRuler"));
  connect(rulerMenu_, &QMenu::aboutToShow, this, [this] { fillRulerMenu(); });
  ruler->setMenu(rulerMenu_);
  pick->addWidget(ruler);
  pick->addStretch(1);
  layout->addLayout(pick);

  plot_ = new TrackPlot(program_.tracking, central);
  layout->addWidget(plot_, 1);

  auto* readout = new QHBoxLayout;
  value_ = new QLabel(central);
  value_->setObjectName(QStringLiteral("trackValue"));
  QFont big = value_->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  value_->setFont(big);
  scatter_ = new QLabel(central);
  scatter_->setObjectName(QStringLiteral("trackScatter"));
  readout->addWidget(value_);
  readout->addSpacing(16);
  readout->addWidget(scatter_, 1);
  layout->addLayout(readout);
  setCentralWidget(central);

  createMenus(runCommand);
  refresh();
}

void TrackWindow::createMenus(const std::function<void(CommandId)>& runCommand) {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* exportAction = file->addAction(QStringLiteral("&Export..."));
  const int number = commandNumber(CommandId::kExportTrack);
  exportAction->setData(number);
  exportAction->setObjectName(QStringLiteral("cmd%1").arg(number));
  connect(exportAction, &QAction::triggered, this,
          [runCommand] { runCommand(CommandId::kExportTrack); });
}

void TrackWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void TrackWindow::fillRulerMenu() {
  rulerMenu_->clear();
  int number = 0;
  for (const double metres : program_.obstructionList) {
    ++number;
    if (metres <= 0.0) continue;
    const QString label = QStringLiteral("Obstruction #&%1 %2").arg(number).arg(metresText(metres));
    QAction* action = rulerMenu_->addAction(label);
    connect(action, &QAction::triggered, this, [this, metres] { follow(metres); });
  }
  if (rulerMenu_->isEmpty()) {
    rulerMenu_->addAction(QStringLiteral("No echoes yet: start the sonar"))->setEnabled(false);
  }
}

void TrackWindow::follow(double nearM) {
  near_->setValue(nearM);
  startTracking(program_.tracking, nearM);
  refresh();
}

QString TrackWindow::valueText() const {
  const Tracking& t = program_.tracking;
  if (!t.on) return QStringLiteral("no echo picked");
  if (t.count == 0) return QStringLiteral("waiting for a ping");
  const TrackPoint& p = trackRow(t, t.count - 1);
  if (p.state == TrackState::kTracking) return metresText(p.distanceM);
  // Once lost, the echo stays lost until it is found again near where it was.
  if (p.state == TrackState::kLost || t.lostTimes > 0) return QStringLiteral("lost");
  return QStringLiteral("searching");
}

QString TrackWindow::scatterText() const {
  const Tracking& t = program_.tracking;
  if (!t.on) {
    return QStringLiteral("Click an echo on the echogram, pick a Ruler entry or type a distance.");
  }
  QString text;
  const TrackPoint* latest = t.count > 0 ? &trackRow(t, t.count - 1) : nullptr;
  if (latest != nullptr && latest->state == TrackState::kTracking) {
    const TrackScatter s = trackScatter(t, kScatterPings);
    text = s.pings < 2 ? QStringLiteral("scatter: after two pings")
                       : QStringLiteral("scatter %1 mm over the latest %2 pings")
                             .arg(QString::number(s.metres * 1000.0, 'f', 2))
                             .arg(s.pings);
  } else if (t.tracker) {
    text = QStringLiteral("looking for the echo near %1").arg(metresText(t.tracker->nearM));
  }
  if (t.lostTimes > 0) text += QStringLiteral("; lost %1 times").arg(t.lostTimes);
  if (t.dropped > 0) {
    text += QStringLiteral("; the first %1 pings are no longer kept").arg(t.dropped);
  }
  return text;
}

void TrackWindow::refresh() {
  value_->setText(valueText());
  const bool lost = value_->text() == QStringLiteral("lost");
  value_->setStyleSheet(lost ? QStringLiteral("color: #d02020") : QString());
  scatter_->setText(scatterText());
  plot_->update();
}
