// A local web site for the chapter-list tests and benchmark: an in-process HTTP server on
// 127.0.0.1 that serves registered pages, optionally gzip-encoded, and a page that answers only
// when the test releases it.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace qv::testing {

// The gzip stream of `bytes` (zlib, gzip framing).
std::string GzipBytes(const std::string& bytes);

// A port on 127.0.0.1 on which nothing listens (it was free a moment ago).
int ClosedPort();

class FixtureSite {
 public:
  FixtureSite();
  ~FixtureSite();
  FixtureSite(const FixtureSite&) = delete;
  FixtureSite& operator=(const FixtureSite&) = delete;

  // Serves `body` at `path` as it is; with gzip, gzip-encoded and marked with the header line
  // given (for instance "content-encoding: GZIP").
  void Serve(const std::string& path, const std::string& body);
  void ServeGzip(const std::string& path, const std::string& body,
                 const std::string& headerName, const std::string& headerValue);
  // `path` answers `body` only after Release (or when the site stops).
  void ServeHeld(const std::string& path, const std::string& body);
  // Waits until a request for a held page has arrived (false after `ms`).
  bool WaitHeldRequest(int ms);
  void Release();
  // Requests received so far.
  int RequestCount();

  // "http://127.0.0.1:<port>" followed by path.
  std::string Address(const std::string& path) const;

 private:
  struct Page {
    std::string body;
    std::string headerName, headerValue;
    bool held = false;
  };
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mu_;
  std::condition_variable cv_;
  std::map<std::string, Page> pages_;
  bool released_ = false;
  bool stopping_ = false;
  int heldRequests_ = 0;
  int requests_ = 0;
};

}  // namespace qv::testing
