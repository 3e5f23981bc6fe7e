// The application for the page-capture tests. The browser engine needs shared OpenGL contexts
// set before the application exists; windows made by the tests write their rule file into the
// current directory, so the tests run in a throw-away one.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QTemporaryDir dir;
  if (!dir.isValid() || !QDir::setCurrent(dir.path())) return 2;
  return RUN_ALL_TESTS();
}
