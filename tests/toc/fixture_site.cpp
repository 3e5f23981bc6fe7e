#include "fixture_site.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <httplib.h>

namespace qv::testing {

std::string GzipBytes(const std::string& bytes) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return {};
  }
  std::string out(deflateBound(&z, bytes.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(rc == Z_STREAM_END ? z.total_out : 0);
  deflateEnd(&z);
  return out;
}

int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof(a);
  int port = 1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(fd);  // bound but never listening: connections are refused
  return port;
}

FixtureSite::FixtureSite() : server_(std::make_unique<httplib::Server>()) {
  server_->Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
    std::unique_lock lock(mu_);
    ++requests_;
    auto it = pages_.find(req.path);
    if (it == pages_.end()) {
      res.status = 404;
      return;
    }
    Page page = it->second;
    if (page.held) {
      ++heldRequests_;
      cv_.notify_all();
      cv_.wait(lock, [this] { return released_ || stopping_; });
    }
    if (!page.headerName.empty()) res.set_header(page.headerName, page.headerValue);
    res.set_content(page.body, "text/html");
  });
  // One request per connection: a kept-alive connection would hold the server open at stop.
  server_->set_keep_alive_max_count(1);
  server_->set_tcp_nodelay(true);
  port_ = server_->bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // The socket listens from bind on: early connections wait in its backlog.
}

FixtureSite::~FixtureSite() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

void FixtureSite::Serve(const std::string& path, const std::string& body) {
  std::lock_guard lock(mu_);
  pages_[path] = Page{body, {}, {}, false};
}

void FixtureSite::ServeGzip(const std::string& path, const std::string& body,
                            const std::string& headerName, const std::string& headerValue) {
  std::lock_guard lock(mu_);
  pages_[path] = Page{GzipBytes(body), headerName, headerValue, false};
}

void FixtureSite::ServeHeld(const std::string& path, const std::string& body) {
  std::lock_guard lock(mu_);
  pages_[path] = Page{body, {}, {}, true};
  released_ = false;
}

bool FixtureSite::WaitHeldRequest(int ms) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return heldRequests_ > 0; });
}

void FixtureSite::Release() {
  {
    std::lock_guard lock(mu_);
    released_ = true;
  }
  cv_.notify_all();
}

int FixtureSite::RequestCount() {
  std::lock_guard lock(mu_);
  return requests_;
}

std::string FixtureSite::Address(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace qv::testing
