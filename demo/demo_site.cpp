#include "demo_site.h"

#include <string>

#include "text/encoding.h"

namespace qv::demo {
namespace {

using qv::Text;
using qv::Utf8ToGbk;

constexpr int kChapters = 30;
constexpr size_t kServerThreads = 64;

Text BookTitle() { return Utf8ToGbk("演示之书"); }
Text BookAuthor() { return Utf8ToGbk("演示作者"); }

Text ChapterName(int n) {
  static const char* names[] = {"初入江湖", "夜雨孤灯", "山门试剑", "远行", "旧友重逢"};
  return Utf8ToGbk("第" + std::to_string(n) + "章 " + names[(n - 1) % 5]);
}

// The chapter list page, with CR LF line ends as the rule's title patterns expect.
std::string IndexPage() {
  Text page = "<html><head>\r\n<meta charset=\"gbk\">\r\n";
  page += "<meta property=\"og:novel:book_name\" content=\"" + BookTitle() + "\"/>\r\n";
  page += "<meta property=\"og:novel:author\" content=\"" + BookAuthor() + "\"/>\r\n";
  page += "</head><body><dl>\r\n";
  for (int n = 1; n <= kChapters; ++n) {
    page += "<dd><a href=\"" + std::to_string(n) + ".html\">" + ChapterName(n) + "</a></dd>\r\n";
  }
  page += "</dl></body></html>\r\n";
  return page;
}

std::string ChapterPage(int n) {
  Text body;
  for (int p = 1; p <= 6; ++p) {
    body += "&nbsp;&nbsp;&nbsp;&nbsp;" +
            Utf8ToGbk("这是第" + std::to_string(n) + "章的第" + std::to_string(p) +
                      "段。风过林梢，灯影摇曳，少年握紧了手中的剑。") +
            "<br /><br />\r\n";
  }
  return "<html><head><meta charset=\"gbk\"></head><body>\r\n<h1>" + ChapterName(n) +
         "</h1>\r\n<div id=\"content\">" + body + "</div>\r\n</body></html>\r\n";
}

}  // namespace

void ConfigureDemoSite(httplib::Server& server) {
  // One server thread serves one connection for as long as it is kept alive. The program keeps
  // up to 20 connections open at once (one per worker), so with fewer threads the requests on
  // the newest connections wait for an idle one to time out. Threads to spare, and idle
  // connections let go after a second.
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server.set_keep_alive_timeout(1);
  server.Get("/book/index.html", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(IndexPage(), "text/html; charset=gbk");
  });
  server.Get(R"(/book/(\d+)\.html)", [](const httplib::Request& req, httplib::Response& res) {
    const int n = std::stoi(req.matches[1]);
    if (n < 1 || n > kChapters) {
      res.status = 404;
      return;
    }
    res.set_content(ChapterPage(n), "text/html; charset=gbk");
  });
}

}  // namespace qv::demo
