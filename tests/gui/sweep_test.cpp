#include <gtest/gtest.h>

#include "test_helpers.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include "display/echogram.h"
#include "modal_closer.h"
#include "test_window.h"

// A whole timed sweep driven through the window's own events: the toolbar's Start, the scan
// timer's ticks, the menus, the dialogs and the file dialogs, as a user drives them.

namespace {

// Columns of a timed sweep (1 to 349) that show anything: scan c is drawn at x = c + 9, its bins
// from row 31 down.
int litColumns(const QImage& picture) {
  int lit = 0;
  for (int x = kPlotLeft + 1; x <= kPlotLeft + static_cast<int>(kLastTimedColumn); ++x) {
    for (int y = kPlotTop + 1; y < kPlotTop + 419; ++y) {
      if (picture.pixelColor(x, y) != QColor(Qt::black)) {
        ++lit;
        break;
      }
    }
  }
  return lit;
}

// The columns of a timed sweep, every bin: what a replot draws again from the history. (Column 0
// carries the settings, and the frame's lines and the status strip are the live screen's own.)
QRect sweepColumns() {
  return QRect(kPlotLeft + 1, kPlotTop + 1, static_cast<int>(kLastTimedColumn), 418);
}

bool isBlack(QRgb pixel) {
  return (pixel & 0xFFFFFF) == 0;
}

// Two pictures of the sweep's columns agree pixel for pixel: in colour, or (`litOnly`) in which
// pixels show anything at all. On a difference, where the first one lies and how many there are.
void expectSamePicture(const QImage& picture, const QImage& live, const char* what,
                       bool litOnly = false) {
  ASSERT_EQ(picture.size(), live.size()) << what;
  const QImage a = picture.convertToFormat(QImage::Format_RGB32);
  const QImage b = live.convertToFormat(QImage::Format_RGB32);
  const QRect area = sweepColumns();
  int differing = 0;
  QPoint first;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      const bool same = litOnly ? isBlack(p) == isBlack(q) : p == q;
      if (same) continue;
      if (differing++ == 0) first = QPoint(x, y);
    }
  }
  EXPECT_EQ(differing, 0) << what << ": first at (" << first.x() << ", " << first.y() << ")";
}

// Clicks OK ("1") in the next dialog: the settings as they are, committed unchanged.
ModalCloser okInNextDialog() {
  return ModalCloser([](QWidget* modal) {
    auto* ok = modal->findChild<QAbstractButton*>(QStringLiteral("1"));
    ASSERT_NE(ok, nullptr) << modal->metaObject()->className();
    ok->click();
  });
}

// Types the path into the next file dialog and accepts it.
ModalCloser fileInNextDialog(const QString& path) {
  return ModalCloser([path](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
    static_cast<QDialog*>(dialog)->accept();
  });
}

class SweepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = makeTestWindow();
    window_->show();
  }
  void TearDown() override {
    window_->program().sweepUnsaved = false;  // nothing to ask about at the end
    window_.reset();
  }

  // Stop and Start from the toolbar (a run from column 0 pings columns 1 to 349), then the
  // timer's ticks until the sweep is complete. The timer runs faster than its 25 ms and pings on
  // every tick, so the 349 pings take a few seconds.
  void runWholeSweep() {
    window_->program().settings.clockMultiplier = 0;
    window_->scanTimer().setInterval(1);
    tool(CommandId::kStopSonar)->trigger();
    tool(CommandId::kStartSonar)->trigger();
    window_->startScanTimer();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window_->program().scan.scanState == kComplete; }, 60000));
    window_->scanTimer().stop();
    QApplication::processEvents();
  }

  void replot() {
    menuItem(*window_, CommandId::kReplot)->trigger();
    QApplication::processEvents();
  }

  QImage surface() const { return window_->app().surface.image(); }

  QAction* tool(CommandId id) const {
    QAction* action = toolButton(*window_, id);
    EXPECT_NE(action, nullptr) << commandNumber(id);
    return action;
  }

  std::unique_ptr<MainWindow> window_;
};

TEST_F(SweepTest, EveryColumnSurvivesReplotTheDialogsAndItsFile) {
  runWholeSweep();
  EXPECT_EQ(window_->program().scan.scanColumn, kLastTimedColumn);
  EXPECT_EQ(litColumns(surface()), 349) << "the live sweep";
  const QImage live = surface();

  // A replot draws the history in its own palette (a step apart from the live columns' in
  // places), so against the live screen it shows the same pixels; replots agree exactly.
  replot();
  expectSamePicture(surface(), live, "Replot", true);
  const QImage replotted = surface();

  for (const CommandId dialog : {CommandId::kSetScale, CommandId::kSetOffset,
                                 CommandId::kSetOutSignal, CommandId::kSetWaveFormat}) {
    SCOPED_TRACE(commandNumber(dialog));
    ModalCloser ok = okInNextDialog();
    menuItem(*window_, dialog)->trigger();
    ASSERT_TRUE(ok.sawModal());
    replot();
    expectSamePicture(surface(), replotted, "Replot after the dialog");
  }

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("sweep.son"));
  {
    ModalCloser save = fileInNextDialog(path);
    menuItem(*window_, CommandId::kSave)->trigger();
  }
  ASSERT_TRUE(QFileInfo::exists(path));
  EXPECT_FALSE(window_->program().sweepUnsaved);

  tool(CommandId::kClearScreen)->trigger();  // history and picture gone
  EXPECT_EQ(litColumns(surface()), 0);
  {
    ModalCloser open = fileInNextDialog(path);
    menuItem(*window_, CommandId::kOpen)->trigger();
  }
  QApplication::processEvents();
  EXPECT_GT(QFileInfo(path).size(), 633600) << "the whole history and its distances";
  replot();
  expectSamePicture(surface(), replotted, "reopened and replotted");
}

}  // namespace
