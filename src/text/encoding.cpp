#include "text/encoding.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace qv {
namespace {

constexpr const char* kUtf32 = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";
constexpr char32_t kReplacement = U'?';

// One iconv descriptor, closed on every path.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }
  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t cd_;
};

// Code page 936 as two tables built once through iconv: double-byte code to code point, and
// BMP code point to CP936 bytes. Lookups are then plain array reads on every thread.
struct Cp936Tables {
  std::vector<char16_t> toUnicode;  // index (lead << 8) | trail; 0 = not a character
  std::vector<uint16_t> fromUnicode;  // index code point; 0 = not representable

  Cp936Tables() : toUnicode(65536, 0), fromUnicode(65536, 0) {
    IconvHandle h(kUtf32, "CP936");
    if (!h.ok()) return;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char32_t cp = 0;
        char* src = in;
        size_t srcLeft = 2;
        char* dst = reinterpret_cast<char*>(&cp);
        size_t dstLeft = sizeof(cp);
        const size_t r = iconv(h.get(), &src, &srcLeft, &dst, &dstLeft);
        if (r == static_cast<size_t>(-1) || srcLeft != 0 || dstLeft != 0) {
          h.Reset();
          continue;
        }
        if (cp == 0 || cp > 0xFFFF) continue;
        const unsigned code = (lead << 8) | trail;
        toUnicode[code] = static_cast<char16_t>(cp);
        if (fromUnicode[cp] == 0) fromUnicode[cp] = static_cast<uint16_t>(code);
      }
    }
  }
};

const Cp936Tables& Tables() {
  static const Cp936Tables tables;
  return tables;
}

std::u32string DecodeGbk(std::string_view in) {
  const Cp936Tables& t = Tables();
  std::u32string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      out.push_back(c);
      ++i;
    } else if (c == 0x80) {  // the euro sign of code page 936
      out.push_back(U'\u20AC');
      ++i;
    } else if (IsLeadByte(c) && i + 1 < in.size()) {
      const char16_t u = t.toUnicode[(c << 8) | static_cast<unsigned char>(in[i + 1])];
      if (u != 0) {
        out.push_back(u);
        i += 2;
      } else {
        out.push_back(kReplacement);  // skip one byte; a following ASCII byte reads on its own
        ++i;
      }
    } else {
      out.push_back(kReplacement);
      ++i;
    }
  }
  return out;
}

Text EncodeGbk(std::u32string_view in) {
  const Cp936Tables& t = Tables();
  Text out;
  out.reserve(in.size() * 2);
  for (char32_t cp : in) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp == U'\u20AC') {
      out.push_back('\x80');
    } else if (cp <= 0xFFFF && t.fromUnicode[cp] != 0) {
      out.push_back(static_cast<char>(t.fromUnicode[cp] >> 8));
      out.push_back(static_cast<char>(t.fromUnicode[cp] & 0xFF));
    } else {
      out.push_back('?');
    }
  }
  return out;
}

std::u32string DecodeUtf8(std::string_view in) {
  std::u32string out;
  out.reserve(in.size());
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  size_t i = 0;
  auto cont = [&](size_t k) { return k < n && (s[k] & 0xC0) == 0x80; };
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
    } else if (c >= 0xC2 && c <= 0xDF && cont(i + 1)) {
      out.push_back(static_cast<char32_t>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F)));
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF && cont(i + 1) && cont(i + 2)) {
      const char32_t cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) {
        out.push_back(kReplacement);
      } else {
        out.push_back(cp);
      }
      i += 3;
    } else if (c >= 0xF0 && c <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      const char32_t cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) |
                          ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
      out.push_back(cp < 0x10000 || cp > 0x10FFFF ? kReplacement : cp);
      i += 4;
    } else {
      // A cut-off sequence counts as one bad character: its lead and the continuation
      // bytes that did follow.
      size_t want = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : 1;
      size_t k = 1;
      while (k < want && cont(i + k)) ++k;
      out.push_back(kReplacement);
      i += k;
    }
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view in) {
  std::string out;
  out.reserve(in.size() * 3);
  for (char32_t cp : in) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u32string DecodeUtf16(std::u16string_view in) {
  std::u32string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const char16_t u = in[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (in[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out.push_back(kReplacement);
    } else {
      out.push_back(u);
    }
  }
  return out;
}

std::u16string EncodeUtf16(std::u32string_view in) {
  std::u16string out;
  out.reserve(in.size());
  for (char32_t cp : in) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) { return EncodeUtf16(DecodeGbk(gbk)); }
Text Utf16ToGbk(std::u16string_view utf16) { return EncodeGbk(DecodeUtf16(utf16)); }
std::string GbkToUtf8(std::string_view gbk) { return EncodeUtf8(DecodeGbk(gbk)); }
Text Utf8ToGbk(std::string_view utf8) { return EncodeGbk(DecodeUtf8(utf8)); }
std::u16string Utf8ToUtf16(std::string_view utf8) { return EncodeUtf16(DecodeUtf8(utf8)); }
std::string Utf16ToUtf8(std::u16string_view utf16) { return EncodeUtf8(DecodeUtf16(utf16)); }

std::filesystem::path FsPath(std::string_view gbkPath) {
  return std::filesystem::path(GbkToUtf8(gbkPath));
}

}  // namespace qv
