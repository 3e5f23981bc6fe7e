#include "download/book_files.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "text/encoding.h"

namespace qv {
namespace {

bool UnsafeAscii(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr;
}

// A lead byte and the byte after it that together are one character of code page 936.
bool IsGbkPair(std::string_view s, size_t i) {
  if (i + 1 >= s.size() || !IsLeadByte(static_cast<unsigned char>(s[i]))) return false;
  const unsigned char trail = static_cast<unsigned char>(s[i + 1]);
  if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
  const std::u16string wide = GbkToUtf16(s.substr(i, 2));
  return wide.size() == 1 && wide[0] != u'?';
}

}  // namespace

Text ReplaceUnsafeNameChars(std::string_view name) {
  Text out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (CharLenAt(name, i) == 2 && IsGbkPair(name, i)) {
      out.append(name.substr(i, 2));
      i += 2;
      continue;
    }
    // A single byte: ASCII, the euro sign 0x80, or a byte that is no character on its own.
    if (c < 0x80) {
      out.push_back(UnsafeAscii(c) ? '_' : static_cast<char>(c));
    } else {
      out.push_back(c == 0x80 ? static_cast<char>(c) : '_');
    }
    ++i;
  }
  return out;
}

Text SafeFileName(std::string_view title) {
  Text name = ReplaceUnsafeNameChars(title);
  if (name.empty() || name == "." || name == "..") name = "_";
  return name;
}

Text BookFolderPath(std::string_view title) { return SafeFileName(title); }

Text ChapterFilePathFor(std::string_view title, int row) {
  return BookFolderPath(title) + "/" + Decimal(static_cast<long long>(row) + 1) + ".txt";
}

Text BookFilePathFor(std::string_view title, std::string_view author) {
  return SafeFileName(title) + "(" + ReplaceUnsafeNameChars(author) + ").txt";
}

Text EpubFilePathFor(std::string_view title, std::string_view author) {
  return SafeFileName(title) + "(" + ReplaceUnsafeNameChars(author) + ").epub";
}

bool WriteFileBytes(std::string_view path, std::string_view bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

std::string ReadFileBytes(std::string_view path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool RegularFileExists(std::string_view path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(FsPath(path), ec);
}

bool MakeFolder(std::string_view path) {
  std::error_code ec;
  const std::filesystem::path p = FsPath(path);
  std::filesystem::create_directory(p, ec);
  return std::filesystem::is_directory(p, ec);
}

}  // namespace qv
