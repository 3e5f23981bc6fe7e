// Byte text in code page 936 (GBK): the one text model of the program.
//
// Text is a std::string of CP936 bytes. Positions are 1-based byte positions and -1 means
// "not found". Every search walks the text character by character, so an occurrence only
// starts on a character boundary, never on the trail byte of a double-byte character.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv {

using Text = std::string;

// True for a byte that starts a double-byte character in CP936.
inline bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Length in bytes of the character that starts at byte offset i (0-based): 2 for a lead byte
// followed by another byte, else 1.
inline size_t CharLenAt(std::string_view s, size_t i) {
  return (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

// The full-width space of CP936.
inline constexpr std::string_view kWideSpace = "\xA1\xA1";

// ASCII letters lowered; double-byte characters copied unchanged.
Text AsciiLower(std::string_view s);

// First occurrence of `piece` at or after 1-based `start` (values below 1 mean 1); -1 if none.
// An empty piece is found at `start` whenever the text is not empty. With ignoreCase, ASCII
// letters compare without regard to case.
int FindText(std::string_view text, std::string_view piece, int start = 1,
             bool ignoreCase = false);

// Replace every occurrence from left to right, non-overlapping; inserted text is not searched
// again. An empty `from` leaves the text unchanged.
Text ReplaceText(std::string_view text, std::string_view from, std::string_view to,
                 bool ignoreCase = false);
inline Text RemoveText(std::string_view text, std::string_view piece, bool ignoreCase = false) {
  return ReplaceText(text, piece, {}, ignoreCase);
}

// Number of non-overlapping occurrences (case as asked); 0 when either text is empty.
int CountText(std::string_view text, std::string_view piece, bool ignoreCase = false);

// Pieces between separators, empty pieces between adjacent separators included; no piece for
// an empty text and no empty last piece after a final separator.
std::vector<Text> SplitText(std::string_view text, std::string_view sep);

// The two kinds of space: ASCII 0x20 and the full-width A1 A1. Tabs and line ends are not spaces.
Text TrimSpaces(std::string_view s);
Text RemoveSpaces(std::string_view s);

// Integer as an edit box reads it: full-width digits and signs count as half-width, then
// leading spaces (ASCII and full-width), an optional sign and the leading digits; no leading number reads as 0.
int ReadBoxInteger(std::string_view s);
// The same without the full-width forms (the input box of the move tool).
int ReadPlainInteger(std::string_view s);

// Decimal text of a number.
inline Text Decimal(long long n) { return std::to_string(n); }

}  // namespace qv
