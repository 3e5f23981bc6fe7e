// The application for the window tests. Windows made by the tests write their rule file into
// the current directory, so the tests run in a throw-away one.
#include <gtest/gtest.h>

#include "offscreen_screen.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// Every test starts as on a first run: no settings saved by an earlier test's window.
class FreshSettings : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    QFile::remove(QString::fromUtf8("设置.ini"));
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettings);
  qv::UseLargeOffscreenScreen();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QTemporaryDir dir;
  if (!dir.isValid() || !QDir::setCurrent(dir.path())) return 2;
  return RUN_ALL_TESTS();
}
