#include <gtest/gtest.h>

#include "test_helpers.h"

#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include "audio/recorded_session.h"
#include "gui/plot_widget.h"
#include "modal_closer.h"
#include "test_window.h"

// File > Record pings...: single steps taken while it is checked land in the session folder,
// the status bar counts them, and a folder in use is refused with a message.

namespace {

QAction* recordAction(MainWindow& window) {
  return window.findChild<QAction*>(QStringLiteral("cmd314"));
}

TEST(RecordPings, IsTheLastItemOfTheFileMenuBehindASeparator) {
  auto window = makeTestWindow();
  QAction* action = recordAction(*window);
  ASSERT_NE(action, nullptr);
  const QList<QAction*> items =
      action->associatedObjects().isEmpty()
          ? QList<QAction*>()
          : qobject_cast<QMenu*>(action->associatedObjects().first())->actions();
  ASSERT_GE(items.size(), 2);
  EXPECT_EQ(items.last(), action);
  EXPECT_TRUE(items[items.size() - 2]->isSeparator());
  EXPECT_TRUE(action->isCheckable());
  EXPECT_FALSE(action->isChecked());
}

TEST(RecordPings, StepsTakenWhileCheckedAreKeptAndCounted) {
  auto window = makeTestWindow();
  window->show();
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("s"));
  ASSERT_TRUE(window->startRecordingPings(folder));
  EXPECT_TRUE(recordAction(*window)->isChecked());
  for (int i = 0; i < 5; ++i) QTest::keyClick(window->plotWidget(), Qt::Key_Return);
  auto* label = window->statusBar()->findChild<QLabel*>(QStringLiteral("statusRecording"));
  ASSERT_NE(label, nullptr);
  QTest::qWait(700);  // the status bar's next update
  EXPECT_TRUE(label->text().startsWith(QStringLiteral("Recording: 5 pings")))
      << label->text().toStdString();
  window->stopRecordingPings();
  EXPECT_FALSE(recordAction(*window)->isChecked());
  EXPECT_FALSE(label->isVisible());
  RecordedSession session;
  ASSERT_EQ(readRecordedSession(folder.toStdString(), session), "");
  EXPECT_EQ(session.pings.size(), 5u);
  EXPECT_TRUE(session.info.complete);
  EXPECT_EQ(session.info.source, "Simulated room");
}

TEST(RecordPings, AFolderInUseIsRefusedWithAMessage) {
  auto window = makeTestWindow();
  window->show();
  QTemporaryDir dir;  // holds nothing yet, but a file is put in it
  QFile file(dir.filePath(QStringLiteral("mine.txt")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  QString text;
  ModalCloser closer([&text](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    box->accept();
  });
  EXPECT_FALSE(window->startRecordingPings(dir.path()));
  EXPECT_TRUE(text.contains(QStringLiteral("not empty"))) << text.toStdString();
  EXPECT_FALSE(recordAction(*window)->isChecked());
}

// The recorder writes a ping's files on the measuring thread: unchecking File > Record pings...
// while a step is in flight waits for it, so that step is still kept whole and the session ends
// complete after it.
TEST(RecordPings, UncheckingDuringAStepKeepsThatStepAndThenEnds) {
  auto window = makeTestWindow();
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("s"));
  ASSERT_TRUE(window->startRecordingPings(folder));
  keyPressed(window->app(), VirtualKey::kEnter);
  ASSERT_TRUE(window->app().measuring);
  recordAction(*window)->trigger();
  EXPECT_NE(window->program().recorder, nullptr);  // held back until the step is stored
  EXPECT_TRUE(recordAction(*window)->isChecked());
  ASSERT_TRUE(settle(*window));
  EXPECT_EQ(window->program().recorder, nullptr);
  EXPECT_FALSE(recordAction(*window)->isChecked());
  RecordedSession session;
  ASSERT_EQ(readRecordedSession(folder.toStdString(), session), "");
  EXPECT_EQ(session.pings.size(), 1u);
  EXPECT_TRUE(session.info.complete);
}

}  // namespace
