// The web site of the tests and benchmarks: an in-process HTTP server on 127.0.0.1 whose paths
// answer as each test scripts them. A path has a list of successive answers (the last one
// repeats) or a handler that makes the answer from the request; an answer can be packed, sent
// in chunks, delayed, held at a gate until the test opens it, left hanging, never given, or cut
// off with its connection. Every request is logged with its arrival time.
#pragma once

#include <chrono>
#include <concepts>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qvtest {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct SiteAnswer {
  std::string body{};                                 // bytes as sent (before packing)
  std::string contentType = "text/html; charset=gbk";
  bool hang = false;     // the head and the body go out, then spaces while the site runs
  int status = 200;
  HeaderList headers{};  // further header lines, in this order and spelling
  bool gzip = false;     // the body gzip-packed, with "Content-Encoding: gzip"
  bool chunked = false;  // chunked transfer, the body in several pieces
  int delayMs = 0;       // waits this long before answering
  bool held = false;     // waits until the gate opens (or the site stops)
  bool silent = false;   // never answered while the site runs
  bool cut = false;      // the head and half the body, then the connection is closed
};

// One request as the site received it.
struct SiteRequest {
  std::string method;
  std::string path;    // without the query
  std::string target;  // path and query as sent
  HeaderList headers;
  std::chrono::steady_clock::time_point at;
  // The value of the first header of that name (any case), or "".
  std::string Header(const std::string& name) const;
};

class TestSite {
 public:
  struct Options {
    int threads = 32;        // requests answered at once
    bool keepAlive = false;  // without it every answer closes its connection: the site stops at once
  };
  TestSite();
  explicit TestSite(Options options);
  // Opens the gate and ends hanging and silent answers, so the site stops at once.
  virtual ~TestSite();
  TestSite(const TestSite&) = delete;
  TestSite& operator=(const TestSite&) = delete;

  int port() const;
  // "http://127.0.0.1:PORT/"
  std::string Base() const;
  // "http://127.0.0.1:PORT" followed by path ("/" put in front of a path that lacks it).
  std::string Address(const std::string& path) const;

  // Paths are given with or without their leading "/". Setting a path starts its answer
  // script, but not its request count, anew.
  void Serve(const std::string& path, SiteAnswer answer);
  // The body alone, with the default content type.
  template <class Body>
    requires std::convertible_to<Body, std::string>
  void Serve(const std::string& path, Body&& body) {
    Serve(path, SiteAnswer{.body = std::string(std::forward<Body>(body))});
  }
  void Set(const std::string& path, std::vector<SiteAnswer> answers);
  // Every path that starts with `prefix` and has no answers of its own is answered by `make`
  // (the longest prefix wins).
  void Handle(const std::string& prefix, std::function<SiteAnswer(const SiteRequest&)> make);
  // The answer to paths nobody set: by default a 404 with an empty body.
  void SetMissing(SiteAnswer answer);

  // Held answers wait until OpenGate; CloseGate makes later ones wait again.
  void OpenGate();
  void CloseGate();
  // Requests waiting now at the gate or for a silent answer.
  int Held();
  // Waits until at least `count` requests are held; false after `ms`.
  bool WaitHeld(int count, int ms);
  // Hanging answers still sending.
  int OpenHangs();

  int Requests(const std::string& path);
  int TotalRequests();
  std::vector<SiteRequest> Log(const std::string& path);
  std::vector<SiteRequest> Log();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qvtest
