#include "toc/chapter_list_fetch.h"

#include <string>

#include "shell/chapter_tools.h"
#include "text/encoding.h"
#include "text/regex_object.h"
#include "toc/base_address.h"
#include "web/http_fetch.h"
#include "web/response_decoder.h"

namespace qv {
namespace {

constexpr int kNoticeMs = 3000;

struct Texts {
  Text busy = Utf8ToGbk("正在获取小说章节名，请稍等...");
  Text failed = Utf8ToGbk("章节获取失败，请重试！");
  Text failedWith = Utf8ToGbk("章节获取失败：");
  Text noChapter = Utf8ToGbk("未找到章节，请检查规则");
  Text noRule = Utf8ToGbk("没有此网站的下载规则：请在规则设定中增加规则");
  Text done = Utf8ToGbk("小说章节名获取成功，请点击下载章节内容！");
  Text noticeTitle = Utf8ToGbk("提示");
  Text failedNotice = Utf8ToGbk("章节获取失败\r\n(3秒后自动关闭)");
  Text doneNotice = Utf8ToGbk("小说章节名获取完毕\r\n(3秒后自动关闭)");
  Text waiting = Utf8ToGbk("等待下载");
  Text cancelled = Utf8ToGbk("已取消获取章节列表");
};

const Texts& T() {
  static const Texts texts;
  return texts;
}

// Ends the page transfer under way when the program closes, so the worker does not wait for a
// slow server. Every fetch of the process ends with it, which is what closing wants.
void AbortFetchForShutdown() { AbortAllFetches(); }

}  // namespace

ChapterListFetch::ChapterListFetch(ChapterTable& table, Controls& controls)
    : table_(table), controls_(controls) {}

ChapterListFetch::~ChapterListFetch() { Shutdown(); }

bool ChapterListFetch::Running() const { return running_.load(std::memory_order_acquire); }

void ChapterListFetch::Start() {
  std::lock_guard lock(mu_);
  if (Running() || Stopping()) return;
  if (hasRule_ && !hasRule_()) {
    controls_.SetText(Ctl::StatusLabel, T().noRule);
    controls_.Notice(T().noticeTitle, T().noRule, 0, NoticeStyle::kError);
    return;
  }
  // The previous worker has finished its last step; collect its thread.
  if (worker_.joinable()) worker_.join();

  table_.DeleteAllRows();
  controls_.SetText(Ctl::TitleLabel, {});
  controls_.SetText(Ctl::AuthorLabel, {});
  controls_.SetText(Ctl::BaseAddressBox, {});
  controls_.SetText(Ctl::StatusLabel, T().busy);
  controls_.SetEnabled(Ctl::FetchButton, false);
  controls_.SetEnabled(Ctl::DownloadButton, false);
  controls_.SetEnabled(Ctl::RuleWindow, false);
  controls_.SetEnabled(Ctl::PauseButton, false);
  controls_.SetEnabled(Ctl::StopButton, false);
  // Rows must keep their indexes while they are being appended.
  SetRowEditToolsEnabled(controls_, false);

  cancelled_.store(false, std::memory_order_release);
  running_.store(true, std::memory_order_release);
  try {
    worker_ = std::thread([this] { Work(); });
  } catch (...) {
    running_.store(false, std::memory_order_release);
    Finish(false);
  }
}

void ChapterListFetch::Cancel() {
  if (Running()) cancelled_.store(true, std::memory_order_release);
}

void ChapterListFetch::Shutdown() {
  std::lock_guard lock(mu_);
  stopping_.store(true, std::memory_order_release);
  if (Running()) AbortFetchForShutdown();
  if (worker_.joinable()) worker_.join();
}

void ChapterListFetch::Work() {
  bool ok = false;
  Text reason;
  try {
    RegexObject re;

    Text headers;
    FetchOutcome outcome;
    FetchArgs args;
    args.responseHeaders = &headers;
    args.cancel = &cancelled_;
    args.outcome = &outcome;
    std::string body = HttpFetch(controls_.GetText(Ctl::AddressBox), args);
    // An error page is no chapter list, whatever its title says.
    if (!outcome.Succeeded()) {
      reason = FetchFailureReason(outcome);
      body.clear();
    }
    Text page = ResponseDecoder::DecodeBody(body, headers);
    if (ResponseDecoder::LooksLikeUtf8(body)) page = ResponseDecoder::Utf8ToLocal(page);

    re.Run(controls_.GetText(Ctl::TitlePatternBox), page);
    const Text title = TrimSpaces(re.GetSubmatch(1, 1));
    ok = reason.empty() && !title.empty();
    if (ok) controls_.SetText(Ctl::TitleLabel, title);

    if (ok && !Stopping() && !Cancelled()) {
      re.Run(controls_.GetText(Ctl::AuthorPatternBox), page);
      controls_.SetText(Ctl::AuthorLabel, RemoveSpaces(re.GetSubmatch(1, 1)));

      re.Run(controls_.GetText(Ctl::ListPatternBox), page);
      const int matches = re.GetMatchCount();
      const int pairs = re.GetGroupCount() / 2;
      for (int i = 1; i <= matches && !Stopping() && !Cancelled(); ++i) {
        for (int j = 1; j <= pairs; ++j) {
          const long long row = static_cast<long long>(i - 1) * pairs + j;
          table_.AppendChapter(Decimal(row), re.GetSubmatch(i, 2 * j),
                               re.GetSubmatch(i, 2 * j - 1), T().waiting, qv::kChecked);
        }
        controls_.Pump();
      }

      // The address is read again: one edited during the fetch is the one links are joined to.
      controls_.SetText(Ctl::BaseAddressBox,
                        DeriveBaseAddress(controls_.GetText(Ctl::AddressBox), re.GetSubmatch(1, 1)));
      controls_.SetText(Ctl::LastRowBox, Decimal(table_.RowCount()));
      if (table_.RowCount() == 0 && !Stopping()) {
        // A title without a chapter: the rule does not fit the page. No book to download.
        ok = false;
        reason = T().noChapter;
        controls_.SetText(Ctl::TitleLabel, {});
        controls_.SetText(Ctl::AuthorLabel, {});
        controls_.SetText(Ctl::BaseAddressBox, {});
      }
    }
  } catch (...) {
    // Out of memory on a huge page, or the like: reported as a failed fetch.
    ok = false;
  }
  if (Stopping()) {
  } else if (Cancelled()) {
    FinishCancelled();
  } else {
    Finish(ok, reason);
  }
  running_.store(false, std::memory_order_release);
}

void ChapterListFetch::FinishCancelled() {
  table_.DeleteAllRows();
  controls_.SetText(Ctl::TitleLabel, {});
  controls_.SetText(Ctl::AuthorLabel, {});
  controls_.SetText(Ctl::BaseAddressBox, {});
  controls_.SetText(Ctl::StatusLabel, T().cancelled);
  controls_.SetEnabled(Ctl::FetchButton, true);
  controls_.SetEnabled(Ctl::DownloadButton, true);
  controls_.SetEnabled(Ctl::RuleWindow, true);
  SetRowEditToolsEnabled(controls_, true);
}

void ChapterListFetch::Finish(bool ok, const Text& reason) {
  if (ok) {
    controls_.SetText(Ctl::StatusLabel, T().done);
    controls_.Notice(T().noticeTitle, T().doneNotice, kNoticeMs, NoticeStyle::kInfo);
  } else {
    controls_.SetText(Ctl::StatusLabel, reason.empty() ? T().failed : T().failedWith + reason);
    controls_.Notice(T().noticeTitle, T().failedNotice, kNoticeMs, NoticeStyle::kError);
  }
  controls_.SetEnabled(Ctl::FetchButton, true);
  // Only a fetched chapter list can be downloaded.
  controls_.SetEnabled(Ctl::DownloadButton, ok);
  controls_.SetEnabled(Ctl::RuleWindow, true);
  SetRowEditToolsEnabled(controls_, true);
}

}  // namespace qv
