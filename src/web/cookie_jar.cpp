#include "web/cookie_jar.h"

namespace qv::CookieJar {

Text Merge(Text& cookies, Text& newCookies) {
  cookies = RemoveSpaces(cookies);
  newCookies = RemoveSpaces(newCookies);
  const std::vector<Text> oldList = SplitText(cookies, ";");
  std::vector<Text> list = SplitText(newCookies, ";");
  for (const Text& entry : oldList) {
    if (!ContainsName(list, NameOf(entry))) list.push_back(entry);
  }
  Text merged;
  for (const Text& entry : list) {
    if (entry.ends_with("=deleted")) continue;
    merged += entry;
    merged += "; ";
  }
  if (!merged.empty()) merged.resize(merged.size() - 2);
  cookies = RemoveDuplicates(merged, "; ");
  return cookies;
}

Text NameOf(std::string_view entry) {
  const size_t eq = entry.find('=');  // '=' is never the trail byte of a CP936 character
  return TrimSpaces(eq == std::string_view::npos ? entry : entry.substr(0, eq));
}

bool ContainsName(const std::vector<Text>& list, std::string_view name) {
  for (const Text& entry : list) {
    if (NameOf(entry) == name) return true;
  }
  return false;
}

Text RemoveDuplicates(std::string_view text, std::string_view sep) {
  std::vector<Text> seen;
  Text out;
  for (Text& piece : SplitText(text, sep)) {
    if (IndexOf(seen, piece) > 0) continue;
    out += piece;
    out += sep;
    seen.push_back(std::move(piece));
  }
  if (out.size() >= sep.size()) out.resize(out.size() - sep.size());
  return out;
}

int IndexOf(const std::vector<Text>& list, std::string_view text) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == text) return static_cast<int>(i + 1);
  }
  return -1;
}

}  // namespace qv::CookieJar
