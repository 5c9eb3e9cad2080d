#include <gtest/gtest.h>

#include "test_helpers.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include "app/sonar_files.h"
#include "gui/plot_widget.h"
#include "gui/preferences.h"
#include "modal_closer.h"
#include "test_window.h"

// The window as a desktop program: it asks before a measured sweep is lost, answers the usual
// keys, lists recent files, remembers its size and place, tells the run in its status bar and
// fits the screen.

namespace {

class DesktopWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings().clear();
    window_ = makeTestWindow();
  }
  void TearDown() override {
    if (window_) window_->program().sweepUnsaved = false;
    window_.reset();
    QSettings().clear();
    EXPECT_EQ(visibleTopLevelWindows(), 0) << "a test left a window open";
  }

  void measure(int pings) {
    window_->program().settings.clockMultiplier = 0;
    window_->runCommand(CommandId::kStartSonar);
    window_->scanTimer().setInterval(1);
    window_->startScanTimer();
    const uint32_t target = window_->program().scan.scanColumn + pings;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window_->program().scan.scanColumn >= target; }, 10000));
  }

  std::unique_ptr<MainWindow> window_;
};

// Answers the Save / Discard / Cancel question with `button` and remembers what it offered.
ModalCloser answerSaveQuestion(QMessageBox::StandardButton button, QStringList* offered) {
  return ModalCloser([=](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* b : box->buttons()) offered->append(b->text().remove('&'));
    box->button(button)->click();
  });
}

TEST_F(DesktopWindowTest, ClosingWithAnUnsavedSweepAsksAndCancelKeepsTheWindow) {
  window_->show();
  measure(3);
  QStringList offered;
  {
    ModalCloser cancel = answerSaveQuestion(QMessageBox::Cancel, &offered);
    // A close that arrives while a ping is on the worker is taken once the ping is stored.
    window_->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return cancel.sawModal(); }, 5000));
  }
  EXPECT_TRUE(window_->isVisible());
  offered.sort();  // the platform's style decides their order
  EXPECT_EQ(offered, QStringList({"Cancel", "Discard", "Save"}));
  EXPECT_TRUE(window_->program().sweepUnsaved);

  window_->scanTimer().stop();
  {
    ModalCloser discard = answerSaveQuestion(QMessageBox::Discard, &offered);
    menuItem(*window_, CommandId::kExit)->trigger();  // Exit asks the same way
    EXPECT_TRUE(QTest::qWaitFor([&] { return discard.sawModal(); }, 5000));
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window_->isVisible(); }, 2000));
}

TEST_F(DesktopWindowTest, UsualKeysReachTheirCommands) {
  struct Expected {
    CommandId id;
    QKeySequence keys;
  };
  for (const Expected& e : {Expected{CommandId::kOpen, QKeySequence(Qt::CTRL | Qt::Key_O)},
                            Expected{CommandId::kSave, QKeySequence(Qt::CTRL | Qt::Key_S)},
                            Expected{CommandId::kExit, QKeySequence(Qt::CTRL | Qt::Key_Q)},
                            Expected{CommandId::kHelp, QKeySequence(Qt::Key_F1)}}) {
    EXPECT_EQ(menuItem(*window_, e.id)->shortcut(), e.keys) << commandNumber(e.id);
  }
  // Space starts a stopped run and pauses a running one.
  auto* space = window_->findChild<QShortcut*>(QStringLiteral("startPauseShortcut"));
  ASSERT_NE(space, nullptr);
  EXPECT_EQ(space->key(), QKeySequence(Qt::Key_Space));
  emit space->activated();
  ASSERT_TRUE(settle(*window_));
  EXPECT_EQ(window_->program().scan.scanState, kRunning);
  emit space->activated();
  ASSERT_TRUE(settle(*window_));
  EXPECT_EQ(window_->program().scan.scanState, kIdle);
}

TEST_F(DesktopWindowTest, OpenedAndSavedFilesAreListedUnderRecentFiles) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("room.son"));
  ASSERT_EQ(saveChosenFile(window_->app(), FileChoice{path.toStdString(), FileKind::kSonar}),
            FileOutcome::kDone);
  QMenu* recent = window_->recentFilesMenu();
  ASSERT_NE(recent, nullptr);
  ASSERT_EQ(recent->actions().size(), 1);
  EXPECT_EQ(recent->actions().front()->data().toString(), path);
  EXPECT_EQ(recent->actions().front()->text(), QStringLiteral("&1 room.son"));

  // Picking it opens it, as Open does.
  window_->program().scan.scanColumn = 77;
  recent->actions().front()->trigger();
  EXPECT_EQ(window_->program().scan.scanColumn, 0u);

  // A file that is gone leaves the list when picked.
  QFile::remove(path);
  recent->actions().front()->trigger();
  EXPECT_TRUE(recent->actions().isEmpty());
  EXPECT_FALSE(recent->isEnabled());
  QSettings settings;
  EXPECT_TRUE(recentFiles(settings).isEmpty());
}

// A recent file reopens as the kind it was saved as, whatever its name says: a parameter file
// named x.son brings its settings and column, and is not read as a (short) sonar file.
TEST_F(DesktopWindowTest, RecentFilesReopenAsTheKindTheyWereSavedAs) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("settings.son"));
  window_->program().scan.scanColumn = 42;
  ASSERT_EQ(saveChosenFile(window_->app(), FileChoice{path.toStdString(), FileKind::kParameters}),
            FileOutcome::kDone);
  QSettings settings;
  EXPECT_EQ(recentFileKind(settings, path), FileKind::kParameters);
  window_->program().scan.scanColumn = 7;
  ModalCloser closer;
  window_->recentFilesMenu()->actions().front()->trigger();
  EXPECT_EQ(window_->program().scan.scanColumn, 42u) << "read as a parameter file";
  EXPECT_FALSE(closer.sawModal()) << "no note of a short sonar file";
  // Entries an earlier version remembered without a kind go by their name.
  EXPECT_EQ(recentFileKind(settings, QStringLiteral("/elsewhere/old.par")), FileKind::kParameters);
  EXPECT_EQ(recentFileKind(settings, QStringLiteral("/elsewhere/old.son")), FileKind::kSonar);
}

TEST_F(DesktopWindowTest, SizeAndPlaceAreRememberedOnClose) {
  window_->restoreGeometryOrFit();
  window_->show();
  window_->resize(700, 720);
  window_->close();
  ASSERT_FALSE(window_->isVisible());
  auto again = makeTestWindow();
  again->restoreGeometryOrFit();
  EXPECT_EQ(again->size(), QSize(700, 720));
}

TEST_F(DesktopWindowTest, StatusBarTellsTheRunAfterEveryPing) {
  EXPECT_EQ(window_->runStatus(), QStringLiteral("No echo | Paused"));
  measure(5);
  const QString running = window_->runStatus();
  EXPECT_TRUE(running.startsWith(QStringLiteral("Nearest echo 0.800 m | Running | ")))
      << running.toStdString();
  EXPECT_TRUE(running.endsWith(QStringLiteral(" pings/s"))) << running.toStdString();
  auto* label = window_->statusBar()->findChild<QLabel*>(QStringLiteral("statusRun"));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), window_->runStatus());
  window_->runCommand(CommandId::kPauseSonar);  // taken after the ping in flight, if any
  window_->scanTimer().stop();
  ASSERT_TRUE(settle(*window_));
  EXPECT_EQ(window_->runStatus(), QStringLiteral("Nearest echo 0.800 m | Paused"));
  EXPECT_TRUE(window_->pointerStatus().startsWith(QStringLiteral("Pointer row: ")));
  EXPECT_EQ(window_->statusBar()->findChild<QLabel*>(QStringLiteral("statusSound"))->text(),
            QStringLiteral("Simulated room"));
}

// The first size fits the screen, whatever the screen: the plot shrinks to at least half its
// size, and the window never asks for more than the screen's available area.
TEST_F(DesktopWindowTest, FirstSizeFitsTheAvailableScreen) {
  window_->restoreGeometryOrFit();
  const QSize available = window_->screen()->availableGeometry().size();
  EXPECT_LE(window_->width(), available.width());
  EXPECT_LE(window_->height(), available.height());
  EXPECT_LE(window_->minimumSizeHint().height(), available.height());
  EXPECT_FALSE(window_->layout()->sizeConstraint() == QLayout::SetFixedSize);
}

}  // namespace

namespace {

// The number at the bottom right of the echogram says what it is; elsewhere the plot has no tip.
TEST_F(DesktopWindowTest, TheDistanceReadoutSaysWhatItIs) {
  window_->show();
  PlotWidget* plot = window_->plotWidget();
  plot->setFixedSize(plot->sizeHint());
  QApplication::processEvents();
  const QPoint readout(450, 495);
  QHelpEvent onReadout(QEvent::ToolTip, readout, plot->mapToGlobal(readout));
  QApplication::sendEvent(plot, &onReadout);
  EXPECT_TRUE(QToolTip::text().startsWith(QStringLiteral("Pointer row: ")))
      << QToolTip::text().toStdString();
  EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("distance of the echogram row")));
  QToolTip::hideText();
  window_->close();
}

}  // namespace
