// quorvane-cli as a user runs it: the real executable in a subprocess, a rule file that points
// a copy of the 笔趣阁 rule at the test site, and the book's bytes compared with what the engine
// writes when the window's ports drive it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "book_site.h"
#include "download/download_engine.h"
#include "download/download_state.h"
#include "rules/default_rules.h"
#include "rules/rule_store.h"
#include "shell/memory_ports.h"
#include "text/encoding.h"
#include "toc/chapter_list_fetch.h"

namespace fs = std::filesystem;

namespace qv {
namespace {

Text G(const std::string& utf8) { return Utf8ToGbk(utf8); }

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every file under `root` by its path relative to it, with its bytes.
std::map<std::string, std::string> FilesUnder(const fs::path& root) {
  std::map<std::string, std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = Slurp(e.path());
  }
  return out;
}

struct Result {
  int code = -1;
  std::string out, err;
};

class Child {
 public:
  Child(const std::vector<std::string>& args, const fs::path& outFile, const fs::path& errFile,
        const fs::path& cwd, const std::string& program = QV_CLI_PATH) {
    // Everything the child needs is made before the fork: it only redirects and executes.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string out = outFile.string(), err = errFile.string(), dir = cwd.string();
    pid_ = fork();
    if (pid_ == 0) {
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1);
      dup2(e, 2);
      if (chdir(dir.c_str()) != 0) _exit(126);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  void Signal(int sig) { kill(pid_, sig); }
  // The exit code; 1000 + the signal when a signal ended it.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
};

class CliTest : public ::testing::Test {
 protected:
  static constexpr int kChapters = 5;

  void SetUp() override {
    char pattern[] = "/tmp/qv_cli_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    std::vector<std::string> titles, bodies;
    for (int n = 1; n <= kChapters; ++n) {
      titles.push_back(G("第" + std::to_string(n) + "章 远行"));
      bodies.push_back(G("&nbsp;&nbsp;&nbsp;&nbsp;第" + std::to_string(n) +
                         "章的正文，风过林梢。<br /><br />\r\n&nbsp;&nbsp;&nbsp;&nbsp;灯影摇曳。"));
    }
    site.SetBook(G("天玄记"), G("张三"), titles, bodies);
    rules_ = root_ / "rules.xml";
    WriteRuleFile(rules_, false);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // The default rules plus the 笔趣阁 rule under another name for the test site.
  void WriteRuleFile(const fs::path& path, bool capture) {
    RuleStore store = RuleStore::AtFile(path);
    store.EnsureFile();
    for (const SiteRule& stored : DefaultRuleSet()) {
      if (TextDecode(stored.ruleName) != G("笔趣阁")) continue;
      SiteRule rule;
      for (RuleField f : kRuleFields) rule.Field(f) = TextDecode(stored.Field(f));
      rule.ruleName = G("测试书站");
      rule.site = site.Base();
      if (capture) rule.Field(RuleField::kPageCapture) = TrueText();
      store.AddRule(rule);
    }
  }

  Result Run(std::vector<std::string> args, bool withRules = true) {
    if (withRules) {
      args.insert(args.begin(), rules_.string());
      args.insert(args.begin(), "--rules");
    }
    Child child(args, root_ / "out.txt", root_ / "err.txt", root_);
    Result r;
    r.code = child.Wait();
    r.out = Slurp(root_ / "out.txt");
    r.err = Slurp(root_ / "err.txt");
    return r;
  }

  // What the engine writes into `folder` when the window's ports fetch the list and download
  // rows from..to (1-based, 0: all) with the same rule.
  void HeadlessDownload(const fs::path& folder, int from = 0, int to = 0) {
    CreateProcessObjects();
    {
      MemoryTable table;
      MemoryControls controls;
      RuleStore store = RuleStore::AtFile(rules_);
      const int index = FindRuleIndex("127.0.0.1", {}, store);
      ASSERT_GE(index, 0);
      const RuleReading rule = store.ReadRule(index + 1);
      controls.SetText(Ctl::AddressBox, site.IndexAddress());
      controls.SetText(Ctl::ListPatternBox, rule.listPattern);
      controls.SetText(Ctl::TitlePatternBox, rule.titlePattern);
      controls.SetText(Ctl::AuthorPatternBox, rule.authorPattern);
      controls.SetText(Ctl::LeftMarkerBox, rule.leftMarker);
      controls.SetText(Ctl::RightMarkerBox, rule.rightMarker);
      controls.SetText(Ctl::PauseButton, G("暂停"));
      controls.SetText(Ctl::MergeButton, G("合并全本"));
      controls.SetChecked(Ctl::MergeCheck, true);
      controls.SetChecked(Ctl::TxtCheck, true);
      {
        ChapterListFetch fetch(table, controls);
        fetch.Start();
        while (fetch.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ASSERT_EQ(table.RowCount(), kChapters);
      for (int r = 0; r < table.RowCount(); ++r) {
        const bool in = (from == 0 || r + 1 >= from) && (to == 0 || r + 1 <= to);
        table.SetCheckState(r, in ? qv::kChecked : qv::kUnchecked);
      }
      fs::create_directories(folder);
      DownloadEngine engine(table, controls);
      engine.SetSaveFolder(Utf8ToGbk(folder.string()));
      engine.StartDownload();
      StopPoolOnClose(controls);
    }
    ExitCleanup();
  }

  static int Lines(const std::string& text, const std::string& prefix) {
    int n = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  qvtest::BookSite site;
  fs::path root_;
  fs::path rules_;
};

TEST_F(CliTest, DownloadWritesTheSameBytesAsTheEngineBehindTheWindow) {
  const Result r = Run({"download", site.IndexAddress(), "--dir", (root_ / "cli").string()});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  HeadlessDownload(root_ / "engine");
  const auto cli = FilesUnder(root_ / "cli");
  const auto engine = FilesUnder(root_ / "engine");
  EXPECT_EQ(cli.size(), static_cast<size_t>(kChapters + 1));  // the chapters and the book
  EXPECT_EQ(cli, engine);
  EXPECT_EQ(engine.count(GbkToUtf8(G("天玄记(张三).txt"))), 1u);
  // Not a terminal: one line per finished chapter, then the summary.
  EXPECT_EQ(Lines(r.out, "["), kChapters) << r.out;
  EXPECT_NE(r.out.find("5 of 5 chapters saved"), std::string::npos) << r.out;
}

TEST_F(CliTest, FromToDownloadsOnlyThoseRows) {
  const Result r = Run({"download", site.IndexAddress(), "--from", "2", "--to", "4", "--quiet",
                        "--dir", (root_ / "cli").string()});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(Lines(r.out, "["), 0) << r.out;  // --quiet: the summary only
  EXPECT_EQ(site.Requests(1), 0);
  EXPECT_EQ(site.Requests(5), 0);
  EXPECT_EQ(site.Requests(3), 1);
  HeadlessDownload(root_ / "engine", 2, 4);
  const auto cli = FilesUnder(root_ / "cli");
  EXPECT_EQ(cli.size(), 4u);
  EXPECT_EQ(cli, FilesUnder(root_ / "engine"));
}

TEST_F(CliTest, EpubAndNoTxtWriteOnlyTheEpub) {
  const Result r = Run({"download", site.IndexAddress(), "--epub", "--no-txt", "--dir",
                        (root_ / "cli").string()});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  const auto files = FilesUnder(root_ / "cli");
  EXPECT_EQ(files.count(GbkToUtf8(G("天玄记(张三).txt"))), 0u);
  EXPECT_EQ(files.count(GbkToUtf8(G("天玄记(张三).epub"))), 1u);
}

TEST_F(CliTest, ExitCodesFromTheirCauses) {
  const std::string url = site.IndexAddress();
  const std::string dir = (root_ / "cli").string();
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int code;
    std::string err;  // part of stderr
  };
  const std::vector<Case> cases = {
      {"no command", {}, 2, "no command"},
      {"unknown command", {"fetch", url}, 2, "unknown command"},
      {"no address", {"download"}, 2, "one address"},
      {"unknown option", {"download", url, "--fast"}, 2, "unknown option"},
      {"row zero", {"download", url, "--from", "0"}, 2, "--from"},
      {"jobs out of range", {"download", url, "--jobs", "65"}, 2, "--jobs"},
      {"from after to", {"download", url, "--from", "3", "--to", "2"}, 2, "after"},
      {"no format", {"download", url, "--no-txt"}, 2, "--no-txt"},
      {"rows beyond the list", {"download", url, "--from", "6", "--dir", dir}, 2, "not in the"},
      {"no rule for the site",
       {"download", "http://localhost:" + std::to_string(site.port()) + "/book/index.html"},
       2, "no rule for the site localhost"},
      {"no chapter list", {"info", site.Address("/nothing/index.html")}, 2,
       "chapter list could not be fetched"},
      {"unknown rule name", {"rules", "没有的规则"}, 2, "no rule named"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(root_ / "cli")) << "a refused run wrote nothing";
  // The fetch's own reason reaches the terminal, without the window's closing countdown.
  const Result list = Run({"download", site.Address("/nothing/index.html")});
  EXPECT_NE(list.err.find("章节获取失败"), std::string::npos) << list.err;
  EXPECT_EQ(list.err.find("自动关闭"), std::string::npos) << list.err;

  // Help and version succeed.
  EXPECT_EQ(Run({"download", "--help"}).code, 0);
  const Result v = Run({"--version"});
  EXPECT_EQ(v.code, 0);
  EXPECT_NE(v.out.find("quorvane-cli"), std::string::npos);
}

TEST_F(CliTest, FailedChaptersAreListedWithTheirReasonAndNothingIsMerged) {
  site.SetEmpty(3);
  const Result r = Run({"download", site.IndexAddress(), "--dir", (root_ / "cli").string()});
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("failed:\n  3 " + GbkToUtf8(G("第3章 远行")) + ": 失败3次"),
            std::string::npos)
      << r.out;
  const auto files = FilesUnder(root_ / "cli");
  EXPECT_EQ(files.size(), static_cast<size_t>(kChapters - 1));  // no book file
  EXPECT_EQ(files.count(GbkToUtf8(G("天玄记(张三).txt"))), 0u);

  // With --no-merge every chapter saved is exit 0, without a book.
  site.SetEmpty(3, false);
  const Result again =
      Run({"download", site.IndexAddress(), "--no-merge", "--dir", (root_ / "again").string()});
  EXPECT_EQ(again.code, 0) << again.out << again.err;
  EXPECT_EQ(FilesUnder(root_ / "again").size(), static_cast<size_t>(kChapters));
}

TEST_F(CliTest, UnreadableRuleFileIsRefusedAndLeftAsItIs) {
  const std::string broken = "<?xml version=\"1.0\"?>\r\n<a><b></a>";
  {
    std::ofstream(rules_, std::ios::binary | std::ios::trunc) << broken;
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"rules"}, {"info", site.IndexAddress()}}) {
    const Result r = Run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("unreadable"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Slurp(rules_), broken);
  EXPECT_EQ(site.Requests("/book/index.html"), 0);
}

TEST_F(CliTest, CaptureRuleNeedsTheEmbeddedBrowser) {
  fs::remove(rules_);
  WriteRuleFile(rules_, true);
  const Result r = Run({"download", site.IndexAddress(), "--dir", (root_ / "cli").string()});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("needs the embedded browser"), std::string::npos) << r.err;
  EXPECT_EQ(Lines(r.err, "quorvane-cli:"), 1) << r.err;
  EXPECT_EQ(site.Requests("/book/index.html"), 0);
  EXPECT_FALSE(fs::exists(root_ / "cli"));
}

TEST_F(CliTest, InterruptFinishesRunningChaptersAndLeavesNoTemporaryFile) {
  site.SetChapterDelay(400);
  const fs::path dir = root_ / "cli";
  Child child({"--rules", rules_.string(), "download", site.IndexAddress(), "--jobs", "1",
               "--dir", dir.string()},
              root_ / "out.txt", root_ / "err.txt", root_);
  // Wait for the first saved chapter, then press Ctrl-C.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (FilesUnder(dir).empty() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  child.Signal(SIGINT);
  EXPECT_EQ(child.Wait(), 130) << Slurp(root_ / "out.txt") << Slurp(root_ / "err.txt");
  const auto files = FilesUnder(dir);
  EXPECT_GE(files.size(), 1u);
  EXPECT_LT(files.size(), static_cast<size_t>(kChapters)) << "the queued chapters were dropped";
  EXPECT_EQ(files.count(GbkToUtf8(G("天玄记(张三).txt"))), 0u) << "no merge after a stop";
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    EXPECT_FALSE(bytes.empty()) << name;
  }
  EXPECT_NE(Slurp(root_ / "out.txt").find("interrupted"), std::string::npos);
}

TEST_F(CliTest, InfoAndRulesShowTheBookAndTheRule) {
  const Result text = Run({"info", site.IndexAddress()});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("Rule:     测试书站"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Title:    天玄记"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Chapters: 5"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Last:     第5章 远行"), std::string::npos) << text.out;

  const Result json = Run({"info", "--json", site.IndexAddress()});
  ASSERT_EQ(json.code, 0) << json.err;
  EXPECT_EQ(json.out, "{\"rule\":\"测试书站\",\"site\":\"" + site.Base() +
                          "\",\"title\":\"天玄记\",\"author\":\"张三\",\"chapters\":5,"
                          "\"first\":\"第1章 远行\",\"last\":\"第5章 远行\"}\n");
  EXPECT_EQ(site.ChapterRequests(), 0);

  const Result list = Run({"rules"});
  ASSERT_EQ(list.code, 0);
  EXPECT_NE(list.out.find("测试书站\t" + site.Base() + "\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("笔趣阁\thttp://www.biquge.com/\n"), std::string::npos) << list.out;
  const Result one = Run({"rules", "测试书站"});
  ASSERT_EQ(one.code, 0);
  EXPECT_NE(one.out.find("章节内容左: <div id=\"content\">"), std::string::npos) << one.out;
}

TEST_F(CliTest, DefaultRuleFileIsCreatedBesideTheProgram) {
  const fs::path bin = root_ / "bin";
  fs::create_directories(bin);
  fs::copy_file(QV_CLI_PATH, bin / "quorvane-cli");
  Child child({"rules"}, root_ / "out.txt", root_ / "err.txt", root_,
              (bin / "quorvane-cli").string());
  ASSERT_EQ(child.Wait(), 0) << Slurp(root_ / "err.txt");
  EXPECT_EQ(Slurp(bin / FsPath(RuleFileName())), DefaultRuleFileBytes());
  EXPECT_FALSE(fs::exists(root_ / FsPath(RuleFileName())));
}

}  // namespace
}  // namespace qv
