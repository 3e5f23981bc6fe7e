#include "download/book_files.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "rules/safe_file.h"
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

// The longest a name may be on disk, in UTF-8 bytes.
constexpr size_t kMaxNameBytes = 255;

size_t DiskBytes(std::string_view gbk) { return GbkToUtf8(gbk).size(); }

}  // namespace

Text ShortenName(std::string_view name, size_t maxDiskBytes) {
  if (DiskBytes(name) <= maxDiskBytes) return Text(name);
  Text out;
  size_t used = 0;
  for (size_t i = 0; i < name.size();) {
    const size_t n = CharLenAt(name, i);
    const size_t bytes = DiskBytes(name.substr(i, n));
    if (used + bytes > maxDiskBytes) break;
    out.append(name.substr(i, n));
    used += bytes;
    i += n;
  }
  return out;
}

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
  Text name = ShortenName(ReplaceUnsafeNameChars(title), kMaxNameBytes);
  if (name.empty() || name == "." || name == "..") name = "_";
  return name;
}

Text BookFolderPath(std::string_view title) { return SafeFileName(title); }

Text ChapterFilePathFor(std::string_view title, int row) {
  return BookFolderPath(title) + "/" + Decimal(static_cast<long long>(row) + 1) + ".txt";
}

Text BookFilePathFor(std::string_view title, std::string_view author) {
  const Text safeTitle = SafeFileName(title);
  Text safeAuthor = ReplaceUnsafeNameChars(author);
  const auto name = [&](std::string_view t) { return Text(t) + "(" + safeAuthor + ").txt"; };
  const size_t room = kMaxNameBytes - std::string_view("().txt").size();
  const size_t titleBytes = DiskBytes(safeTitle);
  const size_t authorBytes = DiskBytes(safeAuthor);
  if (titleBytes + authorBytes <= room) return name(safeTitle);
  // Too long: the title gives way first, keeping at least half of the room, then the author.
  const size_t titleKeep =
      std::max(room > authorBytes ? room - authorBytes : 0, std::min(titleBytes, room / 2));
  const Text shortTitle = ShortenName(safeTitle, titleKeep);
  safeAuthor = ShortenName(safeAuthor, room - DiskBytes(shortTitle));
  return name(shortTitle);
}

Text EpubFilePathFor(std::string_view title, std::string_view author) {
  return SafeFileName(title) + "(" + ReplaceUnsafeNameChars(author) + ").epub";
}

bool WriteFileBytes(std::string_view path, std::string_view bytes) {
  AtomicFileWriter out(FsPath(path));
  return out.Write(bytes) && out.Commit();
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
