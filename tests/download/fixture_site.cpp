#include "fixture_site.h"

#include <zlib.h>

#include <chrono>
#include <thread>

#include <httplib.h>

namespace qvtest {

struct FixtureSite::Impl {
  httplib::Server server;
  std::thread thread;
  int port = 0;
  std::mutex mu;
  std::map<std::string, PageReply> pages;
  std::map<std::string, int> requests;
  int total = 0;
};

FixtureSite::FixtureSite(int threads, bool keepAlive) : impl_(std::make_unique<Impl>()) {
  Impl* impl = impl_.get();
  impl->server.set_tcp_nodelay(true);
  if (!keepAlive) impl->server.set_keep_alive_max_count(1);
  impl->server.new_task_queue = [threads] {
    return new httplib::ThreadPool(static_cast<size_t>(threads));
  };
  impl->server.Get(".*", [impl](const httplib::Request& req, httplib::Response& res) {
    PageReply reply;
    int count = 0;
    bool known = false;
    {
      std::lock_guard lock(impl->mu);
      count = ++impl->requests[req.path];
      ++impl->total;
      auto it = impl->pages.find(req.path);
      if (it != impl->pages.end()) {
        reply = it->second;
        known = true;
      }
    }
    if (!known) {
      res.status = 404;
      res.set_content("missing", "text/plain");
      return;
    }
    if (reply.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
    if (count <= reply.emptyFirst) {
      res.set_content("", reply.contentType);
      return;
    }
    if (reply.gzip) {
      res.set_header("Content-Encoding", "gzip");
      res.set_content(GzipBytes(reply.body), reply.contentType);
    } else {
      res.set_content(reply.body, reply.contentType);
    }
  });
  impl->port = impl->server.bind_to_any_port("127.0.0.1");
  impl->thread = std::thread([impl] { impl->server.listen_after_bind(); });
  for (int i = 0; i < 2000 && !impl->server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

FixtureSite::~FixtureSite() {
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

std::string FixtureSite::Base() const {
  return "http://127.0.0.1:" + std::to_string(impl_->port);
}

void FixtureSite::Page(const std::string& path, PageReply reply) {
  std::lock_guard lock(impl_->mu);
  impl_->pages[path] = std::move(reply);
}

int FixtureSite::Requests(const std::string& path) {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->requests.find(path);
  return it == impl_->requests.end() ? 0 : it->second;
}

int FixtureSite::TotalRequests() {
  std::lock_guard lock(impl_->mu);
  return impl_->total;
}

std::string GzipBytes(const std::string& bytes) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return {};
  }
  std::string out(deflateBound(&zs, bytes.size()) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  zs.avail_in = static_cast<uInt>(bytes.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

}  // namespace qvtest
