// A small chapter site on 127.0.0.1 for the page-capture tests and benchmark: each path has
// its successive answers (the last one repeats), an answer may hang (its body never ends while
// the site runs), and every request is counted.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qvtest {

struct SiteAnswer {
  std::string body;  // bytes as sent
  std::string contentType = "text/html; charset=gbk";
  bool hang = false;  // headers and the body's start go out, the rest never
};

class CaptureSite {
 public:
  // Listens on a free port of 127.0.0.1. Every answer closes its connection, so the site
  // stops at once.
  CaptureSite();
  ~CaptureSite();
  CaptureSite(const CaptureSite&) = delete;
  CaptureSite& operator=(const CaptureSite&) = delete;

  // "http://127.0.0.1:PORT/"
  std::string Base() const;
  void Set(const std::string& path, std::vector<SiteAnswer> answers);
  int Requests(const std::string& path);
  int TotalRequests();
  // Hanging answers still held open.
  int OpenHangs();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qvtest
