// Trying a download rule on a real site, step by step, without touching any window or file.
//
// CheckRule fetches the chapter-list page, runs the title, author and chapter-list patterns on
// it as the chapter-list fetch does, derives the base address, fetches the first chapter and
// cuts and cleans it as the download does before saving. It is a pure function of the rule and
// the address (safe on any thread); FormatRuleCheck turns its result into the text the rule
// window's result view shows.
#pragma once

#include <atomic>
#include <string_view>
#include <vector>

#include "rules/site_rule.h"
#include "text/gbk_text.h"

namespace qv {

struct RuleCheckChapter {
  Text title;
  Text link;
  Text address;  // base address + link
};

struct RuleCheckResult {
  // 1. The chapter-list page.
  Text address;
  int listStatus = 0;       // HTTP status of the final response; 0: no answer
  size_t listBytes = 0;     // body bytes as received
  bool gzip = false;
  bool utf8 = false;        // true: UTF-8 converted; false: taken as GBK
  long long listMs = 0;
  // 2. Title and author.
  Text title;
  Text author;
  long long bookMs = 0;
  // 3. The chapters.
  long long chapterCount = 0;
  std::vector<RuleCheckChapter> firstChapters;  // up to five
  std::vector<RuleCheckChapter> lastChapters;   // up to five, in list order
  Text baseAddress;
  long long listPatternMs = 0;
  // 4. The first chapter.
  bool chapterFetched = false;  // a chapter page was asked for
  int chapterStatus = 0;
  size_t chapterBytes = 0;
  int leftMarkerAt = -1;      // 0-based byte position of the left marker; -1: not found
  bool rightMarkerFound = false;
  size_t cutLength = 0;       // bytes between the markers
  Text savedText;             // exactly what the download would save for this chapter
  long long chapterMs = 0;
  // 5. One sentence per failing step, in step order: why, and what to look at.
  std::vector<Text> problems;

  bool Ok() const { return problems.empty(); }
};

// Runs the rule (fields in plain CP936 form) against the chapter-list page at `address`.
// `cancel`, when set to true, ends a transfer under way; the result is then incomplete.
RuleCheckResult CheckRule(const SiteRule& rule, std::string_view address,
                          const std::atomic<bool>* cancel = nullptr);

// The result as the text of the result view (CP936, lines ended by "\r\n").
Text FormatRuleCheck(const RuleCheckResult& result);

// The first `count` characters of a CP936 text (a double-byte character counts as one).
Text LeadingCharacters(std::string_view text, size_t count);

}  // namespace qv
