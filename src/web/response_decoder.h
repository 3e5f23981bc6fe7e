// Turning a fetched body into text of code page 936: gzip unpacking, UTF-8 recognition and
// conversion.
//
// Gzip bodies are unpacked in memory through zlib; nothing is written to disk (no separate
// decompression library has to be put in place first). All operations are safe on any thread.
#pragma once

#include <string>
#include <string_view>

#include "text/gbk_text.h"

namespace qv::ResponseDecoder {

inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageAnsi = 0;  // the ANSI code page, which is 936 for this program

// The body as text. When the response headers carry "Content-Encoding: gzip" (any letter case)
// the body is first replaced by its unpacked bytes. The text ends at the first zero byte.
Text DecodeBody(std::string& body, std::string_view responseHeaders);

// The unpacked bytes of one gzip stream. A stream that is cut off or corrupt gives what was
// unpacked before the fault; the output stops at the body limit (256 MiB).
std::string Gunzip(std::string_view compressed);

// True when the bytes hold at least one well-formed UTF-8 sequence of two, three or four
// bytes and nothing that breaks the pattern. Pure ASCII is not UTF-8.
bool LooksLikeUtf8(std::string_view bytes);

// UTF-8 text as CP936; characters CP936 cannot hold become "?".
Text Utf8ToLocal(std::string_view utf8);

// Text of the code page (65001 UTF-8, 936 or 0 for CP936) as UTF-16, up to its first zero
// byte. Another code page gives an empty result.
std::u16string ToWide(std::string_view text, int codePage = kCodePageUtf8);

// UTF-16 text in the code page (936 or 0 for CP936, 65001 UTF-8), up to its first zero unit.
// Another code page gives an empty result.
Text FromWide(std::u16string_view wide, int codePage = kCodePageGbk);

}  // namespace qv::ResponseDecoder
