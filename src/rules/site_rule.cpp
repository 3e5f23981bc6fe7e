#include "rules/site_rule.h"

#include "text/encoding.h"

namespace qv {

const Text& RuleFieldName(RuleField field) {
  static const std::array<Text, 7> names = {
      Utf8ToGbk("网址"),           Utf8ToGbk("章节列表正则表达式"), Utf8ToGbk("小说名正则表达式"),
      Utf8ToGbk("作者正则表达式"), Utf8ToGbk("章节内容左侧"),       Utf8ToGbk("章节内容右侧"),
      Utf8ToGbk("页面抓取"),
  };
  return names[static_cast<size_t>(field)];
}

Text& SiteRule::Field(RuleField field) {
  switch (field) {
    case RuleField::kSite:
      return site;
    case RuleField::kListPattern:
      return listPattern;
    case RuleField::kTitlePattern:
      return titlePattern;
    case RuleField::kAuthorPattern:
      return authorPattern;
    case RuleField::kLeftMarker:
      return leftMarker;
    case RuleField::kRightMarker:
      return rightMarker;
    case RuleField::kPageCapture:
      break;
  }
  return pageCapture;
}

const Text& SiteRule::Field(RuleField field) const {
  return const_cast<SiteRule*>(this)->Field(field);
}

const Text& TrueText() {
  static const Text t = Utf8ToGbk("真");
  return t;
}

const Text& FalseText() {
  static const Text t = Utf8ToGbk("假");
  return t;
}

namespace {

bool IsMarkupChar(char c) { return c == '&' || c == '<' || c == '>' || c == '\'' || c == '"'; }

// CharLenAt, except that a lead byte before a markup character stands alone: no trail byte is
// below 0x40, and taking the pair would leave that character unescaped in the file.
size_t StoredCharLenAt(std::string_view s, size_t i) {
  const size_t len = CharLenAt(s, i);
  return len == 2 && IsMarkupChar(s[i + 1]) ? 1 : len;
}

}  // namespace

Text TextEncode(std::string_view text) {
  Text out;
  out.reserve(text.size() + text.size() / 4);
  for (size_t i = 0; i < text.size();) {
    const size_t len = StoredCharLenAt(text, i);
    if (len == 2) {
      out.append(text.substr(i, 2));
    } else {
      switch (text[i]) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '\'':
          out += "&apos;";
          break;
        case '"':
          out += "&quot;";
          break;
        default:
          out += text[i];
      }
    }
    i += len;
  }
  return out;
}

namespace {

// The character an entity stands for, or 0 when the run is not one of the decoded entities.
char EntityChar(std::string_view run) {
  if (run == "&lt;") return '<';
  if (run == "&gt;") return '>';
  if (run == "&amp;") return '&';
  if (run == "&apos;") return '\'';
  if (run == "&quot;" || run == "&quote;") return '"';
  return 0;
}

}  // namespace

Text TextDecode(std::string_view stored) {
  Text out;
  out.reserve(stored.size());
  for (size_t i = 0; i < stored.size();) {
    if (stored[i] != '&') {
      const size_t len = StoredCharLenAt(stored, i);
      out.append(stored.substr(i, len));
      i += len;
      continue;
    }
    const size_t semi = stored.find(';', i);
    if (semi == std::string_view::npos) {
      out.append(stored.substr(i));
      break;
    }
    const std::string_view run = stored.substr(i, semi + 1 - i);
    if (const char c = EntityChar(run)) {
      out += c;
    } else {
      out.append(run);
    }
    i = semi + 1;
  }
  return out;
}

}  // namespace qv
