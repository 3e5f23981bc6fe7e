// The real program: started from another directory, it writes the rule file beside itself and
// ends cleanly on SIGTERM.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "rules/default_rules.h"

namespace {

TEST(Startup, WritesTheRuleFileBesideTheProgramAndEndsCleanlyOnSigterm) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  QDir dir(root.path());
  ASSERT_TRUE(dir.mkdir("program") && dir.mkdir("elsewhere"));
  const QString program = dir.filePath("program/quorvane");
  ASSERT_TRUE(QFile::copy(QStringLiteral(QV_PROGRAM_PATH), program));
  const QString ruleFile = dir.filePath(QString::fromUtf8("program/下载配置.xml"));

  QProcess p;
  p.setWorkingDirectory(dir.filePath("elsewhere"));
  p.setProcessChannelMode(QProcess::ForwardedChannels);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(program, {});
  ASSERT_TRUE(p.waitForStarted());

  // The file appears once the main window has been created.
  QElapsedTimer t;
  t.start();
  while (!QFile::exists(ruleFile) && p.state() == QProcess::Running && t.elapsed() < 60000) {
    QThread::msleep(20);
  }
  ASSERT_TRUE(QFile::exists(ruleFile));
  EXPECT_TRUE(QDir(dir.filePath("elsewhere")).isEmpty());

  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 0);

  QFile f(ruleFile);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_EQ(std::string(bytes.constData(), static_cast<size_t>(bytes.size())),
            qv::DefaultRuleFileBytes());
}

}  // namespace
