// Conversion between CP936 text and Unicode (UTF-8, UTF-16), done through iconv.
//
// A character that CP936 cannot hold becomes "?"; a malformed input byte or sequence becomes
// "?" too and never stops the conversion. Safe to call from any thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "text/gbk_text.h"

namespace qv {

std::u16string GbkToUtf16(std::string_view gbk);
Text Utf16ToGbk(std::u16string_view utf16);
std::string GbkToUtf8(std::string_view gbk);
Text Utf8ToGbk(std::string_view utf8);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The file-system name of a CP936 path: converted to UTF-8 at the file-system edge, as the
// desktop shows it. Every path the program opens goes through here.
std::filesystem::path FsPath(std::string_view gbkPath);

}  // namespace qv
