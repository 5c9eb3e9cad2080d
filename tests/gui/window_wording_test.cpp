#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include "audio/fault_backend.h"
#include "modal_closer.h"
#include "resources/command_layout.h"
#include "test_window.h"

// What the windows say: each dialog is titled by its menu item, the question before a sweep is
// lost has keys for its answers, and Escape calls off the long audio check.

namespace {

QString menuLabel(CommandId id) {
  for (const MenuSpec& menu : kMenuBar) {
    for (size_t i = 0; i < menu.itemCount; ++i) {
      if (menu.items[i].id == id)
        return QString::fromUtf8(menu.items[i].label.data(),
                                 static_cast<qsizetype>(menu.items[i].label.size()));
    }
  }
  return {};
}

TEST(WindowWording, EachDialogIsTitledByItsMenuItem) {
  auto window = makeTestWindow();
  for (const CommandId id :
       {CommandId::kSetOutSignal, CommandId::kSetWaveFormat, CommandId::kSetOffset,
        CommandId::kSetScale, CommandId::kAnalyzeWindow}) {
    SCOPED_TRACE(commandNumber(id));
    QString title;
    ModalCloser closer([&](QWidget* modal) { title = modal->windowTitle(); });
    window->runCommand(id);
    ASSERT_TRUE(closer.sawModal());
    EXPECT_EQ(title, menuLabel(id).trimmed());
  }
}

TEST(WindowWording, TheSaveQuestionHasKeysForItsAnswers) {
  auto window = makeTestWindow();
  window->program().sweepUnsaved = true;
  QStringList texts;
  ModalCloser closer([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* b : box->buttons()) texts.append(b->text());
    box->button(QMessageBox::Cancel)->click();
  });
  window->runCommand(CommandId::kClearScreen);
  ASSERT_TRUE(closer.sawModal());
  texts.sort();
  EXPECT_EQ(texts, QStringList({"&Cancel", "&Discard", "&Save"}));
  EXPECT_TRUE(window->program().sweepUnsaved) << "Cancel keeps the sweep";
  window->program().sweepUnsaved = false;
}

TEST(WindowWording, EscapeOnTheAudioCheckNoticeCallsItOff) {
  auto window = makeTestWindow();
  int modals = 0;
  ModalCloser closer([&](QWidget* modal) {
    ++modals;
    QTest::keyClick(modal, Qt::Key_Escape);
  });
  window->runCommand(CommandId::kCheckAudioSystem);
  QTest::qWait(300);
  EXPECT_EQ(closer.modalCount(), 1) << "the check's own window opened after Escape";
}

// Without a sound device the start-up box says where to go from here, under a caption that is
// not cut off, and the menu item it names is the real one.
TEST(WindowWording, TheNoDeviceBoxSaysWhatToDoAndFitsItsCaption) {
  SimRoom room = defaultSimRoom();
  auto noDevice =
      std::make_unique<FaultBackend>(std::make_unique<SimBackend>(room, SimPacing::kVirtual));
  noDevice->failCallsFrom(BackendCall::kOpen, 1, kWaveNotOpen);
  const QString deviceText = QString::fromStdString(noDevice->errorText(kWaveNotOpen));
  QString title, text;
  int width = 0, captionWidth = 0;
  ModalCloser closer([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    width = box->width();
    captionWidth = box->fontMetrics().horizontalAdvance(title);
  });
  MainWindow window(std::move(noDevice), AudioKind::kSoundCard);
  ASSERT_TRUE(closer.sawModal());
  EXPECT_EQ(title, QStringLiteral("WaveOut 1 Error init"));
  EXPECT_TRUE(text.startsWith(deviceText)) << text.toStdString();
  const QString item = menuLabel(CommandId::kAudioDevice).trimmed();
  EXPECT_TRUE(text.contains(QStringLiteral("Settings > ") + item)) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("simulated room"))) << text.toStdString();
  // The caption and a title bar's icon and three buttons (at least 30 px each) fit beside it.
  EXPECT_GE(width, captionWidth + 4 * 30);
}

}  // namespace
