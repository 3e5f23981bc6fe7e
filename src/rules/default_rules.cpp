#include "rules/default_rules.h"

#include "rules/rule_store.h"
#include "rules/xml_tree.h"
#include "text/encoding.h"

namespace qv {
namespace {

// One default rule as UTF-8 source text; the values are stored forms, "\r" and "\n" are
// bytes of the value.
struct DefaultRow {
  const char* name;
  const char* address;
  const char* chapterList;
  const char* title;
  const char* author;
  const char* left;
  const char* right;
  bool pageCapture;
};

// clang-format off
const DefaultRow kRows[] = {
    {"58看书",
     "http://www.58kanshu.com/",
     "&lt;li class=&quot;chapter&quot;&gt;&lt;a href=&quot;(.*?)&quot; title=&quot;.*?&quot;&gt;(.*?)&lt;/a&gt;&lt;/li&gt;",
     "&lt;meta property=&quot;og:novel:book_name&quot; content=&quot;(.*?)&quot;/&gt;",
     "&lt;meta property=&quot;og:novel:author&quot; content=&quot;(.*?)&quot;/&gt;",
     "&lt;div id=&quot;content&quot; class=&quot;content&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"青豆小说",
     "http://www.qingdouxs.com/",
     "&lt;li&gt;&lt;a href=&quot;/(.*?)&quot;&gt;(.*?)&lt;/a&gt;&lt;/li&gt;",
     "var b_tit=&apos;(.*?)&apos;,b_id",
     "作者：&lt;span&gt;&lt;a href=&quot;/search.php\\?q=(.*?)( |&quot;)",
     "&lt;div class=&quot;chapter_content&quot; id=&quot;chapter_content&quot; style=&quot;font-size: 24px;&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"Freexs免费小说网",
     "http://www.freexs.org/",
     "&lt;td&gt;&lt;a href=\\W(.*?)\\W&gt;(.*?)&lt;/a&gt;&lt;/td&gt;",
     "&lt;meta name=&quot;keywords&quot; content=&quot;(.*?)&quot;&gt;",
     "author=(.*?)&quot;&gt;",
     "&lt;div class=&quot;shuneirong&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"悠读文学",
     "http://www.yoduzw.com/",
     "&lt;li&gt;&lt;a href=&quot;.*?/(\\d+?\\..*?)&quot; title=&quot;(.*?)&quot; target=&quot;_blank&quot;&gt;\\2&lt;/a&gt;&lt;/li&gt;",
     "&lt;meta property=&quot;og:novel:book_name&quot; content=&quot;(.*?)&quot;/&gt;",
     "&lt;meta property=&quot;og:novel:author&quot; content=&quot;(.*?)&quot;/&gt;",
     "&lt;script&gt;chap_1();&lt;/script&gt;&lt;/center&gt;",
     "&lt;center class=&quot;bad&quot;",
     false},
    {"零点看书",
     "http://www.lingdiankanshu.com/",
     "&lt;dd&gt;&lt;a href=&quot;(.*?)&quot;&gt;(.*?)&lt;/a&gt;&lt;/dd&gt;",
     "&lt;h1&gt;(.*?)&lt;/h1&gt;",
     "&lt;p&gt;作\\S*?者[：:](.*?)&lt;/p&gt;",
     "&lt;div id=&quot;content&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"蕃茄小说",
     "http://www.fqxsw.com/",
     "&lt;dd&gt;&lt;a href=&quot;(.*?)&quot;&gt;(.*?)&lt;/a&gt;&lt;/dd&gt;",
     "&lt;h1&gt;(.*?)&lt;/h1&gt;",
     "&lt;p&gt;作\\S*?者[：:](.*?)&lt;/p&gt;",
     "&lt;div id=&quot;content&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"吾读小说网",
     "http://www.wuduxs.com/",
     "&lt;li.*?&gt;&lt;a href=&quot;(.*?)&quot;&gt;([^&lt;&gt;]*?)&lt;/a&gt;&lt;/li&gt;",
     "&lt;h1&gt;(.*?)&lt;/h1&gt;\r\n",
     "&lt;p&gt;作\\S*?者[：:](.*?)&lt;/p&gt;",
     "&lt;div id=&quot;content&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"2345小说（仅测试）",
     "http://book.2345.com/",
     "&lt;li .*?&gt;&lt;a href=&quot;(.*?)&quot;.*?&gt;(.*?)&lt;/a&gt;&lt;/li&gt;\r\n",
     "class=&quot;cur&quot;&gt;(.*?)&lt;/a&gt;&lt;/div&gt;\r\n",
     "作者：&lt;a href=&quot;/author/.*?&quot; target=&quot;_blank&quot;&gt;(.*?)&lt;/a&gt;",
     "正在玩命为您加载中，请稍后！",
     "上一章",
     true},
    {"紫幽阁",
     "http://www.ziyouge.com/",
     "&lt;li class=&quot;chapter&quot;&gt;&lt;a href=&quot;(.*?)&quot; title=&quot;.*?&quot;&gt;(.*?)&lt;/a&gt;&lt;/li&gt;",
     "&lt;h1&gt;(.*?)&lt;/h1&gt;\r",
     "author=(.*?)&quot;",
     "&lt;div id=&quot;htmlContent&quot; class=&quot;contentbox&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"摘阅网",
     "http://www.zhaiyuedu.com/",
     "&lt;li&gt;&lt;a style=&quot;&quot; href=&quot;(.*?)&quot;&gt;(.*?)&lt;/a&gt;&lt;/li&gt;",
     "&lt;h1&gt;&lt;a href=&quot;/&quot; title=&quot;(.*?)&quot;&gt;",
     "&lt;span&gt;作者[:：]&lt;strong&gt;(.*?)&lt;/strong&gt;&lt;/span&gt;\r",
     "&lt;div class=&quot;cont&quot;&gt;",
     "&lt;script type",
     false},
    {"52中文网",
     "http://www.52zw.net/",
     "&lt;li style=.*?&gt;&lt;a.*?href=[&apos;&quot;](.*?)[&quot;&apos;].*?&gt;(.*?)&lt;/a&gt;.*?&lt;a.*?href=[&apos;&quot;](.*?)[&apos;&quot;].*?&gt;(.*?)&lt;/a&gt;\\s*?&lt;/li&gt;",
     "&lt;h1.*?&gt;(.*?)&lt;/h1&gt;\r",
     "author=(.*?)&quot;",
     "&lt;div class=&quot;novel_content&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"燃文小说",
     "http://www.ranwen.org/",
     "&lt;td&gt;&lt;div class=&quot;dccss&quot;&gt;&lt;a href=&quot;(.*?)&quot; alt=&quot;.*?&quot;&gt;(.*?)&lt;/a&gt;&lt;/div&gt;&lt;/td&gt;\r",
     "articlename=&apos;(.*?)&apos;",
     "author=&apos;(.*?)&apos;",
     "type=&quot;text/javascript&quot;&gt;&lt;/script&gt;&lt;/div&gt;",
     "&lt;/script&gt;&lt;/div&gt;",
     false},
    {"一本读全本小说网",
     "http://www.ybdu.com/",
     "&lt;li&gt;&lt;a href=&quot;(.*?)&quot;&gt;(.*?)&lt;/a&gt;&lt;/li&gt;",
     "&lt;meta property=&quot;og:novel:book_name&quot; content=&quot;(.*?)&quot;/&gt;",
     "&lt;meta property=&quot;og:novel:author&quot; content=&quot;(.*?)&quot;/&gt;",
     "&lt;div id=&quot;htmlContent&quot; class=&quot;contentbox&quot;&gt;",
     "&lt;div class=&quot;",
     false},
    {"爪机书屋",
     "http://www.zhuaji.org/",
     "&lt;a href=&quot;(.*?)&quot;.*?&gt;（(.*?)）&lt;/a&gt;",
     "&lt;h1&gt;《(.*?)》&lt;/h1&gt;\r",
     "作者[:：](.*?)&lt;br /&gt;\r",
     "&lt;div id=&quot;content&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"顶点小说",
     "http://www.dingdianxs.com/",
     "&lt;td class=&quot;L&quot;&gt;&lt;a href=&quot;(.*?)&quot;&gt;(.*?)&lt;/a&gt;&lt;/td&gt;",
     "&lt;h3&gt;(.*?)作者.*?&lt;/h3&gt;",
     "&lt;h3&gt;.*?作者[:：](.*?)&lt;/h3&gt;",
     "&lt;dd id=&quot;contents&quot;&gt;",
     "&lt;/dd&gt;",
     false},
    {"梅语小说网",
     "http://www.meiyuxs.com/",
     "&lt;li class=&quot;list-group-item.*?&gt;&lt;a href=&quot;(.*?)&quot;.*?&gt;(.*?)&lt;/a&gt;&lt;/li&gt;",
     "og:title&quot; content=&quot;(.*?)&quot;",
     "novel:author&quot; content=&quot;(.*?)&quot;",
     "&lt;div id=&quot;content&quot; class=&quot;panel-body&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"79小说网",
     "http://www.79xs.com/",
     "&lt;a href=&quot;(.*?)&quot; title=&quot;.*?&quot;&gt;(.*?)&lt;/a&gt;&lt;/strong &gt;&lt;/li&gt;",
     "&lt;h1&gt;《&lt;a href=&quot;.*?&quot; title=&quot;.*?&quot;&gt;(.*?)&lt;/a&gt;》&lt;span&gt;",
     "文 / &lt;a href=&quot;.*?&quot;&gt;(.*?)&lt;/a&gt;&lt;/span&gt;&lt;/h1&gt;",
     "&lt;div id=&quot;BookText&quot; class=&quot;contentbox&quot;&gt;&lt;br /&gt;",
     "&lt;br&gt;&lt;br&gt;&lt;br /&gt;&lt;br /&gt;&lt;/div&gt;",
     false},
    {"笔下文学",
     "http://www.bxwx.net/",
     "&lt;dd.*?&gt;&lt;a href=&quot;(.*?)&quot;&gt;(.*?)&lt;/a&gt;&lt;/dd&gt;",
     "&lt;div id=&quot;title&quot;&gt;(.*?) ",
     "作者[:：]&lt;.+?searchkey=(.*?)&quot;",
     "&lt;div id=&quot;adright&quot;&gt;&lt;/div&gt;",
     "&lt;/div&gt;",
     false},
    {"笔趣阁",
     "http://www.biquge.com/",
     "&lt;dd.*?&gt;&lt;a href=&quot;(.*?)&quot;&gt;(.*?)&lt;/a&gt;&lt;/dd&gt;",
     "og:novel:book_name&quot; content=&quot;(.*?)&quot;/&gt;\r",
     "og:novel:author&quot; content=&quot;(.*?)&quot;/&gt;\r",
     "&lt;div id=&quot;content&quot;&gt;",
     "&lt;/div&gt;",
     false},
    {"易读",
     "http://www.yiduks.com/",
     "&lt;a href=&apos;(.*?)&apos; &gt;(.*?)&lt;/A&gt;&lt;BR&gt;",
     "&lt;meta name=&quot;keywords&quot; content=&quot;(.*?)&quot;",
     "作者[:：]\\s*?(\\S+?)\\s",
     "&lt;div class=&quot;ART&quot;&gt;",
     "&lt;/div&gt;",
     false},
};
// clang-format on

std::vector<SiteRule> BuildDefaultRules() {
  std::vector<SiteRule> rules;
  for (const DefaultRow& row : kRows) {
    SiteRule r;
    r.ruleName = Utf8ToGbk(row.name);
    r.site = Utf8ToGbk(row.address);
    r.listPattern = Utf8ToGbk(row.chapterList);
    r.titlePattern = Utf8ToGbk(row.title);
    r.authorPattern = Utf8ToGbk(row.author);
    r.leftMarker = Utf8ToGbk(row.left);
    r.rightMarker = Utf8ToGbk(row.right);
    r.pageCapture = row.pageCapture ? TrueText() : FalseText();
    rules.push_back(std::move(r));
  }
  return rules;
}

Text BuildDefaultFile() {
  XmlDocument doc;
  XmlElement root;
  root.name = RuleRootName();
  for (const SiteRule& rule : DefaultRuleSet()) {
    XmlElement e;
    e.name = rule.ruleName;
    for (RuleField f : kRuleFields) e.attributes.push_back({RuleFieldName(f), rule.Field(f)});
    root.children.push_back(std::move(e));
  }
  doc.elements.push_back(std::move(root));
  return WriteXml(doc);
}

}  // namespace

const std::vector<SiteRule>& DefaultRuleSet() {
  static const std::vector<SiteRule> rules = BuildDefaultRules();
  return rules;
}

const Text& DefaultRuleFileBytes() {
  static const Text bytes = BuildDefaultFile();
  return bytes;
}

}  // namespace qv
