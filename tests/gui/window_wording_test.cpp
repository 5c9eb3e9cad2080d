#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

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

}  // namespace
