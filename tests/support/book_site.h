// A book on the test site, in the markup of a default rule: the chapter-list page
// "book/index.html" and one page per chapter "book/N.html". Chapter pages can answer with an
// empty body, after a delay, or only once the gate opens; the chapter list can grow.
#pragma once

#include <string>
#include <vector>

#include "test_site.h"

namespace qvtest {

// The default rules whose markup the book can be served in.
enum class BookMarkup {
  Biquge,    // 笔趣阁: og:novel meta lines, "<dd><a href>" entries, <div id="content">
  Lingdian,  // 零点看书: "<h1>" title, "<p>作者：" author, "<dd><a href>", <div id="content">
};

class BookSite : public TestSite {
 public:
  explicit BookSite(int threads = 32, bool keepAlive = false,
                    BookMarkup markup = BookMarkup::Biquge);

  // Base() + "book/index.html"
  std::string IndexAddress() const;

  // The book: its title and author as the page shows them (CP936), and the chapters' titles
  // and bodies (CP936; a body is the HTML between <div id="content"> and </div>).
  void SetBook(const std::string& title, const std::string& author,
               const std::vector<std::string>& chapterTitles,
               const std::vector<std::string>& chapterBodies);
  // One chapter more at the end of the list.
  void AddChapter(const std::string& title, const std::string& body);
  // Chapter n (1-based) answers 404 with an empty body.
  void SetEmpty(int n, bool empty = true);
  // Every chapter page waits this long before it answers.
  void SetChapterDelay(int ms);
  // While on, chapter pages wait for the gate before they answer (the gate closes).
  void HoldChapters(bool on);
  // A path that is never answered while the site runs (the gate does not open it).
  void Silence(const std::string& path);

  using TestSite::Requests;
  int Requests(int chapter);
  int ChapterRequests();  // all chapter pages together

  // The pages as served, for readers that fetch them another way.
  std::string IndexPage() const;
  std::string ChapterPage(int n) const;

 private:
  void ServeIndex();
  void ServeChapter(int n);

  BookMarkup markup_;
  std::string title_, author_;
  std::vector<std::string> titles_, bodies_;
  std::vector<bool> empty_;
  int delayMs_ = 0;
  bool hold_ = false;
};

}  // namespace qvtest
