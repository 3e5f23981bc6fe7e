#include "rules/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
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

namespace {

constexpr size_t kMaxNameBytes = 255;
constexpr std::string_view kShortTempStem = "quorvane";

// The temporary names this process has open, so a sweep never takes a live one of its own.
std::mutex& OpenTempsLock() {
  static std::mutex m;
  return m;
}
std::set<std::string>& OpenTemps() {
  static std::set<std::string> names;
  return names;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The pid in a temporary name of this program's naming, or -1 for any other name.
long TempNamePid(std::string_view name) {
  constexpr std::string_view kSuffix = ".tmp";
  if (name.size() < 2 || name.front() != '.' || !name.ends_with(kSuffix)) return -1;
  name.remove_prefix(1);
  name.remove_suffix(kSuffix.size());
  const size_t counterDot = name.rfind('.');
  if (counterDot == std::string_view::npos || counterDot == 0 ||
      !AllDigits(name.substr(counterDot + 1))) {
    return -1;
  }
  const size_t pidDot = name.rfind('.', counterDot - 1);
  if (pidDot == std::string_view::npos) return -1;
  const std::string_view pid = name.substr(pidDot + 1, counterDot - pidDot - 1);
  if (!AllDigits(pid) || pid.size() > 9) return -1;
  const std::string_view stem = name.substr(0, pidDot);
  const bool ours = stem == kShortTempStem ||
                    (stem.size() > 4 && (stem.ends_with(".txt") || stem.ends_with(".xml")));
  return ours ? std::stol(std::string(pid)) : -1;
}

bool ProcessRuns(long pid) {
  if (pid <= 0) return true;  // never guess about those
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::filesystem::path& path) : target_(path) {
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    if (!ec) target_ = std::move(resolved);
  }
  struct stat old {};
  const bool hadOld = ::stat(target_.c_str(), &old) == 0;
  const std::string pid = std::to_string(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string counter = std::to_string(tempCounter++);
    std::string name = "." + target_.filename().string() + "." + pid + "." + counter + ".tmp";
    if (name.size() > kMaxNameBytes) {
      name = "." + std::string(kShortTempStem) + "." + pid + "." + counter + ".tmp";
    }
    {
      std::lock_guard<std::mutex> lock(OpenTempsLock());
      OpenTemps().insert(name);
    }
    temp_ = target_.parent_path() / name;
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) break;
    const int error = errno;
    {
      std::lock_guard<std::mutex> lock(OpenTempsLock());
      OpenTemps().erase(name);
    }
    temp_.clear();
    if (error != EEXIST) return;
  }
  if (fd_ >= 0 && hadOld) ::fchmod(fd_, old.st_mode & 07777);
}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

void AtomicFileWriter::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (temp_.empty()) return;
  ::unlink(temp_.c_str());
  std::lock_guard<std::mutex> lock(OpenTempsLock());
  OpenTemps().erase(temp_.filename().string());
  temp_.clear();
}

bool AtomicFileWriter::Write(std::string_view bytes) {
  if (fd_ < 0) return false;
  if (WriteAll(fd_, bytes)) return true;
  Discard();
  return false;
}

bool AtomicFileWriter::Commit() {
  if (fd_ < 0) return false;
  const int fd = fd_;
  fd_ = -1;
  const bool flushed = ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;  // a late write error shows here
  if (!flushed || !closed || ::rename(temp_.c_str(), target_.c_str()) != 0) {
    Discard();
    return false;
  }
  std::lock_guard<std::mutex> lock(OpenTempsLock());
  OpenTemps().erase(temp_.filename().string());
  temp_.clear();
  return true;
}

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  AtomicFileWriter writer(path);
  return writer.Write(bytes) && writer.Commit();
}

int RemoveStaleTemporaries(const std::filesystem::path& folder) {
  int removed = 0;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec);
  if (ec) return 0;
  const long self = static_cast<long>(::getpid());
  for (const std::filesystem::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    const long pid = TempNamePid(name);
    if (pid < 0 || !entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    if (pid == self) {
      std::lock_guard<std::mutex> lock(OpenTempsLock());
      if (OpenTemps().count(name) != 0) continue;  // a writer of this process has it open
    } else if (ProcessRuns(pid)) {
      continue;
    }
    if (::unlink(entry.path().c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace qv
