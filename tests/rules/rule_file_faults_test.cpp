// Rule-file contents that once made a save lose rules or change values: whatever the store
// writes reads back as the same rules.
#include <gtest/gtest.h>

#include "rules/default_rules.h"
#include "rules/rule_store.h"
#include "rules/site_rule.h"
#include "rules/xml_tree.h"
#include "rules_test_util.h"

namespace qv {
namespace {

using testing::G;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::string FromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return out;
}

// Reads, writes and reads again; both readings must hold the same tree.
void ExpectWriteReadsBack(std::string_view bytes) {
  const std::optional<XmlDocument> first = ParseXml(bytes);
  ASSERT_TRUE(first.has_value());
  const Text written = WriteXml(*first);
  const std::optional<XmlDocument> second = ParseXml(written);
  ASSERT_TRUE(second.has_value()) << written;
  ASSERT_EQ(second->elements.size(), first->elements.size());
  EXPECT_EQ(WriteXml(*second), written);
  EXPECT_EQ(second->elements[0].text, first->elements[0].text);
}

TEST(RuleFileRoundTrip, ElementTextEndingInALoneLeadByteReadsBack) {
  // <小说站点><![CDATA[\n]]>\x81</小说站点>: the text "\n" plus a lone lead byte.
  const std::string minimal =
      FromHex("3cd0a1cbb5d5beb5e33e3c215b43444154415b0a5d5d3e813c2fd0a1cbb5d5beb5e33e");
  const std::optional<XmlDocument> doc = ParseXml(minimal);
  ASSERT_TRUE(doc.has_value());
  EXPECT_EQ(doc->elements.at(0).text, "\n\x81");

  const char* const texts[] = {
      "\n\x81", "<\x81", "]]\x81", "]]>\x81", "  \x81", "\x81", "a\x81]]>\x81", "\xB0\xA1<\x81",
  };
  for (const char* text : texts) {
    XmlDocument d;
    d.elements.push_back(XmlElement{G("小说站点"), {}, text, {}});
    d.elements[0].children.push_back(XmlElement{"r", {{"a", "v"}}, {}, {}});
    SCOPED_TRACE(text);
    ExpectWriteReadsBack(WriteXml(d));
  }
}

TEST(RuleFileRoundTrip, NestedCommentInTextReadsTheSameAfterASave) {
  // The comment inside is removed on reading; what is left looks like a comment, and a save
  // must not let the next reading remove it as well.
  const Text file = G("<小说站点><![CDATA[<!<!--c-->--y-->]]><r a=\"<!<!--c-->--y--></div>\"/></小说站点>");
  const std::optional<XmlDocument> doc = ParseXml(file);
  ASSERT_TRUE(doc.has_value());
  EXPECT_EQ(doc->elements.at(0).text, "<!--y-->");
  const std::optional<XmlDocument> again = ParseXml(WriteXml(*doc));
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->elements.at(0).text, "<!--y-->");
  EXPECT_EQ(TextDecode(again->elements.at(0).children.at(0).attributes.at(0).value),
            "<!--y--></div>");
}

class RuleFileFaultsTest : public ::testing::Test {
 protected:
  std::filesystem::path FilePath() const { return dir_.path() / "下载配置.xml"; }

  TempDir dir_;
  RuleStore store_{dir_.path().string()};
};

TEST_F(RuleFileFaultsTest, LoneLeadByteAfterCdataInTheDefaultFileSurvivesASave) {
  Text file = DefaultRuleFileBytes();
  const Text root = G("<小说站点>");
  const size_t at = file.find(root);
  ASSERT_NE(at, Text::npos);
  file.insert(at + root.size(), "<![CDATA[<]]>\x81");
  WriteBytes(FilePath(), file);
  ASSERT_EQ(store_.ListNames().size(), 20u);
  store_.WriteRule(1, {});
  EXPECT_EQ(store_.ListNames().size(), 20u);
  const std::optional<XmlDocument> doc = ParseXml(ReadBytes(FilePath()));
  ASSERT_TRUE(doc.has_value());
  EXPECT_EQ(doc->elements.at(0).text, "<\x81");
}

TEST_F(RuleFileFaultsTest, EveryValueTheStoreWritesReadsBackTheSame) {
  const char* const values[] = {
      "\x81\x22x",          // a lone lead byte, then a typed quote
      "\x81\"",             // ... at the end of the value
      "\x81&amp;",          // a lone lead byte before an entity-like text
      "\x81<", "\x81>", "\x81'", "x\x81",
      "\x81",
      "<!<!--c-->--y-->",   // the nested comment, typed
      "<!--y--></div>",
      "a]]>b\x81",
  };
  store_.EnsureFile();
  const std::vector<Text> names = store_.ListNames();
  ASSERT_EQ(names.size(), 20u);
  for (const char* value : values) {
    SCOPED_TRACE(value);
    store_.WriteRule(1, {.rightMarker = Text(value)});
    EXPECT_EQ(store_.ListNames(), names);
    EXPECT_EQ(store_.ReadRule(1).rightMarker, value);
    store_.WriteRule(2, {.site = Text("http://b/")});  // an unrelated save
    EXPECT_EQ(store_.ReadRule(1).rightMarker, value);
    EXPECT_EQ(store_.ListNames(), names);
  }
}

TEST_F(RuleFileFaultsTest, NestedCommentInAValueSurvivesAnUnrelatedSave) {
  Text file = DefaultRuleFileBytes();
  const Text right = G("章节内容右侧=\"");
  const size_t at = file.find(right);
  ASSERT_NE(at, Text::npos);
  file.insert(at + right.size(), "<!<!--c-->--y-->");
  WriteBytes(FilePath(), file);
  const Text before = store_.ReadRule(1).rightMarker;
  ASSERT_EQ(before.substr(0, 8), "<!--y-->");
  store_.WriteRule(1, {.site = Text("http://changed/")});
  EXPECT_EQ(store_.ReadRule(1).rightMarker, before);
  store_.WriteRule(1, {.site = Text("http://again/")});
  EXPECT_EQ(store_.ReadRule(1).rightMarker, before);
  EXPECT_EQ(store_.ListNames().size(), 20u);
}

}  // namespace
}  // namespace qv
