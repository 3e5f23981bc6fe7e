// `make demo`: serves a small generated book on 127.0.0.1 in the markup of the 笔趣阁 rule,
// prepares a folder holding the program and a rule file with a rule for that address, prints
// the address to paste and starts the program there. Serving stops when the program ends.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include <httplib.h>

#include "rules/default_rules.h"
#include "rules/rule_store.h"
#include "text/encoding.h"

namespace fs = std::filesystem;
using qv::Text;
using qv::Utf8ToGbk;

namespace {

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

// Writes the rule file beside the program: the default rules plus one for the demo address.
void WriteRuleFile(const fs::path& dir, int port) {
  const Text gbkDir = qv::Utf8ToGbk(dir.string());
  fs::remove(qv::RuleStore(gbkDir).FilePath());
  qv::RuleStore store(gbkDir);
  store.EnsureFile();
  for (const qv::SiteRule& stored : qv::DefaultRuleSet()) {
    if (qv::TextDecode(stored.ruleName) != Utf8ToGbk("笔趣阁")) continue;
    qv::SiteRule rule;
    for (qv::RuleField f : qv::kRuleFields) rule.Field(f) = qv::TextDecode(stored.Field(f));
    rule.ruleName = Utf8ToGbk("演示书站");
    rule.site = "http://127.0.0.1:" + std::to_string(port) + "/";
    store.AddRule(rule);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quorvane_demo PROGRAM DEMO_DIR\n";
    return 2;
  }
  const fs::path program = fs::absolute(argv[1]);
  const fs::path dir = fs::absolute(argv[2]);
  fs::create_directories(dir);
  const fs::path copy = dir / "quorvane";
  fs::copy_file(program, copy, fs::copy_options::overwrite_existing);

  httplib::Server server;
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
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::cerr << "quorvane_demo: cannot listen on 127.0.0.1\n";
    return 1;
  }
  std::thread serving([&] { server.listen_after_bind(); });
  WriteRuleFile(dir, port);

  std::cout << "\nDemo book served at 127.0.0.1:" << port << ". Paste this address into "
            << "章节列表网址, press 获取章节标题, then 下载章节内容:\n\n    http://127.0.0.1:"
            << port << "/book/index.html\n\nThe book lands in " << dir.string() << "\n"
            << std::endl;

  const pid_t child = fork();
  if (child == 0) {
    execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  server.stop();
  serving.join();
  return child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
