#include <gtest/gtest.h>

#include <QGuiApplication>

// Text needs a QGuiApplication; the offscreen platform works without a display, also while
// CTest lists the tests.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
