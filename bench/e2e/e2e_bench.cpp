// A book served on 127.0.0.1 with a fixed latency per chapter page, downloaded through the
// program's real main window offscreen: the time from the click of 按钮_下载章节内容 to the
// finish notice, beside curl fetching the same pages 20 at a time in the same run (before and
// after; the better one counts) and the ideal chapters x latency / 20. During each window run
// a 5 ms timer records the longest gap between its ticks: how long the window went without
// handling its events.
//
//   e2e_bench [chapters=1000] [latencyMs=50]
#include <stdlib.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "book_site.h"
#include "download/download_state.h"
#include "program_window.h"
#include "text/encoding.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// About 6 KB of chapter text in CP936.
std::string Body(int n) {
  std::string body;
  for (int p = 0; p < 30; ++p) {
    body += "&nbsp;&nbsp;&nbsp;&nbsp;第" + std::to_string(n) + "章的第" + std::to_string(p + 1) +
            "段：山风吹过天玄峰，少年握紧了手中的剑，望向远处翻涌的云海。<br /><br />";
  }
  return qv::Utf8ToGbk(body);
}

double RunCurl(const std::string& base, int chapters, const fs::path& dir) {
  const fs::path config = dir / "curl.cfg";
  {
    std::ofstream out(config);
    for (int n = 1; n <= chapters; ++n) {
      out << "url = \"" << base << "book/" << n << ".html\"\noutput = \"/dev/null\"\n";
    }
  }
  const std::string cmd =
      "curl --silent --show-error --no-progress-meter --parallel --parallel-max 20 --config " + config.string();
  const auto t0 = Clock::now();
  const int rc = std::system(cmd.c_str());
  const double s = Seconds(Clock::now() - t0);
  if (rc != 0) std::printf("curl failed: %d\n", rc);
  return s;
}

struct WindowRun {
  double seconds = 0;    // click to finish notice
  double longestGapMs = 0;
  int saved = 0;
  bool noticed = false;
};

// One run of every checked row through the real buttons.
WindowRun RunWindow(qvtest::ProgramWindow& program, qvtest::NoticeLog& notices, int chapters) {
  WindowRun run;
  Clock::time_point shown{};
  notices.Clear();
  notices.OnShow([&](const qvtest::SeenNotice&) {
    if (!run.noticed) shown = Clock::now();
    run.noticed = true;
  });
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  Clock::time_point lastTick = Clock::now();
  QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
    const Clock::time_point now = Clock::now();
    run.longestGapMs = std::max(run.longestGapMs,
                                std::chrono::duration<double, std::milli>(now - lastTick).count());
    lastTick = now;
  });
  ticker.start(5);
  lastTick = Clock::now();
  const auto t0 = Clock::now();
  program.Click("按钮_下载章节内容");
  ticker.stop();
  run.seconds = Seconds((run.noticed ? shown : Clock::now()) - t0);
  notices.OnShow({});
  for (int r = 0; r < chapters; ++r) {
    run.saved += program.window().table().CellText(r, qv::kColStatus) == qv::Utf8ToGbk("下载完毕");
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int chapters = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int latencyMs = argc > 2 ? std::atoi(argv[2]) : 50;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  qv::CreateProcessObjects();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  char pattern[] = "/tmp/qv_e2e_bench_XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path dir = pattern;
  const fs::path old = fs::current_path();
  fs::current_path(dir);

  int code = 0;
  {
    qvtest::BookSite site(64, true);
    std::vector<std::string> titles, bodies;
    for (int n = 1; n <= chapters; ++n) {
      titles.push_back(qv::Utf8ToGbk("第" + std::to_string(n) + "章"));
      bodies.push_back(Body(n));
    }
    site.SetBook(qv::Utf8ToGbk("天玄记"), qv::Utf8ToGbk("张三"), titles, bodies);
    site.SetChapterDelay(latencyMs);
    qvtest::WriteRuleFile(site.Base());

    std::printf("%d chapters, %d ms latency each, 20 at a time, through the real window offscreen\n",
                chapters, latencyMs);
    const double ideal = chapters * latencyMs / 1000.0 / 20;
    std::printf("ideal %d x %d ms / 20: %.2f s\n", chapters, latencyMs, ideal);
    const double curl1 = RunCurl(site.Base(), chapters, dir);
    std::printf("curl --parallel --parallel-max 20: %.2f s\n", curl1);

    qvtest::NoticeLog notices;
    qvtest::ProgramWindow program;
    program.TypeAddress(site.IndexAddress());
    const auto f0 = Clock::now();
    if (!program.FetchChapters(60000) || program.window().table().RowCount() != chapters) {
      std::printf("chapter list fetch failed\n");
      code = 1;
    } else {
      std::printf("chapter list of %d rows through the window, press to buttons back: %.2f s\n",
                  chapters, Seconds(Clock::now() - f0));
      // Without the merge: the download alone, finished by "章节内容已下载完毕".
      program.Click("选择框_合并");
      const WindowRun plain = RunWindow(program, notices, chapters);
      // Again with the merge: every row checked again, finished by "整本小说下载完毕".
      program.Click("按钮_全选");
      program.Click("选择框_合并");
      const WindowRun merged = RunWindow(program, notices, chapters);
      const double curl2 = RunCurl(site.Base(), chapters, dir);
      std::printf("curl again: %.2f s\n", curl2);
      const double curl = std::min(curl1, curl2);
      std::printf("window, click to \"章节内容已下载完毕\": %.2f s, %d saved, longest gap %.0f ms; "
                  "best curl / window = %.2f; ideal / window = %.2f\n",
                  plain.seconds, plain.saved, plain.longestGapMs, curl / plain.seconds,
                  ideal / plain.seconds);
      std::printf("window with auto-merge, click to \"整本小说下载完毕\": %.2f s, %d saved, "
                  "longest gap %.0f ms; best curl / window = %.2f\n",
                  merged.seconds, merged.saved, merged.longestGapMs, curl / merged.seconds);
      if (!plain.noticed || !merged.noticed) code = 1;
    }
    site.OpenGate();
  }
  fs::current_path(old);
  std::error_code ec;
  fs::remove_all(dir, ec);
  qv::ExitCleanup();
  return code;
}
