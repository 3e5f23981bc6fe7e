// The chapter-list fetch of a 10,000-chapter page (about 1 MB; or the first argument's number
// of chapters) from a local server into the in-memory table, beside the floors measured in the
// same run: the page transfer and decoding alone, and the regular expressions alone over the
// same text (the three patterns, with and without reading every group). Medians of 9 runs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "shell/memory_ports.h"
#include "test_site.h"
#include "text/regex_object.h"
#include "toc/chapter_list_fetch.h"
#include "toc_page.h"
#include "web/http_fetch.h"
#include "web/response_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The in-memory table, noting when the last chapter row arrived.
class TimedTable : public qv::MemoryTable {
 public:
  void AppendChapter(const qv::Text& number, const qv::Text& title, const qv::Text& link,
                     const qv::Text& status, qv::CheckMark checkState) override {
    MemoryTable::AppendChapter(number, title, link, status, checkState);
    last = Clock::now();
  }
  Clock::time_point last{};
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int chapters = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
  const int runs = 9;
  const qv::Text page = qv::bench::ChapterListPage(chapters);
  qvtest::TestSite site;
  site.Serve("/book/12/index.html", page);
  const std::string address = site.Address("/book/12/index.html");

  std::vector<double> toLastRow, toEnd, fetchOnly, regexOnly, regexAndGroups;
  for (int r = 0; r < runs; ++r) {
    // The whole fetch, headless.
    {
      TimedTable table;
      qv::MemoryControls controls;
      controls.SetText(qv::Ctl::AddressBox, address);
      controls.SetText(qv::Ctl::ListPatternBox, qv::bench::ListPattern());
      controls.SetText(qv::Ctl::TitlePatternBox, qv::bench::TitlePattern());
      controls.SetText(qv::Ctl::AuthorPatternBox, qv::bench::AuthorPattern());
      qv::ChapterListFetch fetch(table, controls);
      const auto t0 = Clock::now();
      fetch.Start();
      while (fetch.Running()) std::this_thread::sleep_for(std::chrono::microseconds(200));
      const auto t1 = Clock::now();
      if (table.RowCount() != chapters) {
        std::fprintf(stderr, "expected %d rows, got %d\n", chapters, table.RowCount());
        return 1;
      }
      toLastRow.push_back(Ms(table.last - t0));
      toEnd.push_back(Ms(t1 - t0));
    }
    // Transfer and decoding alone.
    qv::Text text;
    {
      const auto t0 = Clock::now();
      qv::Text headers;
      qv::FetchArgs args;
      args.responseHeaders = &headers;
      std::string body = qv::HttpFetch(address, args);
      text = qv::ResponseDecoder::DecodeBody(body, headers);
      if (qv::ResponseDecoder::LooksLikeUtf8(body)) text = qv::ResponseDecoder::Utf8ToLocal(text);
      fetchOnly.push_back(Ms(Clock::now() - t0));
    }
    // The regular expressions alone over the same text.
    {
      qv::RegexObject re;
      const auto t0 = Clock::now();
      re.Run(qv::bench::TitlePattern(), text);
      re.Run(qv::bench::AuthorPattern(), text);
      re.Run(qv::bench::ListPattern(), text);
      const auto t1 = Clock::now();
      size_t bytes = 0;
      for (int i = 1; i <= re.GetMatchCount(); ++i) {
        bytes += re.GetSubmatch(i, 1).size() + re.GetSubmatch(i, 2).size();
      }
      const auto t2 = Clock::now();
      if (re.GetMatchCount() != chapters || bytes == 0) return 1;
      regexOnly.push_back(Ms(t1 - t0));
      regexAndGroups.push_back(Ms(t2 - t0));
    }
  }

  const double floorMs = Median(regexOnly);
  std::printf("chapter-list page: %d chapters, %zu bytes, %d runs (medians)\n", chapters,
              page.size(), runs);
  std::printf("  headless fetch, Start to last row : %8.2f ms  (%.2fx the regex floor)\n",
              Median(toLastRow), Median(toLastRow) / floorMs);
  std::printf("  headless fetch, Start to end      : %8.2f ms\n", Median(toEnd));
  std::printf("  transfer + decoding alone         : %8.2f ms\n", Median(fetchOnly));
  std::printf("  PCRE2 alone, three patterns       : %8.2f ms  (floor)\n", floorMs);
  std::printf("  PCRE2 + every group read          : %8.2f ms  (%.2fx the floor)\n",
              Median(regexAndGroups), Median(regexAndGroups) / floorMs);
  return 0;
}
