#include <gtest/gtest.h>

#include "test_helpers.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

#include "display/echogram.h"
#include "gui/plot_widget.h"
#include "modal_closer.h"
#include "test_window.h"

namespace {

constexpr CommandId kStart = CommandId::kStartSonar, kPause = CommandId::kPauseSonar,
                    kStop = CommandId::kStopSonar;
constexpr int kLinearEntry = 6, kAngularEntry = 7;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { window_ = makeTestWindow(); }
  void TearDown() override {
    window_.reset();
    EXPECT_EQ(visibleTopLevelWindows(), 0) << "a test left a window open";
  }

  ScanState& scan() { return window_->program().scan; }

  std::unique_ptr<MainWindow> window_;
};

// One line per pop-up: "Title[bar id]: label=id ... | ..." with "|" for a separator.
QString describeMenus(MainWindow& window) {
  QStringList lines;
  for (QAction* bar : window.menuBar()->actions()) {
    // Every title and item has a mnemonic; the shown text is the label as written.
    EXPECT_TRUE(bar->text().contains('&')) << bar->text().toStdString();
    QString line =
        QStringLiteral("%1[%2]:").arg(QString(bar->text()).remove('&')).arg(bar->data().toInt());
    for (QAction* item : bar->menu()->actions()) {
      if (item->isSeparator()) {
        line += QStringLiteral(" |");
        continue;
      }
      EXPECT_TRUE(item->text().contains('&')) << item->text().toStdString();
      const QString label = QString(item->text()).remove('&');
      if (item->menu() != nullptr) {
        line += QStringLiteral(" %1>").arg(label);
        continue;
      }
      line += QStringLiteral(" %1=%2").arg(label).arg(item->data().toInt());
      EXPECT_EQ(item->objectName(), QStringLiteral("cmd%1").arg(item->data().toInt()));
    }
    lines << line;
  }
  return lines.join('\n');
}

TEST_F(MainWindowTest, MenusCarryEveryItemWithItsIdentifierAndSeparators) {
  const QString expected = QStringLiteral(
      "File[401]: Open=199 Save=202 | Exit=300 | Export picture...=310 Export distances...=311 "
      "| Recent files> | Record pings...=314\n"
      "Analyze[226]: Replot=247 | Make chirp=207 Pley rec. buffer=204 Auto correlate=214 "
      "Post. Proc.=225 | Analyze window=221 Ruler=246 | Change view=320 | Track echo...=321\n"
      "Settings[217]: Set out signal=220 Set wave format=229 Set offset=244 Set scale=245 | "
      "Use recorded chirp=243 | Info=242 | Audio device...=312 | Calibration...=313\n"
      "Tests[230]: Check recording=233 Check audio system =227 Check play=248 Search offset=241\n"
      "Help[404]: About=212 Help=234");
  EXPECT_EQ(describeMenus(*window_).toStdString(), expected.toStdString());
}

TEST_F(MainWindowTest, ToolbarHasTenButtonsThreeSeparatorsAndTheirTips) {
  struct Entry {
    int id;
    const char* tip;
  };
  // The numbers the toolbar sends; 0 marks a separator.
  const Entry expected[] = {{207, "Single chirp"},   {201, "Start sonar"},  {235, "Pause sonar"},
                            {226, "Stop sonar"},     {238, "Clear screen"}, {0, ""},
                            {239, "Linear mode"},    {240, "Angular mode"}, {0, ""},
                            {236, "Analyze window"}, {237, "empty"},        {0, ""},
                            {320, "Change view"}};
  const QList<QAction*> actions = window_->toolBar()->actions();
  ASSERT_EQ(actions.size(), 13);
  for (int i = 0; i < actions.size(); ++i) {
    SCOPED_TRACE(i);
    const Entry& want = expected[i];
    EXPECT_EQ(actions[i]->isSeparator(), want.id == 0);
    if (want.id == 0) continue;
    EXPECT_EQ(actions[i]->data().toInt(), want.id);
    EXPECT_EQ(actions[i]->toolTip(), QString::fromUtf8(want.tip));
    EXPECT_FALSE(actions[i]->icon().isNull());
    EXPECT_TRUE(actions[i]->isEnabled());
  }
  EXPECT_EQ(window_->toolBarArea(window_->toolBar()), Qt::BottomToolBarArea);
}

TEST_F(MainWindowTest, ColouringButtonsFormOneCheckGroupStartingLinear) {
  QAction* linear = toolEntry(*window_, kLinearEntry);
  QAction* angular = toolEntry(*window_, kAngularEntry);
  ASSERT_TRUE(linear->isCheckable() && angular->isCheckable());
  EXPECT_TRUE(linear->isChecked());
  EXPECT_FALSE(angular->isChecked());
  for (int i : {0, 1, 2, 3, 4, 9, 10}) EXPECT_FALSE(toolEntry(*window_, i)->isCheckable()) << i;

  angular->trigger();
  EXPECT_EQ(window_->program().settings.displayMode, 1);
  EXPECT_TRUE(angular->isChecked());
  EXPECT_FALSE(linear->isChecked());

  // Linear mode stops the run and starts a fresh echogram.
  toolEntry(*window_, 1)->trigger();  // Start
  linear->trigger();
  ASSERT_TRUE(settle(*window_));
  EXPECT_EQ(window_->program().settings.displayMode, 0);
  EXPECT_EQ(scan().scanColumn, 0u);
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_TRUE(linear->isChecked());
  EXPECT_FALSE(angular->isChecked());
}

TEST_F(MainWindowTest, ColouringButtonsFollowTheSettingWhateverChangedIt) {
  // A loaded file can bring the angular colouring; the next command shows it on the buttons.
  window_->program().settings.displayMode = 1;
  menuItem(*window_, CommandId::kAutoCorrelate)->trigger();  // only repaints
  EXPECT_TRUE(toolEntry(*window_, kAngularEntry)->isChecked());
  EXPECT_FALSE(toolEntry(*window_, kLinearEntry)->isChecked());
}

TEST_F(MainWindowTest, StartPauseStopReachTheScanCycle) {
  window_->runCommand(kStart);
  ASSERT_TRUE(settle(*window_));
  EXPECT_EQ(scan().scanState, kRunning);
  scan().scanColumn = 120;
  toolEntry(*window_, 2)->trigger();  // Pause
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(scan().scanColumn, 120u);
  toolEntry(*window_, 1)->trigger();  // Start
  ASSERT_TRUE(settle(*window_));
  EXPECT_EQ(scan().scanState, kRunning);
  toolEntry(*window_, 3)->trigger();  // Stop
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(scan().scanColumn, 0u);
}

TEST_F(MainWindowTest, ScanTimerTicksEvery25MsAndPingsWhileRunning) {
  EXPECT_EQ(window_->scanTimer().interval(), 25);
  EXPECT_EQ(window_->scanTimer().timerType(), Qt::PreciseTimer);
  const uint32_t before = scan().scanColumn;
  window_->runCommand(kStart);
  window_->startScanTimer();
  // clockMultiplier 4: a ping on every fifth tick.
  EXPECT_TRUE(QTest::qWaitFor([&] { return scan().scanColumn >= before + 2; }, 5000));
  window_->runCommand(kPause);
  window_->scanTimer().stop();
}

struct KeyCase {
  const char* name;
  Qt::Key key;
  uint32_t columnAfter;  // starting from the column the reset leaves (1)
};

void PrintTo(const KeyCase& c, std::ostream* out) {
  *out << c.name;
}

class MainWindowKeyTest : public MainWindowTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(MainWindowKeyTest, KeysReachTheScanCycleAsVirtualKeys) {
  ASSERT_EQ(scan().scanColumn, 1u);
  window_->runCommand(kStart);
  QTest::keyClick(window_->plotWidget(), GetParam().key);
  ASSERT_TRUE(settle(*window_));
  EXPECT_EQ(scan().scanColumn, GetParam().columnAfter);
  // Any key that takes a step ends the timed run.
  if (GetParam().columnAfter != 1u) {
    EXPECT_EQ(scan().scanState, kIdle);
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, MainWindowKeyTest,
                         ::testing::Values(KeyCase{"Return", Qt::Key_Return, 2},
                                           KeyCase{"KeypadEnter", Qt::Key_Enter, 2},
                                           KeyCase{"UpSkipsAColumn", Qt::Key_Up, 3},
                                           KeyCase{"DownMeasuresTheSameColumn", Qt::Key_Down, 2},
                                           KeyCase{"OtherKeyTakesNoStep", Qt::Key_A, 1},
                                           // Qt's code for '(' is 40, the Down key's number.
                                           KeyCase{"ParenthesisIsNotDown", Qt::Key_ParenLeft, 1}),
                         caseName<KeyCase>);

// The stylus is in surface pixels, whatever size the plot is shown at.
TEST_F(MainWindowTest, MouseMovesOverThePlotAreTheStylusInSurfacePixels) {
  PlotWidget* plot = window_->plotWidget();
  EXPECT_TRUE(plot->hasMouseTracking());
  for (const int factor : {1, 2}) {
    SCOPED_TRACE(factor);
    plot->setFixedSize(QSize(kPlotClientWidth, kPlotClientHeight) * factor);
    const QPointF at(120.5 * factor, 130.5 * factor);
    QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(plot, &move);
    EXPECT_EQ(scan().stylusPosition.x, 120);
    EXPECT_EQ(scan().stylusPosition.y, 130);
  }
}

// At its own size the plot shows the surface pixel for pixel; at twice the size every surface
// pixel is a crisp 2 x 2 square; at any other size it still shows the whole picture.
TEST_F(MainWindowTest, PlotShowsTheSurfaceScaledAfterTheRepaintStep) {
  PlotWidget* plot = window_->plotWidget();
  EXPECT_EQ(plot->sizeHint(), QSize(kPlotClientWidth, kPlotClientHeight));
  EXPECT_LE(plot->minimumSizeHint().height(), kPlotClientHeight / 2);
  window_->runCommand(kStop);  // column 0: the next repaint draws a fresh frame
  plot->setFixedSize(plot->sizeHint());
  const QImage shown = plot->grab().toImage();
  ASSERT_EQ(shown.size(), QSize(kPlotClientWidth, kPlotClientHeight));
  const QPoint key(4, 45);  // the top stripe of the colour key is lit
  EXPECT_NE(shown.pixelColor(key), QColor(Qt::black));
  const QImage& surface = window_->app().surface.image();
  for (const QPoint p : {key, QPoint(8, 100), QPoint(200, 30), QPoint(489, 510)}) {
    EXPECT_EQ(shown.pixel(p), surface.pixel(p)) << p.x() << "," << p.y();
  }

  plot->setFixedSize(plot->sizeHint() * 2);
  const QImage doubled = plot->grab().toImage();
  for (const QPoint p : {key, QPoint(8, 100), QPoint(200, 30), QPoint(359, 449)}) {
    for (const QPoint d : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)}) {
      EXPECT_EQ(doubled.pixel(p * 2 + d), surface.pixel(p)) << p.x() << "," << p.y();
    }
  }

  plot->setFixedSize(300, 700);  // narrower than the picture's proportions: black above and below
  const QImage narrow = plot->grab().toImage();
  EXPECT_EQ(narrow.pixelColor(150, 5), QColor(Qt::black));
  const double scale = 300.0 / kPlotClientWidth;
  const int top = (700 - static_cast<int>(std::lround(kPlotClientHeight * scale))) / 2;
  EXPECT_NE(narrow.pixelColor(static_cast<int>(4 * scale), top + static_cast<int>(45 * scale)),
            QColor(Qt::black));
}

TEST_F(MainWindowTest, RulerReportIsShownOwnedByTheWindowWithPlainLineEnds) {
  QString caption, text;
  QWidget* owner = nullptr;
  ModalCloser closer([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    text = box->text();
    owner = box->parentWidget();
  });
  menuItem(*window_, CommandId::kRuler)->trigger();
  ASSERT_TRUE(closer.sawModal());
  EXPECT_EQ(caption, QStringLiteral("Ruler"));
  EXPECT_EQ(owner, window_.get());
  EXPECT_FALSE(text.contains('\r'));
  EXPECT_TRUE(text.startsWith(QStringLiteral("Obstruction #1 0.00[m]\nObstruction #2")));
  EXPECT_EQ(text.count('\n'), 7);
}

struct DialogCase {
  const char* name;
  DialogId id;
};

void PrintTo(const DialogCase& c, std::ostream* out) {
  *out << c.name;
}

class MainWindowDialogTest : public MainWindowTest,
                             public ::testing::WithParamInterface<DialogCase> {};

TEST_P(MainWindowDialogTest, ShellRunsEachDialogModallyOverTheWindow) {
  // The audio check reports its recording in a message box before its own window shows.
  int dialogs = 0;
  QWidget* owner = nullptr;
  ModalCloser closer([&](QWidget* modal) {
    if (qobject_cast<QMessageBox*>(modal) != nullptr) return;
    ASSERT_NE(qobject_cast<QDialog*>(modal), nullptr);
    ++dialogs;
    owner = modal->parentWidget();
  });
  window_->app().shell.runDialog(GetParam().id);
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(owner, window_.get());
}

INSTANTIATE_TEST_SUITE_P(Dialogs, MainWindowDialogTest,
                         ::testing::Values(DialogCase{"About", DialogId::kAbout},
                                           DialogCase{"Analyze", DialogId::kAnalyze},
                                           DialogCase{"OutSignal", DialogId::kOutSignal},
                                           DialogCase{"AudioCheck", DialogId::kAudioCheck},
                                           DialogCase{"WaveFormat", DialogId::kWaveFormat},
                                           DialogCase{"Offset", DialogId::kOffset},
                                           DialogCase{"Scale", DialogId::kScale}),
                         caseName<DialogCase>);

// The title is the program's own on every back end; the simulated room is told in the status
// bar and the About box instead.
TEST_F(MainWindowTest, TitleIsExactAndTheStatusBarTellsTheSimulatedRoom) {
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("Mervane Application"));
  EXPECT_EQ(window_->soundStatus(), QStringLiteral("Simulated room"));
  auto card = std::make_unique<MainWindow>(std::make_unique<SimBackend>(defaultSimRoom()),
                                           AudioKind::kSoundCard);
  EXPECT_EQ(card->windowTitle(), QStringLiteral("Mervane Application"));
  EXPECT_EQ(card->soundStatus(), QStringLiteral("Sound card"));
}

TEST_F(MainWindowTest, ExitClosesTheWindow) {
  window_->show();
  ASSERT_TRUE(window_->isVisible());
  menuItem(*window_, CommandId::kExit)->trigger();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window_->isVisible(); }, 2000));
}

}  // namespace
