// One download rule and the encoding its names and values have in the rule file.
#pragma once

#include <array>
#include <string_view>

#include "text/gbk_text.h"

namespace qv {

// The seven fields of a rule, in the order they stand in the rule file.
enum class RuleField {
  kSite,
  kListPattern,
  kTitlePattern,
  kAuthorPattern,
  kLeftMarker,
  kRightMarker,
  kPageCapture,
};

inline constexpr std::array<RuleField, 7> kRuleFields = {
    RuleField::kSite,          RuleField::kListPattern, RuleField::kTitlePattern,
    RuleField::kAuthorPattern, RuleField::kLeftMarker,  RuleField::kRightMarker,
    RuleField::kPageCapture,
};

// The attribute name of a field in the rule file (CP936).
const Text& RuleFieldName(RuleField field);

// One download rule: its name (the element's name) and its seven fields, all CP936 text.
// 页面抓取 holds "真" (page capture) or anything else, normally "假" (HTTP).
struct SiteRule {
  Text ruleName{};
  Text site{};
  Text listPattern{};
  Text titlePattern{};
  Text authorPattern{};
  Text leftMarker{};
  Text rightMarker{};
  Text pageCapture{};

  Text& Field(RuleField field);
  const Text& Field(RuleField field) const;
};

// "真" and "假" in CP936.
const Text& TrueText();
const Text& FalseText();

// Stored form of a name or value: & < > ' " become their entities; double-byte characters are
// copied as pairs (a lead byte before one of those five characters stands alone, as in
// TextDecode); every other byte (CR, LF and TAB included) is copied unchanged.
Text TextEncode(std::string_view text);

// Plain form of a stored name or value, in one left-to-right pass: &lt; &gt; &amp; &apos; &quot;
// and &quote; become their characters; any other run from "&" to the next ";" (and an "&" with
// no ";" after it) is copied unchanged.
Text TextDecode(std::string_view stored);

}  // namespace qv
