#include "output/epub_writer.h"

#include <zip.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>

#include "rules/safe_file.h"
#include "text/encoding.h"

namespace qv {
namespace {

// ---- libzip handles ----------------------------------------------------------------------

struct ArchiveDiscard {
  void operator()(zip_t* za) const { zip_discard(za); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveDiscard>;

struct SourceFree {
  void operator()(zip_source_t* s) const { zip_source_free(s); }
};
using SourcePtr = std::unique_ptr<zip_source_t, SourceFree>;

class ZipError {
 public:
  ZipError() { zip_error_init(&error_); }
  ~ZipError() { zip_error_fini(&error_); }
  ZipError(const ZipError&) = delete;
  ZipError& operator=(const ZipError&) = delete;
  zip_error_t* get() { return &error_; }
  std::string Text() { return zip_error_strerror(&error_); }

 private:
  zip_error_t error_;
};

// An open source: closed again when it goes.
class OpenSource {
 public:
  explicit OpenSource(zip_source_t* s) : s_(zip_source_open(s) == 0 ? s : nullptr) {}
  ~OpenSource() {
    if (s_ != nullptr) zip_source_close(s_);
  }
  OpenSource(const OpenSource&) = delete;
  OpenSource& operator=(const OpenSource&) = delete;
  bool ok() const { return s_ != nullptr; }

 private:
  zip_source_t* s_;
};

// ---- the archive in memory -----------------------------------------------------------------

// Builds the archive in a memory buffer; the file is written from it in one piece.
class ZipBuilder {
 public:
  bool Open() {
    ZipError error;
    buffer_.reset(zip_source_buffer_create(nullptr, 0, 0, error.get()));
    if (!buffer_) return Fail("zip_source_buffer_create: " + error.Text());
    zip_t* archive = zip_open_from_source(buffer_.get(), ZIP_TRUNCATE, error.get());
    if (archive == nullptr) return Fail("zip_open_from_source: " + error.Text());
    // The archive took the buffer's reference: one more for buffer_, to read the finished
    // bytes from once the archive is closed.
    zip_source_keep(buffer_.get());
    archive_.reset(archive);
    return true;
  }

  // Adds an entry; the bytes are kept until the archive is closed.
  bool Add(const std::string& name, std::string bytes, bool stored = false) {
    if (!archive_) return false;
    contents_.push_back(std::move(bytes));
    const std::string& data = contents_.back();
    SourcePtr source(zip_source_buffer(archive_.get(), data.data(), data.size(), 0));
    if (!source) return Fail("zip_source_buffer: " + ArchiveError());
    const zip_int64_t index =
        zip_file_add(archive_.get(), name.c_str(), source.get(), ZIP_FL_ENC_UTF_8);
    if (index < 0) return Fail("zip_file_add " + name + ": " + ArchiveError());
    source.release();  // the archive owns it now
    const zip_uint64_t i = static_cast<zip_uint64_t>(index);
    const bool compressionSet =
        stored ? zip_set_file_compression(archive_.get(), i, ZIP_CM_STORE, 0) == 0
               : zip_set_file_compression(archive_.get(), i, ZIP_CM_DEFLATE, 6) == 0;
    if (!compressionSet) return Fail("zip_set_file_compression " + name + ": " + ArchiveError());
    return true;
  }

  // Compresses every entry into the buffer and hands back the archive's bytes.
  bool Close(const std::function<void()>& progress, std::string& out) {
    if (!archive_) return false;
    if (progress) {
      zip_register_progress_callback_with_state(
          archive_.get(), 0.01,
          [](zip_t*, double, void* state) { (*static_cast<const std::function<void()>*>(state))(); },
          nullptr, const_cast<std::function<void()>*>(&progress));
    }
    if (zip_close(archive_.get()) != 0) return Fail("zip_close: " + ArchiveError());
    archive_.release();  // zip_close freed it
    contents_.clear();

    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_source_stat(buffer_.get(), &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0) {
      return Fail("zip_source_stat: " + std::string(zip_error_strerror(zip_source_error(buffer_.get()))));
    }
    OpenSource open(buffer_.get());
    if (!open.ok()) return Fail("zip_source_open");
    out.resize(st.size);
    size_t done = 0;
    while (done < out.size()) {
      const zip_int64_t n = zip_source_read(buffer_.get(), out.data() + done, out.size() - done);
      if (n <= 0) return Fail("zip_source_read");
      done += static_cast<size_t>(n);
    }
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  bool Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    return false;
  }
  std::string ArchiveError() { return zip_error_strerror(zip_get_error(archive_.get())); }

  // Destroyed in reverse: an archive still open drops its reference to the buffer first, and
  // the entries' bytes outlive both.
  std::deque<std::string> contents_;
  SourcePtr buffer_;
  ArchivePtr archive_;
  std::string error_;
};

// ---- the documents --------------------------------------------------------------------------

constexpr const char* kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

constexpr const char* kStyle =
    "body { margin: 0 0.5em; line-height: 1.8; }\n"
    "h1, h2 { font-size: 1.3em; line-height: 1.5; text-align: center; margin: 1em 0; }\n"
    "p { margin: 0 0 0.3em 0; text-indent: 2em; text-align: justify; }\n"
    "p.author { text-indent: 0; text-align: center; }\n"
    "nav ol { list-style-type: none; padding: 0; }\n";

constexpr const char* kContainer =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
    "  <rootfiles>\n"
    "    <rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
    "  </rootfiles>\n"
    "</container>\n";

std::string PageHead(std::string_view title) {
  std::string s = kXmlHead;
  s += "<!DOCTYPE html>\n"
       "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\""
       " xml:lang=\"zh-CN\" lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>";
  s += XmlEscape(title);
  s += "</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"/>\n</head>\n<body>\n";
  return s;
}

constexpr const char* kPageTail = "</body>\n</html>\n";

std::string ChapterFile(size_t n) { return "chapter" + std::to_string(n) + ".xhtml"; }

bool IsBlank(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    if (s[i] == ' ' || s[i] == '\t') {
      ++i;
    } else if (s.substr(i, 3) == "\xE3\x80\x80") {  // the ideographic space
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

// The name shown in the table of contents: the heading, or the chapter's number without one.
std::string ListName(const EpubChapter& c, size_t n) {
  return IsBlank(c.title) ? std::to_string(n) : c.title;
}

std::string ChapterPage(const EpubChapter& c, size_t n) {
  const std::string name = ListName(c, n);
  std::string s = PageHead(name);
  s += "<section epub:type=\"chapter\">\n<h2>";
  s += XmlEscape(name);
  s += "</h2>\n";
  for (const std::string& p : c.paragraphs) {
    s += "<p>";
    s += XmlEscape(p);
    s += "</p>\n";
  }
  s += "</section>\n";
  s += kPageTail;
  return s;
}

std::string TitlePage(const EpubMetadata& m, const std::string& title) {
  std::string s = PageHead(title);
  s += "<section epub:type=\"titlepage\">\n<h1>" + XmlEscape(title) + "</h1>\n";
  if (!m.author.empty()) s += "<p class=\"author\">" + XmlEscape(m.author) + "</p>\n";
  s += "</section>\n";
  s += kPageTail;
  return s;
}

struct TocEntry {
  std::string file;
  std::string name;
};

std::string NavPage(const std::vector<TocEntry>& toc) {
  std::string s = PageHead("目录");
  s += "<nav epub:type=\"toc\" id=\"toc\">\n<h1>目录</h1>\n<ol>\n";
  for (const TocEntry& e : toc) {
    s += "<li><a href=\"" + e.file + "\">" + XmlEscape(e.name) + "</a></li>\n";
  }
  s += "</ol>\n</nav>\n";
  s += kPageTail;
  return s;
}

std::string Ncx(const std::string& identifier, const std::string& title,
                const std::vector<TocEntry>& toc) {
  std::string s = kXmlHead;
  s += "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" xml:lang=\"zh-CN\">\n"
       "<head>\n<meta name=\"dtb:uid\" content=\"" +
       XmlEscape(identifier) +
       "\"/>\n<meta name=\"dtb:depth\" content=\"1\"/>\n"
       "<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n"
       "<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n</head>\n"
       "<docTitle><text>" +
       XmlEscape(title) + "</text></docTitle>\n<navMap>\n";
  for (size_t i = 0; i < toc.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    s += "<navPoint id=\"p" + n + "\" playOrder=\"" + n + "\"><navLabel><text>" +
         XmlEscape(toc[i].name) + "</text></navLabel><content src=\"" + toc[i].file +
         "\"/></navPoint>\n";
  }
  s += "</navMap>\n</ncx>\n";
  return s;
}

std::string PackageDocument(const EpubMetadata& m, const std::string& title,
                            const std::string& modified, size_t chapters) {
  std::string s = kXmlHead;
  s += "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\""
       " unique-identifier=\"bookid\" xml:lang=\"zh-CN\">\n"
       "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
       "<dc:identifier id=\"bookid\">" +
       XmlEscape(m.identifier) + "</dc:identifier>\n<dc:title>" + XmlEscape(title) +
       "</dc:title>\n";
  if (!m.author.empty()) s += "<dc:creator>" + XmlEscape(m.author) + "</dc:creator>\n";
  s += "<dc:language>zh-CN</dc:language>\n<meta property=\"dcterms:modified\">" +
       XmlEscape(modified) + "</meta>\n</metadata>\n<manifest>\n"
       "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
       "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
       "<item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>\n"
       "<item id=\"titlepage\" href=\"title.xhtml\" media-type=\"application/xhtml+xml\"/>\n";
  for (size_t n = 1; n <= chapters; ++n) {
    s += "<item id=\"c" + std::to_string(n) + "\" href=\"" + ChapterFile(n) +
         "\" media-type=\"application/xhtml+xml\"/>\n";
  }
  s += "</manifest>\n<spine toc=\"ncx\">\n<itemref idref=\"titlepage\"/>\n";
  for (size_t n = 1; n <= chapters; ++n) s += "<itemref idref=\"c" + std::to_string(n) + "\"/>\n";
  s += "</spine>\n</package>\n";
  return s;
}

uint64_t Fnv1a(std::string_view s, uint64_t basis) {
  uint64_t h = basis;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

}  // namespace

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

EpubChapter ChapterFromFile(std::string_view cp936) {
  std::string utf8 = GbkToUtf8(cp936);
  EpubChapter chapter;
  bool first = true;
  size_t start = 0;
  while (start <= utf8.size()) {
    size_t end = utf8.find('\n', start);
    if (end == std::string::npos) end = utf8.size();
    std::string line;
    line.reserve(end - start);
    for (size_t i = start; i < end; ++i) {
      const unsigned char c = static_cast<unsigned char>(utf8[i]);
      if (c >= 0x20 || c == '\t') line.push_back(static_cast<char>(c));
    }
    if (first) {
      chapter.title = std::move(line);
      first = false;
    } else if (!IsBlank(line)) {
      chapter.paragraphs.push_back(std::move(line));
    }
    if (end == utf8.size()) break;
    start = end + 1;
  }
  return chapter;
}

std::string IdentifierForAddress(std::string_view address) {
  const uint64_t hi = Fnv1a(address, 0xcbf29ce484222325ULL);
  const uint64_t lo = Fnv1a(address, hi ^ 0x9e3779b97f4a7c15ULL);
  unsigned char b[16];
  for (int i = 0; i < 8; ++i) {
    b[i] = static_cast<unsigned char>(hi >> (56 - 8 * i));
    b[8 + i] = static_cast<unsigned char>(lo >> (56 - 8 * i));
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x80);  // version 8: custom
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // the RFC variant
  std::string out = "urn:uuid:";
  char hex[3];
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    std::snprintf(hex, sizeof hex, "%02x", b[i]);
    out += hex;
  }
  return out;
}

std::string UtcTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

EpubResult WriteEpub(const std::filesystem::path& path, const EpubMetadata& meta, size_t count,
                     const std::function<EpubChapter(size_t)>& chapterAt,
                     const std::function<void()>& progress) {
  EpubResult result;
  const std::string title = IsBlank(meta.title) ? "_" : meta.title;
  const std::string modified = meta.modified.empty() ? UtcTimestamp() : meta.modified;

  ZipBuilder zip;
  // The mimetype entry first and stored, so readers find it at a fixed offset.
  bool ok = zip.Open() && zip.Add("mimetype", "application/epub+zip", true) &&
            zip.Add("META-INF/container.xml", kContainer) &&
            zip.Add("OEBPS/style.css", kStyle) &&
            zip.Add("OEBPS/title.xhtml", TitlePage(meta, title));
  std::vector<TocEntry> toc;
  toc.reserve(count);
  for (size_t i = 0; ok && i < count; ++i) {
    const EpubChapter chapter = chapterAt(i);
    const size_t n = i + 1;
    toc.push_back({ChapterFile(n), ListName(chapter, n)});
    ok = zip.Add("OEBPS/" + ChapterFile(n), ChapterPage(chapter, n));
    if (progress) progress();
  }
  // A book without chapters still lists its title page, so that the lists are never empty.
  if (toc.empty()) toc.push_back({"title.xhtml", title});
  ok = ok && zip.Add("OEBPS/nav.xhtml", NavPage(toc)) &&
       zip.Add("OEBPS/toc.ncx", Ncx(meta.identifier, title, toc)) &&
       zip.Add("OEBPS/content.opf", PackageDocument(meta, title, modified, count));
  std::string bytes;
  ok = ok && zip.Close(progress, bytes);
  if (!ok) {
    result.error = zip.error();
    return result;
  }
  if (!ReplaceFileAtomically(path, bytes)) {
    result.error = std::string("无法写入文件: ") + std::strerror(errno);
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace qv
