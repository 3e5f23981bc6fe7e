#include "test_site.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "gzip.h"

namespace qvtest {
namespace {

std::string WithSlash(const std::string& path) {
  return path.empty() || path.starts_with("/") ? path : "/" + path;
}

bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

std::string SiteRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) return value;
  }
  return {};
}

struct TestSite::Impl {
  struct Script {
    std::vector<SiteAnswer> answers;
    size_t next = 0;
  };

  httplib::Server server;
  std::thread thread;
  int port = 0;

  std::mutex mu;
  std::condition_variable cv;
  std::map<std::string, Script> scripts;
  std::map<std::string, std::function<SiteAnswer(const SiteRequest&)>> handlers;
  SiteAnswer missing{.body = "", .contentType = "text/html", .status = 404};
  std::vector<SiteRequest> log;
  std::map<std::string, int> counts;
  bool gateOpen = false;
  bool ending = false;
  int held = 0;
  std::atomic<bool> stopping{false};
  std::atomic<int> openHangs{0};

  // The answer for this request: the next of its path's script, its handler's, or `missing`.
  SiteAnswer Pick(const SiteRequest& request, std::unique_lock<std::mutex>& lock) {
    auto it = scripts.find(request.path);
    if (it != scripts.end() && !it->second.answers.empty()) {
      Script& s = it->second;
      const size_t k = std::min(s.next, s.answers.size() - 1);
      ++s.next;
      return s.answers[k];
    }
    const std::function<SiteAnswer(const SiteRequest&)>* make = nullptr;
    size_t longest = 0;
    for (const auto& [prefix, fn] : handlers) {
      if (request.path.starts_with(prefix) && (make == nullptr || prefix.size() > longest)) {
        make = &fn;
        longest = prefix.size();
      }
    }
    if (make == nullptr) return missing;
    const auto fn = *make;
    lock.unlock();
    SiteAnswer answer = fn(request);
    lock.lock();
    return answer;
  }

  void Answer(const httplib::Request& req, httplib::Response& res) {
    SiteRequest request;
    request.method = req.method;
    request.path = req.path;
    request.target = req.target;
    for (const auto& [key, value] : req.headers) request.headers.emplace_back(key, value);
    request.at = std::chrono::steady_clock::now();

    std::unique_lock lock(mu);
    log.push_back(request);
    ++counts[request.path];
    SiteAnswer answer = Pick(request, lock);
    if (answer.silent || answer.held) {
      ++held;
      cv.notify_all();
      cv.wait(lock, [&] { return ending || (!answer.silent && gateOpen); });
      --held;
      if (answer.silent) {
        res.status = 503;
        return;
      }
    }
    lock.unlock();

    if (answer.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
    res.status = answer.status;
    for (const auto& [key, value] : answer.headers) res.set_header(key, value);
    std::string body = answer.body;
    if (answer.gzip) {
      res.set_header("Content-Encoding", "gzip");
      body = GzipBytes(body);
    }
    if (answer.hang) {
      openHangs++;
      res.set_chunked_content_provider(
          answer.contentType,
          [this, body = std::move(body), sent = false](size_t, httplib::DataSink& sink) mutable {
            if (!sent) {
              sent = true;
              sink.write(body.data(), body.size());
              return true;
            }
            if (stopping) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            // A space more of the page, which never ends, until the connection is gone.
            return sink.write(" ", 1);
          },
          [this](bool) { openHangs--; });
      return;
    }
    if (answer.cut) {
      // The full length is announced, half of it sent, then the connection closes.
      const size_t half = body.size() / 2;
      res.set_content_provider(
          body.size(), answer.contentType,
          [body = std::move(body), half](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset < half) sink.write(body.data() + offset, half - offset);
            return offset < half;
          });
      return;
    }
    if (answer.chunked) {
      res.set_chunked_content_provider(
          answer.contentType,
          [body = std::move(body), offset = size_t{0}](size_t, httplib::DataSink& sink) mutable {
            if (offset >= body.size()) {
              sink.done();
              return true;
            }
            // Three pieces or more, so that a reader must join them.
            const size_t piece = std::max<size_t>(1, body.size() / 3);
            const size_t n = std::min(piece, body.size() - offset);
            sink.write(body.data() + offset, n);
            offset += n;
            return true;
          });
      return;
    }
    res.set_content(body, answer.contentType);
  }
};

TestSite::TestSite() : TestSite(Options{}) {}

TestSite::TestSite(Options options) : impl_(std::make_unique<Impl>()) {
  Impl* impl = impl_.get();
  impl->server.set_tcp_nodelay(true);
  if (!options.keepAlive) impl->server.set_keep_alive_max_count(1);
  const size_t threads = static_cast<size_t>(std::max(1, options.threads));
  impl->server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  const auto answer = [impl](const httplib::Request& req, httplib::Response& res) {
    impl->Answer(req, res);
  };
  impl->server.Get(".*", answer);
  impl->server.Post(".*", answer);
  impl->port = impl->server.bind_to_any_port("127.0.0.1");
  impl->thread = std::thread([impl] { impl->server.listen_after_bind(); });
  // The socket listens from bind on; waiting for the loop makes stop() reliable at once.
  for (int i = 0; i < 2000 && !impl->server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TestSite::~TestSite() {
  {
    std::lock_guard lock(impl_->mu);
    impl_->ending = true;
  }
  impl_->cv.notify_all();
  impl_->stopping = true;
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

int TestSite::port() const { return impl_->port; }

std::string TestSite::Base() const { return Address("/"); }

std::string TestSite::Address(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + WithSlash(path);
}

void TestSite::Serve(const std::string& path, SiteAnswer answer) {
  Set(path, {std::move(answer)});
}

void TestSite::Set(const std::string& path, std::vector<SiteAnswer> answers) {
  std::lock_guard lock(impl_->mu);
  impl_->scripts[WithSlash(path)] = Impl::Script{std::move(answers), 0};
}

void TestSite::Handle(const std::string& prefix,
                      std::function<SiteAnswer(const SiteRequest&)> make) {
  std::lock_guard lock(impl_->mu);
  impl_->handlers[WithSlash(prefix)] = std::move(make);
}

void TestSite::SetMissing(SiteAnswer answer) {
  std::lock_guard lock(impl_->mu);
  impl_->missing = std::move(answer);
}

void TestSite::OpenGate() {
  {
    std::lock_guard lock(impl_->mu);
    impl_->gateOpen = true;
  }
  impl_->cv.notify_all();
}

void TestSite::CloseGate() {
  std::lock_guard lock(impl_->mu);
  impl_->gateOpen = false;
}

int TestSite::Held() {
  std::lock_guard lock(impl_->mu);
  return impl_->held;
}

bool TestSite::WaitHeld(int count, int ms) {
  std::unique_lock lock(impl_->mu);
  return impl_->cv.wait_for(lock, std::chrono::milliseconds(ms),
                            [&] { return impl_->held >= count; });
}

int TestSite::OpenHangs() { return impl_->openHangs; }

int TestSite::Requests(const std::string& path) {
  const std::string p = WithSlash(path);
  std::lock_guard lock(impl_->mu);
  const auto it = impl_->counts.find(p);
  return it == impl_->counts.end() ? 0 : it->second;
}

int TestSite::TotalRequests() {
  std::lock_guard lock(impl_->mu);
  return static_cast<int>(impl_->log.size());
}

std::vector<SiteRequest> TestSite::Log(const std::string& path) {
  const std::string p = WithSlash(path);
  std::lock_guard lock(impl_->mu);
  std::vector<SiteRequest> out;
  for (const SiteRequest& r : impl_->log) {
    if (r.path == p) out.push_back(r);
  }
  return out;
}

std::vector<SiteRequest> TestSite::Log() {
  std::lock_guard lock(impl_->mu);
  return impl_->log;
}

}  // namespace qvtest
