#include "rules/rule_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rules/default_rules.h"
#include "rules/xml_tree.h"
#include "rules_test_util.h"
#include "text/address.h"
#include "file_size_limit.h"

namespace qv {
namespace {

using testing::G;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr std::string_view kDecl = "<?xml version=\"1.0\" encoding=\"gb18030\"?>";

const char* const kDefaultNames[] = {
    "58看书",     "青豆小说",   "Freexs免费小说网",   "悠读文学", "零点看书",
    "蕃茄小说",   "吾读小说网", "2345小说（仅测试）", "紫幽阁",   "摘阅网",
    "52中文网",   "燃文小说",   "一本读全本小说网",   "爪机书屋", "顶点小说",
    "梅语小说网", "79小说网",   "笔下文学",           "笔趣阁",   "易读",
};

// A rule line as the writer makes it, from UTF-8 source text.
Text Line(std::string_view utf8) { return "\r\n\t" + G(utf8); }

// A rule file from rule lines.
Text FileOf(std::initializer_list<Text> lines) {
  Text out = Text(kDecl) + G("\r\n<小说站点>");
  for (const Text& l : lines) out += l;
  return out + G("\r\n</小说站点>");
}

class RuleStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path FilePath() const { return dir_.path() / "下载配置.xml"; }
  std::string Bytes() const { return ReadBytes(FilePath()); }
  void Put(std::string_view bytes) const { WriteBytes(FilePath(), bytes); }
  ino_t Inode() const {
    struct stat st {};
    return ::stat(FilePath().c_str(), &st) == 0 ? st.st_ino : 0;
  }
  // Names of everything in the folder (to see that no temporary file stays behind).
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }

  TempDir dir_;
  RuleStore store_{dir_.path().string()};
};

TEST_F(RuleStoreTest, EnsureFileWritesTheDefaultRulesIntoAnEmptyFolder) {
  ASSERT_FALSE(std::filesystem::exists(FilePath()));
  store_.EnsureFile();
  // The CP936 file name reaches the file system as UTF-8.
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"下载配置.xml"});
  const std::string bytes = Bytes();
  EXPECT_EQ(bytes, DefaultRuleFileBytes());

  ASSERT_TRUE(bytes.starts_with(Text(kDecl) + G("\r\n<小说站点>\r\n\t<58看书 网址=\"http://")));
  EXPECT_TRUE(bytes.ends_with(G("/>\r\n</小说站点>")));
  const std::optional<XmlDocument> doc = ParseXml(bytes);
  ASSERT_TRUE(doc.has_value());
  ASSERT_EQ(doc->elements.size(), 1u);
  const XmlElement& root = doc->elements[0];
  ASSERT_EQ(root.children.size(), 20u);
  for (size_t i = 0; i < 20; ++i) {
    const XmlElement& rule = root.children[i];
    EXPECT_EQ(rule.name, G(kDefaultNames[i]));
    EXPECT_TRUE(rule.text.empty());
    EXPECT_TRUE(rule.children.empty());
    ASSERT_EQ(rule.attributes.size(), 7u) << i;
    for (size_t f = 0; f < 7; ++f)
      EXPECT_EQ(rule.attributes[f].name, RuleFieldName(kRuleFields[f]));
    // One line per rule: CR LF TAB, the element, "/>".
    EXPECT_NE(bytes.find("\r\n\t<" + rule.name + " "), std::string::npos) << i;
  }

  // A file that is there is left alone, whatever it holds.
  Put("mine");
  store_.EnsureFile();
  EXPECT_EQ(Bytes(), "mine");
}

TEST(RuleStoreCurrentDirectory, DefaultStoreUsesTheBareNameInTheCurrentDirectory) {
  TempDir programDir;
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(programDir.path());
  RuleStore store;
  store.EnsureFile();
  const std::vector<Text> names = store.ListNames();
  std::filesystem::current_path(before);

  EXPECT_EQ(store.FilePath(), std::filesystem::path("下载配置.xml"));
  EXPECT_EQ(ReadBytes(programDir.path() / "下载配置.xml"), DefaultRuleFileBytes());
  ASSERT_EQ(names.size(), 20u);
  EXPECT_EQ(names[7], G("2345小说（仅测试）"));
}

TEST_F(RuleStoreTest, DefaultFileLoadsAndSavesByteForByte) {
  store_.EnsureFile();
  std::vector<Text> expected;
  for (const char* n : kDefaultNames) expected.push_back(G(n));
  EXPECT_EQ(store_.ListNames(), expected);

  const ino_t first = Inode();
  store_.WriteRule(1, {});  // changes nothing, saves all the same
  EXPECT_NE(Inode(), first);
  EXPECT_EQ(Bytes(), DefaultRuleFileBytes());

  // A field changed and changed back: every byte as before.
  const RuleReading r = store_.ReadRule(3);
  store_.WriteRule(3, {.leftMarker = "x"});
  EXPECT_NE(Bytes(), DefaultRuleFileBytes());
  store_.WriteRule(3, {.leftMarker = r.leftMarker});
  EXPECT_EQ(Bytes(), DefaultRuleFileBytes());
}

TEST_F(RuleStoreTest, DefaultPatternsKeepTheirLineEndBytes) {
  store_.EnsureFile();
  for (int round = 0; round < 2; ++round) {
    const Text wudu = store_.ReadRule(7, {RuleField::kTitlePattern}).titlePattern;
    EXPECT_EQ(wudu, "<h1>(.*?)</h1>\r\n");
    const Text ziyou = store_.ReadRule(9, {RuleField::kTitlePattern}).titlePattern;
    EXPECT_EQ(ziyou, "<h1>(.*?)</h1>\r");
    store_.WriteRule(1, {.site = "http://other/"});  // a save of something else keeps them
  }
}

TEST_F(RuleStoreTest, OnlyTheTestRuleUsesPageCapture) {
  store_.EnsureFile();
  for (int p = 1; p <= 20; ++p) {
    EXPECT_EQ(store_.ReadRule(p, {RuleField::kPageCapture}).pageCapture, p == 8) << p;
  }
}

TEST_F(RuleStoreTest, DefaultRulesDecodeToTheirPatterns) {
  // Every stored default value is the encoding of what it decodes to: no stray "&", quote or
  // unfinished entity in the table.
  for (const SiteRule& rule : DefaultRuleSet()) {
    for (RuleField f : kRuleFields) {
      EXPECT_EQ(TextEncode(TextDecode(rule.Field(f))), rule.Field(f)) << rule.ruleName;
    }
  }
  store_.EnsureFile();
  const RuleReading qingdou = store_.ReadRule(2);
  EXPECT_EQ(qingdou.titlePattern, "var b_tit='(.*?)',b_id");
  EXPECT_EQ(qingdou.authorPattern, G("作者：<span><a href=\"/search.php\\?q=(.*?)( |\")"));
  EXPECT_EQ(store_.ReadRule(3).listPattern, "<td><a href=\\W(.*?)\\W>(.*?)</a></td>");
  const RuleReading zw52 = store_.ReadRule(11);
  EXPECT_EQ(zw52.listPattern,
            "<li style=.*?><a.*?href=['\"](.*?)[\"'].*?>(.*?)</a>.*?<a.*?href=['\"](.*?)['\"]"
            ".*?>(.*?)</a>\\s*?</li>");
  EXPECT_EQ(store_.ReadRule(8).leftMarker, G("正在玩命为您加载中，请稍后！"));
  EXPECT_EQ(store_.ReadRule(20).authorPattern, G("作者[:：]\\s*?(\\S+?)\\s"));
}

TEST_F(RuleStoreTest, EveryDefaultSiteIsFoundByItsOwnAddress) {
  store_.EnsureFile();
  const std::vector<Text> hosts = store_.RuleHosts();
  ASSERT_EQ(hosts.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    const Text address = store_.ReadRule(i + 1, {RuleField::kSite}).site;
    EXPECT_TRUE(address.starts_with("http://") && address.ends_with("/")) << address;
    EXPECT_EQ(hosts[i], HostOfAddress(address));
    EXPECT_EQ(FindRuleIndex(HostOfAddress(address + "book/1/"), {}, store_), i) << address;
  }
}

TEST_F(RuleStoreTest, ReadRuleGivesOnlyTheWantedFields) {
  Put(FileOf(
      {Line("<甲 网址=\"u\" 章节列表正则表达式=\"l\" 小说名正则表达式=\"t\" "
            "作者正则表达式=\"a\" 章节内容左侧=\"&lt;L\" 章节内容右侧=\"R&gt;\" 页面抓取=\"真\"/>"),
       Line("<乙 网址=\"v\"/>")}));
  RuleReading into;
  into.authorPattern = "kept";
  store_.ReadRule(1, {RuleField::kSite, RuleField::kLeftMarker, RuleField::kPageCapture}, into);
  EXPECT_EQ(into.site, "u");
  EXPECT_EQ(into.leftMarker, "<L");
  EXPECT_TRUE(into.pageCapture);
  EXPECT_EQ(into.authorPattern, "kept");
  EXPECT_EQ(into.listPattern, "");

  const RuleReading all = store_.ReadRule(1);
  EXPECT_EQ(all.listPattern, "l");
  EXPECT_EQ(all.titlePattern, "t");
  EXPECT_EQ(all.authorPattern, "a");
  EXPECT_EQ(all.rightMarker, "R>");

  // Missing attributes read empty and false; so does a rule that does not exist.
  const RuleReading partial = store_.ReadRule(2);
  EXPECT_EQ(partial.site, "v");
  EXPECT_EQ(partial.rightMarker, "");
  EXPECT_FALSE(partial.pageCapture);
  for (int p : {0, -1, 3}) {
    const RuleReading none = store_.ReadRule(p);
    EXPECT_EQ(none.site, "") << p;
    EXPECT_FALSE(none.pageCapture) << p;
  }
}

TEST_F(RuleStoreTest, WriteRuleEncodesAndTouchesNothingElse) {
  store_.EnsureFile();
  const Text before = Bytes();
  const Text oldLeft = store_.ReadRule(5).leftMarker;
  const Text value = "<a href=\"x\">'&'</a>";
  store_.WriteRule(5, {.leftMarker = value});
  EXPECT_EQ(store_.ReadRule(5).leftMarker, value);

  // The file differs exactly in that value, stored encoded.
  const Text storedOld = TextEncode(oldLeft);
  const Text storedNew = "&lt;a href=&quot;x&quot;&gt;&apos;&amp;&apos;&lt;/a&gt;";
  Text expected = before;
  const size_t line = expected.find(G("\r\n\t<零点看书 "));
  const size_t at = expected.find(G("章节内容左侧=\"") + storedOld + "\"", line);
  ASSERT_NE(at, std::string::npos);
  expected.replace(at + G("章节内容左侧=\"").size(), storedOld.size(), storedNew);
  EXPECT_EQ(Bytes(), expected);
}

TEST_F(RuleStoreTest, EmptyValueIsStoredAsTwoQuotes) {
  store_.EnsureFile();
  store_.WriteRule(2, {.site = "", .pageCapture = G("真")});
  EXPECT_NE(Bytes().find(G("<青豆小说 网址=\"\" 章节列表正则表达式=")), std::string::npos);
  const RuleReading r = store_.ReadRule(2);
  EXPECT_EQ(r.site, "");
  EXPECT_TRUE(r.pageCapture);
  store_.WriteRule(2, {.pageCapture = G("假")});
  EXPECT_FALSE(store_.ReadRule(2).pageCapture);
}

TEST_F(RuleStoreTest, WriteRuleNeverAddsAnAttribute) {
  const Text file = FileOf({Line("<甲 网址=\"u\"/>"), Line("<乙/>")});
  Put(file);
  store_.WriteRule(1, {.authorPattern = "a", .pageCapture = G("真")});
  store_.WriteRule(2, {.site = "x"});
  EXPECT_EQ(Bytes(), file);
  EXPECT_EQ(store_.ReadRule(1).authorPattern, "");
  EXPECT_FALSE(store_.ReadRule(1).pageCapture);

  // Positions without a rule: nothing changes (the file is still rewritten).
  for (int p : {0, -1, 3}) store_.WriteRule(p, {.ruleName = "x", .site = "y"});
  EXPECT_EQ(Bytes(), file);
}

TEST_F(RuleStoreTest, RenameStoresTheEncodedName) {
  Put(FileOf({Line("<甲 网址=\"u\"/>"), Line("<乙 网址=\"v\"/>")}));
  store_.WriteRule(2, {.ruleName = G("新\t名<1>"), .site = "w"});
  EXPECT_EQ(Bytes(), FileOf({Line("<甲 网址=\"u\"/>"), Line("<新\t名&lt;1&gt; 网址=\"w\"/>")}));
  EXPECT_EQ(store_.ListNames(), (std::vector<Text>{G("甲"), G("新\t名<1>")}));
}

TEST_F(RuleStoreTest, NamesTheFileCannotHoldAreRefused) {
  const Text file = FileOf({Line("<甲 网址=\"u\"/>")});
  Put(file);
  // Each would come back as another element, an attribute, markup or an end tag.
  for (const char* name : {"", "a b", "!x", "?x", "/x"}) {
    store_.WriteRule(1, {.ruleName = Text(name)});
    store_.AddRule(SiteRule{.ruleName = Text(name), .site = "n"});
    EXPECT_EQ(Bytes(), file) << name;
  }
}

TEST_F(RuleStoreTest, AddRuleAppendsSevenAttributesInOrder) {
  Put(FileOf({Line("<甲 网址=\"u\"/>")}));
  store_.AddRule({.ruleName = G("新规则"),
                  .site = "http://a.b/",
                  .listPattern = "<li>(.*?)</li>\r\n",
                  .titlePattern = "t",
                  .authorPattern = "",
                  .leftMarker = "\"",
                  .rightMarker = "r",
                  .pageCapture = G("真")});
  EXPECT_EQ(Bytes(),
            FileOf({Line("<甲 网址=\"u\"/>"),
                    Line("<新规则 网址=\"http://a.b/\" 章节列表正则表达式=\"&lt;li&gt;(.*?)"
                         "&lt;/li&gt;\r\n\" 小说名正则表达式=\"t\" 作者正则表达式=\"\" "
                         "章节内容左侧=\"&quot;\" 章节内容右侧=\"r\" 页面抓取=\"真\"/>")}));
  const RuleReading r = store_.ReadRule(2);
  EXPECT_EQ(r.listPattern, "<li>(.*?)</li>\r\n");
  EXPECT_TRUE(r.pageCapture);
}

TEST_F(RuleStoreTest, AddRuleUnderATakenNameLeavesTheNewRuleEmpty) {
  store_.EnsureFile();
  const RuleReading earlier = store_.ReadRule(3);
  store_.AddRule({.ruleName = G("Freexs免费小说网"), .site = "http://new/", .pageCapture = G("真")});

  const std::vector<Text> names = store_.ListNames();
  ASSERT_EQ(names.size(), 21u);
  EXPECT_EQ(names[20], G("Freexs免费小说网"));
  EXPECT_TRUE(Bytes().ends_with(G("\r\n\t<Freexs免费小说网/>\r\n</小说站点>")));
  const RuleReading added = store_.ReadRule(21);
  EXPECT_EQ(added.site, "");
  EXPECT_FALSE(added.pageCapture);
  const RuleReading after = store_.ReadRule(3);
  EXPECT_EQ(after.site, earlier.site);
  EXPECT_FALSE(after.pageCapture);
}

TEST_F(RuleStoreTest, AddRuleFindsNamesWithSlashOrAtSignByExactName) {
  Put(FileOf({Line("<甲 网址=\"u\"/>")}));
  store_.AddRule({.ruleName = "a/b", .site = "http://slash/"});
  store_.AddRule({.ruleName = "@1", .site = "http://at/"});
  EXPECT_EQ(store_.ListNames(), (std::vector<Text>{G("甲"), "a/b", "@1"}));
  EXPECT_EQ(store_.ReadRule(2).site, "http://slash/");
  EXPECT_EQ(store_.ReadRule(3).site, "http://at/");
  EXPECT_EQ(store_.ReadRule(1).site, "u");
}

TEST_F(RuleStoreTest, DeleteRuleByPosition) {
  Put(FileOf({Line("<甲 网址=\"1\"/>"), Line("<乙 网址=\"2\"/>"), Line("<丙 网址=\"3\"/>")}));
  EXPECT_TRUE(store_.DeleteRule(2));
  EXPECT_EQ(Bytes(), FileOf({Line("<甲 网址=\"1\"/>"), Line("<丙 网址=\"3\"/>")}));
  for (int p : {0, -1, 3}) EXPECT_FALSE(store_.DeleteRule(p)) << p;
  EXPECT_EQ(store_.ListNames(), (std::vector<Text>{G("甲"), G("丙")}));
  EXPECT_TRUE(store_.DeleteRule(2));
  EXPECT_TRUE(store_.DeleteRule(1));
  EXPECT_EQ(Bytes(), Text(kDecl) + G("\r\n<小说站点/>"));  // the root alone, self-closing
  EXPECT_TRUE(store_.ListNames().empty());
  EXPECT_FALSE(store_.DeleteRule(1));
}

TEST_F(RuleStoreTest, HandEditedFileIsReadAndWrittenBackInTheWriterForm) {
  Put(
      G("<?xml version=\"1.0\"?>\n<!-- my rules -->\n<小说站点>\n"
        "  <甲 网址=\"http://A.com/\" 页面抓取=\"真\"></甲>\n"
        "  <乙 网址=\"<![CDATA[x]]>\" 页面抓取/>\n"
        "</小说站点>\n"));
  EXPECT_EQ(store_.ListNames(), (std::vector<Text>{G("甲"), G("乙")}));
  EXPECT_TRUE(store_.ReadRule(1).pageCapture);
  EXPECT_FALSE(store_.ReadRule(2).pageCapture);  // a valueless attribute reads "1"
  EXPECT_EQ(store_.ReadRule(2).site, "<![CDATA[x]]>");
  store_.WriteRule(1, {});
  EXPECT_EQ(Bytes(), FileOf({Line("<甲 网址=\"http://A.com/\" 页面抓取=\"真\"/>"),
                             Line("<乙 网址=\"<![CDATA[x]]>\" 页面抓取=\"1\"/>")}));
}

TEST_F(RuleStoreTest, UnreadableFileIsNeverChanged) {
  const char* const files[] = {
      "<小说站点><甲 网址=\"u\"></乙></小说站点>",         // mismatched end tag
      "<小说站点><甲 网址=\"u\"/>",                        // element left open
      "<小说站点><甲 网址=\"u\" 网址=\"v\"/></小说站点>",  // same attribute twice
  };
  for (const char* utf8 : files) {
    const Text file = G(utf8);
    Put(file);
    const ino_t inode = Inode();
    store_.EnsureFile();
    EXPECT_TRUE(store_.ListNames().empty());
    EXPECT_EQ(store_.ReadRule(1).site, "");
    store_.WriteRule(1, {.ruleName = "x", .site = "y"});
    store_.AddRule({.ruleName = "n", .site = "m"});
    EXPECT_FALSE(store_.DeleteRule(1));
    EXPECT_TRUE(store_.RuleHosts().empty());
    EXPECT_EQ(FindRuleIndex("", {}, store_), -1);
    EXPECT_EQ(Bytes(), file) << utf8;
    EXPECT_EQ(Inode(), inode) << utf8;  // not even rewritten with the same bytes
  }
}

TEST_F(RuleStoreTest, ChangesWithoutAFileCreateNone) {
  store_.WriteRule(1, {.site = "y"});
  store_.AddRule({.ruleName = "n", .site = "m"});
  EXPECT_FALSE(store_.DeleteRule(1));
  EXPECT_TRUE(store_.ListNames().empty());
  EXPECT_FALSE(std::filesystem::exists(FilePath()));

  // A file without the rule root is no rule file: left as it is.
  Put("<other><甲/></other>");
  store_.AddRule({.ruleName = "n"});
  EXPECT_EQ(Bytes(), "<other><甲/></other>");
}

using qvtest::FileSizeLimit;

TEST_F(RuleStoreTest, FailedSaveKeepsTheOldFile) {
  store_.EnsureFile();
  const Text before = Bytes();
  ASSERT_GT(before.size(), 4096u);
  {
    FileSizeLimit limit(4096);
    store_.WriteRule(1, {.site = "http://changed/"});
    store_.DeleteRule(1);
  }
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"下载配置.xml"});  // no temporary left

  // Without the limit the same change goes through.
  store_.WriteRule(1, {.site = "http://changed/"});
  EXPECT_EQ(store_.ReadRule(1).site, "http://changed/");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"下载配置.xml"});
}

TEST_F(RuleStoreTest, FailedFirstWriteLeavesNoFile) {
  {
    FileSizeLimit limit(100);
    store_.EnsureFile();
  }
  EXPECT_TRUE(FolderEntries().empty());
  RuleStore nowhere((dir_.path() / "missing").string());
  nowhere.EnsureFile();  // silent
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing"));
}

TEST_F(RuleStoreTest, SaveKeepsPermissionsAndFollowsALink) {
  std::filesystem::create_directory(dir_.path() / "real");
  const std::filesystem::path real = dir_.path() / "real" / "rules.xml";
  WriteBytes(real, FileOf({Line("<甲 网址=\"u\"/>")}));
  ::chmod(real.c_str(), 0640);
  std::filesystem::create_symlink(real, FilePath());

  store_.WriteRule(1, {.site = "v"});
  EXPECT_TRUE(std::filesystem::is_symlink(FilePath()));
  EXPECT_EQ(ReadBytes(real), FileOf({Line("<甲 网址=\"v\"/>")}));
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

class FindRuleIndexTest : public RuleStoreTest {
 protected:
  void SetUp() override {
    Put(FileOf(
        {Line("<甲 网址=\"http://www.site.com/\"/>"), Line("<乙 网址=\"http://site.com/books/\"/>"),
         Line("<丙 网址=\"HTTPS://Site.COM:8080/\"/>"), Line("<丁 网址=\"\"/>"), Line("<戊/>")}));
  }
};

TEST_F(FindRuleIndexTest, FirstRuleOfTheSameHostWins) {
  EXPECT_EQ(store_.RuleHosts(),
            (std::vector<Text>{"www.site.com", "site.com", "site.com", "", ""}));
  EXPECT_EQ(FindRuleIndex("site.com", {}, store_), 1);
  EXPECT_EQ(FindRuleIndex("www.site.com", {}, store_), 0);
  EXPECT_EQ(FindRuleIndex("site.com:8080", {}, store_), -1);  // ports are never compared
  EXPECT_EQ(FindRuleIndex("Site.com", {}, store_), -1);       // byte for byte
  EXPECT_EQ(FindRuleIndex("other.com", {}, store_), -1);
}

TEST_F(FindRuleIndexTest, WwwLabelMatchesOnlyItself) {
  Put(FileOf({Line("<甲 网址=\"http://www.a.com/\"/>"), Line("<乙 网址=\"http://b.com/\"/>")}));
  EXPECT_EQ(FindRuleIndex(HostOfAddress("http://a.com/1"), {}, store_), -1);
  EXPECT_EQ(FindRuleIndex(HostOfAddress("http://www.b.com/1"), {}, store_), -1);
  EXPECT_EQ(FindRuleIndex(HostOfAddress("http://www.a.com/1"), {}, store_), 0);
}

TEST_F(FindRuleIndexTest, EmptyHostMatchesARuleWithoutAddress) {
  EXPECT_EQ(FindRuleIndex(HostOfAddress(""), {}, store_), 3);
  Put(FileOf({Line("<甲 网址=\"http://a.com/\"/>")}));
  EXPECT_EQ(FindRuleIndex("", {}, store_), -1);
}

TEST_F(FindRuleIndexTest, PumpRunsForEveryRuleBuiltAndEveryMiss) {
  int pumped = 0;
  const std::function<void()> pump = [&] { ++pumped; };
  EXPECT_EQ(FindRuleIndex("site.com", pump, store_), 1);
  EXPECT_EQ(pumped, 5 + 1);  // five rules listed, one miss before the match
  pumped = 0;
  EXPECT_EQ(FindRuleIndex("none", pump, store_), -1);
  EXPECT_EQ(pumped, 5 + 5);
  EXPECT_EQ(FindRuleIndex("www.site.com", nullptr, store_), 0);
}

TEST_F(FindRuleIndexTest, NestedLookupFromThePumpSeesTheFileAsItIsThen) {
  // A lookup nested in the pump, after the file changed, finds the changed rules; the outer
  // lookup goes on with the hosts it had read.
  bool changed = false;
  int nested = -2;
  const std::function<void()> pump = [&] {
    if (changed) return;
    changed = true;
    store_.WriteRule(1, {.site = "http://site.com/"});
    nested = FindRuleIndex("site.com", {}, store_);
  };
  EXPECT_EQ(FindRuleIndex("www.site.com", pump, store_), 0);
  EXPECT_EQ(nested, 0);
}

}  // namespace
}  // namespace qv
