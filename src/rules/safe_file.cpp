#include "rules/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace qv {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  bool ok() const { return fd_ >= 0; }
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and reports whether the close succeeded (a late write error shows here).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Removes the temporary file unless the replacement went through.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::filesystem::path path) : path_(std::move(path)) {}
  ~TempFileGuard() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  void Keep() { path_.clear(); }

 private:
  std::filesystem::path path_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::atomic<unsigned> tempCounter{0};

}  // namespace

std::optional<std::string> ReadFileBytes(const std::filesystem::path& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path target = path;
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    if (!ec) target = std::move(resolved);
  }
  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;

  FileDescriptor fd;
  std::filesystem::path temp;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = target.parent_path() /
           ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
            std::to_string(tempCounter++) + ".tmp");
    fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.ok()) break;
    if (errno != EEXIST) return false;
  }
  if (!fd.ok()) return false;
  TempFileGuard guard(temp);

  if (hadOld) ::fchmod(fd.get(), old.st_mode & 07777);
  if (!WriteAll(fd.get(), bytes)) return false;
  if (::fsync(fd.get()) != 0) return false;
  if (!fd.Close()) return false;
  if (::rename(temp.c_str(), target.c_str()) != 0) return false;
  guard.Keep();
  return true;
}

}  // namespace qv
