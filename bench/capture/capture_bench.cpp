// Page capture through the real browser engine, offscreen, against chapter pages on 127.0.0.1:
// pages captured per second beside the HTTP download of the same pages in the same run, the
// memory of the program and its browser processes after them, and, each in a fresh process,
// the start-up time and idle memory of the program with and without the browser view.
//
//   capture_bench [pages=100] [windowPages=10] [startRounds=3]
//
// Memory is the sum over this process and its descendants (the browser engine's
// QtWebEngineProcess helpers): RSS counts pages shared between them once per process, PSS
// shares them out, so PSS is the fair total.
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "gui/notices.h"
#include "gui/startup.h"
#include "gui/web_page_browser.h"
#include "shell/memory_ports.h"
#include "test_site.h"
#include "download/download_engine.h"
#include "download/download_state.h"
#include "gui/rule_window/rule_window_hooks.h"
#include "text/encoding.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using qv::Ctl;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void PumpFor(std::chrono::milliseconds span) {
  QEventLoop loop;
  QTimer::singleShot(span, &loop, &QEventLoop::quit);
  loop.exec();
}

long FieldKb(const std::string& file, const char* name) {
  std::ifstream in(file);
  std::string line;
  const size_t n = std::char_traits<char>::length(name);
  while (std::getline(in, line)) {
    if (line.compare(0, n, name) == 0) return std::atol(line.c_str() + n);
  }
  return 0;
}

struct TreeMemory {
  long rssKb = 0;
  long pssKb = 0;
  int processes = 0;
};

// This process and every descendant.
TreeMemory MemoryOfTree() {
  std::map<int, int> parentOf;
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d)) {
      const int pid = std::atoi(e->d_name);
      if (pid <= 0) continue;
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      const size_t close = text.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(text.substr(close + 2));
      char state;
      int ppid = 0;
      rest >> state >> ppid;
      parentOf[pid] = ppid;
    }
    closedir(d);
  }
  const int self = static_cast<int>(getpid());
  TreeMemory m;
  for (const auto& [pid, ppid] : parentOf) {
    int p = pid;
    while (p > 1 && p != self) {
      auto it = parentOf.find(p);
      p = it == parentOf.end() ? 0 : it->second;
    }
    if (p != self) continue;
    const std::string dir = "/proc/" + std::to_string(pid);
    m.rssKb += FieldKb(dir + "/status", "VmRSS:");
    m.pssKb += FieldKb(dir + "/smaps_rollup", "Pss:");
    ++m.processes;
  }
  return m;
}

// A chapter page of about 6 KB in the layout of the rule 2345小说（仅测试）: the body in the
// HTML, the chapter's last paragraph written by the page's script.
std::string ChapterPage(int n) {
  std::string body;
  for (int p = 0; p < 30; ++p) {
    body += "<p>第" + std::to_string(n) + "章的第" + std::to_string(p + 1) +
            "段：山风吹过天玄峰，少年握紧了手中的剑，望向远处翻涌的云海。</p>";
  }
  return qv::Utf8ToGbk(
      "<html><head><meta charset=\"gbk\"><title>第" + std::to_string(n) +
      "章</title></head><body><div class=\"nav\">首页 &gt; 天玄记 &gt; 目录</div>"
      "<div id=\"box\">正在玩命为您加载中，请稍后！<div id=\"content\">" + body +
      "<p id=\"last\"></p></div>上一章 目录 下一章</div>"
      "<script>window.addEventListener('load', function () {"
      " document.getElementById('last').textContent = '本章完'; });</script></body></html>");
}

void SetUpRun(qv::Controls& c, const std::string& base) {
  c.SetText(Ctl::PauseButton, qv::Utf8ToGbk("暂停"));
  c.SetText(Ctl::TitleLabel, qv::Utf8ToGbk("天玄记"));
  c.SetText(Ctl::AuthorLabel, qv::Utf8ToGbk("张三"));
  c.SetText(Ctl::BaseAddressBox, base);
  c.SetText(Ctl::LeftMarkerBox, qv::Utf8ToGbk("正在玩命为您加载中，请稍后！"));
  c.SetText(Ctl::RightMarkerBox, qv::Utf8ToGbk("上一章"));
  c.SetChecked(Ctl::MergeCheck, false);
}

void FillTable(qv::ChapterTable& t, int pages) {
  t.DeleteAllRows();
  for (int i = 1; i <= pages; ++i) {
    t.AppendChapter(qv::Decimal(i), qv::Utf8ToGbk("第") + qv::Decimal(i) + qv::Utf8ToGbk("章"),
                    "c" + std::to_string(i) + ".html", qv::Utf8ToGbk("等待下载"), qv::kChecked);
  }
}

int Saved(qv::ChapterTable& t) {
  int n = 0;
  for (int r = 0; r < t.RowCount(); ++r) n += t.CheckState(r) == 0;
  return n;
}

// The capture run and its HTTP counterpart, in this process.
int Throughput(int pages, int windowPages) {
  qvtest::TestSite site;
  for (int i = 1; i <= std::max(pages, windowPages); ++i) {
    site.Set("c" + std::to_string(i) + ".html", {{ChapterPage(i)}});
  }
  const TreeMemory before = MemoryOfTree();

  QWidget host;
  new QVBoxLayout(&host);
  host.setEnabled(false);
  host.hide();
  qv::WebEnginePageBrowser browser(&host);
  qv::MemoryTable table;
  qv::MemoryControls controls;
  SetUpRun(controls, site.Base());
  // The waits hand the time to the window's events, as the window's own waits do.
  controls.SetWaitScale(0.001);
  controls.SetPumpHook([] { PumpFor(std::chrono::milliseconds(1)); });

  double captureS = 0, httpS = 0;
  int captured = 0, fetched = 0;
  {
    qv::DownloadEngine engine(table, controls, &browser);
    // The view is made by the first page; time it apart.
    FillTable(table, 1);
    controls.SetChecked(Ctl::CaptureCheck, true);
    const Clock::time_point first = Clock::now();
    engine.StartDownload();
    const double firstS = Seconds(first, Clock::now());

    FillTable(table, pages);
    Clock::time_point t0 = Clock::now();
    engine.StartDownload();
    captureS = Seconds(t0, Clock::now());
    captured = Saved(table);

    FillTable(table, pages);
    controls.SetChecked(Ctl::CaptureCheck, false);
    t0 = Clock::now();
    engine.StartDownload();
    httpS = Seconds(t0, Clock::now());
    fetched = Saved(table);

    std::printf("first page (browser view made):               %8.3f s\n", firstS);
  }
  std::printf("capture, %d pages, events handled in the waits: %6.3f s  %7.1f pages/s  (%d saved)\n",
              pages, captureS, pages / captureS, captured);
  std::printf("HTTP download, same %d pages, 5..20 workers:    %6.3f s  %7.1f pages/s  (%d saved)\n",
              pages, httpS, pages / httpS, fetched);
  std::printf("capture / HTTP:                                %8.3f\n", httpS / captureS);
  PumpFor(std::chrono::milliseconds(500));
  const TreeMemory after = MemoryOfTree();
  std::printf("memory before the browser: RSS %6ld MB, PSS %6ld MB, %d process(es)\n",
              before.rssKb / 1024, before.pssKb / 1024, before.processes);
  std::printf("memory after %d captures:  RSS %6ld MB, PSS %6ld MB, %d process(es)\n", pages,
              after.rssKb / 1024, after.pssKb / 1024, after.processes);

  // Through the real main window, whose waits last their full second each.
  if (windowPages > 0) {
    qv::MainWindow window;
    QLineEdit left, right;
    window.controls().RegisterBox(Ctl::LeftMarkerBox, &left);
    window.controls().RegisterBox(Ctl::RightMarkerBox, &right);
    SetUpRun(window.controls(), site.Base());
    window.controls().SetChecked(Ctl::CaptureCheck, true);
    window.show();
    qv::SetNoticeObserver([](QMessageBox* box) {
      QTimer::singleShot(0, box, [box] { box->accept(); });
    });
    std::unique_ptr<qv::PageBrowser> windowBrowser = qv::MakeLazyPageBrowser(window.browserHost());
    {
      qv::DownloadEngine engine(window.table(), window.controls(), windowBrowser.get());
      FillTable(window.table(), windowPages);
      const Clock::time_point t0 = Clock::now();
      engine.StartDownload();
      const double s = Seconds(t0, Clock::now());
      std::printf("capture in the main window, %d pages (1 s waits): %6.3f s  %7.2f pages/s  (%d saved)\n",
                  windowPages, s, windowPages / s, Saved(window.table()));
    }
    qv::SetNoticeObserver({});
  }
  return 0;
}

// One start of the program's window in this process: prints "ready" once the window is up and
// idle (with `withView`, once the browser view has also loaded its first page), then the idle
// memory after a second.
int StartOnce(bool withView) {
  qvtest::TestSite site;
  site.Set("blank.html", {{"<html><body></body></html>"}});
  qv::MainWindowHooks hooks;
  qv::AttachRuleWindow(hooks);
  qv::MainWindow window(std::move(hooks));
  window.show();
  std::unique_ptr<qv::PageBrowser> browser = qv::MakeLazyPageBrowser(window.browserHost());
  bool ready = false;
  QTimer::singleShot(0, &window, [&] {
    if (!withView) {
      ready = true;
      return;
    }
    browser->SetLoadFinishedHandler([&] { ready = true; });
    browser->Navigate(site.Base() + "blank.html");
  });
  while (!ready) PumpFor(std::chrono::milliseconds(1));
  std::printf("ready\n");
  std::fflush(stdout);
  PumpFor(std::chrono::milliseconds(1000));
  const TreeMemory m = MemoryOfTree();
  std::printf("%ld %ld %d\n", m.rssKb, m.pssKb, m.processes);
  std::fflush(stdout);
  browser.reset();
  window.close();
  return 0;
}

struct StartFigures {
  double seconds = 0;
  TreeMemory memory;
};

// Starts this program anew in a throw-away directory; the time runs from the start until it
// says "ready".
bool StartProcess(const std::string& self, bool withView, StartFigures& out) {
  char pattern[] = "/tmp/qv_capture_bench_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  const std::string cmd = "cd " + std::string(pattern) + " && exec '" + self + "' --start " +
                          (withView ? "view" : "plain") + " 2>/dev/null";
  const Clock::time_point t0 = Clock::now();
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return false;
  char line[256];
  bool ok = std::fgets(line, sizeof line, p) != nullptr && std::string(line) == "ready\n";
  out.seconds = Seconds(t0, Clock::now());
  ok = ok && std::fgets(line, sizeof line, p) != nullptr &&
       std::sscanf(line, "%ld %ld %d", &out.memory.rssKb, &out.memory.pssKb,
                   &out.memory.processes) == 3;
  pclose(p);
  std::error_code ec;
  fs::remove_all(pattern, ec);
  return ok;
}

void StartUp(const std::string& self, int rounds) {
  for (bool withView : {false, true}) {
    std::vector<StartFigures> runs;
    for (int i = 0; i < rounds; ++i) {
      StartFigures f;
      if (StartProcess(self, withView, f)) runs.push_back(f);
    }
    if (runs.empty()) {
      std::printf("start-up %s: failed\n", withView ? "with the view" : "without the view");
      continue;
    }
    std::sort(runs.begin(), runs.end(),
              [](const StartFigures& a, const StartFigures& b) { return a.seconds < b.seconds; });
    const StartFigures& m = runs[runs.size() / 2];
    std::printf("start-up %-26s %6.3f s (median of %zu), idle RSS %4ld MB, PSS %4ld MB, %d process(es)\n",
                withView ? "with the view created:" : "without the view (lazy):", m.seconds,
                runs.size(), m.memory.rssKb / 1024, m.memory.pssKb / 1024, m.memory.processes);
  }
}

}  // namespace

int main(int argc, char** argv) {
  qv::PrepareBrowserEnvironment();
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (argc == 3 && std::string(argv[1]) == "--start") {
    QApplication app(argc, argv);
    return StartOnce(std::string(argv[2]) == "view");
  }
  const int pages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  const int windowPages = argc > 2 ? std::max(0, std::atoi(argv[2])) : 10;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;

  std::error_code ec;
  const std::string self = fs::read_symlink("/proc/self/exe", ec).string();
  StartUp(self, rounds);

  const fs::path old = fs::current_path();
  char pattern[] = "/tmp/qv_capture_bench_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  fs::current_path(pattern);
  int rc;
  {
    QApplication app(argc, argv);
    qv::CreateProcessObjects();
    rc = Throughput(pages, windowPages);
    qv::ExitCleanup();
  }
  fs::current_path(old);
  fs::remove_all(pattern, ec);
  return rc;
}
