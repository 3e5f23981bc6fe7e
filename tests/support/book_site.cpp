#include "book_site.h"

namespace qvtest {
namespace {

std::string ChapterPath(int n) { return "/book/" + std::to_string(n) + ".html"; }

const char* const kAuthorGbk = "\xD7\xF7\xD5\xDF\xA3\xBA";  // 作者： in CP936

}  // namespace

BookSite::BookSite(int threads, bool keepAlive, BookMarkup markup)
    : TestSite(Options{threads, keepAlive}), markup_(markup) {}

std::string BookSite::IndexAddress() const { return Base() + "book/index.html"; }

void BookSite::SetBook(const std::string& title, const std::string& author,
                       const std::vector<std::string>& chapterTitles,
                       const std::vector<std::string>& chapterBodies) {
  title_ = title;
  author_ = author;
  titles_ = chapterTitles;
  bodies_ = chapterBodies;
  bodies_.resize(titles_.size());
  empty_.assign(titles_.size(), false);
  ServeIndex();
  for (int n = 1; n <= static_cast<int>(titles_.size()); ++n) ServeChapter(n);
}

void BookSite::AddChapter(const std::string& title, const std::string& body) {
  titles_.push_back(title);
  bodies_.push_back(body);
  empty_.push_back(false);
  ServeChapter(static_cast<int>(titles_.size()));
  ServeIndex();
}

std::string BookSite::IndexPage() const {
  // CR LF line ends: several rules' title and author patterns end in CR.
  std::string index = "<html><head>\r\n<meta charset=\"gbk\">\r\n";
  if (markup_ == BookMarkup::Biquge) {
    index += "<meta property=\"og:novel:book_name\" content=\"" + title_ + "\"/>\r\n";
    index += "<meta property=\"og:novel:author\" content=\"" + author_ + "\"/>\r\n";
    index += "</head><body><dl>\r\n";
  } else {
    index += "</head><body>\r\n<h1>" + title_ + "</h1>\r\n<p>" + kAuthorGbk + author_ +
             "</p>\r\n<dl>\r\n";
  }
  for (size_t i = 0; i < titles_.size(); ++i) {
    index += "<dd><a href=\"" + std::to_string(i + 1) + ".html\">" + titles_[i] + "</a></dd>\r\n";
  }
  index += "</dl></body></html>\r\n";
  return index;
}

std::string BookSite::ChapterPage(int n) const {
  if (n < 1 || n > static_cast<int>(titles_.size())) return {};
  return "<html><head><meta charset=\"gbk\"></head><body>\r\n<h1>" + titles_[n - 1] +
         "</h1>\r\n<div id=\"content\">" + bodies_[n - 1] +
         "</div>\r\n<div class=\"bottem\">next</div>\r\n</body></html>\r\n";
}

void BookSite::ServeIndex() { Serve("/book/index.html", {.body = IndexPage()}); }

void BookSite::ServeChapter(int n) {
  SiteAnswer answer{.body = ChapterPage(n), .delayMs = delayMs_, .held = hold_};
  if (empty_[n - 1]) {
    answer.body.clear();
    answer.status = 404;
  }
  Serve(ChapterPath(n), std::move(answer));
}

void BookSite::SetEmpty(int n, bool empty) {
  if (n < 1 || n > static_cast<int>(titles_.size())) return;
  empty_[n - 1] = empty;
  ServeChapter(n);
}

void BookSite::SetChapterDelay(int ms) {
  delayMs_ = ms;
  for (int n = 1; n <= static_cast<int>(titles_.size()); ++n) ServeChapter(n);
}

void BookSite::HoldChapters(bool on) {
  hold_ = on;
  CloseGate();
  for (int n = 1; n <= static_cast<int>(titles_.size()); ++n) ServeChapter(n);
}

void BookSite::Silence(const std::string& path) { Serve(path, {.silent = true}); }

int BookSite::Requests(int chapter) { return Requests(ChapterPath(chapter)); }

int BookSite::ChapterRequests() {
  int total = 0;
  for (int n = 1; n <= static_cast<int>(titles_.size()); ++n) total += Requests(n);
  return total;
}

}  // namespace qvtest
