// Whole-file reading and atomic replacement, for the rule file, the chapter files and the book.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Writes a file under a temporary name in the target's folder and, on Commit, flushes it to disk
// and renames it over the target. Until then the target keeps its previous content; a writer
// destroyed without a successful Commit removes its temporary file. The temporary name is
// ".<name>.<pid>.<n>.tmp", or ".quorvane.<pid>.<n>.tmp" when that would be longer than a name
// may be. A replaced file keeps its permission bits; a symbolic link is followed.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::filesystem::path& target);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Whether the temporary file is open and every write so far went through.
  bool ok() const { return fd_ >= 0; }
  bool Write(std::string_view bytes);
  bool Commit();

 private:
  void Discard();

  std::filesystem::path target_;
  std::filesystem::path temp_;
  int fd_ = -1;
};

// Removes the temporary files of AtomicFileWriter's naming in `folder` that no live writer
// owns: those of a process that no longer runs, and those of this process's pid that no writer
// of this process has open (left by an earlier run that had the same pid). Other files, and
// the temporaries of other running processes, are left alone. Returns how many were removed.
int RemoveStaleTemporaries(const std::filesystem::path& folder);

// The bytes of a regular file; nullopt when it is missing, not a regular file or cannot be read.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& path);

// Replaces the file's content with `bytes` atomically: the bytes go to a new temporary file in
// the same folder, which is flushed to disk and then renamed over the target. On any failure
// the temporary file is removed and the target keeps its previous content. A replaced file
// keeps its permission bits; a symbolic link is followed, not replaced.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace qv
