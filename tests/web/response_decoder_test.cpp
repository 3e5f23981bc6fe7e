#include "web/response_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "text/encoding.h"
#include "web/body_limit.h"

namespace qv {
namespace {

// A gzip stream made by zlib itself.
std::string Gzip(std::string_view data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Page(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 100003) + "\n";
  s.resize(n);
  return s;
}

TEST(DecodeBody, UnpacksOnlyWhenTheHeadersSayGzip) {
  const std::string page = Page(100'000);
  const std::string packed = Gzip(page);
  struct Case {
    const char* headers;
    bool unpacked;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\ncontent-encoding: GZIP\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", false},  // gzip data left alone
      {"", false},
  };
  for (const Case& c : cases) {
    std::string body = packed;
    const Text text = ResponseDecoder::DecodeBody(body, c.headers);
    if (c.unpacked) {
      EXPECT_TRUE(body == page) << c.headers;
      EXPECT_TRUE(text == page) << c.headers;
    } else {
      EXPECT_EQ(body, packed) << c.headers;
      EXPECT_EQ(text, packed.substr(0, packed.find('\0'))) << c.headers;
    }
  }
}

TEST(DecodeBody, TextEndsAtTheFirstZeroByte) {
  std::string body("abc\0def", 7);
  EXPECT_EQ(ResponseDecoder::DecodeBody(body, "HTTP/1.1 200 OK\r\n\r\n"), "abc");
  EXPECT_EQ(body.size(), 7u);  // the body itself keeps every byte
  std::string packed = Gzip(std::string("x\0y", 3));
  EXPECT_EQ(ResponseDecoder::DecodeBody(packed, "Content-Encoding: gzip\r\n"), "x");
  EXPECT_EQ(packed, std::string("x\0y", 3));
}

TEST(Gunzip, DamagedStreamsGiveWhatCameBeforeTheFault) {
  const std::string page = Page(200'000);
  const std::string packed = Gzip(page);
  EXPECT_TRUE(ResponseDecoder::Gunzip(packed) == page);

  // Cut off: a prefix of the page, nothing invented.
  const std::string cut = ResponseDecoder::Gunzip(packed.substr(0, packed.size() / 2));
  EXPECT_GT(cut.size(), 0u);
  EXPECT_LT(cut.size(), page.size());
  EXPECT_TRUE(cut == page.substr(0, cut.size()));

  // Corrupt in the middle: no crash; what came before the damage is intact.
  std::string bad = packed;
  for (size_t i = bad.size() / 2; i < bad.size() / 2 + 64; ++i) bad[i] = static_cast<char>(~bad[i]);
  const std::string broken = ResponseDecoder::Gunzip(bad);
  ASSERT_GT(broken.size(), 1000u);
  EXPECT_TRUE(broken.compare(0, 1000, page, 0, 1000) == 0);
  EXPECT_LE(broken.size(), page.size() + 8192);

  // Not gzip at all, empty, and a header with a lying size field.
  EXPECT_EQ(ResponseDecoder::Gunzip("<html>plain</html>"), "");
  EXPECT_EQ(ResponseDecoder::Gunzip(""), "");
  std::string liar = Gzip("tiny");
  liar.replace(liar.size() - 4, 4, "\xff\xff\xff\xff");
  EXPECT_EQ(ResponseDecoder::Gunzip(liar), "tiny");  // the size check fails after the data
}

TEST(Gunzip, OutputStopsAtTheBodyLimit) {
  const std::string bomb = Gzip(std::string(3'000'000, 'A'));
  ASSERT_LT(bomb.size(), 20'000u);
  SetBodyLimitForTesting(1'000'000);
  const std::string out = ResponseDecoder::Gunzip(bomb);
  SetBodyLimitForTesting(0);
  EXPECT_TRUE(out == std::string(1'000'000, 'A')) << out.size();
  EXPECT_EQ(BodyLimit(), kMaxBodyBytes);
}

TEST(LooksLikeUtf8, Cases) {
  const std::string zhong = "\xE4\xB8\xAD";       // 中 in UTF-8
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600
  struct Case {
    std::string bytes;
    bool want;
  } cases[] = {
      {"abc", false},
      {"", false},
      {zhong, true},
      {"<p>" + zhong + "</p>", true},
      {zhong + "\x80", false},                     // a stray continuation byte
      {"\xD6\xD0\xCE\xC4", false},                 // GBK 中文
      {"\xC3\xA9", true},                          // two bytes
      {"\xC0\x80", true},                          // over-long two-byte form still passes
      {emoji, true},
      {"abc" + emoji + zhong, true},
      {"\xF4\x8F\xBF\xBF", true},                  // lead F4
      {"\xF5\x80\x80\x80", false},                 // leads F5 and above are not UTF-8
      {"\xF8\x80\x80\x80", false},
      {"\xF0\x9F\x98", false},                     // cut off at the end
      {zhong.substr(0, 2), false},
      {"\xF0\x9F\x98" "a", false},
      {"\xE4\xB8" "a", false},
  };
  for (const Case& c : cases) {
    std::string hex;
    for (unsigned char b : c.bytes) hex += " " + std::to_string(b);
    EXPECT_EQ(ResponseDecoder::LooksLikeUtf8(c.bytes), c.want) << hex;
  }
}

TEST(Utf8ToLocal, ConvertsToCp936) {
  EXPECT_EQ(ResponseDecoder::Utf8ToLocal("\xE4\xB8\xAD\xE6\x96\x87"), "\xD6\xD0\xCE\xC4");
  // A character CP936 cannot hold becomes "?": an emoji page is converted, not dropped.
  const std::string page = "<p>\xE4\xB8\xAD\xF0\x9F\x98\x80!</p>";
  ASSERT_TRUE(ResponseDecoder::LooksLikeUtf8(page));
  EXPECT_EQ(ResponseDecoder::Utf8ToLocal(page), "<p>\xD6\xD0?!</p>");
  EXPECT_EQ(ResponseDecoder::Utf8ToLocal(std::string("ab\0\xE4\xB8\xAD", 6)), "ab");
}

TEST(WideConversions, CodePages) {
  using ResponseDecoder::FromWide;
  using ResponseDecoder::ToWide;
  EXPECT_EQ(ToWide("\xE4\xB8\xAD" "a"), u"\u4E2Da");
  EXPECT_EQ(ToWide("\xD6\xD0" "a", 936), u"\u4E2Da");
  EXPECT_EQ(ToWide("\xD6\xD0", 0), u"\u4E2D");
  EXPECT_EQ(ToWide(std::string("a\0b", 3)), u"a");
  EXPECT_EQ(ToWide("abc", 1252), u"");  // a code page this program has no table for
  EXPECT_EQ(FromWide(u"\u4E2Da"), "\xD6\xD0" "a");
  EXPECT_EQ(FromWide(u"\u4E2D", 65001), "\xE4\xB8\xAD");
  EXPECT_EQ(FromWide(u"\U0001F600x"), "?x");
  // Every character arrives in UTF-8, though it needs more bytes than in CP936.
  EXPECT_EQ(FromWide(u"\U0001F600\u4E2D\u4E2D", 65001),
            "\xF0\x9F\x98\x80\xE4\xB8\xAD\xE4\xB8\xAD");
  EXPECT_EQ(FromWide(std::u16string(u"a\0b", 3)), "a");
}

}  // namespace
}  // namespace qv
