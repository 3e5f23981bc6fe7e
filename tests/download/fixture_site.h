// A small novel site on 127.0.0.1 for the download tests and the benchmark: pages registered
// by path, each answered as given (optionally gzip-packed, after a delay, or with empty bodies
// for its first requests), and every request counted.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace qvtest {

struct PageReply {
  std::string body;                         // bytes as sent (before packing)
  std::string contentType = "text/html";
  bool gzip = false;                        // packed, with "Content-Encoding: gzip"
  int emptyFirst = 0;                       // the first n requests get an empty body
  int delayMs = 0;                          // every answer waits this long first
};

class FixtureSite {
 public:
  // Listens on a free port of 127.0.0.1; `threads` answer requests at once. Without
  // keep-alive every answer closes its connection, so the site stops at once.
  explicit FixtureSite(int threads = 32, bool keepAlive = false);
  ~FixtureSite();
  FixtureSite(const FixtureSite&) = delete;
  FixtureSite& operator=(const FixtureSite&) = delete;

  // "http://127.0.0.1:PORT"
  std::string Base() const;
  void Page(const std::string& path, PageReply reply);
  int Requests(const std::string& path);
  int TotalRequests();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The gzip stream of the bytes.
std::string GzipBytes(const std::string& bytes);

}  // namespace qvtest
