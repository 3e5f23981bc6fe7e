#include "book_site.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <httplib.h>

namespace qvtest {

struct BookSite::Impl {
  httplib::Server server;
  std::thread thread;
  int port = 0;

  std::mutex mu;
  std::condition_variable cv;
  std::string index;
  std::vector<std::string> pages;  // chapter n at n - 1
  std::set<int> empty;
  std::set<std::string> silent;
  int delayMs = 0;
  bool hold = false;
  bool gateOpen = false;
  bool ending = false;
  int held = 0;
  std::map<std::string, int> requests;
  int chapterRequests = 0;

  // The chapter number of "/book/N.html", else 0.
  static int ChapterOf(const std::string& path) {
    const std::string prefix = "/book/";
    const std::string suffix = ".html";
    if (path.size() <= prefix.size() + suffix.size() || path.compare(0, prefix.size(), prefix) != 0 ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
      return 0;
    }
    const std::string digits = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6) return 0;
    return std::stoi(digits);
  }

  void Answer(const httplib::Request& req, httplib::Response& res) {
    std::unique_lock lock(mu);
    ++requests[req.path];
    if (silent.count(req.path) != 0) {
      ++held;
      cv.wait(lock, [this] { return ending; });
      --held;
      res.status = 503;
      return;
    }
    if (req.path == "/book/index.html") {
      res.set_content(index, "text/html; charset=gbk");
      return;
    }
    const int n = ChapterOf(req.path);
    if (n < 1 || n > static_cast<int>(pages.size())) {
      res.status = 404;
      return;
    }
    ++chapterRequests;
    if (hold) {
      ++held;
      cv.wait(lock, [this] { return gateOpen || ending; });
      --held;
    }
    const int delay = delayMs;
    const bool answerEmpty = empty.count(n) != 0;
    const std::string page = pages[n - 1];
    lock.unlock();
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (answerEmpty) {
      res.status = 404;
      res.set_content("", "text/html; charset=gbk");
      return;
    }
    res.set_content(page, "text/html; charset=gbk");
  }
};

BookSite::BookSite(int threads, bool keepAlive) : impl_(std::make_unique<Impl>()) {
  Impl* impl = impl_.get();
  impl->server.set_tcp_nodelay(true);
  if (!keepAlive) impl->server.set_keep_alive_max_count(1);
  impl->server.new_task_queue = [threads] {
    return new httplib::ThreadPool(static_cast<size_t>(threads));
  };
  impl->server.Get(".*", [impl](const httplib::Request& req, httplib::Response& res) {
    impl->Answer(req, res);
  });
  impl->port = impl->server.bind_to_any_port("127.0.0.1");
  impl->thread = std::thread([impl] { impl->server.listen_after_bind(); });
  for (int i = 0; i < 2000 && !impl->server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

BookSite::~BookSite() {
  {
    std::lock_guard lock(impl_->mu);
    impl_->ending = true;
  }
  impl_->cv.notify_all();
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

std::string BookSite::Base() const { return "http://127.0.0.1:" + std::to_string(impl_->port) + "/"; }

std::string BookSite::IndexAddress() const { return Base() + "book/index.html"; }

void BookSite::SetBook(const std::string& title, const std::string& author,
                       const std::vector<std::string>& chapterTitles,
                       const std::vector<std::string>& chapterBodies) {
  // CR LF line ends: the rule's title and author patterns end in CR.
  std::string index = "<html><head>\r\n<meta charset=\"gbk\">\r\n";
  index += "<meta property=\"og:novel:book_name\" content=\"" + title + "\"/>\r\n";
  index += "<meta property=\"og:novel:author\" content=\"" + author + "\"/>\r\n";
  index += "</head><body><dl>\r\n";
  std::vector<std::string> pages;
  for (size_t i = 0; i < chapterTitles.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    index += "<dd><a href=\"" + n + ".html\">" + chapterTitles[i] + "</a></dd>\r\n";
    const std::string body = i < chapterBodies.size() ? chapterBodies[i] : std::string();
    pages.push_back("<html><head><meta charset=\"gbk\"></head><body>\r\n<h1>" + chapterTitles[i] +
                    "</h1>\r\n<div id=\"content\">" + body +
                    "</div>\r\n<div class=\"bottem\">next</div>\r\n</body></html>\r\n");
  }
  index += "</dl></body></html>\r\n";
  std::lock_guard lock(impl_->mu);
  impl_->index = std::move(index);
  impl_->pages = std::move(pages);
}

void BookSite::SetEmpty(int n, bool empty) {
  std::lock_guard lock(impl_->mu);
  if (empty) {
    impl_->empty.insert(n);
  } else {
    impl_->empty.erase(n);
  }
}

void BookSite::SetChapterDelay(int ms) {
  std::lock_guard lock(impl_->mu);
  impl_->delayMs = ms;
}

void BookSite::HoldChapters(bool on) {
  {
    std::lock_guard lock(impl_->mu);
    impl_->hold = on;
    impl_->gateOpen = false;
  }
  impl_->cv.notify_all();
}

void BookSite::OpenGate() {
  {
    std::lock_guard lock(impl_->mu);
    impl_->gateOpen = true;
  }
  impl_->cv.notify_all();
}

void BookSite::Silence(const std::string& path) {
  std::lock_guard lock(impl_->mu);
  impl_->silent.insert(path);
}

int BookSite::Requests(int chapter) { return Requests("/book/" + std::to_string(chapter) + ".html"); }

int BookSite::Requests(const std::string& path) {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->requests.find(path);
  return it == impl_->requests.end() ? 0 : it->second;
}

int BookSite::ChapterRequests() {
  std::lock_guard lock(impl_->mu);
  return impl_->chapterRequests;
}

int BookSite::Held() {
  std::lock_guard lock(impl_->mu);
  return impl_->held;
}

}  // namespace qvtest
