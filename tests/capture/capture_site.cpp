#include "capture_site.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace qvtest {

struct CaptureSite::Impl {
  httplib::Server server;
  std::thread thread;
  int port = 0;
  std::mutex mu;
  std::map<std::string, std::vector<SiteAnswer>> answers;
  std::map<std::string, int> requests;
  int total = 0;
  std::atomic<bool> stopping{false};
  std::atomic<int> open{0};
  std::atomic<bool> listenEnded{false};
};

CaptureSite::CaptureSite() : impl_(std::make_unique<Impl>()) {
  Impl* impl = impl_.get();
  impl->server.set_keep_alive_max_count(1);
  impl->server.set_tcp_nodelay(true);
  impl->server.Get(R"(/.*)", [impl](const httplib::Request& req, httplib::Response& res) {
    const std::string path = req.path.substr(1);  // registered without the leading "/"
    SiteAnswer answer;
    {
      std::lock_guard lock(impl->mu);
      const int n = impl->requests[path]++;
      ++impl->total;
      auto it = impl->answers.find(path);
      if (it == impl->answers.end() || it->second.empty()) {
        res.status = 404;
        return;
      }
      const auto& list = it->second;
      answer = list[std::min<size_t>(static_cast<size_t>(n), list.size() - 1)];
    }
    res.set_header("Cache-Control", "no-store");
    if (!answer.hang) {
      res.set_content(answer.body, answer.contentType.c_str());
      return;
    }
    impl->open++;
    res.set_chunked_content_provider(
        answer.contentType,
        [impl, body = answer.body, sent = false](size_t, httplib::DataSink& sink) mutable {
          if (!sent) {
            sent = true;
            sink.write(body.data(), body.size());
            return true;
          }
          if (impl->stopping) return false;
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          // A space more of the page, which never ends, until the connection is gone.
          return sink.write(" ", 1);
        },
        [impl](bool) { impl->open--; });
  });
  impl->port = impl->server.bind_to_any_port("127.0.0.1");
  impl->thread = std::thread([impl] {
    impl->server.listen_after_bind();
    impl->listenEnded = true;
  });
  // A stop() that comes before the server runs does nothing, and the listen that starts after
  // it never ends: the site is handed out only once it is listening.
  while (!impl->server.is_running() && !impl->listenEnded) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

CaptureSite::~CaptureSite() {
  impl_->stopping = true;
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

std::string CaptureSite::Base() const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + "/";
}

void CaptureSite::Set(const std::string& path, std::vector<SiteAnswer> answers) {
  std::lock_guard lock(impl_->mu);
  impl_->answers[path] = std::move(answers);
  impl_->requests[path] = 0;
}

int CaptureSite::Requests(const std::string& path) {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->requests.find(path);
  return it == impl_->requests.end() ? 0 : it->second;
}

int CaptureSite::TotalRequests() {
  std::lock_guard lock(impl_->mu);
  return impl_->total;
}

int CaptureSite::OpenHangs() { return impl_->open; }

}  // namespace qvtest
