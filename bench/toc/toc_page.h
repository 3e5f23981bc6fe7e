// The chapter-list page of the benchmarks: a book of n chapters in the markup of the 零点看书
// rule, about 100 bytes per chapter, in CP936.
#pragma once

#include <string>

#include "text/encoding.h"
#include "text/gbk_text.h"

namespace qv::bench {

inline Text ListPattern() { return "<dd><a href=\"(.*?)\">(.*?)</a></dd>"; }
inline Text TitlePattern() { return "<h1>(.*?)</h1>"; }
inline Text AuthorPattern() { return Utf8ToGbk("<p>作\\S*?者[：:](.*?)</p>"); }

inline Text ChapterListPage(int n) {
  Text page = Utf8ToGbk(
      "<html>\r\n<head><meta charset=\"gbk\"><title>目录</title></head>\r\n<body>\r\n"
      "<h1>斗破苍穹</h1>\r\n<p>作者：天蚕土豆</p>\r\n<dl>\r\n");
  const Text chapter = Utf8ToGbk("章 少年风起云涌之时");
  const Text nth = Utf8ToGbk("第");
  for (int i = 1; i <= n; ++i) {
    const std::string k = std::to_string(i);
    page += "<dd><a href=\"" + k + ".html\">" + nth + k + chapter + "</a></dd>";
    page += "<div class=\"ad\"><span>x</span></div>\r\n";
  }
  page += "</dl>\r\n</body>\r\n</html>\r\n";
  return page;
}

}  // namespace qv::bench
