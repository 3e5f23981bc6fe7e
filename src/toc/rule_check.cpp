#include "toc/rule_check.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "text/encoding.h"
#include "text/markers.h"
#include "text/regex_object.h"
#include "toc/base_address.h"
#include "web/http_fetch.h"
#include "web/response_decoder.h"

namespace qv {
namespace {

// The download gives up on a chapter page larger than this; the check does the same.
constexpr size_t kMaxChapterPageBytes = size_t{16} << 20;
constexpr size_t kShownChapters = 5;
constexpr size_t kPreviewCharacters = 500;

// "#引号" in CP936: a marker's stand-in for a double quote.
constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

Text G(std::string_view utf8) { return Utf8ToGbk(utf8); }

using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The status code of the status line that starts the headers; 0 without one.
int StatusOf(std::string_view headers) {
  if (headers.substr(0, 5) != "HTTP/") return 0;
  const size_t space = headers.find(' ');
  if (space == std::string_view::npos) return 0;
  return std::atoi(std::string(headers.substr(space + 1, 3)).c_str());
}

bool HeadersSayGzip(std::string_view headers) {
  size_t pos = 0;
  while (pos < headers.size()) {
    size_t end = headers.find('\n', pos);
    if (end == std::string_view::npos) end = headers.size();
    const std::string_view line = headers.substr(pos, end - pos);
    if (FindText(line, "content-encoding:", 1, true) == 1 && FindText(line, "gzip", 1, true) > 0) {
      return true;
    }
    pos = end + 1;
  }
  return false;
}

struct Page {
  std::string body;
  Text text;
  Text headers;
  int status = 0;
  size_t bytes = 0;
  bool gzip = false;
  bool utf8 = false;
  bool tooLarge = false;
};

// One fetch and decode, as the chapter-list fetch and the download do it.
Page FetchPage(std::string_view address, size_t maxBytes, const std::atomic<bool>* cancel) {
  Page p;
  FetchArgs args;
  args.responseHeaders = &p.headers;
  args.cancel = cancel;
  args.maxBodyBytes = maxBytes;
  args.bodyTooLarge = &p.tooLarge;
  p.body = HttpFetch(address, args);
  p.bytes = p.body.size();
  p.status = StatusOf(p.headers);
  p.gzip = HeadersSayGzip(p.headers);
  p.text = ResponseDecoder::DecodeBody(p.body, p.headers);
  p.utf8 = ResponseDecoder::LooksLikeUtf8(p.body);
  if (p.utf8) p.text = ResponseDecoder::Utf8ToLocal(p.text);
  return p;
}

// The sentence for a page that gave no usable text, or empty when the page is usable.
Text PageProblem(const Page& p, std::string_view what) {
  if (p.status == 0 && p.bytes == 0) {
    return G(what) + G("无法连接：网站没有应答（端口未开放、网址有误或网络不通），请检查网址和网络");
  }
  if (p.tooLarge) return G(what) + G("过大，已放弃：请检查网址是否指向页面");
  if (p.status >= 400) {
    return G(what) + G("返回 HTTP ") + Decimal(p.status) +
           G("：网址可能有误，页面已被删除，或网站拒绝了访问，请在浏览器中打开此网址核对");
  }
  if (p.text.empty()) return G(what) + G("是空的：网站没有返回内容，请稍后重试或检查网址");
  return {};
}

// The sentence for a pattern that does not compile, or empty.
Text CompileProblem(std::string_view patternName, std::string_view pattern) {
  const PatternCheck c = CheckPattern(pattern);
  if (c.ok) return {};
  return G(patternName) + G("无法编译：") + c.message + G("（第") + Decimal(c.position) +
         G("个字符处），请修改该正则表达式");
}

// The 0-based byte position of `marker` (its quote stand-in replaced) in `text`, -1 when absent.
int FindMarker(std::string_view text, std::string_view marker, int start1) {
  const Text m = ReplaceText(marker, kQuotePlaceholder, "\"");
  if (text.empty()) return -1;
  const int a = FindText(text, m, start1, false);
  return a > 0 ? a - 1 : -1;
}

}  // namespace

Text LeadingCharacters(std::string_view text, size_t count) {
  size_t i = 0;
  for (size_t n = 0; n < count && i < text.size(); ++n) {
    const auto c = static_cast<unsigned char>(text[i]);
    i += (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) ? 2 : 1;
  }
  return Text(text.substr(0, i));
}

RuleCheckResult CheckRule(const SiteRule& rule, std::string_view address,
                          const std::atomic<bool>* cancel) {
  RuleCheckResult r;
  r.address = Text(address);
  auto stopped = [cancel] { return cancel != nullptr && cancel->load(std::memory_order_acquire); };

  // 1. The chapter-list page.
  auto t0 = Clock::now();
  const Page list = FetchPage(address, 0, cancel);
  r.listStatus = list.status;
  r.listBytes = list.bytes;
  r.gzip = list.gzip;
  r.utf8 = list.utf8;
  r.listMs = MsSince(t0);
  if (Text p = PageProblem(list, "章节列表页"); !p.empty()) {
    r.problems.push_back(p);
    return r;
  }
  if (stopped()) return r;

  // 2. Title and author, read as the chapter-list fetch reads them.
  t0 = Clock::now();
  RegexObject re;
  if (Text p = CompileProblem("小说名称正则表达式", rule.titlePattern); !p.empty()) {
    r.problems.push_back(p);
  } else {
    re.Run(rule.titlePattern, list.text);
    r.title = TrimSpaces(re.GetSubmatch(1, 1));
    if (r.title.empty()) {
      r.problems.push_back(G("小说名称正则表达式没有匹配：页面中找不到书名，获取章节列表会因此失败；"
                             "请对照页面源码检查书名所在的标签"));
    }
  }
  if (Text p = CompileProblem("小说作者正则表达式", rule.authorPattern); !p.empty()) {
    r.problems.push_back(p);
  } else {
    re.Run(rule.authorPattern, list.text);
    r.author = RemoveSpaces(re.GetSubmatch(1, 1));
    if (r.author.empty()) {
      r.problems.push_back(G("小说作者正则表达式没有匹配：页面中找不到作者；请对照页面源码检查作者所在的标签"));
    }
  }
  r.bookMs = MsSince(t0);
  if (stopped()) return r;

  // 3. The chapters: group 2j-1 of each match is a link, group 2j its title.
  t0 = Clock::now();
  if (Text p = CompileProblem("章节列表正则表达式", rule.listPattern); !p.empty()) {
    r.problems.push_back(p);
    r.listPatternMs = MsSince(t0);
    return r;
  }
  re.Run(rule.listPattern, list.text);
  const int matches = re.GetMatchCount();
  const int pairs = re.GetGroupCount() / 2;
  r.chapterCount = static_cast<long long>(matches) * pairs;
  r.baseAddress = DeriveBaseAddress(address, re.GetSubmatch(1, 1));
  auto chapterAt = [&](long long k) {  // 0-based row
    const int i = static_cast<int>(k / pairs) + 1;
    const int j = static_cast<int>(k % pairs) + 1;
    RuleCheckChapter c;
    c.title = re.GetSubmatch(i, 2 * j);
    c.link = re.GetSubmatch(i, 2 * j - 1);
    c.address = r.baseAddress + c.link;
    return c;
  };
  const long long shownFirst = std::min<long long>(r.chapterCount, kShownChapters);
  for (long long k = 0; k < shownFirst; ++k) r.firstChapters.push_back(chapterAt(k));
  for (long long k = std::max<long long>(shownFirst, r.chapterCount - kShownChapters);
       k < r.chapterCount; ++k) {
    r.lastChapters.push_back(chapterAt(k));
  }
  r.listPatternMs = MsSince(t0);
  if (matches == 0) {
    r.problems.push_back(G("章节列表正则表达式没有匹配：页面中找不到章节链接；页面可能已改版，"
                           "请对照页面源码检查章节链接的写法"));
    return r;
  }
  if (pairs == 0) {
    r.problems.push_back(G("章节列表正则表达式有匹配，但没有成对的分组：每章需要两个分组，"
                           "先是链接，后是章节名"));
    return r;
  }
  if (re.LimitReached()) {
    r.problems.push_back(G("章节列表正则表达式运行超出限制，只得到部分章节：请简化该正则表达式"));
  }
  if (stopped()) return r;

  // 4. The first chapter, cut and cleaned as the download saves it.
  t0 = Clock::now();
  const RuleCheckChapter& first = r.firstChapters.front();
  const Page chapter = FetchPage(first.address, kMaxChapterPageBytes, cancel);
  r.chapterFetched = true;
  r.chapterStatus = chapter.status;
  r.chapterBytes = chapter.bytes;
  if (Text p = PageProblem(chapter, "第一章页面"); !p.empty()) {
    r.problems.push_back(p + G("（章节地址：") + first.address + G("）"));
    r.chapterMs = MsSince(t0);
    return r;
  }
  r.leftMarkerAt = FindMarker(chapter.text, rule.leftMarker, 1);
  if (r.leftMarkerAt >= 0) {
    const size_t leftLen = ReplaceText(rule.leftMarker, kQuotePlaceholder, "\"").size();
    const size_t after = static_cast<size_t>(r.leftMarkerAt) + leftLen;
    const Text right = ReplaceText(rule.rightMarker, kQuotePlaceholder, "\"");
    if (!right.empty() && after < chapter.text.size()) {
      r.rightMarkerFound = FindMarker(chapter.text, rule.rightMarker, static_cast<int>(after) + 1) >= 0;
    }
  }
  const Text content = ExtractBetween(chapter.text, rule.leftMarker, rule.rightMarker);
  r.cutLength = content.size();
  r.savedText = CleanChapterText(first.title + "\r\n" + content);
  r.chapterMs = MsSince(t0);
  if (r.leftMarkerAt < 0) {
    r.problems.push_back(G("左侧标记在页面中未找到：页面可能已改版，或需要勾选页面抓取"));
  } else if (!r.rightMarkerFound) {
    r.problems.push_back(G("右侧标记在左侧标记之后未找到：页面可能已改版，请对照页面源码检查章节内容右侧"));
  } else if (content.empty()) {
    r.problems.push_back(G("两个标记之间没有内容：保存的章节只有标题，请检查两个标记"));
  }
  return r;
}

Text FormatRuleCheck(const RuleCheckResult& r) {
  const Text nl = "\r\n";
  const Text arrow = G(" → ");
  auto ms = [](long long v) { return G("（") + Decimal(v) + G(" 毫秒）"); };
  auto yesNo = [](bool b) { return G(b ? "是" : "否"); };
  auto orMissing = [](const Text& t, std::string_view name) {
    return t.empty() ? G("未找到（") + G(name) + G("）") : t;
  };
  Text out;
  out += G("1. 章节列表页") + ms(r.listMs) + nl;
  out += G("   地址：") + r.address + nl;
  out += G("   HTTP 状态：") + (r.listStatus > 0 ? Decimal(r.listStatus) : G("无应答")) + nl;
  out += G("   字节数：") + Decimal(static_cast<long long>(r.listBytes)) + G("，gzip：") + yesNo(r.gzip) +
         G("，编码：") + G(r.utf8 ? "UTF-8（已转换）" : "GBK") + nl;
  const bool listUsable = r.listStatus > 0 || r.listBytes > 0;
  if (listUsable) {
    out += G("2. 书名与作者") + ms(r.bookMs) + nl;
    out += G("   书名：") + orMissing(r.title, "小说名称正则表达式") + nl;
    out += G("   作者：") + orMissing(r.author, "小说作者正则表达式") + nl;
    out += G("3. 章节列表") + ms(r.listPatternMs) + nl;
    out += G("   章节数：") + Decimal(r.chapterCount) + nl;
    out += G("   基础地址：") + r.baseAddress + nl;
    auto rows = [&](const std::vector<RuleCheckChapter>& v) {
      for (const RuleCheckChapter& c : v) out += G("   ") + c.title + arrow + c.link + arrow + c.address + nl;
    };
    if (!r.firstChapters.empty()) {
      out += G("   前五章：") + nl;
      rows(r.firstChapters);
    }
    if (!r.lastChapters.empty()) {
      out += G("   后五章：") + nl;
      rows(r.lastChapters);
    }
  }
  if (r.chapterFetched) {
    out += G("4. 第一章") + ms(r.chapterMs) + nl;
    out += G("   HTTP 状态：") + (r.chapterStatus > 0 ? Decimal(r.chapterStatus) : G("无应答")) +
           G("，字节数：") + Decimal(static_cast<long long>(r.chapterBytes)) + nl;
    out += G("   左侧标记：") +
           (r.leftMarkerAt >= 0 ? G("找到，第 ") + Decimal(r.leftMarkerAt) + G(" 字节") : G("未找到")) + nl;
    out += G("   右侧标记：") + G(r.rightMarkerFound ? "在左侧标记之后找到" : "未找到") + nl;
    out += G("   截取长度：") + Decimal(static_cast<long long>(r.cutLength)) + G(" 字节") + nl;
    out += G("   保存的内容（前 500 字）：") + nl + LeadingCharacters(r.savedText, kPreviewCharacters) + nl;
  }
  if (r.problems.empty()) {
    out += G("结果：规则可用") + nl;
  } else {
    out += G("问题：") + nl;
    for (const Text& p : r.problems) out += G("   ") + p + nl;
  }
  return out;
}

}  // namespace qv
