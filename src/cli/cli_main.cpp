// quorvane-cli: downloads a book from the command line with the window program's engine.
//
//   quorvane-cli info URL [--json]
//   quorvane-cli download URL [--from N] [--to M] [--jobs N] [--no-merge] [--dir DIR]
//                             [--epub] [--no-txt] [--quiet]
//   quorvane-cli rules [NAME]
//
// The commands read the rule file beside the executable (or --rules FILE), fetch the chapter
// list with ChapterListFetch and download with DownloadEngine, both behind the terminal versions
// of the window interfaces. Texts are CP936 inside and UTF-8 on the terminal.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/terminal_ports.h"
#include "download/download_engine.h"
#include "download/download_state.h"
#include "download/engine_texts.h"
#include "rules/rule_store.h"
#include "rules/safe_file.h"
#include "rules/xml_tree.h"
#include "text/address.h"
#include "text/encoding.h"
#include "text/gbk_text.h"
#include "toc/chapter_list_fetch.h"

namespace fs = std::filesystem;

namespace qv::cli {
namespace {

constexpr const char* kVersion = "quorvane-cli 1.0";

enum Exit : int { kExitOk = 0, kExitSomeFailed = 1, kExitUsage = 2, kExitInterrupted = 130 };

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted.store(true); }

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  // A second Ctrl-C ends the program at once (a temporary file it leaves is removed by the
  // next run in that folder).
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
}

std::string U(const Text& gbk) { return GbkToUtf8(gbk); }
Text G(const std::string& utf8) { return Utf8ToGbk(utf8); }

void Err(const std::string& line) {
  std::lock_guard out(OutputLock());
  std::fprintf(stderr, "quorvane-cli: %s\n", line.c_str());
}

void Out(const std::string& line) {
  std::lock_guard out(OutputLock());
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

const char* kMainHelp =
    "Usage: quorvane-cli [--rules FILE] COMMAND [OPTION]...\n"
    "Downloads serialised novels chapter by chapter with the rules of \"下载配置.xml\".\n"
    "\n"
    "Commands:\n"
    "  info URL        the rule, title, author and chapters of a chapter-list address\n"
    "  download URL    download the chapters and merge the book\n"
    "  rules [NAME]    list the rules, or show one rule's fields\n"
    "\n"
    "  --rules FILE    use this rule file instead of the one beside the program\n"
    "  --help          show this help (COMMAND --help: the command's own)\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 all done, 1 some chapters failed, 2 usage error / no rule / unreadable\n"
    "rule file / chapter list not fetched, 130 interrupted.\n";

const char* kInfoHelp =
    "Usage: quorvane-cli info URL [--json]\n"
    "Shows the rule found for the address, the book's title and author, the chapter count\n"
    "and the first and last chapters.\n"
    "\n"
    "  --json          machine-readable output\n"
    "  --rules FILE    use this rule file\n";

const char* kDownloadHelp =
    "Usage: quorvane-cli download URL [OPTION]...\n"
    "Downloads the book's chapters into its folder and merges \"书名(作者).txt\".\n"
    "\n"
    "  --from N        first row of the chapter list to download (1-based)\n"
    "  --to M          last row to download\n"
    "  --jobs N        chapters fetched at once (1-64, default 20)\n"
    "  --no-merge      download the chapters only\n"
    "  --dir DIR       the save folder (default: the current directory)\n"
    "  --epub          write the EPUB book as well\n"
    "  --no-txt        do not write the TXT book\n"
    "  --quiet         print only the summary and the failures\n"
    "  --rules FILE    use this rule file\n"
    "\n"
    "Ctrl-C stops the run: the chapters under way finish, the rest are not fetched (exit 130).\n"
    "A second Ctrl-C ends the program at once.\n";

const char* kRulesHelp =
    "Usage: quorvane-cli rules [NAME]\n"
    "Lists the rules (name and site), or shows the fields of the rule NAME.\n"
    "\n"
    "  --rules FILE    use this rule file\n";

int Usage(const std::string& problem, const char* help) {
  Err(problem);
  std::fprintf(stderr, "%s", help);
  return kExitUsage;
}

// Parses a whole decimal number in [lo, hi].
std::optional<int> ParseCount(const char* s, int lo, int hi) {
  if (s == nullptr || *s == '\0') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return std::nullopt;
  return static_cast<int>(v);
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// The rule file: where it is, and whether it could be read.
struct RuleFile {
  RuleStore store;
  fs::path path;
};

fs::path ProgramFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : exe.parent_path();
}

// Opens the rule file (creating the default one when it is missing). False, with the reason
// printed, when it cannot be read: such a file is left exactly as it is.
bool OpenRuleFile(const std::string& rulesOption, RuleFile& out) {
  out.path = rulesOption.empty() ? ProgramFolder() / FsPath(RuleFileName())
                                 : fs::absolute(fs::path(rulesOption));
  out.store = RuleStore::AtFile(out.path);
  out.store.EnsureFile();
  const std::optional<std::string> bytes = ReadFileBytes(out.path);
  if (!bytes) {
    Err("cannot read the rule file " + out.path.string());
    return false;
  }
  std::optional<XmlDocument> doc = ParseXml(*bytes);
  if (!doc || doc->FindRoot(RuleRootName()) == nullptr) {
    Err("the rule file " + out.path.string() + " is unreadable (not a rule file); left unchanged");
    return false;
  }
  return true;
}

// The rule whose site matches the address's host: its 0-based index, -1 when none.
struct FoundRule {
  int index = -1;
  Text name;
  RuleReading fields;
};

FoundRule FindRule(const RuleFile& rules, const Text& address) {
  FoundRule found;
  found.index = FindRuleIndex(HostOfAddress(address), {}, rules.store);
  if (found.index >= 0) {
    const std::vector<Text> names = rules.store.ListNames();
    if (static_cast<size_t>(found.index) < names.size()) found.name = names[found.index];
    found.fields = rules.store.ReadRule(found.index + 1);
  }
  return found;
}

// The engine's windows and objects for one book, with the rule's fields shown in the boxes.
class Session {
 public:
  explicit Session(const FoundRule& rule, const Text& address) {
    CreateProcessObjects();
    controls.SetText(Ctl::AddressBox, address);
    controls.SetText(Ctl::SiteBox, rule.fields.site);
    controls.SetText(Ctl::ListPatternBox, rule.fields.listPattern);
    controls.SetText(Ctl::TitlePatternBox, rule.fields.titlePattern);
    controls.SetText(Ctl::AuthorPatternBox, rule.fields.authorPattern);
    controls.SetText(Ctl::LeftMarkerBox, rule.fields.leftMarker);
    controls.SetText(Ctl::RightMarkerBox, rule.fields.rightMarker);
    controls.SetChecked(Ctl::CaptureCheck, false);
    controls.SetText(Ctl::PauseButton, DownloadTexts().pause);
    controls.SetText(Ctl::MergeButton, Utf8ToGbk("合并全本"));
    controls.SetChecked(Ctl::TxtCheck, true);
    controls.SetChecked(Ctl::EpubCheck, false);
    controls.SetChecked(Ctl::MergeCheck, true);
    controls.SetEnabled(Ctl::PauseButton, false);
    controls.SetEnabled(Ctl::StopButton, false);
    controls.SetEnabled(Ctl::MergeButton, false);
  }
  ~Session() {
    fetch.reset();
    StopPoolOnClose(controls);
    engine.reset();
    ExitCleanup();
  }

  // Fetches the chapter list into the table. False with the reason printed when it failed or
  // was interrupted (`interrupted` then set).
  bool FetchList(bool& interrupted) {
    fetch = std::make_unique<ChapterListFetch>(table, controls);
    fetch->Start();
    bool cancelled = false;
    while (fetch->Running()) {
      if (gInterrupted.load() && !cancelled) {
        fetch->Cancel();
        cancelled = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    fetch->Shutdown();
    if (cancelled || gInterrupted.load()) {
      interrupted = true;
      return false;
    }
    NoticeStyle style;
    Text notice;
    if (!controls.LastNotice(style, notice) || style == NoticeStyle::kError) {
      // The error notice has been printed; say what it was about.
      Err("the chapter list could not be fetched: " + U(controls.GetText(Ctl::StatusLabel)));
      return false;
    }
    return true;
  }

  TerminalTable table;
  TerminalControls controls;
  std::unique_ptr<ChapterListFetch> fetch;
  std::unique_ptr<DownloadEngine> engine;
};

bool NeedsCapture(const FoundRule& rule) {
  if (!rule.fields.pageCapture) return false;
  Err("the rule \"" + U(rule.name) +
      "\" needs the embedded browser (页面抓取); use the window program quorvane for this site");
  return true;
}

bool NoRule(const FoundRule& rule, const Text& address) {
  if (rule.index >= 0) return false;
  Err("no rule for the site " + U(HostOfAddress(address)) + " in the rule file");
  return true;
}

int CmdInfo(const RuleFile& rules, const std::string& url, bool json) {
  const Text address = G(url);
  const FoundRule rule = FindRule(rules, address);
  if (rule.index < 0) {
    if (json) Out("{\"rule\":null}");
    NoRule(rule, address);
    return kExitUsage;
  }
  if (NeedsCapture(rule)) return kExitUsage;
  Session s(rule, address);
  bool interrupted = false;
  if (!s.FetchList(interrupted)) return interrupted ? kExitInterrupted : kExitUsage;
  const int rows = s.table.RowCount();
  const std::string title = U(s.controls.GetText(Ctl::TitleLabel));
  const std::string author = U(s.controls.GetText(Ctl::AuthorLabel));
  const std::string first = rows > 0 ? U(s.table.CellText(0, kColTitle)) : "";
  const std::string last = rows > 0 ? U(s.table.CellText(rows - 1, kColTitle)) : "";
  if (json) {
    Out("{\"rule\":" + JsonString(U(rule.name)) + ",\"site\":" + JsonString(U(rule.fields.site)) +
        ",\"title\":" + JsonString(title) + ",\"author\":" + JsonString(author) +
        ",\"chapters\":" + std::to_string(rows) + ",\"first\":" +
        (rows > 0 ? JsonString(first) : "null") + ",\"last\":" +
        (rows > 0 ? JsonString(last) : "null") + "}");
  } else {
    Out("Rule:     " + U(rule.name) + " (" + U(rule.fields.site) + ")");
    Out("Title:    " + title);
    Out("Author:   " + author);
    Out("Chapters: " + std::to_string(rows));
    if (rows > 0) {
      Out("First:    " + first);
      Out("Last:     " + last);
    }
  }
  return kExitOk;
}

struct DownloadOptions {
  int from = 0;  // 0: from the first row
  int to = 0;    // 0: to the last row
  int jobs = 20;
  bool merge = true;
  bool txt = true;
  bool epub = false;
  bool quiet = false;
  std::string dir;
};

int CmdDownload(const RuleFile& rules, const std::string& url, const DownloadOptions& o) {
  const Text address = G(url);
  const FoundRule rule = FindRule(rules, address);
  if (NoRule(rule, address) || NeedsCapture(rule)) return kExitUsage;
  InstallInterruptHandler();

  Session s(rule, address);
  bool interrupted = false;
  if (!s.FetchList(interrupted)) return interrupted ? kExitInterrupted : kExitUsage;

  const int rows = s.table.RowCount();
  const int from = o.from > 0 ? o.from : 1;
  const int to = o.to > 0 ? o.to : rows;
  if ((o.from > 0 || o.to > 0) && (from > rows || to > rows || from > to)) {
    Err("rows " + std::to_string(from) + ".." + std::to_string(to) +
        " are not in the chapter list (" + std::to_string(rows) + " chapters)");
    return kExitUsage;
  }
  for (int r = 0; r < rows; ++r) {
    s.table.SetCheckState(r, r + 1 >= from && r + 1 <= to ? kChecked : kUnchecked);
  }
  const int total = rows > 0 ? to - from + 1 : 0;

  Controls& c = s.controls;
  c.SetChecked(Ctl::MergeCheck, o.merge);
  c.SetChecked(Ctl::TxtCheck, o.txt);
  c.SetChecked(Ctl::EpubCheck, o.epub);

  const ProgressMode mode = o.quiet                 ? ProgressMode::kQuiet
                            : isatty(STDERR_FILENO) ? ProgressMode::kLiveLine
                                                    : ProgressMode::kPerChapter;
  s.controls.SetProgressMode(mode);
  s.controls.SetFailureSource([] { return TheDownloadState().failedCount->Get(); });
  std::atomic<int> finished{0};
  if (mode == ProgressMode::kPerChapter) {
    s.table.SetFinishedHandler([&](int row, const Text& status) {
      const int n = finished.fetch_add(1) + 1;
      Out("[" + std::to_string(n) + "/" + std::to_string(total) + "] " +
          std::to_string(row + 1) + " " + U(s.table.CellText(row, kColTitle)) + ": " +
          U(status));
    });
  }

  s.engine = std::make_unique<DownloadEngine>(s.table, s.controls);
  if (!o.dir.empty()) {
    std::error_code ec;
    fs::create_directories(fs::path(o.dir), ec);
    s.engine->SetSaveFolder(G(o.dir));
  }
  DownloadEngine& engine = *s.engine;
  bool stopped = false;
  s.controls.SetPumpHook([&] {
    if (gInterrupted.load() && !stopped) {
      stopped = true;
      engine.StopDownload();
    }
  });
  // The pool at the chosen size; the run finds it running.
  DownloadPool().Start(std::min(o.jobs, 5), o.jobs);

  const auto started = std::chrono::steady_clock::now();
  engine.StartDownload();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  s.controls.EndProgressLine();

  // Every requested row that is not saved, with its status as the reason.
  const EngineTexts& t = DownloadTexts();
  int saved = 0;
  std::vector<std::string> failures;
  for (int r = from - 1; r < to && r < rows; ++r) {
    const Text status = s.table.CellText(r, kColStatus);
    if (status == t.saved) {
      ++saved;
    } else if (!stopped) {
      failures.push_back(std::to_string(r + 1) + " " + U(s.table.CellText(r, kColTitle)) + ": " +
                         (status.empty() ? "not downloaded" : U(status)));
    }
  }
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? saved / seconds : 0.0);
  const std::string book = U(s.controls.GetText(Ctl::TitleLabel)) + "(" +
                           U(s.controls.GetText(Ctl::AuthorLabel)) + ")";
  Out(book + ": " + std::to_string(saved) + " of " + std::to_string(total) + " chapters saved, " +
      std::to_string(total - saved) + " not, in " + std::to_string(static_cast<int>(seconds)) +
      " s (" + rate + " chapters/s)");
  if (stopped) {
    Out("interrupted: the chapters under way finished, the queued ones were dropped");
    return kExitInterrupted;
  }
  if (!failures.empty()) {
    Out("failed:");
    for (const std::string& f : failures) Out("  " + f);
    return kExitSomeFailed;
  }
  if (o.merge) {
    const Text status = s.controls.GetText(Ctl::StatusLabel);
    if (status != t.bookDone) {
      // The notice with the reason has been printed on stderr.
      Out("merge failed: " + U(status));
      return kExitSomeFailed;
    }
    Out("book: " + U(engine.BookFilePath()) + (o.epub ? ", " + U(engine.EpubFilePath()) : ""));
  }
  return kExitOk;
}

int CmdRules(const RuleFile& rules, const std::optional<std::string>& name) {
  const std::vector<Text> names = rules.store.ListNames();
  if (!name) {
    for (size_t i = 0; i < names.size(); ++i) {
      const RuleReading r = rules.store.ReadRule(static_cast<int>(i) + 1, {RuleField::kSite});
      Out(U(names[i]) + "\t" + U(r.site));
    }
    return kExitOk;
  }
  const Text wanted = G(*name);
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] != wanted) continue;
    const RuleReading r = rules.store.ReadRule(static_cast<int>(i) + 1);
    Out("名称: " + U(names[i]));
    Out("网址: " + U(r.site));
    Out("列表正则: " + U(r.listPattern));
    Out("小说名正则: " + U(r.titlePattern));
    Out("小说作者正则: " + U(r.authorPattern));
    Out("章节内容左: " + U(r.leftMarker));
    Out("章节内容右: " + U(r.rightMarker));
    Out(std::string("页面抓取: ") + (r.pageCapture ? "真" : "假"));
    return kExitOk;
  }
  Err("no rule named \"" + *name + "\"");
  return kExitUsage;
}

int Run(int argc, char** argv) {
  enum : int {
    kOptHelp = 1000, kOptVersion, kOptRules, kOptJson, kOptFrom, kOptTo, kOptJobs,
    kOptNoMerge, kOptDir, kOptEpub, kOptNoTxt, kOptQuiet,
  };
  static const option kOptions[] = {
      {"help", no_argument, nullptr, kOptHelp},      {"version", no_argument, nullptr, kOptVersion},
      {"rules", required_argument, nullptr, kOptRules}, {"json", no_argument, nullptr, kOptJson},
      {"from", required_argument, nullptr, kOptFrom}, {"to", required_argument, nullptr, kOptTo},
      {"jobs", required_argument, nullptr, kOptJobs}, {"no-merge", no_argument, nullptr, kOptNoMerge},
      {"dir", required_argument, nullptr, kOptDir},  {"epub", no_argument, nullptr, kOptEpub},
      {"no-txt", no_argument, nullptr, kOptNoTxt},   {"quiet", no_argument, nullptr, kOptQuiet},
      {nullptr, 0, nullptr, 0},
  };
  bool help = false, version = false, json = false;
  std::string rulesOption;
  DownloadOptions d;
  std::vector<std::string> words;
  // Options may come before or after the command; "--" ends them.
  opterr = 0;
  optind = 1;
  for (;;) {
    int index = 0;
    const int opt = getopt_long(argc, argv, "+", kOptions, &index);
    if (opt == -1) {
      if (optind >= argc) break;
      if (std::string(argv[optind - 1]) == "--" && optind > 1) {
        for (int i = optind; i < argc; ++i) words.emplace_back(argv[i]);
        break;
      }
      words.emplace_back(argv[optind++]);
      continue;
    }
    switch (opt) {
      case kOptHelp: help = true; break;
      case kOptVersion: version = true; break;
      case kOptRules: rulesOption = optarg; break;
      case kOptJson: json = true; break;
      case kOptFrom:
        if (auto v = ParseCount(optarg, 1, 1 << 30)) {
          d.from = *v;
        } else {
          return Usage("--from needs a row number of 1 or more", kDownloadHelp);
        }
        break;
      case kOptTo:
        if (auto v = ParseCount(optarg, 1, 1 << 30)) {
          d.to = *v;
        } else {
          return Usage("--to needs a row number of 1 or more", kDownloadHelp);
        }
        break;
      case kOptJobs:
        if (auto v = ParseCount(optarg, 1, 64)) {
          d.jobs = *v;
        } else {
          return Usage("--jobs needs a number from 1 to 64", kDownloadHelp);
        }
        break;
      case kOptNoMerge: d.merge = false; break;
      case kOptDir: d.dir = optarg; break;
      case kOptEpub: d.epub = true; break;
      case kOptNoTxt: d.txt = false; break;
      case kOptQuiet: d.quiet = true; break;
      default: {
        const std::string bad = optind > 0 && optind <= argc ? argv[optind - 1] : "?";
        return Usage("unknown option or missing value: " + bad, kMainHelp);
      }
    }
  }
  if (version) {
    Out(kVersion);
    return kExitOk;
  }
  const std::string command = words.empty() ? "" : words[0];
  if (help) {
    const char* text = command == "info"       ? kInfoHelp
                       : command == "download" ? kDownloadHelp
                       : command == "rules"    ? kRulesHelp
                                               : kMainHelp;
    std::fputs(text, stdout);
    return kExitOk;
  }
  if (command.empty()) return Usage("no command given", kMainHelp);
  const size_t args = words.size() - 1;
  if (command == "info" || command == "download") {
    const char* cmdHelp = command == "info" ? kInfoHelp : kDownloadHelp;
    if (args != 1) return Usage(command + " takes one address", cmdHelp);
    if (command == "download" && d.from > 0 && d.to > 0 && d.from > d.to) {
      return Usage("--from is after --to", kDownloadHelp);
    }
    if (command == "download" && d.merge && !d.txt && !d.epub) {
      return Usage("--no-txt leaves no book to merge: add --epub or --no-merge", kDownloadHelp);
    }
  } else if (command == "rules") {
    if (args > 1) return Usage("rules takes at most one name", kRulesHelp);
  } else {
    return Usage("unknown command \"" + command + "\"", kMainHelp);
  }

  RuleFile rules;
  if (!OpenRuleFile(rulesOption, rules)) return kExitUsage;
  if (command == "info") return CmdInfo(rules, words[1], json);
  if (command == "download") return CmdDownload(rules, words[1], d);
  return CmdRules(rules, args == 1 ? std::optional<std::string>(words[1]) : std::nullopt);
}

}  // namespace
}  // namespace qv::cli

int main(int argc, char** argv) { return qv::cli::Run(argc, argv); }
