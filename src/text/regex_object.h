// One regular expression run over one text, with its matches and capture groups read by number.
//
// Patterns are written in the script dialect of the download rules: lazy quantifiers, bracket
// classes, ASCII-only \d \s \w, back-references. Matching is case-insensitive and multi-line,
// "." stops at a line feed but crosses a carriage return, and every match is found, in order.
// Pattern and subject are CP936 text; matching works on characters, not bytes, so "." takes one
// Chinese character and "[：:]" matches either colon. Group texts come back in CP936.
//
// A run that backtracks without end on a hostile page is cut off by match and depth limits and
// a time budget; the matches found before that point stay readable. An invalid pattern gives
// no matches.
//
// The compiled pattern, its match data and JIT stack live only for the run inside Run; the
// object keeps the subject and the match offsets. An object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/gbk_text.h"

namespace qv {

// Why a pattern does not compile: the matcher's message (CP936) and the 1-based character
// position where it stopped. `ok` is true for a pattern that compiles.
struct PatternCheck {
  bool ok = true;
  Text message;
  int position = 0;
};

// Compiles `pattern` (CP936) with the options Run uses and says whether it compiles.
PatternCheck CheckPattern(std::string_view pattern);

class RegexObject {
 public:
  // Work limits. The matcher's own limits hold for each starting position it tries:
  // backtracking steps, nesting depth of backtracking, interpreter heap in KiB. The time budget
  // bounds the whole run, over every starting position (0 = none).
  struct Limits {
    uint32_t matchLimit = 10'000'000;
    uint32_t depthLimit = 1'000'000;
    uint32_t heapLimitKiB = 256 * 1024;
    uint32_t runBudgetMs = 5000;
    // Compile to machine code when the library can (the interpreter otherwise).
    bool jit = true;
  };

  RegexObject() = default;
  explicit RegexObject(Limits limits) : limits_(limits) {}
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;

  // Runs `pattern` over `subject` (both CP936) and keeps every match. False when the pattern
  // does not compile (then there are no matches); true otherwise, also with no match.
  bool Run(std::string_view pattern, std::string_view subject);
  // Number of matches of the last run.
  int GetMatchCount() const;
  // Text of group `group` of match `match`, both 1-based; empty when either is out of range or
  // the group took no part in the match.
  Text GetSubmatch(int match, int group) const;
  // Number of capture groups (of the first match); 0 when there is no match.
  int GetGroupCount() const;

  // Whether the last run was cut off by a work limit (the matches before it are kept).
  bool LimitReached() const { return limitReached_; }
  // Whether the last run's pattern was compiled to machine code.
  bool UsedJit() const { return usedJit_; }

 private:
  void Clear();

  Limits limits_;
  std::string subject_;               // UTF-8 form of the last subject
  std::vector<std::size_t> offsets_;  // per match: (groups + 1) start/end pairs into subject_
  int groups_ = 0;
  int matches_ = 0;
  bool limitReached_ = false;
  bool usedJit_ = false;
};

}  // namespace qv
