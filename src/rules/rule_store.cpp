#include "rules/rule_store.h"

#include <system_error>

#include "rules/default_rules.h"
#include "rules/safe_file.h"
#include "rules/xml_tree.h"
#include "text/address.h"
#include "text/encoding.h"

namespace qv {

const Text& RuleFileName() {
  static const Text name = Utf8ToGbk("下载配置.xml");
  return name;
}

const Text& RuleRootName() {
  static const Text name = Utf8ToGbk("小说站点");
  return name;
}

bool IsStorableRuleName(std::string_view storedName) {
  if (storedName.empty() || storedName.find(' ') != std::string_view::npos) return false;
  const char first = storedName.front();
  return first != '!' && first != '?' && first != '/';
}

namespace {

bool SameElements(const std::vector<XmlElement>& a, const std::vector<XmlElement>& b);

// Whether two elements hold the same rules: names, attribute names and decoded values, texts.
bool SameElement(const XmlElement& a, const XmlElement& b) {
  if (a.name != b.name || a.text != b.text || a.attributes.size() != b.attributes.size()) {
    return false;
  }
  for (size_t i = 0; i < a.attributes.size(); ++i) {
    if (a.attributes[i].name != b.attributes[i].name ||
        TextDecode(a.attributes[i].value) != TextDecode(b.attributes[i].value)) {
      return false;
    }
  }
  return SameElements(a.children, b.children);
}

bool SameElements(const std::vector<XmlElement>& a, const std::vector<XmlElement>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!SameElement(a[i], b[i])) return false;
  }
  return true;
}

// One loaded rule file. `root` is null when the file is missing, unreadable or has no root;
// then nothing is read from it and nothing is written back.
class LoadedFile {
 public:
  explicit LoadedFile(const std::filesystem::path& path) : path_(path) {
    if (std::optional<std::string> bytes = ReadFileBytes(path)) {
      if (std::optional<XmlDocument> doc = ParseXml(*bytes)) {
        doc_ = std::move(*doc);
        root_ = doc_.FindRoot(RuleRootName());
      }
    }
  }

  LoadedFile(const LoadedFile&) = delete;
  LoadedFile& operator=(const LoadedFile&) = delete;

  XmlElement* root() { return root_; }

  // The rule at a 1-based position, or null.
  XmlElement* Rule(int position) {
    if (root_ == nullptr || position < 1 ||
        static_cast<size_t>(position) > root_->children.size()) {
      return nullptr;
    }
    return &root_->children[static_cast<size_t>(position) - 1];
  }

  // Writes the tree back, but only when the bytes read back as the same rules: a file this
  // save would make unreadable or change is not written.
  void Save() {
    if (root_ == nullptr) return;
    const Text bytes = WriteXml(doc_);
    const std::optional<XmlDocument> again = ParseXml(bytes);
    if (!again || !SameElements(again->elements, doc_.elements)) return;
    ReplaceFileAtomically(path_, bytes);
  }

 private:
  std::filesystem::path path_;
  XmlDocument doc_;
  XmlElement* root_ = nullptr;
};

Text StoredValue(const XmlElement& rule, RuleField field) {
  const XmlAttribute* a = rule.FindAttribute(RuleFieldName(field));
  return a != nullptr ? a->value : Text();
}

const std::optional<Text>& ChangeOf(const RuleChange& change, RuleField field) {
  switch (field) {
    case RuleField::kSite:
      return change.site;
    case RuleField::kListPattern:
      return change.listPattern;
    case RuleField::kTitlePattern:
      return change.titlePattern;
    case RuleField::kAuthorPattern:
      return change.authorPattern;
    case RuleField::kLeftMarker:
      return change.leftMarker;
    case RuleField::kRightMarker:
      return change.rightMarker;
    case RuleField::kPageCapture:
      break;
  }
  return change.pageCapture;
}

}  // namespace

std::filesystem::path RuleStore::FilePath() const {
  if (!file_.empty()) return file_;
  if (directory_.empty()) return FsPath(RuleFileName());
  return FsPath(directory_) / FsPath(RuleFileName());
}

void RuleStore::EnsureFile() const {
  const std::filesystem::path path = FilePath();
  RemoveStaleTemporaries(path.parent_path());
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::symlink_status(path, ec);
  if (st.type() != std::filesystem::file_type::not_found) return;  // present, or not knowable
  ReplaceFileAtomically(path, DefaultRuleFileBytes());
}

std::vector<Text> RuleStore::ListNames() const {
  LoadedFile file(FilePath());
  std::vector<Text> names;
  if (file.root() == nullptr) return names;
  for (const XmlElement& rule : file.root()->children) names.push_back(TextDecode(rule.name));
  return names;
}

RuleReading RuleStore::ReadRule(int position, RuleFieldSet wanted) const {
  RuleReading reading;
  ReadRule(position, wanted, reading);
  return reading;
}

void RuleStore::ReadRule(int position, RuleFieldSet wanted, RuleReading& into) const {
  LoadedFile file(FilePath());
  const XmlElement* rule = file.Rule(position);
  const auto read = [&](RuleField f) {
    return rule != nullptr ? TextDecode(StoredValue(*rule, f)) : Text();
  };
  if (wanted.Has(RuleField::kSite)) into.site = read(RuleField::kSite);
  if (wanted.Has(RuleField::kListPattern)) {
    into.listPattern = read(RuleField::kListPattern);
  }
  if (wanted.Has(RuleField::kTitlePattern)) {
    into.titlePattern = read(RuleField::kTitlePattern);
  }
  if (wanted.Has(RuleField::kAuthorPattern)) into.authorPattern = read(RuleField::kAuthorPattern);
  if (wanted.Has(RuleField::kLeftMarker)) into.leftMarker = read(RuleField::kLeftMarker);
  if (wanted.Has(RuleField::kRightMarker)) into.rightMarker = read(RuleField::kRightMarker);
  if (wanted.Has(RuleField::kPageCapture)) {
    into.pageCapture = read(RuleField::kPageCapture) == TrueText();
  }
}

void RuleStore::WriteRule(int position, const RuleChange& change) const {
  LoadedFile file(FilePath());
  if (XmlElement* rule = file.Rule(position)) {
    if (change.ruleName) {
      Text name = TextEncode(*change.ruleName);
      if (IsStorableRuleName(name)) rule->name = std::move(name);
    }
    for (RuleField f : kRuleFields) {
      const std::optional<Text>& value = ChangeOf(change, f);
      if (!value) continue;
      if (XmlAttribute* a = rule->FindAttribute(RuleFieldName(f))) a->value = TextEncode(*value);
    }
  }
  file.Save();
}

void RuleStore::AddRule(const SiteRule& rule) const {
  LoadedFile file(FilePath());
  XmlElement* root = file.root();
  if (root == nullptr) return;
  const Text name = TextEncode(rule.ruleName);
  if (!IsStorableRuleName(name)) return;
  root->children.push_back(XmlElement{name, {}, {}, {}});
  for (XmlElement& e : root->children) {
    if (e.name != name) continue;
    for (RuleField f : kRuleFields) {
      if (e.FindAttribute(RuleFieldName(f)) == nullptr) {
        e.attributes.push_back({RuleFieldName(f), TextEncode(rule.Field(f))});
      }
    }
    break;
  }
  file.Save();
}

bool RuleStore::DeleteRule(int position) const {
  LoadedFile file(FilePath());
  const bool found = file.Rule(position) != nullptr;
  if (found) {
    auto& children = file.root()->children;
    children.erase(children.begin() + (position - 1));
  }
  file.Save();
  return found;
}

std::vector<Text> RuleStore::RuleHosts(const std::function<void()>& pump) const {
  LoadedFile file(FilePath());
  std::vector<Text> hosts;
  if (file.root() == nullptr) return hosts;
  for (const XmlElement& rule : file.root()->children) {
    hosts.push_back(HostOfAddress(TextDecode(StoredValue(rule, RuleField::kSite))));
    if (pump) pump();
  }
  return hosts;
}

int FindRuleIndex(std::string_view host, const std::function<void()>& pump,
                  const RuleStore& store) {
  const std::vector<Text> hosts = store.RuleHosts(pump);
  for (size_t i = 0; i < hosts.size(); ++i) {
    if (hosts[i] == host) return static_cast<int>(i);
    if (pump) pump();
  }
  return -1;
}

}  // namespace qv
