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

#include "demo_site.h"
#include "rules/default_rules.h"
#include "rules/rule_store.h"
#include "text/encoding.h"

namespace fs = std::filesystem;
using qv::Text;
using qv::Utf8ToGbk;

namespace {

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
  qv::demo::ConfigureDemoSite(server);
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
