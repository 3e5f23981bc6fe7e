// The book merge: the text book and the EPUB book, each from the same chapter files in table
// order.
#include <filesystem>
#include <functional>
#include <fstream>
#include <system_error>
#include <vector>

#include "download/book_files.h"
#include "download/download_engine.h"
#include "download/engine_texts.h"
#include "output/epub_writer.h"
#include "rules/safe_file.h"
#include "text/encoding.h"

namespace qv {
namespace {

// The chapter files a merge joins: those of the rows reading "下载完毕", in table order, taken
// once so that every format is written from the same list.
struct MergeList {
  std::vector<Text> files;
  bool endsWithLastRow = false;  // the table's last row is among them (no separator after it)
};

MergeList DoneChapters(ChapterTable& table, const std::function<Text(int)>& chapterPath) {
  MergeList list;
  const Text done = DownloadTexts().saved;
  const int n = table.RowCount();
  for (int row = 0; row < n; ++row) {
    if (table.CellText(row, kColStatus) == done) {
      list.files.push_back(chapterPath(row));
      list.endsWithLastRow = row == n - 1;
    }
  }
  return list;
}

// The text book: every chapter file (a missing one reads as empty), each followed by
// "\r\n\r\n" unless it is the table's last row. Written beside the book under a temporary
// name and renamed over it once complete, so a failed merge leaves the previous book as it was.
bool WriteTextBook(const MergeList& list, const Text& bookPath, Controls& controls) {
  AtomicFileWriter out(FsPath(bookPath));
  std::vector<char> buffer(1 << 16);
  for (size_t i = 0; i < list.files.size() && out.ok(); ++i) {
    std::ifstream in(FsPath(list.files[i]), std::ios::binary);
    while (in && out.ok()) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      out.Write(std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
    }
    if (i + 1 != list.files.size() || !list.endsWithLastRow) out.Write("\r\n\r\n");
    controls.Pump();
  }
  return out.Commit();
}

bool NonEmptyFile(const Text& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(FsPath(path), ec);
  return !ec && size > 0;
}

}  // namespace

Text DownloadEngine::EpubFilePath() {
  return InSaveFolder(EpubFilePathFor(Title(), controls_.GetText(Ctl::AuthorLabel)));
}

bool DownloadEngine::AnyBookFormatChosen() {
  return controls_.IsChecked(Ctl::TxtCheck) || controls_.IsChecked(Ctl::EpubCheck);
}

Text DownloadEngine::WithMergeProblem(const Text& text) const {
  return mergeProblem_.empty() ? text : text + "\r\n" + mergeProblem_;
}

bool DownloadEngine::MergeBook() {
  // A run's finish step merges the book the run downloaded.
  if (run_) return MergeBookAs(run_->title, run_->author, run_->address);
  return MergeBookAs(Title(), controls_.GetText(Ctl::AuthorLabel),
                     controls_.GetText(Ctl::AddressBox));
}

bool DownloadEngine::MergeBookAs(const Text& title, const Text& author, const Text& address) {
  if (merging_) return false;  // a merge started from inside a merge's message processing
  merging_ = true;
  mergeProblem_.clear();
  const bool mergeButtonWasEnabled = controls_.IsEnabled(Ctl::MergeButton);
  controls_.SetEnabled(Ctl::MergeButton, false);

  bool txt = controls_.IsChecked(Ctl::TxtCheck);
  bool epub = controls_.IsChecked(Ctl::EpubCheck);
  const MergeList list =
      DoneChapters(table_, [&](int row) { return InSaveFolder(ChapterFilePathFor(title, row)); });
  bool ok = txt || epub;
  if (ok && list.files.empty()) {
    // No saved chapter: no book is written, not even an empty one.
    ok = false;
    mergeProblem_ = DownloadTexts().nothingToMerge;
    txt = epub = false;
  }
  if (txt && !WriteTextBook(list, InSaveFolder(BookFilePathFor(title, author)), controls_)) ok = false;
  if (epub) {
    // A chapter whose file is gone or empty has nothing to show: no page for it.
    std::vector<const Text*> chapters;
    for (const Text& f : list.files) {
      if (NonEmptyFile(f)) chapters.push_back(&f);
    }
    EpubMetadata meta;
    meta.title = GbkToUtf8(title);
    meta.author = GbkToUtf8(author);
    meta.identifier = IdentifierForAddress(GbkToUtf8(address));
    const EpubResult written = WriteEpub(
        FsPath(InSaveFolder(EpubFilePathFor(title, author))), meta, chapters.size(),
        [&](size_t i) { return ChapterFromFile(ReadFileBytes(std::string_view(*chapters[i]))); },
        [this] { controls_.Pump(); });
    if (!written.ok) {
      ok = false;
      mergeProblem_ = DownloadTexts().epubFailed + Utf8ToGbk(written.error);
    }
  }

  controls_.SetEnabled(Ctl::MergeButton, mergeButtonWasEnabled);
  merging_ = false;
  return ok;
}

}  // namespace qv
