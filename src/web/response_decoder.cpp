#include "web/response_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>

#include "text/encoding.h"
#include "web/body_limit.h"

namespace qv::ResponseDecoder {
namespace {

constexpr size_t kWindow = 8192;
// Deflate cannot expand data by more than about 1032 to 1, so a size claim beyond that is a lie.
constexpr size_t kMaxRatio = 1032;

// One zlib inflate stream reading gzip framing, ended on every path.
class GzipInflater {
 public:
  GzipInflater() { ok_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK; }
  ~GzipInflater() {
    if (ok_) inflateEnd(&z_);
  }
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;
  bool ok() const { return ok_; }
  z_stream& stream() { return z_; }

 private:
  z_stream z_{};
  bool ok_ = false;
};

std::string_view UpToZero(std::string_view s) { return s.substr(0, s.find('\0')); }

std::u16string_view UpToZero(std::u16string_view s) { return s.substr(0, s.find(u'\0')); }

bool IsGbk(int codePage) { return codePage == kCodePageGbk || codePage == kCodePageAnsi; }

}  // namespace

Text DecodeBody(std::string& body, std::string_view responseHeaders) {
  if (FindText(responseHeaders, "Content-Encoding: gzip", 1, true) > 0) body = Gunzip(body);
  return Text(UpToZero(body));
}

std::string Gunzip(std::string_view compressed) {
  std::string out;
  GzipInflater inflater;
  if (!inflater.ok()) return out;
  const size_t limit = BodyLimit();

  // The gzip trailer holds the unpacked size (modulo 4 GiB): reserving it up front keeps the
  // output from being copied while it grows. Claims beyond what deflate can produce are capped.
  if (compressed.size() >= 18) {
    const auto* t = reinterpret_cast<const unsigned char*>(compressed.data() + compressed.size() - 4);
    const size_t claimed = t[0] | (t[1] << 8) | (t[2] << 16) | (size_t{t[3]} << 24);
    out.reserve(std::min({claimed, limit, compressed.size() * kMaxRatio}));
  }

  z_stream& z = inflater.stream();
  unsigned char window[kWindow];
  size_t fed = 0;
  while (out.size() < limit) {
    if (z.avail_in == 0 && fed < compressed.size()) {
      const size_t n = std::min<size_t>(compressed.size() - fed, size_t{1} << 30);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data() + fed));
      z.avail_in = static_cast<uInt>(n);
      fed += n;
    }
    z.next_out = window;
    z.avail_out = kWindow;
    const int r = inflate(&z, Z_NO_FLUSH);
    const size_t produced = std::min(kWindow - z.avail_out, limit - out.size());
    out.append(reinterpret_cast<const char*>(window), produced);
    // Z_BUF_ERROR: no progress possible (the input ended early); other codes: corrupt data.
    if (r != Z_OK) break;
  }
  return out;
}

bool LooksLikeUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  auto cont = [&](size_t k) { return (s[k] & 0xC0) == 0x80; };
  size_t ascii = 0;
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      ++ascii;
      ++i;
    } else if (i + 1 < n && (b & 0xE0) == 0xC0 && cont(i + 1)) {
      i += 2;
    } else if (i + 2 < n && (b & 0xF0) == 0xE0 && cont(i + 1) && cont(i + 2)) {
      i += 3;
    } else if (i + 3 < n && b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) &&
               cont(i + 3)) {
      i += 4;
    } else {
      return false;
    }
  }
  return ascii != n;
}

Text Utf8ToLocal(std::string_view utf8) { return Utf8ToGbk(UpToZero(utf8)); }

std::u16string ToWide(std::string_view text, int codePage) {
  text = UpToZero(text);
  if (codePage == kCodePageUtf8) return Utf8ToUtf16(text);
  if (IsGbk(codePage)) return GbkToUtf16(text);
  return {};
}

Text FromWide(std::u16string_view wide, int codePage) {
  wide = UpToZero(wide);
  if (IsGbk(codePage)) return Utf16ToGbk(wide);
  if (codePage == kCodePageUtf8) return Utf16ToUtf8(wide);
  return {};
}

}  // namespace qv::ResponseDecoder
