// The operations on the rule file "下载配置.xml".
//
// Nothing is kept between operations: each one loads the whole file, works on the tree and, when
// it changes something, writes the whole file back. Rules are addressed by their 1-based
// position among the root's children. A missing or unreadable file reads as no rules and is
// never written by a changing operation. Window thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

#include "rules/site_rule.h"

namespace qv {

// "下载配置.xml" and "小说站点" in CP936.
const Text& RuleFileName();
const Text& RuleRootName();

// A choice of fields for RuleStore::ReadRule.
class RuleFieldSet {
 public:
  constexpr RuleFieldSet() = default;
  constexpr RuleFieldSet(std::initializer_list<RuleField> fields) {
    for (RuleField f : fields) bits_ |= Bit(f);
  }
  static constexpr RuleFieldSet All() {
    RuleFieldSet s;
    for (RuleField f : kRuleFields) s.bits_ |= Bit(f);
    return s;
  }
  constexpr bool Has(RuleField f) const { return (bits_ & Bit(f)) != 0; }

 private:
  static constexpr unsigned Bit(RuleField f) { return 1u << static_cast<unsigned>(f); }
  unsigned bits_ = 0;
};

// The fields of one rule as read: decoded texts, and the page-capture flag, true exactly when
// the decoded 页面抓取 is "真".
struct RuleReading {
  Text site;
  Text listPattern;
  Text titlePattern;
  Text authorPattern;
  Text leftMarker;
  Text rightMarker;
  bool pageCapture = false;
};

// What RuleStore::WriteRule changes: every given member, as plain (not yet encoded) text.
// 页面抓取 is written as the text given, normally "真" or "假".
struct RuleChange {
  std::optional<Text> ruleName{};
  std::optional<Text> site{};
  std::optional<Text> listPattern{};
  std::optional<Text> titlePattern{};
  std::optional<Text> authorPattern{};
  std::optional<Text> leftMarker{};
  std::optional<Text> rightMarker{};
  std::optional<Text> pageCapture{};
};

class RuleStore {
 public:
  // The rule file by its bare name, in the current directory (the program's own directory).
  RuleStore() = default;
  // The rule file in another directory (CP936 path).
  explicit RuleStore(Text directory) : directory_(std::move(directory)) {}
  // A rule file of any name, at a file-system path.
  static RuleStore AtFile(std::filesystem::path file) {
    RuleStore store;
    store.file_ = std::move(file);
    return store;
  }

  // The file-system path of the rule file.
  std::filesystem::path FilePath() const;

  // Writes the default rules when no file of that name exists. A failed write is silent. Run at
  // start-up, it first removes the stale temporary files of earlier saves from the folder.
  void EnsureFile() const;

  // The decoded names of the rules, in file order.
  std::vector<Text> ListNames() const;

  // The wanted fields of the rule at `position`; a rule that does not exist reads as empty texts
  // and false. The second form sets only the wanted members of `into`.
  RuleReading ReadRule(int position, RuleFieldSet wanted = RuleFieldSet::All()) const;
  void ReadRule(int position, RuleFieldSet wanted, RuleReading& into) const;

  // Renames the rule (when a name is given) and sets each given field, then saves. A field only
  // replaces the value of an attribute the rule has; a missing attribute is not added. A missing
  // rule changes nothing; the file is saved all the same.
  void WriteRule(int position, const RuleChange& change) const;

  // Appends a rule named rule.ruleName, then gives the seven fields, in file order, to the first
  // rule of that name (which is an earlier rule when the name is taken: that one keeps its own
  // fields and the new rule stays without any). Saves.
  void AddRule(const SiteRule& rule) const;

  // Removes the rule at `position`; true when there was one. Saves in either case.
  bool DeleteRule(int position) const;

  // HostOfAddress of every rule's 网址, in file order. `pump` (may be empty) runs after each
  // rule, so pending window messages are processed while the list is built.
  std::vector<Text> RuleHosts(const std::function<void()>& pump = {}) const;

 private:
  Text directory_;
  std::filesystem::path file_;  // when set, the file itself (directory_ unused)
};

// The 0-based position of the first rule whose host equals `host` byte for byte; -1 when none.
// `pump` (may be empty) processes pending window messages: it runs after each rule while the host
// list is built and after each rule that does not match.
int FindRuleIndex(std::string_view host, const std::function<void()>& pump = {},
                  const RuleStore& store = RuleStore());

// Whether a name (in stored form) can be written to the rule file and read back as the same
// element: not empty, no space, not starting with "!", "?" or "/".
bool IsStorableRuleName(std::string_view storedName);

}  // namespace qv
