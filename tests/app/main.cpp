#include <gtest/gtest.h>

#include <QGuiApplication>

// Text on the plot surface needs a QGuiApplication; the offscreen platform needs no display.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication gui(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
