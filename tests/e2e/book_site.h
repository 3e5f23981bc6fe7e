// A book site on 127.0.0.1 in the markup of the rule 笔趣阁: the chapter-list page
// "book/index.html" and one page per chapter "book/N.html". Chapter pages can answer with an
// empty body, after a delay, or only once the site's gate opens; every request is counted.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qvtest {

class BookSite {
 public:
  // Listens on a free port of 127.0.0.1 with `threads` answering at once. Without keep-alive
  // every answer closes its connection.
  explicit BookSite(int threads = 32, bool keepAlive = false);
  // Opens the gate first, so held requests end and the site stops.
  ~BookSite();
  BookSite(const BookSite&) = delete;
  BookSite& operator=(const BookSite&) = delete;

  // "http://127.0.0.1:PORT/"
  std::string Base() const;
  // Base() + "book/index.html"
  std::string IndexAddress() const;

  // The book: its title and author as the page shows them (CP936), and the chapters' titles
  // and bodies (CP936; a body is the HTML between <div id="content"> and </div>).
  void SetBook(const std::string& title, const std::string& author,
               const std::vector<std::string>& chapterTitles,
               const std::vector<std::string>& chapterBodies);
  // Chapter n (1-based) answers with an empty body.
  void SetEmpty(int n, bool empty = true);
  // Every chapter page waits this long before it answers.
  void SetChapterDelay(int ms);
  // While on, chapter pages wait for the gate before they answer.
  void HoldChapters(bool on);
  // Lets every held request and every later one through.
  void OpenGate();
  // A path that is never answered while the site runs (the gate does not open it).
  void Silence(const std::string& path);

  int Requests(int chapter);
  int Requests(const std::string& path);  // e.g. "/book/index.html"
  int ChapterRequests();                  // all chapter pages together
  int Held();                             // requests waiting at the gate or silenced now

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qvtest
