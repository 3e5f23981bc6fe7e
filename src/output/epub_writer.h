// The EPUB 3 book: one XHTML page per chapter, a navigation document and an NCX for older
// readers, written through libzip. Toolkit-free; texts here are UTF-8 unless said otherwise.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A chapter as the book shows it: the heading and its paragraphs (UTF-8).
struct EpubChapter {
  std::string title;
  std::vector<std::string> paragraphs;
};

struct EpubMetadata {
  std::string title;       // dc:title; "_" when empty
  std::string author;      // dc:creator; left out when empty
  std::string identifier;  // dc:identifier, e.g. IdentifierForAddress(...)
  std::string modified;    // dcterms:modified, "CCYY-MM-DDThh:mm:ssZ"; empty = now
};

// A chapter file (CP936: the title line, then the body) as a chapter: the first line is the
// heading, every later line that holds more than white space is a paragraph, kept as it is
// apart from the line end. Converted to UTF-8; characters XML cannot hold (control characters
// other than tab) are dropped.
EpubChapter ChapterFromFile(std::string_view cp936);

// A stable "urn:uuid:" identifier for a book, from its chapter-list address: the same address
// always gives the same identifier. The 128 bits are two FNV-1a hashes of the address, marked
// as a custom (version 8) UUID.
std::string IdentifierForAddress(std::string_view address);

// The current time as "CCYY-MM-DDThh:mm:ssZ" (UTC).
std::string UtcTimestamp();

// Escapes & < > " ' for XML text and attribute values.
std::string XmlEscape(std::string_view text);

struct EpubResult {
  bool ok = false;
  std::string error;  // why it failed (UTF-8), empty on success
};

// Writes the EPUB of `count` chapters, chapterAt(0) .. chapterAt(count - 1) in that order, to
// `path`, replacing the file only once the new one is complete (a temporary file in the same
// folder, flushed to disk and renamed): a failed write leaves the previous file as it was.
// `progress`, when set, is called once per chapter and while the archive is compressed, so a
// caller on a window thread can keep its window responsive.
EpubResult WriteEpub(const std::filesystem::path& path, const EpubMetadata& meta, size_t count,
                     const std::function<EpubChapter(size_t)>& chapterAt,
                     const std::function<void()>& progress = {});

}  // namespace qv
