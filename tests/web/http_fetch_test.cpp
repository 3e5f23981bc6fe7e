#include "web/http_fetch.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "raw_servers.h"
#include "test_site.h"
#include "text/encoding.h"
#include "web/body_limit.h"
#include "web/response_decoder.h"

namespace qv {
namespace {

using qvtest::HeaderLines;
using qvtest::LocalNginx;
using qvtest::RecordingServer;
using qvtest::SiteAnswer;
using qvtest::SiteRequest;

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::string RequestLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

std::string RequestBody(const std::string& request) {
  return request.substr(request.find("\r\n\r\n") + 4);
}

TEST(AddressParts, PortPathAndValue) {
  struct Case {
    const char* address;
    int port;
    const char* path;
  } cases[] = {
      {"https://a.com/x", 443, "/x"},
      {"HTTPS://a.com/x", 443, "/x"},
      {"HtTpS://A.com", 443, "/"},
      {"http://a.com/x", 80, "/x"},
      {"a.com", 80, "/"},
      {"http://A.B.C:8080/Path/Index.HTML?Q=Yes&x=1", 8080, "/Path/Index.HTML?Q=Yes&x=1"},
      {"https://a.com:8443", 8443, "/"},
      {"http://a.com:x/", 0, "/"},
      {"http://WWW.Site.COM/Book/12/?p=SITE.com/", 80, "/Book/12/?p=SITE.com/"},
      {"http://a.com?x=1/y", 80, "/y"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PortOfAddress(c.address), c.port) << c.address;
    EXPECT_EQ(PathOfAddress(c.address), c.path) << c.address;
  }
  EXPECT_EQ(ValueAfterColon("User-Agent:  X Y  "), "X Y");
  EXPECT_EQ(ValueAfterColon("a: b: c"), "b: c");
  EXPECT_EQ(ValueAfterColon("no colon"), "");
  EXPECT_EQ(ValueAfterColon("x:"), "");
}

// The exact header lines of the request, as a raw recording server receives them.
TEST(HttpFetchWire, DefaultRequestCarriesOnlyTheProgramsLines) {
  RecordingServer server;
  const std::string address = server.Url("/Path/Chapter_01.HTML?Q=Up&b=2");
  Text headers;
  FetchArgs args;
  args.requestHeaders = &headers;
  EXPECT_EQ(HttpFetch(address, args), "ok");
  const std::string referer = "Referer: " + address;
  EXPECT_EQ(headers, "Accept: */*\r\n" + referer +
                         "\r\nAccept-Language: zh-cn"
                         "\r\nContent-Type: application/x-www-form-urlencoded");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(RequestLine(requests[0]), "GET /Path/Chapter_01.HTML?Q=Up&b=2 HTTP/1.1");
  EXPECT_EQ(Sorted(HeaderLines(requests[0])),
            Sorted({"Host: 127.0.0.1:" + std::to_string(server.port()),
                    std::string("User-Agent: ") + kAgent, "Accept: */*", referer,
                    "Accept-Language: zh-cn",
                    "Content-Type: application/x-www-form-urlencoded"}));
}

TEST(HttpFetchWire, MethodsBodiesAndCallerLines) {
  RecordingServer server;
  const std::string address = server.Url("/p");
  struct Case {
    const char* name;
    int method;
    Text callerHeaders;
    std::string bodyText, bodyBytesIn;
    bool passBytes;
    std::string wantLine, wantBody, wantBytesAfter;
    std::vector<std::string> wantLines, unwantedLines;
  } cases[] = {
      {"method 7", 7, "", "body", "", false, "GET /p HTTP/1.1", "", "", {}, {}},
      {"method -1", -1, "", "", "", false, "GET /p HTTP/1.1", "", "", {}, {}},
      {"head", 2, "", "", "", false, "HEAD /p HTTP/1.1", "", "", {}, {}},
      {"post text", 1, "", "a=1&b=2", "", true, "POST /p HTTP/1.1", "a=1&b=2", "a=1&b=2",
       {"Content-Length: 7", "Content-Type: application/x-www-form-urlencoded"}, {}},
      {"post bytes first", 1, "", "text", std::string("\x01\0\xFF", 3), true, "POST /p HTTP/1.1",
       std::string("\x01\0\xFF", 3), std::string("\x01\0\xFF", 3), {"Content-Length: 3"}, {}},
      {"lower-case accept", 0, "accept: text/html", "", "", false, "GET /p HTTP/1.1", "", "",
       {"accept: text/html", "Accept: */*"}, {}},
      {"lower-case agent", 0, "user-agent: X", "", "", false, "GET /p HTTP/1.1", "", "",
       {"user-agent: X"}, {std::string("User-Agent: ") + kAgent}},
      {"agent after other lines", 0, "X-A: 1\r\nUser-Agent: Reader 2", "", "", false,
       "GET /p HTTP/1.1", "", "", {"X-A: 1", "User-Agent: Reader 2"}, {}},
      {"own type and referer", 1, "Content-Type: text/plain\r\nReferer: http://r/", "q", "", false,
       "POST /p HTTP/1.1", "q", "",
       {"Content-Type: text/plain", "Referer: http://r/"},
       {"Content-Type: application/x-www-form-urlencoded", "Referer: " + address}},
      // A stray line break cannot end the header block early or glue lines together.
      {"stray breaks", 0, "X-A: 1\n\r\nX-B: 2\rX-C: 3\r\n\r\n", "", "", false, "GET /p HTTP/1.1",
       "", "", {"X-A: 1", "X-B: 2", "X-C: 3", "Accept: */*"}, {}},
  };
  for (const Case& c : cases) {
    Text headers = c.callerHeaders;
    std::string bytes = c.bodyBytesIn;
    FetchArgs args;
    args.method = c.method;
    args.bodyText = c.bodyText;
    args.requestHeaders = &headers;
    if (c.passBytes) args.bodyBytes = &bytes;
    const size_t before = server.Requests().size();
    EXPECT_EQ(HttpFetch(address, args), c.method == 2 ? "" : "ok") << c.name;
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), before + 1) << c.name;
    const std::string& req = requests.back();
    EXPECT_EQ(RequestLine(req), c.wantLine) << c.name;
    EXPECT_EQ(RequestBody(req), c.wantBody) << c.name;
    if (c.passBytes) {
      EXPECT_EQ(bytes, c.wantBytesAfter) << c.name;
    }
    const auto lines = HeaderLines(req);
    for (const std::string& want : c.wantLines) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << c.name << ": " << want;
    }
    for (const std::string& unwanted : c.unwantedLines) {
      EXPECT_EQ(std::find(lines.begin(), lines.end(), unwanted), lines.end())
          << c.name << ": " << unwanted;
    }
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                              return l.starts_with("User-Agent:") || l.starts_with("user-agent:");
                            }),
              1)
        << c.name;
    for (const std::string& l : lines) {
      EXPECT_FALSE(l.starts_with("Expect") || l.starts_with("Accept-Encoding") || l.empty())
          << c.name << ": " << l;
    }
    // The caller's variable holds the text that was sent, the defaults appended to it.
    EXPECT_TRUE(headers.starts_with(c.callerHeaders)) << c.name;
    EXPECT_NE(headers.find("Accept-Language: zh-cn"), std::string::npos) << c.name;
  }
}

TEST(HttpFetchWire, LargePostGoesOutWithoutExpect) {
  RecordingServer server;
  std::string bytes(2 << 20, 'x');
  FetchArgs args;
  args.method = 1;
  args.bodyBytes = &bytes;
  EXPECT_EQ(HttpFetch(server.Url("/up"), args), "ok");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(RequestBody(requests[0]).size(), bytes.size());
  for (const std::string& l : HeaderLines(requests[0])) EXPECT_FALSE(l.starts_with("Expect")) << l;
}

TEST(HttpFetchWire, HostIsLoweredPathKeptAndDefaultPortUsed) {
  RecordingServer server;
  // The named host is served from the local server: the entry only matches host and port 80.
  SetFetchConnectToForTesting({"quorvane.test:80:127.0.0.1:" + std::to_string(server.port())});
  const std::string body = HttpFetch("HTTP://Quorvane.TEST/Book/Ch%20One.Html?ID=AbC");
  // Bytes that a request line cannot carry raw are percent-encoded, the rest sent as written.
  const std::string body2 = HttpFetch("http://quorvane.test/a b/\xD6\xD0.html");
  SetFetchConnectToForTesting({});
  EXPECT_EQ(body, "ok");
  EXPECT_EQ(body2, "ok");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(RequestLine(requests[0]), "GET /Book/Ch%20One.Html?ID=AbC HTTP/1.1");
  const auto lines = HeaderLines(requests[0]);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Host: quorvane.test"), lines.end());
  EXPECT_EQ(RequestLine(requests[1]), "GET /a%20b/%D6%D0.html HTTP/1.1");
}

TEST(HttpFetchWire, CookieTextIsSentAsItsOwnLine) {
  RecordingServer server;
  Text cookies = "a=1; b=2";
  FetchArgs args;
  args.cookies = &cookies;
  HttpFetch(server.Url("/c"), args);
  Text empty;
  args.cookies = &empty;
  HttpFetch(server.Url("/c"), args);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const auto first = HeaderLines(requests[0]);
  EXPECT_NE(std::find(first.begin(), first.end(), "Cookie: a=1; b=2"), first.end());
  for (const std::string& l : HeaderLines(requests[1])) EXPECT_FALSE(l.starts_with("Cookie")) << l;
}

TEST(HttpFetchWire, AddressesThatCannotBeRequestedTouchNothing) {
  Text headers = "X: 1", cookies = "a = 1", returned = "r", response = "h";
  FetchArgs args;
  args.requestHeaders = &headers;
  args.cookies = &cookies;
  args.returnedCookies = &returned;
  args.responseHeaders = &response;
  for (const char* address : {"http://127.0.0.1:70000/", "http://127.0.0.1:-5/", "http:///x"}) {
    EXPECT_EQ(HttpFetch(address, args), "") << address;
    EXPECT_EQ(headers, "X: 1") << address;
    EXPECT_EQ(cookies, "a = 1") << address;
    EXPECT_EQ(returned, "r") << address;
    EXPECT_EQ(response, "h") << address;
  }
}

class HttpFetchResponses : public ::testing::Test {
 protected:
  void SetUp() override {
    web.Serve("/cookies", {.body = "cookies",
                           .contentType = "text/plain",
                           .headers = {{"set-cookie", "a=1; path=/"},
                                       {"SET-COOKIE", "b=2"},
                                       {"Set-Cookie", "c = 3 ; HttpOnly"}}});
    web.Serve("/plain", {.body = "plain", .contentType = "text/plain"});
    web.Serve("/missing", {.body = "not here", .contentType = "text/plain", .status = 404});
    web.Serve("/redirect", {.body = "moved", .contentType = "text/plain", .status = 302,
                            .headers = {{"Location", "/final"}}});
    web.Serve("/final", {.body = "final page", .contentType = "text/plain"});
    std::ofstream(secretFile) << "local file";
    web.Serve("/tofile", {.body = "moved", .contentType = "text/plain", .status = 302,
                          .headers = {{"Location", "file://" + secretFile.string()}}});
    SiteAnswer big{.body = "x", .contentType = "text/plain"};
    for (int i = 0; i < 40; ++i) big.headers.emplace_back("X-Filler-" + std::to_string(i), std::string(200, 'f'));
    big.headers.emplace_back("Set-Cookie", "late=1; path=/");
    big.headers.emplace_back("Content-Encoding", "gzip");
    web.Serve("/bigheaders", big);
    web.Serve("/large", {.body = std::string(50'000, 'L'), .contentType = "text/plain"});
    web.Handle("/store/set/", [](const SiteRequest& req) {
      const std::string name = req.path.substr(std::string("/store/set/").size());
      return SiteAnswer{.body = "set", .contentType = "text/plain",
                        .headers = {{"Set-Cookie", name + "=stored; path=/"}}};
    });
    web.Handle("/store/show", [](const SiteRequest& req) {
      return SiteAnswer{.body = "cookie=" + req.Header("Cookie"), .contentType = "text/plain"};
    });
  }
  qvtest::TempDir dir;
  std::filesystem::path secretFile = dir.path() / "secret.txt";
  qvtest::TestSite web;
};

TEST_F(HttpFetchResponses, SetCookieLinesInAnyCaseAreCollected) {
  Text response, returned;
  FetchArgs args;
  args.responseHeaders = &response;
  args.returnedCookies = &returned;
  EXPECT_EQ(HttpFetch(web.Address("/cookies"), args), "cookies");
  EXPECT_EQ(returned, "a=1; b=2; c = 3");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n")) << response;
  EXPECT_TRUE(response.ends_with("\r\n\r\n")) << response;
  EXPECT_NE(response.find("\r\nSet-Cookie: a=1; path=/\r\n"), std::string::npos) << response;
  EXPECT_NE(response.find("\r\nSet-Cookie: b=2\r\n"), std::string::npos) << response;
  EXPECT_EQ(response.find("set-cookie"), std::string::npos);

  // With a cookie text the new cookies are merged into it and lose their spaces.
  Text cookies = "c=old; z=9";
  args.cookies = &cookies;
  HttpFetch(web.Address("/cookies"), args);
  EXPECT_EQ(cookies, "a=1; b=2; c=3; z=9");
  EXPECT_EQ(returned, "a=1;b=2;c=3");

  args.cookies = nullptr;
  EXPECT_EQ(HttpFetch(web.Address("/plain"), args), "plain");
  EXPECT_EQ(returned, "");
}

TEST_F(HttpFetchResponses, ErrorStatusesReturnTheirBody) {
  Text response;
  FetchArgs args;
  args.responseHeaders = &response;
  EXPECT_EQ(HttpFetch(web.Address("/missing"), args), "not here");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 404")) << response;
}

TEST_F(HttpFetchResponses, RedirectsFollowedUnlessAskedNot) {
  Text response;
  FetchArgs args;
  args.responseHeaders = &response;
  EXPECT_EQ(HttpFetch(web.Address("/redirect"), args), "final page");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 200")) << response;
  EXPECT_EQ(response.find("302"), std::string::npos) << "only the final response: " << response;

  args.noRedirect = true;
  EXPECT_EQ(HttpFetch(web.Address("/redirect"), args), "moved");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 302")) << response;
  EXPECT_NE(response.find("Location: /final"), std::string::npos) << response;
}

TEST_F(HttpFetchResponses, RedirectToAFileIsRefused) {
  Text response;
  FetchArgs args;
  args.responseHeaders = &response;
  EXPECT_EQ(HttpFetch(web.Address("/tofile"), args), "");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 302")) << response;
  EXPECT_EQ(HttpFetch("file://" + secretFile.string()), "");
}

TEST_F(HttpFetchResponses, LongHeaderBlockKeepsItsLastLines) {
  Text response, returned;
  FetchArgs args;
  args.responseHeaders = &response;
  args.returnedCookies = &returned;
  HttpFetch(web.Address("/bigheaders"), args);
  EXPECT_GT(response.size(), 8000u);
  EXPECT_EQ(returned, "late=1");
  EXPECT_NE(response.find("Content-Encoding: gzip"), std::string::npos);
}

TEST_F(HttpFetchResponses, BodyIsCutAtTheLimit) {
  SetBodyLimitForTesting(20'000);
  const std::string body = HttpFetch(web.Address("/large"));
  SetBodyLimitForTesting(0);
  EXPECT_EQ(body, std::string(20'000, 'L'));
  EXPECT_EQ(HttpFetch(web.Address("/large")).size(), 50'000u);
}

TEST_F(HttpFetchResponses, CookieStoreServesCallsWithoutCookieText) {
  // Without a cookie text the process-wide store takes and sends cookies.
  HttpFetch(web.Address("/store/set/alpha"));
  EXPECT_NE(HttpFetch(web.Address("/store/show")).find("alpha=stored"), std::string::npos);

  // With one, even an empty one, the store neither sends nor takes cookies.
  Text cookies;
  FetchArgs args;
  args.cookies = &cookies;
  EXPECT_EQ(HttpFetch(web.Address("/store/show"), args), "cookie=");
  HttpFetch(web.Address("/store/set/beta"), args);
  EXPECT_EQ(cookies, "beta=stored");
  const std::string shown = HttpFetch(web.Address("/store/show"));
  EXPECT_NE(shown.find("alpha=stored"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("beta"), std::string::npos) << shown;
  cookies = "own=1";
  EXPECT_EQ(HttpFetch(web.Address("/store/show"), args), "cookie=own=1");
}

TEST_F(HttpFetchResponses, ManyThreadsAtOnce) {
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        Text returned;
        FetchArgs args;
        args.returnedCookies = &returned;
        const bool cookiesPage = (t + i) % 2 == 0;
        const std::string body = HttpFetch(web.Address(cookiesPage ? "/cookies" : "/plain"), args);
        if (body == (cookiesPage ? "cookies" : "plain") &&
            returned == (cookiesPage ? "a=1; b=2; c = 3" : "")) {
          ++good;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good.load(), 200);
}

TEST(HttpFetchTimeouts, SilentServerAndFullBacklogEndTheCall) {
  SetFetchTimeoutsForTesting(300, 1000);
  qvtest::SilentServer silent;
  Text response = "unchanged";
  FetchArgs args;
  args.responseHeaders = &response;
  EXPECT_EQ(HttpFetch("http://127.0.0.1:" + std::to_string(silent.port()) + "/", args), "");
  EXPECT_EQ(response, "");

  // A listener whose accept queue is full drops new connection attempts: the connect time-out.
  int port = 0;
  qvtest::Fd listener = qvtest::ListenLocal(0, &port);
  std::vector<qvtest::Fd> fillers;
  for (int i = 0; i < 4; ++i) {
    qvtest::Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers.push_back(std::move(fd));
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpFetch("http://127.0.0.1:" + std::to_string(port) + "/"), "");
  const auto took = std::chrono::steady_clock::now() - start;
  SetFetchTimeoutsForTesting(0, 0);
  // Not a timing check: the call ends at all only because the connect time-out fired.
  EXPECT_LT(took, std::chrono::seconds(20));
}

// Against a real nginx: TLS with a throw-away CA, gzip, chunked transfer, connection reuse.
class HttpFetchNginx : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    nginx = new LocalNginx;
    if (nginx->ok()) {
      std::ofstream(nginx->www() / "page.txt") << std::string(20'000, 'p') << "\xE4\xB8\xAD end";
      std::ofstream(nginx->www() / "small.txt") << "small";
    }
  }
  static void TearDownTestSuite() {
    delete nginx;
    nginx = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(nginx->ok()) << nginx->ErrorLog();
    SetFetchCaFileForTesting(nginx->caFile().string());
  }
  void TearDown() override {
    SetFetchCaFileForTesting("");
    SetFetchConnectToForTesting({});
  }
  static LocalNginx* nginx;
};
LocalNginx* HttpFetchNginx::nginx = nullptr;

TEST_F(HttpFetchNginx, SecureAddressInAnyCaseIsVerifiedTls) {
  std::string address = nginx->HttpsUrl("/echo?X=1");
  address.replace(0, 5, "HtTpS");
  const std::string body = HttpFetch(address);
  EXPECT_TRUE(body.starts_with("GET /echo?X=1 host=127.0.0.1:" +
                               std::to_string(nginx->httpsPort()) + " conn="))
      << body;
  // Port 443 by default: the named host on its default port is served from nginx.
  SetFetchConnectToForTesting(
      {"quorvane.test:443:127.0.0.1:" + std::to_string(nginx->httpsPort())});
  const std::string named = HttpFetch("HTTPS://Quorvane.Test/echo?Q=Up");
  EXPECT_TRUE(named.starts_with("GET /echo?Q=Up host=quorvane.test conn=")) << named;
}

TEST_F(HttpFetchNginx, UntrustedOrMismatchedCertificateGivesNothing) {
  ASSERT_FALSE(HttpFetch(nginx->HttpsUrl("/small.txt")).empty());
  // A certificate for another name: refused though the CA is trusted.
  SetFetchConnectToForTesting({"other.test:443:127.0.0.1:" + std::to_string(nginx->httpsPort())});
  Text response = "unchanged";
  FetchOutcome outcome;
  FetchArgs args;
  args.responseHeaders = &response;
  args.outcome = &outcome;
  EXPECT_EQ(HttpFetch("https://other.test/small.txt", args), "");
  EXPECT_EQ(response, "");
  EXPECT_EQ(outcome.failure, FetchFailure::kTlsRefused);
  EXPECT_EQ(FetchFailureReason(outcome), Utf8ToGbk("安全连接失败"));
  // The system store does not know the throw-away CA; reused connections and TLS sessions of
  // the trusted run must not carry the call through either.
  SetFetchCaFileForTesting("");
  EXPECT_EQ(HttpFetch(nginx->HttpsUrl("/small.txt")), "");
}

TEST_F(HttpFetchNginx, GzipChunkedBodyComesBackPackedAndDecodes) {
  const std::string page = std::string(20'000, 'p') + "\xE4\xB8\xAD end";
  for (const std::string& address : {nginx->HttpUrl("/page.txt"), nginx->HttpsUrl("/page.txt")}) {
    Text headers = "Accept-Encoding: gzip", response;
    FetchArgs args;
    args.requestHeaders = &headers;
    args.responseHeaders = &response;
    std::string body = HttpFetch(address, args);
    EXPECT_NE(response.find("Content-Encoding: gzip\r\n"), std::string::npos) << response;
    EXPECT_NE(response.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << response;
    ASSERT_GE(body.size(), 2u);
    EXPECT_EQ(body.substr(0, 2), "\x1F\x8B") << "no decoding by the HTTP layer";
    EXPECT_LT(body.size(), 1000u);
    const Text text = ResponseDecoder::DecodeBody(body, response);
    EXPECT_EQ(body, page);
    ASSERT_TRUE(ResponseDecoder::LooksLikeUtf8(body));
    EXPECT_EQ(ResponseDecoder::Utf8ToLocal(text), std::string(20'000, 'p') + "\xD6\xD0 end");
  }
  // Without Accept-Encoding nginx does not pack, and no such line goes out on its own.
  Text response;
  FetchArgs args;
  args.responseHeaders = &response;
  EXPECT_EQ(HttpFetch(nginx->HttpUrl("/page.txt"), args), page);
  EXPECT_EQ(response.find("Content-Encoding"), std::string::npos);
}

TEST_F(HttpFetchNginx, RedirectsBetweenSchemes) {
  qvtest::TestSite web;
  const std::string target = nginx->HttpsUrl("/small.txt");
  web.Serve("/tohttps", {.status = 302, .headers = {{"Location", target}}});
  web.Serve("/final", {.body = "plain final", .contentType = "text/plain"});
  EXPECT_EQ(HttpFetch(web.Address("/tohttps")), "small");  // http to https: followed
  // https to http: not followed, as the secure request must not fall back to plain text.
  Text response;
  FetchArgs args;
  args.responseHeaders = &response;
  EXPECT_EQ(HttpFetch(nginx->HttpsUrl("/tohttp?p=" + std::to_string(web.port())), args), "");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 302")) << response;
  EXPECT_EQ(HttpFetch(web.Address("/final")), "plain final");
}

TEST_F(HttpFetchNginx, ProxyCarriesPlainAndSecureRequests) {
  qvtest::TestProxy proxy;
  FetchArgs args;
  args.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  const std::string plain = nginx->HttpUrl("/Small.txt?A=1");
  EXPECT_EQ(HttpFetch(plain, args), "proxied " + plain);
  const std::string secure = HttpFetch(nginx->HttpsUrl("/echo"), args);
  EXPECT_TRUE(secure.starts_with("GET /echo host=127.0.0.1:")) << secure;
  const auto lines = proxy.RequestLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "GET " + plain + " HTTP/1.1");
  EXPECT_EQ(lines[1], "CONNECT 127.0.0.1:" + std::to_string(nginx->httpsPort()) + " HTTP/1.1");
}

// "conn=<n> reused=<r|.>" of an /echo or /once answer.
std::string ConnectionOf(const std::string& echo) { return echo.substr(echo.find("conn=")); }

TEST_F(HttpFetchNginx, ConnectionsAndTlsSessionsAreReused) {
  const std::string a = HttpFetch(nginx->HttpsUrl("/echo"));
  const std::string b = HttpFetch(nginx->HttpsUrl("/echo"));
  ASSERT_NE(a.find("conn="), std::string::npos) << a;
  EXPECT_EQ(ConnectionOf(a).substr(0, ConnectionOf(a).find(' ')),
            ConnectionOf(b).substr(0, ConnectionOf(b).find(' ')))
      << a << " / " << b;
  // A connection the server closes is replaced by a new one that resumes the TLS session.
  HttpFetch(nginx->HttpsUrl("/once"));
  const std::string c = HttpFetch(nginx->HttpsUrl("/once"));
  EXPECT_NE(ConnectionOf(c), ConnectionOf(b));
  EXPECT_TRUE(c.ends_with("reused=r")) << c;
  // Plain connections are reused too.
  const std::string p = HttpFetch(nginx->HttpUrl("/echo"));
  const std::string q = HttpFetch(nginx->HttpUrl("/echo"));
  EXPECT_EQ(ConnectionOf(p), ConnectionOf(q));
}

TEST_F(HttpFetchNginx, ManyThreadsShareAFewConnections) {
  constexpr int kThreads = 10, kEach = 20;
  std::atomic<int> good{0};
  std::mutex mutex;
  std::set<std::string> connections;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const bool secure = (t + i) % 2 == 1;
        const std::string echo = HttpFetch(secure ? nginx->HttpsUrl("/echo") : nginx->HttpUrl("/echo"));
        if (!echo.starts_with("GET /echo host=127.0.0.1:")) continue;
        ++good;
        const std::string conn = ConnectionOf(echo);
        std::lock_guard<std::mutex> lock(mutex);
        connections.insert(conn.substr(0, conn.find(' ')));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good.load(), kThreads * kEach);
  // At most one connection per thread and scheme is open at a time; idle ones are kept for
  // the next call instead of being closed and opened again.
  EXPECT_LE(connections.size(), static_cast<size_t>(3 * kThreads)) << connections.size();
}

TEST(HttpFetchAbort, AbortEndsATransferThatWouldWaitForItsTimeOut) {
  qvtest::SilentServer silent;
  std::thread closer([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    AbortAllFetches();
  });
  const auto start = std::chrono::steady_clock::now();
  // With the default 60 s no-progress time-out only the abort can end this call early.
  EXPECT_EQ(HttpFetch("http://127.0.0.1:" + std::to_string(silent.port()) + "/"), "");
  const auto took = std::chrono::steady_clock::now() - start;
  closer.join();
  // Later calls end at once too, until fetches are resumed.
  EXPECT_EQ(HttpFetch("http://127.0.0.1:" + std::to_string(silent.port()) + "/"), "");
  ResumeFetchesForTesting();
  EXPECT_LT(took, std::chrono::seconds(20));
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// How each kind of exchange is reported beside its body: the final status after redirects, and
// the kind of a transfer that did not complete.
TEST(HttpFetchOutcome, StatusAndKindOfEachEnding) {
  qvtest::TestSite web;
  web.Serve("/ok", SiteAnswer{.body = "page"});
  web.Serve("/gone", SiteAnswer{.body = "<h1>404 Not Found</h1>", .status = 404});
  web.Serve("/busy", SiteAnswer{.body = "busy", .status = 503});
  web.Serve("/moved", SiteAnswer{.status = 302, .headers = {{"Location", "/gone"}}});
  web.Serve("/slow", SiteAnswer{.body = "late", .delayMs = 3000});
  web.Serve("/big", SiteAnswer{.body = std::string(5000, 'x')});
  const std::string closed = "http://127.0.0.1:" + std::to_string(qvtest::ClosedPort()) + "/x";
  struct Case {
    std::string address;
    size_t maxBody;
    std::string body;
    long status;
    FetchFailure failure;
    std::string reason;  // UTF-8
  };
  const std::vector<Case> cases = {
      {web.Address("/ok"), 0, "page", 200, FetchFailure::kNone, ""},
      {web.Address("/gone"), 0, "<h1>404 Not Found</h1>", 404, FetchFailure::kNone, "HTTP 404"},
      {web.Address("/busy"), 0, "busy", 503, FetchFailure::kNone, "HTTP 503"},
      {web.Address("/moved"), 0, "<h1>404 Not Found</h1>", 404, FetchFailure::kNone, "HTTP 404"},
      {web.Address("/slow"), 0, "", 0, FetchFailure::kTimedOut, "连接超时"},
      {web.Address("/big"), 100, std::string(100, 'x'), 200, FetchFailure::kTooLarge, "页面过大"},
      {closed, 0, "", 0, FetchFailure::kCannotConnect, "无法连接"},
      {"http://127.0.0.1:70000/x", 0, "", 0, FetchFailure::kBadAddress, "地址无效"},
  };
  SetFetchTotalTimeoutForTesting(500);
  for (const Case& c : cases) {
    FetchOutcome outcome{.status = -1, .failure = FetchFailure::kAborted};
    FetchArgs args;
    args.outcome = &outcome;
    args.maxBodyBytes = c.maxBody;
    EXPECT_EQ(HttpFetch(c.address, args), c.body) << c.address;
    EXPECT_EQ(outcome.status, c.status) << c.address;
    EXPECT_EQ(outcome.failure, c.failure) << c.address;
    EXPECT_EQ(outcome.Succeeded(), c.reason.empty()) << c.address;
    EXPECT_EQ(FetchFailureReason(outcome), Utf8ToGbk(c.reason)) << c.address;
  }
  SetFetchTotalTimeoutForTesting(0);
  // A caller that asks for nothing gets the body as before.
  EXPECT_EQ(HttpFetch(web.Address("/busy")), "busy");
}

}  // namespace
}  // namespace qv
