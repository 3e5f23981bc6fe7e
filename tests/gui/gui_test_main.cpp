// The application for the window tests. Windows made by the tests write their rule file into
// the current directory, so the tests run in a throw-away one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QTemporaryDir dir;
  if (!dir.isValid() || !QDir::setCurrent(dir.path())) return 2;
  return RUN_ALL_TESTS();
}
