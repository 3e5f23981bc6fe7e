// The servers that the book site cannot be, all on 127.0.0.1: a real nginx started as a child
// with a throw-away configuration and certificate authority, a raw recorder that keeps the exact
// request bytes, a server that accepts and never answers, and a small forward proxy; with the
// temporary folders, descriptors and child processes they need.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

// A fresh directory under the system temp directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A file descriptor, closed on every path.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd();
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// A child process, terminated and reaped when this goes away.
class ChildProcess {
 public:
  // argv[0] is looked up on PATH; stdout and stderr go to `logFile` (or nowhere when empty).
  ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& logFile);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool started() const { return pid_ > 0; }
  bool Running();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Runs a command to its end, its output discarded unless showOutput; its exit status, or -1.
int RunCommand(const std::vector<std::string>& argv, bool showOutput = false);

// A port on 127.0.0.1 that was free a moment ago.
int FreePort();

// A port on 127.0.0.1 on which nothing listens (it was free a moment ago): connections to it
// are refused.
int ClosedPort();

// True once something accepts TCP connections on 127.0.0.1:port (waits up to `ms`).
bool WaitForPort(int port, int ms);

// A listening TCP socket on 127.0.0.1 with a kernel-chosen port.
Fd ListenLocal(int backlog, int* port);

// A throw-away certificate authority and a server certificate it signed for 127.0.0.1 and the
// name "quorvane.test", made with the openssl command.
struct TestCertificates {
  explicit TestCertificates(const std::filesystem::path& dir);
  bool ok = false;
  std::filesystem::path caFile, certFile, keyFile;
};

// nginx serving `www()` on a plain and a TLS port, gzip on, with a few fixed locations:
//   /echo   "<method> <request uri> host=<Host> conn=<connection number> reused=<r or .>"
//   /once   the same, and the connection is closed after the response
//   /tohttp a 302 to http://127.0.0.1:<query p>/final
class LocalNginx {
 public:
  LocalNginx();
  ~LocalNginx();
  LocalNginx(const LocalNginx&) = delete;
  LocalNginx& operator=(const LocalNginx&) = delete;
  bool ok() const { return ok_; }
  std::string ErrorLog() const;
  int httpPort() const { return httpPort_; }
  int httpsPort() const { return httpsPort_; }
  const std::filesystem::path& www() const { return www_; }
  const std::filesystem::path& caFile() const { return certs_.caFile; }
  std::string HttpUrl(const std::string& path) const;
  std::string HttpsUrl(const std::string& path) const;

 private:
  TempDir dir_;
  TestCertificates certs_;
  std::filesystem::path www_;
  int httpPort_ = 0;
  int httpsPort_ = 0;
  std::unique_ptr<ChildProcess> process_;
  bool ok_ = false;
};

// Runs `serve` for each accepted connection on its own thread, until destroyed.
class ConnectionServer {
 public:
  using Handler = std::function<void(int fd, const std::atomic<bool>& stopping)>;
  explicit ConnectionServer(Handler serve);
  ~ConnectionServer();
  ConnectionServer(const ConnectionServer&) = delete;
  ConnectionServer& operator=(const ConnectionServer&) = delete;
  int port() const { return port_; }
  // Waits until `fd` is readable; false when the server is stopping or after `ms`.
  static bool WaitReadable(int fd, const std::atomic<bool>& stopping, int ms = 10'000);

 private:
  void AcceptLoop();
  Handler serve_;
  int port_ = 0;  // before listener_, which sets it
  Fd listener_;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;
};

// Reads one request (head and Content-Length body) from a connection; empty on failure.
std::string ReadRequest(int fd, const std::atomic<bool>& stopping);
bool WriteAll(int fd, std::string_view data);

// Records each request's exact bytes and answers with `reply`, one request per connection.
class RecordingServer {
 public:
  explicit RecordingServer(std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n"
                                               "Connection: close\r\n\r\nok");
  int port() const { return server_.port(); }
  std::string Url(const std::string& path) const;
  std::vector<std::string> Requests();

 private:
  std::string reply_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  ConnectionServer server_;
};

// Accepts connections and never answers: holds them until destroyed.
class SilentServer {
 public:
  SilentServer();
  int port() const { return server_.port(); }

 private:
  ConnectionServer server_;
};

// A forward proxy: CONNECT requests are tunnelled to their target; plain requests are
// answered by the proxy itself with "proxied <request target>". Request lines are recorded.
class TestProxy {
 public:
  TestProxy();
  int port() const { return server_.port(); }
  std::vector<std::string> RequestLines();

 private:
  void Serve(int fd, const std::atomic<bool>& stopping);
  std::mutex mutex_;
  std::vector<std::string> lines_;
  ConnectionServer server_;
};

// The header lines of a request or response head (after the first line), without CR LF.
std::vector<std::string> HeaderLines(const std::string& head);

}  // namespace qvtest
