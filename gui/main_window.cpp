#include "gui/main_window.h"

#include <QActionGroup>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

#include "audio/wave_pair.h"
#include "display/echogram.h"
#include "gui/plot_widget.h"
#include "gui/qt_text.h"
#include "gui/toolbar_icons.h"
#include "resources/command_layout.h"

namespace {

constexpr int kToolIconSizePx = 24;

QString commandObjectName(CommandId command) {
  return QStringLiteral("cmd%1").arg(commandNumber(command));
}

QString windowTitleFor(AudioKind audio) {
  QString title = toQString(kWindowTitle);
  if (audio == AudioKind::kSimulatedRoom) title += QStringLiteral(" - simulated room");
  return title;
}

}  // namespace

VirtualKey virtualKeyFor(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VirtualKey::kEnter;
    case Qt::Key_Up:
      return VirtualKey::kUp;
    case Qt::Key_Down:
      return VirtualKey::kDown;
    default:
      return VirtualKey::kNone;
  }
}

MainWindow::MainWindow(std::unique_ptr<AudioBackend> backend, AudioKind audio, QWidget* parent)
    : QMainWindow(parent),
      surface_(kPlotClientWidth, kPlotClientHeight),
      shell_(*this, program_),
      app_{program_, shell_, surface_} {
  setObjectName(toQString(kClassName));
  setWindowTitle(windowTitleFor(audio));
  program_.backend = std::move(backend);
  // A device that is late (a frozen or vanished sound server) is given up within seconds; the
  // window stays painted meanwhile.
  if (program_.backend) {
    program_.backend->setStallHook(
        [this] { shell_.showProgress("Waiting for the sound device..."); });
  }

  // Defaults and devices come first; a device failure is reported and start-up goes on.
  startApplication(app_);

  plot_ = new PlotWidget(
      surface_, [this] { paintPlot(app_); }, this);
  setCentralWidget(plot_);
  shell_.setPlotWidget(plot_);
  connect(plot_, &PlotWidget::stylusMoved, this, [this](int x, int y) { stylusMoved(app_, x, y); });

  createMenus();
  createToolBar();
  statusBar()->setSizeGripEnabled(false);
  // Nothing in the window follows a size change, so the window keeps the size of its parts.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  setContextMenuPolicy(Qt::PreventContextMenu);
  plot_->setFocus();

  scanTimer_.setTimerType(Qt::PreciseTimer);
  scanTimer_.setInterval(kScanTimerPeriodMs);
  connect(&scanTimer_, &QTimer::timeout, this, &MainWindow::onScanTick);
}

MainWindow::~MainWindow() {
  scanTimer_.stop();
  if (program_.backend) {
    program_.backend->setStallHook({});  // the window is going
    closePair(*program_.backend, program_.pair);
  }
}

void MainWindow::createMenus() {
  for (const MenuSpec& entry : kMenuBar) {
    QMenu* menu = menuBar()->addMenu(toQString(entry.title));
    // The bar button's identifier is kept for reference only; opening a pop-up dispatches
    // nothing.
    const int barNumber = static_cast<int>(entry.barId);
    menu->setObjectName(QStringLiteral("menu%1").arg(barNumber));
    menu->menuAction()->setData(barNumber);
    for (size_t i = 0; i < entry.itemCount; ++i) {
      const MenuItemSpec& item = entry.items[i];
      if (item.isSeparator()) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(toQString(item.label));
      action->setData(commandNumber(item.id));
      action->setObjectName(commandObjectName(item.id));
      const CommandId id = item.id;
      connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
    }
  }
}

void MainWindow::createToolBar() {
  toolBar_ = new QToolBar(QStringLiteral("Toolbar"), this);
  toolBar_->setObjectName(QStringLiteral("toolbar%1").arg(kToolbarId));
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setIconSize(QSize(kToolIconSizePx, kToolIconSizePx));
  modeGroup_ = new QActionGroup(toolBar_);
  modeGroup_->setExclusive(true);
  for (const ToolButtonSpec& entry : kToolbar) {
    if (entry.style == ToolStyle::kSeparator) {
      toolBar_->addSeparator();
      continue;
    }
    QAction* action = toolBar_->addAction(toolbarIcon(entry.image), toQString(entry.toolTip));
    action->setToolTip(toQString(entry.toolTip));
    action->setData(commandNumber(entry.command));
    action->setObjectName(commandObjectName(entry.command));
    if (entry.style == ToolStyle::kCheckGroup) {
      action->setCheckable(true);
      action->setChecked(entry.checked);
      modeGroup_->addAction(action);
    }
    const CommandId id = entry.command;
    connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
  }
  addToolBar(Qt::BottomToolBarArea, toolBar_);
}

void MainWindow::startScanTimer() {
  scanTimer_.start();
}

void MainWindow::runCommand(CommandId command) {
  dispatchCommand(app_, command);
  syncModeButtons();
}

void MainWindow::bringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  keyPressed(app_, virtualKeyFor(event->key()));
  QMainWindow::keyPressEvent(event);
}

void MainWindow::onScanTick() {
  // A waiting step lets the event loop run to keep the window painted; it must not ping.
  if (shell_.isPumpingEvents()) return;
  timerTick(app_);
}

void MainWindow::syncModeButtons() {
  const bool linear = program_.settings.displayMode == 0;
  for (QAction* action : modeGroup_->actions()) {
    const auto id = static_cast<CommandId>(action->data().toInt());
    if (id == CommandId::kLinearMode) action->setChecked(linear);
    if (id == CommandId::kAngularMode) action->setChecked(!linear);
  }
}
