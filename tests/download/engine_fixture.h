// What the download tests share: each test runs in its own temporary current directory (two
// levels below a sandbox, so a path that climbs out shows up in the sandbox), with the
// process objects made anew, an in-memory table and controls, and the local test site.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "shell/memory_ports.h"
#include "download/book_files.h"
#include "download/download_engine.h"
#include "download/download_state.h"
#include "test_site.h"
#include "text/encoding.h"

namespace qvtest {

namespace fs = std::filesystem;
using qv::Ctl;
using qv::Text;

// A chapter page as the download tests give it, answered by the test site.
struct PageReply {
  std::string body;                         // bytes as sent (before packing)
  std::string contentType = "text/html";
  bool gzip = false;                        // packed, with "Content-Encoding: gzip"
  int emptyFirst = 0;                       // the first n requests get an empty body
  int delayMs = 0;                          // every answer waits this long first
};

// The site's answer script for such a page.
inline std::vector<SiteAnswer> AnswersOf(const PageReply& reply) {
  const SiteAnswer empty{.contentType = reply.contentType, .delayMs = reply.delayMs};
  std::vector<SiteAnswer> answers(static_cast<size_t>(reply.emptyFirst), empty);
  answers.push_back({.body = reply.body, .contentType = reply.contentType, .gzip = reply.gzip,
                     .delayMs = reply.delayMs});
  return answers;
}

// UTF-8 literal to CP936.
inline Text G(const char* utf8) { return qv::Utf8ToGbk(utf8); }

// Every file and folder under `root`, as paths relative to it (UTF-8).
inline std::set<std::string> TreeOf(const fs::path& root) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    out.insert(fs::relative(e.path(), root).generic_string());
  }
  return out;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldCwd_ = fs::current_path();
    char pattern[] = "/tmp/qv_download_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    sandbox_ = pattern;
    fs::create_directories(sandbox_ / "a" / "b");
    fs::current_path(sandbox_ / "a" / "b");
    qv::CreateProcessObjects();
    controls.SetText(Ctl::PauseButton, G("暂停"));
    controls.SetText(Ctl::MergeButton, G("合并全本"));
    controls.SetText(Ctl::TitleLabel, G("天玄记"));
    controls.SetText(Ctl::AuthorLabel, G("张三"));
    controls.SetEnabled(Ctl::PauseButton, false);
    controls.SetEnabled(Ctl::StopButton, false);
    controls.SetEnabled(Ctl::MergeButton, false);
    controls.SetChecked(Ctl::MergeCheck, true);
    controls.SetWaitScale(0.01);
  }

  void TearDown() override {
    controls.SetPumpHook({});
    qv::StopPoolOnClose(controls);
    engine.reset();
    qv::ExitCleanup();
    fs::current_path(oldCwd_);
    std::error_code ec;
    fs::remove_all(sandbox_, ec);
  }

  qv::DownloadEngine& Engine(qv::PageBrowser* browser = nullptr) {
    if (!engine) engine = std::make_unique<qv::DownloadEngine>(table, controls, browser);
    return *engine;
  }

  void SetMarkers(const Text& left, const Text& right) {
    controls.SetText(Ctl::LeftMarkerBox, left);
    controls.SetText(Ctl::RightMarkerBox, right);
  }

  // A checked row waiting for download.
  void AddRow(const Text& title, const Text& link, int check = 1) {
    const int n = table.RowCount();
    table.AppendChapter(qv::Decimal(n + 1), title, link, G("等待下载"), check ? qv::kChecked : qv::kUnchecked);
  }

  Text Status(int row) { return table.CellText(row, qv::kColStatus); }

  // The pump hook runs fn, not nested into itself.
  void OnPump(std::function<void()> fn) {
    controls.SetPumpHook([this, fn = std::move(fn)] {
      if (inHook_) return;
      inHook_ = true;
      fn();
      inHook_ = false;
    });
  }

  std::string FileUtf8(const Text& gbkPath) { return qv::GbkToUtf8(qv::ReadFileBytes(gbkPath)); }

  fs::path sandbox_;
  fs::path oldCwd_;
  bool inHook_ = false;
  qv::MemoryTable table;
  qv::MemoryControls controls;
  std::unique_ptr<qv::DownloadEngine> engine;
};

}  // namespace qvtest
