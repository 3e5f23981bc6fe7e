#include "raw_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

extern char** environ;

namespace qvtest {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "qv-web-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

Fd::~Fd() {
  if (fd_ >= 0) close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.release();
  }
  return *this;
}

namespace {

// posix_spawn file actions, destroyed on every path.
class SpawnActions {
 public:
  SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return ok_ ? &actions_ : nullptr; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

// Output goes to `output`, to nowhere when it is empty, or stays this process's when inherit.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& output, bool inherit) {
  SpawnActions actions;
  if (actions.get() == nullptr) return -1;
  const std::string out = output.empty() ? "/dev/null" : output;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  if (!inherit) {
    posix_spawn_file_actions_addopen(actions.get(), 1, out.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(actions.get(), 1, 2);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ) != 0) return -1;
  return pid;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const fs::path& logFile)
    : pid_(Spawn(argv, logFile.string(), false)) {}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0 || reaped_) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 200; ++i) {  // up to 2 s for a clean exit, then it is killed
    if (waitpid(pid_, &status, WNOHANG) == pid_) return;
    usleep(10'000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

int RunCommand(const std::vector<std::string>& argv, bool showOutput) {
  const pid_t pid = Spawn(argv, "", showOutput);
  if (pid <= 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Fd ListenLocal(int backlog, int* port) {
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return Fd();
  const int one = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return Fd();
  if (listen(fd.get(), backlog) != 0) return Fd();
  socklen_t len = sizeof addr;
  getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
  if (port != nullptr) *port = ntohs(addr.sin_port);
  return fd;
}

int FreePort() {
  int port = 0;
  ListenLocal(1, &port);  // closed again at once
  return port;
}

int ClosedPort() {
  const int port = FreePort();
  return port > 0 ? port : 1;
}

bool WaitForPort(int port, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
    usleep(10'000);
  }
  return false;
}

TestCertificates::TestCertificates(const fs::path& dir)
    : caFile(dir / "ca.crt"), certFile(dir / "server.crt"), keyFile(dir / "server.key") {
  const std::string caKey = (dir / "ca.key").string();
  const std::string csr = (dir / "server.csr").string();
  const std::string ext = (dir / "server.ext").string();
  if (!WriteFile(ext,
                 "subjectAltName=IP:127.0.0.1,DNS:quorvane.test\n"
                 "basicConstraints=critical,CA:FALSE\n"
                 "keyUsage=critical,digitalSignature\n"
                 "extendedKeyUsage=serverAuth\n")) {
    return;
  }
  const std::vector<std::string> ecKey = {"-newkey", "ec", "-pkeyopt",
                                          "ec_paramgen_curve:prime256v1", "-nodes"};
  std::vector<std::string> makeCa = {"openssl", "req", "-x509"};
  makeCa.insert(makeCa.end(), ecKey.begin(), ecKey.end());
  makeCa.insert(makeCa.end(), {"-keyout", caKey, "-out", caFile.string(), "-days", "2", "-subj",
                               "/CN=Quorvane Test CA", "-addext",
                               "basicConstraints=critical,CA:TRUE", "-addext",
                               "keyUsage=critical,keyCertSign,cRLSign"});
  std::vector<std::string> makeCsr = {"openssl", "req"};
  makeCsr.insert(makeCsr.end(), ecKey.begin(), ecKey.end());
  makeCsr.insert(makeCsr.end(),
                 {"-keyout", keyFile.string(), "-out", csr, "-subj", "/CN=127.0.0.1"});
  const std::vector<std::string> sign = {
      "openssl", "x509", "-req", "-in", csr, "-CA", caFile.string(), "-CAkey", caKey,
      "-CAcreateserial", "-out", certFile.string(), "-days", "2", "-extfile", ext};
  ok = RunCommand(makeCa) == 0 && RunCommand(makeCsr) == 0 && RunCommand(sign) == 0;
}

LocalNginx::LocalNginx() : certs_(dir_.path()), www_(dir_.path() / "www") {
  if (dir_.path().empty() || !certs_.ok) return;
  fs::create_directories(www_);
  const fs::path d = dir_.path();
  for (int attempt = 0; attempt < 5 && !ok_; ++attempt) {
    httpPort_ = FreePort();
    httpsPort_ = FreePort();
    if (httpPort_ == httpsPort_) continue;
    const std::string echo =
        "\"$request_method $request_uri host=$http_host conn=$connection "
        "reused=$ssl_session_reused\"";
    std::ostringstream conf;
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         << "error_log " << (d / "error.log").string() << " warn;\n"
         << "pid " << (d / "nginx.pid").string() << ";\n"
         << "events { worker_connections 1024; }\n"
         << "http {\n  access_log off;\n"
         << "  client_body_temp_path " << (d / "body").string() << ";\n"
         << "  proxy_temp_path " << (d / "proxy").string() << ";\n"
         << "  fastcgi_temp_path " << (d / "fastcgi").string() << ";\n"
         << "  uwsgi_temp_path " << (d / "uwsgi").string() << ";\n"
         << "  scgi_temp_path " << (d / "scgi").string() << ";\n"
         << "  types { text/html html; text/plain txt; }\n  default_type text/plain;\n"
         << "  gzip on;\n  gzip_min_length 1;\n  gzip_types text/plain;\n"
         << "  keepalive_requests 100000;\n  keepalive_timeout 60s;\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << httpPort_ << ";\n"
         << "    listen 127.0.0.1:" << httpsPort_ << " ssl;\n"
         << "    ssl_certificate " << certs_.certFile.string() << ";\n"
         << "    ssl_certificate_key " << certs_.keyFile.string() << ";\n"
         << "    ssl_session_cache shared:qv:1m;\n"
         << "    root " << www_.string() << ";\n"
         << "    location = /echo { gzip off; return 200 " << echo << "; }\n"
         << "    location = /once { gzip off; keepalive_requests 1; return 200 " << echo
         << "; }\n"
         << "    location = /tohttp { return 302 http://127.0.0.1:$arg_p/final; }\n"
         << "  }\n}\n";
    if (!WriteFile(d / "nginx.conf", conf.str())) return;
    process_.reset();
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"nginx", "-p", d.string(), "-c", (d / "nginx.conf").string(),
                                 "-e", (d / "error.log").string()},
        d / "stderr.log");
    ok_ = process_->started() && WaitForPort(httpPort_, 5000) && WaitForPort(httpsPort_, 5000) &&
          process_->Running();
  }
}

LocalNginx::~LocalNginx() { process_.reset(); }

std::string LocalNginx::ErrorLog() const {
  return ReadFile(dir_.path() / "error.log") + ReadFile(dir_.path() / "stderr.log");
}

std::string LocalNginx::HttpUrl(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(httpPort_) + path;
}

std::string LocalNginx::HttpsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(httpsPort_) + path;
}

ConnectionServer::ConnectionServer(Handler serve)
    : serve_(std::move(serve)), listener_(ListenLocal(64, &port_)) {
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ConnectionServer::~ConnectionServer() {
  stopping_ = true;
  acceptThread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::thread& t : workers_) t.join();
}

bool ConnectionServer::WaitReadable(int fd, const std::atomic<bool>& stopping, int ms) {
  for (int waited = 0; waited < ms && !stopping; waited += 20) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) return true;
  }
  return false;
}

void ConnectionServer::AcceptLoop() {
  while (!stopping_) {
    if (!WaitReadable(listener_.get(), stopping_, 50)) continue;
    const int fd = accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.emplace_back([this, fd] {
      Fd conn(fd);
      serve_(conn.get(), stopping_);
    });
  }
}

std::string ReadRequest(int fd, const std::atomic<bool>& stopping) {
  std::string data;
  char buf[65536];
  size_t headEnd = std::string::npos;
  size_t want = 0;
  while (true) {
    if (headEnd == std::string::npos) {
      headEnd = data.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        headEnd += 4;
        want = headEnd;
        std::string lower = data.substr(0, headEnd);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t cl = lower.find("\r\ncontent-length:");
        if (cl != std::string::npos) want += std::strtoul(lower.c_str() + cl + 17, nullptr, 10);
      }
    }
    if (headEnd != std::string::npos && data.size() >= want) return data;
    if (!ConnectionServer::WaitReadable(fd, stopping)) return {};
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return {};
    data.append(buf, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

RecordingServer::RecordingServer(std::string reply)
    : reply_(std::move(reply)), server_([this](int fd, const std::atomic<bool>& stopping) {
        const std::string request = ReadRequest(fd, stopping);
        if (request.empty()) return;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(request);
        }
        WriteAll(fd, reply_);
      }) {}

std::string RecordingServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port()) + path;
}

std::vector<std::string> RecordingServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

SilentServer::SilentServer()
    : server_([](int fd, const std::atomic<bool>& stopping) {
        char buf[4096];
        while (!stopping) {  // read whatever comes, answer nothing
          if (ConnectionServer::WaitReadable(fd, stopping, 50) && read(fd, buf, sizeof buf) == 0) {
            return;
          }
        }
      }) {}

TestProxy::TestProxy()
    : server_([this](int fd, const std::atomic<bool>& stopping) { Serve(fd, stopping); }) {}

std::vector<std::string> TestProxy::RequestLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void TestProxy::Serve(int fd, const std::atomic<bool>& stopping) {
  const std::string request = ReadRequest(fd, stopping);
  if (request.empty()) return;
  const std::string line = request.substr(0, request.find("\r\n"));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  if (!line.starts_with("CONNECT ")) {
    const std::string target = line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
    const std::string body = "proxied " + target;
    WriteAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                     "\r\nConnection: close\r\n\r\n" + body);
    return;
  }
  // CONNECT 127.0.0.1:port: only local targets are tunnelled.
  const std::string authority = line.substr(8, line.find(' ', 8) - 8);
  if (!authority.starts_with("127.0.0.1:")) {
    WriteAll(fd, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  Fd up(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(std::atoi(authority.c_str() + 10)));
  if (connect(up.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    WriteAll(fd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  WriteAll(fd, "HTTP/1.1 200 Connection established\r\n\r\n");
  char buf[65536];
  while (!stopping) {
    pollfd p[2] = {{fd, POLLIN, 0}, {up.get(), POLLIN, 0}};
    if (poll(p, 2, 50) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = read(p[i].fd, buf, sizeof buf);
      if (n <= 0 || !WriteAll(p[1 - i].fd, std::string_view(buf, static_cast<size_t>(n)))) return;
    }
  }
}

std::vector<std::string> HeaderLines(const std::string& head) {
  std::vector<std::string> lines;
  const size_t end = head.find("\r\n\r\n");
  size_t pos = head.find("\r\n");
  while (pos != std::string::npos && pos < end) {
    const size_t next = head.find("\r\n", pos + 2);
    lines.push_back(head.substr(pos + 2, next - pos - 2));
    pos = next;
  }
  return lines;
}

}  // namespace qvtest
