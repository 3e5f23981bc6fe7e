// A 5,000-chapter book merged by the engine: the text book and the EPUB written from the same
// chapter files, timed side by side in one run (rounds interleaved, medians reported).
//
//   epub_bench [chapters=5000] [rounds=3]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "download/book_files.h"
#include "download/download_engine.h"
#include "download/download_state.h"
#include "shell/memory_ports.h"
#include "text/encoding.h"
#include "text/markers.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using qv::Ctl;

// About 6 KB of CP936 chapter text, cleaned as a downloaded chapter is.
std::string ChapterFile(int n) {
  std::string body;
  for (int p = 0; p < 30; ++p) {
    body += "&nbsp;&nbsp;&nbsp;&nbsp;第" + std::to_string(n) + "章的第" + std::to_string(p + 1) +
            "段：山风吹过天玄峰，少年握紧了手中的剑，望向远处翻涌的云海。<br /><br />";
  }
  return qv::CleanChapterText(qv::Utf8ToGbk("第" + std::to_string(n) + "章 云海\r\n" + body));
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int chapters = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  char pattern[] = "/tmp/qv_epub_bench_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path dir = pattern;
  fs::current_path(dir);

  qv::CreateProcessObjects();
  qv::MemoryTable table;
  qv::MemoryControls controls;
  const qv::Text title = qv::Utf8ToGbk("天玄记");
  controls.SetText(Ctl::TitleLabel, title);
  controls.SetText(Ctl::AuthorLabel, qv::Utf8ToGbk("张三"));
  controls.SetText(Ctl::AddressBox, "http://127.0.0.1/book/");
  qv::MakeFolder(qv::BookFolderPath(title));
  const qv::Text done = qv::Utf8ToGbk("下载完毕");
  size_t textBytes = 0;
  for (int i = 0; i < chapters; ++i) {
    const std::string file = ChapterFile(i + 1);
    textBytes += file.size();
    qv::WriteFileBytes(qv::ChapterFilePathFor(title, i), file);
    table.AppendChapter(qv::Decimal(i + 1), "x", "x", done, qv::kUnchecked);
  }

  std::vector<double> txtTimes, epubTimes;
  bool ok = true;
  {
    qv::DownloadEngine engine(table, controls);
    for (int r = 0; r < rounds; ++r) {
      for (const bool epub : {false, true}) {
        controls.SetChecked(Ctl::TxtCheck, !epub);
        controls.SetChecked(Ctl::EpubCheck, epub);
        const auto start = Clock::now();
        ok = engine.MergeBook() && ok;
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        (epub ? epubTimes : txtTimes).push_back(s);
      }
    }
  }
  const auto txtSize = fs::file_size(qv::FsPath(qv::BookFilePathFor(title, qv::Utf8ToGbk("张三"))));
  const auto epubSize = fs::file_size(qv::FsPath(qv::EpubFilePathFor(title, qv::Utf8ToGbk("张三"))));
  const double txt = Median(txtTimes);
  const double epub = Median(epubTimes);
  std::printf("%d chapters, %.1f MB of chapter text, %d rounds%s\n", chapters, textBytes / 1e6,
              rounds, ok ? "" : " (A MERGE FAILED)");
  std::printf("text book merge: %8.3f s  (%.1f MB)\n", txt, txtSize / 1e6);
  std::printf("EPUB writing:    %8.3f s  (%.1f MB)\n", epub, epubSize / 1e6);
  std::printf("EPUB / text:     %8.2f x\n", epub / txt);

  qv::ExitCleanup();
  fs::current_path("/");
  std::error_code ec;
  fs::remove_all(dir, ec);
  return ok ? 0 : 1;
}
