// The application for the rule-window tests; each test works in its own throw-away directory.
#include <QApplication>

#include <gtest/gtest.h>

#include "offscreen_screen.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qv::UseLargeOffscreenScreen();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
