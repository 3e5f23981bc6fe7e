// The offscreen platform with one 1600 x 1000 screen (its default is smaller than the windows
// side by side), so placement beside the main window can be seen to fit. Call before the
// application object exists; only changes an environment that asks for "offscreen".
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

namespace qv {

inline void UseLargeOffscreenScreen() {
  if (qgetenv("QT_QPA_PLATFORM") != "offscreen") return;
  const QString path = QDir::temp().filePath(QStringLiteral("qv_offscreen_%1.json")
                                                 .arg(QString::number(QCoreApplication::applicationPid())));
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  f.write(R"({"screens":[{"name":"screen","x":0,"y":0,"width":1600,"height":1000,)"
          R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
  f.close();
  qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).toLocal8Bit());
}

}  // namespace qv
