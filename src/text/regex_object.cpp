#define PCRE2_CODE_UNIT_WIDTH 8
#include "text/regex_object.h"

#include <pcre2.h>

#include <chrono>
#include <memory>

#include "text/encoding.h"

namespace qv {
namespace {

struct CodeFree {
  void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct MatchContextFree {
  void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
struct CompileContextFree {
  void operator()(pcre2_compile_context* p) const { pcre2_compile_context_free(p); }
};
struct JitStackFree {
  void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); }
};

using CodePtr = std::unique_ptr<pcre2_code, CodeFree>;
using MatchDataPtr = std::unique_ptr<pcre2_match_data, MatchDataFree>;
using MatchContextPtr = std::unique_ptr<pcre2_match_context, MatchContextFree>;
using CompileContextPtr = std::unique_ptr<pcre2_compile_context, CompileContextFree>;
using JitStackPtr = std::unique_ptr<pcre2_jit_stack, JitStackFree>;

// The script dialect: case-insensitive, "^" and "$" at line breaks, "\u" escapes as four hex
// digits. No UCP, so \d \s \w keep their ASCII meaning. A back-reference to a group that took no
// part in the match matches the empty string.
// PCRE2_USE_OFFSET_LIMIT lets a run be split into spans of starting positions (see Create).
constexpr uint32_t kCompileOptions = PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE |
                                     PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF |
                                     PCRE2_USE_OFFSET_LIMIT;

constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 8 * 1024 * 1024;

bool IsLimitError(int rc) {
  return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
         rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT ||
         rc == PCRE2_ERROR_NOMEMORY;
}

// With a time budget, one matcher call searches a span of starting positions (UTF-8 bytes)
// and the clock is read between calls, never inside the matcher. The span starts at one
// position and adapts to the cost of the calls: it doubles after a call quicker than
// kQuickCall and halves after one slower than kSlowCall, up to kMaxSpan positions.
constexpr size_t kMaxSpan = 64 * 1024;
constexpr auto kQuickCall = std::chrono::milliseconds(2);
constexpr auto kSlowCall = std::chrono::milliseconds(8);

CodePtr Compile(const std::string& pattern8, pcre2_compile_context* context) {
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  return CodePtr(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern8.data()), pattern8.size(),
                               kCompileOptions, &errorCode, &errorOffset, context));
}

}  // namespace

PatternCheck CheckPattern(std::string_view pattern) {
  PatternCheck out;
  const std::string pattern8 = GbkToUtf8(pattern);
  CompileContextPtr compileContext(pcre2_compile_context_create(nullptr));
  if (!compileContext) return out;
  pcre2_set_newline(compileContext.get(), PCRE2_NEWLINE_LF);
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  CodePtr code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern8.data()), pattern8.size(),
                             kCompileOptions, &errorCode, &errorOffset, compileContext.get()));
  if (code) return out;
  out.ok = false;
  PCRE2_UCHAR buffer[256] = {};
  if (pcre2_get_error_message(errorCode, buffer, sizeof buffer) < 0) buffer[0] = 0;
  out.message = Utf8ToGbk(reinterpret_cast<const char*>(buffer));
  // The offset counts UTF-8 bytes; the user counts characters.
  int chars = 0;
  for (size_t i = 0; i < errorOffset && i < pattern8.size(); ++i) {
    if ((static_cast<unsigned char>(pattern8[i]) & 0xC0) != 0x80) ++chars;
  }
  out.position = chars + 1;
  return out;
}

void RegexObject::Clear() {
  subject_.clear();
  offsets_.clear();
  groups_ = 0;
  matches_ = 0;
  limitReached_ = false;
  usedJit_ = false;
}

bool RegexObject::Run(std::string_view pattern, std::string_view subject) {
  Clear();

  const std::string pattern8 = GbkToUtf8(pattern);
  CompileContextPtr compileContext(pcre2_compile_context_create(nullptr));
  if (!compileContext) return false;
  // LF alone ends a line: "." does not take a line feed but does take a carriage return.
  pcre2_set_newline(compileContext.get(), PCRE2_NEWLINE_LF);

  CodePtr code = Compile(pattern8, compileContext.get());
  if (!code) return false;
  const bool timed = limits_.runBudgetMs > 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limits_.runBudgetMs);

  uint32_t captureCount = 0;
  pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &captureCount);
  const size_t pairs = static_cast<size_t>(captureCount) + 1;

  MatchDataPtr matchData(pcre2_match_data_create_from_pattern(code.get(), nullptr));
  MatchContextPtr matchContext(pcre2_match_context_create(nullptr));
  if (!matchData || !matchContext) return false;
  pcre2_set_match_limit(matchContext.get(), limits_.matchLimit);
  pcre2_set_depth_limit(matchContext.get(), limits_.depthLimit);
  pcre2_set_heap_limit(matchContext.get(), limits_.heapLimitKiB);

  // Machine code when the library offers it; the interpreter otherwise.
  JitStackPtr jitStack;
  if (limits_.jit && pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE) == 0) {
    jitStack.reset(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
    if (jitStack) {
      pcre2_jit_stack_assign(matchContext.get(), nullptr, jitStack.get());
      usedJit_ = true;
    }
  }

  subject_ = GbkToUtf8(subject);
  const auto* s = reinterpret_cast<PCRE2_SPTR>(subject_.data());
  const size_t n = subject_.size();
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(matchData.get());

  // One search step from `pos` for a match that starts no later than `lastStart`; a step the
  // machine code cannot finish for lack of stack is tried again by the interpreter, which has
  // its own limits.
  bool utfChecked = false;
  auto step = [&](size_t pos, size_t lastStart, uint32_t options) {
    if (utfChecked) options |= PCRE2_NO_UTF_CHECK;
    pcre2_set_offset_limit(matchContext.get(), lastStart);
    int rc = pcre2_match(code.get(), s, n, pos, options, matchData.get(), matchContext.get());
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
      rc = pcre2_match(code.get(), s, n, pos, options | PCRE2_NO_JIT, matchData.get(),
                       matchContext.get());
    }
    if (rc >= 0 || rc == PCRE2_ERROR_NOMATCH) utfChecked = true;
    return rc;
  };

  // Every match in order. After an empty match the next step first asks for a non-empty match
  // at the same place; failing that, the search moves on by one character. With a time budget
  // each step searches only a span of starting positions, and the clock is read between steps:
  // the matches are those of one unbounded search, as far as the budget reaches.
  size_t pos = 0;
  bool afterEmpty = false;
  size_t span = timed ? 1 : n;
  while (pos <= n) {
    const auto stepStart = std::chrono::steady_clock::now();
    if (timed && stepStart >= deadline) {
      limitReached_ = true;
      break;
    }
    const uint32_t options = afterEmpty ? (PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED) : 0;
    const size_t lastStart = afterEmpty || span >= n - pos ? n : pos + span;
    const int rc = step(pos, lastStart, options);
    if (timed) {
      const auto took = std::chrono::steady_clock::now() - stepStart;
      if (took < kQuickCall && span < kMaxSpan) span *= 2;
      if (took > kSlowCall && span > 1) span /= 2;
    }
    if (rc == PCRE2_ERROR_NOMATCH) {
      if (afterEmpty) {
        afterEmpty = false;
        ++pos;
      } else if (lastStart >= n) {
        break;
      } else {
        pos = lastStart + 1;  // no match starts at or before lastStart
      }
      while (pos < n && (s[pos] & 0xC0) == 0x80) ++pos;
      continue;
    }
    if (rc < 0) {
      limitReached_ = IsLimitError(rc);
      break;
    }
    for (size_t k = 0; k < 2 * pairs; ++k) offsets_.push_back(ov[k]);
    ++matches_;
    const size_t start = ov[0];
    const size_t end = ov[1] < start ? start : ov[1];
    afterEmpty = end == start;
    if (afterEmpty && end >= n) break;
    pos = end;
  }
  if (matches_ > 0) groups_ = static_cast<int>(captureCount);
  return true;
}

int RegexObject::GetMatchCount() const { return matches_; }

int RegexObject::GetGroupCount() const { return groups_; }

Text RegexObject::GetSubmatch(int match, int group) const {
  if (match < 1 || match > matches_ || group < 1 || group > groups_) return {};
  const size_t base = (static_cast<size_t>(match) - 1) * (static_cast<size_t>(groups_) + 1) * 2;
  const size_t start = offsets_[base + 2 * static_cast<size_t>(group)];
  const size_t end = offsets_[base + 2 * static_cast<size_t>(group) + 1];
  if (start == PCRE2_UNSET || end == PCRE2_UNSET || end <= start || end > subject_.size()) {
    return {};
  }
  return Utf8ToGbk(std::string_view(subject_).substr(start, end - start));
}

}  // namespace qv
