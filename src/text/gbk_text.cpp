#include "text/gbk_text.h"

#include <climits>
#include <cstring>

namespace qv {

Text AsciiLower(std::string_view s) {
  Text out(s);
  for (size_t i = 0; i < out.size();) {
    const size_t n = CharLenAt(out, i);
    if (n == 1 && out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
    i += n;
  }
  return out;
}

namespace {

// Finds occurrences of a piece on character boundaries, scanning forward only. The boundary
// cursor advances character by character while std::string_view::find jumps between
// candidates, so a whole pass over the text costs O(n) plus the candidate checks.
class BoundaryFinder {
 public:
  BoundaryFinder(std::string_view hay, std::string_view needle) : hay_(hay), needle_(needle) {}

  // Next occurrence starting at byte offset >= from (from must be a boundary); npos if none.
  size_t Next(size_t from) {
    if (cursor_ < from) cursor_ = from;  // caller guarantees `from` is a boundary
    size_t p = from;
    while (true) {
      p = hay_.find(needle_, p);
      if (p == std::string_view::npos) return p;
      while (cursor_ < p) cursor_ += CharLenAt(hay_, cursor_);
      if (cursor_ == p) return p;
      p = cursor_;  // p was a trail byte: go on from the next boundary
    }
  }

  // Moves the boundary cursor to the first boundary at or after byte offset `to`.
  size_t SyncTo(size_t to) {
    while (cursor_ < to) cursor_ += CharLenAt(hay_, cursor_);
    return cursor_;
  }

 private:
  std::string_view hay_;
  std::string_view needle_;
  size_t cursor_ = 0;
};

}  // namespace

int FindText(std::string_view text, std::string_view piece, int start, bool ignoreCase) {
  if (start < 1) start = 1;
  if (text.empty() || static_cast<size_t>(start) > text.size()) return -1;
  if (piece.empty()) return start;
  Text lowText, lowPiece;
  if (ignoreCase) {
    lowText = AsciiLower(text);
    lowPiece = AsciiLower(piece);
    text = lowText;
    piece = lowPiece;
  }
  BoundaryFinder finder(text, piece);
  const size_t from = finder.SyncTo(static_cast<size_t>(start - 1));
  const size_t p = finder.Next(from);
  return p == std::string_view::npos ? -1 : static_cast<int>(p + 1);
}

Text ReplaceText(std::string_view text, std::string_view from, std::string_view to,
                 bool ignoreCase) {
  if (from.empty() || text.empty()) return Text(text);
  Text lowText, lowFrom;
  std::string_view hay = text, needle = from;
  if (ignoreCase) {
    lowText = AsciiLower(text);
    lowFrom = AsciiLower(from);
    hay = lowText;
    needle = lowFrom;
  }
  BoundaryFinder finder(hay, needle);
  Text out;
  out.reserve(text.size());
  size_t pos = 0;
  while (true) {
    const size_t p = finder.Next(pos);
    if (p == std::string_view::npos) break;
    out.append(text.substr(pos, p - pos));
    out.append(to);
    pos = p + needle.size();
    // The end of a match of whole characters is a boundary again.
  }
  out.append(text.substr(pos));
  return out;
}

int CountText(std::string_view text, std::string_view piece, bool ignoreCase) {
  if (text.empty() || piece.empty()) return 0;
  Text lowText, lowPiece;
  if (ignoreCase) {
    lowText = AsciiLower(text);
    lowPiece = AsciiLower(piece);
    text = lowText;
    piece = lowPiece;
  }
  BoundaryFinder finder(text, piece);
  int n = 0;
  size_t pos = 0;
  while (true) {
    const size_t p = finder.Next(pos);
    if (p == std::string_view::npos) break;
    ++n;
    pos = p + piece.size();
  }
  return n;
}

std::vector<Text> SplitText(std::string_view text, std::string_view sep) {
  std::vector<Text> parts;
  if (text.empty()) return parts;
  if (sep.empty()) {
    parts.emplace_back(text);
    return parts;
  }
  BoundaryFinder finder(text, sep);
  size_t pos = 0;
  while (true) {
    const size_t p = finder.Next(pos);
    if (p == std::string_view::npos) break;
    parts.emplace_back(text.substr(pos, p - pos));
    pos = p + sep.size();
  }
  if (pos < text.size()) parts.emplace_back(text.substr(pos));
  return parts;
}

namespace {

// Byte length of the space character at offset i, or 0 if no space starts there.
size_t SpaceAt(std::string_view s, size_t i) {
  if (s[i] == ' ') return 1;
  if (CharLenAt(s, i) == 2 && s.substr(i, 2) == kWideSpace) return 2;
  return 0;
}

}  // namespace

Text TrimSpaces(std::string_view s) {
  size_t begin = 0;
  while (begin < s.size()) {
    const size_t n = SpaceAt(s, begin);
    if (n == 0) break;
    begin += n;
  }
  // End: the end of the last character that is not a space.
  size_t end = begin;
  for (size_t i = begin; i < s.size();) {
    const size_t n = CharLenAt(s, i);
    if (SpaceAt(s, i) == 0) end = i + n;
    i += n;
  }
  return Text(s.substr(begin, end - begin));
}

Text RemoveSpaces(std::string_view s) {
  Text out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const size_t n = CharLenAt(s, i);
    if (SpaceAt(s, i) == 0) out.append(s.substr(i, n));
    i += n;
  }
  return out;
}

namespace {

int ReadInteger(std::string_view s, bool fullWidth) {
  Text t;
  if (fullWidth) {
    // Full-width digits A3 B0..A3 B9 and signs A3 AB (+), A3 AD (-) become half-width.
    for (size_t i = 0; i < s.size();) {
      const size_t n = CharLenAt(s, i);
      if (n == 2 && static_cast<unsigned char>(s[i]) == 0xA3) {
        const unsigned char c = static_cast<unsigned char>(s[i + 1]);
        if (c >= 0xB0 && c <= 0xB9) {
          t.push_back(static_cast<char>('0' + (c - 0xB0)));
        } else if (c == 0xAB) {
          t.push_back('+');
        } else if (c == 0xAD) {
          t.push_back('-');
        } else {
          t.append(s.substr(i, n));
        }
      } else {
        t.append(s.substr(i, n));
      }
      i += n;
    }
    s = t;
  }
  size_t i = 0;
  for (;;) {
    if (i < s.size() && s[i] == ' ') {
      ++i;
    } else if (s.compare(i, kWideSpace.size(), kWideSpace) == 0) {
      i += kWideSpace.size();
    } else {
      break;
    }
  }
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  long long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return static_cast<int>(v);
}

}  // namespace

int ReadBoxInteger(std::string_view s) { return ReadInteger(s, true); }
int ReadPlainInteger(std::string_view s) { return ReadInteger(s, false); }

}  // namespace qv
