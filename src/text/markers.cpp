#include "text/markers.h"

#include <array>
#include <utility>

namespace qv {
namespace {

// "#引号" in CP936.
constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

}  // namespace

bool FindBetween(std::string_view text, std::string_view left, std::string_view right, Text& out,
                 int start, bool ignoreCase) {
  out.clear();
  const Text l = ReplaceText(left, kQuotePlaceholder, "\"");
  const Text r = ReplaceText(right, kQuotePlaceholder, "\"");
  if (text.empty() || r.empty()) return false;
  const int a = FindText(text, l, start, ignoreCase);
  if (a < 0) return false;
  const int b = a + static_cast<int>(l.size());
  if (static_cast<size_t>(b) > text.size()) return false;
  const int c = FindText(text, r, b, ignoreCase);
  if (c < 0) return false;
  out = Text(text.substr(static_cast<size_t>(b - 1), static_cast<size_t>(c - b)));
  return true;
}

Text ExtractBetween(std::string_view text, std::string_view left, std::string_view right,
                    int start, bool ignoreCase) {
  Text out;
  FindBetween(text, left, right, out, start, ignoreCase);
  return out;
}

Text CleanChapterText(std::string_view text) {
  static const std::array<std::pair<std::string_view, std::string_view>, 16> kSteps = {{
      {"&lsquo;", "\xA1\xAE"},
      {"&rsquo;", "\xA1\xAF"},
      {"&mdash;", "\xA1\xAA"},
      {"&hellip;", "\xA1\xAD"},
      {"&ldquo;", "\xA1\xB0"},
      {"&rdquo;", "\xA1\xB1"},
      {"&nbsp;", " "},
      {"<p>", "  "},
      {"</p>", "\r\n"},
      {"<br />", "\r\n"},
      {"<br/>", "\r\n"},
      {"????", "    "},
      {"</br>", "\r\n"},
      {"&quot;", "\""},
      {"\r\n\r\n\r\n", "\r\n"},
      {"\r\n\r\n", "\r\n"},
  }};
  Text t(text);
  for (const auto& [from, to] : kSteps) t = ReplaceText(t, from, to);
  return t;
}

}  // namespace qv
