// What one keystroke costs in the rule window's world, with the default rule file, measured
// through the real widgets (offscreen) beside one plain read of the rule file's bytes:
// - a change of the address box whose host has no rule (lookup only),
// - a change that finds a rule (lookup, then the rule shown: its fields written back),
// - one character typed into a marker box (one field save),
// - showing a rule picked in the list.
// Each in microseconds per operation and as a multiple of the plain read.
#include <stdlib.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "common/micros_per_op.h"
#include "rules/rule_store.h"
#include "gui/rule_window/rule_window.h"
#include "gui/rule_window/rule_window_hooks.h"

using qvbench::MicrosPerOp;

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);

  std::string pattern = (std::filesystem::temp_directory_path() / "qv_rualwin_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const std::filesystem::path dir = pattern;
  std::filesystem::current_path(dir);

  double read = 0, miss = 0, hit = 0, save = 0, show = 0;
  {
    qv::MainWindowHooks hooks;
    qv::AttachRuleWindow(hooks);
    qv::MainWindow window(std::move(hooks));
    qv::RuleWindow* rw = qv::RuleWindowOf(window);
    auto* address = window.Find<QLineEdit>("编辑框_章节列表网址");
    auto* left = qobject_cast<QLineEdit*>(rw->FieldBox(qv::RuleField::kLeftMarker));
    const std::filesystem::path file = qv::RuleStore().FilePath();

    size_t sink = 0;
    read = MicrosPerOp(2000, [&](int) {
      std::ifstream in(file, std::ios::binary);
      sink += std::string(std::istreambuf_iterator<char>(in), {}).size();
    });
    // Two texts in turn, so every call is a change.
    miss = MicrosPerOp(200, [&](int i) {
      address->setText(i % 2 ? "http://nowhere.example/a/" : "http://nowhere.example/b/");
    });
    hit = MicrosPerOp(100, [&](int i) {
      address->setText(i % 2 ? "http://www.yiduks.com/1/" : "http://www.biquge.com/1/");
    });
    save = MicrosPerOp(200, [&](int i) {
      if (i % 2) {
        left->backspace();
      } else {
        left->insert("x");
      }
    });
    show = MicrosPerOp(100, [&](int i) { rw->RuleList()->setCurrentRow(i % 2 ? 3 : 7); });
    std::printf("(checksum %zu)\n", sink);
  }
  std::error_code ec;
  std::filesystem::current_path(dir.parent_path(), ec);
  std::filesystem::remove_all(dir, ec);

  std::printf("plain read of the rule file      %9.1f us\n", read);
  std::printf("address change, no rule found    %9.1f us  (%6.1fx)\n", miss, miss / read);
  std::printf("address change, rule found+shown %9.1f us  (%6.1fx)\n", hit, hit / read);
  std::printf("one character in a marker box    %9.1f us  (%6.1fx)\n", save, save / read);
  std::printf("a rule picked in the list        %9.1f us  (%6.1fx)\n", show, show / read);
  return 0;
}
