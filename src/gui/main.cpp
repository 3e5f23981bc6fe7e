// Start-up: the program's own directory, the process-wide objects, the main window, the loop.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "gui/engine_session.h"
#include "gui/main_window.h"
#include "download/download_state.h"
#include "gui/startup.h"
#include "gui/rule_window/rule_window_hooks.h"

namespace {

bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0';
}

}  // namespace

int main(int argc, char** argv) {
  // A window program: without a display say so in one line instead of the toolkit's abort.
  if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
    std::fputs("quorvane: needs a graphical display (DISPLAY or WAYLAND_DISPLAY is not set).\n",
               stderr);
    return 1;
  }
  // Every bare file name ("下载配置.xml", the book folder, ...) means beside the program,
  // whatever directory it was started from.
  qv::EnterProgramDirectory();
  qv::PrepareBrowserEnvironment();

  // The download engine's process-wide objects exist before any window and are released once
  // when the program ends (after the window's close has drained the pool).
  qv::CreateProcessObjects();

  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);  // the browser engine needs it
  QApplication app(argc, argv);
  // The program ends when the main window has closed (other windows do not keep it alive).
  QApplication::setQuitOnLastWindowClosed(false);
  // The toolkit's own dialog buttons and texts in Chinese, like the rest of the program.
  QTranslator qtTexts;
  if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                   QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(&qtTexts);
  }

  // The rule-settings window and the download engine attach their steps here.
  qv::MainWindowHooks hooks;
  qv::AttachRuleWindow(hooks);
  std::unique_ptr<qv::EngineSession> session;
  hooks.stopPoolOnClose = [&session](qv::MainWindow&) {
    if (session) session->OnClose();
  };

  // Listening before the window exists: its created handling processes pending events, and a
  // signal that arrives meanwhile closes the window as soon as it is there.
  qv::MainWindow* created = nullptr;
  bool endWanted = false;
  qv::OnTerminationSignal([&] {
    if (created != nullptr) {
      created->CloseWithoutAsking();
    } else {
      endWanted = true;
    }
  });

  qv::MainWindow window(std::move(hooks));
  created = &window;
  session = std::make_unique<qv::EngineSession>(window);
  QObject::connect(&window, &qv::MainWindow::closed, &app, [] { QCoreApplication::exit(0); });
  window.show();
  if (endWanted) QTimer::singleShot(0, &window, [&window] { window.CloseWithoutAsking(); });
  const int code = QApplication::exec();
  session.reset();  // before the window it works on
  qv::ExitCleanup();
  return code;
}
