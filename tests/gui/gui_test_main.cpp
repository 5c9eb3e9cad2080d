#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "test_window.h"

namespace {

// Every window a test opens is closed by that test.
class NoWindowLeftOpen : public ::testing::Environment {
 public:
  void TearDown() override { EXPECT_EQ(visibleTopLevelWindows(), 0); }
};

}  // namespace

int main(int argc, char** argv) {
  // The window tests need no screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Keep the help document and other per-user files out of the real user folders.
  QStandardPaths::setTestModeEnabled(true);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Mervane"));
  // What the window remembers goes to a folder of the test run's own, never into the user's real
  // settings.
  QApplication::setOrganizationName(QStringLiteral("MervaneTests"));
  QTemporaryDir settingsDir;
  QSettings::setDefaultFormat(QSettings::IniFormat);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
  // Closing a window in a test must not end the test's event loops.
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new NoWindowLeftOpen);
  return RUN_ALL_TESTS();
}
