// A book served on 127.0.0.1: the download engine run headless (in-memory table and controls)
// beside curl fetching the same pages with 20 transfers at a time, in the same run; and, in a
// process of its own, the peak memory of a 5,000-chapter download and the time of its merge.
//
//   download_bench [chapters=1000] [latencyMs=50] [bigChapters=5000]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "shell/memory_ports.h"
#include "download/download_engine.h"
#include "download/download_state.h"
#include "test_site.h"
#include "text/encoding.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using qv::Ctl;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Peak resident memory of this process image in KB. VmHWM rather than getrusage's maxrss:
// maxrss carries over across exec the peak of the spawning process, the server here.
long MaxRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// About 6 KB of CP936 chapter text in the markup of the rule 零点看书.
std::string ChapterPage(int n) {
  std::string body;
  for (int p = 0; p < 30; ++p) {
    body += "&nbsp;&nbsp;&nbsp;&nbsp;第" + std::to_string(n) +
            "章的第" + std::to_string(p + 1) +
            "段：山风吹过天玄峰，少年握紧了手中的剑，望向远处翻涌的云海。<br /><br />";
  }
  return qv::Utf8ToGbk("<html><head><meta charset=\"gbk\"></head><body><h1>第" +
                       std::to_string(n) + "章</h1><div id=\"content\">" + body +
                       "</div><div class=\"bottem\">上一章 下一章</div></body></html>");
}

std::string PagePath(int n) { return "/book/" + std::to_string(n) + ".html"; }

void ServeBook(qvtest::TestSite& site, int chapters, int latencyMs) {
  for (int n = 1; n <= chapters; ++n) {
    site.Serve(PagePath(n), {.body = ChapterPage(n), .delayMs = latencyMs});
  }
}

struct EngineRun {
  double seconds = 0;
  int saved = 0;
  double mergeSeconds = 0;
};

// One headless download of the whole book in a fresh folder under the current directory.
EngineRun RunEngine(const std::string& base, int chapters, double waitScale, bool merge) {
  qv::MemoryTable table;
  qv::MemoryControls controls;
  controls.SetWaitScale(waitScale);
  controls.SetText(Ctl::PauseButton, qv::Utf8ToGbk("暂停"));
  controls.SetText(Ctl::TitleLabel, qv::Utf8ToGbk("天玄记"));
  controls.SetText(Ctl::AuthorLabel, qv::Utf8ToGbk("张三"));
  controls.SetText(Ctl::BaseAddressBox, base);
  controls.SetText(Ctl::LeftMarkerBox, "<div id=\"content\">");
  controls.SetText(Ctl::RightMarkerBox, "</div>");
  controls.SetChecked(Ctl::MergeCheck, false);
  for (int n = 1; n <= chapters; ++n) {
    table.AppendChapter(qv::Decimal(n), qv::Utf8ToGbk("第" + std::to_string(n) + "章"),
                        PagePath(n), qv::Utf8ToGbk("等待下载"), qv::kChecked);
  }
  EngineRun run;
  {
    qv::DownloadEngine engine(table, controls);
    const auto t0 = Clock::now();
    engine.StartDownload();
    run.seconds = Seconds(t0, Clock::now());
    for (int r = 0; r < chapters; ++r) {
      run.saved += table.CellText(r, qv::kColStatus) == qv::Utf8ToGbk("下载完毕") ? 1 : 0;
    }
    if (merge) {
      const auto m0 = Clock::now();
      if (!engine.MergeBook()) std::printf("merge failed\n");
      run.mergeSeconds = Seconds(m0, Clock::now());
    }
    qv::StopPoolOnClose(controls);
  }
  return run;
}

double RunCurl(const std::string& base, int chapters, const fs::path& dir) {
  const fs::path config = dir / "curl.cfg";
  {
    std::ofstream out(config);
    for (int n = 1; n <= chapters; ++n) {
      out << "url = \"" << base << PagePath(n) << "\"\noutput = \"/dev/null\"\n";
    }
  }
  const std::string cmd =
      "curl --silent --show-error --no-progress-meter --parallel --parallel-max 20 --config " + config.string();
  const auto t0 = Clock::now();
  const int rc = std::system(cmd.c_str());
  const double s = Seconds(t0, Clock::now());
  if (rc != 0) std::printf("curl failed: %d\n", rc);
  return s;
}

// Child process: the big book's download, its merge and the peak memory of this process.
int BigChild(const std::string& base, int chapters) {
  qv::CreateProcessObjects();
  const long before = MaxRssKb();
  const EngineRun run = RunEngine(base, chapters, 0.01, true);
  std::error_code ec;
  const auto bookSize = fs::file_size(qv::FsPath(qv::Utf8ToGbk("天玄记(张三).txt")), ec);
  std::printf("big book: %d chapters, %d saved in %.2f s; merge %.3f s (%.1f MB book)\n",
              chapters, run.saved, run.seconds, run.mergeSeconds, bookSize / 1048576.0);
  std::printf("big book: peak memory %.1f MB (%.1f MB before the run)\n", MaxRssKb() / 1024.0,
              before / 1024.0);
  qv::ExitCleanup();
  return 0;
}

int SpawnBig(const std::string& base, int chapters, const fs::path& dir) {
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  std::vector<std::string> args = {self, "--big-child", base, std::to_string(chapters)};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const fs::path old = fs::current_path();
  fs::create_directories(dir / "big");
  fs::current_path(dir / "big");
  pid_t pid = 0;
  const int err = posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ);
  fs::current_path(old);
  if (err != 0) return err;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc == 4 && std::string(argv[1]) == "--big-child") {
    return BigChild(argv[2], std::atoi(argv[3]));
  }
  const int chapters = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int latencyMs = argc > 2 ? std::atoi(argv[2]) : 50;
  const int bigChapters = argc > 3 ? std::atoi(argv[3]) : 5000;

  char pattern[] = "/tmp/qv_download_bench_XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path dir = pattern;
  const fs::path old = fs::current_path();

  qvtest::TestSite site({.threads = 64, .keepAlive = true});
  ServeBook(site, chapters, latencyMs);
  const std::string base = site.Address("");
  qv::CreateProcessObjects();

  std::printf("%d chapters, %d ms latency each, 20 at a time\n", chapters, latencyMs);
  std::printf("ideal %d x %d ms / 20: %.2f s\n", chapters, latencyMs,
              chapters * latencyMs / 1000.0 / 20);
  const double curl1 = RunCurl(base, chapters, dir);
  std::printf("curl --parallel --parallel-max 20: %.2f s\n", curl1);

  struct Mode {
    const char* name;
    double scale;
    EngineRun run;
  };
  Mode modes[] = {{"idle poll 10 ms (wait scale 0.01)", 0.01, {}},
                  {"idle poll 1 s (real one-second wait)", 1.0, {}}};
  for (Mode& m : modes) {
    const fs::path runDir = dir / (m.scale < 1 ? "fast" : "real");
    fs::create_directories(runDir);
    fs::current_path(runDir);
    qv::ExitCleanup();  // a fresh pool for each run
    qv::CreateProcessObjects();
    m.run = RunEngine(base, chapters, m.scale, false);
    fs::current_path(old);
  }
  const double curl2 = RunCurl(base, chapters, dir);
  std::printf("curl again: %.2f s\n", curl2);
  const double curl = std::min(curl1, curl2);
  for (const Mode& m : modes) {
    std::printf("engine, %s: %.2f s, %d saved; best curl / engine = %.2f\n", m.name,
                m.run.seconds, m.run.saved, curl / m.run.seconds);
  }
  qv::ExitCleanup();

  qvtest::TestSite bigSite({.threads = 32, .keepAlive = true});
  ServeBook(bigSite, bigChapters, 0);
  const int rc = SpawnBig(bigSite.Address(""), bigChapters, dir);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return rc;
}
