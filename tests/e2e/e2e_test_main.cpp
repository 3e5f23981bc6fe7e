// The application for the end-to-end tests, as the program starts: the download engine's
// process-wide objects once before any window, shared OpenGL contexts for the browser engine,
// and the objects released once at the end. Each test works in its own throw-away directory.
#include <QApplication>

#include <gtest/gtest.h>

#include "download/download_state.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qv::CreateProcessObjects();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const int code = RUN_ALL_TESTS();
  qv::ExitCleanup();
  return code;
}
