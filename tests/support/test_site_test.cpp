// The shared test site itself, read through the program's HTTP layer: answer scripts, packing
// and chunks, cut-off answers, the gate, computed answers and the request log.
#include "test_site.h"

#include <gtest/gtest.h>

#include <thread>

#include "web/http_fetch.h"
#include "web/response_decoder.h"

namespace qvtest {
namespace {

// The body, and the status line and headers into `head`.
std::string Fetch(const std::string& address, std::string* head,
                  const std::string& requestLines = "") {
  qv::Text headers = requestLines;
  qv::FetchArgs args;
  args.responseHeaders = head;
  if (!requestLines.empty()) args.requestHeaders = &headers;
  return qv::HttpFetch(address, args);
}

TEST(TestSite, ScriptedAnswersComeInOrderAndTheLastRepeats) {
  TestSite site;
  site.Set("busy.html", {{.body = "wait", .status = 503, .headers = {{"Retry-After", "2"}}},
                         {.body = "wait", .status = 503},
                         {.body = "page"}});
  std::string head;
  std::vector<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    const std::string body = Fetch(site.Address("/busy.html"), &head);
    seen.push_back(head.substr(0, head.find("\r\n")) + " " + body);
    if (i == 0) {
      EXPECT_NE(head.find("Retry-After: 2\r\n"), std::string::npos) << head;
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"HTTP/1.1 503 Service Unavailable wait",
                                            "HTTP/1.1 503 Service Unavailable wait",
                                            "HTTP/1.1 200 OK page", "HTTP/1.1 200 OK page"}));
  // Every request logged, in order of arrival, under the path with or without its "/".
  const auto log = site.Log("busy.html");
  ASSERT_EQ(log.size(), 4u);
  for (size_t i = 1; i < log.size(); ++i) EXPECT_LE(log[i - 1].at, log[i].at);
  EXPECT_EQ(site.Requests("/busy.html"), 4);

  // Paths nobody set: 404, empty, counted.
  EXPECT_EQ(Fetch(site.Address("/none.html"), &head), "");
  EXPECT_TRUE(head.starts_with("HTTP/1.1 404")) << head;
  EXPECT_EQ(site.Requests("none.html"), 1);
  EXPECT_EQ(site.TotalRequests(), 5);
}

TEST(TestSite, PackedChunkedAndCutAnswers) {
  TestSite site;
  const std::string page = std::string(20'000, 'p') + "\xD6\xD0 end";
  site.Serve("/gz.html", {.body = page, .gzip = true, .chunked = true});
  std::string head;
  const std::string body = Fetch(site.Address("/gz.html"), &head);
  EXPECT_NE(head.find("Content-Encoding: gzip\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << head;
  ASSERT_GE(body.size(), 2u);
  EXPECT_EQ(body.substr(0, 2), "\x1F\x8B");
  std::string decoded = body;
  qv::ResponseDecoder::DecodeBody(decoded, head);
  EXPECT_EQ(decoded, page);

  site.Serve("/plain.html", {.body = page, .chunked = true});
  EXPECT_EQ(Fetch(site.Address("/plain.html"), &head), page);
  EXPECT_NE(head.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << head;

  // A cut answer never arrives whole.
  site.Serve("/cut.html", {.body = page, .cut = true});
  EXPECT_LT(Fetch(site.Address("/cut.html"), &head).size(), page.size());
  EXPECT_EQ(site.Requests("/cut.html"), 1);
}

TEST(TestSite, HeldAnswersWaitForTheGateAndComputedAnswersSeeTheRequest) {
  TestSite site;
  site.Serve("/held.html", {.body = "late", .held = true});
  std::string body;
  std::thread reader([&] {
    std::string head;
    body = Fetch(site.Address("/held.html"), &head);
  });
  ASSERT_TRUE(site.WaitHeld(1, 10'000));
  EXPECT_EQ(site.Held(), 1);
  EXPECT_EQ(body, "");
  site.OpenGate();
  reader.join();
  EXPECT_EQ(body, "late");
  EXPECT_EQ(site.Held(), 0);

  site.Handle("/echo/", [](const SiteRequest& r) {
    return SiteAnswer{.body = r.method + " " + r.target + " " + r.Header("x-book")};
  });
  std::string head;
  EXPECT_EQ(Fetch(site.Address("/echo/a.html?n=2"), &head, "X-Book: 7"), "GET /echo/a.html?n=2 7");
  EXPECT_EQ(site.Log("/echo/a.html").at(0).Header("X-BOOK"), "7");
}

}  // namespace
}  // namespace qvtest
